// Snapping: a result's fitted constants replaced by exact constants
// (core/exact_constant.hpp) where the data do not tell them apart.
#pragma once

#include <optional>

#include "fit/search_data.hpp"
#include "result/search_result.hpp"

namespace tov {

// A constant is tried against the members of the family within this
// fraction of its value (and 0).
inline constexpr double kSnapWindow = 0.01;

// The fitted constants of `result`, one at a time in formula order, each
// replaced by the first member of closed_forms_near(value, kSnapWindow) whose
// substitution keeps the objective on `data` at most `tolerance` above that
// of `result` there: first with the other constants as they are, then, when
// that fails, with them refitted. After each substitution the constants
// still free are refitted (up to 30 steps, to the precision of the data); a
// constant that no member fits is left as it is. The objective is the mean squared error of the
// real part, weighted when `data` has weights, without a penalty; the default tolerance is the
// rounding floor of the targets, so an exact law stays exact. The returned result has that
// objective as its error. None when the objective of `result` on `data` is not finite.
std::optional<SearchResult> snap_constants(const SearchResult& result, const SearchData& data,
                                           std::optional<double> tolerance = std::nullopt);

}  // namespace tov
