// The level-wise search driver: seeding, candidate generation and
// deduplication, parallel evaluation from cached operand values, the front
// feed, beam selection, the memory guard and the console reports.
#include "engine/bfs.hpp"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <memory>
#include <optional>
#include <random>
#include <string>
#include <utility>

#include "core/decimal.hpp"
#include "core/fingerprint.hpp"
#include "engine/beam.hpp"
#include "engine/block_eval.hpp"
#include "engine/console.hpp"
#include "engine/expansion.hpp"
#include "engine/fast_refine.hpp"
#include "engine/memory.hpp"
#include "engine/optimizer.hpp"
#include "engine/pareto.hpp"
#include "engine/scoring.hpp"
#include "engine/seen_set.hpp"
#include "engine/worker_pool.hpp"

namespace tov {

namespace {

constexpr std::size_t kSearchIterations = 10;
// Candidates are fingerprinted and deduplicated in blocks of this many, so
// the fingerprints of a whole level never exist at once.
constexpr std::size_t kBlockSize = std::size_t{1} << 18;

std::uint64_t random_key() {
  std::random_device device;
  return (std::uint64_t{device()} << 32) ^ device();
}

struct Scored {
  CandidateRef ref;
  double score;
};

// One worker's buffers for one level, reused from candidate to candidate so
// that evaluating a candidate allocates nothing. The level owns one per
// worker of the pool; the calling thread uses the first while the workers
// are idle.
struct WorkerScratch {
  std::vector<Complex> values;
  std::vector<std::uint8_t> valid;
  std::vector<Token> tokens;
  std::vector<double> params;
  std::vector<Column> shifted;
  FastRefiner refiner;
};

struct SearchState {
  const SearchConfig& config;
  const SearchControl& control;
  WorkerPool& pool;
  std::FILE* out;
  std::shared_ptr<const OperatorRegistry> registry;
  std::vector<std::vector<Complex>> samples;
  std::vector<double> targets;
  SeenSet seen;
  std::shared_ptr<ParetoFront> front;
  Levels levels;
  std::atomic<std::uint64_t> refinements{0};

  bool interrupted() const { return control.interrupted && control.interrupted(); }
  OperatorList ops() const { return registry->ops(); }
};

// Values of an expression at every sample and at the fingerprint points.
void fill_cached_values(LevelEntry& entry, const SearchState& state) {
  const Expression& e = entry.expression;
  std::vector<Complex> stack;
  stack.reserve(e.complexity);
  entry.values.resize(state.samples.size());
  entry.valid.resize(state.samples.size());
  for (std::size_t i = 0; i < state.samples.size(); ++i) {
    const auto v = eval_internal(e.tokens, state.samples[i], {}, state.ops(), stack);
    entry.valid[i] = v.has_value();
    entry.values[i] = v.value_or(Complex{});
  }
  // Values with one parameter at a time moved by the Jacobian step.
  const std::size_t ns = state.samples.size();
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
      const auto v = eval_internal(e.tokens, state.samples[i], shifted, state.ops(), stack);
      entry.shifted_valid[k * ns + i] = v.has_value();
      entry.shifted_values[k * ns + i] = v.value_or(Complex{});
    }
  }
  std::vector<Complex> inputs(e.var_count);
  for (std::size_t p = 0; p < kFingerprintPoints; ++p) {
    for (std::size_t j = 0; j < inputs.size(); ++j) inputs[j] = fingerprint_input(p, j);
    stack.clear();
    const auto v = eval_internal(e.tokens, inputs, {}, state.ops(), stack);
    entry.fp_values[p] = v.value_or(Complex{});
  }
}

LevelEntry make_entry(Expression expression, const SearchState& state) {
  LevelEntry entry;
  entry.key = structure_key(expression);
  entry.expression = std::move(expression);
  fill_cached_values(entry, state);
  return entry;
}

