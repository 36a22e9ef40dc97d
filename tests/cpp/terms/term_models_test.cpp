// Searches with sums and products of the retained formulas: exact laws,
// the same bits on any thread count and through the reference evaluator,
// the staircase merge, and the settings on the wire.
#include "terms/term_models.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "cluster/wire.hpp"
#include "result/result_restore.hpp"
#include "search/bfs.hpp"
#include "search/worker_pool.hpp"
#include "support/captured_output.hpp"
#include "support/staircase_text.hpp"
#include "terms/term_library.hpp"

namespace tov {
namespace {

struct Problem {
  std::vector<std::vector<double>> rows;
  std::vector<double> targets;
  std::vector<double> weights;
};

Problem sum_problem(std::uint64_t seed, double noise, bool weighted) {
  std::mt19937_64 rng(seed);
  std::uniform_real_distribution<double> u(0.3, 2.5);
  Problem p;
  for (int i = 0; i < 30; ++i) {
    const double a = u(rng);
    const double b = u(rng);
    p.rows.push_back({a, b});
    p.targets.push_back(2.0 * a * a - 3.0 * std::sin(b) + 0.5 * a * b + noise * (u(rng) - 1.4));
    p.weights.push_back(weighted ? u(rng) : 1.0);
  }
  return p;
}

TEST(TermModels, SearchesGiveTheSameBitsOnAnyThreadCount) {
  for (int round = 0; round < 4; ++round) {
    const Problem p = sum_problem(40 + round, round % 2 ? 0.05 : 0.0, round >= 2);
    SearchConfig config;
    config.max_complexity = 4;
    config.beam_width = 40;
    config.max_terms = 4;
    config.term_pool = 30 + 20 * round;
    config.exhaustive = round != 1;
    config.linear_scaling = round == 2;
    if (round == 3) config.max_search_rows = 17;
    CapturedOutput out;
    SearchControl control;
    control.out = out.file();
    const std::string all = describe(run_bfs(p.rows, p.targets, p.weights, config, control));
    WorkerPool one(1);
    control.pool = &one;
    EXPECT_EQ(describe(run_bfs(p.rows, p.targets, p.weights, config, control)), all) << round;
    control.reference_evaluator = true;
    EXPECT_EQ(describe(run_bfs(p.rows, p.targets, p.weights, config, control)), all) << round;
    EXPECT_NE(all.find("Plus(Times(C, "), std::string::npos) << all;
  }
}

TEST(TermModels, FindsAnExactSumThatNoSingleFormulaReaches) {
  const Problem p = sum_problem(7, 0.0, false);
  SearchConfig config;
  config.max_complexity = 4;
  config.beam_width = 60;
  CapturedOutput out;
  SearchControl control;
  control.out = out.file();
  const auto plain = run_bfs(p.rows, p.targets, config, control);
  ASSERT_TRUE(plain.ok());
  EXPECT_GT(plain.value().front().error(), 1e-6);
  config.max_terms = 3;
  const auto sums = run_bfs(p.rows, p.targets, config, control);
  ASSERT_TRUE(sums.ok());
  const SearchResult& best = sums.value().front();
  EXPECT_LT(best.error(), 1e-20);
  EXPECT_GT(best.complexity(), config.max_complexity);
  // The staircase ends at the first entry within the tolerance.
  for (std::size_t k = 1; k < sums.value().size(); ++k) EXPECT_GT(sums.value()[k].error(), 1e-10);
}

TEST(TermModels, MergeOrdersBySizeAndAccuracy) {
  const auto registry = builtin_registry();
  const auto entry = [&](Expression e, double error) {
    return SearchResult(std::move(e), registry, error);
  };
  Expression x = make_var_leaf(0);
  Expression sq = unary(op_id::kSquare, x);
  std::vector<SearchResult> staircase = {entry(sq, 0.5), entry(x, 1.0)};
  SearchData data;
  data.variables = 1;
  for (const double v : {1.0, 2.0, 3.0, 4.0}) {
    data.samples.push_back({Complex{v, 0.0}});
    data.targets.push_back(v * v + v);
  }
  SearchConfig config;
  config.max_terms = 2;
  const std::vector<Expression> retained = {sq};
  const auto merged = add_term_models(staircase, retained, data, 4, config, registry, nullptr);
  ASSERT_TRUE(merged.ok());
  // The sum, the product C v^(3/2) (more accurate than Square(v) at 5
  // tokens), then the search's own entries.
  const std::vector<SearchResult>& m = merged.value();
  ASSERT_EQ(m.size(), 4u) << describe(merged);
  EXPECT_EQ(m[0].formula(), "Plus(Times(C, v_{0}), Plus(Times(C, Square(v_{0})), C))");
  EXPECT_LT(m[0].error(), 1e-20);
  EXPECT_EQ(m[1].formula(), "Times(C, Cube(Sqrt(v_{0})))");
  EXPECT_EQ(m[2].formula(), "Square(v_{0})");
  EXPECT_EQ(m[3].formula(), "v_{0}");
  for (std::size_t k = 1; k < m.size(); ++k) {
    EXPECT_LT(m[k].complexity(), m[k - 1].complexity());
    EXPECT_GT(m[k].error(), m[k - 1].error());
  }

  config.max_terms = 1;
  const auto unchanged = add_term_models(staircase, retained, data, 4, config, registry, nullptr);
  ASSERT_TRUE(unchanged.ok());
  EXPECT_EQ(describe(unchanged), describe(Outcome<std::vector<SearchResult>>(staircase)));
  config.max_terms = 2;
  const auto stopped =
      add_term_models(staircase, retained, data, 4, config, registry, [] { return true; });
  ASSERT_FALSE(stopped.ok());
  EXPECT_TRUE(std::holds_alternative<Interrupted>(stopped.error()));
}

TEST(TermModels, SettingsTravelOnTheWire) {
  SearchConfig config;
  config.max_terms = 7;
  config.term_pool = 33;
  const SearchConfig back = wire::decode_config(wire::encode(config));
  EXPECT_EQ(back.max_terms, 7u);
  EXPECT_EQ(back.term_pool, 33u);
}

}  // namespace
}  // namespace tov
