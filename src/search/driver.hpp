// The search driver: level after level, the backend generates and
// evaluates candidates in shards while the coordinator feeds the front,
// plans the beam, reports and decides when to stop. The local search uses a
// backend with one engine in this process; a distributed search one whose
// engines run on the workers of a cluster. Both go through the same driver,
// so they make the same decisions.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <utility>
#include <vector>

#include "config/search_config.hpp"
#include "fit/search_data.hpp"
#include "result/search_error.hpp"
#include "result/search_result.hpp"
#include "search/search_control.hpp"
#include "search/search_engine.hpp"
#include "search/search_space.hpp"

namespace tov {

// A level's evaluation: its number of candidates and one summary per shard,
// in candidate order.
struct LevelSummaries {
  std::uint64_t candidates = 0;
  std::vector<ShardSummary> shards;
};

// Where a search's levels are generated and evaluated. Calls come in this
// order: seed once, then per level evaluate, remaining, expressions,
// retain. A step returning no value (or false) was interrupted by `poll`.
class ShardBackend {
 public:
  virtual ~ShardBackend() = default;

  // Level 1: the seeds kept, with their errors.
  virtual std::vector<std::pair<Expression, double>> seed() = 0;
  // Generates the next level and evaluates all its shards. `progress`
  // counts candidates as they are evaluated, where the backend can.
  virtual std::optional<LevelSummaries> evaluate(LevelProgress& progress, const Poll& poll) = 0;
  // True when evaluate drove `progress` (the progress line then needs ending).
  virtual bool shows_progress() const = 0;
  // The structure key of a candidate of the level, for the beam plan's top part.
  virtual std::string key(std::uint64_t index) = 0;
  // Round 2 of the beam selection on every shard.
  virtual std::optional<std::vector<RankedRest>> remaining(const BeamPlan& plan,
                                                           const Poll& poll) = 0;
  // The selected candidates as expressions, in the given order.
  virtual std::optional<std::vector<Expression>> expressions(std::span<const std::uint64_t> indices,
                                                             const Poll& poll) = 0;
  // Installs the level's retained expressions.
  [[nodiscard]] virtual bool retain(std::vector<Expression> retained, const Poll& poll) = 0;
  // A resumed search: generates the next level and installs the retained
  // expressions an earlier run kept of it, without evaluating it. Called for
  // the restored levels in order, after seed and before any evaluate.
  [[nodiscard]] virtual bool replay(std::vector<Expression> retained, const Poll& poll) = 0;
  // Constant refinements run so far, where the backend counts them.
  virtual std::uint64_t refinements() const { return 0; }
  // Threads evaluating on one machine, for the memory estimate.
  virtual std::uint64_t workers() const = 0;
};

// Runs a whole search over `space` on `backend`, whose levels are searched
// on `searched_rows` of the rows of `data`; the final selection uses all of
// them.
Outcome<std::vector<SearchResult>> run_search(SearchData data, std::size_t searched_rows,
                                              const SearchConfig& config,
                                              const SearchControl& control,
                                              const SearchSpace& space, ShardBackend& backend);

// The backend of the local search: one engine over the whole level.
class LocalBackend final : public ShardBackend {
 public:
  LocalBackend(SearchData data, const SearchConfig& config, SearchSpace space, WorkerPool& pool,
               bool reference_evaluator);

  std::vector<std::pair<Expression, double>> seed() override { return engine_.seed(); }
  std::optional<LevelSummaries> evaluate(LevelProgress& progress, const Poll& poll) override;
  bool shows_progress() const override { return true; }
  std::string key(std::uint64_t index) override { return engine_.key(index); }
  std::optional<std::vector<RankedRest>> remaining(const BeamPlan& plan, const Poll& poll) override;
  std::optional<std::vector<Expression>> expressions(std::span<const std::uint64_t> indices,
                                                     const Poll& poll) override {
    return engine_.expressions(indices, poll);
  }
  bool retain(std::vector<Expression> retained, const Poll& poll) override {
    return engine_.retain(std::move(retained), poll);
  }
  bool replay(std::vector<Expression> retained, const Poll& poll) override {
    return engine_.generate(poll) && engine_.retain(std::move(retained), poll);
  }
  std::uint64_t refinements() const override { return engine_.refinements(); }
  std::uint64_t workers() const override;

 private:
  SearchEngine engine_;
  WorkerPool& pool_;
};

}  // namespace tov
