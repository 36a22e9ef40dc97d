// run_bfs: one complete level-wise search, from samples and targets to the
// staircase of found formulas.
#pragma once

#include <cstdint>
#include <cstdio>
#include <functional>
#include <optional>
#include <span>
#include <vector>

#include "config/search_config.hpp"
#include "result/search_error.hpp"
#include "result/search_result.hpp"

namespace tov {

class WorkerPool;

// Counters of one search, for benchmarks and diagnostics.
struct SearchStats {
  std::vector<std::uint64_t> generated;   // per level: candidates tried before deduplication
  std::vector<std::uint64_t> candidates;  // per level: new candidates evaluated
  std::uint64_t refinements = 0;          // constant refinements run during the levels
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
};

// Returns the results most complex first, or InvalidInput when rows and
// targets are empty or differ in number, NoFormulaFound when nothing usable
// was found, MemoryLimitExceeded when a level would not fit in memory,
// Interrupted when `control` asked to stop.
Outcome<std::vector<SearchResult>> run_bfs(std::span<const std::vector<double>> rows,
                                           std::span<const double> targets,
                                           const SearchConfig& config,
                                           const SearchControl& control = {});

}  // namespace tov
