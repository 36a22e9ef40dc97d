#include "fit/optimizer.hpp"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "ops/registry.hpp"

namespace tov {
namespace {

constexpr double kInf = std::numeric_limits<double>::infinity();

using Rows = std::vector<std::vector<Complex>>;

Rows column(std::initializer_list<double> xs) {
  Rows out;
  for (const double x : xs) out.push_back({Complex{x, 0.0}});
  return out;
}

Expression param(double value) {
  Expression e = make_param_leaf();
  e.tokens[0].value = Complex{value, 0.0};
  return e;
}

std::vector<double> params_of(const Expression& e) {
  std::vector<double> p;
  for (const Token& t : e.tokens) {
    if (t.kind == TokenKind::Param) p.push_back(t.value.re);
  }
  return p;
}

bool same_bits(double a, double b) {
  return std::bit_cast<std::uint64_t>(a) == std::bit_cast<std::uint64_t>(b);
}

class ReferenceRefineTest : public ::testing::Test {
 protected:
  const OperatorRegistry registry_ = OperatorRegistry::with_builtins();

  Expression unary(std::uint64_t id, const Expression& child) const {
    return make_unary(id, registry_.metas()[id].name, child);
  }
  Expression binary(std::uint64_t id, const Expression& left, const Expression& right) const {
    return make_binary(id, registry_.metas()[id].name, left, right);
  }
  Refined refine(const Expression& e, const Rows& samples, const std::vector<double>& targets,
                 std::size_t cap, double alpha = 0.0, double l1_ratio = 0.5) const {
    return refine_constants(e, samples, targets, registry_.ops(), cap, alpha, l1_ratio);
  }
  double objective(const Expression& e, std::span<const double> p, const Rows& samples,
                   const std::vector<double>& targets, double alpha = 0.0,
                   double l1_ratio = 0.5) const {
    return compute_error_with_params(e, p, samples, targets, registry_.ops(), alpha, l1_ratio);
  }
};

TEST_F(ReferenceRefineTest, ObjectiveWithExplicitParameters) {
  // C * v0 + 2 with the Real literal 2.
  Expression e = binary(op_id::kTimes, param(0.1), make_var_leaf(0));
  e.tokens.push_back(Token::make_real(2.0));
  e.tokens.push_back(Token::make_op(2, op_id::kPlus));
  e.complexity = e.tokens.size();
  const Rows samples = column({1.0, 2.0});
  const std::vector<double> targets = {5.0, 9.0};
  const double p[] = {-3.0};
  // Residuals -3 - 5 + 2 = -6 and -6 - 9 + 2 = -13; the vector, not the stored
  // 0.1, enters the penalty, before the literal.
  const double expected =
      (36.0 + 169.0) / 2.0 + 0.5 * (0.25 * (3.0 + 2.0) + ((1.0 - 0.25) * 0.5) * (9.0 + 4.0));
  EXPECT_EQ(objective(e, p, samples, targets, 0.5, 0.25), expected);
  EXPECT_EQ(objective(unary(op_id::kInv, make_var_leaf(0)), {}, column({1.0, 0.0}), {1.0, 1.0}),
            kInf);
  EXPECT_EQ(objective(param(1.0), {}, column({1.0, 2.0}), {1.0}), kInf);
}

TEST_F(ReferenceRefineTest, ConstantTargetsConvergeToTheConstant) {
  const Expression c = make_param_leaf();
  const Rows samples = column({-1.0, 0.0, 1.0, 2.0, 5.0});
  const std::vector<double> targets(samples.size(), 3.0);
  for (const std::size_t cap : {10u, 30u}) {
    const Refined r = refine(c, samples, targets, cap);
    EXPECT_NEAR(r.expression.tokens[0].value.re, 3.0, 1e-6);
    EXPECT_EQ(r.expression.tokens[0].value.im, 0.0);
    EXPECT_LT(r.error, 1e-10);
    EXPECT_EQ(r.expression.formula, "C");
  }
}

TEST_F(ReferenceRefineTest, UnimprovableStartComesBackUnchanged) {
  struct Case {
    const char* label;
    Expression expression;
    Rows samples;
    std::vector<double> targets;
  };
  const Expression exp_cx = unary(op_id::kExp, binary(op_id::kTimes, param(0.1), make_var_leaf(0)));
  const Case cases[] = {
      // Zero residual: every trial equals the start and is rejected.
      {"already exact", param(0.1), column({1.0, 2.0}), {0.1, 0.1}},
      // The step towards the targets leaves the evaluator's range at v0 = 40,
      // so every trial fails and is rejected.
      {"every trial fails", exp_cx, column({1.0, 40.0}), {std::exp(1.0), std::exp(40.0)}},
      // Log(C * 0) fails for every C: the start and every trial are +inf.
      {"never evaluable",
       unary(op_id::kLog, binary(op_id::kTimes, param(0.1), make_var_leaf(0))),
       column({0.0, 1.0}),
       {1.0, 1.0}},
  };
  for (const Case& c : cases) {
    const std::vector<double> start = params_of(c.expression);
    const double start_objective = objective(c.expression, start, c.samples, c.targets);
    const Refined r = refine(c.expression, c.samples, c.targets, 30);
    const std::vector<double> got = params_of(r.expression);
    ASSERT_EQ(got.size(), start.size()) << c.label;
    for (std::size_t k = 0; k < got.size(); ++k) {
      EXPECT_TRUE(same_bits(got[k], start[k])) << c.label;
    }
    EXPECT_TRUE(same_bits(r.error, start_objective)) << c.label;
  }
}

// 7 * C^2 against a negative target is best at C = 0 and grows with |C|. From
// C = 0.1 the step is about -1.4 r / (1.96 + lambda) for residual r, so the
// target decides how many of the trials at lambda 0.01, 0.1, 1, 10 overshoot
// past -0.1: two overshoots are tolerated, the third ends the run.
TEST_F(ReferenceRefineTest, ThirdConsecutiveRejectionEndsTheRun) {
  const Expression e = binary(op_id::kTimes, make_var_leaf(0), unary(op_id::kSquare, param(0.1)));
  const Rows samples = column({7.0});
  struct Case {
    double target;
    bool moves;
  };
  for (const Case c : {Case{-0.28, true}, Case{-0.63, false}}) {
    const std::vector<double> targets = {c.target};
    const double start = objective(e, params_of(e), samples, targets);
    const Refined r = refine(e, samples, targets, 30);
    if (c.moves) {
      EXPECT_LT(r.error, start) << c.target;
    } else {
      EXPECT_TRUE(same_bits(params_of(r.expression)[0], 0.1)) << c.target;
      EXPECT_TRUE(same_bits(r.error, start)) << c.target;
    }
  }
}

// |C| (as Sqrt(Square(C))) against a negative target is best at the kink 0,
// where every undamped step overshoots. Each accepted step needs ten times
// the damping of the one before, reached after two rejections: the k-th
// acceptance happens at iteration 3k - 2 with damping 10^(k - 3). The seventh,
// at iteration 19, runs at 1e4, the largest damping allowed; the two
// rejections after it push the damping past 1e4, which ends the run.
TEST_F(ReferenceRefineTest, DampingLimitEndsTheRun) {
  const Expression e = unary(op_id::kSqrt, unary(op_id::kSquare, make_param_leaf()));
  const Rows samples = column({0.0});
  const std::vector<double> targets = {-0.1};
  const double before_last = params_of(refine(e, samples, targets, 18).expression)[0];
  const Refined last = refine(e, samples, targets, 19);
  const Refined unbounded = refine(e, samples, targets, 1000);
  EXPECT_FALSE(same_bits(params_of(last.expression)[0], before_last));
  EXPECT_TRUE(same_bits(params_of(unbounded.expression)[0], params_of(last.expression)[0]));
  EXPECT_TRUE(same_bits(unbounded.error, last.error));
}

// With f = C on one sample the Jacobian is 1 up to the difference quotient's
// rounding, so each accepted step is p += (t - p) / ((lambda + 1) + 1e-6)
// with lambda 0.01, then 0.001, ...
TEST_F(ReferenceRefineTest, FirstStepsFollowTheDampedUpdate) {
  const Rows samples = column({0.0});
  const std::vector<double> targets = {3.0};
  double p = 0.1;
  double lambda = 0.01;
  for (std::size_t cap = 1; cap <= 3; ++cap) {
    p = p + (3.0 - p) / ((lambda + 1.0) + 1e-6);
    lambda = lambda / 10.0;
    const Refined r = refine(make_param_leaf(), samples, targets, cap);
    EXPECT_NEAR(params_of(r.expression)[0], p, 1e-8) << "cap " << cap;
  }
  // The third step improves by less than 1e-9, which ends the run.
  const Refined capped = refine(make_param_leaf(), samples, targets, 3);
  const Refined free = refine(make_param_leaf(), samples, targets, 30);
  EXPECT_TRUE(same_bits(params_of(free.expression)[0], params_of(capped.expression)[0]));
}

// C + C * v0 is linear, so its Jacobian columns are 1 and v0 up to the
// difference quotient's rounding, and the first step moves each parameter by
// its own column's gradient over its own damped diagonal entry.
TEST_F(ReferenceRefineTest, FirstStepOfALinearModelUsesEachColumnAlone) {
  const Expression e = binary(op_id::kPlus, make_param_leaf(),
                              binary(op_id::kTimes, make_param_leaf(), make_var_leaf(0)));
  const std::vector<double> xs = {1.0, 2.0, 3.0};
  const std::vector<double> targets = {2.0, 3.0, 5.0};
  double d[2] = {0.0, 0.0};
  double grad[2] = {0.0, 0.0};
  for (std::size_t i = 0; i < xs.size(); ++i) {
    const double r = (0.1 + 0.1 * xs[i]) - targets[i];
    const double column[2] = {1.0, xs[i]};
    for (int k = 0; k < 2; ++k) {
      d[k] += column[k] * column[k];
      grad[k] += column[k] * r;
    }
  }
  const std::vector<double> got =
      params_of(refine(e, column({1.0, 2.0, 3.0}), targets, 1).expression);
  for (int k = 0; k < 2; ++k) {
    EXPECT_NEAR(got[static_cast<std::size_t>(k)], 0.1 - grad[k] / ((0.01 + d[k]) + 1e-6), 1e-6)
        << "parameter " << k;
  }
}

// Exp(C * v0) with C = 1 overflows at v0 = 40, so the start is +inf; the
// failing sample counts as 0.0 in the Jacobian, the step from the other
// samples is finite, and the first finite trial is accepted.
TEST_F(ReferenceRefineTest, FailingSamplesKeepTheJacobianFinite) {
  const Expression e = unary(op_id::kExp, binary(op_id::kTimes, param(1.0), make_var_leaf(0)));
  const Rows samples = column({1.0, 2.0, 40.0});
  const std::vector<double> targets = {std::exp(0.5), std::exp(1.0), std::exp(20.0)};
  ASSERT_EQ(objective(e, params_of(e), samples, targets), kInf);
  const Refined r = refine(e, samples, targets, 30);
  EXPECT_LT(r.error, 1e-6);
  EXPECT_NEAR(params_of(r.expression)[0], 0.5, 1e-6);
}

// Square(Square(C)) against 0 is Gauss-Newton on p^4: every step scales p by
// about 3/4 and improves by more than the tolerance for a dozen steps, so the
// value after the run shows how many iterations the cap allowed.
TEST_F(ReferenceRefineTest, IterationCapBoundsTheRun) {
  const Expression e = unary(op_id::kSquare, unary(op_id::kSquare, param(3.0)));
  const Rows samples = column({0.0});
  const std::vector<double> targets = {0.0};
  double previous_error = objective(e, params_of(e), samples, targets);
  for (std::size_t cap = 1; cap <= 10; ++cap) {
    const Refined r = refine(e, samples, targets, cap);
    EXPECT_NEAR(params_of(r.expression)[0], 3.0 * std::pow(0.75, static_cast<double>(cap)),
                1e-3 * 3.0)
        << "cap " << cap;
    EXPECT_LT(r.error, previous_error) << "cap " << cap;
    previous_error = r.error;
  }
  const Refined none = refine(e, samples, targets, 0);
  EXPECT_EQ(params_of(none.expression)[0], 3.0);
}

struct Problem {
  Expression expression;
  Rows samples;
  std::vector<double> targets;
  double alpha;
  double l1_ratio;
};

// Random expressions over the builtins with parameters, literals and named
// constants as leaves, on random data.
class ProblemGenerator {
 public:
  ProblemGenerator(const OperatorRegistry& registry, std::uint64_t seed)
      : registry_(registry), rng_(seed) {}

