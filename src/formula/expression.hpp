// Postfix expressions and their evaluation in complex arithmetic.
//
// The evaluator here is the reference semantics of the whole system: every
// faster path must reproduce it bit for bit. It reports every failure (a
// domain error, an overflow, a malformed token list) as "no value", never as
// an exception.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "numeric/complex.hpp"
#include "ops/operator.hpp"

namespace tov {

enum class TokenKind : std::uint8_t { Const, Real, Var, Param, Op };

// One postfix token. Which fields are meaningful depends on `kind`:
//   Const: op_id, value (the cached value of the constant operator)
//   Real:  value.re, and op_id 0 for a plain number or the code of the
//          exact constant the value stands for (core/exact_constant.hpp)
//   Var:   index
//   Param: index, value (the stored value: default for evaluation, and where
//          refinement writes the tuned value)
//   Op:    arity, op_id
struct Token {
  TokenKind kind = TokenKind::Var;
  std::uint8_t arity = 0;
  std::uint8_t index = 0;
  std::uint64_t op_id = 0;
  Complex value{};

  static Token make_const(std::uint64_t op_id, Complex cached);
  static Token make_real(double value);
  static Token make_var(std::uint8_t index);
  static Token make_param(std::uint8_t index, Complex stored);
  static Token make_op(std::uint8_t arity, std::uint64_t op_id);
};

// Magnitude bound on every operator result accepted by the evaluator.
inline constexpr double kMagnitudeLimit = 1e15;

// True when both parts are finite and strictly below kMagnitudeLimit.
inline bool within_limits(Complex v) {
  // A NaN fails both comparisons; infinities fail the magnitude test.
  return (v.re < kMagnitudeLimit && v.re > -kMagnitudeLimit) &&
         (v.im < kMagnitudeLimit && v.im > -kMagnitudeLimit);
}

struct Expression {
  std::vector<Token> tokens;
  std::string formula;
  std::size_t complexity = 0;    // number of tokens
  std::uint8_t var_count = 0;    // 1 + highest Var index, 0 without variables
  std::uint8_t param_count = 0;  // number of Param tokens
};

// Var indices, var_count, Param indices and param_count are 8-bit, so an
// expression uses at most this many input variables and parameters.
inline constexpr std::size_t kMaxVariables = 255;
inline constexpr std::size_t kMaxParams = 255;

// Construction rules used by the search. make_var_leaf requires index <
// kMaxVariables; make_binary requires the two param_counts to sum to at most
// kMaxParams. Either violation is a caller bug and throws std::length_error.
Expression make_var_leaf(std::uint8_t index);
Expression make_param_leaf();  // "C" with stored value (0.1, 0)
Expression make_unary(std::uint64_t op_id, std::string_view op_name, const Expression& child);
// Parameters of `right` are renumbered after those of `left`.
Expression make_binary(std::uint64_t op_id, std::string_view op_name, const Expression& left,
                       const Expression& right);

// Evaluates with every Param at its stored value.
std::optional<Complex> eval(const Expression& expression, std::span<const Complex> inputs,
                            OperatorList operators);

// Param k takes params[k] when k < params.size(), else its stored value.
std::optional<Complex> eval_with_params(const Expression& expression,
                                        std::span<const Complex> inputs,
                                        std::span<const Complex> params, OperatorList operators);

// The evaluator proper. `stack` is caller-owned scratch; it is emptied on
// entry and on success holds exactly the result. Reusing one stack across
// samples avoids allocating per sample. An Op whose id is outside `operators`
// is an invariant violation and throws std::logic_error.
std::optional<Complex> eval_internal(std::span<const Token> tokens, std::span<const Complex> inputs,
                                     std::span<const Complex> params, OperatorList operators,
                                     std::vector<Complex>& stack);

}  // namespace tov
