// run_bfs: one complete level-wise search, from samples and targets to the
// staircase of found formulas.
#pragma once

#include <span>
#include <vector>

#include "config/search_config.hpp"
#include "fit/search_data.hpp"
#include "result/search_error.hpp"
#include "result/search_result.hpp"
#include "search/search_control.hpp"

namespace tov {

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
// The same on data already checked and split.
Outcome<std::vector<SearchResult>> run_bfs(PreparedData data, const SearchConfig& config,
                                           const SearchControl& control = {});

}  // namespace tov
