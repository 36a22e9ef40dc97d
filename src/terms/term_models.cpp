// The sums, and the stage that adds sums and products to a staircase.
#include "terms/term_models.hpp"

#include <algorithm>
#include <cmath>
#include <limits>
#include <numeric>
#include <utility>

#include "fit/optimizer.hpp"
#include "terms/power_products.hpp"
#include "terms/sparse_terms.hpp"
#include "terms/term_library.hpp"
#include "terms/transformed_sums.hpp"

namespace tov {

namespace {

// b + sum a_k f_k, or the sum alone without an intercept; none when its
// constants would not fit a formula.
std::optional<Expression> sum_formula(std::span<const Expression> terms,
                                      std::span<const double> coefficients,
                                      std::optional<double> intercept) {
  std::size_t params = (intercept ? 1 : 0) + terms.size();
  for (const Expression& f : terms) params += f.param_count;
  if (params > kMaxParams || terms.empty()) return std::nullopt;
  const auto term = [&](std::size_t k) {
    return binary(op_id::kTimes, constant_leaf(coefficients[k]), terms[k]);
  };
  std::size_t k = terms.size();
  Expression sum = intercept ? constant_leaf(*intercept) : term(--k);
  while (k-- > 0) sum = binary(op_id::kPlus, term(k), sum);
  return sum;
}

// The model's terms in library order with their coefficients, with the
// intercept or without it.
std::optional<Expression> written_sum(std::span<const Expression> library,
                                      const TermSelection::Model& model, bool intercept) {
  std::vector<std::size_t> order(model.library_terms.size());
  std::iota(order.begin(), order.end(), std::size_t{0});
  std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
    return model.library_terms[a] < model.library_terms[b];
  });
  std::vector<Expression> terms;
  std::vector<double> coefficients;
  for (const std::size_t k : order) {
    terms.push_back(library[model.library_terms[k]]);
    coefficients.push_back(model.fit.coefficients[k]);
  }
  return sum_formula(terms, coefficients,
                     intercept ? std::optional<double>(model.fit.intercept) : std::nullopt);
}

}  // namespace

// The refined sum, or the sum without its intercept where that is as
// accurate within the rounding floor of the targets: an intercept of 1e-16
// is rounding, not part of the law.
std::optional<FrontEntry> refined_sum(const std::optional<Expression>& with_intercept,
                                      const std::optional<Expression>& without,
                                      const TermContext& context) {
  if (!with_intercept) return std::nullopt;
  std::optional<FrontEntry> full = refined_entry(*with_intercept, context);
  if (!full || !without) return full;
  std::optional<FrontEntry> shorter = refined_entry(*without, context);
  if (shorter && shorter->error <= std::max(full->error, rounding_floor(context.objective)))
    return shorter;
  return full;
}

std::vector<FrontEntry> sum_models(std::span<const Expression> library, std::size_t variables,
                                   const TermContext& context) {
  std::vector<FrontEntry> out;
  const bool same_rows = context.screen_samples.size() == context.samples.size();
  TermColumns columns;
  for (const Expression& f : library) {
    columns.sizes.push_back(f.complexity);
    const auto v = values_at(f, context.screen_samples, context.operators);
    std::optional<std::vector<double>> column;
    if (v) column = real_signal(*v, context.screen_weights);
    columns.screen.push_back(column ? std::move(*column) : std::vector<double>{});
  }
  columns.screen_targets = context.screen_targets;
  columns.screen_weights = context.screen_weights;
  columns.targets = context.objective.targets;
  columns.weights = context.objective.weights;
  columns.short_by_correlation = context.short_by_correlation;
  if (!same_rows) {
    columns.fetch = [&](std::size_t j) -> std::optional<std::vector<double>> {
      const auto v = values_at(library[j], context.samples, context.operators);
      if (!v) return std::nullopt;
      return real_signal(*v, context.objective.weights);
    };
  }

  TermSelection selection(std::move(columns), context.max_terms, context.pool);
  for (std::size_t m = 1; m <= context.max_terms; ++m) {
    const std::optional<TermSelection::Model> model = selection.next(context.stop);
    if (!model) break;
    if (m == 1) continue;
    const std::optional<Expression> formula = written_sum(library, *model, true);
    if (!formula) break;
    std::optional<FrontEntry> entry =
        refined_sum(formula, written_sum(library, *model, false), context);
    if (!entry) continue;
    const bool reached = entry->error <= context.tolerance;
    out.push_back(std::move(*entry));
    if (reached) break;
  }

  if (variables >= 2 && variables <= context.max_terms) {
    TermPool raw(context.objective.targets, context.objective.weights);
    std::vector<Expression> terms;
    std::vector<std::size_t> positions;
    for (std::size_t j = 0; j < variables; ++j) {
      terms.push_back(make_var_leaf(static_cast<std::uint8_t>(j)));
      std::vector<double> column;
      for (const std::vector<Complex>& sample : context.samples) column.push_back(sample[j].re);
      if (!raw.offer(column)) return out;
      positions.push_back(j);
    }
    if (const std::optional<LinearFit> fit = raw.fit(positions)) {
      if (std::optional<FrontEntry> entry =
              refined_sum(sum_formula(terms, fit->coefficients, fit->intercept),
                          sum_formula(terms, fit->coefficients, std::nullopt), context))
        out.push_back(std::move(*entry));
    }
  }
  return out;
}

