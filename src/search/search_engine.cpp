// The enumerating side of a search: seeding, generation and deduplication,
// evaluation of candidates from their operands' cached values, the shard
// side of the beam selection, and the cached values of retained expressions.
#include "search/search_engine.hpp"

#include <algorithm>
#include <array>
#include <atomic>
#include <cmath>
#include <limits>
#include <random>
#include <utility>

#include "fit/block_eval.hpp"
#include "fit/fast_refine.hpp"
#include "fit/optimizer.hpp"
#include "formula/exact_constant.hpp"
#include "formula/fingerprint.hpp"
#include "search/worker_pool.hpp"

namespace tov {

namespace {

constexpr std::size_t kSearchIterations = 10;
// Candidates are fingerprinted and deduplicated in blocks of this many, so
// the fingerprints of a whole level never exist at once.
constexpr std::size_t kBlockSize = std::size_t{1} << 18;
constexpr double kInfinity = std::numeric_limits<double>::infinity();

std::uint64_t random_key() {
  std::random_device device;
  return (std::uint64_t{device()} << 32) ^ device();
}

}  // namespace

// One worker's buffers, reused from candidate to candidate so that
// evaluating a candidate allocates nothing. The engine holds one per worker
// of the pool while a level runs; the calling thread uses the first while
// the workers are idle.
struct SearchEngine::Scratch {
  std::vector<Complex> values;
  std::vector<std::uint8_t> valid;
  std::vector<Token> tokens;
  std::vector<double> params;
  std::vector<Column> shifted;
  FastRefiner refiner;
};

// The candidate as evaluation leaves it: refined when that lowered its error.
// Refinement is deterministic, so rebuilding a candidate this way gives the
// very expression that was scored.
struct SearchEngine::Evaluated {
  Expression expression;
  double error;
  bool refined_run = false;  // refinement was attempted
};

SearchEngine::SearchEngine(SearchData data, const SearchConfig& config, SearchSpace space,
                           WorkerPool& pool)
    : data_(std::move(data)),
      config_(config),
      objective_(data_.objective(config_)),
      pool_(pool),
      registry_(std::move(space.registry)),
      unary_(std::move(space.unary)),
      binary_(std::move(space.binary)),
      seen_(random_key()),
      levels_(1) {}

SearchEngine::~SearchEngine() = default;

std::uint64_t SearchEngine::refinements() const { return refinements_; }

std::vector<SearchEngine::Scratch>& SearchEngine::scratch() const {
  if (scratch_.size() != pool_.thread_count())
    scratch_ = std::vector<Scratch>(pool_.thread_count());
  return scratch_;
}

// Values of an expression at every sample and at the fingerprint points.
void SearchEngine::fill_cached_values(LevelEntry& entry) const {
  const Expression& e = entry.expression;
  const OperatorList ops = registry_->ops();
  const std::size_t ns = data_.samples.size();
  std::vector<Complex> stack;
  stack.reserve(e.complexity);
  entry.values.resize(ns);
  entry.valid.resize(ns);
  for (std::size_t i = 0; i < ns; ++i) {
    const auto v = eval_internal(e.tokens, data_.samples[i], {}, ops, stack);
    entry.valid[i] = v.has_value();
    entry.values[i] = v.value_or(Complex{});
  }
  // Values with one parameter at a time moved by the Jacobian step.
  std::vector<Complex> params;
  for (const Token& t : e.tokens)
    if (t.kind == TokenKind::Param) params.push_back(t.value);
  entry.shifted_values.resize(params.size() * ns);
  entry.shifted_valid.resize(params.size() * ns);
  for (std::size_t k = 0; k < params.size(); ++k) {
    std::vector<Complex> shifted(params.size());
    for (std::size_t j = 0; j < params.size(); ++j) shifted[j] = Complex{params[j].re, 0.0};
    shifted[k] = Complex{params[k].re + refinement::kStep, 0.0};
    for (std::size_t i = 0; i < ns; ++i) {
      const auto v = eval_internal(e.tokens, data_.samples[i], shifted, ops, stack);
      entry.shifted_valid[k * ns + i] = v.has_value();
      entry.shifted_values[k * ns + i] = v.value_or(Complex{});
    }
  }
  std::vector<Complex> inputs(e.var_count);
  for (std::size_t p = 0; p < kFingerprintPoints; ++p) {
    for (std::size_t j = 0; j < inputs.size(); ++j) inputs[j] = fingerprint_input(p, j);
    const auto v = eval_internal(e.tokens, inputs, {}, ops, stack);
    entry.fp_values[p] = v.value_or(Complex{});
  }
}

LevelEntry SearchEngine::make_entry(Expression expression) const {
  LevelEntry entry;
  entry.key = structure_key(expression);
  entry.expression = std::move(expression);
  fill_cached_values(entry);
  return entry;
}

std::vector<std::pair<Expression, double>> seed_leaves(const SearchData& data,
                                                       const Objective& objective, OperatorList ops,
                                                       bool named_constants) {
  std::vector<std::pair<Expression, double>> seeds;
  std::vector<Fingerprint> seen;
  const auto offer = [&](Expression leaf) {
    std::optional<Fingerprint> fp = fingerprint(leaf, ops);
    if (!fp || std::find(seen.begin(), seen.end(), *fp) != seen.end()) return;
    seen.push_back(std::move(*fp));
    const double error = compute_raw_error(leaf, data.samples, objective, ops);
    seeds.emplace_back(std::move(leaf), error);
  };
  if (named_constants) {
    for (const ExactConstant& c : named_leaves()) offer(make_exact_leaf(c));
  } else {
    offer(make_param_leaf());
  }
  for (std::size_t j = 0; j < data.variables; ++j)
    offer(make_var_leaf(static_cast<std::uint8_t>(j)));
  return seeds;
}

std::vector<std::pair<Expression, double>> SearchEngine::seed() {
  levels_.resize(2);
  std::vector<std::pair<Expression, double>> seeds =
      seed_leaves(data_, objective_, registry_->ops(), config_.named_constants);
  for (const auto& [leaf, error] : seeds) {
    const CandidateRef owner{static_cast<std::uint32_t>(levels_[1].size()), 0, 1, 0,
                             SeenSet::kSeed};
    const std::optional<Fingerprint> fp = fingerprint(leaf, registry_->ops());
    static_cast<void>(seen_.insert(seen_.hash(*fp), *fp, owner, levels_));
    levels_[1].push_back(make_entry(leaf));
  }
  return seeds;
}

// Raw error of a candidate from its operands' cached sample values: one
// operator application per sample.
double SearchEngine::fast_raw_error(const CandidateRef& ref, Scratch& scratch) const {
  const LevelEntry& left = levels_[ref.left_level][ref.left];
  const LevelEntry& right = ref.right_level ? levels_[ref.right_level][ref.right] : left;
  const std::size_t n = data_.samples.size();
  std::vector<Complex>& values = scratch.values;
  std::vector<std::uint8_t>& valid = scratch.valid;
  values.resize(n);
  valid.resize(n);
  apply_op_block(ref.op, Column{left.values.data(), left.valid.data()},
                 Column{right.values.data(), right.valid.data()}, values.data(), valid.data(), 0,
                 n);
  for (std::size_t i = 0; i < n; ++i)
    if (!valid[i]) return kInfinity;
  Affine scale;
  const double data = data_term([&](std::size_t i) { return values[i]; }, n, objective_, &scale);
  // The candidate's tokens are its operands' tokens followed by the operator.
  PenaltySums sums;
  if (objective_.linear_scaling) sums.add_value(scale.a);
  sums.add_stored_values(left.expression.tokens);
  if (ref.right_level) sums.add_stored_values(right.expression.tokens);
  if (objective_.linear_scaling) sums.add_value(scale.b);
  return data + sums.penalty(objective_.alpha, objective_.l1_ratio);
}

SearchEngine::Evaluated SearchEngine::evaluate_candidate(const CandidateRef& ref,
                                                         bool need_expression,
                                                         Scratch& scratch) const {
  const bool refine = config_.refine_params;
  const LevelEntry& left = levels_[ref.left_level][ref.left];
  const LevelEntry* right = ref.right_level ? &levels_[ref.right_level][ref.right] : nullptr;
  const std::size_t params =
      std::size_t{left.expression.param_count} + (right ? right->expression.param_count : 0);
  const OperatorList ops = registry_->ops();

  if (reference_ || params > FastRefiner::kMaxParams) {
    Expression expression = materialize(ref, levels_, registry_->metas());
    double error = reference_ ? compute_raw_error(expression, data_.samples, objective_, ops)
                              : fast_raw_error(ref, scratch);
    if (refine && params != 0) {
      Refined refined =
          refine_constants(expression, data_.samples, objective_, ops, kSearchIterations);
      if (refined.error < error) {
        error = refined.error;
        expression = std::move(refined.expression);
      }
    }
    return {std::move(expression), error, refine && params != 0};
  }

  Evaluated result{Expression{}, fast_raw_error(ref, scratch), refine && params != 0};
  std::vector<double>& values = scratch.params;
  bool improved = false;
  if (result.refined_run) {
    std::vector<Token>& tokens = scratch.tokens;
    candidate_tokens(ref, levels_, tokens);
    values.clear();
    for (const Token& t : tokens)
      if (t.kind == TokenKind::Param) values.push_back(t.value.re);
    std::vector<Column>& shifted = scratch.shifted;
    shifted.clear();
    const std::size_t ns = data_.samples.size();
    const auto describe = [&](const LevelEntry& e) {
      const std::size_t first = shifted.size();
      for (std::size_t k = 0; k < e.expression.param_count; ++k)
        shifted.push_back({&e.shifted_values[k * ns], &e.shifted_valid[k * ns]});
      return first;
    };
    const std::size_t left_first = describe(left);
    const std::size_t right_first = right ? describe(*right) : shifted.size();
    const KnownOperand known_left{{left.values.data(), left.valid.data()},
                                  std::span(shifted).subspan(left_first, right_first - left_first)};
    const KnownOperand known_right{
        right ? Column{right->values.data(), right->valid.data()} : Column{},
        std::span(shifted).subspan(right_first)};
    const double refined_error =
        scratch.refiner.refine(tokens, data_.samples, objective_, kSearchIterations, values,
                               &known_left, right ? &known_right : nullptr);
    if (refined_error < result.error) {
      result.error = refined_error;
      improved = true;
    }
  }
  if (need_expression) {
    result.expression = materialize(ref, levels_, registry_->metas());
    if (improved) {
      std::size_t k = 0;
      for (Token& t : result.expression.tokens)
        if (t.kind == TokenKind::Param) t.value = Complex{values[k++], 0.0};
    }
  }
  return result;
}

bool SearchEngine::generate(const Poll& poll) {
  const std::size_t level = levels_.size();
  levels_.emplace_back();
  pending_ = true;
  candidates_.clear();
  shards_.clear();
  const auto metas = registry_->metas();
  std::vector<CandidateRef> block;
  block.reserve(kBlockSize);
  std::vector<std::optional<Fingerprint>> fps;
  std::vector<std::uint8_t> fresh;
  std::vector<std::uint64_t> hashes;

  const auto flush = [&]() -> bool {
    const bool done = parallel_map(
        pool_, block.size(),
        [&](std::size_t i) -> std::optional<Fingerprint> {
          if (reference_)
            return fingerprint(materialize(block[i], levels_, metas), registry_->ops());
          return owner_fingerprint(block[i], levels_);
        },
        fps, poll);
    if (!done) return false;
    // Each shard inserts its candidates in candidate order, so of two
    // equivalent candidates the earlier one wins whatever the threads.
    std::array<std::vector<std::uint32_t>, SeenSet::kShards> by_shard;
    hashes.resize(block.size());
    for (std::uint32_t i = 0; i < block.size(); ++i) {
      if (!fps[i]) continue;
      hashes[i] = seen_.hash(*fps[i]);
      by_shard[SeenSet::shard_of(hashes[i])].push_back(i);
    }
    fresh.assign(block.size(), 0);
    const bool inserted = pool_.run(
        SeenSet::kShards,
        [&](std::size_t shard) {
          for (const std::uint32_t i : by_shard[shard])
            if (seen_.insert(hashes[i], *fps[i], block[i], levels_)) fresh[i] = 1;
        },
        poll);
    if (!inserted) return false;
    for (std::size_t i = 0; i < block.size(); ++i)
      if (fresh[i]) candidates_.push_back(block[i]);
    block.clear();
    return true;
  };

  bool ok = true;
  enumerate_candidates(level, levels_, unary_, binary_, metas, [&](const CandidateRef& ref) {
    if (!ok) return;
    block.push_back(ref);
    if (block.size() == kBlockSize) ok = flush();
  });
  if (ok && !block.empty()) ok = flush();
  return ok;
}

std::vector<std::uint64_t> SearchEngine::shard_bounds(std::size_t shards) const {
  // A candidate with parameters is refined: some tens of evaluations of its
  // raw error's cost, and one Jacobian column more per parameter.
  constexpr std::uint64_t kRefinedCost = 20;
  const auto cost = [&](const CandidateRef& ref) -> std::uint64_t {
    const std::size_t params =
        std::size_t{levels_[ref.left_level][ref.left].expression.param_count} +
        (ref.right_level ? levels_[ref.right_level][ref.right].expression.param_count : 0);
    return params != 0 && config_.refine_params ? kRefinedCost * (1 + params) : 1;
  };
  std::uint64_t total = 0;
  for (const CandidateRef& ref : candidates_) total += cost(ref);
  shards = std::max<std::size_t>(shards, 1);
  std::vector<std::uint64_t> bounds{0};
  std::uint64_t sum = 0;
  std::size_t next = 1;
  for (std::uint64_t i = 0; i < candidates_.size() && next < shards; ++i) {
    sum += cost(candidates_[i]);
    // Shard `next` starts where the running cost passes next/shards of the whole.
    while (next < shards && static_cast<unsigned __int128>(sum) * shards >=
                                static_cast<unsigned __int128>(total) * next) {
      bounds.push_back(i + 1);
      ++next;
    }
  }
  while (bounds.size() < shards) bounds.push_back(candidates_.size());
  bounds.push_back(candidates_.size());
  return bounds;
}

std::optional<ShardSummary> SearchEngine::evaluate(std::uint64_t begin, std::uint64_t end,
                                                   LevelProgress* progress, const Poll& poll) {
  const std::size_t level = levels_.size() - 1;
  const double penalty = config_.complexity_penalty;
  std::vector<Scratch>& buffers = scratch();
  std::vector<std::optional<double>> scores;
  std::atomic<std::uint64_t> refinements{0};
  const bool done = parallel_map(
      pool_, end - begin,
      [&](std::size_t worker, std::size_t i) -> std::optional<double> {
        if (progress != nullptr) progress->step();
        const Evaluated e = evaluate_candidate(candidates_[begin + i], false, buffers[worker]);
        if (e.refined_run) refinements.fetch_add(1, std::memory_order_relaxed);
        if (!std::isfinite(e.error)) return std::nullopt;
        return candidate_score(e.error, level, penalty);
      },
      scores, poll);
  refinements_ += refinements.load();
  if (!done) return std::nullopt;

  ShardSummary summary;
  summary.begin = begin;
  summary.end = end;
  std::vector<Ranked>& scored = shards_[begin];
  scored.clear();
  const double factor = complexity_factor(penalty, level);
  const auto front_candidate = [&](const Ranked& r) {
    return FrontCandidate{r.index, r.score / factor, Expression{}};
  };
  for (std::size_t i = 0; i < scores.size(); ++i) {
    if (!scores[i]) continue;
    const Ranked r{begin + i, *scores[i]};
    scored.push_back(r);
    const double value = r.score / factor;
    if (!summary.first) summary.first = front_candidate(r);
    if (!std::isnan(value) && (!summary.lowest || value < summary.lowest->value))
      summary.lowest = front_candidate(r);
  }
  summary.scored = scored.size();
  summary.top = top_by_score(scored, config_.beam_width);
  for (std::optional<FrontCandidate>* c : {&summary.first, &summary.lowest}) {
    if (*c)
      (*c)->expression =
          evaluate_candidate(candidates_[(*c)->index], true, buffers.front()).expression;
  }
  return summary;
}

std::string SearchEngine::key(std::uint64_t index) const {
  return candidate_key(candidates_[index], levels_);
}

std::vector<RankedRest> SearchEngine::best_remaining(std::uint64_t begin,
                                                     const BeamPlan& plan) const {
  const auto it = shards_.find(begin);
  if (it == shards_.end()) return {};
  return tov::best_remaining(it->second, plan, [&](std::uint64_t i) { return key(i); });
}

std::optional<std::vector<Expression>> SearchEngine::expressions(
    std::span<const std::uint64_t> indices, const Poll& poll) {
  std::vector<Scratch>& buffers = scratch();
  std::vector<Expression> out;
  const bool done = parallel_map(
      pool_, indices.size(),
      [&](std::size_t worker, std::size_t i) {
        return evaluate_candidate(candidates_[indices[i]], true, buffers[worker]).expression;
      },
      out, poll);
  if (!done) return std::nullopt;
  return out;
}

bool SearchEngine::retain(std::vector<Expression> retained, const Poll& poll) {
  std::vector<LevelEntry> entries;
  const bool done = parallel_map(
      pool_, retained.size(), [&](std::size_t i) { return make_entry(std::move(retained[i])); },
      entries, poll);
  if (!done) return false;
  levels_.back() = std::move(entries);
  pending_ = false;
  candidates_ = {};
  shards_.clear();
  scratch_ = {};
  return true;
}

}  // namespace tov
