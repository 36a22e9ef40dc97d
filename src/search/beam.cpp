// Beam selection: stable sorts by score, then by skeleton rarity and score.
#include "search/beam.hpp"

#include <algorithm>
#include <charconv>

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

std::vector<Ranked> top_by_score(std::span<const Ranked> scored, std::uint64_t limit) {
  std::vector<Ranked> top(scored.begin(), scored.end());
  const auto keep = static_cast<std::size_t>(std::min<std::uint64_t>(limit, top.size()));
  std::partial_sort(top.begin(), top.begin() + static_cast<std::ptrdiff_t>(keep), top.end(),
                    ranked_before);
  top.resize(keep);
  return top;
}

BeamPlan plan_beam(std::vector<Ranked> tops, std::uint64_t scored, std::uint64_t beam_width,
                   const KeyOf& key_of) {
  std::sort(tops.begin(), tops.end(), ranked_before);
  BeamPlan plan;
  if (scored <= beam_width) {
    for (const Ranked& r : tops) plan.top.push_back(r.index);
    return plan;
  }
  const auto top = static_cast<std::uint64_t>(0.8 * static_cast<double>(beam_width));
  plan.quota = beam_width - top;
  for (std::uint64_t i = 0; i < top; ++i) {
    plan.top.push_back(tops[i].index);
    ++plan.counts[key_of(tops[i].index)];
  }
  return plan;
}

namespace {

bool rest_before(const RankedRest& a, const RankedRest& b) {
  if (a.count != b.count) return a.count < b.count;
  if (score_less(a.score, b.score)) return true;
  if (score_less(b.score, a.score)) return false;
  return a.index < b.index;
}

std::vector<RankedRest> first_rest(std::vector<RankedRest> rest, std::uint64_t quota) {
  const auto keep = static_cast<std::size_t>(std::min<std::uint64_t>(quota, rest.size()));
  std::partial_sort(rest.begin(), rest.begin() + static_cast<std::ptrdiff_t>(keep), rest.end(),
                    rest_before);
  rest.resize(keep);
  return rest;
}

}  // namespace

std::vector<RankedRest> best_remaining(std::span<const Ranked> scored, const BeamPlan& plan,
                                       const KeyOf& key_of) {
  if (plan.quota == 0) return {};
  std::vector<std::uint64_t> top = plan.top;
  std::sort(top.begin(), top.end());
  std::vector<RankedRest> rest;
  rest.reserve(scored.size());
  for (const Ranked& r : scored) {
    if (std::binary_search(top.begin(), top.end(), r.index)) continue;
    const auto it = plan.counts.find(key_of(r.index));
    rest.push_back({r.index, r.score, it == plan.counts.end() ? 0 : it->second});
  }
  return first_rest(std::move(rest), plan.quota);
}

std::vector<std::uint64_t> finish_beam(const BeamPlan& plan, std::vector<RankedRest> rest) {
  std::vector<std::uint64_t> selected = plan.top;
  for (const RankedRest& r : first_rest(std::move(rest), plan.quota)) selected.push_back(r.index);
  return selected;
}

std::vector<std::size_t> select_beam_indices(
    std::span<const double> scores, std::uint64_t beam_width,
    const std::function<std::string(std::size_t)>& key_of) {
  std::vector<Ranked> scored(scores.size());
  for (std::size_t i = 0; i < scores.size(); ++i) scored[i] = {i, scores[i]};
  const KeyOf key = [&](std::uint64_t i) { return key_of(static_cast<std::size_t>(i)); };
  const BeamPlan plan = plan_beam(top_by_score(scored, beam_width), scores.size(), beam_width, key);
  const std::vector<std::uint64_t> picked = finish_beam(plan, best_remaining(scored, plan, key));
  return {picked.begin(), picked.end()};
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
