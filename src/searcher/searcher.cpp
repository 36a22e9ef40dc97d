// The four requests as searches, and what each answers with.
#include "searcher/searcher.hpp"

#include <cmath>
#include <optional>
#include <string>
#include <utility>
#include <variant>

#include "cluster/distributed.hpp"
#include "fit/scoring.hpp"
#include "numeric/decimal.hpp"
#include "numeric/float_text.hpp"
#include "ops/registry.hpp"
#include "units/dimensional_search.hpp"

namespace tov {

namespace {

// The reduction as text: what a checkpoint of a search with units records
// of them.
std::string units_digest(const Reduction& units) {
  std::string text = decimal(units.inputs) + ";";
  for (const std::vector<std::int64_t>& group : units.groups) {
    for (const std::int64_t e : group) text += std::to_string(e) + ",";
    text += ";";
  }
  for (const Rational& e : units.monomial)
    text += std::to_string(e.num()) + "/" + std::to_string(e.den()) + ",";
  return text;
}

}  // namespace

Searcher::Searcher(SearchConfig config, SearchControl control, ShardTransport* transport)
    : config_(std::move(config)), control_(std::move(control)), transport_(transport) {}

SearchConfig Searcher::with_exit_floor(const SearchConfig& config, std::span<const double> ys,
                                       std::span<const double> weights) const {
  // A search with named constants stops at the rounding floor of its targets.
  SearchConfig searched = config;
  if (config.named_constants) searched.early_exit_tolerance = exit_tolerance(ys, weights);
  return searched;
}

Searcher::Run Searcher::run(std::span<const std::vector<double>> rows, std::span<const double> ys,
                            std::span<const double> weights, const SearchConfig& config,
                            SearchControl control) const {
  const SearchConfig searched = with_exit_floor(config, ys, weights);
  Outcome<PreparedData> data = prepare_search_data(rows, ys, weights, searched, control.names);
  if (!data) return {std::move(data.error()), config.max_complexity};
  CheckpointIdentity identity = search_identity(rows, ys, weights, searched);
  identity.emplace_back("physical units", "none");
  return search(std::move(data.value()), searched, std::move(control), identity);
}

Searcher::Run Searcher::search(PreparedData data, const SearchConfig& config, SearchControl control,
                               const CheckpointIdentity& identity) const {
  std::unique_ptr<CheckpointFile> checkpoint;
  if (config.checkpoint) {
    Outcome<std::unique_ptr<CheckpointFile>> opened =
        CheckpointFile::open(*config.checkpoint, identity, control.warn);
    if (!opened) return {std::move(opened.error()), config.max_complexity};
    checkpoint = std::move(opened.value());
    control.checkpoint = checkpoint.get();
  }
  SearchEnding ending;
  if (control.ending == nullptr) control.ending = &ending;
  Outcome<std::vector<SearchResult>> outcome =
      transport_ ? run_distributed(std::move(data), config, control, *transport_)
                 : run_bfs(std::move(data), config, control);
  return {std::move(outcome), control.ending->answered_max_complexity(config.max_complexity)};
}

Searcher::Run Searcher::run_reduced(std::span<const std::vector<double>> rows,
                                    std::span<const double> ys, std::span<const double> weights,
                                    const SearchConfig& config, const Reduction& units) const {
  // The caller's data are checked once; the reduced data derive from them.
  Outcome<SearchData> data = prepare_data(rows, ys, weights, control_.names);
  if (!data) return {std::move(data.error()), config.max_complexity};
  std::variant<ReducedData, std::string> reduced = reduce_data(rows, ys, weights, units);
  if (std::string* message = std::get_if<std::string>(&reduced))
    return {SearchError{InvalidInput{"Physical units: " + *message + "."}}, config.max_complexity};
  const ReducedData& reduced_data = std::get<ReducedData>(reduced);
  const SearchData& caller = data.value();
  const SearchConfig searched = with_exit_floor(config, reduced_data.targets, weights);
  CheckpointIdentity identity = search_identity(rows, ys, weights, searched);
  identity.emplace_back("physical units", units_digest(units));
  const auto search_reduced = [&](SearchControl control) {
    Run r = search(
        split_rows(to_search_data(reduced_data.rows, reduced_data.targets, weights), searched),
        searched, std::move(control), identity);
    if (r.outcome)
      r.outcome = results_in_inputs(std::move(r.outcome.value()), units, caller, config);
    return r;
  };
  if (units.is_identity()) return search_reduced(control_);

  // The reduced search stops early where the caller's answer is within the
  // caller's tolerance T. A residual r_i of the reduced search is M(x_i) r_i
  // in the caller's variables, so an answer has a reduced error of at most
  // T / min M^2; the entries within that are confirmed on the caller's data.
  const double tolerance = exit_tolerance(ys, weights);
  SearchControl control = control_;
  const OperatorList ops = builtin_registry()->ops();
  control.answer_check =
      AnswerCheck{tolerance / smallest_square_monomial(reduced_data, weights),
                  [&](const Expression& f, double) {
                    return in_caller_variables(f, units, caller, config, ops).error <= tolerance;
                  }};
  return search_reduced(std::move(control));
}

// The single-result requests answer with the most complex, most accurate
// formula. An empty success list (every front entry lost its finite error at
// the final refinement) has no such formula.
Outcome<SearchResult> Searcher::first(std::span<const std::vector<double>> rows,
                                      std::span<const double> ys, std::span<const double> weights,
                                      const Reduction* units) const {
  Run r = units ? run_reduced(rows, ys, weights, config_, *units)
                : run(rows, ys, weights, config_, control_);
  if (!r.outcome) return std::move(r.outcome.error());
  if (r.outcome.value().empty()) return SearchError{NoFormulaFound{r.max_complexity}};
  return std::move(r.outcome.value().front());
}

Outcome<SearchResult> Searcher::find_function(std::span<const double> xs,
                                              std::span<const double> ys,
                                              std::span<const double> weights,
                                              const Reduction* units) const {
  std::vector<std::vector<double>> rows;
  rows.reserve(xs.size());
  for (const double x : xs) rows.push_back({x});
  Searcher one_variable = *this;
  one_variable.control_.names = DataNames{"xs", "ys", true};
  return one_variable.first(rows, ys, weights, units);
}

Outcome<SearchResult> Searcher::find_multivariate(std::span<const std::vector<double>> inputs,
                                                  std::span<const double> ys,
                                                  std::span<const double> weights,
                                                  const Reduction* units) const {
  return first(inputs, ys, weights, units);
}

Outcome<std::vector<SearchResult>> Searcher::find_candidates(
    std::span<const std::vector<double>> inputs, std::span<const double> ys,
    std::span<const double> weights, const Reduction* units) const {
  SearchConfig exhaustive = config_;
  exhaustive.exhaustive = true;
  Run r = units ? run_reduced(inputs, ys, weights, exhaustive, *units)
                : run(inputs, ys, weights, exhaustive, control_);
  if (r.outcome && r.outcome.value().empty()) return SearchError{NoFormulaFound{r.max_complexity}};
  return std::move(r.outcome);
}

double Searcher::exit_tolerance(std::span<const double> ys, std::span<const double> weights) const {
  // Unusable weights are the search's to refuse; they set no floor.
  if (config_.target_error || !config_.named_constants ||
      (!weights.empty() && weights.size() != ys.size()))
    return config_.exit_tolerance();
  return rounding_floor(Objective::make(ys, weights, false, 0.0, 0.5));
}

Outcome<SearchResult> Searcher::recognize_constant(double value) const {
  if (!std::isfinite(value))
    return SearchError{
        InvalidValue{"value is " + float_text(value) + ": the constant must be finite"}};
  const std::vector<std::vector<double>> rows{config_.named_constants ? std::vector<double>{}
                                                                      : std::vector<double>{0.0}};
  const double targets[] = {value};
  return first(rows, targets, {}, nullptr);
}

}  // namespace tov
