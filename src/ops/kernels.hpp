// The exact complex arithmetic of the builtin operators.
//
// Every builtin's eval() calls these functions, and so may any faster
// evaluator: both then produce the same bits by construction. Each formula is
// written in the order it must be evaluated, one rounding per operation.
// Terms such as y * 0.0 are deliberate: they fix the sign of zero results
// (which matters at the branch cuts of atan2) and propagate NaN and infinity.
// This file must be compiled without floating-point contraction
// (-ffp-contract=off) and without value-changing optimisations.
#pragma once

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <optional>
#include <stdexcept>

#include "numeric/complex.hpp"
#include "ops/registry.hpp"

namespace tov::kernels {

// kHalfPi and kPi are the largest doubles below pi/2 and pi (the nearest to
// them); so are the two below for 3pi/2 and 2pi.
inline constexpr double kHalfPi = 1.5707963267948966;
inline constexpr double kPi = 3.141592653589793;
inline constexpr double kBelowThreeHalvesPi = 0x1.2d97c7f3321d2p+2;
inline constexpr double kBelowTwoPi = 0x1.921fb54442d18p+2;
inline constexpr double kInf = std::numeric_limits<double>::infinity();

// Exact shortcuts around libm. Most values in a search are real (imaginary
// part zero), and for those several library results are fixed by the C
// standard's special cases (Annex F), so the call can be skipped without
// changing a bit:
//   hypot(x, y) == 0 exactly when x and y are both zero (hypot never
//     underflows a nonzero argument to zero);
//   hypot(x, +-0) == |x|, and hypot(x, -y) == hypot(x, y);
//   atan2(+-0, x) == +-0 for x > 0 and +-pi for x < 0;
//   cos(+-0) == cosh(+-0) == 1, sin(+-0) == +-0, sinh(+-0) == +-0.
//
// Column kernels go one step further. The block evaluator checks once that
// every value of an argument column is real (imaginary part +-0, real part
// within a bound the kernel names), or purely imaginary (real part +-0), and
// then runs a kernel written for that case (eval_*_real, eval_*_imaginary;
// see ColumnKernels). Each is the builtin's formula with some library results
// replaced by values that are provably the same, or by stand-ins that give
// the same product, so it returns the builtin kernel's bits on such
// arguments. Per-sample checks would slow complex arguments.

inline bool zero_magnitude(double x, double y) { return x == 0.0 && y == 0.0; }

inline double magnitude(double x, double y) { return y == 0.0 ? std::fabs(x) : std::hypot(x, y); }

inline double argument(double y, double x) {
  if (y == 0.0 && x > 0.0) return y;
  if (y == 0.0 && x < 0.0) return std::copysign(kPi, y);
  return std::atan2(y, x);
}

inline double cos_of(double y) { return y == 0.0 ? 1.0 : std::cos(y); }
inline double sin_of(double y) { return y == 0.0 ? y : std::sin(y); }
inline double cosh_of(double y) { return y == 0.0 ? 1.0 : std::cosh(y); }
inline double sinh_of(double y) { return y == 0.0 ? y : std::sinh(y); }

// r * (cos(y) + i sin(y)). One sincos call gives both: glibc's sincos
// returns the bits of its sin and cos (pinned by tests), and the compiler
// merges the pair into it anyway where it can see both.
inline Complex polar(double r, double y) {
  if (y == 0.0) return {r * 1.0, r * y};
  double s;
  double c;
  ::sincos(y, &s, &c);
  return {r * c, r * s};
}

// exp(x + iy), with the special cases that keep infinite real parts exact.
// They all have a real part that is not finite, so one test keeps them off
// the common path.
inline Complex complex_exp(double x, double y) {
  if (!std::isfinite(x)) {
    if (x == kInf && (y == 0.0 || !std::isfinite(y))) {
      return {x, std::isinf(y) ? std::numeric_limits<double>::quiet_NaN() : y};
    }
    if (x == -kInf && !std::isfinite(y)) {
      return {0.0, 0.0};
    }
    if (std::isnan(x) && y == 0.0) {
      return {x, y};
    }
  }
  return polar(std::exp(x), y);
}

// Principal square root of x + iy; the sign bit of y picks the side of the
// cut along the negative real axis.
inline Complex complex_sqrt(double x, double y) {
  if (y == 0.0) {
    if (!std::signbit(x)) {
      return {std::sqrt(x), y};
    }
    const double t = std::sqrt(-x);
    return {0.0, std::signbit(y) ? -t : t};
  }
  if (x == 0.0) {
    const double t = std::sqrt(std::fabs(y) * 0.5);
    return {t, std::signbit(y) ? -t : t};
  }
  const double r = std::hypot(x, y);
  const double theta = std::atan2(y, x);
  return {std::sqrt(r) * std::cos(theta * 0.5), std::sqrt(r) * std::sin(theta * 0.5)};
}

// Principal logarithm of x + iy; no value at zero magnitude.
inline std::optional<Complex> complex_log(double x, double y) {
  if (zero_magnitude(x, y)) {
    return std::nullopt;
  }
  return Complex{std::log(magnitude(x, y)), argument(y, x)};
}

// The logarithm of +-0 + iy: hypot(+-0, y) == |y| and atan2(y, +-0) == +-pi/2
// with y's sign, for every y but zero and NaN (Annex F; infinite y too).
inline std::optional<Complex> imaginary_log(double x, double y) {
  if (y == 0.0 || std::isnan(y)) {
    return complex_log(x, y);
  }
  return Complex{std::log(std::fabs(y)), std::copysign(kHalfPi, y)};
}

// (p + iq) / (c + id) without rescaling; no value at zero divisor magnitude.
inline std::optional<Complex> complex_quotient(double p, double q, double c, double d) {
  if (zero_magnitude(c, d)) {
    return std::nullopt;
  }
  const double n = c * c + d * d;
  return Complex{(p * c + q * d) / n, (q * c - p * d) / n};
}

// exp(a) - ln(b).
inline std::optional<Complex> eval_tov(Complex a, Complex b) {
  const Complex e = complex_exp(a.re, a.im);
  if (zero_magnitude(b.re, b.im)) {
    return std::nullopt;
  }
  return Complex{e.re - std::log(magnitude(b.re, b.im)), e.im - argument(b.im, b.re)};
}

inline Complex eval_neg(Complex z) { return {-z.re, -z.im}; }

inline std::optional<Complex> eval_inv(Complex z) {
  const double x = z.re;
  const double y = z.im;
  if (zero_magnitude(x, y)) {
    return std::nullopt;
  }
  const double n = x * x + y * y;
  return Complex{(x + y * 0.0) / n, (x * 0.0 - y) / n};
}

inline Complex eval_plus(Complex a, Complex b) { return {a.re + b.re, a.im + b.im}; }

inline Complex eval_times(Complex a, Complex b) {
  return {a.re * b.re - a.im * b.im, a.im * b.re + a.re * b.im};
}

inline Complex eval_subtract(Complex a, Complex b) { return {a.re - b.re, a.im - b.im}; }

inline std::optional<Complex> eval_divide(Complex a, Complex b) {
  return complex_quotient(a.re, a.im, b.re, b.im);
}

inline Complex eval_exp(Complex z) { return complex_exp(z.re, z.im); }

// A real part of +-0 takes none of complex_exp's special cases, and
// exp(+-0) == 1 (Annex F).
inline Complex eval_exp_imaginary(Complex z) { return polar(1.0, z.im); }

inline std::optional<Complex> eval_log(Complex z) { return complex_log(z.re, z.im); }

inline std::optional<Complex> eval_log_imaginary(Complex z) { return imaginary_log(z.re, z.im); }

inline Complex eval_sqrt(Complex z) { return complex_sqrt(z.re, z.im); }

// The four real functions that sin(x + iy) and cos(x + iy) are made of.
struct TrigParts {
  double sin_x;
  double cos_x;
  double cosh_y;
  double sinh_y;
};

inline TrigParts trig_parts(Complex z) {
  return {std::sin(z.re), std::cos(z.re), cosh_of(z.im), sinh_of(z.im)};
}

// For x == +-0: sin(+-0) == +-0 and cos(+-0) == 1 (Annex F).
inline TrigParts imaginary_trig_parts(Complex z) {
  return {z.re, 1.0, cosh_of(z.im), sinh_of(z.im)};
}

inline Complex sin_from(const TrigParts& t) { return {t.sin_x * t.cosh_y, t.cos_x * t.sinh_y}; }

inline Complex cos_from(const TrigParts& t) { return {t.cos_x * t.cosh_y, -(t.sin_x * t.sinh_y)}; }

// sin(z) / cos(z); no value where cos(z) is exactly zero.
inline std::optional<Complex> tan_from(const TrigParts& t) {
  const Complex c = cos_from(t);
  if (zero_magnitude(c.re, c.im)) {
    return std::nullopt;
  }
  const Complex s = sin_from(t);
  const double n = c.re * c.re + c.im * c.im;
  return Complex{(c.re * s.re + c.im * s.im) / n, (c.re * s.im - c.im * s.re) / n};
}

inline Complex eval_sin(Complex z) { return sin_from(trig_parts(z)); }

// For real z with |x| <= kBelowThreeHalvesPi (cosh_of and sinh_of of a zero y
// are 1 and y). sin_from's imaginary part cos(x) * (+-0) is then a zero
// signed by the product of the signs, since cos(x) is finite and nonzero:
// only its sign matters, so +-1 stands in for it. cos(x) is positive before
// pi/2 and negative from there to 3pi/2; the doubles closest to those are
// 6e-17 and 1.8e-16 away, so |cos(x)| is far above the library's error and
// the library's cos(x) has that sign too (pinned by tests). GCC fuses the
// builtin kernel's sin(x) and cos(x) into one sincos call, whose results
// glibc's sin and cos give alone (pinned by the same tests).
inline Complex eval_sin_real(Complex z) {
  const double cos_sign = std::fabs(z.re) <= kHalfPi ? 1.0 : -1.0;
  return sin_from({std::sin(z.re), cos_sign, 1.0, z.im});
}

inline Complex eval_sin_imaginary(Complex z) { return sin_from(imaginary_trig_parts(z)); }

inline Complex eval_cos(Complex z) { return cos_from(trig_parts(z)); }

// For real z with |x| <= kBelowTwoPi. cos_from's imaginary part is
// -(sin(x) * (+-0)), so only sin(x)'s sign matters, as in eval_sin_real: x's
// sign below pi and the other from there to 2pi, where the closest doubles
// are 1.2e-16 and 2.4e-16 away; the library's sin(x) of a subnormal x is x
// (pinned by tests). sin(+-0) == +-0 (Annex F) gives the zero product the
// sign the stand-in gives it.
inline Complex eval_cos_real(Complex z) {
  const double x = z.re;
  const double sin_sign = std::copysign(1.0, std::fabs(x) <= kPi ? x : -x);
  return cos_from({sin_sign, std::cos(x), 1.0, z.im});
}

inline Complex eval_cos_imaginary(Complex z) { return cos_from(imaginary_trig_parts(z)); }

// Each library function is called once and serves both sin(z) and cos(z).
inline std::optional<Complex> eval_tan(Complex z) { return tan_from(trig_parts(z)); }

inline std::optional<Complex> eval_tan_imaginary(Complex z) {
  return tan_from(imaginary_trig_parts(z));
}

// i*z + sqrt(1 - z^2), whose logarithm ArcSin and ArcCos share.
inline Complex arcsin_log_argument(Complex z) {
  const double x = z.re;
  const double y = z.im;
  const Complex s = complex_sqrt((y * y - x * x) + 1.0, 0.0 - (x * y + x * y));
  return {(x * 0.0 - y) + s.re, (x + y * 0.0) + s.im};
}

// ln(i*z + sqrt(1 - z^2)); no value where the logarithm's argument is zero.
inline std::optional<Complex> arcsin_log(Complex z) {
  const Complex u = arcsin_log_argument(z);
  return complex_log(u.re, u.im);
}

// For real z outside [-1, 1], the square root is purely imaginary, and so is
// the logarithm's argument, whose logarithm imaginary_log then gives. This
// test is per sample, but only real columns take it.
inline std::optional<Complex> real_arcsin_log(Complex z) {
  const Complex u = arcsin_log_argument(z);
  return u.re == 0.0 ? imaginary_log(u.re, u.im) : complex_log(u.re, u.im);
}

// -i * ln_u, from ln_u = ln(i*z + sqrt(1 - z^2)).
inline std::optional<Complex> arcsin_from(std::optional<Complex> ln_u) {
  if (!ln_u) {
    return std::nullopt;
  }
  const double l = ln_u->re;
  const double t = ln_u->im;
  return Complex{t + (-0.0) * l, (-0.0) * t - l};
}

// pi/2 + i * ln_u.
inline std::optional<Complex> arccos_from(std::optional<Complex> ln_u) {
  if (!ln_u) {
    return std::nullopt;
  }
  return Complex{(ln_u->re * 0.0 - ln_u->im) + kHalfPi, (ln_u->re + ln_u->im * 0.0) + 0.0};
}

inline std::optional<Complex> eval_arcsin(Complex z) { return arcsin_from(arcsin_log(z)); }

inline std::optional<Complex> eval_arcsin_real(Complex z) {
  return arcsin_from(real_arcsin_log(z));
}

inline std::optional<Complex> eval_arccos(Complex z) { return arccos_from(arcsin_log(z)); }

inline std::optional<Complex> eval_arccos_real(Complex z) {
  return arccos_from(real_arcsin_log(z));
}

// p = 1 - i*z and q = 1 + i*z.
struct ArctanTerms {
  Complex p;
  Complex q;
};

inline ArctanTerms arctan_terms(Complex z) {
  const double x = z.re;
  const double y = z.im;
  const Complex v{x * 0.0 - y, x + y * 0.0};
  return {{1.0 - v.re, 0.0 - v.im}, {v.re + 1.0, v.im + 0.0}};
}

// (i/2) * d, from d = ln(p) - ln(q).
inline Complex arctan_from(Complex d) { return {0.0 * d.re - 0.5 * d.im, 0.5 * d.re + 0.0 * d.im}; }

// (i/2) * (ln(1 - i*z) - ln(1 + i*z)); no value at z = +i or z = -i.
inline std::optional<Complex> eval_arctan(Complex z) {
  const auto [p, q] = arctan_terms(z);
  if (zero_magnitude(p.re, p.im) || zero_magnitude(q.re, q.im)) {
    return std::nullopt;
  }
  // For real z, q is the conjugate of p, and hypot(x, -y) == hypot(x, y):
  // both logarithms are then one and the same value.
  const double lp = std::log(magnitude(p.re, p.im));
  const double lq = p.re == q.re && p.im == -q.im ? lp : std::log(magnitude(q.re, q.im));
  return arctan_from({lp - lq, argument(p.im, p.re) - argument(q.im, q.re)});
}

// For real z with finite x. i*z is then a zero plus i(x + y*0), so p and q
// have real part 1 (neither has zero magnitude) and imaginary parts of
// opposite value: eval_arctan takes ln|q| to be ln|p|, which is finite
// (hypot(1, x) does not overflow for finite x), so their difference is +0
// and no logarithm is needed. atan2 is odd in its first argument (pinned by
// tests), so arg p == -arg q, except for zero imaginary parts, which
// argument() returns as they are.
inline std::optional<Complex> eval_arctan_real(Complex z) {
  const ArctanTerms t = arctan_terms(z);
  const double arg_q = argument(t.q.im, t.q.re);
  const double arg_p = t.p.im == 0.0 ? t.p.im : -arg_q;
  return arctan_from({0.0, arg_p - arg_q});
}

inline Complex eval_square(Complex z) {
  const double x = z.re;
  const double y = z.im;
  return {x * x - y * y, x * y + x * y};
}

inline Complex eval_cube(Complex z) {
  const double x = z.re;
  const double y = z.im;
  const Complex s = eval_square(z);
  return {x * s.re - y * s.im, x * s.im + y * s.re};
}

// The column kernels of a builtin kernel: `real` for a column whose values
// are all real with magnitude at most `real_bound` (which excludes NaN too),
// `imaginary` for one whose values are all purely imaginary; nullptr where
// there is none.
struct NoColumnKernels {
  static constexpr std::nullptr_t real = nullptr;
  static constexpr double real_bound = kInf;
  static constexpr std::nullptr_t imaginary = nullptr;
};

template <auto Kernel>
struct ColumnKernels : NoColumnKernels {};

template <>
struct ColumnKernels<eval_exp> : NoColumnKernels {
  static constexpr auto imaginary = eval_exp_imaginary;
};

template <>
struct ColumnKernels<eval_log> : NoColumnKernels {
  static constexpr auto imaginary = eval_log_imaginary;
};

template <>
struct ColumnKernels<eval_sin> {
  static constexpr auto real = eval_sin_real;
  static constexpr double real_bound = kBelowThreeHalvesPi;
  static constexpr auto imaginary = eval_sin_imaginary;
};

template <>
struct ColumnKernels<eval_cos> {
  static constexpr auto real = eval_cos_real;
  static constexpr double real_bound = kBelowTwoPi;
  static constexpr auto imaginary = eval_cos_imaginary;
};

template <>
struct ColumnKernels<eval_tan> : NoColumnKernels {
  static constexpr auto imaginary = eval_tan_imaginary;
};

template <>
struct ColumnKernels<eval_arcsin> : NoColumnKernels {
  static constexpr auto real = eval_arcsin_real;
};

template <>
struct ColumnKernels<eval_arccos> : NoColumnKernels {
  static constexpr auto real = eval_arccos_real;
};

template <>
struct ColumnKernels<eval_arctan> : NoColumnKernels {
  static constexpr auto real = eval_arctan_real;
  static constexpr double real_bound = std::numeric_limits<double>::max();
};

// Calls `Kernel` on the first `Arity` values of `args`, argument 0 first.
template <std::uint8_t Arity, auto Kernel>
inline std::optional<Complex> apply_kernel(const Complex* args) {
  static_assert(Arity == 1 || Arity == 2);
  if constexpr (Arity == 1) {
    return Kernel(args[0]);
  } else {
    return Kernel(args[0], args[1]);
  }
}

// Evaluates the builtin with registry id `op_id` on `args` (argument 0
// first). Precondition: `op_id` is a builtin id of with_builtins (the named
// constants 0 to 4 are not operators here) and `args` points to as many
// values as that builtin's arity. Any other id is an invariant violation and
// throws std::logic_error.
inline std::optional<Complex> apply_builtin(std::uint64_t op_id, const Complex* args) {
  switch (op_id) {
#define TOV_CASE(Type, Name, Arity, Commutative, Latex, Python, Kernel) \
  case op_id::k##Type:                                                  \
    return apply_kernel<Arity, Kernel>(args);
    TOV_BUILTIN_OPERATORS(TOV_CASE)
#undef TOV_CASE
    default:
      throw std::logic_error("apply_builtin: operator id is not a builtin");
  }
}

}  // namespace tov::kernels
