// The enumerating side of a search: the retained levels with their cached
// values, the fingerprint set, and the candidates of the level in progress.
//
// A search runs level by level through these steps: generate the level's
// candidates (new in the fingerprint set, in candidate order), evaluate
// shards of them (contiguous index ranges) into summaries, complete the
// beam selection on each shard, build the selected expressions, and retain
// them for the next level. The sequential decisions between the steps (the
// front, the beam plan, stopping) are the coordinator's. The local search
// drives one engine over a single shard; a distributed search runs one
// engine per worker process. Generation is deterministic, so every engine
// given the same retained levels holds the same candidate list.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "config/search_config.hpp"
#include "fit/search_data.hpp"
#include "ops/registry.hpp"
#include "search/beam.hpp"
#include "search/console.hpp"
#include "search/expansion.hpp"
#include "search/search_space.hpp"
#include "search/seen_set.hpp"

namespace tov {

class WorkerPool;

// Polled between steps and about every 100 ms while workers run; true
// winds the step down.
using Poll = std::function<bool()>;

// A candidate the level's front feed may store: its position, its front
// value (score / complexity factor) and its expression.
struct FrontCandidate {
  std::uint64_t index = 0;
  double value = 0.0;
  Expression expression;
};

// What evaluating one shard of a level yields.
struct ShardSummary {
  std::uint64_t begin = 0;
  std::uint64_t end = 0;
  std::uint64_t scored = 0;  // candidates with a finite error
  // The shard's first scored candidate, and the first of its lowest non-NaN
  // front values; together they decide the level's front feed.
  std::optional<FrontCandidate> first;
  std::optional<FrontCandidate> lowest;
  std::vector<Ranked> top;  // the best beam_width by (score, index)
};

// Level 1 of a search: the parameter leaf "C" (with named constants: 1 to 5,
// pi and e instead), then one leaf per variable, each kept when its
// fingerprint is new, with its error on `data`.
std::vector<std::pair<Expression, double>> seed_leaves(const SearchData& data,
                                                       const Objective& objective, OperatorList ops,
                                                       bool named_constants);

class SearchEngine {
 public:
  // `data` are the rows the levels are searched on. The pool runs the
  // parallel steps; it must outlive the engine.
  SearchEngine(SearchData data, const SearchConfig& config, SearchSpace space, WorkerPool& pool);
  ~SearchEngine();
  SearchEngine(const SearchEngine&) = delete;
  SearchEngine& operator=(const SearchEngine&) = delete;

  const SearchData& data() const { return data_; }
  const Objective& objective() const { return objective_; }
  const std::shared_ptr<const OperatorRegistry>& registry() const { return registry_; }
  // The last level generated (1 after seed).
  std::size_t level() const { return levels_.size() - 1; }
  // The last level whose retained expressions are installed (1 after seed).
  std::size_t retained_level() const { return level() - (pending_ ? 1 : 0); }
  std::uint64_t refinements() const;

  // Level 1 (the seed leaves), installed; returns them with their errors.
  std::vector<std::pair<Expression, double>> seed();

  // Generates the candidates of level level() + 1. False when interrupted.
  [[nodiscard]] bool generate(const Poll& poll);
  std::uint64_t candidate_count() const { return candidates_.size(); }
  // Boundaries of `shards` contiguous shards of the generated level with
  // about equal work (candidates with parameters cost far more): shard s is
  // [bounds[s], bounds[s + 1]).
  std::vector<std::uint64_t> shard_bounds(std::size_t shards) const;

  // Evaluates candidates [begin, end) of the generated level and keeps their
  // scores for the rest of the selection. `progress`, when given, counts
  // them. No value when interrupted.
  [[nodiscard]] std::optional<ShardSummary> evaluate(std::uint64_t begin, std::uint64_t end,
                                                     LevelProgress* progress, const Poll& poll);
  // Round 2 of the beam selection on the evaluated shard starting at `begin`.
  std::vector<RankedRest> best_remaining(std::uint64_t begin, const BeamPlan& plan) const;
  // The structure key of candidate `index` of the generated level.
  std::string key(std::uint64_t index) const;
  // The candidates' expressions as evaluation left them (refined where that
  // lowered the error), in the given order. No value when interrupted.
  [[nodiscard]] std::optional<std::vector<Expression>> expressions(
      std::span<const std::uint64_t> indices, const Poll& poll);
  // Installs the retained expressions of the generated level and drops its
  // candidates. False when interrupted.
  [[nodiscard]] bool retain(std::vector<Expression> retained, const Poll& poll);

  // Runs candidates through the plain expression evaluator instead of the
  // cached fast paths (identical results; the reference for both).
  void use_reference_evaluator() { reference_ = true; }

 private:
  struct Scratch;
  struct Evaluated;

  Evaluated evaluate_candidate(const CandidateRef& ref, bool need_expression,
                               Scratch& scratch) const;
  double fast_raw_error(const CandidateRef& ref, Scratch& scratch) const;
  LevelEntry make_entry(Expression expression) const;
  void fill_cached_values(LevelEntry& entry) const;
  std::vector<Scratch>& scratch() const;

  SearchData data_;
  SearchConfig config_;
  Objective objective_;
  WorkerPool& pool_;
  std::shared_ptr<const OperatorRegistry> registry_;
  std::vector<std::uint64_t> unary_;
  std::vector<std::uint64_t> binary_;
  SeenSet seen_;
  Levels levels_;
  std::vector<CandidateRef> candidates_;
  std::map<std::uint64_t, std::vector<Ranked>> shards_;  // scores of evaluated shards by begin
  mutable std::vector<Scratch> scratch_;                 // one per worker, during a level
  bool reference_ = false;
  bool pending_ = false;  // the last level is generated but not retained
  std::uint64_t refinements_ = 0;
};

}  // namespace tov
