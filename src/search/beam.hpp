// Beam selection: which scored candidates of a level are retained as
// operands for later levels. The best-scoring four fifths of the beam are
// kept by score; the last fifth goes to candidates whose operator skeleton is
// rare among those, so the beam does not fill with variants of one shape.
#pragma once

#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <unordered_map>
#include <vector>

#include "formula/expression.hpp"

namespace tov {

struct ScoredCandidate {
  Expression expression;
  double score;
};

// The operator ids of the Op tokens in postfix order, joined with "-";
// empty for an expression without operators.
std::string structure_key(const Expression& expression);

// Orders scores ascending with NaN after every number.
inline bool score_less(double a, double b) {
  if (a != a) return false;
  if (b != b) return true;
  return a < b;
}

// --- Selection over shards ------------------------------------------------
// A level's candidates may be scored in shards, contiguous ranges of the
// candidate list evaluated apart (on the workers of a cluster, or all at
// once). The selection then runs in two rounds that together choose exactly
// what one selection over the whole list chooses:
//   1. each shard reports its best `beam_width` candidates by (score, index)
//      with their structure keys (top_by_score); plan_beam merges them into
//      the top part and counts its skeletons;
//   2. each shard reports its best `quota` other candidates by (skeleton
//      count, score, index) (best_remaining); finish_beam merges them.
// Ordering by index after score is what a stable sort of the whole list does.

struct Ranked {
  std::uint64_t index = 0;  // position in the level's candidate list
  double score = 0.0;
};

// Before in the first sort: lower score (NaN after every number), then lower index.
inline bool ranked_before(const Ranked& a, const Ranked& b) {
  if (score_less(a.score, b.score)) return true;
  if (score_less(b.score, a.score)) return false;
  return a.index < b.index;
}

// Gives the structure key of the candidate at an index.
using KeyOf = std::function<std::string(std::uint64_t)>;

// The first `limit` of `scored` in ranked_before order.
std::vector<Ranked> top_by_score(std::span<const Ranked> scored, std::uint64_t limit);

struct BeamPlan {
  // The top part in selection order; every selected candidate when nothing
  // is left for the quota.
  std::vector<std::uint64_t> top;
  std::uint64_t quota = 0;                               // candidates still to choose in round 2
  std::unordered_map<std::string, std::int32_t> counts;  // skeletons of the top part
};

// Round 1: `tops` holds every shard's top_by_score list, in any order;
// `scored` is the number of scored candidates of the whole level. `key_of`
// is asked only for the candidates of the top part, and only when there is a
// quota.
BeamPlan plan_beam(std::vector<Ranked> tops, std::uint64_t scored, std::uint64_t beam_width,
                   const KeyOf& key_of);

struct RankedRest {
  std::uint64_t index = 0;
  double score = 0.0;
  std::int32_t count = 0;  // the skeleton's count in the top part
};

// Round 2 on one shard: its best `plan.quota` candidates outside the top
// part by (count, score, index).
std::vector<RankedRest> best_remaining(std::span<const Ranked> scored, const BeamPlan& plan,
                                       const KeyOf& key_of);

// The whole selection: the top part, then the first `plan.quota` of every
// shard's best_remaining list merged.
std::vector<std::uint64_t> finish_beam(const BeamPlan& plan, std::vector<RankedRest> rest);

// The selection on indices: returns positions into `scores` in selection
// order (at most beam_width). `key_of(i)` gives the structure key of
// candidate i; it is called only when there are more candidates than
// beam_width. Equal scores keep candidate order.
std::vector<std::size_t> select_beam_indices(std::span<const double> scores,
                                             std::uint64_t beam_width,
                                             const std::function<std::string(std::size_t)>& key_of);

std::vector<Expression> select_beam(std::vector<ScoredCandidate> candidates,
                                    std::uint64_t beam_width);

}  // namespace tov
