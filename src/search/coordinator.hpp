// The sequential side of a search: the Pareto front, the console output,
// the stopping rules (early exit, deadline, level callback), the memory
// guard and the final selection. Engines enumerate and evaluate; the
// coordinator decides between their steps. The local search pairs it with
// one engine in the same process; a distributed search keeps it on the
// client and the engines on the workers.
#pragma once

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <map>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "config/search_config.hpp"
#include "fit/search_data.hpp"
#include "result/search_error.hpp"
#include "result/search_result.hpp"
#include "search/level_log.hpp"
#include "search/pareto.hpp"
#include "search/search_control.hpp"
#include "search/search_engine.hpp"
#include "terms/meet_in_the_middle.hpp"

namespace tov {

// The candidate the front feed stores for a level whose summaries are
// given: feeding every scored candidate in order, each replacing the stored
// one when its value is strictly lower, leaves the first one if its value is
// NaN, else the first of the lowest non-NaN values.
std::optional<FrontCandidate> front_pick(std::span<const ShardSummary> summaries);

class SearchCoordinator {
 public:
  // `final_data` are every row of the search (the levels may see a subset,
  // `searched_rows` of them); the final selection refines and scores on
  // them. `registry` is the one the engines number operators by.
  SearchCoordinator(SearchData final_data, std::size_t searched_rows, const SearchConfig& config,
                    const SearchControl& control, std::shared_ptr<const OperatorRegistry> registry);

  // Feeds the seeds (expression, error) to the front; true when the search
  // goes on past them (no early exit), after printing the start message.
  bool seed(std::span<const std::pair<Expression, double>> seeds);

  // True when the deadline has passed: by the clock, or where the control's
  // deadline_passed places it. Once passed, it stays passed.
  bool past_deadline() const;
  // The caller's interrupt request, or the deadline.
  bool should_stop() const;
  bool interrupted() const;

  // Memory the next level needs beyond the available memory, as the error
  // to return; none when it fits.
  std::optional<SearchError> check_memory(std::size_t level,
                                          std::span<const std::uint64_t> level_sizes,
                                          std::uint64_t unary_operators,
                                          std::uint64_t binary_operators, std::uint64_t workers);

  // The level starts (at LevelStep::Start), and moves on to `step`.
  void begin_level(std::size_t level);
  void enter(LevelStep step) { step_ = step; }
  // The console's progress line of the level (printing nothing when output
  // is off).
  LevelProgress progress_line() const;
  // Ends the progress line when candidates were shown.
  void end_evaluation(std::uint64_t count) const;
  // Round 1 of the beam plan.
  BeamPlan plan_beam(std::span<const ShardSummary> summaries, const KeyOf& key_of) const;

  // The front feed of a completed level.
  void feed_front(std::span<const ShardSummary> summaries);

  // The retained expressions of the level in progress, for the term models
  // and the pairs.
  void keep_retained(std::span<const Expression> retained);

  // Meet in the middle after the level's retention (when set): the pairs of
  // retained formulas found by lookup, refined, wait for the front feed.
  // False when stopped.
  [[nodiscard]] bool find_pairs(const Poll& poll);
  bool finds_pairs() const { return pairs_ != nullptr; }

  // The level is complete with `retained` expressions: prints its report,
  // runs the early exit and the level callback. True when the search goes
  // on.
  [[nodiscard]] bool finish_level(std::uint64_t candidates, std::uint64_t retained);

  // The level in progress was abandoned at the deadline (or the deadline
  // passed before it started), with or without a progress line on screen.
  void abandon_level(bool progress_showing);

  // The record of the level just completed (or of the seeds), whose
  // retained expressions were `retained`; `go_on` is what finish_level (or
  // seed) returned.
  LevelRecord record(std::vector<Expression> retained, bool go_on) const;
  // Puts the search where the run that wrote `records` (levels 1 to n, in
  // order) left it after level n, and prints that it resumes; true when the
  // search goes on past them.
  bool restore(const std::vector<LevelRecord>& records);

  // The final staircase from the levels completed so far.
  Outcome<std::vector<SearchResult>> finalize();

  std::size_t completed_level() const { return completed_level_; }
  SearchEnding ending() const;

 private:
  LevelReport report(std::uint64_t candidates, std::uint64_t retained) const;
  // The early exit: a front entry within the exit tolerance that is an
  // answer. Where the final selection can judge an entry worse than the
  // front does (a scaling objective, levels on a subset of the rows, a
  // caller's confirmation), only an entry whose final form is within the
  // tolerance (and that the caller accepts) counts.
  bool answer_found();

  SearchData final_data_;
  std::size_t searched_rows_;
  const SearchConfig& config_;
  const SearchControl& control_;
  std::shared_ptr<const OperatorRegistry> registry_;
  std::shared_ptr<ParetoFront> front_ = std::make_shared<ParetoFront>();
  std::FILE* out_;
  std::optional<std::chrono::steady_clock::time_point> deadline_;
  std::chrono::steady_clock::time_point level_start_;
  std::size_t level_ = 1;
  LevelStep step_ = LevelStep::Start;
  mutable bool deadline_passed_ = false;
  std::size_t completed_level_ = 0;
  bool time_limit_reached_ = false;
  bool stopped_by_callback_ = false;
  std::vector<std::pair<std::size_t, std::vector<Expression>>> retained_;  // by level
  std::vector<Expression> level_retained_;  // the level in progress, for the pairs
  std::optional<SearchData> searched_;      // the rows the levels search, for the pairs
  std::unique_ptr<MeetInTheMiddle> pairs_;
  std::vector<FrontEntry> found_pairs_;  // of the level in progress
  // Front entries judged by answer_found, by complexity: the stored error
  // then and the verdict. An entry is replaced only by a lower error, so
  // the pair identifies it.
  std::map<std::size_t, std::pair<double, bool>> judged_;
  LevelReport last_report_;  // of the level just completed
};

}  // namespace tov
