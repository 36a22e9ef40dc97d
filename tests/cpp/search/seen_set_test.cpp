#include "search/seen_set.hpp"

#include <gtest/gtest.h>

#include <vector>

namespace tov {
namespace {

// Seed leaves whose values at the fingerprint points are 1e-3 * i.
Levels seeds(std::size_t count) {
  Levels levels(2);
  for (std::size_t i = 0; i < count; ++i) {
    LevelEntry entry;
    entry.expression = make_param_leaf();
    for (auto& v : entry.fp_values) v = Complex{1e-3 * static_cast<double>(i), 0.0};
    levels[1].push_back(entry);
  }
  return levels;
}

CandidateRef seed(std::size_t i) {
  return CandidateRef{static_cast<std::uint32_t>(i), 0, 1, 0, SeenSet::kSeed};
}

TEST(SeenSetTest, MembershipIsDecidedByTheFingerprintsEvenWhenHashesCollide) {
  const Levels levels = seeds(5000);
  for (const bool collide : {false, true}) {
    SeenSet set(1234);
    const auto hash_of = [&](const Fingerprint& fp) {
      return collide ? std::uint64_t{0x5555} | 1 : set.hash(fp);
    };
    // Only 200 distinct hashes when colliding: long probe chains, same answers.
    for (std::size_t i = 0; i < levels[1].size(); ++i) {
      const auto fp = owner_fingerprint(seed(i), levels);
      ASSERT_TRUE(fp.has_value());
      const std::uint64_t h = collide ? (hash_of(*fp) + 2 * (i % 200)) : hash_of(*fp);
      EXPECT_TRUE(set.insert(h, *fp, seed(i), levels)) << i;
      EXPECT_FALSE(set.insert(h, *fp, seed(i), levels)) << i;
    }
    EXPECT_EQ(set.size(), levels[1].size());
    // A second owner with an equal fingerprint is not new.
    const auto fp = owner_fingerprint(seed(7), levels);
    const std::uint64_t h = collide ? (hash_of(*fp) + 2 * 7) : hash_of(*fp);
    EXPECT_FALSE(set.insert(h, *fp, seed(8), levels));
  }
}

TEST(SeenSetTest, CandidateOwnersDeriveTheirFingerprintFromOperands) {
  Levels levels(2);
  LevelEntry v0;
  v0.expression = make_var_leaf(0);
  for (std::size_t p = 0; p < kFingerprintPoints; ++p) v0.fp_values[p] = fingerprint_input(p, 0);
  levels[1].push_back(v0);
  const auto registry = OperatorRegistry::with_builtins();
  for (const std::uint64_t op : registry.ids_by_arity(1)) {
    const CandidateRef ref{0, 0, 1, 0, static_cast<std::uint8_t>(op)};
    const Expression e = make_unary(op, registry.metas()[op].name, v0.expression);
    EXPECT_EQ(owner_fingerprint(ref, levels), fingerprint(e, registry.ops())) << e.formula;
  }
  const CandidateRef plus{0, 0, 1, 1, static_cast<std::uint8_t>(op_id::kPlus)};
  const Expression sum = make_binary(op_id::kPlus, "Plus", v0.expression, v0.expression);
  EXPECT_EQ(owner_fingerprint(plus, levels), fingerprint(sum, registry.ops()));
}

}  // namespace
}  // namespace tov
