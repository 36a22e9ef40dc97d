#include "units/dimensional.hpp"

#include <gtest/gtest.h>

#include <bit>
#include <cstdint>
#include <random>
#include <string>
#include <variant>
#include <vector>

#include "ops/registry.hpp"
#include "result/result_restore.hpp"

namespace tov {
namespace {

std::vector<Dimension> dimensions(std::initializer_list<const char*> texts) {
  std::vector<Dimension> out;
  for (const char* text : texts) out.push_back(std::get<Dimension>(parse_unit(text)));
  return out;
}

Reduction reduce(std::initializer_list<const char*> inputs, const char* target) {
  auto reduced = reduce_dimensions(dimensions(inputs), std::get<Dimension>(parse_unit(target)));
  if (const std::string* error = std::get_if<std::string>(&reduced)) {
    ADD_FAILURE() << *error;
    return {};
  }
  return std::get<Reduction>(std::move(reduced));
}

std::vector<std::string> group_texts(const Reduction& r) {
  std::vector<std::string> out;
  for (const Expression& g : r.group_formulas) out.push_back(g.formula);
  return out;
}

std::string monomial_text(const Reduction& r) {
  return r.monomial_formula ? r.monomial_formula->formula : "1";
}

// Hand-checked dimension matrices: the groups and M the documented rule picks.
TEST(Dimensional, ChoosesGroupsAndMonomialByTheRule) {
  const struct {
    std::initializer_list<const char*> inputs;
    const char* target;
    std::vector<std::string> groups;
    const char* monomial;
  } cases[] = {
      // Lorentz force q (E + B v sin theta): rank 3 of 5, theta alone first.
      {{"C", "V/m", "T", "m/s", "rad"},
       "N",
       {"v_{4}", "Divide(Times(v_{2}, v_{3}), v_{1})"},
       "Times(v_{0}, v_{1})"},
      // Pendulum period from length and g: full rank, no group.
      {{"m", "m/s^2"}, "s", {}, "Divide(Sqrt(v_{0}), Sqrt(v_{1}))"},
      // Two lengths and a ratio: rank 1; M the first length (a tie).
      {{"m", "m", "1"}, "m", {"v_{2}", "Divide(v_{0}, v_{1})"}, "v_{0}"},
      // An integer exponent beats a smaller fractional one.
      {{"m^2", "m"}, "m", {"Divide(v_{0}, Square(v_{1}))"}, "v_{1}"},
      // A dimensionless target: M = 1.
      {{"m", "s", "m/s"}, "1", {"Divide(Times(v_{1}, v_{2}), v_{0})"}, "1"},
      // Every input dimensionless: the inputs themselves.
      {{"1", "rad", ""}, "1", {"v_{0}", "v_{1}", "v_{2}"}, "1"},
      // Fewer inputs in M beat smaller exponents.
      {{"m", "s", "m^3/s^3"},
       "m^3 s^-3",
       {"Divide(Times(Cube(v_{1}), v_{2}), Cube(v_{0}))"},
       "v_{2}"},
      // A third power: M through Exp and Log.
      {{"m^3"}, "m", {}, "Exp(Times(C, Log(v_{0})))"},
      // Rank-deficient with repeated columns: kinetic energy m v^2 / 2.
      {{"kg", "m/s", "m/s"}, "J", {"Divide(v_{1}, v_{2})"}, "Times(v_{0}, Square(v_{1}))"},
      // Gravitation with G as an input.
      {{"m^3 kg^-1 s^-2", "kg", "kg", "m"},
       "N",
       {"Divide(v_{1}, v_{2})"},
       "Divide(Times(v_{0}, Square(v_{1})), Square(v_{3}))"},
  };
  for (const auto& c : cases) {
    const Reduction r = reduce(c.inputs, c.target);
    EXPECT_EQ(group_texts(r), c.groups) << c.target;
    EXPECT_EQ(monomial_text(r), c.monomial) << c.target;
  }
}

TEST(Dimensional, IdentityOnlyForDimensionlessInputsAndTarget) {
  EXPECT_TRUE(reduce({"1", "rad"}, "1").is_identity());
  EXPECT_FALSE(reduce({"1", "m"}, "1").is_identity());
  EXPECT_FALSE(reduce({"m", "m"}, "m").is_identity());
  EXPECT_FALSE(reduce({"1"}, "1").group_formulas.empty());
}

TEST(Dimensional, GroupsAreDimensionlessAndIndependentAndMHasTheTargetUnits) {
  const char* pool[] = {"m", "kg", "s", "A", "N", "J", "V", "T", "m/s", "1", "K", "USD"};
  std::mt19937 random(11);
  for (int trial = 0; trial < 200; ++trial) {
    std::vector<Dimension> inputs;
    const std::size_t n = 1 + random() % 7;
    for (std::size_t j = 0; j < n; ++j)
      inputs.push_back(std::get<Dimension>(parse_unit(pool[random() % std::size(pool)])));
    // A target formable from the inputs.
    Dimension target;
    for (const Dimension& x : inputs) target = target * x.pow(Rational(int(random() % 5) - 2));
    auto reduced = reduce_dimensions(inputs, target);
    ASSERT_TRUE(std::holds_alternative<Reduction>(reduced));
    const Reduction& r = std::get<Reduction>(reduced);
    Dimension m;
    for (std::size_t j = 0; j < n; ++j) m = m * inputs[j].pow(r.monomial[j]);
    EXPECT_EQ(m, target);
    for (const auto& group : r.groups) {
      Dimension g;
      for (std::size_t j = 0; j < n; ++j) g = g * inputs[j].pow(Rational(group[j]));
      EXPECT_TRUE(g.dimensionless()) << g.text();
    }
    // k = n - rank, so the groups and M's inputs together cannot exceed n
    // independent directions; independence: no group is repeated.
    for (std::size_t a = 0; a < r.groups.size(); ++a)
      for (std::size_t b = a + 1; b < r.groups.size(); ++b) EXPECT_NE(r.groups[a], r.groups[b]);
  }
}

TEST(Dimensional, TargetsThatCannotBeFormedNameTheMissingDimensions) {
  const auto message = [](std::initializer_list<const char*> inputs, const char* target) {
    auto reduced = reduce_dimensions(dimensions(inputs), std::get<Dimension>(parse_unit(target)));
    EXPECT_TRUE(std::holds_alternative<std::string>(reduced));
    return std::holds_alternative<std::string>(reduced) ? std::get<std::string>(reduced) : "";
  };
  EXPECT_EQ(message({"m", "s"}, "kg m"),
            "y_units m kg cannot be formed from the inputs' units: no input carries kg. A law "
            "with a dimensional constant (such as G, c, hbar or k_B) needs that constant as an "
            "input column with its units.");
  EXPECT_NE(
      message({"kg m", "kg m"}, "m").find("no product of powers of the inputs has these units"),
      std::string::npos);
  EXPECT_NE(message({}, "m").find("no input carries m"), std::string::npos);
}

// The reduced data are the group formulas' values and y / M; the formula in
// the inputs evaluates to M times f at those values, bit for bit.
TEST(Dimensional, RewrittenFormulasReproduceTheReducedData) {
  const Reduction r = reduce({"C", "V/m", "T", "m/s", "rad"}, "N");
  const std::vector<std::vector<double>> rows = {
      {1.5, 2.0, 0.5, 3.0, 0.25}, {2.5, 1.25, 4.0, 0.5, 1.5}, {0.75, 3.5, 1.0, 2.0, 2.75}};
  const std::vector<double> ys = {1.0, 2.0, 3.0};
  auto data = reduce_data(rows, ys, {}, r);
  ASSERT_TRUE(std::holds_alternative<ReducedData>(data));
  const ReducedData& reduced = std::get<ReducedData>(data);
  const OperatorList ops = builtin_registry()->ops();
  // f = Plus(C, Times(v_{1}, Sin(v_{0}))) with C = 0.75.
  Expression c = make_param_leaf();
  c.tokens[0].value = Complex{0.75, 0.0};
  const Expression f = make_binary(op_id::kPlus, "Plus", c,
                                   make_binary(op_id::kTimes, "Times", make_var_leaf(1),
                                               make_unary(op_id::kSin, "Sin", make_var_leaf(0))));
  const Expression in = in_inputs(f, r);
  EXPECT_EQ(in.formula,
            "Times(Times(v_{0}, v_{1}), Plus(C, Times(Divide(Times(v_{2}, v_{3}), v_{1}), "
            "Sin(v_{4}))))");
  EXPECT_EQ(in.param_count, 1);
  std::vector<Complex> inputs;
  std::vector<Complex> groups;
  for (std::size_t i = 0; i < rows.size(); ++i) {
    to_complex(rows[i], inputs);
    to_complex(reduced.rows[i], groups);
    const Complex m = *eval(*r.monomial_formula, inputs, ops);
    for (std::size_t g = 0; g < r.groups.size(); ++g)
      EXPECT_EQ(std::bit_cast<std::uint64_t>(eval(r.group_formulas[g], inputs, ops)->re),
                std::bit_cast<std::uint64_t>(reduced.rows[i][g]));
    EXPECT_EQ(reduced.targets[i], ys[i] / m.re);
    const Complex args[] = {m, *eval(f, groups, ops)};
    const Complex expected = *ops[op_id::kTimes]->eval(args);
    EXPECT_EQ(std::bit_cast<std::uint64_t>(eval(in, inputs, ops)->re),
              std::bit_cast<std::uint64_t>(expected.re));
  }
}

TEST(Dimensional, ReducedDataRefuseSamplesWithoutValuesUnlessTheyWeighNothing) {
  const Reduction r = reduce({"m", "m", "s"}, "s");
  const std::vector<std::vector<double>> rows = {{1.0, 2.0, 3.0}, {1.0, 0.0, 3.0}};
  const std::vector<double> ys = {1.0, 2.0};
  auto refused = reduce_data(rows, ys, {}, r);
  ASSERT_TRUE(std::holds_alternative<std::string>(refused));
  EXPECT_EQ(std::get<std::string>(refused),
            "the dimensionless group pi_{0} = Divide(v_{0}, v_{1}) has no finite real value at "
            "sample 1");
  const std::vector<double> weights = {1.0, 0.0};
  auto kept = reduce_data(rows, ys, weights, r);
  ASSERT_TRUE(std::holds_alternative<ReducedData>(kept));
  EXPECT_EQ(std::get<ReducedData>(kept).rows[1], std::vector<double>{0.0});
  const std::vector<std::vector<double>> zero_m = {{1.0, 2.0, 0.0}};
  auto no_m = reduce_data(zero_m, std::vector<double>{1.0}, {}, r);
  ASSERT_TRUE(std::holds_alternative<std::string>(no_m));
  EXPECT_EQ(std::get<std::string>(no_m),
            "the monomial M = v_{2} has no finite, nonzero real value at sample 0");
}

}  // namespace
}  // namespace tov
