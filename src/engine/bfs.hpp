// run_bfs: one complete level-wise search, from samples and targets to the
// staircase of found formulas.
#pragma once

#include <cstdint>
#include <cstdio>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "config/search_config.hpp"
#include "result/search_error.hpp"
#include "result/search_result.hpp"

namespace tov {

class WorkerPool;
class ShardTransport;

// Counters of one search, for benchmarks and diagnostics.
struct SearchStats {
  std::vector<std::uint64_t> generated;   // per level: candidates tried before deduplication
  std::vector<std::uint64_t> candidates;  // per level: new candidates evaluated
  std::uint64_t refinements = 0;          // constant refinements run during the levels
};

// One completed level, as the level callback sees it.
struct LevelReport {
  std::uint64_t level = 0;       // 1 for the seeds
  std::uint64_t candidates = 0;  // new candidates evaluated (the seeds at level 1)
  std::uint64_t retained = 0;    // expressions kept for later levels
  double seconds = 0.0;          // time the level took
  // The lowest error on the front so far and its formula; none while the
  // front is empty.
  std::optional<double> best_error;
  std::string best_formula;
};

// How a search ended.
struct SearchEnding {
  std::uint64_t last_level = 0;      // the last level completed (1: the seeds)
  bool time_limit_reached = false;   // the deadline cut the search short
  bool stopped_by_callback = false;  // the level callback asked to stop
};

// How a search is run, as opposed to what it searches for. The defaults are
// those of a normal call.
struct SearchControl {
  // Polled on the calling thread between phases and about every 100 ms while
  // workers run. Returning true winds the search down; it then returns
  // Interrupted.
  std::function<bool()> interrupted;
  // Pool for the parallel phases; null means the process-wide pool.
  WorkerPool* pool = nullptr;
  // Destination of the console output; null means standard output.
  std::FILE* out = nullptr;
  // Evaluate every candidate through the plain expression evaluator instead
  // of the cached fast paths. Results are identical; this is the reference
  // the fast paths are checked and measured against.
  bool reference_evaluator = false;
  // Filled with the search's counters when not null.
  SearchStats* stats = nullptr;
  // Bytes the search may use. Unset: what the system reports available
  // (MemAvailable, and the cgroup limit when one is set). A level whose
  // estimated need exceeds it ends the search with MemoryLimitExceeded
  // instead of letting the process be killed.
  std::optional<std::uint64_t> memory_limit;
  // Called on the calling thread after each completed level, the seeds
  // being level 1. Returning true ends the search there: the result is that
  // of the same search with max_complexity set to that level.
  std::function<bool(const LevelReport&)> on_level;
  // Filled with how the search ended when not null.
  SearchEnding* ending = nullptr;
  // When set, the levels are evaluated by the workers this transport
  // reaches instead of in this process; results are the same.
  ShardTransport* transport = nullptr;
};

// Returns the results most complex first, or InvalidInput when rows and
// targets are empty or differ in number (or the weights are unusable),
// NoFormulaFound when nothing usable was found, MemoryLimitExceeded when a
// level would not fit in memory, Interrupted when `control` asked to stop.
// `weights`, when not empty, weigh the samples (one per target). With a time
// limit in `config`, a level still running when it passes is abandoned and
// the result is that of the same search with max_complexity set to the last
// completed level.
Outcome<std::vector<SearchResult>> run_bfs(std::span<const std::vector<double>> rows,
                                           std::span<const double> targets,
                                           std::span<const double> weights,
                                           const SearchConfig& config,
                                           const SearchControl& control = {});
Outcome<std::vector<SearchResult>> run_bfs(std::span<const std::vector<double>> rows,
                                           std::span<const double> targets,
                                           const SearchConfig& config,
                                           const SearchControl& control = {});

}  // namespace tov
