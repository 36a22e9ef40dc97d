// The AVX2 exp, log and hypot.
//
// exp and log follow the table-driven algorithms of Arm's optimized-routines,
// the source of glibc's exp and log (their constants and tables are in
// ops/vector_tables.hpp). Which multiply-adds are fused is that of glibc's FMA
// build, settled by comparison with the live library.
//
// hypot follows Carlos F. Borges, "An Improved Algorithm for hypot(a,b)"
// (arXiv:1904.09481): the square root of the sum of squares, then one
// correction step, all without fused operations as in glibc's generic hypot.
//
// The file is compiled with -ffp-contract=off: every fused operation is an FMA
// intrinsic and every other operation rounds on its own.
#include "ops/vector_routines.hpp"

#if defined(__x86_64__)

#include <immintrin.h>

#include <cmath>
#include <cstdint>
#include <limits>

#include "ops/vector_tables.hpp"

namespace tov::vmath {
namespace {

#define TOV_AVX2 __attribute__((target("avx2,fma")))

__m256d TOV_AVX2 broadcast(double v) { return _mm256_set1_pd(v); }

__m256d TOV_AVX2 in_range(__m256d x, double low, double high) {
  return _mm256_and_pd(_mm256_cmp_pd(x, broadcast(low), _CMP_GE_OQ),
                       _mm256_cmp_pd(x, broadcast(high), _CMP_LE_OQ));
}

// first[i], second[i] = table[2 cell[i]], table[2 cell[i] + 1]. Four 16-byte
// loads and two shuffles are faster than two gathers on many CPUs.
void TOV_AVX2 load_pairs(const double* table, __m256i cell, __m256d& first, __m256d& second) {
  const __m128d p0 = _mm_load_pd(table + 2 * _mm256_extract_epi64(cell, 0));
  const __m128d p1 = _mm_load_pd(table + 2 * _mm256_extract_epi64(cell, 1));
  const __m128d p2 = _mm_load_pd(table + 2 * _mm256_extract_epi64(cell, 2));
  const __m128d p3 = _mm_load_pd(table + 2 * _mm256_extract_epi64(cell, 3));
  const __m256d even = _mm256_set_m128d(p2, p0);
  const __m256d odd = _mm256_set_m128d(p3, p1);
  first = _mm256_unpacklo_pd(even, odd);
  second = _mm256_unpackhi_pd(even, odd);
}

struct ExpRoutine {
  static double scalar(double x) { return std::exp(x); }

  // Bit i of on_path is set when lane i is on glibc's main path, 2^-54 <=
  // |x| < 512; the other lanes of the result are meaningless.
  static __m256d TOV_AVX2 lanes(__m256d x, int& on_path) {
    const __m256d abs_x = _mm256_andnot_pd(broadcast(-0.0), x);
    on_path = _mm256_movemask_pd(_mm256_and_pd(_mm256_cmp_pd(abs_x, broadcast(0x1p-54), _CMP_GE_OQ),
                                               _mm256_cmp_pd(abs_x, broadcast(512.0), _CMP_LT_OQ)));
    // Adding the shift rounds x 128/ln2 to the integer k, left in the low bits.
    __m256d kd = _mm256_fmadd_pd(x, broadcast(kExpInvLn2N), broadcast(kExpShift));
    const __m256i ki = _mm256_castpd_si256(kd);
    kd = _mm256_sub_pd(kd, broadcast(kExpShift));
    const __m256d r = _mm256_fmadd_pd(kd, broadcast(kExpNegLn2LoN),
                                      _mm256_fmadd_pd(kd, broadcast(kExpNegLn2HiN), x));
    const __m256i cell = _mm256_and_si256(ki, _mm256_set1_epi64x(127));
    __m256d tail;
    __m256d head;
    load_pairs(reinterpret_cast<const double*>(kExpTable), cell, tail, head);
    const __m256d scale =
        _mm256_castsi256_pd(_mm256_add_epi64(_mm256_castpd_si256(head), _mm256_slli_epi64(ki, 45)));
    const __m256d r2 = _mm256_mul_pd(r, r);
    const __m256d low = _mm256_fmadd_pd(
        r2, _mm256_fmadd_pd(r, broadcast(kExpC3), broadcast(kExpC2)), _mm256_add_pd(tail, r));
    const __m256d tmp = _mm256_fmadd_pd(
        _mm256_mul_pd(r2, r2), _mm256_fmadd_pd(r, broadcast(kExpC5), broadcast(kExpC4)), low);
    return _mm256_fmadd_pd(scale, tmp, scale);
  }
};

struct LogRoutine {
  static double scalar(double x) { return std::log(x); }

  // B[i] + r B[i+1] + r^2 B[i+2].
  static __m256d TOV_AVX2 terms(__m256d r, __m256d r2, int i) {
    return _mm256_fmadd_pd(r2, broadcast(kLogB[i + 2]),
                           _mm256_fmadd_pd(r, broadcast(kLogB[i + 1]), broadcast(kLogB[i])));
  }

