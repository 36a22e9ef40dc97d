// The objective of the search: mean squared error of the real part against
// the targets (optionally weighted, optionally after the best affine map)
// plus an elastic-net penalty on the formula's numeric constants, and the
// ranking score derived from it.
#pragma once

#include <cmath>
#include <cstddef>
#include <limits>
#include <span>
#include <vector>

#include "formula/expression.hpp"
#include "numeric/complex.hpp"
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

// The affine map of scaled predictions.
struct Affine {
  double a = 1.0;
  double b = 0.0;
};

// The sums L1 = sum |v| and L2 = sum v*v over a formula's numeric constants,
// and the elastic-net penalty from them. Floating-point addition is not
// associative, so the order in which values enter is part of every
// objective. There are exactly two orders, one entry point each:
//   - a formula at its stored values: its Real and Param tokens in token
//     order (add_stored_values);
//   - a formula at an explicit parameter vector, as refinement evaluates it:
//     the vector first, then the Real tokens in token order; the stored
//     Param values are not counted (add_parameter_vector).
// A scaled objective is that of the formula a f + b, whose constants in
// token order are a, f's own, then b: its stored values are a, f's stored
// values, b (add_value around add_stored_values), and its parameter vector
// is (a, f's parameters, b), followed by f's Real tokens.
class PenaltySums {
 public:
  void add_value(double v) {
    l1_ = l1_ + std::fabs(v);
    l2_ = l2_ + v * v;
  }
  void add_stored_values(std::span<const Token> tokens) {
    for (const Token& token : tokens)
      if (token.kind == TokenKind::Real || token.kind == TokenKind::Param)
        add_value(token.value.re);
  }
  void add_parameter_vector(std::span<const double> params, std::span<const Token> tokens) {
    for (const double p : params) add_value(p);
    for (const Token& token : tokens)
      if (token.kind == TokenKind::Real) add_value(token.value.re);
  }
  // The same, with the Real tokens' values already collected in order.
  void add_parameter_vector(std::span<const double> params, std::span<const double> reals) {
    for (const double p : params) add_value(p);
    for (const double v : reals) add_value(v);
  }
  // Either of the above for a f + b when `scale` is given, for f when null.
  template <class Reals>
  void add_parameter_vector(std::span<const double> params, const Reals& reals,
                            const Affine* scale) {
    if (scale == nullptr) return add_parameter_vector(params, reals);
    add_value(scale->a);
    for (const double p : params) add_value(p);
    add_value(scale->b);
    add_parameter_vector({}, reals);
  }

  double penalty(double alpha, double l1_ratio) const {
    return elastic_net_penalty(alpha, l1_ratio, l1_, l2_);
  }

 private:
  double l1_ = 0.0;
  double l2_ = 0.0;
};

// How a formula's real-part predictions f are judged against the targets y:
//
//   plain:   sum_i w_i (f_i - y_i)^2 / sum_i w_i
//   scaled:  the same for a f_i + b, where (a, b) is the weighted
//            least-squares fit of the targets on the predictions
//
// plus the elastic-net penalty on the formula's constants (with scaling, on
// a and b too: the objective is that of the formula a f + b). Sums run in
// sample order. Without weights every w_i is 1 and the total is the target
// count, and since 1 * t == t exactly, weights of 1 give the same bits as
// no weights.
struct Objective {
  std::span<const double> targets;
  std::span<const double> weights;  // empty, or one weight per target
  double total_weight = 0.0;        // the sum of the weights, or the target count
  bool linear_scaling = false;
  double alpha = 0.0;
  double l1_ratio = 0.5;

  // The objective of the search itself: unweighted, unscaled.
  static Objective plain(std::span<const double> targets, double alpha, double l1_ratio) {
    return make(targets, {}, false, alpha, l1_ratio);
  }
  static Objective make(std::span<const double> targets, std::span<const double> weights,
                        bool linear_scaling, double alpha, double l1_ratio) {
    double total = static_cast<double>(targets.size());
    if (!weights.empty()) {
      total = 0.0;
      for (const double w : weights) total = total + w;
    }
    return Objective{targets, weights, total, linear_scaling, alpha, l1_ratio};
  }

  // w_i * t with w_i = 1 when unweighted; t is a squared or product term.
  double weighted(std::size_t i, double t) const { return weights.empty() ? t : weights[i] * t; }
};

// The error below which two formulas differ only by rounding:
// (8 eps)^2 times the weighted mean of the squared targets, eps the double
// precision's epsilon (eight roundings' worth of relative error in every
// prediction).
inline double rounding_floor(const Objective& objective) {
  constexpr double kRoundings = 8.0 * std::numeric_limits<double>::epsilon();
  double sum = 0.0;
  for (std::size_t i = 0; i < objective.targets.size(); ++i)
    sum = sum + objective.weighted(i, objective.targets[i] * objective.targets[i]);
  return kRoundings * kRoundings * (sum / objective.total_weight);
}