// Raw error of a candidate from its operands' cached sample values: one
// operator application per sample.
double fast_raw_error(const CandidateRef& ref, const SearchState& state, WorkerScratch& scratch) {
  const LevelEntry& left = state.levels[ref.left_level][ref.left];
  const LevelEntry& right = ref.right_level ? state.levels[ref.right_level][ref.right] : left;
  const std::size_t n = state.samples.size();
  std::vector<Complex>& values = scratch.values;
  std::vector<std::uint8_t>& valid = scratch.valid;
  values.resize(n);
  valid.resize(n);
  apply_op_block(ref.op, Column{left.values.data(), left.valid.data()},
                 Column{right.values.data(), right.valid.data()}, values.data(), valid.data(), 0,
                 n);
  double sse = 0.0;
  for (std::size_t i = 0; i < n; ++i) {
    if (!valid[i]) return std::numeric_limits<double>::infinity();
    const double d = values[i].re - state.targets[i];
    sse = sse + d * d;
  }
  const double mse = sse / static_cast<double>(state.targets.size());
  // The candidate's tokens are its operands' tokens followed by the operator.
  PenaltySums sums;
  sums.add_stored_values(left.expression.tokens);
  if (ref.right_level) sums.add_stored_values(right.expression.tokens);
  return mse + sums.penalty(state.config.alpha, state.config.l1_ratio);
}

// The candidate as evaluation leaves it: refined when that lowered its error.
// Refinement is deterministic, so rebuilding a candidate this way gives the
// very expression that was scored.
struct Evaluated {
  Expression expression;
  double error;
  bool refined_run = false;  // refinement was attempted
};

Evaluated evaluate(const CandidateRef& ref, const SearchState& state, bool need_expression,
                   WorkerScratch& scratch) {
  const bool refine = state.config.refine_params;
  const bool plain = state.control.reference_evaluator;
  const LevelEntry& left = state.levels[ref.left_level][ref.left];
  const LevelEntry* right = ref.right_level ? &state.levels[ref.right_level][ref.right] : nullptr;
  const std::size_t params =
      std::size_t{left.expression.param_count} + (right ? right->expression.param_count : 0);

  if (plain || params > FastRefiner::kMaxParams) {
    Expression expression = materialize(ref, state.levels, state.registry->metas());
    double error = plain ? compute_raw_error(expression, state.samples, state.targets, state.ops(),
                                             state.config.alpha, state.config.l1_ratio)
                         : fast_raw_error(ref, state, scratch);
    if (refine && params != 0) {
      Refined refined =
          refine_constants(expression, state.samples, state.targets, state.ops(), kSearchIterations,
                           state.config.alpha, state.config.l1_ratio);
      if (refined.error < error) {
        error = refined.error;
        expression = std::move(refined.expression);
      }
    }
    return {std::move(expression), error, refine && params != 0};
  }

  Evaluated result{Expression{}, fast_raw_error(ref, state, scratch), refine && params != 0};
  std::vector<double>& values = scratch.params;
  bool improved = false;
  if (result.refined_run) {
    std::vector<Token>& tokens = scratch.tokens;
    candidate_tokens(ref, state.levels, tokens);
    values.clear();
    for (const Token& t : tokens)
      if (t.kind == TokenKind::Param) values.push_back(t.value.re);
    std::vector<Column>& shifted = scratch.shifted;
    shifted.clear();
    const std::size_t ns = state.samples.size();
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
    const double refined_error = scratch.refiner.refine(
        tokens, state.samples, state.targets, kSearchIterations, state.config.alpha,
        state.config.l1_ratio, values, &known_left, right ? &known_right : nullptr);
    if (refined_error < result.error) {
      result.error = refined_error;
      improved = true;
    }
  }
  if (need_expression) {
    result.expression = materialize(ref, state.levels, state.registry->metas());
    if (improved) {
      std::size_t k = 0;
      for (Token& t : result.expression.tokens)
        if (t.kind == TokenKind::Param) t.value = Complex{values[k++], 0.0};
    }
  }
  return result;
}

