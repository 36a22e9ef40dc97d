// Library construction and the formula helpers of the term models.
#include "terms/term_library.hpp"

#include <algorithm>
#include <cstring>
#include <set>
#include <string>
#include <utility>

#include "formula/builder.hpp"
#include "ops/registry.hpp"

namespace tov {

std::optional<std::vector<double>> real_signal(std::span<const Complex> values,
                                               std::span<const double> weights) {
  const auto w = [&](std::size_t i) { return weights.empty() ? 1.0 : weights[i]; };
  double total = 0.0;
  double sum = 0.0;
  double sum_magnitude = 0.0;
  for (std::size_t i = 0; i < values.size(); ++i) {
    const Complex& v = values[i];
    total = total + w(i);
    sum = sum + w(i) * v.re;
    sum_magnitude = sum_magnitude + w(i) * (v.re * v.re + v.im * v.im);
  }
  const double mean = sum / total;
  double spread = 0.0;
  std::vector<double> out;
  out.reserve(values.size());
  for (std::size_t i = 0; i < values.size(); ++i) {
    const double d = values[i].re - mean;
    spread = spread + w(i) * (d * d);
    out.push_back(values[i].re);
  }
  if (rounding_only(spread, sum_magnitude)) return std::nullopt;
  return out;
}

bool uses_only(const Expression& expression, std::uint64_t operator_mask) {
  for (const Token& t : expression.tokens)
    if (t.kind == TokenKind::Op && (t.op_id >= 64 || !((operator_mask >> t.op_id) & 1)))
      return false;
  return true;
}

std::optional<Expression> rebuild(std::span<const Token> tokens) {
  Replayed replayed = replay(tokens, [](const Token& t) -> Replayed {
    if (t.kind == TokenKind::Var || t.kind == TokenKind::Param) return search_leaf(t);
    return std::string("not a variable or a free constant");
  });
  if (Expression* e = std::get_if<Expression>(&replayed)) return std::move(*e);
  return std::nullopt;
}

namespace {

// Where the subtree ending at token `end` starts.
std::size_t subtree_start(std::span<const Token> tokens, std::size_t end) {
  std::size_t need = 1;
  std::size_t pos = end + 1;
  while (need > 0 && pos > 0) {
    --pos;
    need = need - 1 + (tokens[pos].kind == TokenKind::Op ? tokens[pos].arity : 0);
  }
  return pos;
}

// A subtree without variables is a constant.
bool is_constant(std::span<const Token> tokens) {
  return std::none_of(tokens.begin(), tokens.end(),
                      [](const Token& t) { return t.kind == TokenKind::Var; });
}

// The operand that remains when the root of `tokens` is one of the wrappers.
std::optional<std::span<const Token>> unwrap(std::span<const Token> tokens, Wrappers wrappers) {
  if (tokens.size() < 2) return std::nullopt;
  const Token& root = tokens.back();
  if (root.kind != TokenKind::Op) return std::nullopt;
  const std::size_t last = tokens.size() - 1;
  if (root.arity == 1) {
    const bool unwraps = root.op_id == op_id::kNeg ||
                         (wrappers == Wrappers::Multiplicative && root.op_id == op_id::kInv);
    if (unwraps) return tokens.first(last);
    return std::nullopt;
  }
  if (root.arity != 2) return std::nullopt;
  const std::size_t split = subtree_start(tokens, last - 1);
  const std::span<const Token> left = tokens.subspan(0, split);
  const std::span<const Token> right = tokens.subspan(split, last - split);
  const bool times = root.op_id == op_id::kTimes;
  const bool divide = root.op_id == op_id::kDivide;
  const bool offset = root.op_id == op_id::kPlus || root.op_id == op_id::kSubtract;
  if (times || (divide && wrappers == Wrappers::Multiplicative) ||
      (offset && wrappers == Wrappers::Affine)) {
    if (is_constant(left)) return right;
    if (is_constant(right)) return left;
  }
  if (divide && is_constant(right)) return left;
  return std::nullopt;
}

// The identity of a formula with its constants: its tokens, field by field.
std::string identity(const Expression& e) {
  std::string key;
  for (const Token& t : e.tokens) {
    char bytes[1 + 1 + 1 + sizeof t.op_id + sizeof t.value.re + sizeof t.value.im];
    bytes[0] = static_cast<char>(t.kind);
    bytes[1] = static_cast<char>(t.arity);
    bytes[2] = static_cast<char>(t.index);
    std::memcpy(bytes + 3, &t.op_id, sizeof t.op_id);
    std::memcpy(bytes + 3 + sizeof t.op_id, &t.value.re, sizeof t.value.re);
    std::memcpy(bytes + 3 + sizeof t.op_id + sizeof t.value.re, &t.value.im, sizeof t.value.im);
    key.append(bytes, sizeof bytes);
  }
  return key;
}

}  // namespace

namespace {

// The operands of a binary root.
std::pair<std::span<const Token>, std::span<const Token>> operands(std::span<const Token> tokens) {
  const std::size_t last = tokens.size() - 1;
  const std::size_t split = subtree_start(tokens, last - 1);
  return {tokens.subspan(0, split), tokens.subspan(split, last - split)};
}

// A product tree at the root without its constant factors and negations:
// c g -> g, g / c -> g, -g -> g, applied through Times and Divide.
std::optional<Expression> scale_free(std::span<const Token> tokens) {
  const Token& root = tokens.back();
  if (tokens.size() >= 2 && root.kind == TokenKind::Op) {
    if (root.arity == 1 && root.op_id == op_id::kNeg)
      return scale_free(tokens.first(tokens.size() - 1));
    const bool times = root.arity == 2 && root.op_id == op_id::kTimes;
    const bool divide = root.arity == 2 && root.op_id == op_id::kDivide;
    if (times || divide) {
      const auto [left, right] = operands(tokens);
      if (is_constant(right)) return scale_free(left);
      if (times && is_constant(left)) return scale_free(right);
      if (!is_constant(left)) {
        const std::optional<Expression> a = scale_free(left);
        const std::optional<Expression> b = scale_free(right);
        if (!a || !b) return std::nullopt;
        return binary(root.op_id, *a, *b);
      }
    }
  }
  return rebuild(tokens);
}

}  // namespace

Expression strip(const Expression& expression, Wrappers wrappers) {
  std::span<const Token> tokens = expression.tokens;
  while (const std::optional<std::span<const Token>> inner = unwrap(tokens, wrappers))
    tokens = *inner;
  return scale_free(tokens).value_or(expression);
}

std::vector<Expression> term_library(std::size_t variables, std::span<const Expression> retained,
                                     Wrappers wrappers) {
  std::vector<Expression> library;
  std::set<std::string> seen;
  const auto add = [&](Expression e) {
    if (seen.insert(identity(e)).second) library.push_back(std::move(e));
  };
  for (std::size_t j = 0; j < variables && j < kMaxVariables; ++j)
    add(make_var_leaf(static_cast<std::uint8_t>(j)));
  for (const Expression& e : retained) add(strip(e, wrappers));
  return library;
}

std::optional<std::vector<Complex>> values_at(const Expression& expression, Samples samples,
                                              OperatorList operators) {
  std::vector<Complex> out;
  out.reserve(samples.size());
  std::vector<Complex> stack;
  for (const std::vector<Complex>& sample : samples) {
    const std::optional<Complex> v = eval_internal(expression.tokens, sample, {}, operators, stack);
    if (!v || !within_limits(*v)) return std::nullopt;
    out.push_back(*v);
  }
  return out;
}

}  // namespace tov
