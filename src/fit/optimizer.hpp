// Constant refinement: damped diagonal Gauss-Newton on the Param values of
// an expression, with a forward-difference Jacobian. Pure and reentrant.
#pragma once

#include <cstddef>
#include <span>

#include "fit/scoring.hpp"
#include "formula/expression.hpp"

namespace tov {

// Constants of the method, shared by every refiner.
namespace refinement {
inline constexpr double kStep = 1e-6;  // forward-difference step of the Jacobian
inline constexpr double kInitialDamping = 0.01;
inline constexpr double kMaxDamping = 1e4;
inline constexpr double kGuard = 1e-6;  // keeps every damped denominator positive
inline constexpr double kTolerance = 1e-9;
inline constexpr int kRejectionsTolerated = 2;
}  // namespace refinement

// The damping schedule: lambda shrinks tenfold after an accepted step and
// grows tenfold after a rejected one; the run ends at the iteration cap, when
// lambda passes its maximum, when a step gains less than the tolerance
// (refinement::kTolerance unless given), or at the third rejection in a row.
class Damping {
 public:
  Damping() = default;
  explicit Damping(double tolerance) : tolerance_(tolerance) {}

  double lambda() const { return lambda_; }
  bool running(std::size_t iteration, std::size_t cap) const {
    return lambda_ <= refinement::kMaxDamping && iteration < cap;
  }
  // After an accepted step that lowered the objective by `decrease`; false
  // when the run ends.
  bool accepted(double decrease) {
    if (decrease < tolerance_) return false;
    lambda_ = lambda_ / 10.0;
    rejections_ = 0;
    return true;
  }
  // After a rejected step; false when the run ends.
  bool rejected() {
    if (rejections_ >= refinement::kRejectionsTolerated) return false;
    rejections_ += 1;
    lambda_ = lambda_ * 10.0;
    return true;
  }

 private:
  double tolerance_ = refinement::kTolerance;
  double lambda_ = refinement::kInitialDamping;
  int rejections_ = 0;
};

struct Refined {
  Expression expression;  // same tokens and text; Param values refined
  double error;           // the objective at those values
};

// Objective of `expression` with Param k taking params[k] (imaginary 0).
double compute_error_with_params(const Expression& expression, std::span<const double> params,
                                 Samples samples, const Objective& objective,
                                 OperatorList operators);
double compute_error_with_params(const Expression& expression, std::span<const double> params,
                                 Samples samples, std::span<const double> targets,
                                 OperatorList operators, double alpha, double l1_ratio);

// The penalty at a parameter vector, with the affine map's constants around
// it when the objective scales.
double parameter_vector_penalty(std::span<const double> params, std::span<const Token> tokens,
                                const Objective& objective, const Affine& scale);

// Runs at most max_iterations steps (0 leaves the values unchanged). Never
// returns an objective above that of the starting values; the returned error
// is exactly the objective of the returned values. With a scaled objective
// the residuals and the Jacobian are those of the scaled predictions, the
// affine map refitted at every point. `tolerance` is the damping schedule's:
// with 0 only the cap, the damping and rejections end the run.
Refined refine_constants(const Expression& expression, Samples samples, const Objective& objective,
                         OperatorList operators, std::size_t max_iterations,
                         double tolerance = refinement::kTolerance);
Refined refine_constants(const Expression& expression, Samples samples,
                         std::span<const double> targets, OperatorList operators,
                         std::size_t max_iterations, double alpha, double l1_ratio);

}  // namespace tov
