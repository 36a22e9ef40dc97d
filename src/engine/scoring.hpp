// The objective of the search: mean squared error of the real part against
// the targets plus an elastic-net penalty on the formula's numeric constants,
// and the ranking score derived from it.
#pragma once

#include <cstddef>
#include <span>
#include <vector>

#include "core/complex.hpp"
#include "core/expression.hpp"
#include "ops/operator.hpp"

namespace tov {

// Sample rows of complex inputs, one row per sample.
using Samples = std::span<const std::vector<Complex>>;

// alpha * (l1_ratio * l1 + ((1 - l1_ratio) * 0.5) * l2), in exactly that grouping.
inline double elastic_net_penalty(double alpha, double l1_ratio, double l1, double l2) {
  const double a = l1_ratio * l1;
  const double b = ((1.0 - l1_ratio) * 0.5) * l2;
  return alpha * (a + b);
}

// Objective with the stored parameter values; +infinity as soon as a sample
// has no value or a value outside the magnitude limit.
double compute_raw_error(const Expression& expression, Samples samples,
                         std::span<const double> targets, OperatorList operators, double alpha,
                         double l1_ratio);

// The factor complexity_penalty * complexity + 1.0 by which errors are inflated.
inline double complexity_factor(double complexity_penalty, std::size_t complexity) {
  double t = complexity_penalty * static_cast<double>(complexity);
  t = t + 1.0;
  return t;
}

inline double candidate_score(double error, std::size_t complexity, double complexity_penalty) {
  return error * complexity_factor(complexity_penalty, complexity);
}

}  // namespace tov
