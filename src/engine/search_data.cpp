// Input checks, zero-weight samples, and the spread subset of rows.
#include "engine/search_data.hpp"

#include <cmath>

#include "core/decimal.hpp"

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

Outcome<SearchData> prepare_data(std::span<const std::vector<double>> rows,
                                 std::span<const double> targets, std::span<const double> weights) {
  if (rows.size() != targets.size() || rows.empty())
    return InvalidInput{"Inputs and target vector must be non-empty and equal length."};
  const std::size_t variables = rows.front().size();
  if (variables > 255)
    return InvalidInput{"Too many input variables: " + decimal(variables) +
                        " given, at most 255 are supported."};
  if (!weights.empty()) {
    if (weights.size() != targets.size())
      return InvalidInput{"Weights must be one per target: " + decimal(weights.size()) +
                          " weights for " + decimal(targets.size()) + " targets."};
    double total = 0.0;
    for (const double w : weights) {
      if (!std::isfinite(w) || w < 0.0)
        return InvalidInput{"Weights must be finite and non-negative."};
      total = total + w;
    }
    if (!(total > 0.0) || !std::isfinite(total))
      return InvalidInput{"Weights must have a positive, finite sum."};
  }

  SearchData data;
  data.variables = variables;
  data.samples.reserve(rows.size());
  data.targets.reserve(rows.size());
  for (std::size_t i = 0; i < rows.size(); ++i) {
    if (!weights.empty() && weights[i] == 0.0) continue;
    std::vector<Complex> converted;
    converted.reserve(rows[i].size());
    for (const double x : rows[i]) converted.push_back(Complex{x, 0.0});
    data.samples.push_back(std::move(converted));
    data.targets.push_back(targets[i]);
    if (!weights.empty()) data.weights.push_back(weights[i]);
  }
  return data;
}

Outcome<PreparedData> prepare_search_data(std::span<const std::vector<double>> rows,
                                          std::span<const double> targets,
                                          std::span<const double> weights,
                                          const SearchConfig& config) {
  Outcome<SearchData> data = prepare_data(rows, targets, weights);
  if (!data) return std::move(data.error());
  SearchData& all = data.value();
  const bool subset = config.max_search_rows && *config.max_search_rows < all.samples.size();
  SearchData searched = subset ? all.subset(*config.max_search_rows) : all;
  return PreparedData{std::move(all), std::move(searched)};
}

}  // namespace tov
