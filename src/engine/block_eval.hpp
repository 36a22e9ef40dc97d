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

#include "core/complex.hpp"
#include "core/expression.hpp"
#include "ops/kernels.hpp"
#include "ops/registry.hpp"

namespace tov {

// A column of values with their validity flags (0: no value at that sample).
struct Column {
  const Complex* values;
  const std::uint8_t* valid;
};

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

template <std::uint8_t Arity, auto Kernel>
void run(Column a, Column b, Complex* out, std::uint8_t* valid, std::size_t begin,
         std::size_t end) {
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
