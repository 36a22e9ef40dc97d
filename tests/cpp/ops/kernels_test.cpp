// The shortcuts the kernels take around libm must return exactly what the
// library returns.
#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <limits>
#include <random>
#include <vector>

#include "ops/kernels.hpp"

namespace tov::kernels {
namespace {

bool same(double a, double b) {
  if (std::isnan(a) || std::isnan(b)) return std::isnan(a) && std::isnan(b);
  return std::bit_cast<std::uint64_t>(a) == std::bit_cast<std::uint64_t>(b);
}

std::vector<double> probe_values() {
  const double inf = std::numeric_limits<double>::infinity();
  std::vector<double> values = {
      0.0,     -0.0,   1.0,     -1.0,   inf,
      -inf,    1e-310, -1e-310, 5e-324, -5e-324,
      1e308,   -1e308, kPi,     -kPi,   std::numeric_limits<double>::max(),
      2.5e-308};
  std::mt19937_64 rng(5);
  for (int i = 0; i < 2000; ++i) {
    const double magnitude = std::ldexp(1.0, static_cast<int>(rng() % 2100) - 1074);
    const double sign = rng() % 2 ? -1.0 : 1.0;
    values.push_back(sign * magnitude * (1.0 + static_cast<double>(rng() % 1000) / 1000.0));
  }
  return values;
}

TEST(KernelShortcuts, AgreeWithTheLibraryOnRealArguments) {
  for (const double x : probe_values()) {
    for (const double zero : {0.0, -0.0}) {
      EXPECT_TRUE(same(magnitude(x, zero), std::hypot(x, zero))) << x;
      EXPECT_TRUE(same(argument(zero, x), std::atan2(zero, x))) << x;
    }
    EXPECT_TRUE(same(argument(x, 1.5), std::atan2(x, 1.5))) << x;
    EXPECT_TRUE(same(std::hypot(1.0, x), std::hypot(1.0, -x))) << x;
    EXPECT_TRUE(same(cos_of(x), std::cos(x))) << x;
    EXPECT_TRUE(same(sin_of(x), std::sin(x))) << x;
    EXPECT_TRUE(same(cosh_of(x), std::cosh(x))) << x;
    EXPECT_TRUE(same(sinh_of(x), std::sinh(x))) << x;
  }
  for (const double zero : {0.0, -0.0}) {
    EXPECT_TRUE(same(cos_of(zero), std::cos(zero)));
    EXPECT_TRUE(same(sin_of(zero), std::sin(zero)));
    EXPECT_TRUE(same(cosh_of(zero), std::cosh(zero)));
    EXPECT_TRUE(same(sinh_of(zero), std::sinh(zero)));
  }
}

TEST(KernelShortcuts, ZeroMagnitudeMatchesHypot) {
  const auto values = probe_values();
  for (std::size_t i = 0; i < values.size(); i += 7)
    for (std::size_t j = 0; j < values.size(); j += 11)
      EXPECT_EQ(zero_magnitude(values[i], values[j]), std::hypot(values[i], values[j]) == 0.0)
          << values[i] << ", " << values[j];
  EXPECT_FALSE(zero_magnitude(std::numeric_limits<double>::quiet_NaN(), 0.0));
}

}  // namespace
}  // namespace tov::kernels
