// Decimal text of an unsigned integer, as every message and report writes
// numbers: no sign, no grouping, no leading zeros.
#pragma once

#include <charconv>
#include <cstdint>
#include <string>

namespace tov {

inline std::string decimal(std::uint64_t value) {
  char buffer[24];
  return std::string(buffer, std::to_chars(buffer, buffer + sizeof buffer, value).ptr);
}

}  // namespace tov
