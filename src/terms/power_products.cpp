// Products of powers: log-space selection, rounding, linear-space refit.
#include "terms/power_products.hpp"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <numeric>

#include "terms/sparse_terms.hpp"
#include "terms/term_library.hpp"

namespace tov {

namespace {

// log f at every sample, where f is real and positive at all of them and
// varies beyond its rounding (weighed by `weights`).
std::optional<std::vector<double>> log_column(const Expression& f, Samples samples,
                                              std::span<const double> weights,
                                              OperatorList operators) {
  const auto v = values_at(f, samples, operators);
  if (!v) return std::nullopt;
  for (const Complex& c : *v)
    if (!(c.re > 0.0) || c.im != 0.0) return std::nullopt;
  std::optional<std::vector<double>> out = real_signal(*v, weights);
  if (out)
    for (double& x : *out) x = std::log(x);
  return out;
}

// log(sign * y) for targets of one sign; none otherwise.
std::optional<std::vector<double>> log_targets(std::span<const double> y, double sign) {
  std::vector<double> out;
  out.reserve(y.size());
  for (const double t : y) {
    const double s = sign * t;
    if (!(s > 0.0) || !std::isfinite(s)) return std::nullopt;
    out.push_back(std::log(s));
  }
  return out;
}

Expression right_nested_product(std::span<const Expression> powers) {
  Expression p = powers.back();
  for (std::size_t k = powers.size() - 1; k-- > 0;) p = binary(op_id::kTimes, powers[k], p);
  return p;
}

// The model's linear-space fit: the constant by weighted least squares and
// the weighted sum of squared residuals; none where it has no usable value.
struct Refit {
  Expression formula;
  double sse;
};
std::optional<Refit> refit(Expression formula, const TermContext& context) {
  const std::optional<std::vector<Complex>> g =
      values_at(formula, context.samples, context.operators);
  if (!g) return std::nullopt;
  const Objective& o = context.objective;
  double gy = 0.0;
  double gg = 0.0;
  for (std::size_t i = 0; i < g->size(); ++i) {
    gy = gy + o.weighted(i, (*g)[i].re * o.targets[i]);
    gg = gg + o.weighted(i, (*g)[i].re * (*g)[i].re);
  }
  const double c = gy / gg;
  if (!std::isfinite(c)) return std::nullopt;
  double sse = 0.0;
  for (std::size_t i = 0; i < g->size(); ++i) {
    const double r = c * (*g)[i].re - o.targets[i];
    sse = sse + o.weighted(i, r * r);
  }
  if (!std::isfinite(sse)) return std::nullopt;
  formula.tokens[0].value = Complex{c, 0.0};
  return Refit{std::move(formula), sse};
}

}  // namespace

Expression power(const Expression& f, int halves) {
  return power_of(f, Rational(std::abs(halves), 2));
}

Expression product_formula(double c, std::span<const Expression> factors,
                           std::span<const int> halves) {
  std::vector<Expression> numerator;
  std::vector<Expression> denominator;
  for (std::size_t k = 0; k < factors.size(); ++k)
    (halves[k] > 0 ? numerator : denominator).push_back(power(factors[k], halves[k]));
  const Expression constant = constant_leaf(c);
  if (denominator.empty()) return binary(op_id::kTimes, constant, right_nested_product(numerator));
  const Expression below = right_nested_product(denominator);
  if (numerator.empty()) return binary(op_id::kDivide, constant, below);
  return binary(op_id::kDivide, binary(op_id::kTimes, constant, right_nested_product(numerator)),
                below);
}

namespace {

// The best rounding of the fitted exponents `estimates` of `factors` (see
// the header); with `drop_zero` a factor whose exponent rounds to 0 is left
// out, else such a rounding is not tried.
std::optional<Refit> rounded_product(std::span<const Expression> factors,
                                     std::span<const double> estimates, bool drop_zero,
                                     const TermContext& context) {
  const std::size_t m = factors.size();
  std::vector<int> nearest;
  std::vector<int> second;
  for (const double e : estimates) {
    const double twice = 2.0 * e;
    if (!(std::fabs(twice) <= kMaxExponentHalves + 0.5)) return std::nullopt;
    const double rounded = std::nearbyint(twice);
    const int n = static_cast<int>(rounded);
    nearest.push_back(n);
    second.push_back(twice >= rounded ? n + 1 : n - 1);
  }
  // Variant v takes the second-nearest multiple for factor k when bit k is set.
  const std::size_t variants = m <= 3 ? std::size_t{1} << m : 1;
  std::optional<Refit> best;
  for (std::size_t v = 0; v < variants; ++v) {
    std::vector<Expression> kept;
    std::vector<int> halves;
    bool usable = true;
    for (std::size_t k = 0; k < m; ++k) {
      const int h = (v >> k) & 1 ? second[k] : nearest[k];
      if (std::abs(h) > kMaxExponentHalves || (h == 0 && !drop_zero)) usable = false;
      if (h == 0) continue;
      kept.push_back(factors[k]);
      halves.push_back(h);
    }
    if (!usable || kept.empty()) continue;
    Expression formula = product_formula(1.0, kept, halves);
    if (!uses_only(formula, context.operator_mask)) continue;
    std::optional<Refit> fitted = refit(std::move(formula), context);
    if (fitted && (!best || fitted->sse < best->sse)) best = std::move(fitted);
  }
  return best;
}

}  // namespace

std::vector<FrontEntry> product_models(std::span<const Expression> library, std::size_t variables,
                                       const TermContext& context) {
  std::vector<FrontEntry> out;
  const std::span<const double> y = context.objective.targets;
  if (y.empty()) return out;
  const double sign = y[0] < 0.0 ? -1.0 : 1.0;
  const std::optional<std::vector<double>> z = log_targets(y, sign);
  const std::optional<std::vector<double>> screen_z = log_targets(context.screen_targets, sign);
  if (!z || !screen_z) return out;
  const auto add = [&](const std::optional<Refit>& product) {
    if (!product) return false;
    std::optional<FrontEntry> entry = refined_entry(product->formula, context);
    if (!entry) return false;
    const bool reached = entry->error <= context.tolerance;
    out.push_back(std::move(*entry));
    return reached;
  };

  // Every input variable at once: a monomial law in all of them.
  if (variables >= 2 && variables <= context.max_terms) {
    TermPool raw(*z, context.objective.weights);
    std::vector<Expression> factors;
    std::vector<std::size_t> positions;
    bool usable = true;
    for (std::size_t j = 0; j < variables && usable; ++j) {
      factors.push_back(make_var_leaf(static_cast<std::uint8_t>(j)));
      const std::optional<std::vector<double>> column =
          log_column(factors.back(), context.samples, context.objective.weights, context.operators);
      usable = column && raw.offer(*column);
      positions.push_back(j);
    }
    if (usable)
      if (const std::optional<LinearFit> fit = raw.fit(positions))
        if (add(rounded_product(factors, fit->coefficients, true, context))) return out;
  }

  const bool same_rows = context.screen_samples.size() == context.samples.size();
  TermColumns columns;
  for (const Expression& f : library) columns.sizes.push_back(f.complexity);
  for (const Expression& f : library)
    columns.screen.push_back(
        log_column(f, context.screen_samples, context.screen_weights, context.operators)
            .value_or(std::vector<double>{}));
  columns.screen_targets = *screen_z;
  columns.screen_weights = context.screen_weights;
  columns.targets = *z;
  columns.weights = context.objective.weights;
  if (!same_rows) {
    columns.fetch = [&](std::size_t j) {
      return log_column(library[j], context.samples, context.objective.weights, context.operators);
    };
  }

  TermSelection selection(std::move(columns), context.max_terms, context.pool);
  for (std::size_t m = 1; m <= context.max_terms; ++m) {
    const std::optional<TermSelection::Model> model = selection.next(context.stop);
    if (!model) break;
    std::vector<std::size_t> order(m);
    std::iota(order.begin(), order.end(), std::size_t{0});
    std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
      return model->library_terms[a] < model->library_terms[b];
    });
    std::vector<Expression> factors;
    std::vector<double> estimates;
    std::size_t params = 1;
    for (const std::size_t k : order) {
      factors.push_back(library[model->library_terms[k]]);
      estimates.push_back(model->fit.coefficients[k]);
      params += factors.back().param_count;
    }
    if (params > kMaxParams) break;
    if (add(rounded_product(factors, estimates, false, context))) break;
  }
  return out;
}

}  // namespace tov
