// Semantic fingerprints: the sample points, quantisation, the documented
// fingerprints of the leaves, absence, and the hash.
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstdint>
#include <limits>
#include <optional>
#include <unordered_set>
#include <vector>

#include "formula/fingerprint.hpp"
#include "ops/registry.hpp"

namespace tov {
namespace {

constexpr std::int64_t kMax = std::numeric_limits<std::int64_t>::max();
constexpr std::int64_t kMin = std::numeric_limits<std::int64_t>::min();
constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

const OperatorRegistry& registry() {
  static const OperatorRegistry instance = OperatorRegistry::with_builtins();
  return instance;
}

Expression unary(std::uint64_t id, const Expression& child) {
  return make_unary(id, registry().metas()[id].name, child);
}

Expression binary(std::uint64_t id, const Expression& left, const Expression& right) {
  return make_binary(id, registry().metas()[id].name, left, right);
}

Expression param_with(Complex stored) {
  Expression e = make_param_leaf();
  e.tokens[0].value = stored;
  return e;
}

TEST(FingerprintInput, PointsCycleTheBaseValuesAndStepOddPoints) {
  const struct {
    std::size_t point, var;
    Complex expected;
  } cases[] = {
      {0, 0, {0.5772156649015329, 0}},   {0, 4, {1.202056903159594, 0}},
      {1, 0, {1.2824271291006226, 0.1}}, {1, 2, {0.6931471805599453, 0.30000000000000004}},
      {3, 1, {1.202056903159594, 0.2}},  {4, 3, {1.618033988749895, 0}},
      {2, 7, {1.202056903159594, 0}},
  };
  for (const auto& c : cases) {
    const Complex got = fingerprint_input(c.point, c.var);
    EXPECT_EQ(got.re, c.expected.re) << c.point << "," << c.var;
    EXPECT_EQ(got.im, c.expected.im) << c.point << "," << c.var;
    EXPECT_FALSE(std::signbit(got.im));
  }
}

TEST(Quantise, RoundsHalvesAwayFromZeroAndSaturates) {
  const struct {
    double x;
    std::int64_t expected;
  } cases[] = {
      {0.0, 0},
      {-0.0, 0},
      {1e-11, 0},
      {5e-11, 1},
      {1.5e-10, 2},
      {2.5e-10, 3},
      {-2.5e-10, -3},
      {0.1, 1000000000},
      {0.6931471805599453, 6931471806},
      {5e9, kMax},
      {-5e9, kMin},
      {kInf, kMax},
      {-kInf, kMin},
      {kNaN, 0},
      // 2^63 / 1e10 lands on 2^63 itself, the first value out of range.
      {922337203.6854775807, kMax},
      {-922337203.6854775808, kMin},
      {9e8, 9000000000000000000},
      {-9e8, -9000000000000000000},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(quantise_part(c.x), c.expected) << c.x;
  }
}

using Parts = std::array<std::int64_t, 10>;

TEST(Fingerprint, DocumentedValues) {
  const struct {
    const char* label;
    Expression e;
    Parts expected;
  } cases[] = {
      {"v_{0}",
       make_var_leaf(0),
       {5772156649, 0, 12824271291, 1000000000, 16180339887, 0, 6931471806, 1000000000, 12020569032,
        0}},
      {"v_{1}",
       make_var_leaf(1),
       {12824271291, 0, 16180339887, 2000000000, 6931471806, 0, 12020569032, 2000000000, 5772156649,
        0}},
      {"C",
       make_param_leaf(),
       {1000000000, 0, 1000000000, 0, 1000000000, 0, 1000000000, 0, 1000000000, 0}},
      {"C = 5e9", param_with({5e9, 0}), {kMax, 0, kMax, 0, kMax, 0, kMax, 0, kMax, 0}},
      {"C = -5e9", param_with({-5e9, 0}), {kMin, 0, kMin, 0, kMin, 0, kMin, 0, kMin, 0}},
  };
  for (const auto& c : cases) {
    const auto fp = fingerprint(c.e, registry().ops());
    ASSERT_TRUE(fp.has_value()) << c.label;
    EXPECT_EQ(fp->parts, c.expected) << c.label;
  }
}

TEST(Fingerprint, EquivalentFormulasShareOne) {
  const Expression v0 = make_var_leaf(0);
  const Expression v1 = make_var_leaf(1);
  const struct {
    Expression a, b;
  } pairs[] = {
      {binary(op_id::kPlus, v0, v1), binary(op_id::kPlus, v1, v0)},
      {unary(op_id::kNeg, unary(op_id::kNeg, v0)), v0},
      {binary(op_id::kTimes, v0, v0), unary(op_id::kSquare, v0)},
  };
  for (const auto& p : pairs) {
    const auto a = fingerprint(p.a, registry().ops());
    const auto b = fingerprint(p.b, registry().ops());
    ASSERT_TRUE(a && b) << p.a.formula;
    EXPECT_EQ(*a, *b) << p.a.formula << " vs " << p.b.formula;
  }
  EXPECT_NE(*fingerprint(v0, registry().ops()), *fingerprint(v1, registry().ops()));
}

TEST(Fingerprint, AbsentWhenAnyPointFails) {
  const Expression v0 = make_var_leaf(0);
  const Expression absent[] = {
      unary(op_id::kLog, binary(op_id::kSubtract, v0, v0)),
      unary(op_id::kExp, unary(op_id::kExp, unary(op_id::kExp, v0))),
      // Leaf values bypass the evaluator's range check but not the fingerprint's.
      param_with({1e15, 0}),
      param_with({0, -1e15}),
      param_with({kNaN, 0}),
  };
  for (const Expression& e : absent) {
    EXPECT_FALSE(fingerprint(e, registry().ops()).has_value()) << e.formula;
  }
  EXPECT_TRUE(fingerprint(param_with({std::nextafter(1e15, 0.0), 0}), registry().ops()));
}

TEST(FingerprintFromValues, OneBadPointMakesItAbsent) {
  const Complex bad[] = {{1e15, 0}, {0, -1e15}, {kInf, 0}, {0, kNaN}};
  for (std::size_t point = 0; point < kFingerprintPoints; ++point) {
    for (const Complex b : bad) {
      std::array<Complex, kFingerprintPoints> values{};
      values[point] = b;
      EXPECT_FALSE(fingerprint_from_values(values).has_value()) << point;
    }
  }
  std::array<Complex, kFingerprintPoints> edge;
  edge.fill({-std::nextafter(1e15, 0.0), std::nextafter(1e15, 0.0)});
  EXPECT_TRUE(fingerprint_from_values(edge).has_value());
}

TEST(FingerprintHashTest, EqualForEqualAndSpreadsNeighbours) {
  const FingerprintHash hash{42};
  std::unordered_set<std::size_t> hashes;
  Fingerprint fp;
  for (std::size_t part = 0; part < fp.parts.size(); ++part) {
    for (std::int64_t delta = -500; delta <= 500; ++delta) {
      Fingerprint neighbour = fp;
      neighbour.parts[part] += delta;
      EXPECT_EQ(hash(neighbour), hash(Fingerprint(neighbour)));
      if (delta != 0 || part == 0) {
        hashes.insert(hash(neighbour));
      }
    }
  }
  EXPECT_EQ(hashes.size(), fp.parts.size() * 1000 + 1);
  EXPECT_NE(FingerprintHash{1}(fp), FingerprintHash{2}(fp));
}

}  // namespace
}  // namespace tov
