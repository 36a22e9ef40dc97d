#include "fit/scoring.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
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

// Predictions whose real parts vary only by the rounding of their values
// carry no signal; the affine map must not scale that rounding up.
TEST(FitAffine, RealPartsThatVaryOnlyByRoundingAreNoSignal) {
  constexpr double eps = std::numeric_limits<double>::epsilon();
  std::vector<double> x;
  std::vector<double> targets;
  for (int i = 0; i < 40; ++i) {
    x.push_back(1.5 + 0.0875 * i);
    targets.push_back(x.back() * x.back() / (x.back() * x.back() - 1.0));
  }
  const Objective objective = Objective::make(targets, {}, true, 0.0, 0.5);
  struct Case {
    const char* label;
    std::function<Complex(std::size_t)> f;
    bool signal;
  };
  const Case cases[] = {
      // tan(asin x) for x > 1: the real part is the rounding of 0 and happens
      // to be an affine function of the targets.
      {"rounding of 0 beside a large imaginary part",
       [&](std::size_t i) {
         const double d = x[i] * x[i] - 1.0;
         return Complex{1.2e-16 / (2.0 * d), x[i] / std::sqrt(d)};
       },
       false},
      {"real values a few eps apart",
       [&](std::size_t i) {
         return Complex{1.0 + static_cast<double>(i % 4) * eps, 0.0};
       },
       false},
      {"real values 1e-13 apart",
       [&](std::size_t i) {
         return Complex{1.0 + 1e-13 * x[i], 0.0};
       },
       true},
      {"rounding-sized real part beside a small imaginary part",
       [&](std::size_t i) {
         return Complex{1e-16 * x[i], 1e-4};
       },
       true},
  };
  for (const Case& c : cases) {
    const Affine map = fit_affine(c.f, x.size(), objective);
    EXPECT_EQ(map.a != 0.0, c.signal) << c.label;
    if (!c.signal) {
      const Affine flat = fit_affine([](std::size_t) { return 0.0; }, x.size(), objective);
      EXPECT_EQ(map.b, flat.b) << c.label;
    }
  }
  // A complex column with a real signal is fitted on its real parts alone.
  const Affine complex_map = fit_affine(
      [&](std::size_t i) {
        return Complex{x[i], 3.0 * x[i]};
      },
      x.size(), objective);
  const Affine real_map = fit_affine([&](std::size_t i) { return x[i]; }, x.size(), objective);
  EXPECT_EQ(complex_map.a, real_map.a);
  EXPECT_EQ(complex_map.b, real_map.b);
}

TEST(FitAffine, ARealPartThatIsRoundingScoresAsAConstant) {
  // tan(asin x) is imaginary for x > 1; with linear scaling it once scored
  // 1e-31 on x^2 / (x^2 - 1) by scaling its real part's rounding by 1e16.
  const OperatorRegistry registry = OperatorRegistry::with_builtins();
  std::vector<std::vector<Complex>> samples;
  std::vector<double> targets;
  for (int i = 0; i < 100; ++i) {
    const double x = 1.5 + 0.035 * i;
    samples.push_back({{x, 0.0}});
    targets.push_back(x * x / (x * x - 1.0));
  }
  const Expression tan_asin =
      make_unary(op_id::kTan, "Tan", make_unary(op_id::kArcSin, "ArcSin", make_var_leaf(0)));
  const Objective scaled = Objective::make(targets, {}, true, 0.0, 0.5);
  EXPECT_EQ(compute_raw_error(tan_asin, samples, scaled, registry.ops()),
            compute_raw_error(param(1.0), samples, scaled, registry.ops()));
}

TEST(ScoringFactors, ScoreInflatesErrorByComplexity) {
  EXPECT_EQ(complexity_factor(0.1, 3), 0.1 * 3.0 + 1.0);
  EXPECT_EQ(candidate_score(2.0, 3, 0.1), 2.0 * (0.1 * 3.0 + 1.0));
  EXPECT_EQ(candidate_score(2.0, 7, 0.0), 2.0);
}

}  // namespace
}  // namespace tov
