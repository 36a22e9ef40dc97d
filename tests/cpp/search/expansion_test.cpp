// Candidate enumeration of a level from the retained levels, and the
// materialised expressions and keys of candidates.
#include "search/expansion.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <utility>
#include <vector>

#include "formula/expression.hpp"
#include "ops/registry.hpp"
#include "search/beam.hpp"

namespace tov {
namespace {

LevelEntry entry(Expression e) {
  LevelEntry out;
  out.key = structure_key(e);
  out.expression = std::move(e);
  return out;
}

std::vector<std::string> formulas_of_level(std::size_t level, const Levels& levels,
                                           const OperatorRegistry& registry) {
  std::vector<std::string> out;
  const auto unary = registry.ids_by_arity(1);
  const auto binary = registry.ids_by_arity(2);
  enumerate_candidates(level, levels, unary, binary, registry.metas(), [&](const CandidateRef& r) {
    out.push_back(materialize(r, levels, registry.metas()).formula);
  });
  return out;
}

bool contains(const std::vector<std::string>& v, const std::string& s) {
  return std::find(v.begin(), v.end(), s) != v.end();
}

TEST(Expansion, CountsOrderAndCommutativityPruning) {
  const auto registry = OperatorRegistry::with_builtins();
  Levels levels(4);
  levels[1] = {entry(make_param_leaf()), entry(make_var_leaf(0))};

  const auto level2 = formulas_of_level(2, levels, registry);
  ASSERT_EQ(level2.size(), 26u);  // 13 unary operators per source
  EXPECT_EQ(level2.front(), "Neg(C)");
  EXPECT_EQ(level2[12], "Cube(C)");
  EXPECT_EQ(level2[13], "Neg(v_{0})");

  const auto level3 = formulas_of_level(3, levels, registry);  // slot 2 empty: binary only
  EXPECT_EQ(level3.size(), 4u * 5u - 2u);
  EXPECT_EQ(level3.front(), "TOV(C, C)");
  EXPECT_TRUE(contains(level3, "Plus(C, v_{0})"));
  EXPECT_FALSE(contains(level3, "Plus(v_{0}, C)"));
  EXPECT_TRUE(contains(level3, "Times(C, C)"));
  EXPECT_TRUE(contains(level3, "Subtract(C, v_{0})"));
  EXPECT_TRUE(contains(level3, "Subtract(v_{0}, C)"));

  // Both orders of different levels; an empty slot suppresses its pairs.
  levels[2] = {entry(make_unary(op_id::kSin, "Sin", make_var_leaf(0)))};
  const auto level4 = formulas_of_level(4, levels, registry);
  EXPECT_EQ(level4.size(), 0u + 2u * 5u * 2u);
  EXPECT_TRUE(contains(level4, "Plus(C, Sin(v_{0}))"));
  EXPECT_TRUE(contains(level4, "Plus(Sin(v_{0}), C)"));
}

TEST(Expansion, MaterializedBinaryRenumbersParameters) {
  const auto registry = OperatorRegistry::with_builtins();
  Levels levels(2);
  levels[1] = {entry(make_param_leaf())};
  const Expression e =
      materialize(CandidateRef{0, 0, 1, 1, op_id::kTimes}, levels, registry.metas());
  EXPECT_EQ(e.formula, "Times(C, C)");
  EXPECT_EQ(e.param_count, 2);
  ASSERT_EQ(e.tokens.size(), 3u);
  EXPECT_EQ(e.tokens[0].index, 0);
  EXPECT_EQ(e.tokens[1].index, 1);
  EXPECT_EQ(candidate_key(CandidateRef{0, 0, 1, 1, op_id::kTimes}, levels), "9");
}

}  // namespace
}  // namespace tov
