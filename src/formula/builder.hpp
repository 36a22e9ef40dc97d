// Formulas of builtin operators, built by the construction rules of the
// search: leaves, unary and binary nodes, powers, and the replay of a
// postfix token list through those rules. Everything that writes a formula
// outside the levels (the affine map, sums and products of terms, the
// reduction to dimensionless groups, restored results) builds it here.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <variant>

#include "formula/expression.hpp"
#include "numeric/rational.hpp"

namespace tov {

// A free constant "C" with stored value `value`.
Expression constant_leaf(double value);
// The builtin operator `op_id` over its operands; the ids must be builtins
// of that arity.
Expression unary(std::uint64_t op_id, const Expression& child);
Expression binary(std::uint64_t op_id, const Expression& left, const Expression& right);

// f^e for a positive e with denominator 1 or 2. Integer powers: Square and
// Cube, f^k = Square(f^(k/2)) for even k, Cube(f^(k/3)) for other multiples
// of 3, else Times(f^(k-1), f); half-integer ones: Sqrt(f), Cube(Sqrt(f)),
// and Times(f^k, Sqrt(f)) for k + 1/2 above 2.
Expression power_of(const Expression& f, const Rational& e);

// A formula, or why the tokens form none ("token 3: too few operands").
using Replayed = std::variant<Expression, std::string>;

// Replays postfix `tokens` through the construction rules. `leaf(token)`
// turns each token other than an operator into a formula, or refuses it
// with a reason; an operator must be a builtin of its arity with its
// operands before it, and a binary one may hold at most kMaxParams
// parameters. The one formula the tokens form, or the first refusal.
Replayed replay(std::span<const Token> tokens, const std::function<Replayed(const Token&)>& leaf);

// The reason for a refusal at token `position`.
std::string at_token(std::size_t position, std::string_view problem);

// The leaf of a Var token (index below kMaxVariables), a Param token (its
// value kept) or a Real token that stands for an exact constant: the leaves
// a search produces; a reason for any other.
Replayed search_leaf(const Token& token);

}  // namespace tov