// Generates the level's candidates that are new in `seen`, in candidate order;
// no value when interrupted.
std::optional<std::vector<CandidateRef>> generate(std::size_t level, SearchState& state) {
  const auto unary = state.registry->ids_by_arity(1);
  const auto binary = state.registry->ids_by_arity(2);
  const auto metas = state.registry->metas();
  std::vector<CandidateRef> kept;
  std::vector<CandidateRef> block;
  block.reserve(kBlockSize);
  std::vector<std::optional<Fingerprint>> fps;
  std::vector<std::uint8_t> fresh;
  std::vector<std::uint64_t> hashes;
  const auto poll = [&] { return state.interrupted(); };

  const auto flush = [&]() -> bool {
    const bool plain = state.control.reference_evaluator;
    const bool done = parallel_map(
        state.pool, block.size(),
        [&](std::size_t i) -> std::optional<Fingerprint> {
          if (plain) return fingerprint(materialize(block[i], state.levels, metas), state.ops());
          return owner_fingerprint(block[i], state.levels);
        },
        fps, poll);
    if (!done) return false;
    // Each shard inserts its candidates in candidate order, so of two
    // equivalent candidates the earlier one wins whatever the threads.
    std::array<std::vector<std::uint32_t>, SeenSet::kShards> by_shard;
    hashes.resize(block.size());
    for (std::uint32_t i = 0; i < block.size(); ++i) {
      if (!fps[i]) continue;
      hashes[i] = state.seen.hash(*fps[i]);
      by_shard[SeenSet::shard_of(hashes[i])].push_back(i);
    }
    fresh.assign(block.size(), 0);
    const bool inserted = state.pool.run(
        SeenSet::kShards,
        [&](std::size_t shard) {
          for (const std::uint32_t i : by_shard[shard])
            if (state.seen.insert(hashes[i], *fps[i], block[i], state.levels)) fresh[i] = 1;
        },
        poll);
    if (!inserted) return false;
    for (std::size_t i = 0; i < block.size(); ++i)
      if (fresh[i]) kept.push_back(block[i]);
    block.clear();
    return true;
  };

  bool ok = true;
  enumerate_candidates(level, state.levels, unary, binary, metas, [&](const CandidateRef& ref) {
    if (!ok) return;
    block.push_back(ref);
    if (block.size() == kBlockSize) ok = flush();
  });
  if (ok && !block.empty()) ok = flush();
  if (!ok) return std::nullopt;
  return kept;
}

// Seeds level 1 with the parameter "C" and one leaf per variable.
void seed(SearchState& state, std::size_t variables) {
  const auto offer = [&](Expression leaf, bool is_param) {
    const auto fp = fingerprint(leaf, state.ops());
    if (!fp) return;
    const CandidateRef owner{static_cast<std::uint32_t>(state.levels[1].size()), 0, 1, 0,
                             SeenSet::kSeed};
    if (!state.seen.insert(state.seen.hash(*fp), *fp, owner, state.levels)) return;
    if (is_param) {
      score_and_update(*state.front, leaf, state.samples, state.targets, state.ops(),
                       state.config.alpha, state.config.l1_ratio);
    } else {
      const double error = compute_raw_error(leaf, state.samples, state.targets, state.ops(),
                                             state.config.alpha, state.config.l1_ratio);
      if (std::isfinite(error)) update_pareto(*state.front, leaf, error);
    }
    state.levels[1].push_back(make_entry(std::move(leaf), state));
  };
  offer(make_param_leaf(), true);
  for (std::size_t j = 0; j < variables; ++j)
    offer(make_var_leaf(static_cast<std::uint8_t>(j)), false);
}

