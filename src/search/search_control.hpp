// What the parts of one search share beyond its data and settings: how it
// is run (SearchControl), what it counts (SearchStats), what the level
// callback sees (LevelReport) and how it ended (SearchEnding). The local
// entry point, the driver, the coordinator and both backends read these.
#pragma once

#include <cstdint>
#include <cstdio>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "fit/search_data.hpp"
#include "formula/expression.hpp"

namespace tov {

class LevelLog;
class WorkerPool;

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

  // The max_complexity the result answers for: a search cut short answers
  // as the search that ends at its last completed level.
  std::uint64_t answered_max_complexity(std::uint64_t configured) const {
    return time_limit_reached || stopped_by_callback ? last_level : configured;
  }
};

// The steps of a level after the seeds, in order. The deadline is checked
// as each step begins and while it runs; a level whose retention finished
// is complete, and only a complete level changes the front.
enum class LevelStep : std::uint8_t {
  Start,        // before the level: the memory check
  Evaluation,   // generating and evaluating the candidates
  BeamPlan,     // round 1 of the beam selection
  SecondRound,  // round 2 of the beam selection on every shard
  Expressions,  // building the selected expressions
  Retention,    // installing them for the next level
  Pairs,        // with meet_in_the_middle: formulas from two retained ones
};

// How a caller decides that a formula answers its question.
struct AnswerCheck {
  double tolerance = 0.0;
  std::function<bool(const Expression& formula, double error)> accepts;
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
  // The caller's names of the inputs and targets, for the messages that
  // point at a bad value.
  DataNames names;
  // With a time limit, says whether its deadline has passed at this step of
  // this level, in place of the clock; once true, the deadline stays
  // passed. Lets a test place the deadline at every step of a level.
  std::function<bool(std::uint64_t level, LevelStep step)> deadline_passed;
  // When set, the search stops early only on a front entry within this
  // check's tolerance (in place of the exit tolerance) that `accepts`, given
  // the formula in the form the final selection gives it and its error
  // there. A search on transformed data (the dimensionless groups of physical
  // units) thus confirms on the caller's data that the formula answers the
  // caller's question.
  std::optional<AnswerCheck> answer_check;
  // When set, every completed level is appended to it, and a search it
  // holds levels of continues after the last of them.
  LevelLog* checkpoint = nullptr;
  // Told of a problem the search goes on despite (a checkpoint it cannot
  // write); null: it is printed to standard error.
  std::function<void(const std::string& message)> warn;
};

}  // namespace tov
