// Rebuilding results from token lists by replaying the construction rules.
#include "result/result_restore.hpp"

#include <bit>
#include <cstddef>
#include <cstdint>
#include <string_view>
#include <utility>
#include <vector>

#include "formula/exact_constant.hpp"

namespace tov {

namespace {

bool same_bits(Complex a, Complex b) {
  return std::bit_cast<std::uint64_t>(a.re) == std::bit_cast<std::uint64_t>(b.re) &&
         std::bit_cast<std::uint64_t>(a.im) == std::bit_cast<std::uint64_t>(b.im);
}

std::string at_token(std::size_t position, std::string_view problem) {
  return "token " + std::to_string(position) + ": " + std::string(problem);
}

}  // namespace

std::shared_ptr<const OperatorRegistry> builtin_registry() {
  static const std::shared_ptr<const OperatorRegistry> registry =
      std::make_shared<const OperatorRegistry>(OperatorRegistry::with_builtins());
  return registry;
}

Rebuilt rebuild_expression(std::span<const Token> tokens) {
  const std::span<const OperatorMeta> metas = builtin_registry()->metas();
  std::vector<Expression> stack;
  for (std::size_t position = 0; position < tokens.size(); ++position) {
    const Token& token = tokens[position];
    switch (token.kind) {
      case TokenKind::Var:
        if (token.index >= kMaxVariables) return at_token(position, "variable index too large");
        stack.push_back(make_var_leaf(token.index));
        break;
      case TokenKind::Param:
        stack.push_back(make_param_leaf());
        break;
      case TokenKind::Op: {
        if (token.op_id >= metas.size() || metas[token.op_id].arity == 0) {
          return at_token(position, "no such operator");
        }
        const OperatorMeta& meta = metas[token.op_id];
        if (token.arity != meta.arity) return at_token(position, "arity differs from operator's");
        if (stack.size() < meta.arity) return at_token(position, "too few operands");
        if (meta.arity == 1) {
          stack.back() = make_unary(token.op_id, meta.name, stack.back());
          break;
        }
        Expression right = std::move(stack.back());
        stack.pop_back();
        Expression& left = stack.back();
        if (std::size_t{left.param_count} + right.param_count > kMaxParams) {
          return at_token(position, "too many parameters");
        }
        left = make_binary(token.op_id, meta.name, left, right);
        break;
      }
      case TokenKind::Real:
        if (const std::optional<ExactConstant> c = exact_of(token)) {
          stack.push_back(make_exact_leaf(*c));
          break;
        }
        return at_token(position, "kind never produced by a search");
      case TokenKind::Const:
        return at_token(position, "kind never produced by a search");
    }
  }
  if (stack.size() != 1) return std::string("tokens do not form exactly one expression");

  Expression expression = std::move(stack.back());
  for (std::size_t position = 0; position < tokens.size(); ++position) {
    Token& built = expression.tokens[position];
    const Token& given = tokens[position];
    if (built.kind == TokenKind::Param) built.value = given.value;
    if (built.arity != given.arity || built.index != given.index || built.op_id != given.op_id ||
        !same_bits(built.value, given.value)) {
      return at_token(position, "fields differ from the construction rules");
    }
  }
  return expression;
}

Restored restore_result(std::span<const Token> tokens, double error) {
  Rebuilt rebuilt = rebuild_expression(tokens);
  if (std::string* reason = std::get_if<std::string>(&rebuilt)) return std::move(*reason);
  return SearchResult(std::move(std::get<Expression>(rebuilt)), builtin_registry(), error);
}

}  // namespace tov
