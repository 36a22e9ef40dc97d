// exp, log and hypot over arrays, four lanes at a time with AVX2, returning
// exactly the bits of this process's scalar std::exp, std::log and
// std::hypot.
//
// glibc picks its exp and log at load time (an FMA build on CPUs with AVX2
// and FMA, an SSE2 build otherwise); hypot has one build without fused
// operations. Each vector routine repeats the operation sequence of the one
// variant it was written against, fused multiply-adds included. On first use
// the process compares every vector routine with the live scalar call on a
// fixed input set (inputs that separate the two glibc variants, threshold and
// table-cell edges, subnormals, specials); a routine that disagrees once, or
// a CPU without AVX2 and FMA, leaves that routine as a plain scalar loop. The
// result of every call is therefore the scalar result, element by element.
//
// Lanes whose input leaves the routine's main path (specials, subnormals,
// arguments near overflow or underflow, tiny arguments) take the scalar call
// for that lane, as do the last n % 4 elements.
//
// The output may be the input array itself; other overlaps are not allowed.
#pragma once

#include <cstddef>

namespace tov::vmath {

void exp_n(const double* x, double* out, std::size_t n);
void log_n(const double* x, double* out, std::size_t n);
// out[i] = hypot(x[i], y[i]).
void hypot_n(const double* x, const double* y, double* out, std::size_t n);

// Whether the routine runs its vector path in this process (the CPU has AVX2
// and FMA, and the self-check passed). The first call of any function here
// runs the self-check once.
bool exp_vectorised();
bool log_vectorised();
bool hypot_vectorised();

// Turns the vector paths off (or on again) for the whole process, for tests
// and measurements: results are the same either way.
void use_vector_paths(bool enabled);

}  // namespace tov::vmath
