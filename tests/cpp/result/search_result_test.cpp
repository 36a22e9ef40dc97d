#include "result/search_result.hpp"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <limits>
#include <memory>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include "formula/expression.hpp"
#include "ops/registry.hpp"
#include "result/search_error.hpp"

namespace tov {
namespace {

constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

std::shared_ptr<const OperatorRegistry> builtins() {
  return std::make_shared<const OperatorRegistry>(OperatorRegistry::with_builtins());
}

Expression param(double value) {
  Expression e = make_param_leaf();
  e.tokens[0].value = Complex{value, 0.0};
  return e;
}

Expression var(std::uint8_t index) { return make_var_leaf(index); }

Expression unary(std::uint64_t id, const std::string& name, const Expression& child) {
  return make_unary(id, name, child);
}

Expression binary(std::uint64_t id, const std::string& name, const Expression& left,
                  const Expression& right) {
  return make_binary(id, name, left, right);
}

Expression from_tokens(std::vector<Token> tokens) {
  Expression e;
  e.complexity = tokens.size();
  e.tokens = std::move(tokens);
  e.formula = "raw";
  return e;
}

SearchResult result_of(Expression e) { return SearchResult(std::move(e), builtins(), 0.0); }

bool same_bits(double a, double b) {
  return std::bit_cast<std::uint64_t>(a) == std::bit_cast<std::uint64_t>(b);
}

struct FormatCase {
  double value;
  const char* text;
};

TEST(FormatFixed4, Table) {
  const FormatCase cases[] = {
      {0.1, "0.1000"},
      {2.5, "2.5000"},
      {-3.14159, "-3.1416"},
      {2.999999, "3.0000"},
      {0.0, "0.0000"},
      {-0.0, "-0.0000"},
      {-0.00001, "-0.0000"},
      {std::numeric_limits<double>::denorm_min(), "0.0000"},
      // Exact ties round to even.
      {0.03125, "0.0312"},
      {0.09375, "0.0938"},
      {0.15625, "0.1562"},
      {0.21875, "0.2188"},
      {-0.03125, "-0.0312"},
      {1.03125, "1.0312"},
      // The double nearest 0.00005 lies above the tie.
      {0.00005, "0.0001"},
      {1e20, "100000000000000000000.0000"},
      {-1e20, "-100000000000000000000.0000"},
      {kInf, "inf"},
      {-kInf, "-inf"},
      {kNaN, "NaN"},
      {-kNaN, "NaN"},
  };
  for (const FormatCase& c : cases) {
    EXPECT_EQ(format_fixed4(c.value), c.text) << "value " << c.value;
  }
}

TEST(FormatFixed4, LargestDoubleHasEveryIntegerDigit) {
  const std::string text = format_fixed4(std::numeric_limits<double>::max());
  EXPECT_EQ(text.size(), 309u + 5u);
  EXPECT_EQ(text.substr(0, 17), "17976931348623157");
  EXPECT_EQ(text.substr(text.size() - 5), ".0000");
}

// glibc's printf rounds the exact binary value, ties to even: an independent
// oracle for every finite double.
TEST(FormatFixed4, AgreesWithPrintfOnFiniteDoubles) {
  std::mt19937_64 rng(20240611);
  std::uniform_int_distribution<int> tie_numerator(0, 1 << 20);
  std::uniform_real_distribution<double> moderate(-1e6, 1e6);
  char expected[400];
  for (int n = 0; n < 30000; ++n) {
    double value;
    switch (n % 3) {
      case 0:
        value = std::bit_cast<double>(rng());
        break;
      case 1:  // multiples of 2^-5 include every exact four-digit tie
        value = static_cast<double>(tie_numerator(rng) - (1 << 19)) / 32.0;
        break;
      default:
        value = moderate(rng);
        break;
    }
    if (!std::isfinite(value)) continue;
    std::snprintf(expected, sizeof expected, "%.4f", value);
    ASSERT_EQ(format_fixed4(value), expected) << std::bit_cast<std::uint64_t>(value);
  }
}

struct RenderCase {
  const char* label;
  Expression expression;
  const char* latex;
  const char* python;
};

TEST(SearchResultRender, Table) {
  Expression refined_c = param(2.999999);
  const RenderCase cases[] = {
      {"refined C", refined_c, "3.0000", "3.0000"},
      {"variable", var(0), "v_{0}", "v_{0}"},
      {"negative zero parameter", param(-0.0), "-0.0000", "-0.0000"},
      {"real literal", from_tokens({Token::make_real(0.03125)}), "0.0312", "0.0312"},
      {"pi constant", from_tokens({Token::make_const(op_id::kPi, Complex{3.141592653589793, 0})}),
       "\\pi", "np.pi"},
      {"imaginary unit", from_tokens({Token::make_const(op_id::kI, Complex{0, 1})}), "i", "1j"},
      {"nested",
       binary(op_id::kDivide, "Divide",
              binary(op_id::kPlus, "Plus", binary(op_id::kTimes, "Times", param(1.5), var(0)),
                     unary(op_id::kSin, "Sin", var(1))),
              unary(op_id::kSquare, "Square", param(-2.25))),
       "\\frac{1.5000 \\cdot v_{0} + \\sin(v_{1})}{{\\left(-2.2500\\right)}^2}",
       "((((1.5000)*(v_{0}))+(np.sin(v_{1})))/((-2.2500)**2))"},
      {"tov with constant", binary(op_id::kTov, "TOV", var(12), param(1e20)),
       "e^{v_{12}} - \\ln(100000000000000000000.0000)",
       "(np.exp(v_{12}) - np.log(100000000000000000000.0000))"},
      // Operands that would otherwise read as another formula.
      {"difference of a sum",
       binary(op_id::kSubtract, "Subtract", unary(op_id::kCube, "Cube", var(0)),
              binary(op_id::kPlus, "Plus", var(0), var(1))),
       "{v_{0}}^3 - \\left(v_{0} + v_{1}\\right)", "((v_{0})**3)-((v_{0})+(v_{1}))"},
      {"product of sums",
       binary(op_id::kTimes, "Times", binary(op_id::kPlus, "Plus", param(0.5), var(0)),
              binary(op_id::kTov, "TOV", param(2.0), var(0))),
       "\\left(0.5000 + v_{0}\\right) \\cdot \\left(e^{2.0000} - \\ln(v_{0})\\right)",
       "((0.5000)+(v_{0}))*((np.exp(2.0000) - np.log(v_{0})))"},
      {"square of a product",
       unary(op_id::kSquare, "Square", binary(op_id::kTimes, "Times", var(0), var(1))),
       "{\\left(v_{0} \\cdot v_{1}\\right)}^2", "((v_{0})*(v_{1}))**2"},
      {"operands that need nothing",
       binary(op_id::kSubtract, "Subtract", binary(op_id::kPlus, "Plus", var(0), var(1)),
              binary(op_id::kTimes, "Times", var(0), unary(op_id::kCube, "Cube", var(1)))),
       "v_{0} + v_{1} - v_{0} \\cdot {v_{1}}^3", "((v_{0})+(v_{1}))-((v_{0})*((v_{1})**3))"},
      {"only the last of several values", from_tokens({Token::make_var(0), Token::make_var(1)}),
       "v_{1}", "v_{1}"},
      {"empty", from_tokens({}), "", ""},
      {"operator without operands", from_tokens({Token::make_op(2, op_id::kPlus)}), "", ""},
      {"operator short of one operand",
       from_tokens({Token::make_var(0), Token::make_op(2, op_id::kPlus)}), "", ""},
      {"token arity below its operator's",
       from_tokens({Token::make_var(0), Token::make_op(1, op_id::kPlus)}), "", ""},
      {"constant token naming a binary operator",
       from_tokens({Token::make_const(op_id::kPlus, Complex{})}), "", ""},
  };
  for (const RenderCase& c : cases) {
    const SearchResult result = result_of(c.expression);
    EXPECT_EQ(result.to_latex(), c.latex) << c.label;
    EXPECT_EQ(result.to_python(), c.python) << c.label;
  }
  EXPECT_EQ(result_of(refined_c).formula(), "C");
}

TEST(SearchResultRender, OperatorOutsideTheRegistryIsAnInternalFault) {
  const SearchResult result = result_of(from_tokens({Token::make_op(0, op_id::kBuiltinCount)}));
  EXPECT_THROW(result.to_latex(), std::logic_error);
  EXPECT_THROW(result.to_python(), std::logic_error);
}

TEST(SearchResultRecord, FieldsAndParameters) {
  auto registry = builtins();
  Expression e = binary(op_id::kPlus, "Plus", param(0.1 + 0.2), param(-0.0));
  e.tokens[1].value.im = 5.0;
  const SearchResult result(e, registry, 0.25);
  const std::weak_ptr<const OperatorRegistry> watch = registry;
  registry.reset();
  EXPECT_FALSE(watch.expired());
  EXPECT_EQ(result.formula(), "Plus(C, C)");
  EXPECT_EQ(result.complexity(), 3u);
  EXPECT_EQ(result.error(), 0.25);
  const std::vector<double> values = result.parameters();
  ASSERT_EQ(values.size(), 2u);
  EXPECT_TRUE(same_bits(values[0], 0.1 + 0.2));
  EXPECT_TRUE(same_bits(values[1], -0.0));
}

struct PointCase {
  const char* label;
  Expression expression;
  std::vector<double> point;
  double expected;  // NaN: no value
};

TEST(SearchResultEval, SinglePoint) {
  Expression c_with_imaginary = param(2.5);
  c_with_imaginary.tokens[0].value.im = 7.0;
  const Expression sum = binary(op_id::kPlus, "Plus", var(0), var(1));
  const PointCase cases[] = {
      {"second variable missing", sum, {2.0}, kNaN},
      {"both variables", sum, {2.0, 3.0}, 5.0},
      {"no inputs at all", var(0), {}, kNaN},
      {"extra inputs ignored", var(0), {4.0, 9.0}, 4.0},
      {"complex value gives its real part",
       binary(op_id::kPlus, "Plus", var(0), unary(op_id::kSqrt, "Sqrt", var(0))),
       {-4.0},
       -4.0},
      {"stored parameter, imaginary part dropped", c_with_imaginary, {}, 2.5},
      {"division by zero", binary(op_id::kDivide, "Divide", var(0), var(1)), {1.0, 0.0}, kNaN},
      {"infinite input through a leaf", var(0), {kInf}, kInf},
  };
  for (const PointCase& c : cases) {
    const double got = result_of(c.expression).eval_multi(c.point);
    if (std::isnan(c.expected)) {
      EXPECT_TRUE(std::isnan(got)) << c.label;
    } else {
      EXPECT_EQ(got, c.expected) << c.label;
    }
  }
}

TEST(SearchResultEval, BatchKeepsRowOrderAndFailsPerRow) {
  const SearchResult inverse = result_of(unary(op_id::kInv, "Inv", var(0)));
  const std::vector<std::vector<double>> rows = {{2.0}, {0.0}, {4.0}, {}, {-8.0, 1.0}};
  const std::vector<double> got = inverse.eval_batch(rows);
  ASSERT_EQ(got.size(), rows.size());
  EXPECT_EQ(got[0], 0.5);
  EXPECT_TRUE(std::isnan(got[1]));
  EXPECT_EQ(got[2], 0.25);
  EXPECT_TRUE(std::isnan(got[3]));
  EXPECT_EQ(got[4], -0.125);
  EXPECT_TRUE(inverse.eval_batch({}).empty());
}

// Reusing one stack across rows must not let a failed row leak into the next.
TEST(SearchResultEval, BatchMatchesSinglePointEvaluation) {
  const SearchResult result =
      result_of(binary(op_id::kDivide, "Divide", unary(op_id::kLog, "Log", var(0)),
                       binary(op_id::kSubtract, "Subtract", var(1),
                              binary(op_id::kTimes, "Times", param(0.5), var(0)))));
  std::mt19937_64 rng(7);
  std::uniform_int_distribution<int> small(-3, 3);
  std::uniform_int_distribution<int> width(0, 3);
  std::vector<std::vector<double>> rows(200);
  for (auto& row : rows) {
    row.resize(static_cast<std::size_t>(width(rng)));
    for (double& x : row) x = small(rng);
  }
  const std::vector<double> batch = result.eval_batch(rows);
  ASSERT_EQ(batch.size(), rows.size());
  for (std::size_t i = 0; i < rows.size(); ++i) {
    const double single = result.eval_multi(rows[i]);
    EXPECT_TRUE(same_bits(batch[i], single) || (std::isnan(batch[i]) && std::isnan(single)))
        << "row " << i;
  }
}

TEST(SearchErrorMessage, EveryKind) {
  const std::pair<SearchError, std::string> cases[] = {
      {NoFormulaFound{10}, "No formula found up to complexity 10"},
      {NoFormulaFound{18446744073709551615u},
       "No formula found up to complexity 18446744073709551615"},
      {MemoryLimitExceeded{4096, 512}, "Memory limit exceeded: 4096MB > 512MB"},
      {InvalidInput{"Inputs and target vector must be non-empty and equal length."},
       "Inputs and target vector must be non-empty and equal length."},
      {ArityMismatch{"Sin", 2, 1}, "Operator Sin expects 1 args, got 2"},
      {ArityMismatch{"TOV", 0, 255}, "Operator TOV expects 255 args, got 0"},
      {Interrupted{}, "Search interrupted"},
  };
  for (const auto& [error, message] : cases) EXPECT_EQ(error_message(error), message);
}

}  // namespace
}  // namespace tov
