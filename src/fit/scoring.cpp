// The objective of an expression at its stored parameter values.
#include "fit/scoring.hpp"

#include <algorithm>
#include <cmath>
#include <limits>
#include <optional>

namespace tov {

double compute_raw_error(const Expression& expression, Samples samples, const Objective& objective,
                         OperatorList operators) {
  constexpr double kInfinity = std::numeric_limits<double>::infinity();

  std::vector<Complex> predictions;
  predictions.reserve(samples.size());
  std::vector<Complex> stack;
  stack.reserve(expression.complexity);
  for (const std::vector<Complex>& sample : samples) {
    const std::optional<Complex> value =
        eval_internal(expression.tokens, sample, {}, operators, stack);
    // Leaf values bypass the evaluator's range test, so the whole value is
    // tested here.
    if (!value || !within_limits(*value)) return kInfinity;
    predictions.push_back(*value);
  }

  const std::size_t pairs = std::min(predictions.size(), objective.targets.size());
  Affine scale;
  const double data =
      data_term([&](std::size_t i) { return predictions[i]; }, pairs, objective, &scale);
  return data + stored_value_penalty(expression.tokens, objective, scale);
}

double compute_raw_error(const Expression& expression, Samples samples,
                         std::span<const double> targets, OperatorList operators, double alpha,
                         double l1_ratio) {
  return compute_raw_error(expression, samples, Objective::plain(targets, alpha, l1_ratio),
                           operators);
}

}  // namespace tov
