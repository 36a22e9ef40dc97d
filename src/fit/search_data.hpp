// The data one search fits: sample rows as complex inputs, the targets and
// optional per-sample weights, and the objective over them.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "config/search_config.hpp"
#include "fit/scoring.hpp"
#include "numeric/complex.hpp"
#include "result/search_error.hpp"

namespace tov {

// How the caller named a search's data, for the messages that point at a
// bad value: `inputs[i][j]`, or `inputs[i]` for one value per sample.
struct DataNames {
  std::string_view inputs = "inputs";
  std::string_view targets = "ys";
  bool one_value_per_sample = false;
};

struct SearchData {
  std::size_t variables = 0;                  // the length of the caller's first row
  std::vector<std::vector<Complex>> samples;  // one row per sample, real inputs
  std::vector<double> targets;
  std::vector<double> weights;  // empty: every sample weighs 1

  // The objective of `config` over these data. The data must outlive it.
  Objective objective(const SearchConfig& config) const {
    return Objective::make(targets, weights, config.linear_scaling, config.alpha, config.l1_ratio);
  }

  // `count` samples spread evenly over the data: sample floor(k n / count)
  // for k = 0, 1, ..., count - 1 (n samples in all). Requires count <= n.
  SearchData subset(std::uint64_t count) const;
};

// Checks and converts a search's input: weights (when given) one per
// target, finite, non-negative and not all zero (InvalidValue); rows and
// targets non-empty and equally many, at most 255 variables (InvalidInput);
// the inputs and targets of every sample that counts finite (InvalidValue,
// naming the first bad one). Samples of weight zero are left out: they have
// no influence on the objective, and a formula undefined there is not
// penalised for it. The weights are divided by the largest, so a uniform
// scale of the weights leaves the result as it is, and weights of 1 stay 1.
Outcome<SearchData> prepare_data(std::span<const std::vector<double>> rows,
                                 std::span<const double> targets, std::span<const double> weights,
                                 const DataNames& names = {});

// The same conversion without the checks, for data derived from checked
// data (the reduced data of physical units): rows and targets equally many,
// at least one.
SearchData to_search_data(std::span<const std::vector<double>> rows,
                          std::span<const double> targets, std::span<const double> weights);

// A warning for targets whose squares overflow (some |y| above about
// 1e154: errors become infinite) or all underflow (every |y| below about
// 1e-154: errors become 0); none for targets the objective can score.
std::optional<std::string> target_scale_warning(std::span<const double> targets);

// A search's data: every row, for the final selection, and the rows the
// levels are searched on (a spread subset when config.max_search_rows is
// below the row count, else every row).
struct PreparedData {
  SearchData all;
  SearchData searched;
};
Outcome<PreparedData> prepare_search_data(std::span<const std::vector<double>> rows,
                                          std::span<const double> targets,
                                          std::span<const double> weights,
                                          const SearchConfig& config, const DataNames& names = {});
// The rows of checked data as the search takes them.
PreparedData split_rows(SearchData all, const SearchConfig& config);

}  // namespace tov
