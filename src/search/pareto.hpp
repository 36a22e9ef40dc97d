// The Pareto front of a search: the lowest-error expression found for every
// complexity, early-exit decisions, and the final staircase of results.
#pragma once

#include <cstddef>
#include <map>
#include <memory>
#include <mutex>
#include <span>
#include <utility>
#include <vector>

#include "config/search_config.hpp"
#include "fit/scoring.hpp"
#include "fit/staircase.hpp"
#include "formula/expression.hpp"
#include "ops/registry.hpp"
#include "result/search_error.hpp"
#include "result/search_result.hpp"

namespace tov {

// Best (error, expression) per complexity. Every stored error is finite when
// fed through score_and_update or the driver; equal errors keep the earlier
// entry. All operations take the front's own lock.
class ParetoFront {
 public:
  // Stores a copy of `expression` when its complexity has no entry yet or
  // `error` is strictly below the stored one.
  void update(const Expression& expression, double error);

  // Would update() with this complexity and error change the front?
  bool improves(std::size_t complexity, double error) const;

  // True at the first entry (ascending complexity) whose error <= tolerance.
  bool any_within(double tolerance) const;

  bool empty() const;
  // A copy of the entries in ascending complexity.
  std::map<std::size_t, FrontEntry> entries() const;

 private:
  friend Outcome<std::vector<SearchResult>> select_final(std::shared_ptr<ParetoFront>,
                                                         std::shared_ptr<const OperatorRegistry>,
                                                         const SearchConfig&, Samples,
                                                         const Objective&, bool, std::uint64_t);

  mutable std::mutex mutex_;
  std::map<std::size_t, FrontEntry> entries_;
};

void update_pareto(ParetoFront& front, const Expression& expression, double error);

// compute_raw_error, then update_pareto when the error is finite.
void score_and_update(ParetoFront& front, const Expression& expression, Samples samples,
                      std::span<const double> targets, OperatorList operators, double alpha,
                      double l1_ratio);

bool check_early_exit(const ParetoFront& front, bool exhaustive, double tolerance);

// Refines every entry with parameters once more (30 iterations), keeps the
// entries whose error falls strictly below that of every simpler one, and
// returns them most complex first. NoFormulaFound when the front is empty.
Outcome<std::vector<SearchResult>> finalize_result(std::shared_ptr<ParetoFront> front,
                                                   std::shared_ptr<const OperatorRegistry> registry,
                                                   const SearchConfig& config, Samples samples,
                                                   std::span<const double> targets);

// The same under `objective` on `samples`. With `rescore` (the levels were
// searched on other rows) parameter-free entries are scored anew. With a
// scaling objective every formula f comes back as Plus(Times(C, f), C) with
// the affine map's a and b as its parameters (no factor when a is exactly 1,
// no offset when b is exactly 0), judged by the unscaled objective of that
// formula and ordered by its size. NoFormulaFound carries `max_complexity`.
Outcome<std::vector<SearchResult>> select_final(std::shared_ptr<ParetoFront> front,
                                                std::shared_ptr<const OperatorRegistry> registry,
                                                const SearchConfig& config, Samples samples,
                                                const Objective& objective, bool rescore,
                                                std::uint64_t max_complexity);

// What the final selection makes of one front entry on `samples`: its
// constants refined (kFinalIterations), or, with `rescore`, a formula
// without parameters scored anew; with a scaling objective the result of
// that as a f + b (or a shorter map that is as accurate within rounding),
// judged by the unscaled objective.
FrontEntry final_form(const FrontEntry& entry, const SearchConfig& config, Samples samples,
                      const Objective& objective, bool rescore, OperatorList operators);

// `f` as a f + b, built by the construction rules; the factor is left out
// when a is exactly 1, the offset when b is exactly 0, and f itself when a
// is exactly 0 (the formula is then the constant b).
Expression wrap_affine(const Expression& f, const Affine& map);

}  // namespace tov
