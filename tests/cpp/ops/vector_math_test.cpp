// The vector exp, log and hypot against the scalar library calls, bit for bit:
// over ten million arguments each (every table-cell edge and threshold with
// its neighbours, special values, random values and random bit patterns), in
// place and on short arrays; and the self-check's choice of routines, which
// must follow the glibc variant the process runs with. The suite also passes
// with GLIBC_TUNABLES=glibc.cpu.hwcaps=-AVX2,-FMA (tools/run_tests.sh does).
#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "ops/vector_math.hpp"

namespace tov::vmath {
namespace {

using Limits = std::numeric_limits<double>;
constexpr double kInf = Limits::infinity();
constexpr double kLn2 = 0x1.62e42fefa39efp-1;
constexpr std::size_t kArguments = 10'000'000;

double from_bits(std::uint64_t bits) { return std::bit_cast<double>(bits); }
std::uint64_t to_bits(double v) { return std::bit_cast<std::uint64_t>(v); }

std::string hex(double v) {
  char text[32];
  std::snprintf(text, sizeof text, "%a", v);
  return text;
}

struct Routine {
  const char* name;
  int arity;
  bool (*vectorised)();
  // out[i] from the array interface; y is ignored by unary routines.
  void (*array)(const double* x, const double* y, double* out, std::size_t n);
  double (*scalar)(double x, double y);
};

// Streams arguments through the array interface in chunks and compares every
// result with the scalar call.
class Checker {
 public:
  explicit Checker(const Routine& routine) : routine_(routine) {}

  void add(double x, double y = 1.0) {
    x_.push_back(x);
    y_.push_back(y);
    if (x_.size() == kChunk) flush();
  }

  void flush() {
    std::vector<double> out(x_.size());
    routine_.array(x_.data(), y_.data(), out.data(), x_.size());
    for (std::size_t i = 0; i < x_.size(); ++i) {
      const double expected = routine_.scalar(x_[i], y_[i]);
      if (to_bits(out[i]) == to_bits(expected)) continue;
      if (mismatches_ < 5) {
        examples_ += "\n  " + std::string(routine_.name) + "(" + hex(x_[i]) +
                     (routine_.arity == 2 ? ", " + hex(y_[i]) : "") + "): array " + hex(out[i]) +
                     ", scalar " + hex(expected);
      }
      ++mismatches_;
    }
    checked_ += x_.size();
    x_.clear();
    y_.clear();
  }

  std::size_t added() const { return checked_ + x_.size(); }
  std::size_t checked() const { return checked_; }
  std::size_t mismatches() const { return mismatches_; }
  const std::string& examples() const { return examples_; }

 private:
  static constexpr std::size_t kChunk = 1 << 16;
  const Routine& routine_;
  std::vector<double> x_;
  std::vector<double> y_;
  std::size_t checked_ = 0;
  std::size_t mismatches_ = 0;
  std::string examples_;
};

// v and the k representable numbers on each side of it.
std::vector<double> around(double v, int k) {
  std::vector<double> values = {v};
  double below = v;
  double above = v;
  for (int i = 0; i < k; ++i) {
    below = std::nextafter(below, -kInf);
    above = std::nextafter(above, kInf);
    values.push_back(below);
    values.push_back(above);
  }
  return values;
}

std::vector<double> specials() {
  std::vector<double> values;
  for (const double v :
       {0.0, 1.0, 2.0, 0.5, kInf, Limits::quiet_NaN(), from_bits(0x7ff0000000000001),
        Limits::denorm_min(), Limits::min() - Limits::denorm_min(), Limits::min(), Limits::max(),
        0x1p-511, 0x1p511, 0x1p-54, 512.0, 1024.0}) {
    values.push_back(v);
    values.push_back(-v);
  }
  return values;
}

class Random {
 public:
  explicit Random(std::uint64_t seed) : engine_(seed) {}
  double uniform(double low, double high) {
    return std::uniform_real_distribution<double>(low, high)(engine_);
  }
  double bits() { return from_bits(engine_()); }
  // Random sign and mantissa, biased exponent in [low, high].
  double with_exponent(int low, int high) {
    const std::uint64_t exponent = std::uniform_int_distribution<std::uint64_t>(low, high)(engine_);
    return from_bits((engine_() & 0x800fffffffffffff) | exponent << 52);
  }

