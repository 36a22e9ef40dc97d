// The local search: the data prepared, one engine on the worker pool, and
// the shared driver.
#include "search/bfs.hpp"

#include <utility>

#include "search/driver.hpp"
#include "search/worker_pool.hpp"

namespace tov {

Outcome<std::vector<SearchResult>> run_bfs(std::span<const std::vector<double>> rows,
                                           std::span<const double> targets,
                                           std::span<const double> weights,
                                           const SearchConfig& config,
                                           const SearchControl& control) {
  Outcome<PreparedData> data = prepare_search_data(rows, targets, weights, config, control.names);
  if (!data) return std::move(data.error());
  return run_bfs(std::move(data.value()), config, control);
}

Outcome<std::vector<SearchResult>> run_bfs(PreparedData data, const SearchConfig& config,
                                           const SearchControl& control) {
  const std::size_t searched_rows = data.searched.samples.size();
  WorkerPool& pool = control.pool ? *control.pool : WorkerPool::process_pool();
  const SearchSpace space = make_search_space(config);
  LocalBackend backend(std::move(data.searched), config, space, pool, control.reference_evaluator);
  return run_search(std::move(data.all), searched_rows, config, control, space, backend);
}

Outcome<std::vector<SearchResult>> run_bfs(std::span<const std::vector<double>> rows,
                                           std::span<const double> targets,
                                           const SearchConfig& config,
                                           const SearchControl& control) {
  return run_bfs(rows, targets, {}, config, control);
}

}  // namespace tov
