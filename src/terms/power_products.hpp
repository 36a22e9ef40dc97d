// Products of powers C f_1^e_1 ... f_m^e_m, found by the sparse regression
// of log |y| on log f_i and confirmed in linear space.
//
// The library's formulas that are real and positive on every row enter; the
// targets must be finite and of one sign. Each exponent fitted in log space
// is rounded to a multiple of 1/2 of magnitude at most 4 (a fitted magnitude
// above 4.25 is no small rational and ends that model); for m <= 3 both
// nearest multiples of every exponent are tried, beyond that the nearest
// only, and the rounding with the lowest linear-space error (C by weighted
// least squares) is kept, the first of equal errors; it is then refined like
// every model. Powers are written
// with Square, Cube and Sqrt (f^(5/2) = Times(Square(f), Sqrt(f)),
// f^(7/2) = Times(Cube(f), Sqrt(f))), negative exponents in a denominator:
// Times(C, N), Divide(C, D) or Divide(Times(C, N), D), each of N and D a
// right-nested Times of the powers in library order.
#pragma once

#include <optional>
#include <span>
#include <vector>

#include "fit/staircase.hpp"
#include "formula/expression.hpp"
#include "terms/term_context.hpp"

namespace tov {

// The largest exponent magnitude, in halves.
inline constexpr int kMaxExponentHalves = 8;

// f^(halves / 2) for 1 <= |halves| <= kMaxExponentHalves, the sign ignored.
Expression power(const Expression& f, int halves);

// The product with constant `c` of the factors raised to halves[k] / 2
// (nonzero).
Expression product_formula(double c, std::span<const Expression> factors,
                           std::span<const int> halves);

// The products of m = 1 ... max_terms factors, and when 2 <= variables <=
// max_terms first the product of powers of every input variable (fitted
// together; a variable whose exponent rounds to 0 is left out).
std::vector<FrontEntry> product_models(std::span<const Expression> library, std::size_t variables,
                                       const TermContext& context);

}  // namespace tov
