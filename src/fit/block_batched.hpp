// Block evaluation of the operators whose cost is mostly exp, log and hypot
// (Exp, Log, TOV, ArcSin, ArcCos): a chunk of samples at a time, the
// arguments of those calls gathered first and passed to the vector routines
// of ops/vector_math.hpp, which return the library's bits, and the rest of
// each kernel finished sample by sample. Every value is the one the builtin
// kernel computes: the same formula with the same library results, only
// called for several samples at once.
//
// Magnitudes come from hypot except in real chunks: magnitude(x, +-0) ==
// |x| == hypot(x, +-0) (Annex F), so the two agree wherever both apply.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <optional>

#include "fit/column.hpp"
#include "numeric/complex.hpp"
#include "ops/kernels.hpp"
#include "ops/vector_math.hpp"

namespace tov::block_detail {

// Samples per chunk: the gathered arguments live on the stack.
inline constexpr std::size_t kChunk = 64;

// |z| of the chunk's valid samples (1.0 elsewhere, to keep the vector lanes
// on their main path): |x| when every valid sample is real, |y| when every
// one is purely imaginary, hypot otherwise (hypot(+-0, y) == |y| too).
inline void chunk_magnitudes(Column z, std::size_t begin, std::size_t n, double* m) {
  bool real = true;
  bool imaginary = true;
  for (std::size_t j = 0; j < n; ++j) {
    const Complex v = z.values[begin + j];
    const bool ok = z.valid[begin + j] != 0;
    real = real && (!ok || v.im == 0.0);
    imaginary = imaginary && (!ok || v.re == 0.0);
    m[j] = ok ? std::fabs(v.re) : 1.0;
  }
  if (real) return;
  if (imaginary) {
    for (std::size_t j = 0; j < n; ++j)
      if (z.valid[begin + j]) m[j] = std::fabs(z.values[begin + j].im);
    return;
  }
  double x[kChunk] = {};
  double y[kChunk] = {};
  for (std::size_t j = 0; j < n; ++j) {
    const bool ok = z.valid[begin + j] != 0;
    x[j] = ok ? z.values[begin + j].re : 1.0;
    y[j] = ok ? z.values[begin + j].im : 0.0;
  }
  vmath::hypot_n(x, y, m, n);
}

// exp of the chunk's finite, nonzero real parts (1.0 elsewhere: exp(+-0) ==
// 1 (Annex F), and complex_exp handles non-finite parts itself). A chunk
// without such parts calls nothing.
inline void chunk_exponentials(Column z, std::size_t begin, std::size_t n, double* r) {
  bool any = false;
  for (std::size_t j = 0; j < n; ++j) {
    const double re = z.values[begin + j].re;
    const bool use = z.valid[begin + j] && std::isfinite(re) && re != 0.0;
    r[j] = use ? re : 0.0;
    any = any || use;
  }
  if (any) {
    vmath::exp_n(r, r, n);
  } else {
    for (std::size_t j = 0; j < n; ++j) r[j] = 1.0;
  }
}

// complex_exp(x, y) given r == exp(x) for finite x.
inline Complex exp_with(double x, double y, double r) {
  return std::isfinite(x) ? kernels::polar(r, y) : kernels::complex_exp(x, y);
}

// ln(u) from l == log|u|: the logarithm's argument as complex_log and
// imaginary_log take it (atan2(y, +-0) == +-pi/2 for y not zero or NaN).
inline std::optional<Complex> log_with(double x, double y, double l) {
  if (kernels::zero_magnitude(x, y)) return std::nullopt;
  if (x == 0.0 && y != 0.0 && !std::isnan(y)) return Complex{l, std::copysign(kernels::kHalfPi, y)};
  return Complex{l, kernels::argument(y, x)};
}

template <class Accept>
void for_chunks(std::size_t begin, std::size_t end, Accept&& chunk) {
  for (std::size_t c = begin; c < end; c += kChunk) chunk(c, std::min(kChunk, end - c));
}

// `finish(i, j)` writes sample i (j-th of its chunk) into out and valid.
template <class Out>
void finish_chunk(std::size_t c, std::size_t n, const std::uint8_t* a_valid,
                  const std::uint8_t* b_valid, std::uint8_t* valid, Out&& finish) {
  for (std::size_t j = 0; j < n; ++j) {
    const std::size_t i = c + j;
    if (!(a_valid[i] && (b_valid == nullptr || b_valid[i]))) {
      valid[i] = 0;
      continue;
    }
    finish(i, j);
  }
}

}  // namespace tov::block_detail
