#include "engine/scoring.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "ops/registry.hpp"

namespace tov {
namespace {

constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

Expression param(double value) {
  Expression e = make_param_leaf();
  e.tokens[0].value = Complex{value, 0.0};
  return e;
}

Expression from_tokens(std::vector<Token> tokens) {
  Expression e;
  e.complexity = tokens.size();
  e.tokens = std::move(tokens);
  return e;
}

std::vector<std::vector<Complex>> rows(std::initializer_list<Complex> values) {
  std::vector<std::vector<Complex>> out;
  for (const Complex& v : values) out.push_back({v});
  return out;
}

struct RawErrorCase {
  const char* label;
  Expression expression;
  std::vector<std::vector<Complex>> samples;
  std::vector<double> targets;
  double alpha;
  double l1_ratio;
  double expected;
};

TEST(ComputeRawError, Table) {
  const OperatorRegistry registry = OperatorRegistry::with_builtins();
  const double below_limit = std::nextafter(1e15, 0.0);
  const Expression v0 = make_var_leaf(0);
  const Expression inverse = make_unary(op_id::kInv, "Inv", v0);
  const Expression scaled =
      from_tokens({Token::make_real(-3.0), Token::make_var(0), Token::make_op(2, op_id::kTimes)});
  const Expression shifted = from_tokens(
      {Token::make_real(-3.0), Token::make_param(0, {0.5, 9.0}), Token::make_op(2, op_id::kPlus)});
  const Expression pi_times = from_tokens({Token::make_const(op_id::kPi, {3.0, 0.0}),
                                           Token::make_var(0), Token::make_op(2, op_id::kTimes)});

  const RawErrorCase cases[] = {
      {"plain mse", v0, rows({{1, 0}, {4, 0}}), {2.0, 2.0}, 0.0, 0.5, (1.0 + 4.0) / 2.0},
      {"input at the limit on a leaf", v0, rows({{1, 0}, {1e15, 0}}), {0, 0}, 0.0, 0.5, kInf},
      {"negative input at the limit", v0, rows({{-1e15, 0}}), {0}, 0.0, 0.5, kInf},
      {"input just below the limit", v0, rows({{below_limit, 0}}), {below_limit}, 0.0, 0.5, 0.0},
      {"infinite input", v0, rows({{kInf, 0}}), {0}, 0.0, 0.5, kInf},
      {"imaginary part 1e14 ignored", v0, rows({{2, 1e14}}), {1.0}, 0.0, 0.5, 1.0},
      {"imaginary part 1e15", v0, rows({{2, 1e15}}), {1.0}, 0.0, 0.5, kInf},
      {"imaginary part -1e15", v0, rows({{2, -1e15}}), {1.0}, 0.0, 0.5, kInf},
      {"imaginary part NaN", v0, rows({{2, kNaN}}), {1.0}, 0.0, 0.5, kInf},
      {"stored parameter outside the limit", param(-1e15), rows({{0, 0}}), {0}, 0.0, 0.5, kInf},
      {"failing sample", inverse, rows({{2, 0}, {0, 0}, {4, 0}}), {0, 0, 0}, 0.0, 0.5, kInf},
      {"penalty of C = 0.1",
       param(0.1),
       rows({{0, 0}, {0, 0}}),
       {0.1, 0.1},
       0.2,
       0.5,
       0.2 * (0.5 * 0.1 + ((1.0 - 0.5) * 0.5) * (0.1 * 0.1))},
      {"penalty on top of the mse",
       param(0.1),
       rows({{0, 0}}),
       {1.1},
       0.2,
       0.5,
       (0.1 - 1.1) * (0.1 - 1.1) + 0.2 * (0.5 * 0.1 + 0.25 * (0.1 * 0.1))},
      {"real literal counted",
       scaled,
       rows({{1, 0}, {2, 0}}),
       {-3.0, -6.0},
       1.0,
       0.5,
       0.5 * 3.0 + 0.25 * 9.0},
      {"real then parameter, real part only",
       shifted,
       rows({{0, 0}}),
       {-2.5},
       1.0,
       0.5,
       0.5 * (3.0 + 0.5) + 0.25 * (9.0 + 0.25)},
      {"named constant not counted", pi_times, rows({{1, 0}}), {3.0}, 1.0, 0.5, 0.0},
      {"more samples than targets",
       v0,
       rows({{1, 0}, {3, 0}, {100, 0}}),
       {0, 0},
       0.0,
       0.5,
       (1.0 + 9.0) / 2.0},
      {"more targets than samples",
       v0,
       rows({{1, 0}, {3, 0}}),
       {0, 0, 7},
       0.0,
       0.5,
       (1.0 + 9.0) / 3.0},
  };
  for (const RawErrorCase& c : cases) {
    const double got =
        compute_raw_error(c.expression, c.samples, c.targets, registry.ops(), c.alpha, c.l1_ratio);
    EXPECT_EQ(got, c.expected) << c.label;
  }
}

TEST(ComputeRawError, PenaltyExampleIsTheDocumentedValue) {
  const OperatorRegistry registry = OperatorRegistry::with_builtins();
  const double got = compute_raw_error(param(0.1), rows({{5, 0}}), std::vector<double>{0.1},
                                       registry.ops(), 0.2, 0.5);
  EXPECT_NEAR(got, 0.0105, 1e-17);
}

TEST(ScoringFactors, ScoreInflatesErrorByComplexity) {
  EXPECT_EQ(complexity_factor(0.1, 3), 0.1 * 3.0 + 1.0);
  EXPECT_EQ(candidate_score(2.0, 3, 0.1), 2.0 * (0.1 * 3.0 + 1.0));
  EXPECT_EQ(candidate_score(2.0, 7, 0.0), 2.0);
}

}  // namespace
}  // namespace tov
