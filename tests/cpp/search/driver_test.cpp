// The driver's time limit: a deadline placed at every step of every level
// must leave the result of the search that ends at the last completed
// level, bit for bit, on the local and the distributed backend.
#include "search/driver.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <string>
#include <vector>

#include "cluster/distributed.hpp"
#include "search/bfs.hpp"
#include "support/captured_output.hpp"
#include "support/in_process_transport.hpp"

namespace tov {
namespace {

constexpr LevelStep kSteps[] = {LevelStep::Start,       LevelStep::Evaluation,
                                LevelStep::BeamPlan,    LevelStep::SecondRound,
                                LevelStep::Expressions, LevelStep::Retention};

struct Problem {
  std::vector<std::vector<double>> rows;
  std::vector<double> targets;
};

// No formula of up to five tokens fits these data exactly, so no level ends
// the search early.
Problem hard_problem() {
  Problem p;
  for (int i = 0; i < 16; ++i) {
    const double x = 0.25 + 0.17 * i;
    p.rows.push_back({x});
    p.targets.push_back(std::exp(std::sin(x)) * x + 0.3 * x * x * x - 1.0 / (x + 2.0));
  }
  return p;
}

struct Searched {
  std::string staircase;
  SearchEnding ending;
};

Searched search(const Problem& p, const SearchConfig& config, bool distributed,
                std::function<bool(std::uint64_t, LevelStep)> deadline = {}) {
  CapturedOutput out;
  Searched run;
  SearchControl control;
  control.out = out.file();
  control.ending = &run.ending;
  control.deadline_passed = std::move(deadline);
  if (distributed) {
    InProcessTransport transport(2, 3, 3);
    run.staircase = describe(run_distributed(p.rows, p.targets, {}, config, control, transport));
  } else {
    run.staircase = describe(run_bfs(p.rows, p.targets, {}, config, control));
  }
  return run;
}

class DeadlineAtEveryStep : public ::testing::TestWithParam<bool> {};

TEST_P(DeadlineAtEveryStep, GivesTheSearchUpToTheLastCompletedLevel) {
  const bool distributed = GetParam();
  const Problem p = hard_problem();
  for (const bool exhaustive : {false, true}) {
    SearchConfig config;
    config.max_complexity = 5;
    config.beam_width = 40;
    config.exhaustive = exhaustive;
    std::vector<std::string> shorter(config.max_complexity + 1);
    for (std::uint64_t m = 1; m <= config.max_complexity; ++m) {
      SearchConfig cut = config;
      cut.max_complexity = m;
      shorter[m] = search(p, cut, distributed).staircase;
    }
    SearchConfig limited = config;
    limited.time_limit = 1e9;
    const Searched never =
        search(p, limited, distributed, [](std::uint64_t, LevelStep) { return false; });
    EXPECT_EQ(never.staircase, shorter[config.max_complexity]);
    EXPECT_FALSE(never.ending.time_limit_reached);

    for (std::uint64_t level = 2; level <= config.max_complexity; ++level) {
      for (const LevelStep step : kSteps) {
        const auto deadline = [&](std::uint64_t at, LevelStep s) {
          return at > level || (at == level && s >= step);
        };
        const Searched cut = search(p, limited, distributed, deadline);
        const std::string where = "level " + std::to_string(level) + ", step " +
                                  std::to_string(static_cast<int>(step)) +
                                  (exhaustive ? ", exhaustive" : "");
        EXPECT_EQ(cut.staircase, shorter[level - 1]) << where;
        EXPECT_TRUE(cut.ending.time_limit_reached) << where;
        EXPECT_EQ(cut.ending.last_level, level - 1) << where;
      }
    }
  }
}

std::string backend_name(const ::testing::TestParamInfo<bool>& backend) {
  return backend.param ? "Distributed" : "Local";
}

INSTANTIATE_TEST_SUITE_P(Backends, DeadlineAtEveryStep, ::testing::Values(false, true),
                         backend_name);

}  // namespace
}  // namespace tov
