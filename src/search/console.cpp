// Console output: the compact duration form, the progress line and whole-line writes.
#include "search/console.hpp"

#include <charconv>
#include <string_view>

#include "numeric/decimal.hpp"

namespace tov {

namespace {

// Fixed notation with one digit after the point.
std::string fixed1(double value) {
  char buffer[400];
  const auto result =
      std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed, 1);
  return std::string(buffer, result.ptr);
}

}  // namespace

std::string format_duration(std::chrono::nanoseconds duration) {
  const std::uint64_t ns = duration.count() < 0 ? 0 : static_cast<std::uint64_t>(duration.count());
  struct Unit {
    std::uint64_t size;
    std::string_view suffix;
    int digits;
  };
  static constexpr Unit kUnits[] = {
      {1'000'000'000, "s", 9}, {1'000'000, "ms", 6}, {1'000, "\u00b5s", 3}, {1, "ns", 0}};
  for (const Unit& unit : kUnits) {
    if (ns < unit.size && unit.size != 1) continue;
    std::string text = decimal(ns / unit.size);
    const std::uint64_t remainder = ns % unit.size;
    if (remainder != 0) {
      std::string digits = decimal(remainder);
      digits.insert(0, static_cast<std::size_t>(unit.digits) - digits.size(), '0');
      while (digits.back() == '0') digits.pop_back();
      text += '.';
      text += digits;
    }
    text += unit.suffix;
    return text;
  }
  return "0ns";
}

void write_line(std::FILE* out, const std::string& text) {
  if (out == nullptr) return;
  std::fwrite(text.data(), 1, text.size(), out);
  std::fflush(out);
}

LevelProgress::LevelProgress(std::FILE* out, std::size_t level, std::uint64_t count)
    : out_(out), level_(level), count_(count), start_(std::chrono::steady_clock::now()) {}

void LevelProgress::begin(std::uint64_t count) {
  count_ = count;
  start_ = std::chrono::steady_clock::now();
}

void LevelProgress::step() {
  if (count_ == 0 || out_ == nullptr) return;
  const std::uint64_t taken = taken_.fetch_add(1, std::memory_order_relaxed) + 1;
  const std::uint64_t percent = taken * 100 / count_;
  std::uint64_t last = last_percent_.load(std::memory_order_relaxed);
  for (;;) {
    if (!(last < 100 && last < percent)) return;
    if (last_percent_.compare_exchange_weak(last, percent, std::memory_order_relaxed)) break;
  }

  const auto now = std::chrono::steady_clock::now();
  double elapsed = 0.0;
  if (now > start_) {
    const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(now - start_).count();
    elapsed =
        static_cast<double>(ns / 1'000'000'000) + static_cast<double>(ns % 1'000'000'000) / 1e9;
  }
  const double remaining = elapsed * 100.0 / static_cast<double>(percent) - elapsed;

  std::string bar;
  const std::uint64_t filled = percent / 10;
  for (std::uint64_t cell = 0; cell < 10; ++cell) bar += cell < filled ? "\u2588" : "\u2591";

  std::string line = "\r  [TOV] L" + decimal(level_) + " Progress: [" + bar + "] " +
                     decimal(percent) + "% (" + decimal(taken) + "/" + decimal(count_) + ") | " +
                     fixed1(elapsed) + "s (Est: " + fixed1(remaining) + "s)   ";
  write_line(out_, line);
}

}  // namespace tov
