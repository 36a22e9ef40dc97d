// Constant refinement: the plain reference implementation. Every
// floating-point operation happens in the documented order so that faster
// paths can be checked against it bit for bit.
#include "fit/optimizer.hpp"

#include <cmath>
#include <limits>
#include <optional>
#include <vector>

namespace tov {

namespace {

// The value, or 0 where the expression has none: inside the Jacobian a
// failing sample simply contributes nothing.
Complex value_or_zero(const Expression& expression, std::span<const Complex> inputs,
                      std::span<const Complex> params, OperatorList operators,
                      std::vector<Complex>& stack) {
  const std::optional<Complex> value =
      eval_internal(expression.tokens, inputs, params, operators, stack);
  return value ? *value : Complex{};
}

// The predictions as the residuals see them: the real parts of `values`,
// scaled by their own affine fit when the objective scales.
void predictions_of(std::span<const Complex> values, const Objective& objective,
                    std::vector<double>& f) {
  for (std::size_t i = 0; i < values.size(); ++i) f[i] = values[i].re;
  if (!objective.linear_scaling) return;
  const Affine map = fit_affine([&](std::size_t i) { return values[i]; }, values.size(), objective);
  for (double& v : f) v = map.a * v + map.b;
}

}  // namespace

double parameter_vector_penalty(std::span<const double> params, std::span<const Token> tokens,
                                const Objective& objective, const Affine& scale) {
  PenaltySums sums;
  sums.add_parameter_vector(params, tokens, objective.linear_scaling ? &scale : nullptr);
  return sums.penalty(objective.alpha, objective.l1_ratio);
}

double compute_error_with_params(const Expression& expression, std::span<const double> params,
                                 Samples samples, const Objective& objective,
                                 OperatorList operators) {
  constexpr double kInfinity = std::numeric_limits<double>::infinity();
  // Every sample needs its target; the search always passes as many of each.
  if (samples.size() != objective.targets.size()) return kInfinity;

  std::vector<Complex> values;
  to_complex(params, values);
  std::vector<Complex> stack;
  stack.reserve(expression.complexity);
  std::vector<Complex> predictions(samples.size());
  for (std::size_t i = 0; i < samples.size(); ++i) {
    const std::optional<Complex> value =
        eval_internal(expression.tokens, samples[i], values, operators, stack);
    if (!value) return kInfinity;
    predictions[i] = *value;
  }
  Affine scale;
  const double data = data_term([&](std::size_t i) { return predictions[i]; }, predictions.size(),
                                objective, &scale);
  return data + parameter_vector_penalty(params, expression.tokens, objective, scale);
}

double compute_error_with_params(const Expression& expression, std::span<const double> params,
                                 Samples samples, std::span<const double> targets,
                                 OperatorList operators, double alpha, double l1_ratio) {
  return compute_error_with_params(expression, params, samples,
                                   Objective::plain(targets, alpha, l1_ratio), operators);
}

Refined refine_constants(const Expression& expression, Samples samples, const Objective& objective,
                         OperatorList operators, std::size_t max_iterations, double tolerance) {
  std::vector<std::size_t> positions;
  std::vector<double> p;
  for (std::size_t t = 0; t < expression.tokens.size(); ++t) {
    if (expression.tokens[t].kind != TokenKind::Param) continue;
    positions.push_back(t);
    p.push_back(expression.tokens[t].value.re);
  }
  const std::size_t m = p.size();
  const auto error_at = [&](std::span<const double> params) {
    return compute_error_with_params(expression, params, samples, objective, operators);
  };

  // Without parameters the objective at the stored values is the objective
  // with an empty vector: nothing to count first, every Real token after.
  // Samples without targets leave nothing to fit (the objective is +infinity).
  double objective_value = error_at(p);
  if (m == 0 || samples.size() != objective.targets.size()) {
    return Refined{expression, objective_value};
  }

  const std::size_t ns = samples.size();
  std::vector<double> f(ns);
  std::vector<double> residuals(ns);
  std::vector<double> shifted_f(ns);
  std::vector<Complex> values(ns);
  std::vector<double> jacobian(ns * m);  // row i holds dF_i/dp_k for every k
  std::vector<double> diagonal(m);
  std::vector<double> gradient(m);
  std::vector<double> trial(m);
  std::vector<Complex> at_p;
  std::vector<Complex> shifted;
  std::vector<Complex> stack;
  stack.reserve(expression.complexity);

  Damping damping(tolerance);
  std::size_t iteration = 0;
  while (damping.running(iteration, max_iterations)) {
    to_complex(p, at_p);
    shifted = at_p;
    for (std::size_t i = 0; i < ns; ++i)
      values[i] = value_or_zero(expression, samples[i], at_p, operators, stack);
    predictions_of(values, objective, f);
    for (std::size_t i = 0; i < ns; ++i) residuals[i] = f[i] - objective.targets[i];
    for (std::size_t k = 0; k < m; ++k) {
      shifted[k] = Complex{p[k] + refinement::kStep, 0.0};
      for (std::size_t i = 0; i < ns; ++i)
        values[i] = value_or_zero(expression, samples[i], shifted, operators, stack);
      shifted[k] = at_p[k];
      predictions_of(values, objective, shifted_f);
      for (std::size_t i = 0; i < ns; ++i)
        jacobian[i * m + k] = (shifted_f[i] - f[i]) / refinement::kStep;
    }

    for (std::size_t k = 0; k < m; ++k) {
      double d = 0.0;
      double grad = 0.0;
      for (std::size_t i = 0; i < ns; ++i) {
        const double j = jacobian[i * m + k];
        d = d + objective.weighted(i, j * j);
        grad = grad + objective.weighted(i, j * residuals[i]);
      }
      diagonal[k] = d;
      gradient[k] = grad;
    }

    for (std::size_t k = 0; k < m; ++k) {
      trial[k] = p[k] - gradient[k] / ((damping.lambda() + diagonal[k]) + refinement::kGuard);
    }
    const double trial_objective = error_at(trial);

    // A NaN or infinite trial never compares below the current objective.
    if (trial_objective < objective_value) {
      p = trial;
      const double decrease = objective_value - trial_objective;
      objective_value = trial_objective;
      if (!damping.accepted(decrease)) break;
    } else if (!damping.rejected()) {
      break;
    }
    iteration += 1;
  }

  Refined result{expression, objective_value};
  for (std::size_t k = 0; k < m; ++k) {
    result.expression.tokens[positions[k]].value = Complex{p[k], 0.0};
  }
  result.expression.complexity = result.expression.tokens.size();
  return result;
}

Refined refine_constants(const Expression& expression, Samples samples,
                         std::span<const double> targets, OperatorList operators,
                         std::size_t max_iterations, double alpha, double l1_ratio) {
  return refine_constants(expression, samples, Objective::plain(targets, alpha, l1_ratio),
                          operators, max_iterations);
}

}  // namespace tov
