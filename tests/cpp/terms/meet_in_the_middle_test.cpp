// Meet in the middle: the lookup finds exactly the halves a brute-force scan
// finds, and a search with it reaches laws twice as long as its levels, the
// same on every thread count and on the distributed backend.
#include "terms/meet_in_the_middle.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <string>
#include <vector>

#include "cluster/distributed.hpp"
#include "formula/builder.hpp"
#include "search/bfs.hpp"
#include "search/worker_pool.hpp"
#include "support/in_process_transport.hpp"
#include "support/staircase_text.hpp"
#include "terms/term_library.hpp"

namespace tov {
namespace {

const ParallelFor kInOrder = [](std::size_t n, const std::function<void(std::size_t)>& task) {
  for (std::size_t i = 0; i < n; ++i) task(i);
  return true;
};

// Random formulas of up to a few operators over `variables` inputs.
Expression random_formula(std::mt19937_64& rng, std::size_t variables, int depth) {
  static constexpr std::uint64_t kUnary[] = {op_id::kSin,  op_id::kExp,    op_id::kSqrt,
                                             op_id::kInv,  op_id::kSquare, op_id::kLog,
                                             op_id::kCube, op_id::kArcTan};
  static constexpr std::uint64_t kBinary[] = {op_id::kPlus, op_id::kTimes, op_id::kSubtract,
                                              op_id::kDivide};
  std::uniform_int_distribution<int> pick(0, 99);
  if (depth == 0 || pick(rng) < 30)
    return make_var_leaf(static_cast<std::uint8_t>(rng() % variables));
  if (pick(rng) < 50) return unary(kUnary[rng() % 8], random_formula(rng, variables, depth - 1));
  return binary(kBinary[rng() % 4], random_formula(rng, variables, depth - 1),
                random_formula(rng, variables, depth - 1));
}

SearchData data_of(std::size_t rows, std::size_t variables, std::mt19937_64& rng,
                   const std::function<double(const std::vector<double>&)>& law) {
  SearchData data;
  data.variables = variables;
  std::uniform_real_distribution<double> u(0.5, 2.5);
  for (std::size_t i = 0; i < rows; ++i) {
    std::vector<double> x(variables);
    std::vector<Complex> row;
    for (double& v : x) {
      v = u(rng);
      row.push_back({v, 0.0});
    }
    data.samples.push_back(row);
    data.targets.push_back(law(x));
  }
  return data;
}

TEST(MeetInTheMiddle, TheLookupFindsWhatABruteForceScanFinds) {
  for (const std::size_t rows : {12, 60}) {
    for (std::uint64_t seed = 0; seed < 6; ++seed) {
      std::mt19937_64 rng(seed);
      SearchData data = data_of(rows, 3, rng, [](const std::vector<double>& x) { return x[0]; });
      SearchConfig config;
      MeetInTheMiddle pairs(data, config, builtin_registry()->ops());
      std::vector<Expression> library;
      for (int k = 0; k < 150; ++k) library.push_back(random_formula(rng, 3, 3));
      static_cast<void>(pairs.after_level(library, kInOrder, {}));
      // Queries: library formulas under a factor and an offset (hits, up to
      // duplicates), their products (mostly not), and noisy copies.
      for (int k = 0; k < 40; ++k) {
        const Expression& f = library[rng() % library.size()];
        const Expression& g = library[rng() % library.size()];
        const std::optional<std::vector<Complex>> fv =
            values_at(f, data.samples, builtin_registry()->ops());
        if (!fv) continue;
        std::normal_distribution<double> noise(0.0, k % 3 == 0 ? 1e-3 : 0.0);
        std::vector<double> scaled;
        for (const Complex& v : *fv) scaled.push_back(-2.5 * v.re + 0.75 + noise(rng));
        for (const bool affine : {false, true}) {
          const MeetInTheMiddle::Probe probe = pairs.probe(scaled, affine);
          EXPECT_EQ(probe.indexed, probe.brute_force) << f.formula << " " << affine;
        }
        const std::optional<std::vector<Complex>> product =
            values_at(binary(op_id::kTimes, f, g), data.samples, builtin_registry()->ops());
        if (!product) continue;
        std::vector<double> q;
        for (const Complex& v : *product) q.push_back(v.re);
        for (const bool affine : {false, true}) {
          const MeetInTheMiddle::Probe probe = pairs.probe(q, affine);
          EXPECT_EQ(probe.indexed, probe.brute_force) << f.formula << " * " << g.formula;
        }
      }
    }
  }
}

SearchConfig pairs_config(std::uint64_t max_complexity) {
  SearchConfig config;
  config.max_complexity = max_complexity;
  config.beam_width = 100;
  config.verbose = false;
  config.meet_in_the_middle = true;
  return config;
}

struct Law {
  std::vector<std::vector<double>> rows;
  std::vector<double> targets;
};

// 40 samples, input j uniform on ranges[j].
Law law_of(std::vector<std::pair<double, double>> ranges,
           const std::function<double(const std::vector<double>&)>& f) {
  Law law;
  std::mt19937_64 rng(7);
  for (int i = 0; i < 40; ++i) {
    std::vector<double> x;
    for (const auto& [low, high] : ranges)
      x.push_back(std::uniform_real_distribution(low, high)(rng));
    law.targets.push_back(f(x));
    law.rows.push_back(std::move(x));
  }
  return law;
}

TEST(MeetInTheMiddle, ASearchReachesProductsAndQuotientsOfItsHalves) {
  const struct {
    const char* name;
    Law law;
    std::uint64_t max_complexity;
    std::uint64_t beam_width;
    bool linear_scaling;
    const char* formula;
  } cases[] = {
      {"a product of two unary formulas",
       law_of({{1, 3}, {1, 3}},
              [](const std::vector<double>& x) { return std::sin(x[0]) * std::exp(x[1]); }),
       2, 100, false, "Times(Sin(v_{0}), Exp(v_{1}))"},
      {"a quotient of two products",
       law_of({{1, 3}, {1, 3}, {1, 3}, {1, 3}, {1, 3}},
              [](const std::vector<double>& x) { return x[0] * x[1] * x[2] / (x[3] + x[4]); }),
       5, 1000, true, "Divide(Times(v_{0}, Times(v_{1}, v_{2})), Plus(v_{3}, v_{4}))"},
      // 13 tokens: the Lorentz transformation, its second half under Sqrt
      // with an offset inside.
      {"a quotient with a root under a unary operator",
       law_of({{1, 5}, {1, 2}, {1, 2}, {3, 6}},
              [](const std::vector<double>& x) {
                return (x[0] - x[1] * x[2]) / std::sqrt(1.0 - (x[1] / x[3]) * (x[1] / x[3]));
              }),
       5, 1000, true,
       "Divide(Subtract(v_{0}, Times(v_{1}, v_{2})), Sqrt(Subtract(C, Square(Divide(v_{1}, "
       "v_{3})))))"},
  };
  for (const auto& c : cases) {
    SearchConfig config = pairs_config(c.max_complexity);
    config.beam_width = c.beam_width;
    config.linear_scaling = c.linear_scaling;
    const Outcome<std::vector<SearchResult>> found = run_bfs(c.law.rows, c.law.targets, config);
    ASSERT_TRUE(found) << c.name;
    EXPECT_EQ(found.value().front().formula(), c.formula) << c.name;
    EXPECT_LT(found.value().front().error(), 1e-20) << c.name << ": " << describe(found);
    config.meet_in_the_middle = false;
    EXPECT_GT(run_bfs(c.law.rows, c.law.targets, config).value().front().error(), 1e-6) << c.name;
  }
}

TEST(MeetInTheMiddle, TheSameOnEveryThreadCountAndOnTheCluster) {
  const Law law = law_of({{1, 3}, {1, 3}, {1, 3}}, [](const std::vector<double>& x) {
    return std::exp(x[0] / x[1]) * std::sqrt(x[2]) + 0.1 * x[0];
  });
  SearchConfig config = pairs_config(4);
  config.linear_scaling = true;
  std::string first;
  for (const std::size_t threads : {1, 2, 5}) {
    WorkerPool pool(threads);
    SearchControl control;
    control.pool = &pool;
    const std::string staircase = describe(run_bfs(law.rows, law.targets, config, control));
    if (first.empty()) first = staircase;
    EXPECT_EQ(staircase, first) << threads;
  }
  InProcessTransport transport(2, 3, 3);
  EXPECT_EQ(describe(run_distributed(law.rows, law.targets, {}, config, {}, transport)), first);
  // Weights of 1 are no weights.
  EXPECT_EQ(describe(run_bfs(law.rows, law.targets, std::vector<double>(law.rows.size(), 1.0),
                             config, {})),
            first);
}

}  // namespace
}  // namespace tov
