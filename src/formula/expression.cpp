// Construction of expressions and the reference evaluator.
#include "formula/expression.hpp"

#include <algorithm>
#include <charconv>
#include <stdexcept>

namespace tov {

Token Token::make_const(std::uint64_t op_id, Complex cached) {
  Token token;
  token.kind = TokenKind::Const;
  token.op_id = op_id;
  token.value = cached;
  return token;
}

Token Token::make_real(double value) {
  Token token;
  token.kind = TokenKind::Real;
  token.value = Complex{value, 0.0};
  return token;
}

Token Token::make_var(std::uint8_t index) {
  Token token;
  token.kind = TokenKind::Var;
  token.index = index;
  return token;
}

Token Token::make_param(std::uint8_t index, Complex stored) {
  Token token;
  token.kind = TokenKind::Param;
  token.index = index;
  token.value = stored;
  return token;
}

Token Token::make_op(std::uint8_t arity, std::uint64_t op_id) {
  Token token;
  token.kind = TokenKind::Op;
  token.arity = arity;
  token.op_id = op_id;
  return token;
}

Expression make_var_leaf(std::uint8_t index) {
  if (index >= kMaxVariables) {
    throw std::length_error("make_var_leaf: variable index does not fit var_count");
  }
  char digits[4];
  const auto end = std::to_chars(digits, digits + sizeof digits, index).ptr;
  Expression leaf;
  leaf.tokens.push_back(Token::make_var(index));
  leaf.formula = "v_{";
  leaf.formula.append(digits, end);
  leaf.formula += '}';
  leaf.complexity = 1;
  leaf.var_count = static_cast<std::uint8_t>(index + 1);
  leaf.param_count = 0;
  return leaf;
}

Expression make_param_leaf() {
  Expression leaf;
  leaf.tokens.push_back(Token::make_param(0, Complex{0.1, 0.0}));
  leaf.formula = "C";
  leaf.complexity = 1;
  leaf.var_count = 0;
  leaf.param_count = 1;
  return leaf;
}

Expression make_unary(std::uint64_t op_id, std::string_view op_name, const Expression& child) {
  Expression result;
  result.tokens.reserve(child.tokens.size() + 1);
  result.tokens = child.tokens;
  result.tokens.push_back(Token::make_op(1, op_id));
  result.formula.reserve(op_name.size() + child.formula.size() + 2);
  result.formula.append(op_name);
  result.formula += '(';
  result.formula += child.formula;
  result.formula += ')';
  result.complexity = result.tokens.size();
  result.var_count = child.var_count;
  result.param_count = child.param_count;
  return result;
}

Expression make_binary(std::uint64_t op_id, std::string_view op_name, const Expression& left,
                       const Expression& right) {
  const std::size_t param_count = std::size_t{left.param_count} + right.param_count;
  if (param_count > kMaxParams) {
    throw std::length_error("make_binary: parameter count does not fit param_count");
  }
  Expression result;
  result.tokens.reserve(left.tokens.size() + right.tokens.size() + 1);
  result.tokens = left.tokens;
  for (Token token : right.tokens) {
    if (token.kind == TokenKind::Param) {
      token.index = static_cast<std::uint8_t>(token.index + left.param_count);
    }
    result.tokens.push_back(token);
  }
  result.tokens.push_back(Token::make_op(2, op_id));
  result.formula.reserve(op_name.size() + left.formula.size() + right.formula.size() + 4);
  result.formula.append(op_name);
  result.formula += '(';
  result.formula += left.formula;
  result.formula += ", ";
  result.formula += right.formula;
  result.formula += ')';
  result.complexity = result.tokens.size();
  result.var_count = std::max(left.var_count, right.var_count);
  result.param_count = static_cast<std::uint8_t>(param_count);
  return result;
}

std::optional<Complex> eval(const Expression& expression, std::span<const Complex> inputs,
                            OperatorList operators) {
  return eval_with_params(expression, inputs, {}, operators);
}

std::optional<Complex> eval_with_params(const Expression& expression,
                                        std::span<const Complex> inputs,
                                        std::span<const Complex> params, OperatorList operators) {
  std::vector<Complex> stack;
  stack.reserve(expression.complexity);
  return eval_internal(expression.tokens, inputs, params, operators, stack);
}

std::optional<Complex> eval_internal(std::span<const Token> tokens, std::span<const Complex> inputs,
                                     std::span<const Complex> params, OperatorList operators,
                                     std::vector<Complex>& stack) {
  stack.clear();
  // The depth never exceeds the token count, so pushes never reallocate.
  stack.reserve(tokens.size());
  for (const Token& token : tokens) {
    switch (token.kind) {
      case TokenKind::Const:
        stack.push_back(token.value);
        break;
      case TokenKind::Real:
        stack.push_back(Complex{token.value.re, 0.0});
        break;
      case TokenKind::Var:
        if (token.index >= inputs.size()) {
          return std::nullopt;
        }
        stack.push_back(inputs[token.index]);
        break;
      case TokenKind::Param:
        stack.push_back(token.index < params.size() ? params[token.index] : token.value);
        break;
      case TokenKind::Op: {
        const std::size_t arity = token.arity;
        if (stack.size() < arity) {
          return std::nullopt;
        }
        if (token.op_id >= operators.size()) {
          throw std::logic_error("eval_internal: operator id outside the operator list");
        }
        // The top `arity` values are contiguous and already in argument order
        // (deepest first), so the operator reads them in place; they leave the
        // stack before the result is pushed.
        const std::size_t base = stack.size() - arity;
        const std::optional<Complex> result =
            operators[token.op_id]->eval(std::span<const Complex>(stack.data() + base, arity));
        if (!result || !within_limits(*result)) {
          return std::nullopt;
        }
        stack.resize(base);
        stack.push_back(*result);
        break;
      }
    }
  }
  if (stack.size() != 1) {
    return std::nullopt;
  }
  return stack.front();
}

}  // namespace tov
