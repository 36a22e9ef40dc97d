// The worker engine and the client backend of a distributed search.
#include "cluster/distributed.hpp"

#include <algorithm>
#include <stdexcept>
#include <utility>

namespace tov {

namespace {

// Workers stop only when their process does; the client cancels their tasks.
const Poll kNeverStop = [] { return false; };

}  // namespace

WorkerEngine::WorkerEngine(std::string_view data, std::string_view config, std::size_t threads)
    : config_(wire::decode_config(config)),
      pool_(threads),
      engine_(wire::decode_data(data), config_, make_search_space(config_), pool_) {
  static_cast<void>(engine_.seed());
}

void WorkerEngine::prepare(std::size_t level, std::span<const std::string_view> retained) {
  if (level < 2 || level - 2 > retained.size())
    throw std::invalid_argument("a level needs every retained level below it");
  if (engine_.level() > level) throw std::logic_error("this engine is past the requested level");
  while (engine_.level() < level) {
    if (engine_.retained_level() < engine_.level()) {
      // The last level is generated but not yet retained: install it.
      const std::size_t pending = engine_.level();
      if (!engine_.retain(wire::decode_expressions(retained[pending - 2]), kNeverStop))
        throw std::logic_error("retaining a level was interrupted");
      evaluated_.clear();
    }
    if (!engine_.generate(kNeverStop)) throw std::logic_error("generation was interrupted");
  }
}

std::string WorkerEngine::evaluate(std::size_t shard, std::size_t shards) {
  const std::vector<std::uint64_t> bounds = engine_.shard_bounds(shards);
  std::optional<ShardSummary> summary =
      engine_.evaluate(bounds[shard], bounds[shard + 1], nullptr, kNeverStop);
  if (!summary) throw std::logic_error("evaluation was interrupted");
  evaluated_[bounds[shard]] = bounds[shard + 1];
  wire::KeyedSummary keyed{std::move(*summary), {}};
  for (const Ranked& r : keyed.summary.top) keyed.top_keys.push_back(engine_.key(r.index));
  return wire::encode(keyed);
}

std::string WorkerEngine::complete(std::size_t shard, std::size_t shards, std::string_view plan) {
  const std::vector<std::uint64_t> bounds = engine_.shard_bounds(shards);
  const std::uint64_t begin = bounds[shard];
  const std::uint64_t end = bounds[shard + 1];
  if (!evaluated_.contains(begin)) static_cast<void>(evaluate(shard, shards));
  const BeamPlan beam = wire::decode_plan(plan);
  wire::Completion completion;
  completion.rest = engine_.best_remaining(begin, beam);
  std::vector<std::uint64_t> wanted;
  for (const std::uint64_t i : beam.top)
    if (i >= begin && i < end) wanted.push_back(i);
  for (const RankedRest& r : completion.rest) wanted.push_back(r.index);
  std::optional<std::vector<Expression>> built = engine_.expressions(wanted, kNeverStop);
  if (!built) throw std::logic_error("building expressions was interrupted");
  for (std::size_t i = 0; i < wanted.size(); ++i)
    completion.expressions[wanted[i]] = std::move((*built)[i]);
  return wire::encode(completion);
}

ShardedBackend::ShardedBackend(SearchData data, const SearchConfig& config,
                               const SearchSpace& space, ShardTransport& transport)
    : data_(std::move(data)), config_(config), space_(space), transport_(transport) {}

std::vector<std::pair<Expression, double>> ShardedBackend::seed() {
  return seed_leaves(data_, data_.objective(config_), space_.registry->ops(),
                     config_.named_constants);
}

std::optional<LevelSummaries> ShardedBackend::evaluate(LevelProgress&, const Poll& poll) {
  if (!replayed_.empty() && !transport_.resume(std::exchange(replayed_, {}))) return std::nullopt;
  ++level_;
  keys_.clear();
  expressions_.clear();
  std::optional<std::vector<std::string>> messages =
      transport_.evaluate(level_, retained_ ? &*retained_ : nullptr, poll);
  if (!messages) return std::nullopt;
  LevelSummaries level;
  for (const std::string& message : *messages) {
    wire::KeyedSummary keyed = wire::decode_summary(message);
    for (std::size_t i = 0; i < keyed.top_keys.size(); ++i)
      keys_[keyed.summary.top[i].index] = std::move(keyed.top_keys[i]);
    level.candidates = std::max(level.candidates, keyed.summary.end);
    level.shards.push_back(std::move(keyed.summary));
  }
  return level;
}

std::string ShardedBackend::key(std::uint64_t index) {
  const auto it = keys_.find(index);
  if (it == keys_.end()) throw std::logic_error("no structure key for a top candidate");
  return it->second;
}

std::optional<std::vector<RankedRest>> ShardedBackend::remaining(const BeamPlan& plan,
                                                                 const Poll& poll) {
  std::optional<std::vector<std::string>> messages =
      transport_.complete(level_, wire::encode(plan), poll);
  if (!messages) return std::nullopt;
  std::vector<RankedRest> rest;
  for (const std::string& message : *messages) {
    wire::Completion completion = wire::decode_completion(message);
    rest.insert(rest.end(), completion.rest.begin(), completion.rest.end());
    expressions_.merge(completion.expressions);
  }
  return rest;
}

std::optional<std::vector<Expression>> ShardedBackend::expressions(
    std::span<const std::uint64_t> indices, const Poll&) {
  std::vector<Expression> out;
  out.reserve(indices.size());
  for (const std::uint64_t i : indices) {
    const auto it = expressions_.find(i);
    if (it == expressions_.end()) throw std::logic_error("a selected candidate was not sent");
    out.push_back(it->second);
  }
  return out;
}

bool ShardedBackend::retain(std::vector<Expression> retained, const Poll&) {
  retained_ = wire::encode(retained);
  return true;
}

bool ShardedBackend::replay(std::vector<Expression> retained, const Poll&) {
  ++level_;
  if (retained_) replayed_.push_back(std::move(*retained_));
  retained_ = wire::encode(retained);
  return true;
}

Outcome<std::vector<SearchResult>> run_distributed(std::span<const std::vector<double>> rows,
                                                   std::span<const double> targets,
                                                   std::span<const double> weights,
                                                   const SearchConfig& config,
                                                   const SearchControl& control,
                                                   ShardTransport& transport) {
  Outcome<PreparedData> data = prepare_search_data(rows, targets, weights, config, control.names);
  if (!data) return std::move(data.error());
  return run_distributed(std::move(data.value()), config, control, transport);
}

Outcome<std::vector<SearchResult>> run_distributed(PreparedData data, const SearchConfig& config,
                                                   const SearchControl& control,
                                                   ShardTransport& transport) {
  const std::size_t searched_rows = data.searched.samples.size();
  if (!transport.start(wire::encode(data.searched), wire::encode(config)))
    return SearchError{Interrupted{}};
  const SearchSpace space = make_search_space(config);
  ShardedBackend backend(std::move(data.searched), config, space, transport);
  return run_search(std::move(data.all), searched_rows, config, control, space, backend);
}

}  // namespace tov
