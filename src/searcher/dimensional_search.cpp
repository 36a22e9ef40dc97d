// Rewriting, refitting and selecting the formulas of a reduced search.
#include "searcher/dimensional_search.hpp"

#include <algorithm>
#include <cmath>
#include <limits>
#include <memory>
#include <utility>

#include "engine/optimizer.hpp"
#include "engine/pareto.hpp"

namespace tov {

namespace {

struct Rewritten {
  Expression expression;
  double error;
  std::shared_ptr<const DimensionalRecord> record;
};

}  // namespace

FrontEntry in_caller_variables(const Expression& f, const Reduction& reduction,
                               const SearchData& data, const SearchConfig& config,
                               OperatorList operators) {
  const Objective objective =
      Objective::make(data.targets, data.weights, false, config.alpha, config.l1_ratio);
  Expression x = in_inputs(f, reduction);
  double error = 0.0;
  if (x.param_count != 0 && config.refine_params) {
    Refined refined = refine_constants(x, data.samples, objective, operators, kFinalIterations);
    x = std::move(refined.expression);
    error = refined.error;
  } else {
    error = compute_raw_error(x, data.samples, objective, operators);
  }
  if (std::isnan(error)) error = std::numeric_limits<double>::infinity();
  return FrontEntry{error, std::move(x)};
}

double smallest_square_monomial(const ReducedData& reduced, std::span<const double> weights) {
  double smallest = std::numeric_limits<double>::infinity();
  for (std::size_t i = 0; i < reduced.monomial.size(); ++i)
    if (weights.empty() || weights[i] != 0.0)
      smallest = std::min(smallest, reduced.monomial[i] * reduced.monomial[i]);
  return smallest;
}

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
  std::vector<Rewritten> entries;
  for (const SearchResult& result : reduced) {
    FrontEntry entry = in_caller_variables(result.expression(), reduction, data, config, ops);
    entries.push_back({std::move(entry.expression), entry.error, record_of(result)});
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