// Saturating arithmetic for the estimates below: a huge beam must make the
// estimate huge, not wrap around to a small number.
std::uint64_t saturating_mul(std::uint64_t a, std::uint64_t b) {
  std::uint64_t r;
  return __builtin_mul_overflow(a, b, &r) ? UINT64_MAX : r;
}
std::uint64_t saturating_add(std::uint64_t a, std::uint64_t b) {
  std::uint64_t r;
  return __builtin_add_overflow(a, b, &r) ? UINT64_MAX : r;
}

// Candidates level `level` tries before deduplication.
std::uint64_t generated_count(std::size_t level, const SearchState& state) {
  const std::uint64_t unary = state.registry->ids_by_arity(1).size();
  const std::uint64_t binary = state.registry->ids_by_arity(2).size();
  std::uint64_t count = saturating_mul(unary, state.levels[level - 1].size());
  for (std::size_t k = 1; k + 2 <= level; ++k)
    count = saturating_add(
        count, saturating_mul(binary, saturating_mul(state.levels[k].size(),
                                                     state.levels[level - 1 - k].size())));
  return count;
}

// Bytes the level is expected to need beyond what the search holds already:
// its candidates and their fingerprints, the values cached for the
// expressions it retains, and the workers' scratch.
std::uint64_t level_memory(std::size_t level, std::uint64_t generated, const SearchState& state) {
  const std::uint64_t retained = std::min<std::uint64_t>(generated, state.config.beam_width);
  const std::uint64_t column = saturating_mul(state.samples.size(), sizeof(Complex) + 1);
  // Values at the samples, plus one shifted column per parameter (at most
  // one per token), the tokens and the formula text.
  const std::uint64_t per_retained =
      saturating_add(saturating_mul(column, 1 + level), level * (sizeof(Token) + 16) + 256);
  // A refiner holds four columns per node of the candidate.
  const std::uint64_t per_worker = saturating_mul(column, 4 * level + 1);
  return saturating_add(saturating_add(saturating_mul(generated, kBytesPerCandidate),
                                       saturating_mul(retained, per_retained)),
                        saturating_mul(state.pool.thread_count(), per_worker));
}

// Runs one level; false when interrupted.
[[nodiscard]] bool run_level(std::size_t level, SearchState& state) {
  const auto level_start = std::chrono::steady_clock::now();
  const auto poll = [&] { return state.interrupted(); };

  auto candidates = generate(level, state);
  if (!candidates) return false;
  if (state.control.stats) state.control.stats->candidates.push_back(candidates->size());

  std::vector<WorkerScratch> scratch(state.pool.thread_count());
  LevelProgress progress(state.out, level, candidates->size());
  std::vector<std::optional<Scored>> evaluated;
  const double penalty = state.config.complexity_penalty;
  const bool done = parallel_map(
      state.pool, candidates->size(),
      [&](std::size_t worker, std::size_t i) -> std::optional<Scored> {
        progress.step();
        const CandidateRef& ref = (*candidates)[i];
        const Evaluated e = evaluate(ref, state, false, scratch[worker]);
        if (e.refined_run) state.refinements.fetch_add(1, std::memory_order_relaxed);
        const double error = e.error;
        if (!std::isfinite(error)) return std::nullopt;
        return Scored{ref, candidate_score(error, level, penalty)};
      },
      evaluated, poll);
  if (!done) return false;
  if (!candidates->empty()) write_line(state.out, "\n");
  candidates.reset();

  std::vector<Scored> scored;
  for (auto& s : evaluated)
    if (s) scored.push_back(*s);
  evaluated = {};

  // Feeding every candidate in order with a strict "<" leaves the first of
  // the lowest values stored, so only that one needs building.
  const double factor = complexity_factor(penalty, level);
  std::optional<std::size_t> best;
  for (std::size_t i = 0; i < scored.size(); ++i) {
    const double value = scored[i].score / factor;
    if (best ? value < scored[*best].score / factor : state.front->improves(level, value)) best = i;
  }
  if (best) {
    Evaluated e = evaluate(scored[*best].ref, state, true, scratch.front());
    update_pareto(*state.front, e.expression, scored[*best].score / factor);
  }

  std::vector<double> scores(scored.size());
  for (std::size_t i = 0; i < scored.size(); ++i) scores[i] = scored[i].score;
  const auto picked = select_beam_indices(scores, state.config.beam_width, [&](std::size_t i) {
    return candidate_key(scored[i].ref, state.levels);
  });
  std::vector<LevelEntry> retained;
  if (!parallel_map(
          state.pool, picked.size(),
          [&](std::size_t worker, std::size_t i) {
            return make_entry(
                evaluate(scored[picked[i]].ref, state, true, scratch[worker]).expression, state);
          },
          retained, poll))
    return false;
  state.levels[level] = std::move(retained);

  const auto elapsed = std::chrono::steady_clock::now() - level_start;
  write_line(state.out, "[TOV-SR]   -> Level " + decimal(level) + " processed in " +
                            format_duration(elapsed) + ". Retaining top " +
                            decimal(state.levels[level].size()) + " candidates.\n");
  return true;
}

}  // namespace

