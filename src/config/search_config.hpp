// SearchConfig: every setting of one searcher. Read-only during a search;
// per-call changes are made on private copies.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <variant>
#include <vector>

#include "ops/operator.hpp"

namespace tov {

// Loss selector. It is carried for callers but consulted by no operation: the
// objective of every search is mean squared error plus the elastic-net term.
struct LossDefault {};
struct LossAlternative1 {};
struct LossAlternative2 {};
struct LossAlternative3 {};
using LossFunction = std::function<double(std::span<const double>, std::span<const double>)>;
struct CustomLoss {
  std::shared_ptr<const LossFunction> function;  // may be called from several threads
};
using Loss =
    std::variant<LossDefault, LossAlternative1, LossAlternative2, LossAlternative3, CustomLoss>;

// Hardware threads available to this process (CPU affinity respected): the
// size of the process-wide worker pool. Reading it starts nothing.
std::uint64_t available_threads();

// A field that travels to a distributed search's workers or is a Python
// setting has its row in config/config_fields.hpp.
struct SearchConfig {
  Loss loss{};
  std::vector<std::shared_ptr<const Operator>> operators;  // carried, not used
  std::uint64_t max_complexity = 10;
  double early_exit_tolerance = 1e-10;
  std::uint64_t reserved_a = 512;
  // Threads of the worker pool; informational, the search uses the pool it is given.
  std::uint64_t worker_threads = available_threads();
  std::uint64_t reserved_b = 300000;
  std::uint64_t beam_width = 1000;
  double complexity_penalty = 0.1;
  double alpha = 0.0;
  double l1_ratio = 0.5;
  bool exhaustive = false;
  bool reserved_flag = true;
  bool refine_params = true;

  // Steering a search; the defaults search as above.
  // Bit k set: operator id k may be used (every builtin by default).
  std::uint64_t operator_mask = ~std::uint64_t{0};
  // Seconds after which the level in progress is abandoned and the search
  // ends with the levels completed so far.
  std::optional<double> time_limit;
  // Console output; false prints nothing.
  bool verbose = true;
  // Levels are searched on at most this many rows, spread over the data; the
  // final selection refines and scores on every row.
  std::optional<std::uint64_t> max_search_rows;
  // Judge every candidate after its best affine map a f + b.
  bool linear_scaling = false;
  // When set, replaces early_exit_tolerance: the search stops once a formula's
  // error is at most this.
  std::optional<double> target_error;
  // Above 1: the final staircase also holds sums of up to this many of the
  // retained formulas and products of powers of up to this many.
  std::uint64_t max_terms = 1;
  // The number of formulas those models are chosen from.
  std::uint64_t term_pool = 150;
  // What stands for a number in a formula: the free parameter C, fitted to
  // the data, or (when set) the named constants 1 to 5, pi and e, so that
  // every formula is a closed form with nothing to fit. The searcher stops a
  // search with named constants at the rounding floor of its targets rather
  // than at 1e-10.
  bool named_constants = false;
  // After every level, formulas built from two retained formulas (or one
  // under a unary root) found by lookup join the front.
  bool meet_in_the_middle = false;
  // When set, the file that keeps the search's completed levels: a search
  // given the same file, data and settings continues after the last level
  // it holds. Changes no result.
  std::optional<std::string> checkpoint;

  double exit_tolerance() const { return target_error.value_or(early_exit_tolerance); }
};

}  // namespace tov
