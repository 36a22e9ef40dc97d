// Snapping fitted constants to exact ones, one at a time, refitting the rest.
#include "fit/snap.hpp"

#include <cmath>
#include <string>
#include <utility>
#include <variant>
#include <vector>

#include "fit/optimizer.hpp"
#include "formula/exact_constant.hpp"
#include "result/result_restore.hpp"

namespace tov {

namespace {

// The refits run to the precision of the data: a step ends them only when it
// gains nothing.
constexpr std::size_t kRefitIterations = 30;
constexpr double kRefitTolerance = 0.0;

// `x` with the Param token at `position` replaced by `c`, the later
// parameters renumbered and the text rebuilt.
Expression substitute(const Expression& x, std::size_t position, const ExactConstant& c) {
  std::vector<Token> tokens = x.tokens;
  tokens[position] = make_exact_token(c);
  for (std::size_t t = position + 1; t < tokens.size(); ++t)
    if (tokens[t].kind == TokenKind::Param) --tokens[t].index;
  Rebuilt rebuilt = rebuild_expression(tokens);
  // A result's own tokens always rebuild; the substitution keeps them valid.
  return std::move(std::get<Expression>(rebuilt));
}

}  // namespace

std::optional<SearchResult> snap_constants(const SearchResult& result, const SearchData& data,
                                           std::optional<double> tolerance) {
  const std::shared_ptr<const OperatorRegistry> registry =
      result.registry() ? result.registry() : builtin_registry();
  const OperatorList ops = registry->ops();
  const Objective objective = Objective::make(data.targets, data.weights, false, 0.0, 0.5);
  const auto refit = [&](Expression& x, double& error) {
    if (x.param_count == 0) return;
    Refined refined =
        refine_constants(x, data.samples, objective, ops, kRefitIterations, kRefitTolerance);
    x = std::move(refined.expression);
    error = refined.error;
  };

  Expression current = result.expression();
  const double base = compute_raw_error(current, data.samples, objective, ops);
  if (!std::isfinite(base)) return std::nullopt;
  const double limit = base + tolerance.value_or(rounding_floor(objective));
  double error = base;
  // Substitution replaces one token by one, so positions stay put.
  for (std::size_t position = 0; position < current.tokens.size(); ++position) {
    if (current.tokens[position].kind != TokenKind::Param) continue;
    for (const ExactConstant& c :
         closed_forms_near(current.tokens[position].value.re, kSnapWindow)) {
      Expression trial = substitute(current, position, c);
      double trial_error = compute_raw_error(trial, data.samples, objective, ops);
      const bool as_they_are = trial_error <= limit;
      if (!as_they_are) refit(trial, trial_error);
      if (!(trial_error <= limit)) continue;
      if (as_they_are) refit(trial, trial_error);
      current = std::move(trial);
      error = trial_error;
      break;
    }
  }
  return SearchResult(std::move(current), registry, error);
}

}  // namespace tov
