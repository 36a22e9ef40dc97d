// What the system reports available (meminfo, cgroup) and the resident size.
#include "engine/memory.hpp"

#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <sstream>
#include <string>

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

}  // namespace tov