  // log for x in [kLogNearLow, kLogNearHigh), where glibc does not use the
  // table.
  static __m256d TOV_AVX2 near_one(__m256d x) {
    const __m256d r = _mm256_sub_pd(x, broadcast(1.0));
    const __m256d r2 = _mm256_mul_pd(r, r);
    const __m256d r3 = _mm256_mul_pd(r, r2);
    const __m256d p7 = _mm256_fmadd_pd(r3, broadcast(kLogB[10]), terms(r, r2, 7));
    const __m256d p4 = _mm256_fmadd_pd(r3, p7, terms(r, r2, 4));
    const __m256d p1 = _mm256_fmadd_pd(r3, p4, terms(r, r2, 1));
    // r + B0 r^2 in two parts: r is split so that the square of its high
    // part loses nothing.
    const __m256d w = _mm256_mul_pd(r, broadcast(0x1p27));
    const __m256d r_hi = _mm256_sub_pd(_mm256_add_pd(r, w), w);
    const __m256d r_lo = _mm256_sub_pd(r, r_hi);
    const __m256d square = _mm256_mul_pd(r_hi, r_hi);
    const __m256d hi = _mm256_fmadd_pd(square, broadcast(kLogB[0]), r);
    __m256d lo = _mm256_fmadd_pd(square, broadcast(kLogB[0]), _mm256_sub_pd(r, hi));
    lo = _mm256_fmadd_pd(_mm256_mul_pd(broadcast(kLogB[0]), r_lo), _mm256_add_pd(r_hi, r), lo);
    return _mm256_add_pd(_mm256_fmadd_pd(r3, p1, lo), hi);
  }

