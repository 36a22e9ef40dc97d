// The eighteen builtin operators and the named-constant operator ConstOp.
//
// The builtins carry no data; their evaluation is the exact complex
// arithmetic of ops/kernels.hpp. Calling a builtin's eval() with a number of
// arguments other than its arity, or rendering it with too few argument
// texts, is an invariant violation and throws std::logic_error.
#pragma once

#include <string>

#include "ops/catalogue.hpp"
#include "ops/operator.hpp"

namespace tov {

// A zero-argument operator that evaluates to a fixed value and renders as
// fixed texts.
class ConstOp final : public Operator {
 public:
  ConstOp(std::string name, std::string latex, std::string python, Complex value);

  std::string name() const override { return name_; }
  std::uint8_t arity() const override { return 0; }
  std::optional<Complex> eval(std::span<const Complex> args) const override;
  std::string to_latex(std::span<const std::string> args) const override;
  std::string to_python(std::span<const std::string> args) const override;
  std::string describe() const override;

  Complex value() const { return value_; }

 private:
  std::string name_;
  std::string latex_;
  std::string python_;
  Complex value_;
};

#define TOV_DECLARE_BUILTIN(Type, ...)                                         \
  class Type final : public Operator {                                         \
   public:                                                                     \
    std::string name() const override;                                         \
    std::uint8_t arity() const override;                                       \
    bool is_commutative() const override;                                      \
    std::optional<Complex> eval(std::span<const Complex> args) const override; \
    std::string to_latex(std::span<const std::string> args) const override;    \
    std::string to_python(std::span<const std::string> args) const override;   \
    std::string describe() const override { return #Type; }                    \
  };

TOV_BUILTIN_OPERATORS(TOV_DECLARE_BUILTIN)

#undef TOV_DECLARE_BUILTIN

}  // namespace tov