  Problem next() {
    Problem p;
    const int vars = pick(1, 2);
    p.expression = expression(pick(0, 3), vars);
    const int ns = pick(1, 8);
    for (int i = 0; i < ns; ++i) {
      std::vector<Complex> row;
      for (int j = 0; j < vars; ++j) row.push_back(Complex{uniform(-3.0, 3.0), 0.0});
      p.samples.push_back(std::move(row));
      p.targets.push_back(uniform(-5.0, 5.0));
    }
    p.alpha = pick(0, 1) == 0 ? 0.0 : uniform(0.0, 0.3);
    p.l1_ratio = uniform(0.0, 1.0);
    return p;
  }

 private:
  int pick(int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng_); }
  double uniform(double lo, double hi) {
    return std::uniform_real_distribution<double>(lo, hi)(rng_);
  }

  Expression leaf(int vars) {
    switch (pick(0, 5)) {
      case 0:
      case 1:
      case 2: {
        Expression e = make_param_leaf();
        e.tokens[0].value = Complex{uniform(-2.0, 2.0), pick(0, 3) == 0 ? uniform(-1.0, 1.0) : 0.0};
        return e;
      }
      case 3: {
        Expression e;
        e.tokens = {Token::make_real(uniform(-2.0, 2.0))};
        e.formula = "R";
        e.complexity = 1;
        return e;
      }
      case 4: {
        Expression e;
        e.tokens = {Token::make_const(op_id::kPi, Complex{3.141592653589793, 0.0})};
        e.formula = "Pi";
        e.complexity = 1;
        return e;
      }
      default:
        return make_var_leaf(static_cast<std::uint8_t>(pick(0, vars - 1)));
    }
  }

