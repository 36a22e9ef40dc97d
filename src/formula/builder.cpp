// The construction rules for builtin formulas, powers and token replay.
#include "formula/builder.hpp"

#include <utility>
#include <vector>

#include "formula/exact_constant.hpp"
#include "ops/registry.hpp"

namespace tov {

Expression constant_leaf(double value) {
  Expression leaf = make_param_leaf();
  leaf.tokens[0].value = Complex{value, 0.0};
  return leaf;
}

Expression unary(std::uint64_t op_id, const Expression& child) {
  return make_unary(op_id, find_builtin(op_id)->name, child);
}

Expression binary(std::uint64_t op_id, const Expression& left, const Expression& right) {
  return make_binary(op_id, find_builtin(op_id)->name, left, right);
}

namespace {

Expression integer_power(const Expression& f, std::int64_t k) {
  if (k == 1) return f;
  if (k == 2) return unary(op_id::kSquare, f);
  if (k == 3) return unary(op_id::kCube, f);
  if (k % 2 == 0) return unary(op_id::kSquare, integer_power(f, k / 2));
  if (k % 3 == 0) return unary(op_id::kCube, integer_power(f, k / 3));
  return binary(op_id::kTimes, integer_power(f, k - 1), f);
}

}  // namespace

Expression power_of(const Expression& f, const Rational& e) {
  if (e.is_integer()) return integer_power(f, e.num());
  // e = k + 1/2
  const std::int64_t k = (e.num() - 1) / 2;
  const Expression root = unary(op_id::kSqrt, f);
  if (k == 0) return root;
  if (k == 1) return unary(op_id::kCube, root);
  return binary(op_id::kTimes, integer_power(f, k), root);
}

std::string at_token(std::size_t position, std::string_view problem) {
  return "token " + std::to_string(position) + ": " + std::string(problem);
}

Replayed replay(std::span<const Token> tokens, const std::function<Replayed(const Token&)>& leaf) {
  std::vector<Expression> stack;
  for (std::size_t position = 0; position < tokens.size(); ++position) {
    const Token& token = tokens[position];
    if (token.kind != TokenKind::Op) {
      Replayed made = leaf(token);
      if (std::string* reason = std::get_if<std::string>(&made)) return at_token(position, *reason);
      stack.push_back(std::move(std::get<Expression>(made)));
      continue;
    }
    const BuiltinInfo* op = find_builtin(token.op_id);
    if (op == nullptr || op->arity == 0) return at_token(position, "no such operator");
    if (token.arity != op->arity) return at_token(position, "arity differs from operator's");
    if (stack.size() < op->arity) return at_token(position, "too few operands");
    if (op->arity == 1) {
      stack.back() = make_unary(token.op_id, op->name, stack.back());
      continue;
    }
    Expression right = std::move(stack.back());
    stack.pop_back();
    Expression& left = stack.back();
    if (std::size_t{left.param_count} + right.param_count > kMaxParams)
      return at_token(position, "too many parameters");
    left = make_binary(token.op_id, op->name, left, right);
  }
  if (stack.size() != 1) return std::string("tokens do not form exactly one expression");
  return std::move(stack.back());
}

Replayed search_leaf(const Token& token) {
  switch (token.kind) {
    case TokenKind::Var:
      if (token.index >= kMaxVariables) return std::string("variable index too large");
      return make_var_leaf(token.index);
    case TokenKind::Param: {
      Expression c = make_param_leaf();
      c.tokens[0].value = token.value;
      return c;
    }
    case TokenKind::Real:
      if (const std::optional<ExactConstant> c = exact_of(token)) return make_exact_leaf(*c);
      break;
    case TokenKind::Const:
    case TokenKind::Op:
      break;
  }
  return std::string("kind never produced by a search");
}

}  // namespace tov
