// Sums under a root: the transformed targets' sums, written back under their
// roots, give the laws exactly from a library that holds their terms.
#include "terms/transformed_sums.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "formula/builder.hpp"
#include "ops/registry.hpp"
#include "terms/term_library.hpp"

namespace tov {
namespace {

const Expression v0 = make_var_leaf(0);
const Expression v1 = make_var_leaf(1);
const Expression v2 = make_var_leaf(2);

TEST(TransformedSums, LawsUnderARootComeOutExactly) {
  const struct {
    const char* name;
    std::function<double(double, double, double)> law;
    std::vector<Expression> library;
  } cases[] = {
      {"sqrt((x0 - x1)^2 + x2^2)",
       [](double a, double b, double c) { return std::sqrt((a - b) * (a - b) + c * c); },
       {unary(op_id::kSquare, binary(op_id::kSubtract, v0, v1)), unary(op_id::kSquare, v2)}},
      {"x0 (x1 + sin x2)",
       [](double a, double b, double c) { return a * (b + std::sin(c)); },
       {unary(op_id::kSin, v2)}},
      {"1 / (x0 + x1 x2)",
       [](double a, double b, double c) { return 1.0 / (a + b * c); },
       {binary(op_id::kTimes, v1, v2)}},
      {"x2 sqrt(x0^2 + x1^2)",
       [](double a, double b, double c) { return c * std::sqrt(a * a + b * b); },
       {unary(op_id::kSquare, v0), unary(op_id::kSquare, v1)}},
  };
  for (const auto& c : cases) {
    std::mt19937_64 rng(3);
    std::uniform_real_distribution<double> u(0.5, 2.5);
    std::vector<std::vector<Complex>> samples;
    std::vector<double> targets;
    for (int i = 0; i < 40; ++i) {
      const double a = u(rng), b = u(rng), x = u(rng);
      samples.push_back({{a, 0.0}, {b, 0.0}, {x, 0.0}});
      targets.push_back(c.law(a, b, x));
    }
    TermContext context;
    context.samples = samples;
    context.objective = Objective::make(targets, {}, false, 0.0, 0.5);
    context.screen_samples = samples;
    context.screen_targets = targets;
    context.operators = builtin_registry()->ops();
    context.operator_mask = ~std::uint64_t{0};
    context.max_terms = 3;
    context.pool = 20;
    const std::vector<Expression> library = term_library(3, c.library, Wrappers::Affine);
    double best = INFINITY;
    std::string formula;
    for (const FrontEntry& entry : transformed_sum_models(library, 3, context)) {
      if (entry.error < best) {
        best = entry.error;
        formula = entry.expression.formula;
      }
    }
    EXPECT_LT(best, 1e-25) << c.name << ": " << formula;
  }
}

}  // namespace
}  // namespace tov
