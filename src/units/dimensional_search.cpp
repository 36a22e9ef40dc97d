// Rewriting, refitting and selecting the formulas of a reduced search.
#include "units/dimensional_search.hpp"

#include <algorithm>
#include <cmath>
#include <limits>
#include <memory>
#include <utility>

namespace tov {

FrontEntry in_caller_variables(const Expression& f, const Reduction& reduction,
                               const SearchData& data, const SearchConfig& config,
                               OperatorList operators) {
  const Objective objective =
      Objective::make(data.targets, data.weights, false, config.alpha, config.l1_ratio);
  return refit(in_inputs(f, reduction), data.samples, objective, operators, config.refine_params);
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
  std::vector<FrontEntry> entries;
  std::vector<std::shared_ptr<const DimensionalRecord>> records;
  for (const SearchResult& result : reduced) {
    entries.push_back(in_caller_variables(result.expression(), reduction, data, config, ops));
    records.push_back(record_of(result));
  }
  return staircase(std::move(entries), registry, std::nullopt, std::move(records));
}

}  // namespace tov
