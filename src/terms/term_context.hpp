// What the sums of terms and the products of powers are fitted on, and how
// every model they build is refined into a staircase entry.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>

#include "fit/scoring.hpp"
#include "fit/staircase.hpp"
#include "formula/expression.hpp"

namespace tov {

struct TermContext {
  Samples samples;      // every row
  Objective objective;  // unscaled, on every row
  // The rows the library is ranked on (the rows the levels searched).
  Samples screen_samples;
  std::span<const double> screen_targets;
  std::span<const double> screen_weights;
  OperatorList operators;
  std::uint64_t operator_mask = 0;
  std::size_t max_terms = 1;
  std::size_t pool = 0;
  // Models stop growing at the first whose error is at most this.
  double tolerance = 0.0;
  // Of short formulas of one size, those closer to the targets enter the
  // pools first (see TermColumns).
  bool short_by_correlation = false;
  std::function<bool()> stop;
};

// The model's constants refined together (the final refit) into a
// staircase entry; none when it uses an operator outside the mask or its
// error is not finite.
std::optional<FrontEntry> refined_entry(const Expression& model, const TermContext& context);

}  // namespace tov
