// Exact constants: values, renderings, codes, tokens and the snapping family.
#include "formula/exact_constant.hpp"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>
#include <string>
#include <vector>

namespace tov {
namespace {

struct Row {
  ExactConstant c;
  double value;  // the nearest double, from a 50-digit evaluation
  const char* formula;
  const char* latex;
  const char* python;
};

const Row kRows[] = {
    {{0, 1, Basis::One}, 0.0, "0", "0", "0"},
    {{1, 1, Basis::One}, 1.0, "1", "1", "1"},
    {{-3, 5, Basis::One}, -0.6, "-3/5", "-\\frac{3}{5}", "-3/5"},
    {{1, 2, Basis::InvPi}, 0x1.45f306dc9c883p-3, "1/(2*Pi)", "\\frac{1}{2\\pi}", "1/(2*np.pi)"},
    {{4, 1, Basis::Pi}, 0x1.921fb54442d18p+3, "4*Pi", "4\\pi", "4*np.pi"},
    {{1, 1, Basis::InvSqrt2Pi},
     0x1.9884533d43651p-2,
     "1/Sqrt(2*Pi)",
     "\\frac{1}{\\sqrt{2\\pi}}",
     "1/np.sqrt(2*np.pi)"},
    {{1, 2, Basis::Sqrt2},
     0x1.6a09e667f3bcdp-1,
     "Sqrt(2)/2",
     "\\frac{\\sqrt{2}}{2}",
     "np.sqrt(2)/2"},
    {{1, 6, Basis::PiSquared}, 0x1.a51a6625307d3p+0, "Pi^2/6", "\\frac{\\pi^{2}}{6}", "np.pi**2/6"},
    {{3, 1, Basis::E}, 0x1.04f47e84f418fp+3, "3*E", "3e", "3*np.e"},
    {{2, 3, Basis::InvE}, 0x1.f6472f2e6944ap-3, "2/(3*E)", "\\frac{2}{3e}", "2/(3*np.e)"},
    {{1, 1, Basis::Ln2}, 0x1.62e42fefa39efp-1, "Log(2)", "\\ln 2", "np.log(2)"},
    {{-7, 3, Basis::SqrtPi},
     -0x1.08afbaa543654p+2,
     "-7*Sqrt(Pi)/3",
     "-\\frac{7\\sqrt{\\pi}}{3}",
     "-7*np.sqrt(np.pi)/3"},
    {{5, 4, Basis::Sqrt3},
     0x1.1520cd1372febp+1,
     "5*Sqrt(3)/4",
     "\\frac{5\\sqrt{3}}{4}",
     "5*np.sqrt(3)/4"},
    {{3, 2, Basis::Sqrt2Pi},
     0x1.e145caff13a88p+1,
     "3*Sqrt(2*Pi)/2",
     "\\frac{3\\sqrt{2\\pi}}{2}",
     "3*np.sqrt(2*np.pi)/2"},
    {{2, 7, Basis::InvSqrtPi},
     0x1.4a21aa4de687dp-3,
     "2/(7*Sqrt(Pi))",
     "\\frac{2}{7\\sqrt{\\pi}}",
     "2/(7*np.sqrt(np.pi))"},
};

std::uint64_t bits(double x) { return std::bit_cast<std::uint64_t>(x); }

TEST(ExactConstant, ValuesAndRenderings) {
  for (const Row& row : kRows) {
    SCOPED_TRACE(row.formula);
    EXPECT_EQ(bits(exact_value(row.c)), bits(row.value));
    EXPECT_EQ(exact_formula_text(row.c), row.formula);
    EXPECT_EQ(exact_latex(row.c), row.latex);
    EXPECT_EQ(exact_python(row.c), row.python);
  }
}

// Against an independent long double evaluation: within half a unit in the
// last place (and a margin for the reference's own rounding).
TEST(ExactConstant, EveryValueIsTheNearestDouble) {
  const long double bases[kBasisCount] = {1.0L,
                                          3.14159265358979323846264338327950288L,
                                          0.318309886183790671537767526745028724L,
                                          1.41421356237309504880168872420969808L,
                                          1.73205080756887729352744634150587237L,
                                          2.71828182845904523536028747135266250L,
                                          1.77245385090551602729816748334114518L,
                                          0.564189583547756286948079451560772586L,
                                          2.50662827463100050241576528481104525L,
                                          0.398942280401432677939946059934381868L,
                                          9.86960440108935861883449099987615114L,
                                          0.367879441171442321595523770161460867L,
                                          0.693147180559945309417232121458176568L};
  for (std::size_t b = 0; b < kBasisCount; ++b) {
    for (std::int64_t p = -kFamilyHeight; p <= kFamilyHeight; p += 7) {
      for (std::uint64_t q = 1; q <= 100; q += 3) {
        const std::optional<ExactConstant> c = make_exact(p, q, static_cast<Basis>(b));
        ASSERT_TRUE(c.has_value());
        const double v = exact_value(*c);
        const long double reference = static_cast<long double>(p) * bases[b] / q;
        const long double ulp =
            std::nextafter(std::fabs(v), std::numeric_limits<double>::infinity()) - std::fabs(v);
        EXPECT_LE(std::fabs(v - reference), ulp * 0.5000001L) << b << " " << p << "/" << q;
      }
    }
  }
}

TEST(ExactConstant, MakeReducesAndRefuses) {
  EXPECT_EQ(make_exact(6, 4, Basis::Pi), (ExactConstant{3, 2, Basis::Pi}));
  EXPECT_EQ(make_exact(-6, 3, Basis::One), (ExactConstant{-2, 1, Basis::One}));
  EXPECT_EQ(make_exact(0, 7, Basis::E), ExactConstant{});
  EXPECT_FALSE(make_exact(1, 0, Basis::One));
  EXPECT_FALSE(make_exact(kMaxExactNumerator + 1, 1, Basis::One));
  EXPECT_FALSE(make_exact(-kMaxExactNumerator - 1, 1, Basis::One));
  EXPECT_FALSE(make_exact(1, kMaxExactDenominator + 1, Basis::One));
  EXPECT_TRUE(make_exact(2, 2 * kMaxExactDenominator, Basis::One));
  EXPECT_FALSE(make_exact(1, 1, static_cast<Basis>(kBasisCount)));
}

TEST(ExactConstant, CodesRoundTripAndRefuseWhatNoConstantHas) {
  for (const Row& row : kRows) {
    const std::uint64_t code = exact_code(row.c);
    EXPECT_NE(code, 0u);
    EXPECT_EQ(decode_exact(code), row.c) << row.formula;
  }
  const ExactConstant extreme{-kMaxExactNumerator, kMaxExactDenominator, Basis::Ln2};
  EXPECT_EQ(decode_exact(exact_code(extreme)), extreme);
  const std::uint64_t half = exact_code({1, 2, Basis::One});
  const struct {
    const char* what;
    std::uint64_t code;
  } refused[] = {
      {"no basis", 0},
      {"basis past the last", half - 1 + kBasisCount + 1},
      {"zero denominator", half & ~(std::uint64_t{0xFFFFFF} << 8)},
      {"not in lowest terms", exact_code({2, 4, Basis::One})},
      {"zero with a denominator", exact_code({0, 3, Basis::One})},
      {"zero with a basis", exact_code({0, 1, Basis::Pi})},
  };
  for (const auto& r : refused) EXPECT_FALSE(decode_exact(r.code)) << r.what;
}

TEST(ExactConstant, TokensAndLeaves) {
  const ExactConstant c{1, 2, Basis::InvPi};
  const Token token = make_exact_token(c);
  EXPECT_EQ(token.kind, TokenKind::Real);
  EXPECT_EQ(token.op_id, exact_code(c));
  EXPECT_EQ(bits(token.value.re), bits(exact_value(c)));
  EXPECT_EQ(exact_of(token), c);

  const Expression leaf = make_exact_leaf(c);
  EXPECT_EQ(leaf.formula, "1/(2*Pi)");
  EXPECT_EQ(leaf.complexity, 1u);
  EXPECT_EQ(leaf.param_count, 0u);
  EXPECT_EQ(leaf.var_count, 0u);

  Token off = token;
  off.value.re = std::nextafter(off.value.re, 1.0);
  Token imaginary = token;
  imaginary.value.im = -0.0;
  Token param = token;
  param.kind = TokenKind::Param;
  for (const Token& t : {off, imaginary, param, Token::make_real(token.value.re)})
    EXPECT_FALSE(exact_of(t));
}

TEST(ExactConstant, LatexProducts) {
  const struct {
    ExactConstant c;
    bool product;
  } cases[] = {
      {{4, 1, Basis::Pi}, true},     {{3, 1, Basis::E}, true},
      {{1, 1, Basis::Ln2}, true},    {{1, 1, Basis::PiSquared}, true},
      {{-2, 1, Basis::Sqrt2}, true}, {{1, 1, Basis::Pi}, false},
      {{7, 1, Basis::One}, false},   {{1, 2, Basis::Pi}, false},
      {{1, 1, Basis::InvPi}, false}, {{1, 1, Basis::Sqrt2Pi}, false},
  };
  for (const auto& row : cases)
    EXPECT_EQ(exact_latex_is_product(row.c), row.product) << exact_latex(row.c);
}

TEST(ExactConstant, NamedLeaves) {
  std::vector<std::string> texts;
  std::vector<double> values;
  for (const ExactConstant& c : named_leaves()) {
    texts.push_back(exact_formula_text(c));
    values.push_back(exact_value(c));
  }
  EXPECT_EQ(texts, (std::vector<std::string>{"1", "2", "3", "4", "5", "Pi", "E"}));
  EXPECT_EQ(values, (std::vector<double>{1, 2, 3, 4, 5, 3.141592653589793, 2.718281828459045}));
}

TEST(ExactConstant, FamilyNearAValueSimplestFirst) {
  const struct {
    double value;
    ExactConstant first;
  } cases[] = {
      {0.15915494309189535, {1, 2, Basis::InvPi}},
      {0.3989422804014331, {1, 1, Basis::InvSqrt2Pi}},
      {0.5, {1, 2, Basis::One}},
      {-0.6000000000000001, {-3, 5, Basis::One}},
      {12.566370614359172, {4, 1, Basis::Pi}},
      {1.6449340668482264, {3, 5, Basis::E}},  // cost 5 + 2, before pi^2/6 at 6 + 3
  };
  const std::uint64_t weights[kBasisCount] = {0, 1, 1, 2, 2, 2, 3, 3, 3, 3, 3, 3, 3};
  const auto key = [&](const ExactConstant& c) {
    const auto p = static_cast<std::uint64_t>(std::abs(c.numerator));
    return std::vector<std::uint64_t>{
        std::max(p, c.denominator) + weights[static_cast<std::size_t>(c.basis)],
        static_cast<std::uint64_t>(c.basis), c.denominator, p};
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.value);
    const std::vector<ExactConstant> near = closed_forms_near(c.value, 0.01);
    ASSERT_GE(near.size(), 2u);
    EXPECT_EQ(near[0], ExactConstant{});
    EXPECT_EQ(near[1], c.first);
    for (std::size_t i = 1; i < near.size(); ++i) {
      EXPECT_LE(std::fabs(exact_value(near[i]) - c.value), 0.01 * std::fabs(c.value));
      EXPECT_LE(std::abs(near[i].numerator), kFamilyHeight);
      EXPECT_LE(near[i].denominator, std::uint64_t(kFamilyHeight));
      EXPECT_EQ((near[i].numerator < 0), (c.value < 0));
      if (i > 1) {
        EXPECT_LT(key(near[i - 1]), key(near[i]));
      }
    }
  }
  for (const double v : {0.0, std::numeric_limits<double>::quiet_NaN(),
                         std::numeric_limits<double>::infinity(), 1e300})
    EXPECT_EQ(closed_forms_near(v, 0.01), std::vector<ExactConstant>{ExactConstant{}}) << v;
}

}  // namespace
}  // namespace tov
