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

// One builtin from its catalogue row: metadata, renderings, and evaluation
// through its kernel once the argument count is checked.
#define TOV_DEFINE_BUILTIN(Type, Name, Arity, Commutative, Latex, Python, Kernel) \
  std::string Type::name() const { return Name; }                                 \
  std::uint8_t Type::arity() const { return Arity; }                              \
  bool Type::is_commutative() const { return Commutative; }                       \
  std::optional<Complex> Type::eval(std::span<const Complex> args) const {        \
    require_arity(args, Arity);                                                   \
    return kernels::apply_kernel<Arity, kernels::Kernel>(args.data());            \
  }                                                                               \
  std::string Type::to_latex(std::span<const std::string> args) const {           \
    return render(Latex, args);                                                   \
  }                                                                               \
  std::string Type::to_python(std::span<const std::string> args) const {          \
    return render(Python, args);                                                  \
  }

TOV_BUILTIN_OPERATORS(TOV_DEFINE_BUILTIN)

#undef TOV_DEFINE_BUILTIN

}  // namespace tov
