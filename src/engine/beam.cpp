// Beam selection: stable sorts by score, then by skeleton rarity and score.
#include "engine/beam.hpp"

#include <algorithm>
#include <charconv>
#include <numeric>
#include <unordered_map>

namespace tov {

std::string structure_key(const Expression& expression) {
  std::string key;
  for (const Token& token : expression.tokens) {
    if (token.kind != TokenKind::Op) continue;
    if (!key.empty()) key += '-';
    char buffer[24];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, token.op_id);
    key.append(buffer, result.ptr);
  }
  return key;
}

std::vector<std::size_t> select_beam_indices(
    std::span<const double> scores, std::uint64_t beam_width,
    const std::function<std::string(std::size_t)>& key_of) {
  std::vector<std::size_t> order(scores.size());
  std::iota(order.begin(), order.end(), std::size_t{0});
  std::stable_sort(order.begin(), order.end(),
                   [&](std::size_t a, std::size_t b) { return score_less(scores[a], scores[b]); });
  if (order.size() <= beam_width) return order;

  const auto top = static_cast<std::uint64_t>(0.8 * static_cast<double>(beam_width));
  const std::uint64_t quota = beam_width - top;

  std::unordered_map<std::string, std::int32_t> counts;
  for (std::uint64_t i = 0; i < top; ++i) ++counts[key_of(order[i])];

  struct Rest {
    std::size_t index;
    std::size_t position;  // in the first order; breaks ties as a stable sort would
    std::int32_t count;
  };
  std::vector<Rest> rest;
  rest.reserve(order.size() - top);
  for (std::size_t i = top; i < order.size(); ++i) {
    const auto it = counts.find(key_of(order[i]));
    rest.push_back({order[i], i, it == counts.end() ? 0 : it->second});
  }
  // Only the first `quota` of the second order are needed; with the position
  // as last key the order is total, so a partial sort gives the stable result.
  const auto keep = static_cast<std::size_t>(std::min<std::uint64_t>(quota, rest.size()));
  std::partial_sort(rest.begin(), rest.begin() + static_cast<std::ptrdiff_t>(keep), rest.end(),
                    [&](const Rest& a, const Rest& b) {
                      if (a.count != b.count) return a.count < b.count;
                      if (score_less(scores[a.index], scores[b.index])) return true;
                      if (score_less(scores[b.index], scores[a.index])) return false;
                      return a.position < b.position;
                    });
  order.resize(top);
  for (std::size_t i = 0; i < keep; ++i) order.push_back(rest[i].index);
  return order;
}

std::vector<Expression> select_beam(std::vector<ScoredCandidate> candidates,
                                    std::uint64_t beam_width) {
  std::vector<double> scores;
  scores.reserve(candidates.size());
  for (const auto& candidate : candidates) scores.push_back(candidate.score);
  const auto picked = select_beam_indices(
      scores, beam_width, [&](std::size_t i) { return structure_key(candidates[i].expression); });
  std::vector<Expression> retained;
  retained.reserve(picked.size());
  for (std::size_t i : picked) retained.push_back(std::move(candidates[i].expression));
  return retained;
}

}  // namespace tov
