#include "search/pareto.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <memory>
#include <vector>

namespace tov {
namespace {

// A parameter-free expression of the given size: v_{0} under Neg operators.
Expression sized(std::size_t complexity, const char* name) {
  Expression e = make_var_leaf(0);
  while (e.complexity < complexity) e = make_unary(op_id::kNeg, "Neg", e);
  e.formula = name;
  return e;
}

struct Fixture {
  std::shared_ptr<const OperatorRegistry> registry =
      std::make_shared<const OperatorRegistry>(OperatorRegistry::with_builtins());
  std::vector<std::vector<Complex>> samples = {{{1.0, 0.0}}, {{2.0, 0.0}}};
  std::vector<double> targets = {1.0, 2.0};
};

TEST(ParetoFront, UpdateKeepsFirstOnTiesAndLowerErrors) {
  ParetoFront front;
  update_pareto(front, sized(3, "first"), 0.5);
  update_pareto(front, sized(3, "tie"), 0.5);
  EXPECT_EQ(front.entries().at(3).expression.formula, "first");
  update_pareto(front, sized(3, "better"), 0.25);
  EXPECT_EQ(front.entries().at(3).expression.formula, "better");
  update_pareto(front, sized(3, "worse"), 0.75);
  EXPECT_EQ(front.entries().at(3).expression.formula, "better");
  EXPECT_EQ(front.entries().at(3).error, 0.25);
  EXPECT_TRUE(front.improves(3, 0.1));
  EXPECT_FALSE(front.improves(3, 0.25));
  EXPECT_TRUE(front.improves(4, 1e300));
}

TEST(ParetoFront, EarlyExitIsInclusiveAndHonoursExhaustive) {
  ParetoFront front;
  EXPECT_FALSE(check_early_exit(front, false, 1e-10));
  update_pareto(front, sized(2, "a"), 2e-10);
  EXPECT_FALSE(check_early_exit(front, false, 1e-10));
  update_pareto(front, sized(5, "b"), 1e-10);
  EXPECT_TRUE(check_early_exit(front, false, 1e-10));
  EXPECT_FALSE(check_early_exit(front, true, 1e-10));
  update_pareto(front, sized(6, "exact"), 0.0);
  EXPECT_FALSE(check_early_exit(front, true, 1e-10));
}

TEST(ParetoFront, FinalizeKeepsTheStrictStaircaseMostComplexFirst) {
  Fixture f;
  auto front = std::make_shared<ParetoFront>();
  update_pareto(*front, sized(1, "one"), 0.5);
  update_pareto(*front, sized(3, "three"), 0.5);
  update_pareto(*front, sized(5, "five"), 0.1);
  update_pareto(*front, sized(7, "seven"), 0.3);
  SearchConfig config;
  auto outcome = finalize_result(front, f.registry, config, f.samples, f.targets);
  ASSERT_TRUE(outcome.ok());
  const auto& results = outcome.value();
  ASSERT_EQ(results.size(), 2u);
  EXPECT_EQ(results[0].formula(), "five");
  EXPECT_EQ(results[0].error(), 0.1);
  EXPECT_EQ(results[0].complexity(), 5u);
  EXPECT_EQ(results[1].formula(), "one");
  EXPECT_EQ(results[1].error(), 0.5);
  EXPECT_EQ(results[0].registry(), f.registry);
}

TEST(ParetoFront, FinalizeOnEmptyFrontReportsMaxComplexity) {
  Fixture f;
  for (const std::uint64_t max_complexity : {10u, 4u, 0u}) {
    SearchConfig config;
    config.max_complexity = max_complexity;
    auto outcome =
        finalize_result(std::make_shared<ParetoFront>(), f.registry, config, f.samples, f.targets);
    ASSERT_FALSE(outcome.ok());
    EXPECT_EQ(error_message(outcome.error()),
              "No formula found up to complexity " + std::to_string(max_complexity));
  }
}

TEST(ParetoFront, FinalizeRefinesParametersUnlessDisabled) {
  Fixture f;
  f.targets = {3.0, 3.0};
  for (const bool refine : {true, false}) {
    auto front = std::make_shared<ParetoFront>();
    score_and_update(*front, make_param_leaf(), f.samples, f.targets, f.registry->ops(), 0.0, 0.5);
    const double stored = front->entries().at(1).error;
    EXPECT_DOUBLE_EQ(stored, (3.0 - 0.1) * (3.0 - 0.1));
    SearchConfig config;
    config.refine_params = refine;
    auto outcome = finalize_result(front, f.registry, config, f.samples, f.targets);
    ASSERT_TRUE(outcome.ok());
    ASSERT_EQ(outcome.value().size(), 1u);
    const auto& result = outcome.value()[0];
    EXPECT_EQ(result.formula(), "C");
    if (refine) {
      EXPECT_LT(result.error(), 1e-6);
      EXPECT_NEAR(result.parameters().at(0), 3.0, 1e-3);
    } else {
      EXPECT_EQ(result.error(), stored);
    }
  }
}

TEST(ParetoFront, ScoreAndUpdateSkipsNonFiniteErrors) {
  Fixture f;
  ParetoFront front;
  // Log(v_{0} - v_{0}) has no value anywhere.
  const Expression bad =
      make_unary(op_id::kLog, "Log",
                 make_binary(op_id::kSubtract, "Subtract", make_var_leaf(0), make_var_leaf(0)));
  score_and_update(front, bad, f.samples, f.targets, f.registry->ops(), 0.0, 0.5);
  EXPECT_TRUE(front.empty());
}

}  // namespace
}  // namespace tov
