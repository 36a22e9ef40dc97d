// What the system reports available (meminfo, cgroup), the resident size,
// and the estimate of what a level needs.
#include "search/memory.hpp"

#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <sstream>
#include <string>

#include "formula/expression.hpp"
#include "numeric/complex.hpp"

namespace tov {

namespace {

std::optional<std::uint64_t> read_number(const char* path) {
  std::ifstream in(path);
  std::string text;
  if (!(in >> text) || text == "max") return std::nullopt;
  try {
    return std::stoull(text);
  } catch (...) {
    return std::nullopt;
  }
}

// Saturating arithmetic for the estimates: a huge beam must make the
// estimate huge, not wrap around to a small number.
std::uint64_t saturating_mul(std::uint64_t a, std::uint64_t b) {
  std::uint64_t r;
  return __builtin_mul_overflow(a, b, &r) ? UINT64_MAX : r;
}
std::uint64_t saturating_add(std::uint64_t a, std::uint64_t b) {
  std::uint64_t r;
  return __builtin_add_overflow(a, b, &r) ? UINT64_MAX : r;
}

}  // namespace

std::optional<std::uint64_t> available_memory() {
  std::optional<std::uint64_t> available;
  std::ifstream meminfo("/proc/meminfo");
  std::string key;
  std::uint64_t kib = 0;
  std::string unit;
  while (meminfo >> key >> kib) {
    std::getline(meminfo, unit);
    if (key == "MemAvailable:") {
      available = kib * 1024;
      break;
    }
  }
  const auto limit = read_number("/sys/fs/cgroup/memory.max");
  if (limit) {
    const std::uint64_t used = read_number("/sys/fs/cgroup/memory.current").value_or(0);
    const std::uint64_t room = *limit > used ? *limit - used : 0;
    available = available ? std::min(*available, room) : room;
  }
  return available;
}

std::uint64_t resident_memory() {
  std::ifstream statm("/proc/self/statm");
  std::uint64_t size = 0;
  std::uint64_t resident = 0;
  if (!(statm >> size >> resident)) return 0;
  return resident * static_cast<std::uint64_t>(sysconf(_SC_PAGESIZE));
}

std::uint64_t generated_count(std::size_t level, std::span<const std::uint64_t> level_sizes,
                              std::uint64_t unary_operators, std::uint64_t binary_operators) {
  std::uint64_t count = saturating_mul(unary_operators, level_sizes[level - 1]);
  for (std::size_t k = 1; k + 2 <= level; ++k)
    count = saturating_add(
        count, saturating_mul(binary_operators,
                              saturating_mul(level_sizes[k], level_sizes[level - 1 - k])));
  return count;
}

std::uint64_t level_memory(std::size_t level, std::uint64_t generated, std::uint64_t beam_width,
                           std::uint64_t samples, std::uint64_t workers) {
  const std::uint64_t retained = std::min<std::uint64_t>(generated, beam_width);
  const std::uint64_t column = saturating_mul(samples, sizeof(Complex) + 1);
  // Values at the samples, plus one shifted column per parameter (at most
  // one per token), the tokens and the formula text.
  const std::uint64_t per_retained =
      saturating_add(saturating_mul(column, 1 + level), level * (sizeof(Token) + 16) + 256);
  // A refiner holds four columns per node of the candidate.
  const std::uint64_t per_worker = saturating_mul(column, 4 * level + 1);
  return saturating_add(saturating_add(saturating_mul(generated, kBytesPerCandidate),
                                       saturating_mul(retained, per_retained)),
                        saturating_mul(workers, per_worker));
}

}  // namespace tov
