#include "result/variable_names.hpp"

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "formula/expression.hpp"
#include "ops/registry.hpp"
#include "result/search_result.hpp"

namespace tov {
namespace {

TEST(VariableNames, LatexNames) {
  const struct {
    const char* name;
    const char* latex;
  } cases[] = {
      {"x", "x"},
      {"E", "E"},
      {"x_1", "x_{1}"},
      {"x1", "x_{1}"},
      {"x12", "x_{12}"},
      {"T_c", "T_{c}"},
      {"v_max", "v_{\\mathrm{max}}"},
      {"x_1_2", "x_{1_{2}}"},
      {"theta", "\\theta"},
      {"theta0", "\\theta_{0}"},
      {"theta_i", "\\theta_{i}"},
      {"Omega", "\\Omega"},
      {"varphi", "\\varphi"},
      {"omega_0", "\\omega_{0}"},
      {"hbar", "\\hbar"},
      {"θ", "\\theta"},
      {"Δ", "\\Delta"},
      {"ε", "\\varepsilon"},
      {"ħ", "\\hbar"},
      {"θ_1", "\\theta_{1}"},
      {"Δx", "\\mathrm{{\\Delta}x}"},
      {"mass", "\\mathrm{mass}"},
      {"Alpha", "\\mathrm{Alpha}"},
      {"thetas", "\\mathrm{thetas}"},
      {"_x", "\\mathrm{\\_x}"},
      {"x_", "\\mathrm{x\\_}"},
      {"12", "\\mathrm{12}"},
      {"3", "3"},
      {"a b", "\\mathrm{a\\ b}"},
      {"50%", "\\mathrm{50\\%}"},
      {"R&D", "\\mathrm{R\\&D}"},
      {"a^b", "\\mathrm{a\\hat{}b}"},
      {"{x}", "\\mathrm{\\{x\\}}"},
      {"\\", "\\backslash{}"},
      {"é", "é"},
      {"vitesse_é", "\\mathrm{vitesse}_{é}"},
  };
  for (const auto& c : cases) EXPECT_EQ(latex_name(c.name), c.latex) << c.name;
}

// The renderings take the names; the formula, the search's identity of the
// result, does not.
TEST(VariableNames, RenderingsUseTheNames) {
  const auto registry = std::make_shared<const OperatorRegistry>(OperatorRegistry::with_builtins());
  const Expression sum = make_binary(op_id::kPlus, "Plus", make_var_leaf(0),
                                     make_unary(op_id::kSin, "Sin", make_var_leaf(1)));
  const Expression squared = make_unary(op_id::kSquare, "Square", sum);
  const SearchResult plain(squared, registry, 0.0);
  const SearchResult named = plain.with_variable_names(std::make_shared<const VariableNames>(
      VariableNames{{"x_1", "theta"}, {"x_{1}", "\\theta"}, {"x_1", "theta"}}));
  EXPECT_EQ(named.formula(), plain.formula());
  EXPECT_EQ(plain.to_latex(), "{\\left(v_{0} + \\sin(v_{1})\\right)}^2");
  EXPECT_EQ(named.to_latex(), "{\\left(x_{1} + \\sin(\\theta)\\right)}^2");
  EXPECT_EQ(named.to_python(), "((x_1)+(np.sin(theta)))**2");
  EXPECT_EQ(plain.to_python(), "((v_{0})+(np.sin(v_{1})))**2");
  EXPECT_EQ(named.variable_names()->names[1], "theta");
  EXPECT_EQ(plain.variable_names(), nullptr);
  const std::vector<double> point = {0.5, 1.0};
  EXPECT_EQ(named.eval_multi(point), plain.eval_multi(point));
}

}  // namespace
}  // namespace tov
