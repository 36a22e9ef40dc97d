// Beam selection: which scored candidates of a level are retained as
// operands for later levels. The best-scoring four fifths of the beam are
// kept by score; the last fifth goes to candidates whose operator skeleton is
// rare among those, so the beam does not fill with variants of one shape.
#pragma once

#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <vector>

#include "core/expression.hpp"

namespace tov {

struct ScoredCandidate {
  Expression expression;
  double score;
};

// The operator ids of the Op tokens in postfix order, joined with "-";
// empty for an expression without operators.
std::string structure_key(const Expression& expression);

// Orders scores ascending with NaN after every number.
inline bool score_less(double a, double b) {
  if (a != a) return false;
  if (b != b) return true;
  return a < b;
}

// The selection on indices: returns positions into `scores` in selection
// order (at most beam_width). `key_of(i)` gives the structure key of
// candidate i; it is called only when there are more candidates than
// beam_width. Sorts are stable, so equal scores keep candidate order.
std::vector<std::size_t> select_beam_indices(std::span<const double> scores,
                                             std::uint64_t beam_width,
                                             const std::function<std::string(std::size_t)>& key_of);

std::vector<Expression> select_beam(std::vector<ScoredCandidate> candidates,
                                    std::uint64_t beam_width);

}  // namespace tov
