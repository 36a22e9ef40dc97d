// The objective of an expression at its stored parameter values.
#include "engine/scoring.hpp"

#include <algorithm>
#include <cmath>
#include <limits>
#include <optional>

namespace tov {

double compute_raw_error(const Expression& expression, Samples samples,
                         std::span<const double> targets, OperatorList operators, double alpha,
                         double l1_ratio) {
  constexpr double kInfinity = std::numeric_limits<double>::infinity();

  std::vector<double> predictions;
  predictions.reserve(samples.size());
  std::vector<Complex> stack;
  stack.reserve(expression.complexity);
  for (const std::vector<Complex>& sample : samples) {
    stack.clear();
    const std::optional<Complex> value =
        eval_internal(expression.tokens, sample, {}, operators, stack);
    // Leaf values bypass the evaluator's range test, so the whole value is
    // tested here.
    if (!value || !within_limits(*value)) return kInfinity;
    predictions.push_back(value->re);
  }

  const std::size_t pairs = std::min(predictions.size(), targets.size());
  double sse = 0.0;
  for (std::size_t i = 0; i < pairs; ++i) {
    const double residual = predictions[i] - targets[i];
    sse = sse + residual * residual;
  }
  const double mse = sse / static_cast<double>(targets.size());

  PenaltySums sums;
  sums.add_stored_values(expression.tokens);
  return mse + sums.penalty(alpha, l1_ratio);
}

}  // namespace tov
