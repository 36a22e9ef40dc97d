// The column kernels against the builtin kernels: on every argument their
// column check lets through, they must give the same bits, and the block
// evaluator must give what apply_builtin gives sample by sample, whichever
// loop it picks. Also pins the library facts the column kernels lean on.
#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>
#include <optional>
#include <ostream>
#include <random>
#include <string>
#include <type_traits>
#include <vector>

#include "fit/block_eval.hpp"
#include "ops/kernels.hpp"
#include "ops/registry.hpp"

namespace tov {
namespace {

using kernels::ColumnKernels;

constexpr double kInf = std::numeric_limits<double>::infinity();

// Bit-identical, except that any NaN matches any NaN: which NaN an operation
// on two NaNs returns depends on the operand order the compiler picks.
bool same_double(double a, double b) {
  return (std::isnan(a) && std::isnan(b)) ||
         std::bit_cast<std::uint64_t>(a) == std::bit_cast<std::uint64_t>(b);
}

bool same_value(const std::optional<Complex>& a, const std::optional<Complex>& b) {
  if (a.has_value() != b.has_value()) return false;
  return !a || (same_double(a->re, b->re) && same_double(a->im, b->im));
}

// Mixed doubles: random bit patterns, ordinary and wide-ranging values,
// special values, subnormals, and values a few ulps around the thresholds
// the column kernels use.
class Doubles {
 public:
  explicit Doubles(std::uint64_t seed) : rng_(seed) {}

  std::size_t below(std::size_t n) { return rng_() % n; }
  double uniform(double lo, double hi) {
    return std::uniform_real_distribution<double>(lo, hi)(rng_);
  }

  double next() {
    static constexpr double kSpecials[] = {0.0,
                                           1.0,
                                           kInf,
                                           std::numeric_limits<double>::quiet_NaN(),
                                           std::numeric_limits<double>::denorm_min(),
                                           std::numeric_limits<double>::min(),
                                           std::numeric_limits<double>::max(),
                                           1e15};
    static constexpr double kThresholds[] = {
        kernels::kHalfPi, kernels::kPi, kernels::kBelowThreeHalvesPi, kernels::kBelowTwoPi, 1.0};
    const double sign = rng_() % 2 ? -1.0 : 1.0;
    switch (rng_() % 7) {
      case 0:
        return std::bit_cast<double>(rng_());
      case 1:
        return sign * kSpecials[below(std::size(kSpecials))];
      case 2:
        return uniform(-8.0, 8.0);
      case 3: {
        // Any magnitude, subnormals included.
        const auto exponent = static_cast<int>(below(2100)) - 1074;
        return sign * std::ldexp(1.0 + static_cast<double>(below(1u << 20)) / (1u << 20), exponent);
      }
      case 4: {
        const double t = kThresholds[below(std::size(kThresholds))];
        const auto ulps = static_cast<std::int64_t>(below(129)) - 64;
        return sign * std::bit_cast<double>(std::bit_cast<std::int64_t>(t) + ulps);
      }
      case 5:
        return sign * std::bit_cast<double>(rng_() >> 12);  // subnormal
      default:
        return uniform(-1e3, 1e3);
    }
  }

  double zero() { return rng_() % 2 ? 0.0 : -0.0; }

 private:
  std::mt19937_64 rng_;
};

enum class Domain { kReal, kImaginary };

// One column kernel with the arguments its column check admits.
struct ColumnKernel {
  std::string name;
  std::uint64_t op;
  Domain domain;
  double real_bound;
  std::optional<Complex> (*kernel)(Complex);

