// The checks and scaling of a search's data.
#include "fit/search_data.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <variant>
#include <vector>

namespace tov {
namespace {

TEST(SearchData, WeightsAreTakenRelativeToTheLargest) {
  const std::vector<std::vector<double>> rows = {{1.0}, {2.0}, {3.0}};
  const std::vector<double> ys = {1.0, 2.0, 3.0};
  struct Case {
    std::vector<double> weights;
    std::vector<double> used;
  };
  const Case cases[] = {
      {{1.0, 1.0, 1.0}, {1.0, 1.0, 1.0}},       {{5e-324, 5e-324, 5e-324}, {1.0, 1.0, 1.0}},
      {{1e308, 1e308, 1e308}, {1.0, 1.0, 1.0}}, {{0.5, 1.0, 0.25}, {0.5, 1.0, 0.25}},
      {{2.0, 0.0, 8.0}, {0.25, 1.0}},  // the zero-weight sample is left out
  };
  for (const Case& c : cases) {
    const Outcome<SearchData> data = prepare_data(rows, ys, c.weights);
    ASSERT_TRUE(data.ok());
    EXPECT_EQ(data.value().weights, c.used);
  }
}

TEST(SearchData, UnusableWeightsAreNamed) {
  const std::vector<std::vector<double>> rows = {{1.0}, {2.0}};
  const std::vector<double> ys = {1.0, 2.0};
  struct Case {
    std::vector<double> weights;
    const char* message;
  };
  const Case cases[] = {
      {{1.0}, "weights must have one entry per target: 1 weights for 2 targets"},
      {{1.0, -0.5}, "weights must be finite and non-negative: weights[1] is -0.5"},
      {{NAN, 1.0}, "weights must be finite and non-negative: weights[0] is nan"},
      {{1.0, INFINITY}, "weights must be finite and non-negative: weights[1] is inf"},
      {{0.0, 0.0}, "weights must not all be zero"},
  };
  for (const Case& c : cases) {
    const Outcome<SearchData> data = prepare_data(rows, ys, c.weights);
    ASSERT_FALSE(data.ok());
    EXPECT_TRUE(std::holds_alternative<InvalidValue>(data.error()));
    EXPECT_EQ(error_message(data.error()), c.message);
  }
}

TEST(SearchData, TargetsOutOfScaleAreWarnedAbout) {
  EXPECT_FALSE(target_scale_warning(std::vector<double>{1.0, -3.0, 0.0}));
  EXPECT_FALSE(target_scale_warning(std::vector<double>{0.0, 0.0}));
  EXPECT_FALSE(target_scale_warning(std::vector<double>{1e150, 1e-200}));
  EXPECT_EQ(target_scale_warning(std::vector<double>{1.0, -2e160}).value_or(""),
            "targets reach 2e+160 in magnitude: their squares overflow, so errors are infinite; "
            "rescale the targets (for example divide them by their largest magnitude)");
  EXPECT_EQ(target_scale_warning(std::vector<double>{1e-170, -3e-160}).value_or(""),
            "targets are at most 3e-160 in magnitude: their squares underflow, so every error is "
            "0; rescale the targets (for example divide them by their largest magnitude)");
}

}  // namespace
}  // namespace tov
