// The final refit and the staircase.
#include "fit/staircase.hpp"

#include <algorithm>
#include <cmath>
#include <limits>
#include <numeric>
#include <utility>

#include "fit/optimizer.hpp"

namespace tov {

FrontEntry refit(const Expression& x, Samples samples, const Objective& objective,
                 OperatorList operators, bool refine, std::optional<double> known_error) {
  FrontEntry entry{0.0, x};
  if (x.param_count != 0 && refine) {
    Refined refined = refine_constants(x, samples, objective, operators, kFinalIterations);
    entry = FrontEntry{refined.error, std::move(refined.expression)};
  } else {
    entry.error = known_error ? *known_error : compute_raw_error(x, samples, objective, operators);
  }
  if (std::isnan(entry.error)) entry.error = std::numeric_limits<double>::infinity();
  return entry;
}

std::vector<SearchResult> staircase(std::vector<FrontEntry> entries,
                                    const std::shared_ptr<const OperatorRegistry>& registry,
                                    std::optional<double> tolerance,
                                    std::vector<std::shared_ptr<const DimensionalRecord>> records) {
  std::vector<std::size_t> order(entries.size());
  std::iota(order.begin(), order.end(), std::size_t{0});
  std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
    const FrontEntry& x = entries[a];
    const FrontEntry& y = entries[b];
    if (x.expression.complexity != y.expression.complexity)
      return x.expression.complexity < y.expression.complexity;
    return x.error < y.error;
  });
  double best = std::numeric_limits<double>::infinity();
  std::vector<SearchResult> out;
  for (const std::size_t k : order) {
    if (tolerance && best <= *tolerance) break;
    FrontEntry& entry = entries[k];
    if (!(entry.error < best)) continue;
    best = entry.error;
    out.emplace_back(std::move(entry.expression), registry, entry.error,
                     records.empty() ? nullptr : std::move(records[k]));
  }
  std::reverse(out.begin(), out.end());
  return out;
}

}  // namespace tov
