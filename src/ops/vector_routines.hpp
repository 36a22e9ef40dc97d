// Four-lane AVX2 exp, log and hypot over arrays, the vector paths behind
// ops/vector_math.hpp. Each repeats the operation sequence of one glibc build
// of the scalar function; lanes off the routine's main path, and the last
// n % 4 elements, take the scalar call. x86-64 only, and only to be called on
// a CPU with AVX2 and FMA; whether a process uses them is the self-check's
// decision (ops/vector_self_check.hpp).
//
// The output may be the input array itself; other overlaps are not allowed.
#pragma once

#include <cstddef>

namespace tov::vmath {

#if defined(__x86_64__)

__attribute__((target("avx2,fma"))) void exp_avx2(const double* x, double* out, std::size_t n);
__attribute__((target("avx2,fma"))) void log_avx2(const double* x, double* out, std::size_t n);
// out[i] = hypot(x[i], y[i]).
__attribute__((target("avx2,fma"))) void hypot_avx2(const double* x, const double* y, double* out,
                                                    std::size_t n);

#endif

}  // namespace tov::vmath
