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
#include <cstdint>
#include <limits>
#include <optional>
#include <stdexcept>

#include "core/complex.hpp"
#include "ops/registry.hpp"

namespace tov::kernels {

inline constexpr double kHalfPi = 1.5707963267948966;
inline constexpr double kPi = 3.141592653589793;
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
  const double r = std::exp(x);
  return {r * cos_of(y), r * sin_of(y)};
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

inline std::optional<Complex> eval_log(Complex z) { return complex_log(z.re, z.im); }

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

inline Complex eval_cos(Complex z) { return cos_from(trig_parts(z)); }

// Each library function is called once and serves both sin(z) and cos(z).
inline std::optional<Complex> eval_tan(Complex z) { return tan_from(trig_parts(z)); }

// ln(i*z + sqrt(1 - z^2)), shared by ArcSin and ArcCos; no value where the
// logarithm's argument is zero.
inline std::optional<Complex> arcsin_log(Complex z) {
  const double x = z.re;
  const double y = z.im;
  const Complex s = complex_sqrt((y * y - x * x) + 1.0, 0.0 - (x * y + x * y));
  return complex_log((x * 0.0 - y) + s.re, (x + y * 0.0) + s.im);
}

// -i * ln(i*z + sqrt(1 - z^2)).
inline std::optional<Complex> eval_arcsin(Complex z) {
  const std::optional<Complex> ln_u = arcsin_log(z);
  if (!ln_u) {
    return std::nullopt;
  }
  const double l = ln_u->re;
  const double t = ln_u->im;
  return Complex{t + (-0.0) * l, (-0.0) * t - l};
}

// pi/2 + i * ln(i*z + sqrt(1 - z^2)).
inline std::optional<Complex> eval_arccos(Complex z) {
  const std::optional<Complex> ln_u = arcsin_log(z);
  if (!ln_u) {
    return std::nullopt;
  }
  return Complex{(ln_u->re * 0.0 - ln_u->im) + kHalfPi, (ln_u->re + ln_u->im * 0.0) + 0.0};
}

// (i/2) * (ln(1 - i*z) - ln(1 + i*z)); no value at z = +i or z = -i.
inline std::optional<Complex> eval_arctan(Complex z) {
  const double x = z.re;
  const double y = z.im;
  const Complex v{x * 0.0 - y, x + y * 0.0};
  const Complex p{1.0 - v.re, 0.0 - v.im};
  if (zero_magnitude(p.re, p.im)) {
    return std::nullopt;
  }
  const Complex q{v.re + 1.0, v.im + 0.0};
  if (zero_magnitude(q.re, q.im)) {
    return std::nullopt;
  }
  // For real z, q is the conjugate of p, and hypot(x, -y) == hypot(x, y):
  // both logarithms are then one and the same value.
  const double lp = std::log(magnitude(p.re, p.im));
  const double lq = p.re == q.re && p.im == -q.im ? lp : std::log(magnitude(q.re, q.im));
  const Complex d{lp - lq, argument(p.im, p.re) - argument(q.im, q.re)};
  return Complex{0.0 * d.re - 0.5 * d.im, 0.5 * d.re + 0.0 * d.im};
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
