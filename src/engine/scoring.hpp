// The objective of the search: mean squared error of the real part against
// the targets plus an elastic-net penalty on the formula's numeric constants,
// and the ranking score derived from it.
#pragma once

#include <cmath>
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

// The sums L1 = sum |v| and L2 = sum v*v over a formula's numeric constants,
// and the elastic-net penalty from them. Floating-point addition is not
// associative, so the order in which values enter is part of every
// objective. There are exactly two orders, one entry point each:
//   - a formula at its stored values: its Real and Param tokens in token
//     order (add_stored_values);
//   - a formula at an explicit parameter vector, as refinement evaluates it:
//     the vector first, then the Real tokens in token order; the stored
//     Param values are not counted (add_parameter_vector).
class PenaltySums {
 public:
  void add_stored_values(std::span<const Token> tokens) {
    for (const Token& token : tokens)
      if (token.kind == TokenKind::Real || token.kind == TokenKind::Param) add(token.value.re);
  }
  void add_parameter_vector(std::span<const double> params, std::span<const Token> tokens) {
    for (const double p : params) add(p);
    for (const Token& token : tokens)
      if (token.kind == TokenKind::Real) add(token.value.re);
  }
  // The same, with the Real tokens' values already collected in order.
  void add_parameter_vector(std::span<const double> params, std::span<const double> reals) {
    for (const double p : params) add(p);
    for (const double v : reals) add(v);
  }

  double penalty(double alpha, double l1_ratio) const {
    return elastic_net_penalty(alpha, l1_ratio, l1_, l2_);
  }

 private:
  void add(double v) {
    l1_ = l1_ + std::fabs(v);
    l2_ = l2_ + v * v;
  }

  double l1_ = 0.0;
  double l2_ = 0.0;
};

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
