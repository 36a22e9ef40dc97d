// The coordinator's early exit: a search stops before its last level only on
// an answer. The plain objective stops at the first front entry within the
// tolerance; where the final selection may judge an entry worse than the
// front did (a scaling objective, levels on a subset of the rows) or the
// caller confirms, only an entry that is an answer in its final form counts.
#include "search/coordinator.hpp"

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "cluster/distributed.hpp"
#include "search/bfs.hpp"
#include "support/captured_output.hpp"
#include "support/in_process_transport.hpp"
#include "support/staircase_text.hpp"

namespace tov {
namespace {

struct Problem {
  std::vector<std::vector<double>> rows;
  std::vector<double> targets;
};

// y = 3 x^2 + 1 on every row, and on the odd rows 0.5 more when `odd_offset`.
Problem quadratic(bool odd_offset = false) {
  Problem p;
  for (int i = 0; i < 16; ++i) {
    const double x = 0.5 + 0.25 * i;
    p.rows.push_back({x});
    p.targets.push_back(3.0 * x * x + 1.0 + (odd_offset && i % 2 == 1 ? 0.5 : 0.0));
  }
  return p;
}

SearchConfig quiet(std::uint64_t max_complexity) {
  SearchConfig config;
  config.max_complexity = max_complexity;
  config.beam_width = 50;
  config.verbose = false;
  return config;
}

struct Searched {
  std::string staircase;
  SearchEnding ending;
  std::vector<std::string> offered;  // what is_answer was asked, in order
};

Searched search(const Problem& p, const SearchConfig& config, bool distributed = false,
                std::function<bool(const Expression&, double)> is_answer = {}) {
  Searched run;
  SearchControl control;
  control.ending = &run.ending;
  if (is_answer) {
    control.answer_check = AnswerCheck{config.exit_tolerance(), [&](const Expression& f, double e) {
                                         run.offered.push_back(f.formula);
                                         return is_answer(f, e);
                                       }};
  }
  if (distributed) {
    InProcessTransport transport(2, 3, 3);
    run.staircase = describe(run_distributed(p.rows, p.targets, {}, config, control, transport));
  } else {
    run.staircase = describe(run_bfs(p.rows, p.targets, {}, config, control));
  }
  return run;
}

TEST(EarlyExit, ThePlainSearchStopsAtTheFirstLevelWithinTheTolerance) {
  const Searched run = search(quadratic(), quiet(5));
  EXPECT_EQ(run.ending.last_level, 5u);  // 3 x^2 + 1 takes six tokens unscaled
  SearchConfig scaled = quiet(5);
  scaled.linear_scaling = true;
  EXPECT_EQ(search(quadratic(), scaled).ending.last_level, 2u);  // Square(v_{0}), scaled
}

TEST(EarlyExit, TheCallerConfirmsTheFinalFormOfAnEntry) {
  for (const bool distributed : {false, true}) {
    SearchConfig scaled = quiet(4);
    scaled.linear_scaling = true;
    const Searched plain = search(quadratic(), scaled, distributed);
    const Searched accepted =
        search(quadratic(), scaled, distributed, [](const Expression&, double) { return true; });
    EXPECT_EQ(accepted.staircase, plain.staircase);
    EXPECT_EQ(accepted.ending.last_level, 2u);
    // The formula as the final selection writes it: a f + b.
    ASSERT_EQ(accepted.offered.size(), 1u);
    EXPECT_EQ(accepted.offered[0], "Plus(Times(C, Square(v_{0})), C)");

    // Refused, the search goes on, and no entry is asked about twice.
    const Searched refused =
        search(quadratic(), scaled, distributed, [](const Expression&, double) { return false; });
    EXPECT_EQ(refused.ending.last_level, 4u);
    EXPECT_EQ(std::set(refused.offered.begin(), refused.offered.end()).size(),
              refused.offered.size());
    EXPECT_EQ(refused.offered[0], "Plus(Times(C, Square(v_{0})), C)");
    SearchConfig exhaustive = scaled;
    exhaustive.exhaustive = true;
    EXPECT_EQ(refused.staircase, search(quadratic(), exhaustive, distributed).staircase);
  }
}

TEST(EarlyExit, LevelsOnASubsetOfTheRowsNeedAnAnswerOnEveryRow) {
  // The levels see the even rows, where 3 x^2 + 1 fits exactly; the odd
  // rows say otherwise, so no level is an answer.
  SearchConfig config = quiet(4);
  config.linear_scaling = true;
  config.max_search_rows = 8;
  EXPECT_EQ(search(quadratic(true), config).ending.last_level, 4u);
  // Where the odd rows agree, the subset's exact fit is an answer.
  EXPECT_EQ(search(quadratic(false), config).ending.last_level, 2u);
}

}  // namespace
}  // namespace tov
