// The library of formulas that sums and products of powers are built from,
// and the construction of those models as ordinary formulas.
//
// The library holds each input variable, then the retained formulas of the
// levels (level 2 upwards, each level in its retained order), each with the
// constant factors and offsets at its root taken off (a model adds its own)
// and each kept once. Its order is the order of ties in every later choice.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "fit/scoring.hpp"
#include "formula/builder.hpp"
#include "formula/expression.hpp"

namespace tov {

// Which wrappers to take off a formula's root.
enum class Wrappers {
  Affine,          // c g, g c, g / c, g + c, c + g, g - c, c - g, -g: g spans the same sums
  Multiplicative,  // c g, g c, g / c, c / g, 1 / g, -g: log |g| spans the same products
  Scale,           // c g, g c, g / c, -g: g has the same multiples
};

// The formula `tokens` denote, rebuilt by the construction rules with the
// Param values kept; none for tokens other than Var, Param and builtin Op.
std::optional<Expression> rebuild(std::span<const Token> tokens);

// `expression` without the given wrappers at its root, repeatedly, and its
// root product (Times and Divide) without constant factors and negations.
Expression strip(const Expression& expression, Wrappers wrappers);

// The library over `variables` inputs and the retained formulas in order.
std::vector<Expression> term_library(std::size_t variables, std::span<const Expression> retained,
                                     Wrappers wrappers);

// The value at every sample; none when one has no value or one outside the
// magnitude limit.
std::optional<std::vector<Complex>> values_at(const Expression& expression, Samples samples,
                                              OperatorList operators);

// The real parts of `values`, or none when they vary only by their
// rounding (rounding_only, weighted by `weights` or unweighted when empty):
// a model would scale that rounding up into a false fit.
std::optional<std::vector<double>> real_signal(std::span<const Complex> values,
                                               std::span<const double> weights);

// True when every operator of `expression` is in `operator_mask`.
bool uses_only(const Expression& expression, std::uint64_t operator_mask);

}  // namespace tov
