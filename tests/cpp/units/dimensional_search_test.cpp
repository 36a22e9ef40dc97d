// The way back from a reduced search: formulas over the groups become M f(pi)
// over the inputs, refitted on the caller's data, and the staircase is taken
// there; the early exit of a reduced search answers the caller's question.
#include "units/dimensional_search.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <variant>
#include <vector>

#include "formula/builder.hpp"
#include "formula/exact_constant.hpp"
#include "ops/registry.hpp"
#include "searcher/searcher.hpp"

namespace tov {
namespace {

// F = q E + q v B sin(theta): M = q E, one group pi_0 = v B / E and theta.
struct Lorentz {
  Reduction reduction;
  std::vector<std::vector<double>> rows;
  std::vector<double> ys;
};

Lorentz lorentz() {
  Lorentz l;
  std::vector<Dimension> inputs;
  for (const char* unit : {"C", "V/m", "T", "m/s", "rad"})
    inputs.push_back(std::get<Dimension>(parse_unit(unit)));
  l.reduction =
      std::get<Reduction>(reduce_dimensions(inputs, std::get<Dimension>(parse_unit("N"))));
  for (int i = 0; i < 24; ++i) {
    const double q = 1.0 + 0.1 * i, e = 2.0 + 0.05 * i, b = 0.5 + 0.07 * i, v = 3.0 - 0.06 * i,
                 theta = 0.1 + 0.11 * i;
    l.rows.push_back({q, e, b, v, theta});
    l.ys.push_back(q * (e + v * b * std::sin(theta)));
  }
  return l;
}

TEST(DimensionalSearch, FormulasComeBackInTheInputsRefittedOnTheCallersData) {
  const Lorentz l = lorentz();
  Outcome<SearchData> data = prepare_data(l.rows, l.ys, {});
  ASSERT_TRUE(data);
  SearchConfig config;
  const OperatorList ops = builtin_registry()->ops();
  // f = C + pi_1 sin(pi_0) with C off: the refit on the caller's data puts
  // it at 1.
  const Expression f =
      binary(op_id::kPlus, constant_leaf(0.5),
             binary(op_id::kTimes, make_var_leaf(1), unary(op_id::kSin, make_var_leaf(0))));
  const FrontEntry entry = in_caller_variables(f, l.reduction, data.value(), config, ops);
  EXPECT_EQ(entry.expression.formula,
            "Times(Times(v_{0}, v_{1}), Plus(C, Times(Divide(Times(v_{2}, v_{3}), v_{1}), "
            "Sin(v_{4}))))");
  EXPECT_LT(entry.error, 1e-20);
  EXPECT_NEAR(entry.expression.tokens[3].value.re, 1.0, 1e-12);
  // Without refinement the constant stays where it was, and so does the error.
  SearchConfig fixed = config;
  fixed.refine_params = false;
  EXPECT_GT(in_caller_variables(f, l.reduction, data.value(), fixed, ops).error, 0.1);
}

TEST(DimensionalSearch, ExactConstantsComeBackToo) {
  const Lorentz l = lorentz();
  const Expression one = make_exact_leaf(named_leaves()[0]);
  const Expression f =
      binary(op_id::kPlus, one,
             binary(op_id::kTimes, make_var_leaf(1), unary(op_id::kSin, make_var_leaf(0))));
  EXPECT_EQ(in_inputs(f, l.reduction).formula,
            "Times(Times(v_{0}, v_{1}), Plus(" + one.formula +
                ", Times(Divide(Times(v_{2}, v_{3}), v_{1}), Sin(v_{4}))))");
}

TEST(DimensionalSearch, TheSmallestSquareOfMIgnoresRowsThatWeighNothing) {
  ReducedData reduced;
  reduced.monomial = {2.0, 0.0, -0.5, 3.0};
  EXPECT_EQ(smallest_square_monomial(reduced, std::vector<double>{1.0, 0.0, 1.0, 1.0}), 0.25);
  EXPECT_EQ(smallest_square_monomial(reduced, std::vector<double>{1.0, 0.0, 0.0, 1.0}), 4.0);
}

TEST(DimensionalSearch, NamedConstantsWithUnits) {
  // A law with a named constant and physical units: E = m v^2 / 2.
  std::vector<std::vector<double>> rows;
  std::vector<double> ys;
  for (int i = 0; i < 12; ++i) {
    const double m = 1.0 + 0.3 * i, v = 2.0 - 0.1 * i;
    rows.push_back({m, v});
    ys.push_back(0.5 * m * v * v);
  }
  const std::vector<Dimension> inputs = {std::get<Dimension>(parse_unit("kg")),
                                         std::get<Dimension>(parse_unit("m/s"))};
  const Reduction units =
      std::get<Reduction>(reduce_dimensions(inputs, std::get<Dimension>(parse_unit("J"))));
  SearchConfig config;
  config.max_complexity = 3;
  config.verbose = false;
  config.named_constants = true;
  const Outcome<SearchResult> r = Searcher(config).find_multivariate(rows, ys, {}, &units);
  ASSERT_TRUE(r) << error_message(r.error());
  EXPECT_EQ(r.value().formula(), "Times(Times(v_{0}, Square(v_{1})), Inv(2))");
  EXPECT_LT(r.value().error(), 1e-28);
}

}  // namespace
}  // namespace tov
