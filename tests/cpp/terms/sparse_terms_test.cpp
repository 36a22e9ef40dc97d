#include "terms/sparse_terms.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <set>
#include <vector>

namespace tov {
namespace {

using Columns = std::vector<std::vector<double>>;

Columns random_columns(std::mt19937_64& rng, std::size_t count, std::size_t rows) {
  std::uniform_real_distribution<double> u(-1.0, 1.0);
  Columns c(count, std::vector<double>(rows));
  for (auto& column : c)
    for (double& v : column) v = u(rng);
  return c;
}

// The residual sum of squares of the least-squares fit with intercept on
// `subset`, by Gaussian elimination with partial pivoting in long double on
// the raw normal equations: an independent reference.
long double reference_sse(const Columns& c, std::span<const double> y,
                          const std::vector<std::size_t>& subset) {
  const std::size_t n = y.size();
  const std::size_t k = subset.size() + 1;
  const auto x = [&](std::size_t i, std::size_t j) -> long double {
    return j == 0 ? 1.0L : c[subset[j - 1]][i];
  };
  std::vector<std::vector<long double>> a(k, std::vector<long double>(k + 1, 0.0L));
  for (std::size_t r = 0; r < k; ++r) {
    for (std::size_t s = 0; s < k; ++s)
      for (std::size_t i = 0; i < n; ++i) a[r][s] += x(i, r) * x(i, s);
    for (std::size_t i = 0; i < n; ++i) a[r][k] += x(i, r) * y[i];
  }
  for (std::size_t p = 0; p < k; ++p) {
    std::size_t best = p;
    for (std::size_t r = p + 1; r < k; ++r)
      if (std::fabs(a[r][p]) > std::fabs(a[best][p])) best = r;
    std::swap(a[p], a[best]);
    for (std::size_t r = 0; r < k; ++r) {
      if (r == p) continue;
      const long double f = a[r][p] / a[p][p];
      for (std::size_t s = p; s <= k; ++s) a[r][s] -= f * a[p][s];
    }
  }
  long double sse = 0.0L;
  for (std::size_t i = 0; i < n; ++i) {
    long double prediction = 0.0L;
    for (std::size_t j = 0; j < k; ++j) prediction += a[j][k] / a[j][j] * x(i, j);
    sse += (y[i] - prediction) * (y[i] - prediction);
  }
  return sse;
}

std::vector<std::vector<std::size_t>> subsets(std::size_t p, std::size_t m) {
  std::vector<std::vector<std::size_t>> out;
  std::vector<std::size_t> s(m);
  const auto walk = [&](auto&& self, std::size_t depth, std::size_t from) -> void {
    if (depth == m) return out.push_back(s);
    for (std::size_t i = from; i < p; ++i) {
      s[depth] = i;
      self(self, depth + 1, i + 1);
    }
  };
  walk(walk, 0, 0);
  return out;
}

TEST(TermPool, BestSubsetsAreTheBruteForceChoice) {
  for (const std::uint64_t seed : {1u, 2u, 3u, 4u, 5u, 6u}) {
    std::mt19937_64 rng(seed);
    const Columns c = random_columns(rng, 9, 25);
    std::vector<double> y(25);
    std::normal_distribution<double> noise(0.0, 0.3);
    for (std::size_t i = 0; i < y.size(); ++i)
      y[i] = 2.0 * c[seed % 9][i] - c[(seed + 4) % 9][i] + noise(rng);
    TermPool pool(y, {});
    for (const auto& column : c) ASSERT_TRUE(pool.offer(column));
    for (const std::size_t m : {1u, 2u, 3u}) {
      const std::vector<LinearFit> best = pool.best_subsets(m, 5, nullptr);
      ASSERT_EQ(best.size(), 5u);
      std::vector<std::pair<long double, std::vector<std::size_t>>> ranked;
      for (const auto& s : subsets(9, m)) ranked.emplace_back(reference_sse(c, y, s), s);
      std::stable_sort(ranked.begin(), ranked.end(),
                       [](const auto& a, const auto& b) { return a.first < b.first; });
      for (std::size_t r = 0; r < best.size(); ++r) {
        EXPECT_EQ(best[r].terms, ranked[r].second) << "seed " << seed << " m " << m;
        EXPECT_NEAR(best[r].sse, static_cast<double>(ranked[r].first), 1e-9);
        // A subset fitted on its own gives the very same bits.
        const std::optional<LinearFit> again = pool.fit(best[r].terms);
        ASSERT_TRUE(again);
        EXPECT_EQ(again->coefficients, best[r].coefficients);
        EXPECT_EQ(again->intercept, best[r].intercept);
        EXPECT_EQ(again->sse, best[r].sse);
      }
    }
  }
}

TEST(TermPool, ExtendAddsTheBestColumn) {
  std::mt19937_64 rng(11);
  const Columns c = random_columns(rng, 8, 30);
  std::vector<double> y(30);
  for (std::size_t i = 0; i < y.size(); ++i)
    y[i] = c[0][i] + 0.5 * c[3][i] - 2.0 * c[5][i] + 0.25 * c[6][i];
  TermPool pool(y, {});
  for (const auto& column : c) ASSERT_TRUE(pool.offer(column));
  const std::vector<LinearFit> three = pool.best_subsets(3, 1, nullptr);
  ASSERT_EQ(three.size(), 1u);
  const std::vector<LinearFit> four = pool.extend(three, 1);
  ASSERT_EQ(four.size(), 1u);
  std::vector<std::size_t> chosen = four[0].terms;
  std::sort(chosen.begin(), chosen.end());
  EXPECT_EQ(chosen, (std::vector<std::size_t>{0, 3, 5, 6}));
  EXPECT_NEAR(four[0].sse, 0.0, 1e-12);  // the Gram matrix leaves rounding of the targets' scale
  EXPECT_NEAR(four[0].intercept, 0.0, 1e-12);
}

TEST(TermPool, RefusesUnusableAndCollinearColumns) {
  const std::vector<double> x = {1.0, 2.0, 3.0, 4.0, 5.0, 6.0};
  const std::vector<double> y = {2.0, 1.0, 4.0, 3.0, 6.0, 5.0};
  TermPool pool(y, {});
  EXPECT_TRUE(pool.offer(x));
  struct Case {
    std::vector<double> column;
    bool accepted;
  };
  const std::vector<Case> cases = {
      {{3.0, 5.0, 7.0, 9.0, 11.0, 13.0}, false},      // 2x + 1
      {{-1.0, -2.0, -3.0, -4.0, -5.0, -6.0}, false},  // -x
      {{1.0, 2.0, 3.0, 4.0, 5.0, 6.0005}, false},     // correlation above 0.9999
      {{1.0, 2.0, 3.0, 4.0, 5.0, 6.3}, true},         // correlation about 0.999
      {{7.0, 7.0, 7.0, 7.0, 7.0, 7.0}, false},        // no variation
      {{1.0, 2.0, NAN, 4.0, 5.0, 6.0}, false},        // not finite
      {{1.0, 4.0, 9.0, 16.0, 25.0}, false},           // a row short
      {{1.0, -1.0, 1.0, -1.0, 1.0, -1.0}, true},      // independent
  };
  for (const Case& c : cases) EXPECT_EQ(pool.offer(c.column), c.accepted);
  EXPECT_EQ(pool.size(), 3u);
}

TEST(TermPool, NeverCombinesATermTheOthersExplain) {
  // Pairwise far from collinear, but the third is the sum of the first two.
  const std::vector<double> a = {1.0, 0.0, 0.0, 1.0, 2.0, 0.5, 1.5};
  const std::vector<double> b = {0.0, 1.0, 0.0, 2.0, 0.3, 1.0, 0.1};
  std::vector<double> sum(a.size());
  std::vector<double> y(a.size());
  for (std::size_t i = 0; i < a.size(); ++i) {
    sum[i] = a[i] + b[i];
    y[i] = a[i] - 3.0 * b[i] + (i % 2 ? 0.01 : -0.01);
  }
  TermPool pool(y, {});
  ASSERT_TRUE(pool.offer(a));
  ASSERT_TRUE(pool.offer(b));
  ASSERT_TRUE(pool.offer(sum));
  const std::size_t all[] = {0, 1, 2};
  EXPECT_FALSE(pool.fit(all));
  EXPECT_TRUE(pool.best_subsets(3, 1, nullptr).empty());
  EXPECT_EQ(pool.best_subsets(2, 3, nullptr).size(), 3u);
}

TEST(TermPool, TiesGoToTheEarlierSubset) {
  // y is symmetric in the two columns; every sum is exact in binary.
  const std::vector<double> a = {1.0, 0.0, 0.0, 2.0};
  const std::vector<double> b = {0.0, 1.0, 2.0, 0.0};
  const std::vector<double> y = {1.0, 1.0, 2.0, 2.0};
  TermPool first(y, {});
  ASSERT_TRUE(first.offer(a));
  ASSERT_TRUE(first.offer(b));
  TermPool second(y, {});
  ASSERT_TRUE(second.offer(b));
  ASSERT_TRUE(second.offer(a));
  for (TermPool* pool : {&first, &second}) {
    const std::vector<LinearFit> best = pool->best_subsets(1, 2, nullptr);
    ASSERT_EQ(best.size(), 2u);
    EXPECT_EQ(best[0].sse, best[1].sse);
    EXPECT_EQ(best[0].terms, std::vector<std::size_t>{0});
  }
}

TEST(TermPool, WeightsActAsRepeatedRows) {
  std::mt19937_64 rng(5);
  const Columns c = random_columns(rng, 5, 12);
  std::vector<double> y(12);
  std::vector<double> weights(12);
  std::vector<double> ones(12, 1.0);
  for (std::size_t i = 0; i < y.size(); ++i) {
    y[i] = c[1][i] * c[1][i] + c[2][i];
    weights[i] = static_cast<double>(1 + i % 3);
  }
  Columns repeated(5);
  std::vector<double> repeated_y;
  for (std::size_t i = 0; i < y.size(); ++i) {
    for (std::size_t r = 0; r < static_cast<std::size_t>(weights[i]); ++r) {
      for (std::size_t j = 0; j < 5; ++j) repeated[j].push_back(c[j][i]);
      repeated_y.push_back(y[i]);
    }
  }
  TermPool weighted(y, weights);
  TermPool unit(y, ones);
  TermPool plain(y, {});
  TermPool copies(repeated_y, {});
  for (std::size_t j = 0; j < 5; ++j) {
    ASSERT_TRUE(weighted.offer(c[j]));
    ASSERT_TRUE(unit.offer(c[j]));
    ASSERT_TRUE(plain.offer(c[j]));
    ASSERT_TRUE(copies.offer(repeated[j]));
  }
  for (const std::size_t m : {1u, 2u, 3u}) {
    const LinearFit w = weighted.best_subsets(m, 1, nullptr).at(0);
    const LinearFit r = copies.best_subsets(m, 1, nullptr).at(0);
    EXPECT_EQ(w.terms, r.terms);
    EXPECT_NEAR(w.sse, r.sse, 1e-12);
    for (std::size_t k = 0; k < m; ++k) EXPECT_NEAR(w.coefficients[k], r.coefficients[k], 1e-9);
    // Weights of 1 give the bits of no weights.
    const LinearFit u = unit.best_subsets(m, 1, nullptr).at(0);
    const LinearFit p = plain.best_subsets(m, 1, nullptr).at(0);
    EXPECT_EQ(u.terms, p.terms);
    EXPECT_EQ(u.coefficients, p.coefficients);
    EXPECT_EQ(u.sse, p.sse);
  }
}

TEST(TermPool, StopEndsTheSearch) {
  std::mt19937_64 rng(3);
  const Columns c = random_columns(rng, 6, 10);
  TermPool pool(c[0], {});
  for (std::size_t j = 1; j < 6; ++j) ASSERT_TRUE(pool.offer(c[j]));
  EXPECT_TRUE(pool.best_subsets(2, 1, [] { return true; }).empty());
}

// A library whose targets are a sum of three of its columns; the selection
// must recover them whatever the pool's screened share.
TEST(TermSelection, RecoversAnExactSumAndStopsWhereTheLibraryEnds) {
  std::mt19937_64 rng(21);
  const std::size_t rows = 40;
  Columns library = random_columns(rng, 30, rows);
  std::vector<double> y(rows);
  for (std::size_t i = 0; i < rows; ++i)
    y[i] = 1.5 * library[7][i] - 0.5 * library[19][i] + 3.0 * library[28][i] + 2.0;
  for (const std::size_t pool : {6u, 12u, 60u}) {
    TermColumns columns;
    columns.sizes.assign(30, 1);
    for (std::size_t j = 0; j < 30; ++j) columns.sizes[j] = 1 + j;
    columns.screen = library;
    columns.screen_targets = y;
    columns.targets = y;
    TermSelection selection(std::move(columns), 5, pool);
    std::optional<TermSelection::Model> model;
    for (std::size_t m = 1; m <= 3; ++m) model = selection.next(nullptr);
    ASSERT_TRUE(model) << pool;
    std::vector<std::size_t> terms = model->library_terms;
    std::sort(terms.begin(), terms.end());
    EXPECT_EQ(terms, (std::vector<std::size_t>{7, 19, 28})) << pool;
    EXPECT_NEAR(model->fit.intercept, 2.0, 1e-9);
  }
}

}  // namespace
}  // namespace tov
