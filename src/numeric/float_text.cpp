// Python's repr of a double, from the shortest round-trip digits.
#include "numeric/float_text.hpp"

#include <charconv>
#include <cmath>
#include <cstdlib>
#include <string_view>

namespace tov {

std::string float_text(double value) {
  if (std::isnan(value)) return "nan";
  if (std::isinf(value)) return value > 0 ? "inf" : "-inf";
  // Shortest scientific form: d[.ddd]e±XX.
  char buffer[32];
  const char* end =
      std::to_chars(buffer, buffer + sizeof buffer, std::fabs(value), std::chars_format::scientific)
          .ptr;
  const std::string_view text(buffer, static_cast<std::size_t>(end - buffer));
  const std::size_t e = text.find('e');
  std::string digits(text.substr(0, e));
  if (digits.size() > 1) digits.erase(1, 1);  // the decimal point
  const int exponent = std::atoi(std::string(text.substr(e + 1)).c_str());
  if (value == 0.0) digits = "0";
  const int point = value == 0.0 ? 1 : exponent + 1;  // digits before the decimal point
  std::string out = std::signbit(value) ? "-" : "";
  if (point > -4 && point <= 16) {
    if (point <= 0) {
      out += "0." + std::string(static_cast<std::size_t>(-point), '0') + digits;
    } else if (static_cast<std::size_t>(point) >= digits.size()) {
      out += digits + std::string(static_cast<std::size_t>(point) - digits.size(), '0') + ".0";
    } else {
      out += digits.substr(0, static_cast<std::size_t>(point)) + "." +
             digits.substr(static_cast<std::size_t>(point));
    }
    return out;
  }
  out += digits.substr(0, 1);
  if (digits.size() > 1) out += "." + digits.substr(1);
  const int magnitude = std::abs(exponent);
  out += exponent < 0 ? "e-" : "e+";
  if (magnitude < 10) out += "0";
  out += std::to_string(magnitude);
  return out;
}

}  // namespace tov