// A formula's value as the affine fit reads it: a real prediction, or a
// complex value whose real part is the prediction.
inline Complex as_value(double re) { return Complex{re, 0.0}; }
inline Complex as_value(const Complex& value) { return value; }

// The relative size of the rounding a computed value can carry: 64 eps,
// about 1.4e-14. A real part is computed from intermediate values of about
// the formula's own magnitude, each rounded, and a real part that ought to be
// 0 (tan(asin x) for x > 1, an odd function at the centre of its domain) comes
// out as a few eps of those magnitudes, more near a pole (there the
// magnitude of the intermediates grows faster than |f|): the factor leaves
// room for that growth and still marks a column whose real part carries
// fewer than 46 of the 52 bits of its magnitude as noise.
inline constexpr double kRoundingNoise = 64.0 * std::numeric_limits<double>::epsilon();

// True when real parts whose weighted sum of squared deviations from their
// mean is `spread` vary only by their rounding, the weighted sum of the
// squared magnitudes of the values being `sum_magnitude`.
inline bool rounding_only(double spread, double sum_magnitude) {
  return spread <= (kRoundingNoise * kRoundingNoise) * sum_magnitude;
}

// The weighted least-squares (a, b) of the targets on the real parts of f(i),
// i < n (f gives doubles or complex values): two passes over the samples,
// means first. Predictions whose real parts do not vary beyond their
// rounding give a = 0 and b = the weighted mean of the targets: a spread
// sum w (re f - mean)^2 at most kRoundingNoise^2 sum w |f|^2 is rounding, and
// scaling it up would fit noise (a complex formula whose real part is the
// rounding of 0 then scores as the constant it is).
template <class Prediction>
Affine fit_affine(Prediction&& f, std::size_t n, const Objective& objective) {
  const std::span<const double> y = objective.targets;
  double sum_f = 0.0;
  double sum_y = 0.0;
  double sum_magnitude = 0.0;
  for (std::size_t i = 0; i < n; ++i) {
    const Complex v = as_value(f(i));
    sum_f = sum_f + objective.weighted(i, v.re);
    sum_y = sum_y + objective.weighted(i, y[i]);
    sum_magnitude = sum_magnitude + objective.weighted(i, v.re * v.re + v.im * v.im);
  }
  const double mean_f = sum_f / objective.total_weight;
  const double mean_y = sum_y / objective.total_weight;
  double s_ff = 0.0;
  double s_fy = 0.0;
  for (std::size_t i = 0; i < n; ++i) {
    const double df = as_value(f(i)).re - mean_f;
    s_ff = s_ff + objective.weighted(i, df * df);
    s_fy = s_fy + objective.weighted(i, df * (y[i] - mean_y));
  }
  const double a = rounding_only(s_ff, sum_magnitude) ? 0.0 : s_fy / s_ff;
  return Affine{a, mean_y - a * mean_f};
}

// The data term for predictions f(i), i < n (n may be below the target
// count only for unscaled objectives); `scale` receives the affine map when
// the objective scales.
template <class Prediction>
double data_term(Prediction&& f, std::size_t n, const Objective& objective,
                 Affine* scale = nullptr) {
  const std::span<const double> y = objective.targets;
  double sse = 0.0;
  if (objective.linear_scaling) {
    const Affine map = fit_affine(f, n, objective);
    if (scale != nullptr) *scale = map;
    for (std::size_t i = 0; i < n; ++i) {
      const double residual = (map.a * as_value(f(i)).re + map.b) - y[i];
      sse = sse + objective.weighted(i, residual * residual);
    }
  } else {
    for (std::size_t i = 0; i < n; ++i) {
      const double residual = as_value(f(i)).re - y[i];
      sse = sse + objective.weighted(i, residual * residual);
    }
  }
  return sse / objective.total_weight;
}

// The penalty of a formula at its stored values, with the affine map's
// constants around it when the objective scales.
inline double stored_value_penalty(std::span<const Token> tokens, const Objective& objective,
                                   const Affine& scale) {
  PenaltySums sums;
  if (objective.linear_scaling) sums.add_value(scale.a);
  sums.add_stored_values(tokens);
  if (objective.linear_scaling) sums.add_value(scale.b);
  return sums.penalty(objective.alpha, objective.l1_ratio);
}

// Objective with the stored parameter values; +infinity as soon as a sample
// has no value or a value outside the magnitude limit.
double compute_raw_error(const Expression& expression, Samples samples, const Objective& objective,
                         OperatorList operators);
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
