// Rewriting, refitting and selecting the formulas of a reduced search.
#include "searcher/dimensional_search.hpp"

#include <algorithm>
#include <cmath>
#include <limits>
#include <memory>
#include <utility>

#include "engine/optimizer.hpp"

namespace tov {

namespace {

// As many iterations as the final selection of every search runs.
constexpr std::size_t kFinalIterations = 30;

struct Rewritten {
  Expression expression;
  double error;
  std::shared_ptr<const DimensionalRecord> record;
};

}  // namespace

std::vector<SearchResult> results_in_inputs(std::vector<SearchResult> reduced,
                                            const Reduction& reduction, const SearchData& data,
                                            const SearchConfig& config) {
  const auto record_of = [&](const SearchResult& result) {
    return std::make_shared<const DimensionalRecord>(DimensionalRecord{
        reduction.group_formulas, reduction.monomial_formula, result.expression()});
  };
  if (reduced.empty()) return reduced;
  const std::shared_ptr<const OperatorRegistry> registry = reduced.front().registry();
  if (reduction.is_identity()) {
    std::vector<SearchResult> out;
    for (const SearchResult& result : reduced)
      out.emplace_back(result.expression(), registry, result.error(), record_of(result));
    return out;
  }

  const OperatorList ops = registry->ops();
  const Objective objective =
      Objective::make(data.targets, data.weights, false, config.alpha, config.l1_ratio);
  std::vector<Rewritten> entries;
  for (const SearchResult& result : reduced) {
    Expression x = in_inputs(result.expression(), reduction);
    double error = 0.0;
    if (x.param_count != 0 && config.refine_params) {
      Refined refined = refine_constants(x, data.samples, objective, ops, kFinalIterations);
      x = std::move(refined.expression);
      error = refined.error;
    } else {
      error = compute_raw_error(x, data.samples, objective, ops);
    }
    if (std::isnan(error)) error = std::numeric_limits<double>::infinity();
    entries.push_back({std::move(x), error, record_of(result)});
  }
  // Of two formulas of one size the more accurate comes first, so the
  // staircase keeps it.
  std::stable_sort(entries.begin(), entries.end(), [](const Rewritten& a, const Rewritten& b) {
    if (a.expression.complexity != b.expression.complexity)
      return a.expression.complexity < b.expression.complexity;
    return a.error < b.error;
  });
  double best = std::numeric_limits<double>::infinity();
  std::vector<SearchResult> out;
  for (Rewritten& entry : entries) {
    if (!(entry.error < best)) continue;
    best = entry.error;
    out.emplace_back(std::move(entry.expression), registry, entry.error, std::move(entry.record));
  }
  std::reverse(out.begin(), out.end());
  return out;
}

}  // namespace tov
