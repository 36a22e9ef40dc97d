// Time per element of exp, log and hypot over arrays: the scalar library call
// in a loop against the array interfaces of ops/vector_math.hpp, on arguments
// of the kind a search evaluates (all on the vector main path).
//
//   vector_math_benchmark [ELEMENTS] [REPEATS]
//
// Prints the math signature, then one line per routine. Each figure is the
// best of REPEATS passes over ELEMENTS elements.
//
// Built with the other benchmarks (CMake option TOV_SR_BUILD_BENCHMARKS=ON;
// see docs/guide/benchmarks.md).
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <random>
#include <vector>

#include "ops/math_signature.hpp"
#include "ops/vector_math.hpp"

namespace {

// Nanoseconds per element of the fastest of `repeats` runs of `pass`.
double best_ns_per_element(const std::function<void()>& pass, std::size_t elements, int repeats) {
  double best = 1e300;
  for (int r = 0; r < repeats; ++r) {
    const auto start = std::chrono::steady_clock::now();
    pass();
    const auto stop = std::chrono::steady_clock::now();
    best = std::min(best, std::chrono::duration<double, std::nano>(stop - start).count());
  }
  return best / static_cast<double>(elements);
}

struct Timing {
  double scalar_ns;
  double vector_ns;
};

void report(const char* name, Timing t, bool vectorised, double checksum) {
  std::printf("%-6s %10.2f %10.2f %8.2fx   %-4s (checksum %.6g)\n", name, t.scalar_ns, t.vector_ns,
              t.scalar_ns / t.vector_ns, vectorised ? "yes" : "no", checksum);
}

double sum(const std::vector<double>& values) {
  double total = 0.0;
  for (const double v : values) total += v;
  return total;
}

}  // namespace

int main(int argc, char** argv) {
  const std::size_t elements = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 4096;
  const int repeats = argc > 2 ? std::atoi(argv[2]) : 2000;

  std::mt19937_64 engine(42);
  std::uniform_real_distribution<double> wide(-20.0, 20.0);
  std::uniform_real_distribution<double> positive(1e-3, 100.0);
  std::vector<double> x(elements);
  std::vector<double> y(elements);
  std::vector<double> p(elements);
  std::vector<double> out(elements);
  for (std::size_t i = 0; i < elements; ++i) {
    x[i] = wide(engine);
    y[i] = wide(engine);
    p[i] = positive(engine);
  }

  std::printf("%s\n", tov::vmath::math_signature().c_str());
  std::printf("%zu elements, best of %d passes, ns per element\n", elements, repeats);
  std::printf("%-6s %10s %10s %9s   %s\n", "", "scalar", "vector", "speed-up", "vector path");

  const auto scalar_exp = [&] {
    for (std::size_t i = 0; i < elements; ++i) out[i] = std::exp(x[i]);
  };
  const auto scalar_log = [&] {
    for (std::size_t i = 0; i < elements; ++i) out[i] = std::log(p[i]);
  };
  const auto scalar_hypot = [&] {
    for (std::size_t i = 0; i < elements; ++i) out[i] = std::hypot(x[i], y[i]);
  };

  Timing t{best_ns_per_element(scalar_exp, elements, repeats),
           best_ns_per_element([&] { tov::vmath::exp_n(x.data(), out.data(), elements); }, elements,
                               repeats)};
  report("exp", t, tov::vmath::exp_vectorised(), sum(out));

  t = {best_ns_per_element(scalar_log, elements, repeats),
       best_ns_per_element([&] { tov::vmath::log_n(p.data(), out.data(), elements); }, elements,
                           repeats)};
  report("log", t, tov::vmath::log_vectorised(), sum(out));

  t = {best_ns_per_element(scalar_hypot, elements, repeats),
       best_ns_per_element([&] { tov::vmath::hypot_n(x.data(), y.data(), out.data(), elements); },
                           elements, repeats)};
  report("hypot", t, tov::vmath::hypot_vectorised(), sum(out));
  return 0;
}
