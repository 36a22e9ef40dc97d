// The Pareto front, the early exit and the final staircase.
#include "engine/pareto.hpp"

#include <algorithm>
#include <cmath>
#include <limits>

#include "engine/optimizer.hpp"

namespace tov {

void ParetoFront::update(const Expression& expression, double error) {
  std::lock_guard lock(mutex_);
  auto it = entries_.find(expression.complexity);
  if (it == entries_.end()) {
    entries_.emplace(expression.complexity, FrontEntry{error, expression});
  } else if (error < it->second.error) {
    it->second = FrontEntry{error, expression};
  }
}

bool ParetoFront::improves(std::size_t complexity, double error) const {
  std::lock_guard lock(mutex_);
  auto it = entries_.find(complexity);
  return it == entries_.end() || error < it->second.error;
}

bool ParetoFront::any_within(double tolerance) const {
  std::lock_guard lock(mutex_);
  return std::any_of(entries_.begin(), entries_.end(),
                     [&](const auto& entry) { return entry.second.error <= tolerance; });
}

bool ParetoFront::empty() const {
  std::lock_guard lock(mutex_);
  return entries_.empty();
}

std::map<std::size_t, FrontEntry> ParetoFront::entries() const {
  std::lock_guard lock(mutex_);
  return entries_;
}

void update_pareto(ParetoFront& front, const Expression& expression, double error) {
  front.update(expression, error);
}

void score_and_update(ParetoFront& front, const Expression& expression, Samples samples,
                      std::span<const double> targets, OperatorList operators, double alpha,
                      double l1_ratio) {
  const double error = compute_raw_error(expression, samples, targets, operators, alpha, l1_ratio);
  if (std::isfinite(error)) update_pareto(front, expression, error);
}

bool check_early_exit(const ParetoFront& front, bool exhaustive, double tolerance) {
  if (exhaustive) return false;
  return front.any_within(tolerance);
}

Outcome<std::vector<SearchResult>> finalize_result(std::shared_ptr<ParetoFront> front,
                                                   std::shared_ptr<const OperatorRegistry> registry,
                                                   const SearchConfig& config, Samples samples,
                                                   std::span<const double> targets) {
  std::lock_guard lock(front->mutex_);
  if (front->entries_.empty()) return NoFormulaFound{config.max_complexity};

  constexpr std::size_t kFinalIterations = 30;
  double best = std::numeric_limits<double>::infinity();
  std::vector<SearchResult> results;
  for (const auto& [complexity, entry] : front->entries_) {
    Expression x = entry.expression;
    double e = entry.error;
    if (x.param_count != 0 && config.refine_params) {
      Refined refined = refine_constants(x, samples, targets, registry->ops(), kFinalIterations,
                                         config.alpha, config.l1_ratio);
      x = std::move(refined.expression);
      e = refined.error;
    }
    if (e < best) {
      results.emplace_back(std::move(x), registry, e);
      best = e;
    }
  }
  std::reverse(results.begin(), results.end());
  return results;
}

}  // namespace tov
