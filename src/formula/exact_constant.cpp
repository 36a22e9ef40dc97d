// Exact constants: codes, values, renderings and the snapping family.
#include "formula/exact_constant.hpp"

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <numeric>
#include <string_view>

#include "numeric/decimal.hpp"

namespace tov {

namespace {

// One basis: what it adds to the cost of a family member, its value as a
// double-double (hi + lo, |lo| <= ulp(hi) / 2) and the texts of its factor
// above and below the fraction bar. The values are the mathematical
// constants rounded to 106 bits.
struct BasisInfo {
  std::uint64_t weight;
  double hi;
  double lo;
  std::string_view formula_above, formula_below;
  std::string_view latex_above, latex_below;
  std::string_view python_above, python_below;
};

// clang-format off
constexpr std::array<BasisInfo, kBasisCount> kBases = {{
    {0, 1.0, 0.0, "", "", "", "", "", ""},
    {1, 0x1.921fb54442d18p+1, 0x1.1a62633145c07p-53,
     "Pi", "", "\\pi", "", "np.pi", ""},
    {1, 0x1.45f306dc9c883p-2, -0x1.6b01ec5417056p-56,
     "", "Pi", "", "\\pi", "", "np.pi"},
    {2, 0x1.6a09e667f3bcdp+0, -0x1.bdd3413b26456p-54,
     "Sqrt(2)", "", "\\sqrt{2}", "", "np.sqrt(2)", ""},
    {2, 0x1.bb67ae8584caap+0, 0x1.cec95d0b5c1e3p-54,
     "Sqrt(3)", "", "\\sqrt{3}", "", "np.sqrt(3)", ""},
    {2, 0x1.5bf0a8b145769p+1, 0x1.4d57ee2b1013ap-53,
     "E", "", "e", "", "np.e", ""},
    {3, 0x1.c5bf891b4ef6bp+0, -0x1.618f13eb7ca89p-54,
     "Sqrt(Pi)", "", "\\sqrt{\\pi}", "", "np.sqrt(np.pi)", ""},
    {3, 0x1.20dd750429b6dp-1, 0x1.1ae3a914fed80p-57,
     "", "Sqrt(Pi)", "", "\\sqrt{\\pi}", "", "np.sqrt(np.pi)"},
    {3, 0x1.40d931ff62706p+1, -0x1.a6a0d6f814637p-53,
     "Sqrt(2*Pi)", "", "\\sqrt{2\\pi}", "", "np.sqrt(2*np.pi)", ""},
    {3, 0x1.9884533d43651p-2, -0x1.cbc0d30ebfd15p-56,
     "", "Sqrt(2*Pi)", "", "\\sqrt{2\\pi}", "", "np.sqrt(2*np.pi)"},
    {3, 0x1.3bd3cc9be45dep+3, 0x1.692b71366cc04p-51,
     "Pi^2", "", "\\pi^{2}", "", "np.pi**2", ""},
    {3, 0x1.78b56362cef38p-2, -0x1.ca8a4270fadf5p-57,
     "", "E", "", "e", "", "np.e"},
    {3, 0x1.62e42fefa39efp-1, 0x1.abc9e3b39803fp-56,
     "Log(2)", "", "\\ln 2", "", "np.log(2)", ""},
}};
// clang-format on

const BasisInfo& info(Basis basis) { return kBases[static_cast<std::size_t>(basis)]; }

// Error-free transformations (Dekker, Knuth): every step is one rounded
// operation, so the result is the same wherever doubles are IEEE.
struct DoubleDouble {
  double hi;
  double lo;
};

DoubleDouble two_sum(double a, double b) {
  const double s = a + b;
  const double bb = s - a;
  return {s, (a - (s - bb)) + (b - bb)};
}

DoubleDouble split(double a) {
  const double t = 134217729.0 * a;  // 2^27 + 1
  const double hi = t - (t - a);
  return {hi, a - hi};
}

DoubleDouble two_product(double a, double b) {
  const double p = a * b;
  const DoubleDouble x = split(a);
  const DoubleDouble y = split(b);
  return {p, ((x.hi * y.hi - p) + x.hi * y.lo + x.lo * y.hi) + x.lo * y.lo};
}

// (x * m) / d for a double-double x and integers m, d exact as doubles.
double scaled(DoubleDouble x, double m, double d) {
  DoubleDouble p = two_product(x.hi, m);
  p = two_sum(p.hi, p.lo + x.lo * m);
  const double q = p.hi / d;
  const DoubleDouble back = two_product(q, d);
  const double r = (((p.hi - back.hi) - back.lo) + p.lo) / d;
  return q + r;
}

// sign, the factor above the bar, and the one below (empty for none); the
// separator goes between an integer and a basis factor.
struct Parts {
  bool negative;
  std::string above;
  std::string below;
};

Parts parts(const ExactConstant& c, std::string_view above_basis, std::string_view below_basis,
            std::string_view times) {
  const std::uint64_t p = static_cast<std::uint64_t>(std::abs(c.numerator));
  Parts out{c.numerator < 0, {}, {}};
  if (above_basis.empty()) {
    out.above = decimal(p);
  } else if (p == 1) {
    out.above = above_basis;
  } else {
    out.above = decimal(p) + std::string(times) + std::string(above_basis);
  }
  if (c.denominator == 1) {
    out.below = below_basis;
  } else if (below_basis.empty()) {
    out.below = decimal(c.denominator);
  } else {
    out.below = decimal(c.denominator) + std::string(times) + std::string(below_basis);
  }
  return out;
}

// "a", "a/b", or "a/(q*b)" when the denominator is a product.
std::string inline_text(const ExactConstant& c, std::string_view above, std::string_view below) {
  const Parts p = parts(c, above, below, "*");
  std::string text = p.negative ? "-" : "";
  text += p.above;
  if (p.below.empty()) return text;
  const bool product = c.denominator != 1 && !below.empty();
  text += product ? "/(" + p.below + ")" : "/" + p.below;
  return text;
}

constexpr std::array<ExactConstant, 7> kNamedLeaves = {{
    {1, 1, Basis::One},
    {2, 1, Basis::One},
    {3, 1, Basis::One},
    {4, 1, Basis::One},
    {5, 1, Basis::One},
    {1, 1, Basis::Pi},
    {1, 1, Basis::E},
}};

}  // namespace

std::optional<ExactConstant> make_exact(std::int64_t p, std::uint64_t q, Basis basis) {
  if (q == 0 || static_cast<std::size_t>(basis) >= kBasisCount) return std::nullopt;
  if (p == 0) return ExactConstant{};
  if (p < -kMaxExactNumerator || p > kMaxExactNumerator) return std::nullopt;
  const std::uint64_t g = std::gcd(static_cast<std::uint64_t>(std::abs(p)), q);
  const auto d = q / g;
  if (d > kMaxExactDenominator) return std::nullopt;
  return ExactConstant{p / static_cast<std::int64_t>(g), d, basis};
}

std::uint64_t exact_code(const ExactConstant& c) {
  const auto numerator = static_cast<std::uint32_t>(static_cast<std::int32_t>(c.numerator));
  return (std::uint64_t{numerator} << 32) | (c.denominator << 8) |
         (static_cast<std::uint64_t>(c.basis) + 1);
}

std::optional<ExactConstant> decode_exact(std::uint64_t code) {
  const std::uint64_t basis = code & 0xFF;
  if (basis == 0 || basis > kBasisCount) return std::nullopt;
  const auto numerator =
      std::int64_t{static_cast<std::int32_t>(static_cast<std::uint32_t>(code >> 32))};
  const std::uint64_t denominator = (code >> 8) & kMaxExactDenominator;
  const std::optional<ExactConstant> c =
      make_exact(numerator, denominator, static_cast<Basis>(basis - 1));
  if (!c || exact_code(*c) != code) return std::nullopt;
  return c;
}

double exact_value(const ExactConstant& c) {
  const BasisInfo& b = info(c.basis);
  const double magnitude = scaled({b.hi, b.lo}, static_cast<double>(std::abs(c.numerator)),
                                  static_cast<double>(c.denominator));
  return c.numerator < 0 ? -magnitude : magnitude;
}

std::string exact_formula_text(const ExactConstant& c) {
  return inline_text(c, info(c.basis).formula_above, info(c.basis).formula_below);
}

std::string exact_python(const ExactConstant& c) {
  return inline_text(c, info(c.basis).python_above, info(c.basis).python_below);
}

std::string exact_latex(const ExactConstant& c) {
  const Parts p = parts(c, info(c.basis).latex_above, info(c.basis).latex_below, "");
  std::string text = p.negative ? "-" : "";
  if (p.below.empty()) return text + p.above;
  return text + "\\frac{" + p.above + "}{" + p.below + "}";
}

bool exact_latex_is_product(const ExactConstant& c) {
  const BasisInfo& b = info(c.basis);
  if (c.denominator != 1 || !b.latex_below.empty() || b.latex_above.empty()) return false;
  return std::abs(c.numerator) != 1 || c.basis == Basis::PiSquared || c.basis == Basis::Ln2;
}

Token make_exact_token(const ExactConstant& c) {
  Token token = Token::make_real(exact_value(c));
  token.op_id = exact_code(c);
  return token;
}

Expression make_exact_leaf(const ExactConstant& c) {
  Expression leaf;
  leaf.tokens.push_back(make_exact_token(c));
  leaf.formula = exact_formula_text(c);
  leaf.complexity = 1;
  return leaf;
}

std::optional<ExactConstant> exact_of(const Token& token) {
  if (token.kind != TokenKind::Real || token.arity != 0 || token.index != 0) return std::nullopt;
  const std::optional<ExactConstant> c = decode_exact(token.op_id);
  if (!c) return std::nullopt;
  const Token expected = make_exact_token(*c);
  const auto bits = [](double x) { return std::bit_cast<std::uint64_t>(x); };
  if (bits(expected.value.re) != bits(token.value.re) ||
      bits(expected.value.im) != bits(token.value.im))
    return std::nullopt;
  return c;
}

std::span<const ExactConstant> named_leaves() { return kNamedLeaves; }

std::vector<ExactConstant> closed_forms_near(double value, double window) {
  std::vector<ExactConstant> found{ExactConstant{}};
  if (!std::isfinite(value) || value == 0.0 || !(window >= 0.0)) return found;
  const double magnitude = std::fabs(value);
  const double reach = window * magnitude;
  const std::int64_t sign = value < 0.0 ? -1 : 1;
  std::vector<ExactConstant> near;
  for (std::size_t b = 0; b < kBasisCount; ++b) {
    const Basis basis = static_cast<Basis>(b);
    for (std::int64_t q = 1; q <= kFamilyHeight; ++q) {
      // Numerators whose value may lie in the window, one either side for
      // the rounding of this estimate; the exact test follows.
      const double centre = magnitude * static_cast<double>(q) / kBases[b].hi;
      const double spread = centre * window;
      const double first = std::max(1.0, std::floor(centre - spread) - 1.0);
      const double last =
          std::min(static_cast<double>(kFamilyHeight), std::ceil(centre + spread) + 1.0);
      for (double p = first; p <= last; p += 1.0) {
        const auto numerator = static_cast<std::int64_t>(p);
        if (std::gcd(numerator, q) != 1) continue;
        const ExactConstant c{sign * numerator, static_cast<std::uint64_t>(q), basis};
        if (std::fabs(exact_value(c) - value) <= reach) near.push_back(c);
      }
    }
  }
  const auto key = [](const ExactConstant& c) {
    const auto p = static_cast<std::uint64_t>(std::abs(c.numerator));
    return std::array<std::uint64_t, 4>{std::max(p, c.denominator) + info(c.basis).weight,
                                        static_cast<std::uint64_t>(c.basis), c.denominator, p};
  };
  std::stable_sort(near.begin(), near.end(),
                   [&](const ExactConstant& a, const ExactConstant& b) { return key(a) < key(b); });
  found.insert(found.end(), near.begin(), near.end());
  return found;
}

}  // namespace tov
