// The end of every search: formulas with their errors, refitted once more,
// made into the staircase a search answers with (the most complex and most
// accurate formula first, each simpler one less accurate). The final
// selection of the levels, the sums and products and the results of a
// reduced search in the caller's variables all end here.
#pragma once

#include <cstddef>
#include <memory>
#include <optional>
#include <span>
#include <vector>

#include "fit/scoring.hpp"
#include "formula/expression.hpp"
#include "ops/registry.hpp"
#include "result/dimensional_record.hpp"
#include "result/search_result.hpp"

namespace tov {

// A formula and its error.
struct FrontEntry {
  double error;
  Expression expression;
};

// Iterations of the refinement that every final selection runs.
inline constexpr std::size_t kFinalIterations = 30;

// `x` on `samples` under `objective`: its constants refined by
// kFinalIterations steps when it has any and `refine` is set (the refined
// objective replaces `known_error` unconditionally); otherwise `known_error`
// when given, else its raw error. A NaN error becomes +infinity.
FrontEntry refit(const Expression& x, Samples samples, const Objective& objective,
                 OperatorList operators, bool refine, std::optional<double> known_error = {});

// The staircase of `entries`: ordered by size, of equal sizes the more
// accurate first (ties in their order), the entries whose error is strictly
// below that of every simpler one, most complex first. With `tolerance`, no
// entry after the first within it. `records`, when not empty, holds the
// dimensional record of each entry.
std::vector<SearchResult> staircase(
    std::vector<FrontEntry> entries, const std::shared_ptr<const OperatorRegistry>& registry,
    std::optional<double> tolerance = {},
    std::vector<std::shared_ptr<const DimensionalRecord>> records = {});

}  // namespace tov