  Expression expression(int depth, int vars) {
    if (depth == 0) return leaf(vars);
    const auto unary_ids = registry_.ids_by_arity(1);
    const auto binary_ids = registry_.ids_by_arity(2);
    if (pick(0, 1) == 0) {
      const std::uint64_t id =
          unary_ids[static_cast<std::size_t>(pick(0, static_cast<int>(unary_ids.size()) - 1))];
      return make_unary(id, registry_.metas()[id].name, expression(depth - 1, vars));
    }
    const std::uint64_t id =
        binary_ids[static_cast<std::size_t>(pick(0, static_cast<int>(binary_ids.size()) - 1))];
    const Expression left = expression(depth - 1, vars);
    return make_binary(id, registry_.metas()[id].name, left, expression(pick(0, depth - 1), vars));
  }

  const OperatorRegistry& registry_;
  std::mt19937_64 rng_;
};

TEST_F(ReferenceRefineTest, PropertiesOnRandomProblems) {
  ProblemGenerator generator(registry_, 12345);
  int refined_count = 0;
  for (int n = 0; n < 400; ++n) {
    const Problem pb = generator.next();
    const Expression& e = pb.expression;
    const double start = objective(e, params_of(e), pb.samples, pb.targets, pb.alpha, pb.l1_ratio);
    const std::size_t cap = n % 2 == 0 ? 10 : 30;
    const Refined r = refine(e, pb.samples, pb.targets, cap, pb.alpha, pb.l1_ratio);
    SCOPED_TRACE(e.formula);

    // Same shape: only the real parts of the Param values may move.
    ASSERT_EQ(r.expression.tokens.size(), e.tokens.size());
    EXPECT_EQ(r.expression.complexity, e.complexity);
    EXPECT_EQ(r.expression.formula, e.formula);
    EXPECT_EQ(r.expression.param_count, e.param_count);
    EXPECT_EQ(r.expression.var_count, e.var_count);
    for (std::size_t t = 0; t < e.tokens.size(); ++t) {
      const Token& before = e.tokens[t];
      const Token& after = r.expression.tokens[t];
      EXPECT_EQ(after.kind, before.kind);
      EXPECT_EQ(after.arity, before.arity);
      EXPECT_EQ(after.index, before.index);
      EXPECT_EQ(after.op_id, before.op_id);
      if (before.kind == TokenKind::Param) {
        EXPECT_TRUE(same_bits(after.value.im, 0.0));
      } else {
        EXPECT_TRUE(same_bits(after.value.re, before.value.re));
        EXPECT_TRUE(same_bits(after.value.im, before.value.im));
      }
    }

    // The returned error is exactly the objective of the returned values, and
    // never above the start.
    const double at_result = objective(r.expression, params_of(r.expression), pb.samples,
                                       pb.targets, pb.alpha, pb.l1_ratio);
    EXPECT_TRUE(same_bits(r.error, at_result));
    if (!std::isnan(start)) {
      EXPECT_LE(r.error, start);
    }

    // A shorter run is a prefix of a longer one, so more iterations never hurt.
    const Refined shorter = refine(e, pb.samples, pb.targets, 3, pb.alpha, pb.l1_ratio);
    if (!std::isnan(shorter.error)) {
      EXPECT_LE(r.error, shorter.error);
    }

    if (r.error < start) ++refined_count;
  }
  // The generator must produce problems where refinement actually moves.
  EXPECT_GT(refined_count, 50);
}

TEST_F(ReferenceRefineTest, WithoutParametersReturnsTheObjectiveUnchanged) {
  // v0 * (v0 + -1.5), the literal counted in the penalty.
  Expression e = binary(op_id::kPlus, make_var_leaf(0), make_var_leaf(0));
  e.tokens.insert(e.tokens.begin() + 2, Token::make_real(-1.5));
  e.tokens.push_back(Token::make_op(2, op_id::kTimes));
  e.complexity = e.tokens.size();
  const Refined r = refine(e, column({1.0, 2.0}), {0.0, 0.0}, 30, 0.5, 1.0);
  EXPECT_EQ(r.expression.complexity, e.complexity);
  EXPECT_EQ(r.expression.formula, e.formula);
  EXPECT_EQ(r.error, (0.25 + 1.0) / 2.0 + 0.5 * 1.5);
}

}  // namespace
}  // namespace tov
