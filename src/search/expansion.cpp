// Candidates as references to their operands: building their tokens, text and
// structure key on demand.
#include "search/expansion.hpp"

#include <charconv>

namespace tov {

Expression materialize(const CandidateRef& ref, const Levels& levels,
                       std::span<const OperatorMeta> metas) {
  const Expression& left = levels[ref.left_level][ref.left].expression;
  if (ref.right_level == 0) return make_unary(ref.op, metas[ref.op].name, left);
  return make_binary(ref.op, metas[ref.op].name, left,
                     levels[ref.right_level][ref.right].expression);
}

void candidate_tokens(const CandidateRef& ref, const Levels& levels, std::vector<Token>& out) {
  const Expression& left = levels[ref.left_level][ref.left].expression;
  out.assign(left.tokens.begin(), left.tokens.end());
  if (ref.right_level == 0) {
    out.push_back(Token::make_op(1, ref.op));
    return;
  }
  for (Token token : levels[ref.right_level][ref.right].expression.tokens) {
    if (token.kind == TokenKind::Param)
      token.index = static_cast<std::uint8_t>(token.index + left.param_count);
    out.push_back(token);
  }
  out.push_back(Token::make_op(2, ref.op));
}

std::string candidate_key(const CandidateRef& ref, const Levels& levels) {
  std::string key = levels[ref.left_level][ref.left].key;
  if (ref.right_level != 0) {
    const std::string& right = levels[ref.right_level][ref.right].key;
    if (!key.empty() && !right.empty()) key += '-';
    key += right;
  }
  if (!key.empty()) key += '-';
  char buffer[8];
  const auto result = std::to_chars(buffer, buffer + sizeof buffer, unsigned{ref.op});
  key.append(buffer, result.ptr);
  return key;
}

}  // namespace tov
