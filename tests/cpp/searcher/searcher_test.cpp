// The native searcher with named constants: closed forms for numbers and
// data, near misses that are never a free constant, the exit at the rounding
// floor, and the same results through a distributed transport.
#include "searcher/searcher.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <random>
#include <string>
#include <vector>

#include "fit/scoring.hpp"
#include "support/captured_output.hpp"
#include "support/in_process_transport.hpp"

namespace tov {
namespace {

SearchConfig named(std::uint64_t max_complexity, std::uint64_t beam_width) {
  SearchConfig config;
  config.max_complexity = max_complexity;
  config.beam_width = beam_width;
  config.verbose = false;
  config.named_constants = true;
  return config;
}

double floor_of(std::span<const double> ys) {
  return rounding_floor(Objective::plain(ys, 0.0, 0.5));
}

bool has_free_constant(const SearchResult& r) {
  for (const Token& t : r.expression().tokens)
    if (t.kind == TokenKind::Param || t.kind == TokenKind::Var) return true;
  return false;
}

TEST(NamedConstants, ClosedFormsForHandPickedNumbers) {
  const double phi = (1 + std::sqrt(5.0)) / 2;
  const struct {
    double value;
    std::uint64_t max_complexity;
    std::uint64_t beam_width;
    const char* formula;
  } cases[] = {
      {std::sqrt(2.0) + std::sqrt(3.0), 6, 300, "Plus(Sqrt(2), Sqrt(3))"},
      {std::numbers::pi * std::numbers::pi, 6, 300, "Square(Pi)"},
      {std::exp(std::numbers::pi), 6, 300, "Exp(Pi)"},
      {std::log(2.0), 6, 300, "Log(2)"},
      {-0.5, 6, 300, "Neg(Inv(2))"},
      {phi, 6, 3000, "Divide(2, Subtract(Sqrt(5), 1))"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.formula);
    const Searcher searcher(named(c.max_complexity, c.beam_width));
    const Outcome<SearchResult> found = searcher.recognize_constant(c.value);
    ASSERT_TRUE(found.ok());
    EXPECT_EQ(found.value().formula(), c.formula);
    EXPECT_FALSE(has_free_constant(found.value()));
    const double target[] = {c.value};
    EXPECT_LE(found.value().error(), floor_of(target));
  }
}

TEST(NamedConstants, RandomNumbersAreNearMissesNeverAFreeConstant) {
  std::mt19937_64 engine(5);
  std::uniform_real_distribution<double> uniform(0.1, 10.0);
  const Searcher searcher(named(5, 200));
  for (int i = 0; i < 4; ++i) {
    const double value = uniform(engine);
    SCOPED_TRACE(value);
    const Outcome<SearchResult> found = searcher.recognize_constant(value);
    ASSERT_TRUE(found.ok());
    const double target[] = {value};
    EXPECT_GT(found.value().error(), floor_of(target));
    EXPECT_GT(found.value().error(), 0.0);
    EXPECT_FALSE(has_free_constant(found.value()));
    EXPECT_TRUE(found.value().parameters().empty());
  }
}

TEST(NamedConstants, DataGetClosedFormsWithTheirConstants) {
  std::vector<std::vector<double>> rows;
  std::vector<double> ys;
  for (int i = 0; i < 20; ++i) {
    const double r = 0.5 + 0.25 * i;
    rows.push_back({r});
    ys.push_back(4 * std::numbers::pi * r * r);
  }
  const Outcome<SearchResult> found = Searcher(named(6, 300)).find_multivariate(rows, ys);
  ASSERT_TRUE(found.ok());
  EXPECT_EQ(found.value().formula(), "Times(Square(v_{0}), Times(4, Pi))");
  EXPECT_TRUE(found.value().parameters().empty());
  EXPECT_LE(found.value().error(), floor_of(ys));
}

TEST(NamedConstants, TheSearchStopsAtTheRoundingFloorNotAt1eMinus10) {
  const auto last_level = [](const SearchConfig& config, double value) {
    SearchEnding ending;
    SearchControl control;
    control.ending = &ending;
    EXPECT_TRUE(Searcher(config, control).recognize_constant(value).ok());
    return ending.last_level;
  };
  // Sqrt(2) matches 1.4142135 within 1e-10 but not to rounding.
  SearchConfig free = named(5, 100);
  free.named_constants = false;
  EXPECT_LT(last_level(free, 1.4142135), 5u);
  EXPECT_EQ(last_level(named(5, 100), 1.4142135), 5u);
  EXPECT_EQ(last_level(named(5, 100), std::sqrt(2.0)), 2u);
  SearchConfig loose = named(5, 100);
  loose.target_error = 1e-10;
  EXPECT_EQ(last_level(loose, 1.4142135), 2u);

  const double target[] = {3.0};
  EXPECT_EQ(Searcher(free).exit_tolerance(target, {}), 1e-10);
  EXPECT_EQ(Searcher(named(5, 100)).exit_tolerance(target, {}), floor_of(target));
  EXPECT_EQ(Searcher(loose).exit_tolerance(target, {}), 1e-10);
}

TEST(NamedConstants, DistributedSearchesEqualTheLocalSearch) {
  std::vector<std::vector<double>> rows;
  std::vector<double> ys;
  for (int i = 0; i < 15; ++i) {
    const double x = 0.3 + 0.2 * i;
    rows.push_back({x, 1 / x});
    ys.push_back(std::exp(-x) / 3 + x);
  }
  SearchConfig config = named(5, 60);
  config.exhaustive = true;
  CapturedOutput out;
  SearchControl control;
  control.out = out.file();
  const std::string local = describe(Searcher(config, control).find_candidates(rows, ys));
  InProcessTransport transport(2, 3, 4);
  EXPECT_EQ(describe(Searcher(config, control, &transport).find_candidates(rows, ys)), local);
}

}  // namespace
}  // namespace tov
