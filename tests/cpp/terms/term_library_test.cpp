#include "terms/term_library.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <optional>
#include <string>
#include <vector>

#include "ops/registry.hpp"
#include "terms/power_products.hpp"

namespace tov {
namespace {

const Expression x = make_var_leaf(0);
const Expression y = make_var_leaf(1);
const Expression c = constant_leaf(2.5);

TEST(TermLibrary, StripsTheWrappersOfEachKind) {
  const Expression sin_x = unary(op_id::kSin, x);
  const Expression xy = binary(op_id::kTimes, x, y);
  struct Case {
    Expression formula;
    std::string affine;
    std::string multiplicative;
  };
  const std::vector<Case> cases = {
      {binary(op_id::kPlus, binary(op_id::kTimes, c, sin_x), c), "Sin(v_{0})",
       "Plus(Times(C, Sin(v_{0})), C)"},
      {binary(op_id::kSubtract, c, unary(op_id::kNeg, sin_x)), "Sin(v_{0})",
       "Subtract(C, Neg(Sin(v_{0})))"},
      {binary(op_id::kDivide, c, sin_x), "Divide(C, Sin(v_{0}))", "Sin(v_{0})"},
      {unary(op_id::kInv, sin_x), "Inv(Sin(v_{0}))", "Sin(v_{0})"},
      {binary(op_id::kPlus, x, unary(op_id::kTan, c)), "v_{0}", "Plus(v_{0}, Tan(C))"},
      {binary(op_id::kTimes, x, binary(op_id::kDivide, y, c)), "Times(v_{0}, v_{1})",
       "Times(v_{0}, v_{1})"},
      {binary(op_id::kDivide, binary(op_id::kTimes, c, xy), unary(op_id::kNeg, y)),
       "Divide(Times(v_{0}, v_{1}), v_{1})", "Divide(Times(v_{0}, v_{1}), v_{1})"},
      {binary(op_id::kPlus, x, y), "Plus(v_{0}, v_{1})", "Plus(v_{0}, v_{1})"},
  };
  for (const Case& k : cases) {
    EXPECT_EQ(strip(k.formula, Wrappers::Affine).formula, k.affine) << k.formula.formula;
    EXPECT_EQ(strip(k.formula, Wrappers::Multiplicative).formula, k.multiplicative)
        << k.formula.formula;
  }
}

TEST(TermLibrary, RebuildKeepsTokensAndValues) {
  const Expression e =
      binary(op_id::kPlus, binary(op_id::kTimes, constant_leaf(-1.25), unary(op_id::kCos, y)),
             constant_leaf(0.75));
  const std::optional<Expression> again = rebuild(e.tokens);
  ASSERT_TRUE(again);
  EXPECT_EQ(again->formula, e.formula);
  EXPECT_EQ(again->complexity, e.complexity);
  EXPECT_EQ(again->param_count, e.param_count);
  for (std::size_t k = 0; k < e.tokens.size(); ++k) {
    EXPECT_EQ(again->tokens[k].kind, e.tokens[k].kind);
    EXPECT_EQ(again->tokens[k].index, e.tokens[k].index);
    EXPECT_EQ(again->tokens[k].value.re, e.tokens[k].value.re);
  }
  EXPECT_FALSE(rebuild(std::vector<Token>{Token::make_real(1.0)}));
  EXPECT_FALSE(rebuild(std::vector<Token>{x.tokens[0], x.tokens[0]}));
}

TEST(TermLibrary, HoldsTheVariablesFirstAndEachFormulaOnce) {
  const std::vector<Expression> retained = {binary(op_id::kTimes, c, x), unary(op_id::kSquare, y),
                                            binary(op_id::kPlus, unary(op_id::kSquare, y), c),
                                            unary(op_id::kExp, x)};
  std::vector<std::string> names;
  for (const Expression& e : term_library(3, retained, Wrappers::Affine))
    names.push_back(e.formula);
  EXPECT_EQ(names,
            (std::vector<std::string>{"v_{0}", "v_{1}", "v_{2}", "Square(v_{1})", "Exp(v_{0})"}));
}

TEST(PowerProducts, WritesPowersWithTheCatalogue) {
  const std::vector<std::pair<int, std::string>> cases = {
      {1, "Sqrt(v_{0})"},
      {2, "v_{0}"},
      {3, "Cube(Sqrt(v_{0}))"},
      {4, "Square(v_{0})"},
      {5, "Times(Square(v_{0}), Sqrt(v_{0}))"},
      {6, "Cube(v_{0})"},
      {7, "Times(Cube(v_{0}), Sqrt(v_{0}))"},
      {8, "Square(Square(v_{0}))"},
      {-4, "Square(v_{0})"},
  };
  for (const auto& [halves, text] : cases) EXPECT_EQ(power(x, halves).formula, text) << halves;
}

TEST(PowerProducts, PutsNegativeExponentsBelow) {
  const Expression z = make_var_leaf(2);
  const std::vector<Expression> factors = {x, y, z};
  struct Case {
    std::vector<int> halves;
    std::string formula;
  };
  const std::vector<Case> cases = {
      {{2, 4, 1}, "Times(C, Times(v_{0}, Times(Square(v_{1}), Sqrt(v_{2}))))"},
      {{-2, -2, -6}, "Divide(C, Times(v_{0}, Times(v_{1}, Cube(v_{2}))))"},
      {{2, -4, 2}, "Divide(Times(C, Times(v_{0}, v_{2})), Square(v_{1}))"},
  };
  for (const Case& k : cases) {
    const Expression p = product_formula(3.0, factors, k.halves);
    EXPECT_EQ(p.formula, k.formula);
    EXPECT_EQ(p.tokens[0].kind, TokenKind::Param);
    EXPECT_EQ(p.tokens[0].value.re, 3.0);
  }
}

// A column whose real parts vary only by their rounding never reaches a
// model: a sum or product would scale the rounding up into a false fit.
TEST(TermLibrary, ColumnsOfRoundingAreNoSignal) {
  std::vector<Complex> imaginary;
  std::vector<Complex> real;
  std::vector<Complex> flat;
  for (int i = 0; i < 30; ++i) {
    const double t = 1.5 + 0.1 * i;
    imaginary.push_back({1.2e-16 / (t * t - 1.0), t / std::sqrt(t * t - 1.0)});
    real.push_back({t, 0.25 * t});
    flat.push_back({3.0, 0.0});
  }
  EXPECT_FALSE(real_signal(imaginary, {}));
  EXPECT_FALSE(real_signal(flat, {}));
  const std::optional<std::vector<double>> column = real_signal(real, {});
  ASSERT_TRUE(column);
  for (std::size_t i = 0; i < real.size(); ++i) EXPECT_EQ((*column)[i], real[i].re);
  // Weights: the rows that weigh nothing do not make a column vary.
  std::vector<Complex> one_outlier = flat;
  one_outlier[7] = {5.0, 0.0};
  std::vector<double> weights(30, 1.0);
  EXPECT_TRUE(real_signal(one_outlier, weights));
  weights[7] = 0.0;
  EXPECT_FALSE(real_signal(one_outlier, weights));
}

}  // namespace
}  // namespace tov
