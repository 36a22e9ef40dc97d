// Exact constants: numbers of the form (p/q) times one of a few named bases
// (pi, 1/pi, sqrt 2, ...), held by Real tokens. The token's value is the
// double nearest the number; its op_id names the closed form, so the formula
// renders it as 1/(2*Pi) rather than 0.1592 and exports it exactly. A Real
// token with op_id 0 is a plain number.
//
// Two uses: the leaves of a search with named constants (1 to 5, pi, e), and
// the family that fitted constants are snapped to.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "formula/expression.hpp"

namespace tov {

// The bases, in the order of simplicity the snapping family uses.
enum class Basis : std::uint8_t {
  One,
  Pi,
  InvPi,
  Sqrt2,
  Sqrt3,
  E,
  SqrtPi,
  InvSqrtPi,
  Sqrt2Pi,
  InvSqrt2Pi,
  PiSquared,
  InvE,
  Ln2,
};
inline constexpr std::size_t kBasisCount = 13;

// (numerator / denominator) * basis, in lowest terms: denominator >= 1,
// gcd(|numerator|, denominator) = 1, and zero only as 0/1 * One.
struct ExactConstant {
  std::int64_t numerator = 0;
  std::uint64_t denominator = 1;
  Basis basis = Basis::One;

  friend bool operator==(const ExactConstant&, const ExactConstant&) = default;
};

// Codes hold |numerator| < 2^31 and denominator < 2^24.
inline constexpr std::int64_t kMaxExactNumerator = (std::int64_t{1} << 31) - 1;
inline constexpr std::uint64_t kMaxExactDenominator = (std::uint64_t{1} << 24) - 1;

// p/q * basis in lowest terms; none when q is 0 or a term is out of range.
std::optional<ExactConstant> make_exact(std::int64_t p, std::uint64_t q, Basis basis);

// The nonzero code a Real token's op_id carries, and back; decoding refuses
// every code that no constant in lowest terms has.
std::uint64_t exact_code(const ExactConstant& c);
std::optional<ExactConstant> decode_exact(std::uint64_t code);

// The double nearest the number (exact for rationals; from double-double
// values of the bases otherwise), the same on every IEEE platform.
double exact_value(const ExactConstant& c);

// Renderings: formula text ("2", "-3/5", "1/(2*Pi)", "Sqrt(2)/2"), LaTeX
// ("\frac{1}{2\pi}") and NumPy source ("1/(2*np.pi)").
std::string exact_formula_text(const ExactConstant& c);
std::string exact_latex(const ExactConstant& c);
std::string exact_python(const ExactConstant& c);

// Whether the LaTeX text sets factors side by side with nothing around
// them (4\pi, 3e, \ln 2, \pi^{2}): an exponent after it would bind to the
// last factor only.
bool exact_latex_is_product(const ExactConstant& c);

Token make_exact_token(const ExactConstant& c);
// A one-token expression holding the constant.
Expression make_exact_leaf(const ExactConstant& c);
// The constant a token holds: a Real token whose op_id decodes and whose
// value is exactly that constant's (imaginary part +0).
std::optional<ExactConstant> exact_of(const Token& token);

// The leaves of a search with named constants: 1, 2, 3, 4, 5, pi, e.
std::span<const ExactConstant> named_leaves();

// Bounds of the snapping family: |p| <= kFamilyHeight, q <= kFamilyHeight.
inline constexpr std::int64_t kFamilyHeight = 100;

// The members of the family within `window` * |value| of `value`, simplest
// first: 0 always leads; then by the cost max(|p|, q) + w, where the basis
// weight w is 0 for 1; 1 for pi and 1/pi; 2 for sqrt 2, sqrt 3 and e; 3 for
// the others (so 1/(2*Pi) before 3/19, 3/5 before 3/(2*Sqrt(2*Pi))); then by
// basis order, denominator and numerator. None but 0 for a value that is 0
// or not finite.
std::vector<ExactConstant> closed_forms_near(double value, double window);

}  // namespace tov
