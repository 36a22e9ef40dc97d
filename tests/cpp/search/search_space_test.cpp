// The operators a search combines: the builtins, those of the mask enabled,
// each arity in registry order.
#include "search/search_space.hpp"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

namespace tov {
namespace {

TEST(SearchSpace, EnablesTheMaskedBuiltinsInRegistryOrder) {
  SearchConfig config;
  const SearchSpace all = make_search_space(config);
  EXPECT_EQ(all.registry->size(), op_id::kBuiltinCount);
  std::vector<std::uint64_t> unary;
  std::vector<std::uint64_t> binary;
  for (const BuiltinInfo& op : kBuiltins) (op.arity == 1 ? unary : binary).push_back(op.id);
  EXPECT_EQ(all.unary, unary);
  EXPECT_EQ(all.binary, binary);

  config.operator_mask = (std::uint64_t{1} << op_id::kPlus) | (std::uint64_t{1} << op_id::kSin) |
                         (std::uint64_t{1} << op_id::kTimes);
  const SearchSpace some = make_search_space(config);
  EXPECT_EQ(some.unary, std::vector<std::uint64_t>{op_id::kSin});
  EXPECT_EQ(some.binary, (std::vector<std::uint64_t>{op_id::kPlus, op_id::kTimes}));
  // The named constants (ids 0 to 4) are leaves, never combined.
  config.operator_mask = 0b11111;
  EXPECT_TRUE(make_search_space(config).unary.empty());
  EXPECT_TRUE(make_search_space(config).binary.empty());
}

}  // namespace
}  // namespace tov
