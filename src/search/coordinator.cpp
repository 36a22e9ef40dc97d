// The coordinator: front, console, stopping rules, memory guard and the
// final selection of a search.
#include "search/coordinator.hpp"

#include <cmath>
#include <utility>

#include "numeric/decimal.hpp"
#include "search/memory.hpp"
#include "search/worker_pool.hpp"
#include "terms/term_models.hpp"

namespace tov {

std::optional<FrontCandidate> front_pick(std::span<const ShardSummary> summaries) {
  const ShardSummary* first = nullptr;
  const FrontCandidate* lowest = nullptr;
  for (const ShardSummary& s : summaries) {
    if (s.first && (first == nullptr || s.first->index < first->first->index)) first = &s;
    if (!s.lowest) continue;
    if (lowest == nullptr || s.lowest->value < lowest->value ||
        (s.lowest->value == lowest->value && s.lowest->index < lowest->index))
      lowest = &*s.lowest;
  }
  if (first == nullptr) return std::nullopt;
  if (std::isnan(first->first->value) || lowest == nullptr) return first->first;
  return *lowest;
}

SearchCoordinator::SearchCoordinator(SearchData final_data, std::size_t searched_rows,
                                     const SearchConfig& config, const SearchControl& control,
                                     std::shared_ptr<const OperatorRegistry> registry)
    : final_data_(std::move(final_data)),
      searched_rows_(searched_rows),
      config_(config),
      control_(control),
      registry_(std::move(registry)),
      out_(config.verbose ? (control.out ? control.out : stdout) : nullptr) {
  if (config.meet_in_the_middle) {
    searched_ = searched_rows < final_data_.samples.size() ? final_data_.subset(searched_rows)
                                                           : final_data_;
    pairs_ = std::make_unique<MeetInTheMiddle>(*searched_, config, registry_->ops());
  }
  if (config.time_limit) {
    deadline_ = std::chrono::steady_clock::now() +
                std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                    std::chrono::duration<double>(*config.time_limit));
  }
  level_start_ = std::chrono::steady_clock::now();
}

bool SearchCoordinator::interrupted() const {
  return control_.interrupted && control_.interrupted();
}

bool SearchCoordinator::past_deadline() const {
  if (deadline_passed_ || !deadline_) return deadline_passed_;
  deadline_passed_ = control_.deadline_passed ? control_.deadline_passed(level_, step_)
                                              : std::chrono::steady_clock::now() >= *deadline_;
  return deadline_passed_;
}

bool SearchCoordinator::should_stop() const { return interrupted() || past_deadline(); }

bool SearchCoordinator::seed(std::span<const std::pair<Expression, double>> seeds) {
  for (const auto& [leaf, error] : seeds)
    if (std::isfinite(error)) update_pareto(*front_, leaf, error);
  completed_level_ = 1;
  bool go_on = !answer_found();
  if (go_on) {
    write_line(out_, "[TOV-SR] Started search space exploration. Level 1 seeded with " +
                         decimal(seeds.size()) + " primary nodes.\n");
  }
  last_report_ = report(seeds.size(), seeds.size());
  if (control_.on_level && control_.on_level(last_report_)) {
    stopped_by_callback_ = true;
    go_on = false;
  }
  return go_on;
}

std::optional<SearchError> SearchCoordinator::check_memory(
    std::size_t level, std::span<const std::uint64_t> level_sizes, std::uint64_t unary_operators,
    std::uint64_t binary_operators, std::uint64_t workers) {
  const std::uint64_t generated =
      generated_count(level, level_sizes, unary_operators, binary_operators);
  if (control_.stats) control_.stats->generated.push_back(generated);
  const std::uint64_t needed =
      level_memory(level, generated, config_.beam_width, searched_rows_, workers);
  const auto available = control_.memory_limit ? control_.memory_limit : available_memory();
  if (!available || needed <= *available) return std::nullopt;
  constexpr std::uint64_t kMiB = 1024 * 1024;
  return SearchError{MemoryLimitExceeded{needed / kMiB + (needed % kMiB != 0), *available / kMiB}};
}

void SearchCoordinator::begin_level(std::size_t level) {
  level_ = level;
  step_ = LevelStep::Start;
  level_start_ = std::chrono::steady_clock::now();
}

LevelProgress SearchCoordinator::progress_line() const { return LevelProgress(out_, level_); }

void SearchCoordinator::end_evaluation(std::uint64_t count) const {
  if (count != 0) write_line(out_, "\n");
}

void SearchCoordinator::feed_front(std::span<const ShardSummary> summaries) {
  if (const std::optional<FrontCandidate> pick = front_pick(summaries))
    update_pareto(*front_, pick->expression, pick->value);
  for (const FrontEntry& pair : found_pairs_) update_pareto(*front_, pair.expression, pair.error);
}

bool SearchCoordinator::find_pairs(const Poll& poll) {
  found_pairs_.clear();
  if (!pairs_) return true;
  WorkerPool& pool = control_.pool ? *control_.pool : WorkerPool::process_pool();
  const ParallelFor parallel = [&](std::size_t n, const std::function<void(std::size_t)>& task) {
    return pool.run(n, task, poll);
  };
  found_pairs_ = pairs_->after_level(level_retained_, parallel, poll);
  if (poll()) return false;
  if (config_.max_terms > 1 && !found_pairs_.empty()) {
    std::vector<Expression>& library = retained_.back().second;
    for (const FrontEntry& pair : found_pairs_) library.push_back(pair.expression);
  }
  return true;
}