Outcome<std::vector<SearchResult>> add_term_models(
    std::vector<SearchResult> staircase, std::span<const Expression> retained,
    const SearchData& data, std::size_t searched_rows, const SearchConfig& config,
    const std::shared_ptr<const OperatorRegistry>& registry, const std::function<bool()>& stop) {
  const double tolerance =
      config.exhaustive ? config.early_exit_tolerance : config.exit_tolerance();
  if (config.max_terms <= 1 || staircase.empty() || staircase.front().error() <= tolerance)
    return staircase;

  const bool subset = searched_rows < data.samples.size();
  const SearchData screened = subset ? data.subset(searched_rows) : SearchData{};
  const SearchData& screen = subset ? screened : data;
  TermContext context;
  context.samples = data.samples;
  context.objective =
      Objective::make(data.targets, data.weights, false, config.alpha, config.l1_ratio);
  context.screen_samples = screen.samples;
  context.screen_targets = screen.targets;
  context.screen_weights = screen.weights;
  context.operators = registry->ops();
  context.operator_mask = config.operator_mask;
  context.max_terms = config.max_terms;
  context.pool = std::min<std::uint64_t>(config.term_pool, kMaxTermPool);
  context.tolerance = tolerance;
  context.stop = stop;
  context.short_by_correlation = config.meet_in_the_middle;

  const std::vector<Expression> affine_library =
      term_library(data.variables, retained, Wrappers::Affine);
  std::vector<FrontEntry> models = sum_models(affine_library, data.variables, context);
  if (stop && stop()) return SearchError{Interrupted{}};
  const auto reached = [&](const std::vector<FrontEntry>& found) {
    return std::any_of(found.begin(), found.end(),
                       [&](const FrontEntry& e) { return e.error <= tolerance; });
  };
  if (config.meet_in_the_middle && !reached(models)) {
    std::vector<FrontEntry> under_roots =
        transformed_sum_models(affine_library, data.variables, context);
    if (stop && stop()) return SearchError{Interrupted{}};
    models.insert(models.end(), std::make_move_iterator(under_roots.begin()),
                  std::make_move_iterator(under_roots.end()));
  }
  std::vector<FrontEntry> products = product_models(
      term_library(data.variables, retained, Wrappers::Multiplicative), data.variables, context);
  if (stop && stop()) return SearchError{Interrupted{}};
  models.insert(models.end(), std::make_move_iterator(products.begin()),
                std::make_move_iterator(products.end()));

  std::vector<FrontEntry> entries;
  for (auto it = staircase.rbegin(); it != staircase.rend(); ++it)
    entries.push_back(FrontEntry{it->error(), it->expression()});
  entries.insert(entries.end(), std::make_move_iterator(models.begin()),
                 std::make_move_iterator(models.end()));
  return tov::staircase(std::move(entries), registry, tolerance);
}

}  // namespace tov
