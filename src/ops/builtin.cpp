// The builtin operator catalogue: names, arities, renderings, and evaluation
// through the shared kernels.
#include "ops/builtin.hpp"

#include <charconv>
#include <stdexcept>
#include <string_view>
#include <utility>

#include "ops/kernels.hpp"

namespace tov {
namespace {

// Fills a template: "{}" takes the next argument text, "{{" and "}}" are
// literal braces, every other character is copied.
std::string render(std::string_view pattern, std::span<const std::string> args) {
  std::string text;
  std::size_t next_arg = 0;
  for (std::size_t i = 0; i < pattern.size(); ++i) {
    const char c = pattern[i];
    const char following = i + 1 < pattern.size() ? pattern[i + 1] : '\0';
    if (c == '{' && following == '}') {
      if (next_arg >= args.size()) {
        throw std::logic_error("operator rendering: too few argument texts");
      }
      text += args[next_arg++];
      ++i;
    } else if ((c == '{' || c == '}') && following == c) {
      text += c;
      ++i;
    } else {
      text += c;
    }
  }
  return text;
}

void require_arity(std::span<const Complex> args, std::uint8_t arity) {
  if (args.size() != arity) {
    throw std::logic_error("operator evaluation: argument count differs from arity");
  }
}

void append_double(std::string& text, double value) {
  char buffer[32];
  const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
  text.append(buffer, result.ptr);
}

}  // namespace

ConstOp::ConstOp(std::string name, std::string latex, std::string python, Complex value)
    : name_(std::move(name)), latex_(std::move(latex)), python_(std::move(python)), value_(value) {}

std::optional<Complex> ConstOp::eval(std::span<const Complex>) const { return value_; }

std::string ConstOp::to_latex(std::span<const std::string>) const { return latex_; }

std::string ConstOp::to_python(std::span<const std::string>) const { return python_; }

std::string ConstOp::describe() const {
  std::string text = "ConstOp { name: \"" + name_ + "\", latex: \"" + latex_ + "\", python: \"" +
                     python_ + "\", value: (";
  append_double(text, value_.re);
  text += ", ";
  append_double(text, value_.im);
  text += ") }";
  return text;
}

// One builtin: its catalogue row and its kernel call. `Eval` is the body of
// eval() with the arguments in `args`, already checked against the arity.
#define TOV_DEFINE_BUILTIN(Type, Name, Arity, Commutative, Latex, Python, Eval) \
  std::string Type::name() const { return Name; }                               \
  std::uint8_t Type::arity() const { return Arity; }                            \
  bool Type::is_commutative() const { return Commutative; }                     \
  std::optional<Complex> Type::eval(std::span<const Complex> args) const {      \
    require_arity(args, Arity);                                                 \
    return Eval;                                                                \
  }                                                                             \
  std::string Type::to_latex(std::span<const std::string> args) const {         \
    return render(Latex, args);                                                 \
  }                                                                             \
  std::string Type::to_python(std::span<const std::string> args) const {        \
    return render(Python, args);                                                \
  }

TOV_DEFINE_BUILTIN(Tov, "TOV", 2, false, R"(e^{{{}}} - \ln({}))", "(np.exp({}) - np.log({}))",
                   kernels::eval_tov(args[0], args[1]))
TOV_DEFINE_BUILTIN(Neg, "Neg", 1, false, "(-({}))", "(-({}))", kernels::eval_neg(args[0]))
TOV_DEFINE_BUILTIN(Inv, "Inv", 1, false, R"(\frac{{1}}{{{}}})", "(1/({}))",
                   kernels::eval_inv(args[0]))
TOV_DEFINE_BUILTIN(Plus, "Plus", 2, true, "{} + {}", "({})+({})",
                   kernels::eval_plus(args[0], args[1]))
TOV_DEFINE_BUILTIN(Times, "Times", 2, true, R"({} \cdot {})", "({})*({})",
                   kernels::eval_times(args[0], args[1]))
TOV_DEFINE_BUILTIN(Subtract, "Subtract", 2, false, "{} - {}", "({})-({})",
                   kernels::eval_subtract(args[0], args[1]))
TOV_DEFINE_BUILTIN(Divide, "Divide", 2, false, R"(\frac{{{}}}{{{}}})", "(({})/({}))",
                   kernels::eval_divide(args[0], args[1]))
TOV_DEFINE_BUILTIN(Exp, "Exp", 1, false, "e^{{{}}}", "np.exp({})", kernels::eval_exp(args[0]))
TOV_DEFINE_BUILTIN(Log, "Log", 1, false, R"(\ln({}))", "np.log({})", kernels::eval_log(args[0]))
TOV_DEFINE_BUILTIN(Sqrt, "Sqrt", 1, false, R"(\sqrt{{{}}})", "np.sqrt({})",
                   kernels::eval_sqrt(args[0]))
TOV_DEFINE_BUILTIN(Sin, "Sin", 1, false, R"(\sin({}))", "np.sin({})", kernels::eval_sin(args[0]))
TOV_DEFINE_BUILTIN(Cos, "Cos", 1, false, R"(\cos({}))", "np.cos({})", kernels::eval_cos(args[0]))
TOV_DEFINE_BUILTIN(Tan, "Tan", 1, false, R"(\tan({}))", "np.tan({})", kernels::eval_tan(args[0]))
TOV_DEFINE_BUILTIN(ArcSin, "ArcSin", 1, false, R"(\arcsin({}))", "np.arcsin({})",
                   kernels::eval_arcsin(args[0]))
TOV_DEFINE_BUILTIN(ArcCos, "ArcCos", 1, false, R"(\arccos({}))", "np.arccos({})",
                   kernels::eval_arccos(args[0]))
TOV_DEFINE_BUILTIN(ArcTan, "ArcTan", 1, false, R"(\arctan({}))", "np.arctan({})",
                   kernels::eval_arctan(args[0]))
TOV_DEFINE_BUILTIN(Square, "Square", 1, false, "{{{}}}^2", "({})**2", kernels::eval_square(args[0]))
TOV_DEFINE_BUILTIN(Cube, "Cube", 1, false, "{{{}}}^3", "({})**3", kernels::eval_cube(args[0]))

#undef TOV_DEFINE_BUILTIN

}  // namespace tov
