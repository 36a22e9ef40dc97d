// Meet in the middle: laws built from two formulas the levels retained,
// found by lookup instead of enumeration.
//
// For every retained formula A and every root (y = c A X, y = c A / X,
// y = c X / A), the values the other half X must have (y / A, A / y, y A)
// are looked up among the retained formulas' values; for a unary root u
// (y = c u(X)) the lookup is of u^-1(y). The lookup is blind to what the
// pair's constants absorb: a half is found up to a constant factor (the
// scale class) or up to an affine map (the affine class, written with an
// offset inside the root: A (X + C), u(C X + C)). One lookup per formula and
// root, so the cost is linear in the number of retained formulas, and the
// reach is the sum of two levels.
//
// The key. Every half's real parts on m key rows (m = min(n, 32), spread
// over the searched rows), weighted by sqrt(w), are normalised (scale: to
// unit length; affine: centred, then to unit length) and projected on six
// fixed directions; the projections, in cells of width 3 sqrt(2 kPairTolerance),
// are the key. A half is filed under its own cell and, in each projection
// where it lies within sqrt(2 kPairTolerance) of a cell's edge, under the
// neighbouring cell too. A hit differs from its query by at most that in
// every projection, so the query's own cell always holds it: a rounding
// boundary never loses a hit, exact or not. Every retained formula is filed
// with every enabled unary operator over it too, so the other half may be
// one level longer than the levels' formulas.
//
// A hit is a half X with 1 - |cos| <= kPairTolerance between the query and X
// on the key rows and again on every searched row (the cosine of the
// normalised vectors, weighted). Hits are ranked by the all-rows score (within
// 1e-12 equal, then the shorter formula first), ties
// to the earlier (root formula, root, half); the best kPairCandidates of a
// level become formulas, with every constant refined together
// (kFinalIterations, the search's objective, the searched rows); once a
// shorter one is exact within the rounding floor, longer ones are left out.
//
// Deterministic: every loop runs in the order of the retained formulas
// (level by level, each level in its retained order), roots in a fixed
// order; the refinements may run in parallel and are gathered in order.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <vector>

#include "config/search_config.hpp"
#include "fit/search_data.hpp"
#include "fit/staircase.hpp"
#include "formula/expression.hpp"
#include "ops/operator.hpp"

namespace tov {

// The largest 1 - |cos| between a query and a half that is a hit.
inline constexpr double kPairTolerance = 1e-4;
// The candidates a level refines, best first.
inline constexpr std::size_t kPairCandidates = 256;

// Runs task(i) for i in [0, n), possibly in parallel; false when stopped.
using ParallelFor = std::function<bool(std::size_t n, const std::function<void(std::size_t)>&)>;

class MeetInTheMiddle {
 public:
  // `searched` are the rows the levels search (they must outlive the
  // stage); `config` gives the objective (linear scaling, penalty), the
  // operators that may be used and whether constants are named.
  MeetInTheMiddle(const SearchData& searched, const SearchConfig& config, OperatorList operators);
  ~MeetInTheMiddle();
  MeetInTheMiddle(const MeetInTheMiddle&) = delete;
  MeetInTheMiddle& operator=(const MeetInTheMiddle&) = delete;

  // Files the formulas retained by the level just completed and returns the
  // candidates confirmed by lookup with at least one half among them, with
  // their refined errors, in rank order; empty when `stop` returned true.
  std::vector<FrontEntry> after_level(std::span<const Expression> retained,
                                      const ParallelFor& parallel,
                                      const std::function<bool()>& stop);
  // Files a completed level's retained formulas as after_level does, without
  // the lookup: a resumed search rebuilds the index level by level.
  void replay(std::span<const Expression> retained);

  // A query and the halves it hits, for tests: the positions of the halves
  // (in filing order) within the tolerance of `values` (real parts on the
  // searched rows), in filing order, by the index and by brute force.
  struct Probe {
    std::vector<std::size_t> indexed;
    std::vector<std::size_t> brute_force;
  };
  Probe probe(std::span<const double> values, bool affine);

 private:
  struct State;
  // Files `retained` (the variables first, once); the sizes of both
  // classes before them.
  std::array<std::size_t, 2> file(std::span<const Expression> retained);
  std::unique_ptr<State> state_;
};

}  // namespace tov
