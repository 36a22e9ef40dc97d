// Input checks, zero-weight samples, and the spread subset of rows.
#include "fit/search_data.hpp"

#include <algorithm>
#include <cmath>

#include "numeric/decimal.hpp"
#include "numeric/float_text.hpp"

namespace tov {

SearchData SearchData::subset(std::uint64_t count) const {
  const auto n = static_cast<unsigned __int128>(samples.size());
  SearchData out;
  out.variables = variables;
  out.samples.reserve(count);
  out.targets.reserve(count);
  for (std::uint64_t k = 0; k < count; ++k) {
    const auto i = static_cast<std::size_t>(k * n / count);
    out.samples.push_back(samples[i]);
    out.targets.push_back(targets[i]);
    if (!weights.empty()) out.weights.push_back(weights[i]);
  }
  return out;
}

namespace {

std::optional<SearchError> check_weights(std::span<const double> weights, std::size_t targets) {
  if (weights.size() != targets)
    return InvalidValue{"weights must have one entry per target: " + decimal(weights.size()) +
                        " weights for " + decimal(targets) + " targets"};
  bool any_positive = false;
  for (std::size_t i = 0; i < weights.size(); ++i) {
    if (!std::isfinite(weights[i]) || weights[i] < 0.0)
      return InvalidValue{"weights must be finite and non-negative: weights[" + decimal(i) +
                          "] is " + float_text(weights[i])};
    any_positive = any_positive || weights[i] > 0.0;
  }
  if (!any_positive) return InvalidValue{"weights must not all be zero"};
  return std::nullopt;
}

// The first non-finite input, then target, of the samples that count.
std::optional<SearchError> check_values(std::span<const std::vector<double>> rows,
                                        std::span<const double> targets,
                                        std::span<const double> weights, const DataNames& names) {
  const auto counts = [&](std::size_t i) { return weights.empty() || weights[i] != 0.0; };
  for (std::size_t i = 0; i < rows.size(); ++i) {
    if (!counts(i)) continue;
    for (std::size_t j = 0; j < rows[i].size(); ++j) {
      if (std::isfinite(rows[i][j])) continue;
      std::string at = std::string(names.inputs) + "[" + decimal(i) + "]";
      if (!names.one_value_per_sample) at += "[" + decimal(j) + "]";
      return InvalidValue{at + " is " + float_text(rows[i][j]) + ": inputs must be finite"};
    }
  }
  for (std::size_t i = 0; i < targets.size(); ++i) {
    if (counts(i) && !std::isfinite(targets[i]))
      return InvalidValue{std::string(names.targets) + "[" + decimal(i) + "] is " +
                          float_text(targets[i]) + ": targets must be finite"};
  }
  return std::nullopt;
}

}  // namespace

Outcome<SearchData> prepare_data(std::span<const std::vector<double>> rows,
                                 std::span<const double> targets, std::span<const double> weights,
                                 const DataNames& names) {
  if (!weights.empty())
    if (std::optional<SearchError> bad = check_weights(weights, targets.size())) return *bad;
  if (rows.size() != targets.size() || rows.empty())
    return InvalidInput{"Inputs and target vector must be non-empty and equal length."};
  const std::size_t variables = rows.front().size();
  if (variables > 255)
    return InvalidInput{"Too many input variables: " + decimal(variables) +
                        " given, at most 255 are supported."};
  if (std::optional<SearchError> bad = check_values(rows, targets, weights, names)) return *bad;
  return to_search_data(rows, targets, weights);
}

SearchData to_search_data(std::span<const std::vector<double>> rows,
                          std::span<const double> targets, std::span<const double> weights) {
  // Relative to the largest, uniform weights become exactly 1, and weights
  // near the ends of the double range neither underflow nor overflow the
  // weighted sums.
  const double largest = weights.empty() ? 1.0 : *std::max_element(weights.begin(), weights.end());

  SearchData data;
  data.variables = rows.front().size();
  data.samples.reserve(rows.size());
  data.targets.reserve(rows.size());
  for (std::size_t i = 0; i < rows.size(); ++i) {
    if (!weights.empty() && weights[i] == 0.0) continue;
    std::vector<Complex> converted;
    converted.reserve(rows[i].size());
    for (const double x : rows[i]) converted.push_back(Complex{x, 0.0});
    data.samples.push_back(std::move(converted));
    data.targets.push_back(targets[i]);
    if (!weights.empty()) data.weights.push_back(weights[i] / largest);
  }
  return data;
}

Outcome<PreparedData> prepare_search_data(std::span<const std::vector<double>> rows,
                                          std::span<const double> targets,
                                          std::span<const double> weights,
                                          const SearchConfig& config, const DataNames& names) {
  Outcome<SearchData> data = prepare_data(rows, targets, weights, names);
  if (!data) return std::move(data.error());
  return split_rows(std::move(data.value()), config);
}

PreparedData split_rows(SearchData all, const SearchConfig& config) {
  const bool subset = config.max_search_rows && *config.max_search_rows < all.samples.size();
  SearchData searched = subset ? all.subset(*config.max_search_rows) : all;
  return PreparedData{std::move(all), std::move(searched)};
}

std::optional<std::string> target_scale_warning(std::span<const double> targets) {
  // Beyond these magnitudes a square leaves the range of normal doubles.
  constexpr double kLargest = 1e154;
  constexpr double kSmallest = 1e-154;
  double largest = 0.0;
  for (const double y : targets)
    if (std::isfinite(y)) largest = std::max(largest, std::fabs(y));
  if (largest > kLargest)
    return "targets reach " + float_text(largest) +
           " in magnitude: their squares overflow, so errors are infinite; rescale the targets "
           "(for example divide them by their largest magnitude)";
  if (largest != 0.0 && largest < kSmallest)
    return "targets are at most " + float_text(largest) +
           " in magnitude: their squares underflow, so every error is 0; rescale the targets "
           "(for example divide them by their largest magnitude)";
  return std::nullopt;
}

}  // namespace tov
