// One operator applied across a run of samples (structure of arrays), with
// the evaluator's acceptance rule. The operator is chosen once per run, so the
// loop body is a single inlined kernel: the arithmetic operators vectorise
// and nothing is dispatched per sample. A unary operator with column kernels
// (kernels::ColumnKernels) first checks its argument column once and runs the
// real or imaginary kernel when every valid value qualifies. Values are
// exactly those of apply_builtin sample by sample.
#pragma once

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <iterator>
#include <optional>
#include <stdexcept>
#include <type_traits>

#include "fit/block_batched.hpp"
#include "fit/column.hpp"
#include "formula/expression.hpp"
#include "numeric/complex.hpp"
#include "ops/kernels.hpp"
#include "ops/registry.hpp"

namespace tov {

namespace block_detail {

inline void accept(std::optional<Complex> r, Complex& out, std::uint8_t& valid) {
  valid = r.has_value() && within_limits(*r);
  if (valid) out = *r;
}

inline void accept(Complex r, Complex& out, std::uint8_t& valid) {
  valid = within_limits(r);
  out = r;
}

template <auto Kernel>
void unary_loop(Column a, Complex* out, std::uint8_t* valid, std::size_t begin, std::size_t end) {
  for (std::size_t i = begin; i < end; ++i) {
    if (!a.valid[i]) {
      valid[i] = 0;
      continue;
    }
    accept(Kernel(a.values[i]), out[i], valid[i]);
  }
}

// True when every valid value in [begin, end) has a zero imaginary part
// (either sign) and a real part of magnitude at most `bound`; stops at the
// first that has not, so a complex column costs little.
inline bool all_real(Column a, std::size_t begin, std::size_t end, double bound) {
  for (std::size_t i = begin; i < end; ++i)
    if (a.valid[i] && !(a.values[i].im == 0.0 && std::fabs(a.values[i].re) <= bound)) return false;
  return true;
}

// The same for a zero real part.
inline bool all_imaginary(Column a, std::size_t begin, std::size_t end) {
  for (std::size_t i = begin; i < end; ++i)
    if (a.valid[i] && a.values[i].re != 0.0) return false;
  return true;
}

template <auto ColumnKernel>
inline constexpr bool kPresent = !std::is_null_pointer_v<decltype(ColumnKernel)>;

// The real or imaginary column kernel when the whole column qualifies, else
// the builtin's kernel.
template <auto Kernel>
void unary(Column a, Complex* out, std::uint8_t* valid, std::size_t begin, std::size_t end) {
  using Columns = kernels::ColumnKernels<Kernel>;
  if constexpr (kPresent<Columns::real>) {
    static_assert(std::is_same_v<decltype(Kernel(Complex{})), decltype(Columns::real(Complex{}))>);
    if (all_real(a, begin, end, Columns::real_bound)) {
      return unary_loop<Columns::real>(a, out, valid, begin, end);
    }
  }
  if constexpr (kPresent<Columns::imaginary>) {
    static_assert(
        std::is_same_v<decltype(Kernel(Complex{})), decltype(Columns::imaginary(Complex{}))>);
    if (all_imaginary(a, begin, end)) {
      return unary_loop<Columns::imaginary>(a, out, valid, begin, end);
    }
  }
  unary_loop<Kernel>(a, out, valid, begin, end);
}

template <auto Kernel>
void binary(Column a, Column b, Complex* out, std::uint8_t* valid, std::size_t begin,
            std::size_t end) {
  for (std::size_t i = begin; i < end; ++i) {
    if (!(a.valid[i] && b.valid[i])) {
      valid[i] = 0;
      continue;
    }
    accept(Kernel(a.values[i], b.values[i]), out[i], valid[i]);
  }
}

// Operators evaluated chunk by chunk with their exp, log and hypot calls
// gathered (engine/block_batched.hpp); `run` is absent for the others.
template <auto Kernel>
struct Batched {};

template <>
struct Batched<kernels::eval_exp> {
  // A purely imaginary column calls no exp at all (exp(+-0) == 1).
  static bool wanted(Column a, std::size_t begin, std::size_t end) {
    return !all_imaginary(a, begin, end);
  }
  static void run(Column a, Column, Complex* out, std::uint8_t* valid, std::size_t begin,
                  std::size_t end) {
    for_chunks(begin, end, [&](std::size_t c, std::size_t n) {
      double r[kChunk] = {};
      chunk_exponentials(a, c, n, r);
      finish_chunk(c, n, a.valid, nullptr, valid, [&](std::size_t i, std::size_t j) {
        accept(exp_with(a.values[i].re, a.values[i].im, r[j]), out[i], valid[i]);
      });
    });
  }
};

template <>
struct Batched<kernels::eval_log> {
  // Real and purely imaginary columns need no hypot; for them one log per
  // sample costs about what gathering it would save.
  static bool wanted(Column a, std::size_t begin, std::size_t end) {
    return !all_real(a, begin, end, kernels::kInf) && !all_imaginary(a, begin, end);
  }
  static void run(Column a, Column, Complex* out, std::uint8_t* valid, std::size_t begin,
                  std::size_t end) {
    for_chunks(begin, end, [&](std::size_t c, std::size_t n) {
      double l[kChunk] = {};
      chunk_magnitudes(a, c, n, l);
      vmath::log_n(l, l, n);
      finish_chunk(c, n, a.valid, nullptr, valid, [&](std::size_t i, std::size_t j) {
        accept(log_with(a.values[i].re, a.values[i].im, l[j]), out[i], valid[i]);
      });
    });
  }
};

template <>
struct Batched<kernels::eval_tov> {
  static bool wanted(Column, std::size_t, std::size_t) { return true; }
  static void run(Column a, Column b, Complex* out, std::uint8_t* valid, std::size_t begin,
                  std::size_t end) {
    for_chunks(begin, end, [&](std::size_t c, std::size_t n) {
      double r[kChunk] = {};
      double l[kChunk] = {};
      chunk_exponentials(a, c, n, r);
      chunk_magnitudes(b, c, n, l);
      vmath::log_n(l, l, n);
      finish_chunk(c, n, a.valid, b.valid, valid, [&](std::size_t i, std::size_t j) {
        const Complex e = exp_with(a.values[i].re, a.values[i].im, r[j]);
        const Complex z = b.values[i];
        if (kernels::zero_magnitude(z.re, z.im)) {
          valid[i] = 0;
          return;
        }
        accept(Complex{e.re - l[j], e.im - kernels::argument(z.im, z.re)}, out[i], valid[i]);
      });
    });
  }
};

// ArcSin and ArcCos: ln(u) of u = i*z + sqrt(1 - z^2), then `From`.
template <auto From>
void arcsin_family(Column a, Complex* out, std::uint8_t* valid, std::size_t begin,
                   std::size_t end) {
  for_chunks(begin, end, [&](std::size_t c, std::size_t n) {
    Complex u[kChunk];
    for (std::size_t j = 0; j < n; ++j)
      u[j] = a.valid[c + j] ? kernels::arcsin_log_argument(a.values[c + j]) : Complex{1.0, 0.0};
    double l[kChunk] = {};
    chunk_magnitudes(Column{u, a.valid + c}, 0, n, l);
    vmath::log_n(l, l, n);
    finish_chunk(c, n, a.valid, nullptr, valid, [&](std::size_t i, std::size_t j) {
      accept(From(log_with(u[j].re, u[j].im, l[j])), out[i], valid[i]);
    });
  });
}

// The real column kernel takes no hypot for arguments outside [-1, 1] and
// is as fast as gathering on real columns.
inline bool arcsin_batch_wanted(Column a, std::size_t begin, std::size_t end) {
  return !all_real(a, begin, end, kernels::kInf);
}

template <>
struct Batched<kernels::eval_arcsin> {
  static bool wanted(Column a, std::size_t begin, std::size_t end) {
    return arcsin_batch_wanted(a, begin, end);
  }
  static void run(Column a, Column, Complex* out, std::uint8_t* valid, std::size_t begin,
                  std::size_t end) {
    arcsin_family<kernels::arcsin_from>(a, out, valid, begin, end);
  }
};

template <>
struct Batched<kernels::eval_arccos> {
  static bool wanted(Column a, std::size_t begin, std::size_t end) {
    return arcsin_batch_wanted(a, begin, end);
  }
  static void run(Column a, Column, Complex* out, std::uint8_t* valid, std::size_t begin,
                  std::size_t end) {
    arcsin_family<kernels::arccos_from>(a, out, valid, begin, end);
  }
};

template <auto Kernel>
concept HasBatched = requires {
  Batched<Kernel>::run;
};

template <std::uint8_t Arity, auto Kernel>
void run(Column a, Column b, Complex* out, std::uint8_t* valid, std::size_t begin,
         std::size_t end) {
  // The batched path only pays where the vector routines run.
  if constexpr (HasBatched<Kernel>) {
    if ((vmath::log_vectorised() || vmath::exp_vectorised()) &&
        Batched<Kernel>::wanted(a, begin, end)) {
      return Batched<Kernel>::run(a, b, out, valid, begin, end);
    }
  }
  if constexpr (Arity == 1) {
    unary<Kernel>(a, out, valid, begin, end);
  } else {
    binary<Kernel>(a, b, out, valid, begin, end);
  }
}

// One run function per builtin, in id order: each operator's loops are a
// function of their own, compiled (and register-allocated) apart from the
// others'.
using Run = void (*)(Column, Column, Complex*, std::uint8_t*, std::size_t, std::size_t);

inline constexpr Run kRuns[] = {
#define TOV_RUN(Type, Name, Arity, Commutative, Latex, Python, Kernel) &run<Arity, kernels::Kernel>,
    TOV_BUILTIN_OPERATORS(TOV_RUN)
#undef TOV_RUN
};
static_assert(std::size(kRuns) == op_id::position::kCount);

}  // namespace block_detail

// out[i] = op(a[i], b[i]) for i in [begin, end); `b` is ignored for unary
// operators. `op` must be a builtin operator id.
inline void apply_op_block(std::uint64_t op, Column a, Column b, Complex* out, std::uint8_t* valid,
                           std::size_t begin, std::size_t end) {
  if (op < op_id::kFirstBuiltin || op >= op_id::kBuiltinCount) {
    throw std::logic_error("apply_op_block: operator id is not a builtin");
  }
  block_detail::kRuns[op - op_id::kFirstBuiltin](a, b, out, valid, begin, end);
}

}  // namespace tov