 private:
  std::mt19937_64 engine_;
};

void add_exp_arguments(Checker& checker) {
  for (const double v : specials()) checker.add(v);
  // Ends of glibc's main path, overflow, the first subnormal result, underflow
  // to zero.
  for (const double t : {0x1p-54, 512.0, 1024.0, 709.782712893384, 708.3964185322641,
                         745.1332191019411, 744.4400719213812}) {
    for (const double v : around(t, 16)) {
      checker.add(v);
      checker.add(-v);
    }
  }
  // Every edge between table cells, where x 128/ln2 is half an odd integer.
  for (int j = -138000; j <= 131500; ++j) {
    for (const double v : around((j + 0.5) * (kLn2 / 128), 3)) checker.add(v);
  }
  Random random(1);
  for (int i = 0; i < 2'000'000; ++i) checker.add(random.uniform(-760.0, 760.0));
  for (int i = 0; i < 2'000'000; ++i) checker.add(random.with_exponent(0x3c0, 0x3ff));
  for (int i = 0; i < 1'000'000; ++i) checker.add(random.bits());
  while (checker.added() < kArguments) checker.add(random.uniform(-20.0, 20.0));
}

void add_log_arguments(Checker& checker) {
  for (const double v : specials()) checker.add(v);
  // 1 itself and the ends of the interval glibc treats apart near 1.
  for (const double t : {1.0, 1.0 - 0x1p-4, 1.0 + 0x1.09p-4}) {
    for (const double v : around(t, 64)) checker.add(v);
  }
  // Every edge between table cells in every binade: the cell index is bits
  // 45..51 of the bits of x minus those of 0x1.6p-1, so the edges are the
  // multiples of 2^45 in the bits.
  for (std::uint64_t edge = 1ULL << 52; edge < 0x7ff0000000000000; edge += 1ULL << 45) {
    for (std::uint64_t d = 0; d <= 6; ++d) checker.add(from_bits(edge + d - 3));
  }
  Random random(2);
  for (int i = 0; i < 2'000'000; ++i) checker.add(random.uniform(0.9, 1.1));
  for (int i = 0; i < 2'000'000; ++i) checker.add(std::fabs(random.with_exponent(0, 0x7fe)));
  for (int i = 0; i < 1'000'000; ++i) checker.add(random.bits());
  while (checker.added() < kArguments) checker.add(random.uniform(0.0, 100.0));
}

void add_hypot_arguments(Checker& checker) {
  const std::vector<double> special = specials();
  for (const double x : special) {
    for (const double y : special) checker.add(x, y);
  }
  Random random(3);
  for (int e = -1074; e <= 1023; ++e) {
    // Where the smaller argument stops being negligible (a ratio of 2^-54),
    // and where the correction changes form (h = 2 ay, ax = sqrt(3) ay).
    const double ax = std::ldexp(random.uniform(1.0, 2.0), e);
    for (const double ay : around(ax * 0x1p-54, 8)) {
      checker.add(ax, ay);
      checker.add(-ay, ax);
    }
    const double ay = std::ldexp(random.uniform(1.0, 2.0), e);
    for (const double v : around(ay * 1.7320508075688772, 8)) {
      checker.add(v, ay);
      checker.add(ay, -v);
    }
  }
  // Where glibc starts scaling the arguments, and overflow.
  for (const double t : {0x1p511, 0x1p-511, 0x1p-450, Limits::max() / std::sqrt(2.0)}) {
    for (const double v : around(t, 16)) {
      for (const double other : {t, t * 0x1p-30, t * 0x1p30, 1.0, 0x1p-600, 0x1p600}) {
        checker.add(v, other);
        checker.add(-other, v);
      }
    }
  }
  for (int i = 0; i < 3'000'000; ++i) {
    checker.add(random.uniform(-100.0, 100.0), random.uniform(-100.0, 100.0));
  }
  for (int i = 0; i < 1'000'000; ++i) checker.add(random.bits(), random.bits());
  for (int i = 0; i < 2'000'000; ++i) {
    checker.add(random.with_exponent(0x1e0, 0x620), random.with_exponent(0x1e0, 0x620));
  }
  while (checker.added() < kArguments) {
    const double x = random.uniform(-10.0, 10.0);
    checker.add(x, x * random.uniform(-2.0, 2.0));
  }
}

struct Case {
  Routine routine;
  void (*add_arguments)(Checker&);
};

const Case kCases[] = {
    {{"exp", 1, exp_vectorised,
      [](const double* x, const double*, double* out, std::size_t n) { exp_n(x, out, n); },
      [](double x, double) { return std::exp(x); }},
     add_exp_arguments},
    {{"log", 1, log_vectorised,
      [](const double* x, const double*, double* out, std::size_t n) { log_n(x, out, n); },
      [](double x, double) { return std::log(x); }},
     add_log_arguments},
    {{"hypot", 2, hypot_vectorised, hypot_n, [](double x, double y) { return std::hypot(x, y); }},
     add_hypot_arguments},
};

class VectorRoutine : public testing::TestWithParam<Case> {};

TEST_P(VectorRoutine, EveryElementIsTheScalarResult) {
  const Routine& routine = GetParam().routine;
  Checker checker(routine);
  GetParam().add_arguments(checker);
  checker.flush();
  EXPECT_GE(checker.checked(), kArguments);
  EXPECT_EQ(checker.mismatches(), 0u)
      << checker.mismatches() << " of " << checker.checked() << " differ (vector path "
      << (routine.vectorised() ? "on" : "off") << "):" << checker.examples();
  RecordProperty("arguments", std::to_string(checker.checked()));
  RecordProperty("mismatches", std::to_string(checker.mismatches()));
  RecordProperty("vectorised", routine.vectorised() ? "yes" : "no");
}

// Every length up to 11 at every alignment, and the output written over the
// input, with a mix of main-path and special lanes.
TEST_P(VectorRoutine, ShortArraysAndInPlace) {
  const Routine& routine = GetParam().routine;
  std::vector<double> x = {0.75, -3.5, kInf, 1.0,  2.5e-310, -0.0, 0.999, 1e300,
                           7.25, -1.0, 3.0,  1.03, 0.5,      40.0, 1e-20};
  std::vector<double> y = {1.5, 0.25, 2.0, -1e-200, 3.0, 4.0,   1e300, 0.0,
                           9.0, 1.0,  2.0, 0.5,     6.0, -40.0, 2.0};
  for (std::size_t offset = 0; offset < 4; ++offset) {
    for (std::size_t n = 0; offset + n <= x.size() && n <= 11; ++n) {
      std::vector<double> in_place(x.begin() + offset, x.begin() + offset + n);
      routine.array(in_place.data(), y.data() + offset, in_place.data(), n);
      for (std::size_t i = 0; i < n; ++i) {
        const double expected = routine.scalar(x[offset + i], y[offset + i]);
        EXPECT_EQ(to_bits(in_place[i]), to_bits(expected))
            << routine.name << " offset " << offset << " length " << n << " element " << i;
      }
    }
  }
}

INSTANTIATE_TEST_SUITE_P(VectorMath, VectorRoutine, testing::ValuesIn(kCases),
                         [](const testing::TestParamInfo<Case>& param) {
                           return std::string(param.param.routine.name);
                         });

bool cpu_has_avx2_and_fma() {
#if defined(__x86_64__)
  __builtin_cpu_init();
  return __builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma");
#else
  return false;
#endif
}

// An argument where glibc's FMA and SSE2 builds round differently, both
// results, and the routine's choice.
struct Witness {
  double (*function)(double);
  std::uint64_t argument;
  std::uint64_t fma_result;
  std::uint64_t sse2_result;
  bool (*vectorised)();
};

// The vector exp and log repeat glibc's FMA build, so they run exactly when
// the process has that build; hypot has one build and always runs.
TEST(VectorSelfCheck, FollowsTheLibraryVariant) {
  const Witness witnesses[] = {
      {[](double v) { return std::exp(v); }, 0xbf92e485efbb8664, 0x3fef6a3e8ff8460f,
       0x3fef6a3e8ff84610, exp_vectorised},
      {[](double v) { return std::log(v); }, 0x3ff6d3acaf88ad08, 0x3fd6be0960c8c710,
       0x3fd6be0960c8c70f, log_vectorised},
  };
  for (const Witness& w : witnesses) {
    // Through volatile, so that the compiler cannot evaluate the call itself.
    const volatile double argument = from_bits(w.argument);
    const std::uint64_t result = to_bits(w.function(argument));
    ASSERT_TRUE(result == w.fma_result || result == w.sse2_result)
        << "unknown libm variant at " << hex(argument);
    EXPECT_EQ(w.vectorised(), cpu_has_avx2_and_fma() && result == w.fma_result) << hex(argument);
  }
  EXPECT_EQ(hypot_vectorised(), cpu_has_avx2_and_fma());
}

}  // namespace
}  // namespace tov::vmath
