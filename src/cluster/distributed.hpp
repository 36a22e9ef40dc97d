// One search spread over the workers of a cluster, with results identical
// to the local search.
//
// Each worker process holds a WorkerEngine per search: it generates every
// level itself (generation is cheap and deterministic, so every worker
// holds the same candidate list) and evaluates the shards it is given, the
// expensive part. The client runs the shared driver with a ShardedBackend,
// which sends each level's retained expressions out and merges the shards'
// summaries. Any worker can take any shard: one that lacks the search's
// state (it joined late, or replaces a lost worker) rebuilds it from the
// data and the retained levels, and a second-round request for a shard it
// did not evaluate evaluates it first.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "cluster/wire.hpp"
#include "search/driver.hpp"
#include "search/search_engine.hpp"
#include "search/worker_pool.hpp"

namespace tov {

class WorkerEngine {
 public:
  // `data` and `config` are the client's messages; `threads` the size of
  // this engine's own worker pool.
  WorkerEngine(std::string_view data, std::string_view config, std::size_t threads);

  // Brings the engine to `level` generated; `retained[k]` holds the retained
  // expressions of level k + 2, for every level below `level`.
  void prepare(std::size_t level, std::span<const std::string_view> retained);
  // Summary message of shard `shard` of `shards` of the prepared level.
  std::string evaluate(std::size_t shard, std::size_t shards);
  // Second-round answer of that shard to the plan message.
  std::string complete(std::size_t shard, std::size_t shards, std::string_view plan);

 private:
  const SearchConfig config_;
  WorkerPool pool_;
  SearchEngine engine_;
  std::map<std::uint64_t, std::uint64_t> evaluated_;  // shard begin -> end
};

// Carries a distributed search's messages to the workers and back.
class ShardTransport {
 public:
  virtual ~ShardTransport() = default;
  // Before the first level: the data and settings messages every worker
  // engine is built from. False when the search is to stop.
  [[nodiscard]] virtual bool start(const std::string& data, const std::string& config) = 0;
  // Evaluates every shard of `level`; `retained` is the retained expressions
  // message of level - 1 (none for level 2). One summary message per shard,
  // in shard order; none when the search is to stop.
  virtual std::optional<std::vector<std::string>> evaluate(std::size_t level,
                                                           const std::string* retained,
                                                           const Poll& poll) = 0;
  // A resumed search, before its first evaluate: the retained expressions
  // messages of levels 2, 3, ... up to the level below the one whose
  // message that evaluate brings. False when the search is to stop.
  [[nodiscard]] virtual bool resume(std::vector<std::string> retained) = 0;
  // The second round with the plan message: one answer per shard.
  virtual std::optional<std::vector<std::string>> complete(std::size_t level,
                                                           const std::string& plan,
                                                           const Poll& poll) = 0;
};

class ShardedBackend final : public ShardBackend {
 public:
  // `data` are the rows the levels are searched on; the seeds are computed
  // here, like every worker computes them.
  ShardedBackend(SearchData data, const SearchConfig& config, const SearchSpace& space,
                 ShardTransport& transport);

  std::vector<std::pair<Expression, double>> seed() override;
  std::optional<LevelSummaries> evaluate(LevelProgress& progress, const Poll& poll) override;
  bool shows_progress() const override { return false; }
  std::string key(std::uint64_t index) override;
  std::optional<std::vector<RankedRest>> remaining(const BeamPlan& plan, const Poll& poll) override;
  std::optional<std::vector<Expression>> expressions(std::span<const std::uint64_t> indices,
                                                     const Poll& poll) override;
  bool retain(std::vector<Expression> retained, const Poll& poll) override;
  bool replay(std::vector<Expression> retained, const Poll& poll) override;
  std::uint64_t workers() const override { return 1; }

 private:
  SearchData data_;
  const SearchConfig& config_;
  const SearchSpace& space_;
  ShardTransport& transport_;
  std::size_t level_ = 1;
  std::optional<std::string> retained_;  // the last level's retained expressions
  std::vector<std::string> replayed_;    // the levels before it, replayed, not yet sent
  std::map<std::uint64_t, std::string> keys_;
  std::map<std::uint64_t, Expression> expressions_;
};

// The distributed search: the same input checks and row subset as run_bfs,
// then the shared driver on a ShardedBackend over `transport`.
Outcome<std::vector<SearchResult>> run_distributed(std::span<const std::vector<double>> rows,
                                                   std::span<const double> targets,
                                                   std::span<const double> weights,
                                                   const SearchConfig& config,
                                                   const SearchControl& control,
                                                   ShardTransport& transport);
// The same on data already checked and split.
Outcome<std::vector<SearchResult>> run_distributed(PreparedData data, const SearchConfig& config,
                                                   const SearchControl& control,
                                                   ShardTransport& transport);

}  // namespace tov
