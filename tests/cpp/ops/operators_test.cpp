// Builtin operators: exact values at special points, renderings, and the
// agreement of the class interface with the direct kernel dispatcher.
#include <gtest/gtest.h>

#include <bit>
#include <cctype>
#include <cmath>
#include <cstdint>
#include <limits>
#include <optional>
#include <random>
#include <span>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "ops/builtin.hpp"
#include "ops/kernels.hpp"
#include "ops/registry.hpp"

namespace tov {
namespace {

constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kPi = 3.141592653589793;

// Bit-identical, except that any NaN matches any NaN.
bool same_double(double a, double b) {
  return (std::isnan(a) && std::isnan(b)) ||
         std::bit_cast<std::uint64_t>(a) == std::bit_cast<std::uint64_t>(b);
}

bool same_value(const std::optional<Complex>& a, const std::optional<Complex>& b) {
  if (a.has_value() != b.has_value()) {
    return false;
  }
  return !a || (same_double(a->re, b->re) && same_double(a->im, b->im));
}

std::string show(const std::optional<Complex>& v) {
  if (!v) {
    return "no value";
  }
  std::ostringstream out;
  out.precision(17);
  out << "(" << (std::signbit(v->re) ? "sign- " : "") << v->re << ", "
      << (std::signbit(v->im) ? "sign- " : "") << v->im << ")";
  return out.str();
}

struct ExactCase {
  const char* label;
  std::uint64_t op;
  std::vector<Complex> args;
  std::optional<Complex> expected;
};

// Every expectation is exact to the bit, signs of zero included.
const std::vector<ExactCase> kExactCases = {
    {"Plus", op_id::kPlus, {{1, 2}, {3, 4}}, Complex{4, 6}},
    {"Times", op_id::kTimes, {{1, 2}, {3, 4}}, Complex{-5, 10}},
    {"Subtract", op_id::kSubtract, {{1, 2}, {3, 4}}, Complex{-2, -2}},
    {"Divide by zero", op_id::kDivide, {{1, 0}, {0, 0}}, std::nullopt},
    {"Divide exact", op_id::kDivide, {{-5, 10}, {3, 4}}, Complex{1, 2}},
    {"Inv of zero", op_id::kInv, {{0, 0}}, std::nullopt},
    {"Inv of two", op_id::kInv, {{2, 0}}, Complex{0.5, 0.0}},
    {"Inv of i", op_id::kInv, {{0, 1}}, Complex{0.0, -1.0}},
    {"Log above cut", op_id::kLog, {{-1, 0.0}}, Complex{0.0, kPi}},
    {"Log below cut", op_id::kLog, {{-1, -0.0}}, Complex{0.0, -kPi}},
    {"Log of zero", op_id::kLog, {{0, 0}}, std::nullopt},
    {"Log of one", op_id::kLog, {{1, 0}}, Complex{0.0, 0.0}},
    {"Sqrt above cut", op_id::kSqrt, {{-4, 0.0}}, Complex{0.0, 2.0}},
    {"Sqrt below cut", op_id::kSqrt, {{-4, -0.0}}, Complex{0.0, -2.0}},
    {"Sqrt imaginary", op_id::kSqrt, {{0, 2}}, Complex{1.0, 1.0}},
    {"Sqrt negative imaginary", op_id::kSqrt, {{0, -2}}, Complex{1.0, -1.0}},
    {"Sqrt keeps zero sign", op_id::kSqrt, {{4, -0.0}}, Complex{2.0, -0.0}},
    {"Exp -inf, inf", op_id::kExp, {{-kInf, kInf}}, Complex{0.0, 0.0}},
    {"Exp +inf, 0", op_id::kExp, {{kInf, 0.0}}, Complex{kInf, 0.0}},
    {"Exp +inf, -0", op_id::kExp, {{kInf, -0.0}}, Complex{kInf, -0.0}},
    {"Exp +inf, inf", op_id::kExp, {{kInf, kInf}}, Complex{kInf, kNaN}},
    {"Exp +inf, NaN", op_id::kExp, {{kInf, kNaN}}, Complex{kInf, kNaN}},
    {"Exp NaN, 0", op_id::kExp, {{kNaN, 0.0}}, Complex{kNaN, 0.0}},
    {"Exp 0", op_id::kExp, {{0, 0}}, Complex{1.0, 0.0}},
    {"Tov at origin", op_id::kTov, {{0, 0}, {1, 0}}, Complex{1.0, 0.0}},
    {"Tov log of zero", op_id::kTov, {{0, 0}, {0, 0}}, std::nullopt},
    {"ArcTan at i", op_id::kArcTan, {{0, 1}}, std::nullopt},
    {"ArcTan at -i", op_id::kArcTan, {{0, -1}}, std::nullopt},
    {"Tan at zero", op_id::kTan, {{0, 0}}, Complex{0.0, 0.0}},
    {"Sin at zero", op_id::kSin, {{0, 0}}, Complex{0.0, 0.0}},
    {"Cos at zero", op_id::kCos, {{0, 0}}, Complex{1.0, -0.0}},
    {"Neg flips zero signs", op_id::kNeg, {{0.0, -0.0}}, Complex{-0.0, 0.0}},
    {"Square", op_id::kSquare, {{3, 4}}, Complex{-7, 24}},
    {"Cube", op_id::kCube, {{1, 1}}, Complex{-2, 2}},
};

class ExactValue : public ::testing::TestWithParam<ExactCase> {};

TEST_P(ExactValue, ClassAndKernelGiveTheExpectedBits) {
  static const OperatorRegistry registry = OperatorRegistry::with_builtins();
  const ExactCase& c = GetParam();
  const auto via_class = registry.ops()[c.op]->eval(c.args);
  const auto via_kernel = kernels::apply_builtin(c.op, c.args.data());
  EXPECT_TRUE(same_value(via_class, c.expected))
      << "got " << show(via_class) << ", want " << show(c.expected);
  EXPECT_TRUE(same_value(via_kernel, c.expected))
      << "got " << show(via_kernel) << ", want " << show(c.expected);
}

INSTANTIATE_TEST_SUITE_P(Builtins, ExactValue, ::testing::ValuesIn(kExactCases),
                         [](const ::testing::TestParamInfo<ExactCase>& param_info) {
                           std::string name = std::to_string(param_info.index);
                           for (const char ch : std::string(param_info.param.label)) {
                             name += std::isalnum(static_cast<unsigned char>(ch)) ? ch : '_';
                           }
                           return name;
                         });

TEST(Builtins, NegFlipsTheSignBitOfNaN) {
  const double positive_nan = std::copysign(kNaN, 1.0);
  const Complex r = kernels::eval_neg({positive_nan, -positive_nan});
  EXPECT_TRUE(std::isnan(r.re) && std::signbit(r.re));
  EXPECT_TRUE(std::isnan(r.im) && !std::signbit(r.im));
}

// Principal values away from special points, to catch a wrong formula rather
// than a wrong rounding.
TEST(Builtins, AgreeWithTextbookValues) {
  struct Case {
    std::uint64_t op;
    Complex arg;
    Complex expected;
  };
  const Case cases[] = {
      {op_id::kArcSin, {0.5, 0}, {kPi / 6, 0}},
      {op_id::kArcCos, {0.5, 0}, {kPi / 3, 0}},
      {op_id::kArcTan, {1, 0}, {kPi / 4, 0}},
      {op_id::kArcSin, {2, 0}, {kPi / 2, -1.3169578969248166}},
      {op_id::kArcTan, {0, 0.5}, {0, 0.5493061443340549}},
      {op_id::kTan, {kPi / 4, 0}, {1, 0}},
      {op_id::kLog, {0, 1}, {0, kPi / 2}},
      {op_id::kExp, {0, kPi}, {-1, 0}},
      {op_id::kSin, {0, 1}, {0, 1.1752011936438014}},
      {op_id::kCos, {0, 1}, {1.5430806348152437, 0}},
  };
  for (const Case& c : cases) {
    const auto r = kernels::apply_builtin(c.op, &c.arg);
    ASSERT_TRUE(r.has_value()) << "op " << c.op;
    EXPECT_NEAR(r->re, c.expected.re, 1e-14) << "op " << c.op;
    EXPECT_NEAR(r->im, c.expected.im, 1e-14) << "op " << c.op;
  }
}

// The class interface and the dispatcher must agree bit for bit everywhere,
// including at zeros, infinities and NaN.
TEST(Builtins, ClassEvalMatchesDispatcherOnRandomAndSpecialValues) {
  const OperatorRegistry registry = OperatorRegistry::with_builtins();
  const double specials[] = {0.0, -0.0, 1.0, -1.0, 0.5, kInf, -kInf, kNaN, 1e-310, 1e300};
  std::mt19937_64 rng(12345);
  std::uniform_real_distribution<double> uniform(-3.0, 3.0);
  std::uniform_int_distribution<int> pick(0, 12);
  auto draw = [&]() {
    const int k = pick(rng);
    return k < 10 ? specials[k] : uniform(rng);
  };
  for (std::uint64_t op = op_id::kTov; op < op_id::kBuiltinCount; ++op) {
    const Operator& oper = *registry.ops()[op];
    for (int trial = 0; trial < 2000; ++trial) {
      const Complex args[2] = {{draw(), draw()}, {draw(), draw()}};
      const auto via_class = oper.eval(std::span<const Complex>(args, oper.arity()));
      const auto via_kernel = kernels::apply_builtin(op, args);
      ASSERT_TRUE(same_value(via_class, via_kernel))
          << oper.name() << ": " << show(via_class) << " vs " << show(via_kernel);
    }
  }
}

TEST(Builtins, MisuseIsAnInvariantViolation) {
  const Complex args[3] = {};
  EXPECT_THROW(Plus().eval(std::span<const Complex>(args, 1)), std::logic_error);
  EXPECT_THROW(Neg().eval(std::span<const Complex>(args, 2)), std::logic_error);
  for (const std::uint64_t id : {op_id::kZero, op_id::kE, op_id::kBuiltinCount}) {
    EXPECT_THROW(kernels::apply_builtin(id, args), std::logic_error) << id;
  }
}

struct RenderCase {
  std::uint64_t op;
  const char* latex;
  const char* python;
  const char* mathematica;
};

// Each operator rendered with argument texts "x" (and "y").
const RenderCase kRenderings[] = {
    {op_id::kTov, R"(e^{x} - \ln(y))", "(np.exp(x) - np.log(y))", "TOV[x, y]"},
    {op_id::kNeg, "(-(x))", "(-(x))", "Neg[x]"},
    {op_id::kInv, R"(\frac{1}{x})", "(1/(x))", "Inv[x]"},
    {op_id::kPlus, "x + y", "(x)+(y)", "Plus[x, y]"},
    {op_id::kTimes, R"(x \cdot y)", "(x)*(y)", "Times[x, y]"},
    {op_id::kSubtract, "x - y", "(x)-(y)", "Subtract[x, y]"},
    {op_id::kDivide, R"(\frac{x}{y})", "((x)/(y))", "Divide[x, y]"},
    {op_id::kExp, "e^{x}", "np.exp(x)", "Exp[x]"},
    {op_id::kLog, R"(\ln(x))", "np.log(x)", "Log[x]"},
    {op_id::kSqrt, R"(\sqrt{x})", "np.sqrt(x)", "Sqrt[x]"},
    {op_id::kSin, R"(\sin(x))", "np.sin(x)", "Sin[x]"},
    {op_id::kCos, R"(\cos(x))", "np.cos(x)", "Cos[x]"},
    {op_id::kTan, R"(\tan(x))", "np.tan(x)", "Tan[x]"},
    {op_id::kArcSin, R"(\arcsin(x))", "np.arcsin(x)", "ArcSin[x]"},
    {op_id::kArcCos, R"(\arccos(x))", "np.arccos(x)", "ArcCos[x]"},
    {op_id::kArcTan, R"(\arctan(x))", "np.arctan(x)", "ArcTan[x]"},
    {op_id::kSquare, "{x}^2", "(x)**2", "Square[x]"},
    {op_id::kCube, "{x}^3", "(x)**3", "Cube[x]"},
    {op_id::kZero, "0", "0", "0"},
    {op_id::kOne, "1", "1", "1"},
    {op_id::kI, "i", "1j", "I"},
    {op_id::kPi, R"(\pi)", "np.pi", "Pi"},
    {op_id::kE, "e", "np.e", "E"},
};

TEST(Renderings, EveryOperatorWithTextsXAndY) {
  const OperatorRegistry registry = OperatorRegistry::with_builtins();
  const std::vector<std::string> texts = {"x", "y"};
  for (const RenderCase& c : kRenderings) {
    const Operator& op = *registry.ops()[c.op];
    const std::span<const std::string> args(texts.data(), op.arity());
    EXPECT_EQ(op.to_latex(args), c.latex) << op.name();
    EXPECT_EQ(op.to_python(args), c.python) << op.name();
    EXPECT_EQ(op.to_mathematica(args), c.mathematica) << op.name();
  }
}

TEST(Renderings, ArgumentTextsAreInsertedVerbatim) {
  const std::vector<std::string> texts = {"a", "b"};
  EXPECT_EQ(Divide().to_latex(texts), R"(\frac{a}{b})");
  const std::vector<std::string> braced = {"{}", "}}"};
  EXPECT_EQ(Plus().to_python(braced), "({})+(}})");
  EXPECT_EQ(Sqrt().to_latex(std::span(braced).first(1)), R"(\sqrt{{}})");
}

TEST(Renderings, TooFewTextsIsAnInvariantViolation) {
  const std::vector<std::string> texts = {"x"};
  EXPECT_THROW(Plus().to_latex(texts), std::logic_error);
}

TEST(ConstOpTest, EvaluatesToItsValueWhateverItIsGiven) {
  const ConstOp pi("Pi", R"(\pi)", "np.pi", {kPi, 0});
  const Complex junk[2] = {{1, 2}, {3, 4}};
  for (const std::span<const Complex> args :
       {std::span<const Complex>(), std::span<const Complex>(junk)}) {
    const auto r = pi.eval(args);
    ASSERT_TRUE(r.has_value());
    EXPECT_TRUE(same_double(r->re, kPi) && same_double(r->im, 0.0));
  }
  const std::vector<std::string> texts = {"x"};
  EXPECT_EQ(pi.to_latex(texts), R"(\pi)");
  EXPECT_EQ(pi.to_mathematica({}), "Pi");
}

TEST(Describe, BuiltinsPrintTheirTypeNameAndConstOpItsFields) {
  std::ostringstream out;
  out << Cube() << ' ' << Tov();
  EXPECT_EQ(out.str(), "Cube Tov");
  const std::string text = ConstOp("E", "e", "np.e", {2.718281828459045, 0}).describe();
  for (const char* field : {"\"E\"", "\"e\"", "\"np.e\"", "2.718281828459045"}) {
    EXPECT_NE(text.find(field), std::string::npos) << text;
  }
}

}  // namespace
}  // namespace tov
