// Console output of a search: the start message, the progress line and the
// level reports. Every line is written whole with one stdio call, so lines of
// different threads never interleave.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <string>

namespace tov {

// Compact duration: whole units of s, ms, µs or ns, then the nonzero
// remainder in nanoseconds with trailing zeros removed ("1.5s", "850ns").
std::string format_duration(std::chrono::nanoseconds duration);

// The progress line of one level: at most one line per whole percent,
// printed by whichever worker reaches that percent first. Silent when `out`
// is null.
class LevelProgress {
 public:
  LevelProgress(std::FILE* out, std::size_t level, std::uint64_t count);
  // A progress line whose count is set when evaluation begins.
  LevelProgress(std::FILE* out, std::size_t level) : LevelProgress(out, level, 0) {}

  // Evaluation of `count` candidates starts now.
  void begin(std::uint64_t count);
  // Counts one candidate as taken; may print the progress line.
  void step();
  // True once a progress line has been printed.
  bool started() const { return last_percent_.load(std::memory_order_relaxed) > 0; }

 private:
  std::FILE* out_;
  std::size_t level_;
  std::uint64_t count_;
  std::atomic<std::uint64_t> taken_{0};
  std::atomic<std::uint64_t> last_percent_{0};
  std::chrono::steady_clock::time_point start_;
};

// Writes `text` in one call and flushes; a failed flush is ignored. A null
// `out` writes nothing.
void write_line(std::FILE* out, const std::string& text);

}  // namespace tov
