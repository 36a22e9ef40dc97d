// Rebuilding results from token lists by replaying the construction rules.
#include "result/result_restore.hpp"

#include <bit>
#include <cstddef>
#include <cstdint>
#include <string_view>
#include <utility>
#include <vector>

#include "formula/builder.hpp"

namespace tov {

namespace {

bool same_bits(Complex a, Complex b) {
  return std::bit_cast<std::uint64_t>(a.re) == std::bit_cast<std::uint64_t>(b.re) &&
         std::bit_cast<std::uint64_t>(a.im) == std::bit_cast<std::uint64_t>(b.im);
}

}  // namespace

Rebuilt rebuild_expression(std::span<const Token> tokens) {
  Replayed replayed = replay(tokens, search_leaf);
  if (std::string* reason = std::get_if<std::string>(&replayed)) return std::move(*reason);
  Expression expression = std::move(std::get<Expression>(replayed));
  for (std::size_t position = 0; position < tokens.size(); ++position) {
    const Token& built = expression.tokens[position];
    const Token& given = tokens[position];
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