  bool admits(Complex z) const {
    return domain == Domain::kReal ? z.im == 0.0 && std::fabs(z.re) <= real_bound : z.re == 0.0;
  }
};

void PrintTo(const ColumnKernel& c, std::ostream* os) { *os << c.name; }

template <auto Kernel>
std::optional<Complex> as_optional(Complex z) {
  return Kernel(z);
}

template <auto Kernel>
void add_column_kernels(std::vector<ColumnKernel>& list, std::uint64_t op, const char* name) {
  using Columns = ColumnKernels<Kernel>;
  if constexpr (!std::is_null_pointer_v<decltype(Columns::real)>) {
    list.push_back({std::string(name) + "OfReal", op, Domain::kReal, Columns::real_bound,
                    &as_optional<Columns::real>});
  }
  if constexpr (!std::is_null_pointer_v<decltype(Columns::imaginary)>) {
    list.push_back({std::string(name) + "OfImaginary", op, Domain::kImaginary, kInf,
                    &as_optional<Columns::imaginary>});
  }
}

// Every column kernel in the catalogue.
std::vector<ColumnKernel> column_kernels() {
  std::vector<ColumnKernel> list;
  using namespace kernels;
#define TOV_ADD(Type, Name, Arity, Commutative, Latex, Python, Kernel) \
  add_column_kernels<Kernel>(list, op_id::k##Type, Name);
  TOV_BUILTIN_OPERATORS(TOV_ADD)
#undef TOV_ADD
  return list;
}

class ColumnKernelTest : public testing::TestWithParam<ColumnKernel> {};

TEST_P(ColumnKernelTest, GivesTheBuiltinsBitsOnEveryAdmittedArgument) {
  const ColumnKernel& c = GetParam();
  Doubles doubles(c.op * 2 + (c.domain == Domain::kReal ? 0 : 1));
  constexpr int kArguments = 2'000'000;
  for (int n = 0; n < kArguments;) {
    const Complex z = c.domain == Domain::kReal ? Complex{doubles.next(), doubles.zero()}
                                                : Complex{doubles.zero(), doubles.next()};
    if (!c.admits(z)) continue;
    ++n;
    const auto expected = kernels::apply_builtin(c.op, &z);
    const auto got = c.kernel(z);
    ASSERT_TRUE(same_value(got, expected))
        << std::hexfloat << c.name << " at " << z.re << " + " << z.im
        << "i: " << (got ? got->re : 0.0) << " + " << (got ? got->im : 0.0) << "i, expected "
        << (expected ? expected->re : 0.0) << " + " << (expected ? expected->im : 0.0) << "i";
  }
}

INSTANTIATE_TEST_SUITE_P(Catalogue, ColumnKernelTest, testing::ValuesIn(column_kernels()),
                         [](const testing::TestParamInfo<ColumnKernel>& column_kernel) {
                           return column_kernel.param.name;
                         });

TEST(ColumnKernels, CoverTheExpectedOperators) {
  std::vector<std::string> names;
  for (const ColumnKernel& c : column_kernels()) names.push_back(c.name);
  EXPECT_EQ(names, (std::vector<std::string>{"ExpOfImaginary", "LogOfImaginary", "SinOfReal",
                                             "SinOfImaginary", "CosOfReal", "CosOfImaginary",
                                             "TanOfImaginary", "ArcSinOfReal", "ArcCosOfReal",
                                             "ArcTanOfReal"}));
}

// eval_arctan_real takes atan2(-t, 1) to be -atan2(t, 1).
TEST(ColumnKernels, AtanTwoIsOddInItsFirstArgument) {
  Doubles doubles(2);
  for (int n = 0; n < 3'000'000; ++n) {
    const double t = doubles.next();
    ASSERT_TRUE(same_double(std::atan2(-t, 1.0), -std::atan2(t, 1.0))) << t;
  }
}

// The thresholds are the largest doubles below the multiples of pi/2 they
// stand for.
TEST(ColumnKernels, ThresholdsAreTheDoublesJustBelowTheirMultiplesOfHalfPi) {
  // pi - kPi to 20 digits; long double carries them all.
  constexpr long double kPiTail = 1.2246467991473531772e-16L;
  const double thresholds[] = {kernels::kHalfPi, kernels::kPi, kernels::kBelowThreeHalvesPi,
                               kernels::kBelowTwoPi};
  for (int k = 1; k <= 4; ++k) {
    const long double below = thresholds[k - 1];
    const long double above = std::nextafter(thresholds[k - 1], kInf);
    const long double multiple_of_half_pi = k * (kernels::kPi / 2.0L + kPiTail / 2.0L);
    EXPECT_LT(below, multiple_of_half_pi) << k;
    EXPECT_GT(above, multiple_of_half_pi) << k;
  }
}

// What a column of a given kind looks like.
enum class ColumnKind {
  kReal,               // real, |x| up to 3
  kRealWide,           // real, any magnitude
  kImaginary,          // real part +-0
  kMixed,              // real and imaginary values
  kRealAndOneComplex,  // real except for one valid complex value
  kComplex,
  kAnything,  // mixed doubles in both parts
};

Complex value_of(ColumnKind kind, Doubles& doubles) {
  switch (kind) {
    case ColumnKind::kReal:
      return {doubles.uniform(-3.0, 3.0), doubles.zero()};
    case ColumnKind::kRealWide:
    case ColumnKind::kRealAndOneComplex:
      return {doubles.next(), doubles.zero()};
    case ColumnKind::kImaginary:
      return {doubles.zero(), doubles.next()};
    case ColumnKind::kMixed:
      return doubles.below(2) ? Complex{doubles.next(), doubles.zero()}
                              : Complex{doubles.zero(), doubles.next()};
    case ColumnKind::kComplex:
      return {doubles.uniform(-3.0, 3.0), doubles.uniform(-3.0, 3.0)};
    case ColumnKind::kAnything:
      break;
  }
  return {doubles.next(), doubles.next()};
}

TEST(ColumnKernels, BlockEvaluationMatchesApplyBuiltinOnEveryKindOfColumn) {
  const auto registry = OperatorRegistry::with_builtins();
  Doubles doubles(31);
  constexpr std::size_t n = 257;
  const Complex sentinel{12345.0, -678.0};
  std::vector<Complex> a(n), out(n);
  std::vector<std::uint8_t> va(n), valid(n);
  for (const std::uint64_t op : registry.ids_by_arity(1)) {
    if (op < op_id::kFirstBuiltin) continue;
    for (int kind = 0; kind <= static_cast<int>(ColumnKind::kAnything); ++kind) {
      for (int round = 0; round < 30; ++round) {
        const auto column_kind = static_cast<ColumnKind>(kind);
        for (std::size_t i = 0; i < n; ++i) {
          va[i] = doubles.below(10) != 0;
          // Values without a value flag must not sway the column check.
          a[i] = va[i] ? value_of(column_kind, doubles) : Complex{doubles.next(), doubles.next()};
        }
        if (column_kind == ColumnKind::kRealAndOneComplex) {
          const std::size_t i = doubles.below(n);
          a[i] = {doubles.next(), 0.5};
          va[i] = 1;
        }
        const std::size_t begin = doubles.below(4);
        const std::size_t end = n - doubles.below(4);
        std::fill(out.begin(), out.end(), sentinel);
        std::fill(valid.begin(), valid.end(), 7);
        apply_op_block(op, {a.data(), va.data()}, {a.data(), va.data()}, out.data(), valid.data(),
                       begin, end);
        for (std::size_t i = 0; i < n; ++i) {
          const std::string where = registry.metas()[op].name + " kind " + std::to_string(kind) +
                                    " at " + std::to_string(i);
          if (i < begin || i >= end) {
            ASSERT_EQ(valid[i], 7) << where;
            ASSERT_TRUE(same_value(out[i], sentinel)) << where;
            continue;
          }
          const auto expected = kernels::apply_builtin(op, &a[i]);
          const bool ok = va[i] && expected && within_limits(*expected);
          ASSERT_EQ(valid[i] != 0, ok) << where;
          if (ok) {
            ASSERT_TRUE(same_value(out[i], expected)) << where;
          }
          if (!va[i]) {
            ASSERT_TRUE(same_value(out[i], sentinel)) << where;
          }
        }
      }
    }
  }
}

}  // namespace
}  // namespace tov
