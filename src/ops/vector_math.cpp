// The array entry points: the vector routine where the self-check passed and
// the vector paths are on, the scalar loop otherwise.
#include "ops/vector_math.hpp"

#include <atomic>
#include <cmath>

#include "ops/vector_routines.hpp"
#include "ops/vector_self_check.hpp"

namespace tov::vmath {
namespace {

const VectorRoutines& routines() {
  static const VectorRoutines checked = check_vector_routines();
  return checked;
}

std::atomic<bool> vector_paths{true};

}  // namespace

void use_vector_paths(bool enabled) { vector_paths.store(enabled, std::memory_order_relaxed); }

void exp_n(const double* x, double* out, std::size_t n) {
#if defined(__x86_64__)
  if (routines().exp && vector_paths.load(std::memory_order_relaxed)) return exp_avx2(x, out, n);
#endif
  for (std::size_t i = 0; i < n; ++i) out[i] = std::exp(x[i]);
}

void log_n(const double* x, double* out, std::size_t n) {
#if defined(__x86_64__)
  if (routines().log && vector_paths.load(std::memory_order_relaxed)) return log_avx2(x, out, n);
#endif
  for (std::size_t i = 0; i < n; ++i) out[i] = std::log(x[i]);
}

void hypot_n(const double* x, const double* y, double* out, std::size_t n) {
#if defined(__x86_64__)
  if (routines().hypot && vector_paths.load(std::memory_order_relaxed))
    return hypot_avx2(x, y, out, n);
#endif
  for (std::size_t i = 0; i < n; ++i) out[i] = std::hypot(x[i], y[i]);
}

bool exp_vectorised() { return routines().exp; }
bool log_vectorised() { return routines().log; }
bool hypot_vectorised() { return routines().hypot; }

}  // namespace tov::vmath
