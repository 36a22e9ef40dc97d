// The roots, the transformed targets and the sums written back under them.
#include "terms/transformed_sums.hpp"

#include <algorithm>
#include <cmath>
#include <functional>
#include <optional>
#include <utility>

#include "formula/builder.hpp"
#include "terms/term_library.hpp"
#include "terms/term_models.hpp"

namespace tov {

namespace {

// The pool of each root's sums: smaller than the targets' own, since every
// root runs its own selection.
constexpr std::size_t kRootPool = 60;

// What S must be at one sample, from y and the root's variable there; NaN
// where the root does not apply.
using Transform = double (*)(double y, double x);

// y = u(S) or y = x o S, and what the fitted sum S becomes.
struct Root {
  Transform transform;
  std::function<Expression(Expression)> write;
};

double squared(double y, double) { return y * y; }
double inverted(double y, double) { return 1.0 / y; }
double logarithm(double y, double) { return y > 0.0 ? std::log(y) : NAN; }
double square_root(double y, double) { return y >= 0.0 ? std::sqrt(y) : NAN; }
double over_x(double y, double x) { return y / x; }
double times_x(double y, double x) { return y * x; }
double x_over(double y, double x) { return x / y; }
double over_x_squared(double y, double x) {
  const double r = y / x;
  return r >= 0.0 ? r * r : NAN;
}

// The transformed targets on `samples`, none where one is not finite.
std::optional<std::vector<double>> transformed(std::span<const double> y, Samples samples,
                                               std::optional<std::size_t> variable,
                                               Transform transform) {
  std::vector<double> q;
  q.reserve(y.size());
  for (std::size_t i = 0; i < y.size(); ++i) {
    const double x = variable ? samples[i][*variable].re : 0.0;
    q.push_back(transform(y[i], x));
    if (!std::isfinite(q.back())) return std::nullopt;
  }
  return q;
}

}  // namespace

std::vector<FrontEntry> transformed_sum_models(std::span<const Expression> library,
                                               std::size_t variables, const TermContext& context) {
  const auto leaf = [](std::size_t j) { return make_var_leaf(static_cast<std::uint8_t>(j)); };
  std::vector<std::pair<std::optional<std::size_t>, Root>> roots = {
      {std::nullopt, {squared, [](Expression s) { return unary(op_id::kSqrt, s); }}},
      {std::nullopt, {inverted, [](Expression s) { return unary(op_id::kInv, s); }}},
      {std::nullopt, {logarithm, [](Expression s) { return unary(op_id::kExp, s); }}},
      {std::nullopt, {square_root, [](Expression s) { return unary(op_id::kSquare, s); }}},
  };
  for (std::size_t j = 0; j < variables && j < kMaxVariables; ++j) {
    roots.push_back({j, {over_x, [=](Expression s) { return binary(op_id::kTimes, leaf(j), s); }}});
    roots.push_back(
        {j, {times_x, [=](Expression s) { return binary(op_id::kDivide, s, leaf(j)); }}});
    roots.push_back(
        {j, {x_over, [=](Expression s) { return binary(op_id::kDivide, leaf(j), s); }}});
    roots.push_back({j, {over_x_squared, [=](Expression s) {
                           return binary(op_id::kTimes, leaf(j), unary(op_id::kSqrt, s));
                         }}});
  }

  std::vector<FrontEntry> out;
  for (const auto& [variable, root] : roots) {
    if (context.stop && context.stop()) break;
    const std::optional<std::vector<double>> q =
        transformed(context.objective.targets, context.samples, variable, root.transform);
    const std::optional<std::vector<double>> screen_q =
        transformed(context.screen_targets, context.screen_samples, variable, root.transform);
    if (!q || !screen_q) continue;
    TermContext inner = context;
    inner.objective = Objective::make(*q, context.objective.weights, false, context.objective.alpha,
                                      context.objective.l1_ratio);
    inner.screen_targets = *screen_q;
    inner.tolerance = 0.0;
    inner.pool = std::min(context.pool, kRootPool);
    for (const FrontEntry& sum : sum_models(library, variables, inner)) {
      std::optional<FrontEntry> entry = refined_entry(root.write(sum.expression), context);
      if (entry) out.push_back(std::move(*entry));
    }
  }
  return out;
}

}  // namespace tov
