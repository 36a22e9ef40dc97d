// Constant refinement: damped diagonal Gauss-Newton on the Param values of
// an expression, with a forward-difference Jacobian. Pure and reentrant.
#pragma once

#include <cstddef>
#include <span>

#include "core/expression.hpp"
#include "engine/scoring.hpp"

namespace tov {

struct Refined {
  Expression expression;  // same tokens and text; Param values refined
  double error;           // the objective at those values
};

// Objective of `expression` with Param k taking params[k] (imaginary 0).
double compute_error_with_params(const Expression& expression, std::span<const double> params,
                                 Samples samples, std::span<const double> targets,
                                 OperatorList operators, double alpha, double l1_ratio);

// Runs at most max_iterations steps (0 leaves the values unchanged). Never
// returns an objective above that of the starting values; the returned error
// is exactly the objective of the returned values.
Refined refine_constants(const Expression& expression, Samples samples,
                         std::span<const double> targets, OperatorList operators,
                         std::size_t max_iterations, double alpha, double l1_ratio);

}  // namespace tov
