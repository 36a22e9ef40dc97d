// The search driver shared by the local and the distributed search, and the
// local backend.
#include "engine/driver.hpp"

#include <utility>

#include "engine/coordinator.hpp"
#include "engine/worker_pool.hpp"

namespace tov {

namespace {

// How a level ended.
enum class LevelEnd { Completed, Interrupted, Deadline };

// Runs one level; `count` receives its number of candidates, `kept` the
// number it retains.
LevelEnd run_level(ShardBackend& backend, SearchCoordinator& coordinator, const Poll& poll,
                   SearchStats* stats, std::uint64_t& count, std::uint64_t& kept) {
  const auto stopped = [&] {
    return coordinator.interrupted() ? LevelEnd::Interrupted : LevelEnd::Deadline;
  };
  LevelProgress progress = coordinator.progress_line();
  const std::optional<LevelSummaries> level = backend.evaluate(progress, poll);
  if (stats) stats->refinements = backend.refinements();
  if (!level) {
    if (!coordinator.interrupted()) coordinator.abandon_level(progress.started());
    return stopped();
  }
  count = level->candidates;
  if (stats) stats->candidates.push_back(count);
  if (backend.shows_progress()) coordinator.end_evaluation(count);

  coordinator.feed_front(level->shards);
  const BeamPlan plan =
      coordinator.plan_beam(level->shards, [&](std::uint64_t i) { return backend.key(i); });
  std::optional<std::vector<RankedRest>> rest = backend.remaining(plan, poll);
  if (!rest) {
    if (!coordinator.interrupted()) coordinator.abandon_level(false);
    return stopped();
  }
  const std::vector<std::uint64_t> picked = finish_beam(plan, std::move(*rest));
  std::optional<std::vector<Expression>> retained = backend.expressions(picked, poll);
  kept = picked.size();
  if (retained) coordinator.keep_retained(*retained);
  if (!retained || !backend.retain(std::move(*retained), poll)) {
    if (!coordinator.interrupted()) coordinator.abandon_level(false);
    return stopped();
  }
  return LevelEnd::Completed;
}

std::vector<std::uint64_t> enabled_counts(std::uint64_t mask) {
  std::vector<std::uint64_t> counts(3, 0);
  for (const BuiltinInfo& info : kBuiltins)
    if ((mask >> info.id) & 1) ++counts[info.arity];
  return counts;
}

}  // namespace

Outcome<std::vector<SearchResult>> run_search(SearchData data, std::size_t searched_rows,
                                              const SearchConfig& config,
                                              const SearchControl& control, ShardBackend& backend) {
  SearchCoordinator coordinator(
      std::move(data), searched_rows, config, control,
      std::make_shared<const OperatorRegistry>(OperatorRegistry::with_builtins()));
  const Poll poll = [&] { return coordinator.should_stop(); };
  const auto interrupted = [] {
    return Outcome<std::vector<SearchResult>>(SearchError{Interrupted{}});
  };

  // No formula has zero tokens.
  if (config.max_complexity == 0) return coordinator.finalize();

  const std::vector<std::pair<Expression, double>> seeds = backend.seed();
  std::vector<std::uint64_t> level_sizes{0, seeds.size()};
  const std::vector<std::uint64_t> operators = enabled_counts(config.operator_mask);
  if (coordinator.seed(seeds)) {
    for (std::uint64_t level = 2; level <= config.max_complexity; ++level) {
      if (coordinator.interrupted()) return interrupted();
      if (coordinator.past_deadline()) {
        coordinator.abandon_level(false);
        break;
      }
      if (auto error = coordinator.check_memory(level, level_sizes, operators[1], operators[2],
                                                backend.workers()))
        return std::move(*error);
      coordinator.begin_level(level);
      std::uint64_t candidates = 0;
      std::uint64_t kept = 0;
      const LevelEnd end = run_level(backend, coordinator, poll, control.stats, candidates, kept);
      if (end == LevelEnd::Interrupted) return interrupted();
      if (end == LevelEnd::Deadline) break;
      level_sizes.push_back(kept);
      if (!coordinator.finish_level(candidates, level_sizes.back())) break;
    }
  }
  if (coordinator.interrupted()) return interrupted();
  return coordinator.finalize();
}

LocalBackend::LocalBackend(SearchData data, const SearchConfig& config, WorkerPool& pool,
                           bool reference_evaluator)
    : engine_(std::move(data), config, pool), pool_(pool) {
  if (reference_evaluator) engine_.use_reference_evaluator();
}

std::optional<LevelSummaries> LocalBackend::evaluate(LevelProgress& progress, const Poll& poll) {
  if (!engine_.generate(poll)) return std::nullopt;
  const std::uint64_t count = engine_.candidate_count();
  progress.begin(count);
  std::optional<ShardSummary> summary = engine_.evaluate(0, count, &progress, poll);
  if (!summary) return std::nullopt;
  LevelSummaries level;
  level.candidates = count;
  level.shards.push_back(std::move(*summary));
  return level;
}

std::optional<std::vector<RankedRest>> LocalBackend::remaining(const BeamPlan& plan, const Poll&) {
  return engine_.best_remaining(0, plan);
}

std::uint64_t LocalBackend::workers() const { return pool_.thread_count(); }

}  // namespace tov
