// The worker pool: ordered parallel maps, failures carried to the caller.
#include "search/worker_pool.hpp"

#include <gtest/gtest.h>

#include <stdexcept>
#include <vector>

#include "config/search_config.hpp"

namespace tov {
namespace {

TEST(WorkerPoolTest, MapsInOrderAndPropagatesFailures) {
  WorkerPool pool(3);
  std::vector<std::size_t> out;
  ASSERT_TRUE(parallel_map(
      pool, 10000, [](std::size_t i) { return i * i; }, out));
  for (std::size_t i = 0; i < out.size(); ++i) ASSERT_EQ(out[i], i * i);
  EXPECT_THROW(static_cast<void>(pool.run(100,
                                          [](std::size_t i) {
                                            if (i == 42) throw std::runtime_error("boom");
                                          })),
               std::runtime_error);
  // The pool is still usable afterwards.
  ASSERT_TRUE(parallel_map(
      pool, 5, [](std::size_t i) { return i; }, out));
  EXPECT_EQ(out, (std::vector<std::size_t>{0, 1, 2, 3, 4}));
  EXPECT_GE(WorkerPool::available_threads(), 1u);
  EXPECT_EQ(SearchConfig{}.worker_threads, WorkerPool::process_pool().thread_count());
}

}  // namespace
}  // namespace tov
