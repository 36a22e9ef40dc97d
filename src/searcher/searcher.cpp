#include "searcher/searcher.hpp"

#include <utility>

namespace tov {

namespace {

// The single-result requests answer with the most complex, most accurate
// formula. An empty success list (every front entry lost its finite error at
// the final refinement) has no such formula.
Outcome<SearchResult> first_of(Outcome<std::vector<SearchResult>> outcome,
                               std::uint64_t max_complexity) {
  if (!outcome) return std::move(outcome.error());
  if (outcome.value().empty()) return SearchError{NoFormulaFound{max_complexity}};
  return std::move(outcome.value().front());
}

}  // namespace

Searcher::Searcher(SearchConfig config, SearchControl control)
    : config_(std::move(config)), control_(std::move(control)) {}

Outcome<SearchResult> Searcher::find_function(std::span<const double> xs,
                                              std::span<const double> ys) const {
  std::vector<std::vector<double>> rows;
  rows.reserve(xs.size());
  for (const double x : xs) rows.push_back({x});
  return first_of(run_bfs(rows, ys, config_, control_), config_.max_complexity);
}

Outcome<SearchResult> Searcher::find_multivariate(std::span<const std::vector<double>> inputs,
                                                  std::span<const double> ys) const {
  return first_of(run_bfs(inputs, ys, config_, control_), config_.max_complexity);
}

Outcome<std::vector<SearchResult>> Searcher::find_candidates(
    std::span<const std::vector<double>> inputs, std::span<const double> ys) const {
  SearchConfig exhaustive = config_;
  exhaustive.exhaustive = true;
  auto outcome = run_bfs(inputs, ys, exhaustive, control_);
  if (outcome && outcome.value().empty())
    return SearchError{NoFormulaFound{config_.max_complexity}};
  return outcome;
}

Outcome<SearchResult> Searcher::recognize_constant(double value) const {
  const std::vector<std::vector<double>> rows{{0.0}};
  const double targets[] = {value};
  return first_of(run_bfs(rows, targets, config_, control_), config_.max_complexity);
}

}  // namespace tov
