// The builders of builtin formulas: powers, and the replay of token lists.
#include "formula/builder.hpp"

#include <gtest/gtest.h>

#include <string>
#include <variant>
#include <vector>

#include "formula/exact_constant.hpp"
#include "ops/registry.hpp"

namespace tov {
namespace {

const Expression x = make_var_leaf(0);

std::string text(const Replayed& r) {
  if (const std::string* reason = std::get_if<std::string>(&r)) return "refused: " + *reason;
  return std::get<Expression>(r).formula;
}

TEST(Builder, PowersByTheOneRule) {
  const struct {
    Rational e;
    const char* formula;
  } cases[] = {
      {Rational(1), "v_{0}"},
      {Rational(2), "Square(v_{0})"},
      {Rational(3), "Cube(v_{0})"},
      {Rational(4), "Square(Square(v_{0}))"},
      {Rational(5), "Times(Square(Square(v_{0})), v_{0})"},
      {Rational(6), "Square(Cube(v_{0}))"},
      {Rational(9), "Cube(Cube(v_{0}))"},
      {Rational(1, 2), "Sqrt(v_{0})"},
      {Rational(3, 2), "Cube(Sqrt(v_{0}))"},
      {Rational(5, 2), "Times(Square(v_{0}), Sqrt(v_{0}))"},
      {Rational(7, 2), "Times(Cube(v_{0}), Sqrt(v_{0}))"},
      {Rational(9, 2), "Times(Square(Square(v_{0})), Sqrt(v_{0}))"},
  };
  for (const auto& c : cases) EXPECT_EQ(power_of(x, c.e).formula, c.formula) << c.e.num();
}

TEST(Builder, ReplayGivesBackWhatTheRulesBuilt) {
  const Expression sum = binary(op_id::kPlus, binary(op_id::kTimes, constant_leaf(2.5), x),
                                unary(op_id::kSin, make_var_leaf(3)));
  const Replayed again = replay(sum.tokens, search_leaf);
  ASSERT_TRUE(std::holds_alternative<Expression>(again)) << text(again);
  const Expression& e = std::get<Expression>(again);
  EXPECT_EQ(e.formula, sum.formula);
  EXPECT_EQ(e.var_count, sum.var_count);
  EXPECT_EQ(e.param_count, sum.param_count);
  EXPECT_EQ(e.tokens[0].value.re, 2.5);
  // Exact constants are leaves a search produces.
  const Expression pi = make_exact_leaf(named_leaves()[5]);
  EXPECT_EQ(text(replay(binary(op_id::kTimes, pi, x).tokens, search_leaf)),
            "Times(" + pi.formula + ", v_{0})");
}

TEST(Builder, ReplayRefusesWhatTheRulesCannotBuild) {
  const struct {
    std::vector<Token> tokens;
    const char* refusal;
  } cases[] = {
      {{Token::make_var(0), Token::make_op(1, op_id::kPlus)},
       "refused: token 1: arity differs from operator's"},
      {{Token::make_var(0), Token::make_op(2, op_id::kPlus)}, "refused: token 1: too few operands"},
      {{Token::make_var(0), Token::make_op(1, 2)}, "refused: token 1: no such operator"},
      {{Token::make_var(0), Token::make_op(1, op_id::kBuiltinCount)},
       "refused: token 1: no such operator"},
      {{Token::make_var(0), Token::make_var(1)},
       "refused: tokens do not form exactly one expression"},
      {{}, "refused: tokens do not form exactly one expression"},
      {{Token::make_real(1.5)}, "refused: token 0: kind never produced by a search"},
      {{Token::make_const(0, {1.0, 0.0})}, "refused: token 0: kind never produced by a search"},
      {{Token::make_var(255)}, "refused: token 0: variable index too large"},
  };
  for (const auto& c : cases) EXPECT_EQ(text(replay(c.tokens, search_leaf)), c.refusal);
}

}  // namespace
}  // namespace tov
