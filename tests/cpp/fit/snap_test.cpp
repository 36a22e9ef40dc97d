// Snapping fitted constants: laws whose constants have closed forms, one
// whose constant has none, the tolerance, and what stays exact.
#include "fit/snap.hpp"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <numbers>
#include <random>
#include <string>
#include <vector>

#include "fit/scoring.hpp"
#include "formula/exact_constant.hpp"
#include "ops/registry.hpp"
#include "result/result_restore.hpp"

namespace tov {
namespace {

constexpr double kPi = std::numbers::pi;

Expression c(double value) {
  Expression leaf = make_param_leaf();
  leaf.tokens[0].value = Complex{value, 0.0};
  return leaf;
}
Expression v(std::uint8_t j) { return make_var_leaf(j); }
Expression times(const Expression& a, const Expression& b) {
  return make_binary(op_id::kTimes, "Times", a, b);
}
Expression plus(const Expression& a, const Expression& b) {
  return make_binary(op_id::kPlus, "Plus", a, b);
}
Expression unary(std::uint64_t id, const char* name, const Expression& a) {
  return make_unary(id, name, a);
}

// Rows of `variables` inputs drawn from [1, 3], targets from `law`.
template <class Law>
SearchData sample(std::size_t variables, Law law, std::uint32_t seed = 7) {
  std::mt19937_64 engine(seed);
  std::uniform_real_distribution<double> uniform(1.0, 3.0);
  std::vector<std::vector<double>> rows(50);
  std::vector<double> ys;
  for (auto& row : rows) {
    for (std::size_t j = 0; j < variables; ++j) row.push_back(uniform(engine));
    ys.push_back(law(row));
  }
  Outcome<SearchData> data = prepare_data(rows, ys, {});
  EXPECT_TRUE(data.ok());
  return std::move(data.value());
}

SearchResult result_of(const Expression& x) { return SearchResult(x, builtin_registry(), 0.0); }

std::uint64_t bits(double x) { return std::bit_cast<std::uint64_t>(x); }

// The rounding floor of unweighted targets.
double floor_of(std::span<const double> ys) {
  return rounding_floor(Objective::plain(ys, 0.0, 0.5));
}

TEST(Snap, ConstantsWithClosedFormsBecomeExact) {
  const struct {
    const char* law;
    Expression fitted;
    SearchData data;
    const char* snapped;
    const char* latex;
  } cases[] = {
      {"h omega / (2 pi)", times(c(0.15915494309189535), times(v(0), v(1))),
       sample(2, [](const auto& x) { return x[0] * x[1] / (2 * kPi); }),
       "Times(1/(2*Pi), Times(v_{0}, v_{1}))", "\\frac{1}{2\\pi} \\cdot v_{0} \\cdot v_{1}"},
      // Four units in the last place from 1/sqrt(2 pi), and an offset of rounding size.
      {"exp(-t^2/2) / sqrt(2 pi)",
       plus(times(c(0.3989422804014331),
                  unary(op_id::kExp, "Exp",
                        times(c(-0.5000000000000002), unary(op_id::kSquare, "Square", v(0))))),
            c(-1.1e-16)),
       sample(1, [](const auto& x) { return std::exp(-x[0] * x[0] / 2) / std::sqrt(2 * kPi); }),
       "Plus(Times(1/Sqrt(2*Pi), Exp(Times(-1/2, Square(v_{0})))), 0)",
       "\\frac{1}{\\sqrt{2\\pi}} \\cdot e^{-\\frac{1}{2} \\cdot {v_{0}}^2} + 0"},
      {"3/5 x", times(c(0.6000000000000001), v(0)),
       sample(1, [](const auto& x) { return 0.6 * x[0]; }), "Times(3/5, v_{0})",
       "\\frac{3}{5} \\cdot v_{0}"},
      {"4 pi r^2", times(c(12.566370614359174), unary(op_id::kSquare, "Square", v(0))),
       sample(1, [](const auto& x) { return 4 * kPi * x[0] * x[0]; }), "Times(4*Pi, Square(v_{0}))",
       "4\\pi \\cdot {v_{0}}^2"},
  };
  for (const auto& row : cases) {
    SCOPED_TRACE(row.law);
    const std::optional<SearchResult> snapped = snap_constants(result_of(row.fitted), row.data);
    ASSERT_TRUE(snapped.has_value());
    EXPECT_EQ(snapped->formula(), row.snapped);
    EXPECT_EQ(snapped->to_latex(), row.latex);
    EXPECT_TRUE(snapped->parameters().empty());
    EXPECT_LE(snapped->error(), floor_of(row.data.targets));
    EXPECT_EQ(snapped->complexity(), row.fitted.complexity);
  }
}

TEST(Snap, AConstantWithoutClosedFormIsLeftAsItIs) {
  const double k = 1.2345678901234567;
  const Expression fitted = plus(times(c(k), v(0)), c(0.4999999999999999));
  const SearchData data = sample(1, [&](const auto& x) { return k * x[0] + 0.5; });
  const std::optional<SearchResult> snapped = snap_constants(result_of(fitted), data);
  ASSERT_TRUE(snapped.has_value());
  EXPECT_EQ(snapped->formula(), "Plus(Times(C, v_{0}), 1/2)");
  ASSERT_EQ(snapped->parameters().size(), 1u);
  EXPECT_NEAR(snapped->parameters()[0], k, 1e-15);
  EXPECT_LE(snapped->error(), floor_of(data.targets));

  const Expression alone = times(c(k), v(0));
  const SearchData exact = sample(1, [&](const auto& x) { return k * x[0]; });
  const std::optional<SearchResult> untouched = snap_constants(result_of(alone), exact);
  ASSERT_TRUE(untouched.has_value());
  EXPECT_EQ(untouched->formula(), "Times(C, v_{0})");
  EXPECT_EQ(bits(untouched->parameters()[0]), bits(k));
  EXPECT_EQ(bits(untouched->error()),
            bits(compute_raw_error(alone, exact.samples, Objective::plain(exact.targets, 0, 0.5),
                                   builtin_registry()->ops())));
}

TEST(Snap, AnExactErrorStaysExact) {
  const SearchData data = sample(1, [](const auto& x) { return 0.5 * x[0]; });
  const std::optional<SearchResult> snapped = snap_constants(result_of(times(c(0.5), v(0))), data);
  ASSERT_TRUE(snapped.has_value());
  EXPECT_EQ(snapped->formula(), "Times(1/2, v_{0})");
  EXPECT_EQ(snapped->error(), 0.0);
}

TEST(Snap, TheToleranceBoundsTheRiseOfTheError) {
  // A constant fitted to other data, 2e-7 from 1/2.
  const Expression fitted = times(c(0.5000002), v(0));
  const SearchData data = sample(1, [](const auto& x) { return 0.5000002 * x[0]; });
  const Objective objective = Objective::plain(data.targets, 0, 0.5);
  const OperatorList ops = builtin_registry()->ops();
  const double base = compute_raw_error(fitted, data.samples, objective, ops);
  const double rise = compute_raw_error(times(c(0.5), v(0)), data.samples, objective, ops) - base;
  EXPECT_EQ(snap_constants(result_of(fitted), data)->formula(), "Times(C, v_{0})");
  EXPECT_EQ(snap_constants(result_of(fitted), data, rise * 0.99)->formula(), "Times(C, v_{0})");
  const std::optional<SearchResult> loose = snap_constants(result_of(fitted), data, rise * 1.01);
  EXPECT_EQ(loose->formula(), "Times(1/2, v_{0})");
  EXPECT_LE(loose->error(), base + rise * 1.01);
}

TEST(Snap, RefitsTheOtherConstantsWhenASubstitutionNeedsIt) {
  // y = 3/5 x + 11/5, the slope off by 1e-9 and the offset compensating:
  // 3/5 fits only with the offset refitted.
  const SearchData data = sample(1, [](const auto& x) { return 0.6 * x[0] + 2.2; });
  const Expression fitted = plus(times(c(0.6 + 1e-9), v(0)), c(2.2 - 2e-9));
  const std::optional<SearchResult> snapped = snap_constants(result_of(fitted), data);
  ASSERT_TRUE(snapped.has_value());
  EXPECT_EQ(snapped->formula(), "Plus(Times(3/5, v_{0}), 11/5)");
  EXPECT_LE(snapped->error(), floor_of(data.targets));
}

TEST(Snap, NoFiniteErrorNoResult) {
  const SearchData data = sample(1, [](const auto& x) { return x[0]; });
  const Expression undefined = unary(op_id::kInv, "Inv", times(c(0.0), v(0)));
  EXPECT_FALSE(snap_constants(result_of(undefined), data).has_value());
}

TEST(Snap, SnappedResultsRestoreFromTheirTokens) {
  const SearchData data = sample(2, [](const auto& x) { return x[0] * x[1] / (2 * kPi); });
  const SearchResult snapped =
      *snap_constants(result_of(times(c(0.15915494309189535), times(v(0), v(1)))), data);
  const Restored restored = restore_result(snapped.expression().tokens, snapped.error());
  ASSERT_TRUE(std::holds_alternative<SearchResult>(restored));
  const SearchResult& back = std::get<SearchResult>(restored);
  EXPECT_EQ(back.formula(), snapped.formula());
  EXPECT_EQ(back.to_python(), "(1/(2*np.pi))*((v_{0})*(v_{1}))");
  EXPECT_EQ(bits(back.eval_multi(std::vector<double>{2.0, 3.0})),
            bits(snapped.eval_multi(std::vector<double>{2.0, 3.0})));
}

}  // namespace
}  // namespace tov