  // Bit i of on_path is set when lane i is a positive normal number (glibc
  // takes 0, negatives, subnormals, inf and NaN aside).
  static __m256d TOV_AVX2 lanes(__m256d x, int& on_path) {
    on_path = _mm256_movemask_pd(
        in_range(x, std::numeric_limits<double>::min(), std::numeric_limits<double>::max()));
    const __m256i ix = _mm256_castpd_si256(x);
    const __m256i tmp = _mm256_sub_epi64(ix, _mm256_set1_epi64x(kLogOff));
    const __m256i cell = _mm256_and_si256(_mm256_srli_epi64(tmp, 45), _mm256_set1_epi64x(127));
    // k is the top 12 bits of tmp, signed; k + 2048 placed in the low bits of
    // 2^52 converts it exactly (AVX2 has no 64-bit arithmetic shift).
    const __m256i k_biased =
        _mm256_xor_si256(_mm256_srli_epi64(tmp, 52), _mm256_set1_epi64x(0x800));
    const __m256d kd = _mm256_sub_pd(
        _mm256_castsi256_pd(_mm256_or_si256(k_biased, _mm256_set1_epi64x(0x4330000000000000))),
        broadcast(0x1p52 + 2048.0));
    const __m256d z = _mm256_castsi256_pd(_mm256_sub_epi64(
        ix, _mm256_and_si256(tmp, _mm256_set1_epi64x(static_cast<long long>(0xfffULL << 52)))));
    __m256d inv_c;
    __m256d log_c;
    load_pairs(kLogTable, cell, inv_c, log_c);

    const __m256d r = _mm256_fmadd_pd(z, inv_c, broadcast(-1.0));
    const __m256d w = _mm256_fmadd_pd(kd, broadcast(kLogLn2Hi), log_c);
    const __m256d hi = _mm256_add_pd(w, r);
    const __m256d lo =
        _mm256_fmadd_pd(kd, broadcast(kLogLn2Lo), _mm256_add_pd(_mm256_sub_pd(w, hi), r));
    const __m256d r2 = _mm256_mul_pd(r, r);
    const __m256d inner =
        _mm256_fmadd_pd(r2, _mm256_fmadd_pd(r, broadcast(kLogA4), broadcast(kLogA3)),
                        _mm256_fmadd_pd(r, broadcast(kLogA2), broadcast(kLogA1)));
    const __m256d sum =
        _mm256_fmadd_pd(_mm256_mul_pd(r, r2), inner, _mm256_fmadd_pd(r2, broadcast(kLogA0), lo));
    const __m256d y = _mm256_add_pd(sum, hi);

    const __m256d near = _mm256_and_pd(_mm256_cmp_pd(x, broadcast(kLogNearLow), _CMP_GE_OQ),
                                       _mm256_cmp_pd(x, broadcast(kLogNearHigh), _CMP_LT_OQ));
    if (_mm256_movemask_pd(near) == 0) return y;
    return _mm256_blendv_pd(y, near_one(x), near);
  }
};

// Bit i of on_path is set when both arguments of lane i have magnitudes in
// [2^-450, 2^511]. There no product below overflows or is subnormal, so the
// result is the one glibc computes whether or not it scales the arguments
// (it does for tiny or huge ones), and inf, NaN and 0 are left out.
__m256d TOV_AVX2 hypot_lanes(__m256d x, __m256d y, int& on_path) {
  const __m256d abs_x = _mm256_andnot_pd(broadcast(-0.0), x);
  const __m256d abs_y = _mm256_andnot_pd(broadcast(-0.0), y);
  on_path = _mm256_movemask_pd(
      _mm256_and_pd(in_range(abs_x, 0x1p-450, 0x1p511), in_range(abs_y, 0x1p-450, 0x1p511)));
  const __m256d ax = _mm256_max_pd(abs_x, abs_y);
  const __m256d ay = _mm256_min_pd(abs_x, abs_y);
  const __m256d two = broadcast(2.0);
  const __m256d h = _mm256_sqrt_pd(_mm256_add_pd(_mm256_mul_pd(ax, ax), _mm256_mul_pd(ay, ay)));

  // The correction (h^2 - ax^2 - ay^2) / 2h, its numerator arranged to cancel
  // exactly, in two forms depending on whether h <= 2 ay.
  const __m256d close = _mm256_cmp_pd(h, _mm256_mul_pd(two, ay), _CMP_LE_OQ);
  const __m256d d_close = _mm256_sub_pd(h, ay);
  const __m256d t1_close = _mm256_mul_pd(ax, _mm256_sub_pd(_mm256_mul_pd(two, d_close), ax));
  const __m256d t2_close =
      _mm256_mul_pd(_mm256_sub_pd(d_close, _mm256_mul_pd(two, _mm256_sub_pd(ax, ay))), d_close);
  const __m256d d_far = _mm256_sub_pd(h, ax);
  const __m256d t1_far =
      _mm256_mul_pd(_mm256_mul_pd(two, d_far), _mm256_sub_pd(ax, _mm256_mul_pd(two, ay)));
  const __m256d t2_far =
      _mm256_add_pd(_mm256_mul_pd(_mm256_sub_pd(_mm256_mul_pd(broadcast(4.0), d_far), ay), ay),
                    _mm256_mul_pd(d_far, d_far));
  const __m256d t = _mm256_add_pd(_mm256_blendv_pd(t1_far, t1_close, close),
                                  _mm256_blendv_pd(t2_far, t2_close, close));
  const __m256d corrected = _mm256_sub_pd(h, _mm256_div_pd(t, _mm256_mul_pd(two, h)));

  // An argument below 2^-54 of the other only rounds it: glibc returns the sum.
  const __m256d negligible = _mm256_cmp_pd(ay, _mm256_mul_pd(ax, broadcast(0x1p-54)), _CMP_LE_OQ);
  return _mm256_blendv_pd(corrected, _mm256_add_pd(ax, ay), negligible);
}

template <typename Routine>
void TOV_AVX2 unary_avx2(const double* x, double* out, std::size_t n) {
  std::size_t i = 0;
  for (; i + 4 <= n; i += 4) {
    const __m256d args = _mm256_loadu_pd(x + i);
    int on_path = 0;
    const __m256d results = Routine::lanes(args, on_path);
    if (on_path == 0xF) {
      _mm256_storeu_pd(out + i, results);
      continue;
    }
    // Copies first: out may be x.
    alignas(32) double arg[4];
    alignas(32) double result[4];
    _mm256_store_pd(arg, args);
    _mm256_store_pd(result, results);
    for (std::size_t j = 0; j < 4; ++j) {
      out[i + j] = (on_path >> j & 1) != 0 ? result[j] : Routine::scalar(arg[j]);
    }
  }
  for (; i < n; ++i) out[i] = Routine::scalar(x[i]);
}

}  // namespace

void TOV_AVX2 exp_avx2(const double* x, double* out, std::size_t n) {
  unary_avx2<ExpRoutine>(x, out, n);
}

void TOV_AVX2 log_avx2(const double* x, double* out, std::size_t n) {
  unary_avx2<LogRoutine>(x, out, n);
}

void TOV_AVX2 hypot_avx2(const double* x, const double* y, double* out, std::size_t n) {
  std::size_t i = 0;
  for (; i + 4 <= n; i += 4) {
    const __m256d xs = _mm256_loadu_pd(x + i);
    const __m256d ys = _mm256_loadu_pd(y + i);
    int on_path = 0;
    const __m256d results = hypot_lanes(xs, ys, on_path);
    if (on_path == 0xF) {
      _mm256_storeu_pd(out + i, results);
      continue;
    }
    alignas(32) double x_arg[4];
    alignas(32) double y_arg[4];
    alignas(32) double result[4];
    _mm256_store_pd(x_arg, xs);
    _mm256_store_pd(y_arg, ys);
    _mm256_store_pd(result, results);
    for (std::size_t j = 0; j < 4; ++j) {
      out[i + j] = (on_path >> j & 1) != 0 ? result[j] : std::hypot(x_arg[j], y_arg[j]);
    }
  }
  for (; i < n; ++i) out[i] = std::hypot(x[i], y[i]);
}

#undef TOV_AVX2

}  // namespace tov::vmath

#endif
