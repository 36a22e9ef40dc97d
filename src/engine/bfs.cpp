// The local search driver: one engine and one coordinator in this process,
// each level evaluated as a single shard on the worker pool.
#include "engine/bfs.hpp"

#include <utility>

#include "engine/coordinator.hpp"
#include "engine/search_engine.hpp"
#include "engine/worker_pool.hpp"

namespace tov {

namespace {

// How a level ended.
enum class LevelEnd { Completed, Interrupted, Deadline };

// Runs the level after the engine's last; `count` receives its number of
// candidates.
LevelEnd run_level(SearchEngine& engine, SearchCoordinator& coordinator, const Poll& poll,
                   SearchStats* stats, std::uint64_t& count) {
  const auto stopped = [&] {
    return coordinator.interrupted() ? LevelEnd::Interrupted : LevelEnd::Deadline;
  };
  coordinator.begin_level(engine.level() + 1);
  if (!engine.generate(poll)) return stopped();
  count = engine.candidate_count();
  if (stats) stats->candidates.push_back(count);

  LevelProgress progress = coordinator.progress(count);
  const std::optional<ShardSummary> summary = engine.evaluate(0, count, &progress, poll);
  if (stats) stats->refinements = engine.refinements();
  if (!summary) {
    if (!coordinator.interrupted()) coordinator.abandon_level(count != 0);
    return stopped();
  }
  coordinator.end_evaluation(count);

  const std::span<const ShardSummary> summaries(&*summary, 1);
  coordinator.feed_front(summaries);
  const KeyOf key_of = [&](std::uint64_t i) { return engine.key(i); };
  const BeamPlan plan = coordinator.plan_beam(summaries, key_of);
  const std::vector<std::uint64_t> picked = finish_beam(plan, engine.best_remaining(0, plan));
  std::optional<std::vector<Expression>> retained = engine.expressions(picked, poll);
  if (!retained || !engine.retain(std::move(*retained), poll)) {
    if (!coordinator.interrupted()) coordinator.abandon_level(false);
    return stopped();
  }
  return LevelEnd::Completed;
}

}  // namespace

Outcome<std::vector<SearchResult>> run_bfs(std::span<const std::vector<double>> rows,
                                           std::span<const double> targets,
                                           std::span<const double> weights,
                                           const SearchConfig& config,
                                           const SearchControl& control) {
  Outcome<SearchData> data = prepare_data(rows, targets, weights);
  if (!data) return std::move(data.error());
  const std::size_t all_rows = data.value().samples.size();
  const bool subset = config.max_search_rows && *config.max_search_rows < all_rows;
  const std::size_t searched_rows = subset ? *config.max_search_rows : all_rows;

  WorkerPool& pool = control.pool ? *control.pool : WorkerPool::process_pool();
  SearchEngine engine(subset ? data.value().subset(searched_rows) : data.value(), config, pool);
  if (control.reference_evaluator) engine.use_reference_evaluator();
  SearchCoordinator coordinator(std::move(data.value()), searched_rows, config, control,
                                engine.registry());
  const Poll poll = [&] { return coordinator.should_stop(); };
  const auto interrupted = [] {
    return Outcome<std::vector<SearchResult>>(SearchError{Interrupted{}});
  };

  // No formula has zero tokens.
  if (config.max_complexity == 0) return coordinator.finalize();

  if (coordinator.seed(engine.seed())) {
    for (std::uint64_t level = 2; level <= config.max_complexity; ++level) {
      if (coordinator.interrupted()) return interrupted();
      if (coordinator.past_deadline()) {
        coordinator.abandon_level(false);
        break;
      }
      if (auto error =
              coordinator.check_memory(level, engine.level_sizes(), engine.unary_operators(),
                                       engine.binary_operators(), pool.thread_count()))
        return std::move(*error);
      std::uint64_t candidates = 0;
      const LevelEnd end = run_level(engine, coordinator, poll, control.stats, candidates);
      if (end == LevelEnd::Interrupted) return interrupted();
      if (end == LevelEnd::Deadline) break;
      if (!coordinator.finish_level(candidates, engine.level_sizes().back())) break;
    }
  }
  if (coordinator.interrupted()) return interrupted();
  return coordinator.finalize();
}

Outcome<std::vector<SearchResult>> run_bfs(std::span<const std::vector<double>> rows,
                                           std::span<const double> targets,
                                           const SearchConfig& config,
                                           const SearchControl& control) {
  return run_bfs(rows, targets, {}, config, control);
}

}  // namespace tov
