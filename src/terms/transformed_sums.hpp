// Sums of terms under a root: laws y = u(S), y = x_j S, y = S / x_j,
// y = x_j / S and y = x_j sqrt(S), where S is a sum of retained formulas.
//
// For every root defined on all targets the targets are transformed into
// what S must be (y^2, 1/y, log y, sqrt y; y / x_j, y x_j, x_j / y,
// (y / x_j)^2), the sums of sum_models are fitted to them, and each sum is
// written back under its root and refined on y with every constant
// together. Lengths of distances (sqrt of a sum of squares), a factor times a
// sum (q (E + B v sin t)) and a sum over a sum's weight (centres of mass)
// are laws of this form.
#pragma once

#include <cstddef>
#include <span>
#include <vector>

#include "fit/staircase.hpp"
#include "formula/expression.hpp"
#include "terms/term_context.hpp"

namespace tov {

// The roots' models over `library` (built with the affine wrappers taken
// off), in root order: the unary roots, then for each input variable the
// binary roots.
std::vector<FrontEntry> transformed_sum_models(std::span<const Expression> library,
                                               std::size_t variables, const TermContext& context);

}  // namespace tov
