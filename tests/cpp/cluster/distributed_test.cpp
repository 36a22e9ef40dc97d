// The distributed search through an in-process transport: shards spread
// over several worker engines, workers replaced mid-search, second rounds
// sent to workers that did not evaluate the shard. Results must equal the
// local search's bit for bit.
#include "cluster/distributed.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "search/bfs.hpp"
#include "support/captured_output.hpp"
#include "support/in_process_transport.hpp"

namespace tov {
namespace {

TEST(Distributed, ShardedSearchesEqualTheLocalSearch) {
  std::mt19937_64 rng(31);
  std::uniform_real_distribution<double> u(0.2, 2.5);
  for (int round = 0; round < 8; ++round) {
    const std::size_t variables = 1 + rng() % 2;
    std::vector<std::vector<double>> rows;
    std::vector<double> targets;
    std::vector<double> weights;
    const double a = u(rng);
    for (std::size_t i = 0; i < 12 + rng() % 20; ++i) {
      std::vector<double> row;
      for (std::size_t j = 0; j < variables; ++j) row.push_back(u(rng));
      targets.push_back(a * std::exp(-row[0]) + row.back() * row.back() + 0.01 * u(rng));
      rows.push_back(row);
      weights.push_back(round % 2 ? u(rng) : 1.0);
    }
    SearchConfig config;
    config.max_complexity = 5 + round % 2;
    config.beam_width = 30 + 10 * (round % 3);
    config.exhaustive = round % 4 != 3;
    config.linear_scaling = round % 3 == 0;
    config.alpha = round == 2 ? 0.02 : 0.0;
    if (round == 5) config.max_search_rows = 7;
    if (round == 6) config.operator_mask = ~(std::uint64_t{1} << op_id::kExp);
    CapturedOutput local_out;
    SearchControl control;
    control.out = local_out.file();
    const std::string local = describe(run_bfs(rows, targets, weights, config, control));
    for (const std::size_t shards : {1u, 3u, 8u}) {
      CapturedOutput out;
      control.out = out.file();
      InProcessTransport transport(3, shards, 3 + round % 3);
      EXPECT_EQ(describe(run_distributed(rows, targets, weights, config, control, transport)),
                local)
          << "round " << round << ", " << shards << " shards";
    }
  }
}

}  // namespace
}  // namespace tov
