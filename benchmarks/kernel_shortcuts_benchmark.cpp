// Nanoseconds per element of apply_op_block for the unary operators that have
// column kernels, on real, purely imaginary and genuinely complex columns.
//
//   kernel_shortcuts_benchmark [OPERATOR...]
//
// Built with the other benchmarks (CMake option TOV_SR_BUILD_BENCHMARKS=ON;
// see docs/guide/benchmarks.md).
//
// Each figure is the fastest of several timed rounds, so a busy neighbouring
// core inflates it less.
#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string_view>
#include <vector>

#include "fit/block_eval.hpp"
#include "ops/registry.hpp"
#include "ops/vector_math.hpp"

namespace {

struct Kind {
  const char* name;
  // Parts uniform in [-scale, scale]; a zero scale gives +0.0. The wide
  // real column goes beyond the bounds of the real Sin and Cos kernels.
  double re_scale;
  double im_scale;
};

constexpr Kind kKinds[] = {
    {"real", 3.0, 0.0},
    {"real wide", 30.0, 0.0},
    {"imaginary", 0.0, 3.0},
    {"complex", 3.0, 3.0},
};

struct Op {
  const char* name;
  std::uint64_t id;
};

constexpr Op kOps[] = {
    {"Log", tov::op_id::kLog},
    {"Exp", tov::op_id::kExp},
    {"Sin", tov::op_id::kSin},
    {"Cos", tov::op_id::kCos},
    {"Tan", tov::op_id::kTan},
    {"ArcSin", tov::op_id::kArcSin},
    {"ArcTan", tov::op_id::kArcTan},
    // Without column kernels, for comparison.
    {"Sqrt", tov::op_id::kSqrt},
    {"Plus", tov::op_id::kPlus},
    {"Times", tov::op_id::kTimes},
    {"Square", tov::op_id::kSquare},
};

// A search's block: about a hundred samples.
constexpr std::size_t kSamples = 100;
constexpr std::size_t kCallsPerRound = 20000;
constexpr int kRounds = 7;

double checksum = 0.0;

double ns_per_element(const Op& op, const std::vector<tov::Complex>& values) {
  const std::vector<std::uint8_t> valid_in(values.size(), 1);
  std::vector<tov::Complex> out(values.size());
  std::vector<std::uint8_t> valid(values.size());
  const tov::Column a{values.data(), valid_in.data()};
  double best = 1e300;
  for (int round = 0; round < kRounds; ++round) {
    const auto start = std::chrono::steady_clock::now();
    for (std::size_t call = 0; call < kCallsPerRound; ++call) {
      tov::apply_op_block(op.id, a, a, out.data(), valid.data(), 0, values.size());
      checksum += out[call % values.size()].re;
    }
    const std::chrono::duration<double, std::nano> elapsed =
        std::chrono::steady_clock::now() - start;
    best = std::min(best, elapsed.count() / static_cast<double>(kCallsPerRound * values.size()));
  }
  return best;
}

}  // namespace

int main(int argc, char** argv) {
  // TOV_SCALAR_MATH=1 measures the scalar library calls instead of the
  // vector routines.
  if (const char* scalar = std::getenv("TOV_SCALAR_MATH"); scalar && *scalar == '1')
    tov::vmath::use_vector_paths(false);
  // The same columns for every operator.
  std::mt19937_64 rng(11);
  std::uniform_real_distribution<double> unit(-1.0, 1.0);
  const auto part = [&](double scale) { return scale == 0.0 ? 0.0 : scale * unit(rng); };
  std::vector<std::vector<tov::Complex>> columns;
  for (const Kind& kind : kKinds) {
    std::vector<tov::Complex>& values = columns.emplace_back(kSamples);
    for (tov::Complex& v : values) v = {part(kind.re_scale), part(kind.im_scale)};
  }

  std::printf("%-8s", "ns/elem");
  for (const Kind& kind : kKinds) std::printf(" %10s", kind.name);
  std::printf("\n");
  for (const Op& op : kOps) {
    bool chosen = argc == 1;
    for (int i = 1; i < argc; ++i) chosen = chosen || std::string_view(argv[i]) == op.name;
    if (!chosen) continue;
    std::printf("%-8s", op.name);
    for (const std::vector<tov::Complex>& values : columns) {
      std::printf(" %10.2f", ns_per_element(op, values));
      std::fflush(stdout);
    }
    std::printf("\n");
  }
  std::fprintf(stderr, "checksum %g\n", checksum);
  return 0;
}
