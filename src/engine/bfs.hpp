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
};

// Returns the results most complex first, or InvalidInput when rows and
// targets are empty or differ in number, NoFormulaFound when nothing usable
// was found, Interrupted when `control` asked to stop.
Outcome<std::vector<SearchResult>> run_bfs(std::span<const std::vector<double>> rows,
                                           std::span<const double> targets,
                                           const SearchConfig& config,
                                           const SearchControl& control = {});

}  // namespace tov
