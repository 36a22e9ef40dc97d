#include "search/bfs.hpp"

#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <numbers>
#include <random>
#include <string>
#include <vector>

#include "ops/vector_math.hpp"
#include "search/worker_pool.hpp"
#include "searcher/searcher.hpp"
#include "support/captured_output.hpp"

namespace tov {
namespace {

using Rows = std::vector<std::vector<double>>;

struct Problem {
  Rows rows;
  std::vector<double> targets;
};

Problem one_variable(double (*f)(double), int n = 20) {
  Problem p;
  for (int i = 0; i < n; ++i) {
    const double x = 0.5 + 0.1 * i;
    p.rows.push_back({x});
    p.targets.push_back(f(x));
  }
  return p;
}

SearchConfig small_config(std::uint64_t max_complexity, std::uint64_t beam_width) {
  SearchConfig config;
  config.max_complexity = max_complexity;
  config.beam_width = beam_width;
  return config;
}

Outcome<std::vector<SearchResult>> quiet_search(const Problem& p, const SearchConfig& config,
                                                SearchControl control = {}) {
  CapturedOutput out;
  control.out = out.file();
  return run_bfs(p.rows, p.targets, config, control);
}

// --- Driver ---------------------------------------------------------------

TEST(Search, ValidationErrorsPrintNothing) {
  const std::vector<std::pair<Rows, std::vector<double>>> cases = {
      {{}, {}}, {{{1.0}, {2.0}, {3.0}}, {1.0, 2.0}}, {{{1.0}}, {}}, {{}, {1.0}}};
  for (const auto& [rows, targets] : cases) {
    CapturedOutput out;
    SearchControl control;
    control.out = out.file();
    auto outcome = run_bfs(rows, targets, SearchConfig{}, control);
    ASSERT_FALSE(outcome.ok());
    EXPECT_EQ(error_message(outcome.error()),
              "Inputs and target vector must be non-empty and equal length.");
    EXPECT_EQ(out.text(), "");
  }
}

TEST(Search, RefusesMoreThan255Variables) {
  Problem p{{std::vector<double>(256, 1.0)}, {1.0}};
  auto outcome = quiet_search(p, small_config(2, 10));
  ASSERT_FALSE(outcome.ok());
  EXPECT_EQ(error_message(outcome.error()),
            "Too many input variables: 256 given, at most 255 are supported.");
}

TEST(Search, ZeroMaxComplexityFindsNothing) {
  const Problem p = one_variable([](double x) { return x; });
  CapturedOutput out;
  SearchControl control;
  control.out = out.file();
  auto outcome = run_bfs(p.rows, p.targets, small_config(0, 10), control);
  ASSERT_FALSE(outcome.ok());
  EXPECT_EQ(error_message(outcome.error()), "No formula found up to complexity 0");
  EXPECT_EQ(out.text(), "");
}

TEST(Search, ConsoleLinesOfASmallSearch) {
  // Three variables: four primary nodes; max_complexity 1 prints no level.
  Problem p{{{1.0, 2.0, 3.0}, {2.0, 1.0, 0.5}}, {10.0, 20.0}};
  CapturedOutput out;
  SearchControl control;
  control.out = out.file();
  ASSERT_TRUE(run_bfs(p.rows, p.targets, small_config(1, 10), control).ok());
  EXPECT_EQ(out.text(),
            "[TOV-SR] Started search space exploration. Level 1 seeded with 4 primary nodes.\n");

  CapturedOutput two;
  control.out = two.file();
  ASSERT_TRUE(run_bfs(p.rows, p.targets, small_config(3, 10), control).ok());
  const std::string text = two.text();
  EXPECT_EQ(text.rfind("[TOV-SR] Started search space exploration. Level 1 seeded with 4", 0), 0u);
  for (const char* needle :
       {"\r  [TOV] L2 Progress: [", "100% (", "\n[TOV-SR]   -> Level 2 processed in ",
        ". Retaining top ", "\n[TOV-SR]   -> Level 3 processed in ", " candidates.\n"})
    EXPECT_NE(text.find(needle), std::string::npos) << needle;
}

TEST(Search, EarlyExitAfterSeedingPrintsNothing) {
  const Problem p = one_variable([](double x) { return x; });
  CapturedOutput out;
  SearchControl control;
  control.out = out.file();
  auto outcome = run_bfs(p.rows, p.targets, small_config(10, 100), control);
  ASSERT_TRUE(outcome.ok());
  EXPECT_EQ(out.text(), "");
  EXPECT_EQ(outcome.value().front().formula(), "v_{0}");
  EXPECT_EQ(outcome.value().front().error(), 0.0);
}

TEST(Search, RecoversExactFormulasAndStopsEarly) {
  struct Case {
    double (*f)(double);
    std::string formula;
  };
  const std::vector<Case> cases = {
      {[](double x) { return x * x; }, "Square(v_{0})"},
      {[](double x) { return std::exp(x) + x; }, ""},
      {[](double x) { return 2.5 * x; }, ""},
  };
  for (const auto& c : cases) {
    const Problem p = one_variable(c.f);
    auto outcome = quiet_search(p, small_config(6, 200));
    ASSERT_TRUE(outcome.ok());
    const auto& best = outcome.value().front();
    EXPECT_LE(best.error(), 1e-10) << best.formula();
    if (!c.formula.empty()) {
      EXPECT_EQ(best.formula(), c.formula);
    }
    // Every entry is strictly less accurate than the one before it.
    for (std::size_t i = 1; i < outcome.value().size(); ++i) {
      EXPECT_LT(outcome.value()[i - 1].error(), outcome.value()[i].error());
      EXPECT_GT(outcome.value()[i - 1].complexity(), outcome.value()[i].complexity());
    }
    for (std::size_t row = 0; row < p.rows.size(); ++row) {
      EXPECT_NEAR(best.eval_multi(p.rows[row]), p.targets[row], 1e-4);
    }
  }
}

TEST(Search, RecognisesPi) {
  CapturedOutput out;
  SearchControl control;
  control.out = out.file();
  Searcher quiet(small_config(4, 100), control);
  auto outcome = quiet.recognize_constant(std::numbers::pi);
  ASSERT_TRUE(outcome.ok());
  EXPECT_LE(outcome.value().error(), 1e-10);
  EXPECT_NEAR(outcome.value().eval_multi(std::vector<double>{0.0}), std::numbers::pi, 1e-5);
}

TEST(Search, FindCandidatesRunsEveryLevelAndReturnsTheStaircase) {
  const Problem p = one_variable([](double x) { return x; });
  CapturedOutput out;
  SearchControl control;
  control.out = out.file();
  Searcher searcher(small_config(3, 50), control);
  auto outcome = searcher.find_candidates(p.rows, p.targets);
  ASSERT_TRUE(outcome.ok());
  // v_{0} fits exactly at complexity 1, so nothing more complex can beat it.
  ASSERT_EQ(outcome.value().size(), 1u);
  EXPECT_EQ(outcome.value()[0].formula(), "v_{0}");
  EXPECT_NE(out.text().find("Level 3 processed"), std::string::npos);
  // The stored configuration is untouched: a single search still stops early.
  EXPECT_FALSE(searcher.config().exhaustive);
}

TEST(Search, StaircaseIsMostComplexFirst) {
  const Problem p = one_variable([](double x) { return std::sin(x) * x + 0.3; });
  CapturedOutput out;
  SearchControl control;
  control.out = out.file();
  auto outcome = Searcher(small_config(5, 60), control).find_candidates(p.rows, p.targets);
  ASSERT_TRUE(outcome.ok());
  const auto& list = outcome.value();
  ASSERT_GE(list.size(), 2u);
  for (std::size_t i = 1; i < list.size(); ++i) {
    EXPECT_GT(list[i - 1].complexity(), list[i].complexity());
    EXPECT_LT(list[i - 1].error(), list[i].error());
  }
}

TEST(Search, NonFiniteDataAreRefusedBeforeTheSearch) {
  struct Case {
    Problem p;
    std::vector<double> weights;
    const char* message;
  };
  const std::vector<Case> cases = {
      {{{{INFINITY}, {1.0}}, {NAN, NAN}}, {}, "inputs[0][0] is inf: inputs must be finite"},
      {{{{1.0, 2.0}, {1.0, -INFINITY}}, {1.0, 2.0}},
       {},
       "inputs[1][1] is -inf: inputs must be finite"},
      {{{{1.0}, {2.0}}, {1.0, NAN}}, {}, "ys[1] is nan: targets must be finite"},
      // Samples of weight zero are left out, whatever they hold.
      {{{{1.0}, {NAN}, {2.0}}, {1.0, INFINITY, NAN}},
       {1.0, 0.0, 1.0},
       "ys[2] is nan: targets must be finite"},
  };
  for (const Case& c : cases) {
    CapturedOutput out;
    SearchControl control;
    control.out = out.file();
    Searcher searcher(small_config(3, 20), control);
    for (auto request : {0, 1}) {
      const auto error = request == 0
                             ? searcher.find_multivariate(c.p.rows, c.p.targets, c.weights).error()
                             : searcher.find_candidates(c.p.rows, c.p.targets, c.weights).error();
      EXPECT_TRUE(std::holds_alternative<InvalidValue>(error));
      EXPECT_EQ(error_message(error), c.message);
    }
    EXPECT_EQ(out.text(), "");
  }
  const double xs[] = {1.0, NAN};
  const double ys[] = {1.0, 2.0};
  EXPECT_EQ(error_message(Searcher(small_config(3, 20)).find_function(xs, ys).error()),
            "xs[1] is nan: inputs must be finite");
  EXPECT_EQ(error_message(Searcher(small_config(3, 20)).recognize_constant(-INFINITY).error()),
            "value is -inf: the constant must be finite");
}

TEST(Search, InterruptStopsTheSearch) {
  const Problem p = one_variable([](double x) { return std::sin(x) * std::exp(x); }, 50);
  std::atomic<int> polls{0};
  SearchControl control;
  control.interrupted = [&] { return ++polls > 3; };
  auto outcome = quiet_search(p, small_config(8, 300), control);
  ASSERT_FALSE(outcome.ok());
  EXPECT_TRUE(std::holds_alternative<Interrupted>(outcome.error()));
}

TEST(Search, MemoryGuardStopsBeforeALevelThatWouldNotFit) {
  const Problem p = one_variable([](double x) { return std::sin(x) * std::exp(x); }, 50);
  SearchConfig config = small_config(8, 2000);
  config.exhaustive = true;
  SearchControl control;
  control.memory_limit = 3u * 1024 * 1024;  // 3 MiB
  auto outcome = quiet_search(p, config, control);
  ASSERT_FALSE(outcome.ok());
  const auto* error = std::get_if<MemoryLimitExceeded>(&outcome.error());
  ASSERT_NE(error, nullptr);
  EXPECT_EQ(error->available_mb, 3u);
  EXPECT_GT(error->needed_mb, 3u);
  EXPECT_EQ(error_message(outcome.error()),
            "Memory limit exceeded: " + std::to_string(error->needed_mb) + "MB > 3MB");

  control.memory_limit = std::uint64_t{1} << 40;
  EXPECT_TRUE(quiet_search(p, small_config(4, 50), control).ok());
}

TEST(Search, StatisticsCountEveryLevel) {
  const Problem p = one_variable([](double x) { return std::cos(x) + x; });
  SearchStats stats;
  SearchControl control;
  control.stats = &stats;
  SearchConfig config = small_config(5, 30);
  config.exhaustive = true;
  ASSERT_TRUE(quiet_search(p, config, control).ok());
  ASSERT_EQ(stats.candidates.size(), 4u);
  ASSERT_EQ(stats.generated.size(), 4u);
  EXPECT_EQ(stats.generated[0], 2u * 13u);
  for (std::size_t i = 0; i < 4; ++i) EXPECT_LE(stats.candidates[i], stats.generated[i]);
  EXPECT_GT(stats.refinements, 0u);
}

// --- Determinism and the fast paths ------------------------------------------

std::string describe(const Outcome<std::vector<SearchResult>>& outcome) {
  if (!outcome) return "error: " + error_message(outcome.error());
  std::string text;
  for (const auto& r : outcome.value()) {
    char error[64];
    std::snprintf(error, sizeof error, "%a", r.error());
    text += r.formula() + " | " + error + " | " + r.to_python();
    for (const double v : r.parameters()) {
      std::snprintf(error, sizeof error, " %a", v);
      text += error;
    }
    text += "\n";
  }
  return text;
}

Problem random_problem(std::mt19937_64& rng) {
  std::uniform_real_distribution<double> u(-2.0, 2.0);
  const int variables = 1 + static_cast<int>(rng() % 2);
  const int samples = 5 + static_cast<int>(rng() % 20);
  const double a = u(rng), b = u(rng);
  Problem p;
  for (int i = 0; i < samples; ++i) {
    std::vector<double> row;
    for (int j = 0; j < variables; ++j) row.push_back(u(rng));
    const double y = a * std::sin(row[0]) + b * row.back() * row.back();
    p.rows.push_back(row);
    p.targets.push_back(y);
  }
  return p;
}

TEST(Search, ResultsDoNotDependOnThreadCountOrEvaluator) {
  WorkerPool one(1);
  WorkerPool four(4);
  std::mt19937_64 rng(2024);
  for (int round = 0; round < 6; ++round) {
    const Problem p = random_problem(rng);
    SearchConfig config = small_config(5, 40);
    config.exhaustive = true;
    config.alpha = round % 2 ? 0.01 : 0.0;
    SearchControl control;
    control.pool = &one;
    const std::string single = describe(quiet_search(p, config, control));
    control.pool = &four;
    EXPECT_EQ(describe(quiet_search(p, config, control)), single) << "round " << round;
    control.reference_evaluator = true;
    EXPECT_EQ(describe(quiet_search(p, config, control)), single) << "round " << round;
  }
}

TEST(Search, SteeredSearchesDoNotDependOnThreadCountOrEvaluator) {
  // Weights, affine scaling, a row subset and operator subsets: the fast
  // paths and the thread count still change no bit.
  WorkerPool one(1);
  WorkerPool four(4);
  std::mt19937_64 rng(99);
  for (int round = 0; round < 6; ++round) {
    const Problem p = random_problem(rng);
    SearchConfig config = small_config(5, 40);
    config.exhaustive = true;
    config.linear_scaling = round % 2 == 0;
    config.alpha = round % 3 == 0 ? 0.01 : 0.0;
    if (round % 3 == 1) config.max_search_rows = 4;
    if (round >= 3) config.operator_mask = rng() | (std::uint64_t{1} << op_id::kTimes);
    std::vector<double> weights;
    for (std::size_t i = 0; i < p.targets.size(); ++i)
      weights.push_back(round % 2 ? 0.5 + static_cast<double>(rng() % 4) : 1.0);
    SearchControl control;
    const auto search = [&](WorkerPool& pool, bool reference) {
      CapturedOutput out;
      control.out = out.file();
      control.pool = &pool;
      control.reference_evaluator = reference;
      return describe(run_bfs(p.rows, p.targets, weights, config, control));
    };
    const std::string single = search(one, false);
    EXPECT_EQ(search(four, false), single) << "round " << round;
    EXPECT_EQ(search(four, true), single) << "round " << round;
  }
}

TEST(Search, VectorRoutinesChangeNoResult) {
  // The same searches with the vector exp, log and hypot turned off.
  std::mt19937_64 rng(7);
  for (int round = 0; round < 4; ++round) {
    const Problem p = random_problem(rng);
    SearchConfig config = small_config(5, 60);
    config.exhaustive = true;
    config.linear_scaling = round % 2 == 1;
    const std::string fast = describe(quiet_search(p, config));
    vmath::use_vector_paths(false);
    const std::string scalar = describe(quiet_search(p, config));
    vmath::use_vector_paths(true);
    EXPECT_EQ(scalar, fast) << "round " << round;
  }
}

TEST(Search, StoppedSearchesAnswerForTheirLastLevel) {
  // A level callback that stops at level 3, and a time limit already past,
  // give the searches with max_complexity 3 and 1; the memory guard still
  // refuses a level that would not fit.
  const Problem p = one_variable([](double x) { return std::sin(x) * std::exp(x) + x; }, 30);
  SearchConfig config = small_config(6, 60);
  config.exhaustive = true;
  SearchEnding ending;
  SearchControl control;
  control.ending = &ending;
  control.on_level = [](const LevelReport& r) { return r.level == 3; };
  SearchConfig three = config;
  three.max_complexity = 3;
  EXPECT_EQ(describe(quiet_search(p, config, control)), describe(quiet_search(p, three)));
  EXPECT_EQ(ending.last_level, 3u);
  EXPECT_TRUE(ending.stopped_by_callback && !ending.time_limit_reached);

  control.on_level = nullptr;
  config.time_limit = 1e-9;
  SearchConfig seeds_only = small_config(1, 60);
  seeds_only.exhaustive = true;
  EXPECT_EQ(describe(quiet_search(p, config, control)), describe(quiet_search(p, seeds_only)));
  EXPECT_TRUE(ending.time_limit_reached && ending.last_level == 1);

  config.time_limit = 600.0;
  config.operator_mask = std::uint64_t{1} << op_id::kPlus | std::uint64_t{1} << op_id::kSin;
  control.memory_limit = 64 * 1024;
  const auto refused = quiet_search(p, config, control);
  ASSERT_FALSE(refused.ok());
  EXPECT_TRUE(std::holds_alternative<MemoryLimitExceeded>(refused.error()));
}

}  // namespace
}  // namespace tov
