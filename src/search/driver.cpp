// The search driver shared by the local and the distributed search, and the
// local backend.
#include "search/driver.hpp"

#include <utility>

#include "search/coordinator.hpp"
#include "search/level_log.hpp"
#include "search/worker_pool.hpp"

namespace tov {

namespace {

// How a level ended.
enum class LevelEnd { Completed, Interrupted, Deadline };

// Runs one level; `count` receives its number of candidates, `kept` the
// number it retains, `kept_expressions` (when given) those expressions.
// The front takes the level's candidates only once the level is complete:
// a level abandoned at any step leaves the search as it was before it.
LevelEnd run_level(ShardBackend& backend, SearchCoordinator& coordinator, const Poll& poll,
                   SearchStats* stats, std::uint64_t& count, std::uint64_t& kept,
                   std::vector<Expression>* kept_expressions) {
  const auto stopped = [&](bool progress_showing) {
    if (coordinator.interrupted()) return LevelEnd::Interrupted;
    coordinator.abandon_level(progress_showing);
    return LevelEnd::Deadline;
  };
  // Each step starts with the deadline checked, so a deadline falls between
  // steps as it can within them.
  const auto enter = [&](LevelStep step) {
    coordinator.enter(step);
    return !poll();
  };
  LevelProgress progress = coordinator.progress_line();
  if (!enter(LevelStep::Evaluation)) return stopped(false);
  const std::optional<LevelSummaries> level = backend.evaluate(progress, poll);
  if (stats) stats->refinements = backend.refinements();
  if (!level) return stopped(progress.started());
  count = level->candidates;
  if (stats) stats->candidates.push_back(count);
  if (backend.shows_progress()) coordinator.end_evaluation(count);

  if (!enter(LevelStep::BeamPlan)) return stopped(false);
  const BeamPlan plan =
      coordinator.plan_beam(level->shards, [&](std::uint64_t i) { return backend.key(i); });
  if (!enter(LevelStep::SecondRound)) return stopped(false);
  std::optional<std::vector<RankedRest>> rest = backend.remaining(plan, poll);
  if (!rest) return stopped(false);
  const std::vector<std::uint64_t> picked = finish_beam(plan, std::move(*rest));
  if (!enter(LevelStep::Expressions)) return stopped(false);
  std::optional<std::vector<Expression>> retained = backend.expressions(picked, poll);
  if (!retained) return stopped(false);
  kept = picked.size();
  if (!enter(LevelStep::Retention)) return stopped(false);
  coordinator.keep_retained(*retained);
  if (kept_expressions) *kept_expressions = *retained;
  if (!backend.retain(std::move(*retained), poll)) return stopped(false);
  if (coordinator.finds_pairs() && (!enter(LevelStep::Pairs) || !coordinator.find_pairs(poll)))
    return stopped(false);
  coordinator.feed_front(level->shards);
  return LevelEnd::Completed;
}

}  // namespace

Outcome<std::vector<SearchResult>> run_search(SearchData data, std::size_t searched_rows,
                                              const SearchConfig& config,
                                              const SearchControl& control,
                                              const SearchSpace& space, ShardBackend& backend) {
  SearchCoordinator coordinator(std::move(data), searched_rows, config, control, space.registry);
  const Poll poll = [&] { return coordinator.should_stop(); };
  const auto interrupted = [] {
    return Outcome<std::vector<SearchResult>>(SearchError{Interrupted{}});
  };

  // No formula has zero tokens.
  if (config.max_complexity == 0) return coordinator.finalize();

  const std::vector<std::pair<Expression, double>> seeds = backend.seed();
  std::vector<std::uint64_t> level_sizes{0, seeds.size()};
  LevelLog* const log = control.checkpoint;
  bool go_on = false;
  std::uint64_t first_level = 2;
  if (log && !log->restored().empty()) {
    // The engines catch up only when a level is left to run; only the
    // caller stops them.
    const std::vector<LevelRecord>& restored = log->restored();
    go_on = coordinator.restore(restored);
    first_level = restored.back().level + 1;
    const Poll caller_stops = [&] { return coordinator.interrupted(); };
    for (const LevelRecord& r : restored) {
      if (r.level < 2) continue;
      level_sizes.push_back(r.retained.size());
      if (go_on && first_level <= config.max_complexity &&
          !backend.replay(r.retained, caller_stops))
        return interrupted();
    }
  } else {
    go_on = coordinator.seed(seeds);
    if (log) log->append(coordinator.record({}, go_on));
  }
  if (go_on) {
    for (std::uint64_t level = first_level; level <= config.max_complexity; ++level) {
      if (coordinator.interrupted()) return interrupted();
      coordinator.begin_level(level);
      if (coordinator.past_deadline()) {
        coordinator.abandon_level(false);
        break;
      }
      if (auto error = coordinator.check_memory(level, level_sizes, space.unary.size(),
                                                space.binary.size(), backend.workers()))
        return std::move(*error);
      std::uint64_t candidates = 0;
      std::uint64_t kept = 0;
      std::vector<Expression> retained;
      const LevelEnd end = run_level(backend, coordinator, poll, control.stats, candidates, kept,
                                     log ? &retained : nullptr);
      if (end == LevelEnd::Interrupted) return interrupted();
      if (end == LevelEnd::Deadline) break;
      level_sizes.push_back(kept);
      const bool next = coordinator.finish_level(candidates, level_sizes.back());
      if (log) log->append(coordinator.record(std::move(retained), next));
      if (!next) break;
    }
  }
  if (coordinator.interrupted()) return interrupted();
  return coordinator.finalize();
}

LocalBackend::LocalBackend(SearchData data, const SearchConfig& config, SearchSpace space,
                           WorkerPool& pool, bool reference_evaluator)
    : engine_(std::move(data), config, std::move(space), pool), pool_(pool) {
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
