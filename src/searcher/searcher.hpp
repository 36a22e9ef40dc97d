// The native searcher: turns the four kinds of request into searches.
// Holds only its configuration; operations may run concurrently.
#pragma once

#include <span>
#include <vector>

#include "cluster/checkpoint.hpp"
#include "config/search_config.hpp"
#include "result/search_error.hpp"
#include "result/search_result.hpp"
#include "search/bfs.hpp"
#include "units/dimensional.hpp"

namespace tov {

class ShardTransport;

class Searcher {
 public:
  // With a `transport`, the levels are evaluated by the workers it reaches
  // (the distributed search, with the same results); else in this process.
  explicit Searcher(SearchConfig config, SearchControl control = {},
                    ShardTransport* transport = nullptr);

  // One variable: each x becomes a one-value row. `weights`, when not
  // empty, weigh the samples (one per target). With `units`, the search
  // runs on the reduction's groups and y / M, and its formulas come back
  // over the inputs (see searcher/dimensional_search.hpp); a sample at
  // which a group or M has no value is InvalidInput.
  Outcome<SearchResult> find_function(std::span<const double> xs, std::span<const double> ys,
                                      std::span<const double> weights = {},
                                      const Reduction* units = nullptr) const;
  // Row i holds the values of variables 0, 1, ... for sample i.
  Outcome<SearchResult> find_multivariate(std::span<const std::vector<double>> inputs,
                                          std::span<const double> ys,
                                          std::span<const double> weights = {},
                                          const Reduction* units = nullptr) const;
  // Every level is searched; the whole staircase, most complex first.
  Outcome<std::vector<SearchResult>> find_candidates(std::span<const std::vector<double>> inputs,
                                                     std::span<const double> ys,
                                                     std::span<const double> weights = {},
                                                     const Reduction* units = nullptr) const;
  // One sample at the origin with `value` as its target; with named
  // constants a sample without variables, so the formula is a closed form.
  Outcome<SearchResult> recognize_constant(double value) const;

  // The error at which a search of `ys` stops early: target_error when set,
  // else 1e-10 with free constants and the rounding floor of the targets with
  // named ones (nothing lower is reachable, and a near miss above it must not
  // end the search).
  double exit_tolerance(std::span<const double> ys, std::span<const double> weights) const;

  const SearchConfig& config() const { return config_; }

 private:
  // The search's staircase and the max_complexity it answers for: the last
  // completed level when a time limit or the level callback cut it short.
  struct Run {
    Outcome<std::vector<SearchResult>> outcome;
    std::uint64_t max_complexity;
  };
  Run run(std::span<const std::vector<double>> rows, std::span<const double> ys,
          std::span<const double> weights, const SearchConfig& config, SearchControl control) const;
  // The search of checked data, with the checkpoint of `identity` when the
  // configuration names one.
  Run search(PreparedData data, const SearchConfig& config, SearchControl control,
             const CheckpointIdentity& identity) const;
  // `config` with the exit tolerance of named constants for targets `ys`.
  SearchConfig with_exit_floor(const SearchConfig& config, std::span<const double> ys,
                               std::span<const double> weights) const;
  // The same on the reduced data, answered over the inputs.
  Run run_reduced(std::span<const std::vector<double>> rows, std::span<const double> ys,
                  std::span<const double> weights, const SearchConfig& config,
                  const Reduction& units) const;
  Outcome<SearchResult> first(std::span<const std::vector<double>> rows, std::span<const double> ys,
                              std::span<const double> weights, const Reduction* units) const;

  SearchConfig config_;
  SearchControl control_;
  ShardTransport* transport_;
};

}  // namespace tov
