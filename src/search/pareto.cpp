// The Pareto front, the early exit and the final staircase.
#include "search/pareto.hpp"

#include <algorithm>
#include <cmath>
#include <limits>

#include "fit/optimizer.hpp"
#include "formula/builder.hpp"

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

Expression wrap_affine(const Expression& f, const Affine& map) {
  // A prediction that does not vary contributes nothing: the formula is the
  // constant b.
  if (map.a == 0.0) return constant_leaf(map.b);
  Expression x = f;
  if (map.a != 1.0) x = binary(op_id::kTimes, constant_leaf(map.a), x);
  if (map.b != 0.0) x = binary(op_id::kPlus, x, constant_leaf(map.b));
  return x;
}

namespace {

// The maps that leave out the factor or the offset, shortest first: f
// itself, a f (a by least squares through the origin), f + b (b the
// weighted mean of y - f).
std::vector<Affine> shorter_maps(std::span<const double> f, const Objective& objective) {
  const std::span<const double> y = objective.targets;
  double s_ff = 0.0;
  double s_fy = 0.0;
  double s_r = 0.0;
  for (std::size_t i = 0; i < f.size(); ++i) {
    s_ff = s_ff + objective.weighted(i, f[i] * f[i]);
    s_fy = s_fy + objective.weighted(i, f[i] * y[i]);
    s_r = s_r + objective.weighted(i, y[i] - f[i]);
  }
  std::vector<Affine> maps{Affine{1.0, 0.0}};
  if (s_ff != 0.0) maps.push_back(Affine{s_fy / s_ff, 0.0});
  maps.push_back(Affine{1.0, s_r / objective.total_weight});
  return maps;
}

// `x` with its affine map on `samples`, and that formula's error under the
// unscaled `plain` objective. Where leaving out the map's factor or offset
// (or both) costs nothing beyond rounding, the shorter formula is taken:
// an offset of 1e-16 on an exact law is noise, not part of the law.
FrontEntry scaled_entry(const Expression& x, Samples samples, const Objective& objective,
                        const Objective& plain, OperatorList operators) {
  std::vector<Complex> values;
  std::vector<double> predictions;
  std::vector<Complex> stack;
  for (const auto& sample : samples) {
    const std::optional<Complex> value = eval_internal(x.tokens, sample, {}, operators, stack);
    if (!value || !within_limits(*value)) {
      return {std::numeric_limits<double>::infinity(), x};
    }
    values.push_back(*value);
    predictions.push_back(value->re);
  }
  const Affine map = fit_affine([&](std::size_t i) { return values[i]; }, values.size(), objective);
  // A NaN error (an overflowing map) is as unusable as an infinite one.
  const auto scored = [&](const Affine& m) {
    Expression wrapped = wrap_affine(x, m);
    const double error = compute_raw_error(wrapped, samples, plain, operators);
    return FrontEntry{std::isnan(error) ? std::numeric_limits<double>::infinity() : error,
                      std::move(wrapped)};
  };
  FrontEntry full = scored(map);
  if (map.a == 0.0 || (map.a == 1.0 && map.b == 0.0) || !std::isfinite(full.error)) return full;
  const double good_enough = std::max(full.error, rounding_floor(plain));
  for (const Affine& shorter : shorter_maps(predictions, objective)) {
    FrontEntry entry = scored(shorter);
    if (entry.error <= good_enough && entry.expression.complexity < full.expression.complexity)
      return entry;
  }
  return full;
}

}  // namespace

FrontEntry final_form(const FrontEntry& entry, const SearchConfig& config, Samples samples,
                      const Objective& objective, bool rescore, OperatorList operators) {
  FrontEntry x = refit(entry.expression, samples, objective, operators, config.refine_params,
                       rescore ? std::nullopt : std::optional<double>(entry.error));
  if (!objective.linear_scaling) return x;
  Objective plain = objective;
  plain.linear_scaling = false;
  return scaled_entry(x.expression, samples, objective, plain, operators);
}

Outcome<std::vector<SearchResult>> select_final(std::shared_ptr<ParetoFront> front,
                                                std::shared_ptr<const OperatorRegistry> registry,
                                                const SearchConfig& config, Samples samples,
                                                const Objective& objective, bool rescore,
                                                std::uint64_t max_complexity) {
  std::lock_guard lock(front->mutex_);
  if (front->entries_.empty()) return NoFormulaFound{max_complexity};
  const OperatorList ops = registry->ops();
  std::vector<FrontEntry> finals;
  for (const auto& [complexity, entry] : front->entries_)
    finals.push_back(final_form(entry, config, samples, objective, rescore, ops));
  return staircase(std::move(finals), registry);
}

Outcome<std::vector<SearchResult>> finalize_result(std::shared_ptr<ParetoFront> front,
                                                   std::shared_ptr<const OperatorRegistry> registry,
                                                   const SearchConfig& config, Samples samples,
                                                   std::span<const double> targets) {
  return select_final(std::move(front), std::move(registry), config, samples,
                      Objective::plain(targets, config.alpha, config.l1_ratio), false,
                      config.max_complexity);
}

}  // namespace tov
