// A search's staircase as text with every bit of its numbers, for tests
// that compare two searches.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include "result/search_error.hpp"
#include "result/search_result.hpp"

namespace tov {

inline std::string describe(const Outcome<std::vector<SearchResult>>& outcome) {
  if (!outcome) return "error: " + error_message(outcome.error());
  std::string text;
  for (const auto& r : outcome.value()) {
    char bits[64];
    std::snprintf(bits, sizeof bits, " %a", r.error());
    text += r.formula() + bits;
    for (const double v : r.parameters()) {
      std::snprintf(bits, sizeof bits, " %a", v);
      text += bits;
    }
    text += "\n";
  }
  return text;
}

}  // namespace tov
