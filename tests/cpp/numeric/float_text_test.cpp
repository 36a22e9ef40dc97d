// float_text against Python's repr of the same doubles.
#include "numeric/float_text.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace tov {
namespace {

TEST(FloatText, WritesWhatPythonsReprWrites) {
  struct Case {
    double value;
    const char* repr;
  };
  const Case cases[] = {
      {0.0, "0.0"},
      {-0.0, "-0.0"},
      {-0.5, "-0.5"},
      {1.0, "1.0"},
      {0.1, "0.1"},
      {1e-4, "0.0001"},
      {1.5e-5, "1.5e-05"},
      {1e-5, "1e-05"},
      {123.456, "123.456"},
      {1e15, "1000000000000000.0"},
      {1e16, "1e+16"},
      {1.2345678901234567e16, "1.2345678901234568e+16"},
      {1e308, "1e+308"},
      {5e-324, "5e-324"},
      {2.5e-300, "2.5e-300"},
      {0.1 + 0.2, "0.30000000000000004"},
      {std::numeric_limits<double>::infinity(), "inf"},
      {-std::numeric_limits<double>::infinity(), "-inf"},
      {std::nan(""), "nan"},
  };
  for (const Case& c : cases) EXPECT_EQ(float_text(c.value), c.repr);
}

}  // namespace
}  // namespace tov