Outcome<std::vector<SearchResult>> run_bfs(std::span<const std::vector<double>> rows,
                                           std::span<const double> targets,
                                           const SearchConfig& config,
                                           const SearchControl& control) {
  if (rows.size() != targets.size() || rows.empty())
    return SearchError{
        InvalidInput{"Inputs and target vector must be non-empty and equal length."}};
  const std::size_t variables = rows.front().size();
  if (variables > 255)
    return SearchError{InvalidInput{"Too many input variables: " + std::to_string(variables) +
                                    " given, at most 255 are supported."}};

  SearchState state{config,
                    control,
                    control.pool ? *control.pool : WorkerPool::process_pool(),
                    control.out ? control.out : stdout,
                    std::make_shared<const OperatorRegistry>(OperatorRegistry::with_builtins()),
                    {},
                    std::vector<double>(targets.begin(), targets.end()),
                    SeenSet(random_key()),
                    std::make_shared<ParetoFront>(),
                    {}};
  state.samples.reserve(rows.size());
  for (const auto& row : rows) {
    std::vector<Complex> converted;
    converted.reserve(row.size());
    for (const double x : row) converted.push_back(Complex{x, 0.0});
    state.samples.push_back(std::move(converted));
  }
  const auto interrupted = [] {
    return Outcome<std::vector<SearchResult>>(SearchError{Interrupted{}});
  };

  // No formula has zero tokens.
  if (config.max_complexity == 0)
    return finalize_result(state.front, state.registry, config, state.samples, state.targets);

  // Levels grow as the search reaches them; slot 0 stays empty.
  state.levels.resize(2);
  seed(state, variables);

  if (!check_early_exit(*state.front, config.exhaustive, config.early_exit_tolerance)) {
    write_line(state.out, "[TOV-SR] Started search space exploration. Level 1 seeded with " +
                              decimal(state.levels[1].size()) + " primary nodes.\n");
    for (std::uint64_t level = 2; level <= config.max_complexity; ++level) {
      if (state.interrupted()) return interrupted();
      state.levels.emplace_back();
      const std::uint64_t generated = generated_count(level, state);
      if (control.stats) control.stats->generated.push_back(generated);
      const std::uint64_t needed = level_memory(level, generated, state);
      const auto available = control.memory_limit ? control.memory_limit : available_memory();
      if (available && needed > *available) {
        constexpr std::uint64_t kMiB = 1024 * 1024;
        return SearchError{
            MemoryLimitExceeded{needed / kMiB + (needed % kMiB != 0), *available / kMiB}};
      }
      const bool completed = run_level(level, state);
      if (control.stats) control.stats->refinements = state.refinements.load();
      if (!completed) return interrupted();
      if (check_early_exit(*state.front, config.exhaustive, config.early_exit_tolerance)) break;
    }
  }
  if (state.interrupted()) return interrupted();
  return finalize_result(state.front, state.registry, config, state.samples, state.targets);
}

}  // namespace tov
