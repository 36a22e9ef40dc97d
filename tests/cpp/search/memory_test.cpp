// The memory estimate made before each level: the count of candidates a
// level tries and the bytes it needs, saturating instead of wrapping.
#include "search/memory.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <vector>

#include "search/bfs.hpp"

namespace tov {
namespace {

constexpr std::uint64_t kMax = std::numeric_limits<std::uint64_t>::max();

TEST(Memory, GeneratedCountIsEveryUnaryAndBinaryCombination) {
  // sizes[k]: expressions retained at level k (index 0 unused).
  const std::vector<std::uint64_t> sizes = {0, 2, 26, 315, 1000};
  const struct {
    std::size_t level;
    std::uint64_t expected;
  } cases[] = {
      {2, 13 * 2},
      {3, 13 * 26 + 5 * (2 * 2)},
      {4, 13 * 315 + 5 * (2 * 26 + 26 * 2)},
      {5, 13 * 1000 + 5 * (2 * 315 + 26 * 26 + 315 * 2)},
  };
  for (const auto& c : cases) EXPECT_EQ(generated_count(c.level, sizes, 13, 5), c.expected);
  const std::vector<std::uint64_t> huge = {0, kMax / 2, kMax / 2};
  EXPECT_EQ(generated_count(3, huge, 1, 2), kMax);
}

TEST(Memory, LevelMemoryGrowsWithEveryFactorAndSaturates) {
  const std::uint64_t base = level_memory(5, 1000, 100, 50, 2);
  EXPECT_GT(level_memory(5, 2000, 100, 50, 2), base);
  EXPECT_GT(level_memory(5, 1000, 200, 50, 2), base);
  EXPECT_GT(level_memory(5, 1000, 100, 60, 2), base);
  EXPECT_GT(level_memory(5, 1000, 100, 50, 3), base);
  EXPECT_GT(level_memory(6, 1000, 100, 50, 2), base);
  // The beam retains at most what was generated.
  EXPECT_EQ(level_memory(5, 10, 100, 50, 2), level_memory(5, 10, 10, 50, 2));
  EXPECT_EQ(level_memory(5, kMax, kMax, kMax, kMax), kMax);
}

TEST(Memory, TheEstimateCoversWhatASearchTries) {
  std::vector<std::vector<double>> rows;
  std::vector<double> ys;
  for (int i = 0; i < 20; ++i) {
    rows.push_back({0.3 + 0.1 * i, 1.0 - 0.04 * i});
    ys.push_back(std::sin(rows.back()[0]) * rows.back()[1] + 0.1 * i * i);
  }
  SearchConfig config;
  config.max_complexity = 5;
  config.beam_width = 40;
  config.verbose = false;
  SearchStats stats;
  SearchControl control;
  control.stats = &stats;
  ASSERT_TRUE(run_bfs(rows, ys, config, control));
  ASSERT_EQ(stats.generated.size(), stats.candidates.size());
  for (std::size_t k = 0; k < stats.generated.size(); ++k)
    EXPECT_GE(stats.generated[k], stats.candidates[k]) << k;
}

}  // namespace
}  // namespace tov
