// Sparse linear regression over a library of formula columns: screening by
// correlation, a bounded pool, the exact best subset of up to three terms
// from the pool's Gram matrix and forward selection beyond. The sums and the
// products of powers of a search are both built on it (the products in log
// space).
//
// Every sum runs in row order, every loop over the pool in pool order, and
// of two equal scores or errors the earlier candidate wins, so the choices
// are a function of the columns alone.
#pragma once

#include <cstddef>
#include <functional>
#include <optional>
#include <span>
#include <vector>

namespace tov {

// No model uses a term whose part not explained by the model's earlier terms
// (in the order they joined) keeps less than this fraction of its variance:
// 1 - 0.9999^2, so in particular no two terms correlated beyond 0.9999 in
// magnitude are ever combined.
inline constexpr double kMinUnexplained = 1.0 - 0.9999 * 0.9999;

// The largest number of formulas in a pool (the default is 150).
inline constexpr std::size_t kMaxTermPool = 1000;

// targets ~ intercept + sum_k coefficients[k] * column(terms[k]).
struct LinearFit {
  std::vector<std::size_t> terms;  // positions in the pool, in the order they joined
  std::vector<double> coefficients;
  double intercept = 0.0;
  double sse = 0.0;  // weighted residual sum of squares, from the Gram matrix
};

// Columns over all rows, standardised to weighted mean 0 and weighted sum of
// squares 1, with their Gram matrix and their products with the centred
// targets.
class TermPool {
 public:
  // `weights` empty: every row weighs 1.
  TermPool(std::span<const double> targets, std::span<const double> weights);

  // Adds the column unless a value is not finite, it does not vary, or it
  // is correlated beyond 0.9999 in magnitude with a column already held.
  bool offer(std::span<const double> column);
  std::size_t size() const { return mean_.size(); }

  // The least-squares fit on these columns in this order; none when a term
  // fails the kMinUnexplained test.
  std::optional<LinearFit> fit(std::span<const std::size_t> terms) const;
  // The `keep` lowest-error fits on `m` columns (1 <= m <= 3) over every
  // subset, lowest first; subsets are tried in lexicographic order of
  // positions and of equal errors the earlier comes first. Empty when no
  // subset qualifies or `stop` returned true.
  std::vector<LinearFit> best_subsets(std::size_t m, std::size_t keep,
                                      const std::function<bool()>& stop) const;
  // The `keep` lowest-error fits with one column more than one of `fits`
  // (each set of columns once), lowest first; `fits` are extended in order,
  // each by the columns in pool order, and of equal errors the earlier
  // comes first.
  std::vector<LinearFit> extend(std::span<const LinearFit> fits, std::size_t keep) const;

 private:
  // The weighted sum of a * b over the rows.
  double dot(std::span<const double> a, std::span<const double> b) const;
  double gram(std::size_t i, std::size_t j) const { return i < j ? gram_[j][i] : gram_[i][j]; }
  LinearFit solution(std::span<const std::size_t> terms, std::span<const double> lower,
                     std::span<const double> u, double sse) const;

  std::vector<double> weights_;
  std::vector<double> centred_targets_;
  double mean_target_ = 0.0;
  double target_ss_ = 0.0;
  std::vector<std::vector<double>> z_;
  std::vector<double> mean_;
  std::vector<double> scale_;
  std::vector<std::vector<double>> gram_;  // lower triangle, row i holds columns 0..i
  std::vector<double> cross_;              // sum w z_i (y - mean y)
};

// The screening rows and all rows of a selection: a column of formula j is
// read from `screen[j]` for ranking (empty: the formula has no usable value
// there) and fetched for all rows by `fetch` (none when it has no usable
// value on some row); without `fetch` the screening rows are all rows.
struct TermColumns {
  std::vector<std::size_t> sizes;  // each formula's token count
  std::vector<std::vector<double>> screen;
  std::span<const double> screen_targets;
  std::span<const double> screen_weights;
  std::function<std::optional<std::vector<double>>(std::size_t)> fetch;
  std::span<const double> targets;
  std::span<const double> weights;
  // Of formulas of one size, those closer to the screening targets (by
  // weighted |correlation|) join the shortest half first, not those earlier
  // in the library.
  bool short_by_correlation = false;
};

// Models of m > 3 terms extend this many of the best models of m - 1.
inline constexpr std::size_t kForwardPaths = 64;

// The models of 1, 2, ... terms over a library, each chosen from a pool
// that grows as terms are added. Half the pool (rounded down) holds the
// shortest formulas of the library, by token count, ties in library order
// (or by correlation with the targets, see TermColumns).
// Before the model of m <= 3 terms, the library is ranked by the weighted
// |correlation| of its screening columns with the residual of the best
// model of m - 1 terms (the targets for m = 1), ties to the earlier
// formula, and the other half is filled in that order up to ceil(m * half
// / 3) formulas. Formulas that fail TermPool::offer are passed over. The
// model of m <= 3 terms is the best subset of the pool; beyond that the best
// of the kForwardPaths best models of m - 1 terms, each extended by one
// formula of the full pool. The models of up to 3 terms thus do not depend
// on max_terms.
class TermSelection {
 public:
  TermSelection(TermColumns columns, std::size_t max_terms, std::size_t pool);

  // The model with one term more than the last (library indices in
  // `library_terms`); none when there is none.
  struct Model {
    LinearFit fit;
    std::vector<std::size_t> library_terms;
  };
  std::optional<Model> next(const std::function<bool()>& stop);

 private:
  void screen(std::size_t quota);
  void offer(std::size_t j);

  TermColumns columns_;
  std::size_t max_terms_;
  std::size_t pool_limit_;
  TermPool pool_;
  std::vector<std::size_t> members_;  // library index of each pool position
  std::vector<char> tried_;           // per library formula: offered to the pool
  std::vector<double> screen_mean_;   // per library formula
  std::vector<double> screen_ss_;     // per library formula: centred sum of squares
  std::vector<LinearFit> paths_;      // the best models of the last size, best first
  std::optional<Model> last_;
  std::size_t screened_ = 0;  // pool members that came from screening
};

}  // namespace tov
