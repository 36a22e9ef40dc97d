// One operator applied across a run of samples (structure of arrays), with
// the evaluator's acceptance rule. The operator is chosen once per run, so the
// loop body is a single inlined kernel: the arithmetic operators vectorise
// and nothing is dispatched per sample. Values are exactly those of
// apply_builtin sample by sample.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <stdexcept>

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

template <class F>
void unary(F f, Column a, Complex* out, std::uint8_t* valid, std::size_t begin, std::size_t end) {
  for (std::size_t i = begin; i < end; ++i) {
    if (!a.valid[i]) {
      valid[i] = 0;
      continue;
    }
    accept(f(a.values[i]), out[i], valid[i]);
  }
}

template <class F>
void binary(F f, Column a, Column b, Complex* out, std::uint8_t* valid, std::size_t begin,
            std::size_t end) {
  for (std::size_t i = begin; i < end; ++i) {
    if (!(a.valid[i] && b.valid[i])) {
      valid[i] = 0;
      continue;
    }
    accept(f(a.values[i], b.values[i]), out[i], valid[i]);
  }
}

}  // namespace block_detail

// out[i] = op(a[i], b[i]) for i in [begin, end); `b` is ignored for unary
// operators. `op` must be a builtin operator id.
inline void apply_op_block(std::uint64_t op, Column a, Column b, Complex* out, std::uint8_t* valid,
                           std::size_t begin, std::size_t end) {
  using namespace block_detail;
  namespace k = kernels;
  switch (op) {
    case op_id::kTov:
      return binary([](Complex x, Complex y) { return k::eval_tov(x, y); }, a, b, out, valid, begin,
                    end);
    case op_id::kPlus:
      return binary([](Complex x, Complex y) { return k::eval_plus(x, y); }, a, b, out, valid,
                    begin, end);
    case op_id::kTimes:
      return binary([](Complex x, Complex y) { return k::eval_times(x, y); }, a, b, out, valid,
                    begin, end);
    case op_id::kSubtract:
      return binary([](Complex x, Complex y) { return k::eval_subtract(x, y); }, a, b, out, valid,
                    begin, end);
    case op_id::kDivide:
      return binary([](Complex x, Complex y) { return k::eval_divide(x, y); }, a, b, out, valid,
                    begin, end);
    case op_id::kNeg:
      return unary([](Complex z) { return k::eval_neg(z); }, a, out, valid, begin, end);
    case op_id::kInv:
      return unary([](Complex z) { return k::eval_inv(z); }, a, out, valid, begin, end);
    case op_id::kExp:
      return unary([](Complex z) { return k::eval_exp(z); }, a, out, valid, begin, end);
    case op_id::kLog:
      return unary([](Complex z) { return k::eval_log(z); }, a, out, valid, begin, end);
    case op_id::kSqrt:
      return unary([](Complex z) { return k::eval_sqrt(z); }, a, out, valid, begin, end);
    case op_id::kSin:
      return unary([](Complex z) { return k::eval_sin(z); }, a, out, valid, begin, end);
    case op_id::kCos:
      return unary([](Complex z) { return k::eval_cos(z); }, a, out, valid, begin, end);
    case op_id::kTan:
      return unary([](Complex z) { return k::eval_tan(z); }, a, out, valid, begin, end);
    case op_id::kArcSin:
      return unary([](Complex z) { return k::eval_arcsin(z); }, a, out, valid, begin, end);
    case op_id::kArcCos:
      return unary([](Complex z) { return k::eval_arccos(z); }, a, out, valid, begin, end);
    case op_id::kArcTan:
      return unary([](Complex z) { return k::eval_arctan(z); }, a, out, valid, begin, end);
    case op_id::kSquare:
      return unary([](Complex z) { return k::eval_square(z); }, a, out, valid, begin, end);
    case op_id::kCube:
      return unary([](Complex z) { return k::eval_cube(z); }, a, out, valid, begin, end);
    default:
      throw std::logic_error("apply_op_block: operator id is not a builtin");
  }
}

}  // namespace tov