BeamPlan SearchCoordinator::plan_beam(std::span<const ShardSummary> summaries,
                                      const KeyOf& key_of) const {
  std::vector<Ranked> tops;
  std::uint64_t scored = 0;
  for (const ShardSummary& s : summaries) {
    tops.insert(tops.end(), s.top.begin(), s.top.end());
    scored += s.scored;
  }
  return tov::plan_beam(std::move(tops), scored, config_.beam_width, key_of);
}

SearchEnding SearchCoordinator::ending() const {
  return SearchEnding{completed_level_, time_limit_reached_, stopped_by_callback_};
}

LevelReport SearchCoordinator::report(std::uint64_t candidates, std::uint64_t retained) const {
  LevelReport r;
  r.level = level_;
  r.candidates = candidates;
  r.retained = retained;
  r.seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - level_start_).count();
  for (const auto& [complexity, entry] : front_->entries()) {
    if (!r.best_error || entry.error < *r.best_error) {
      r.best_error = entry.error;
      r.best_formula = entry.expression.formula;
    }
  }
  return r;
}

bool SearchCoordinator::finish_level(std::uint64_t candidates, std::uint64_t retained) {
  candidates += found_pairs_.size();
  const auto elapsed = std::chrono::steady_clock::now() - level_start_;
  write_line(out_, "[TOV-SR]   -> Level " + decimal(level_) + " processed in " +
                       format_duration(elapsed) + ". Retaining top " + decimal(retained) +
                       " candidates.\n");
  completed_level_ = level_;
  last_report_ = report(candidates, retained);
  if (control_.on_level && control_.on_level(last_report_)) {
    stopped_by_callback_ = true;
    return false;
  }
  return !answer_found();
}

bool SearchCoordinator::answer_found() {
  const std::optional<AnswerCheck>& check = control_.answer_check;
  const double tolerance = check ? check->tolerance : config_.exit_tolerance();
  const Objective objective = final_data_.objective(config_);
  const bool rescore = searched_rows_ != final_data_.samples.size();
  if (config_.exhaustive || (!objective.linear_scaling && !rescore && !check))
    return check_early_exit(*front_, config_.exhaustive, tolerance);
  for (const auto& [complexity, entry] : front_->entries()) {
    if (!(entry.error <= tolerance)) continue;
    const auto judged = judged_.find(complexity);
    if (judged != judged_.end() && judged->second.first == entry.error) {
      if (judged->second.second) return true;
      continue;
    }
    const FrontEntry final =
        final_form(entry, config_, final_data_.samples, objective, rescore, registry_->ops());
    const bool answer =
        check ? check->accepts(final.expression, final.error) : final.error <= tolerance;
    judged_[complexity] = {entry.error, answer};
    if (answer) return true;
  }
  return false;
}

LevelRecord SearchCoordinator::record(std::vector<Expression> retained, bool go_on) const {
  LevelRecord r;
  r.level = completed_level_;
  // A callback that raised (or a signal) asks for no ending of its own: the
  // search resumes after the level.
  if (!go_on && !interrupted())
    r.end = stopped_by_callback_ ? AfterLevel::Callback : AfterLevel::Answer;
  r.retained = std::move(retained);
  r.pairs = found_pairs_;
  for (auto& [complexity, entry] : front_->entries()) r.front.push_back(std::move(entry));
  r.report = last_report_;
  return r;
}

bool SearchCoordinator::restore(const std::vector<LevelRecord>& records) {
  const LevelRecord& last = records.back();
  const bool levels_left = last.end == AfterLevel::GoesOn && last.level < config_.max_complexity;
  for (const LevelRecord& r : records) {
    if (r.level < 2) continue;
    if (config_.max_terms > 1) {
      std::vector<Expression> library = r.retained;
      for (const FrontEntry& pair : r.pairs) library.push_back(pair.expression);
      retained_.emplace_back(r.level, std::move(library));
    }
    if (pairs_ && levels_left) pairs_->replay(r.retained);
  }
  for (const FrontEntry& entry : last.front) front_->update(entry.expression, entry.error);
  level_ = last.level;
  completed_level_ = last.level;
  last_report_ = last.report;
  stopped_by_callback_ = last.end == AfterLevel::Callback;
  if (levels_left) {
    write_line(out_,
               "[TOV-SR] Resumed from the checkpoint after level " + decimal(last.level) + ".\n");
  }
  return last.end == AfterLevel::GoesOn;
}

void SearchCoordinator::abandon_level(bool progress_showing) {
  // The next output starts on a new line.
  if (progress_showing) write_line(out_, "\n");
  time_limit_reached_ = true;
}

Outcome<std::vector<SearchResult>> SearchCoordinator::finalize() {
  if (control_.ending) *control_.ending = ending();
  const std::uint64_t max_complexity = ending().answered_max_complexity(config_.max_complexity);
  const Objective objective = final_data_.objective(config_);
  Outcome<std::vector<SearchResult>> results =
      select_final(front_, registry_, config_, final_data_.samples, objective,
                   searched_rows_ != final_data_.samples.size(), max_complexity);
  if (config_.max_terms <= 1 || !results) return results;
  std::vector<Expression> library;
  for (const auto& [level, expressions] : retained_)
    if (level <= max_complexity)
      library.insert(library.end(), expressions.begin(), expressions.end());
  return add_term_models(std::move(results.value()), library, final_data_, searched_rows_, config_,
                         registry_, [this] { return interrupted(); });
}

void SearchCoordinator::keep_retained(std::span<const Expression> retained) {
  if (config_.max_terms > 1)
    retained_.emplace_back(level_, std::vector(retained.begin(), retained.end()));
  if (pairs_) level_retained_.assign(retained.begin(), retained.end());
}

}  // namespace tov
