#include "search/beam.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "ops/registry.hpp"
#include "search/coordinator.hpp"
#include "search/search_engine.hpp"

namespace tov {
namespace {

// A leaf wrapped in the given operator ids, innermost first; the formula
// text records the candidate's position so the selection can be read back.
ScoredCandidate candidate(const std::string& name, std::vector<std::uint64_t> ops, double score) {
  Expression e = make_var_leaf(0);
  for (const auto id : ops) e = make_unary(id, "Op", e);
  e.formula = name;
  return {e, score};
}

std::vector<std::string> names(const std::vector<Expression>& retained) {
  std::vector<std::string> out;
  for (const auto& e : retained) out.push_back(e.formula);
  return out;
}

TEST(BeamStructureKey, JoinsOperatorIdsInPostfixOrder) {
  const Expression c = make_param_leaf();
  const Expression v0 = make_var_leaf(0);
  const Expression v1 = make_var_leaf(1);
  const Expression a =
      make_binary(op_id::kPlus, "Plus", make_binary(op_id::kTimes, "Times", c, v0), v1);
  const Expression b =
      make_binary(op_id::kPlus, "Plus", make_binary(op_id::kTimes, "Times", v0, v1), c);
  EXPECT_EQ(structure_key(a), "9-8");
  EXPECT_EQ(structure_key(b), "9-8");
  EXPECT_EQ(structure_key(c), "");
  EXPECT_EQ(structure_key(v0), "");
  EXPECT_EQ(structure_key(make_unary(op_id::kSin, "Sin", make_unary(op_id::kExp, "Exp", v0))),
            "12-15");
}

TEST(BeamSelection, WidthsAndOrdering) {
  struct Case {
    std::uint64_t width;
    std::vector<std::string> expected;
  };
  const std::vector<Case> cases = {
      {0, {}},
      {1, {"b"}},             // top 0, quota 1: the best score wins
      {3, {"b", "c", "a"}},   // exactly as many as candidates: all, sorted
      {10, {"b", "c", "a"}},  // fewer than the width
  };
  for (const auto& c : cases) {
    std::vector<ScoredCandidate> input = {candidate("a", {6}, 3.0), candidate("b", {6}, 1.0),
                                          candidate("c", {6}, 2.0)};
    EXPECT_EQ(names(select_beam(input, c.width)), c.expected) << "width " << c.width;
  }
  EXPECT_TRUE(select_beam({}, 5).empty());
}

TEST(BeamSelection, QuotaGoesToTheBestOfARareSkeleton) {
  // Four best share skeleton 6; the fifth slot goes to the best other one.
  std::vector<ScoredCandidate> input = {candidate("s1", {6}, 1.0), candidate("s2", {6}, 2.0),
                                        candidate("s3", {6}, 3.0), candidate("s4", {6}, 4.0),
                                        candidate("s5", {6}, 5.0), candidate("r1", {7}, 7.0),
                                        candidate("r2", {7}, 6.0), candidate("s6", {6}, 5.5)};
  EXPECT_EQ(names(select_beam(input, 5)), (std::vector<std::string>{"s1", "s2", "s3", "s4", "r2"}));

  // When all remaining candidates share the skeleton, the best of them wins.
  std::vector<ScoredCandidate> same = {candidate("s1", {6}, 1.0), candidate("s2", {6}, 2.0),
                                       candidate("s3", {6}, 3.0), candidate("s4", {6}, 4.0),
                                       candidate("s7", {6}, 7.0), candidate("s5", {6}, 5.0),
                                       candidate("s6", {6}, 6.0), candidate("s8", {6}, 8.0)};
  EXPECT_EQ(names(select_beam(same, 5)), (std::vector<std::string>{"s1", "s2", "s3", "s4", "s5"}));
}

TEST(BeamSelection, QuotaPrefersAbsentThenRarerSkeletons) {
  // Top part (width 10 -> 8): skeleton 6 five times, 7 three times.
  std::vector<ScoredCandidate> input;
  for (int i = 0; i < 5; ++i) input.push_back(candidate("six", {6}, 1.0 + i));
  for (int i = 0; i < 3; ++i) input.push_back(candidate("seven", {7}, 6.0 + i));
  input.push_back(candidate("late-six", {6}, 9.0));
  input.push_back(candidate("late-seven", {7}, 20.0));
  input.push_back(candidate("new", {12}, 30.0));
  const auto picked = names(select_beam(input, 10));
  ASSERT_EQ(picked.size(), 10u);
  EXPECT_EQ(picked[8], "new");         // absent from the top part
  EXPECT_EQ(picked[9], "late-seven");  // three occurrences beat five
}

TEST(BeamSelection, TiesKeepCandidateOrderAndNanSortsLast) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  std::vector<ScoredCandidate> input = {candidate("n", {6}, nan), candidate("x", {6}, 1.0),
                                        candidate("y", {6}, 1.0), candidate("z", {6}, 0.5),
                                        candidate("w", {6}, 1.0)};
  EXPECT_EQ(names(select_beam(input, 5)), (std::vector<std::string>{"z", "x", "y", "w", "n"}));
}

TEST(BeamSelection, IndicesMatchAStableReferenceOnRandomInputs) {
  // The partial sort of the diversity part must equal a full stable sort.
  std::uint64_t state = 12345;
  const auto next = [&] {
    state = state * 6364136223846793005ULL + 1442695040888963407ULL;
    return state >> 33;
  };
  for (int round = 0; round < 200; ++round) {
    const std::size_t n = next() % 40;
    const std::uint64_t width = next() % 30;
    std::vector<double> scores(n);
    std::vector<std::string> keys(n);
    for (std::size_t i = 0; i < n; ++i) {
      scores[i] = static_cast<double>(next() % 6);
      keys[i] = std::to_string(next() % 4);
    }
    const auto picked = select_beam_indices(scores, width, [&](std::size_t i) { return keys[i]; });

    std::vector<std::size_t> order(n);
    for (std::size_t i = 0; i < n; ++i) order[i] = i;
    std::stable_sort(order.begin(), order.end(),
                     [&](auto a, auto b) { return scores[a] < scores[b]; });
    std::vector<std::size_t> expected = order;
    if (n > width) {
      const auto top = static_cast<std::size_t>(0.8 * static_cast<double>(width));
      std::map<std::string, int> counts;
      for (std::size_t i = 0; i < top; ++i) ++counts[keys[order[i]]];
      std::vector<std::size_t> rest(order.begin() + static_cast<long>(top), order.end());
      std::stable_sort(rest.begin(), rest.end(), [&](auto a, auto b) {
        if (counts[keys[a]] != counts[keys[b]]) return counts[keys[a]] < counts[keys[b]];
        return scores[a] < scores[b];
      });
      expected.assign(order.begin(), order.begin() + static_cast<long>(top));
      expected.insert(expected.end(), rest.begin(), rest.begin() + static_cast<long>(width - top));
    }
    EXPECT_EQ(picked, expected) << "round " << round;
  }
}

TEST(BeamSelection, ShardsChooseWhatTheWholeLevelChooses) {
  // Scores split into contiguous shards, selected in two rounds, against one
  // selection over all of them; NaN scores and ties included. The front
  // pick against feeding every value in order with a strict "<".
  std::mt19937_64 rng(77);
  const double nan = std::numeric_limits<double>::quiet_NaN();
  for (int round = 0; round < 300; ++round) {
    const std::size_t n = rng() % 60;
    const std::uint64_t width = rng() % 25;
    std::vector<double> scores(n);
    std::vector<std::string> keys(n);
    for (std::size_t i = 0; i < n; ++i) {
      scores[i] = rng() % 9 == 0 ? nan : static_cast<double>(rng() % 7);
      keys[i] = std::to_string(rng() % 4);
    }
    const KeyOf key_of = [&](std::uint64_t i) { return keys[i]; };
    std::vector<std::uint64_t> bounds{0};
    while (bounds.back() < n)
      bounds.push_back(std::min<std::uint64_t>(n, bounds.back() + 1 + rng() % 15));

    std::vector<std::vector<Ranked>> shards;
    std::vector<Ranked> tops;
    std::vector<ShardSummary> summaries;
    for (std::size_t s = 0; s + 1 < bounds.size(); ++s) {
      std::vector<Ranked> shard;
      ShardSummary summary;
      for (std::uint64_t i = bounds[s]; i < bounds[s + 1]; ++i) {
        shard.push_back({i, scores[i]});
        if (!summary.first) summary.first = FrontCandidate{i, scores[i], {}};
        if (!std::isnan(scores[i]) && (!summary.lowest || scores[i] < summary.lowest->value))
          summary.lowest = FrontCandidate{i, scores[i], {}};
      }
      const auto top = top_by_score(shard, width);
      tops.insert(tops.end(), top.begin(), top.end());
      shards.push_back(std::move(shard));
      summaries.push_back(std::move(summary));
    }
    const BeamPlan plan = plan_beam(tops, n, width, key_of);
    std::vector<RankedRest> rest;
    for (const auto& shard : shards) {
      const auto best = best_remaining(shard, plan, key_of);
      rest.insert(rest.end(), best.begin(), best.end());
    }
    const auto whole = select_beam_indices(scores, width, [&](std::size_t i) { return keys[i]; });
    EXPECT_EQ(finish_beam(plan, rest), std::vector<std::uint64_t>(whole.begin(), whole.end()))
        << "round " << round;

    std::optional<std::uint64_t> fed;
    for (std::uint64_t i = 0; i < n; ++i)
      if (!fed || scores[i] < scores[*fed]) fed = i;
    const auto pick = front_pick(summaries);
    ASSERT_EQ(pick.has_value(), fed.has_value());
    if (fed) {
      EXPECT_EQ(pick->index, *fed) << "round " << round;
    }
  }
}

}  // namespace
}  // namespace tov
