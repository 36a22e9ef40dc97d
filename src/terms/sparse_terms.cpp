// Screening, the pool's Gram matrix and the subset search.
#include "terms/sparse_terms.hpp"

#include <algorithm>
#include <cmath>
#include <numeric>
#include <set>
#include <utility>

namespace tov {

namespace {

// A Cholesky factor of the Gram matrix of some pool columns, grown one term
// at a time, with the forward-substituted products with the targets.
struct Factor {
  std::vector<std::size_t> terms;
  std::vector<std::vector<double>> lower;  // row k holds columns 0..k
  std::vector<double> u;
  double explained = 0.0;  // sum of u_k^2 in order
};

}  // namespace

TermPool::TermPool(std::span<const double> targets, std::span<const double> weights)
    : weights_(weights.begin(), weights.end()) {
  const std::size_t n = targets.size();
  double total = static_cast<double>(n);
  if (!weights_.empty()) {
    total = 0.0;
    for (const double w : weights_) total = total + w;
  }
  double sum = 0.0;
  for (std::size_t i = 0; i < n; ++i)
    sum = sum + (weights_.empty() ? targets[i] : weights_[i] * targets[i]);
  mean_target_ = sum / total;
  centred_targets_.resize(n);
  for (std::size_t i = 0; i < n; ++i) centred_targets_[i] = targets[i] - mean_target_;
  target_ss_ = dot(centred_targets_, centred_targets_);
}

double TermPool::dot(std::span<const double> a, std::span<const double> b) const {
  double sum = 0.0;
  for (std::size_t i = 0; i < a.size(); ++i)
    sum = sum + (weights_.empty() ? a[i] * b[i] : weights_[i] * (a[i] * b[i]));
  return sum;
}

bool TermPool::offer(std::span<const double> column) {
  const std::size_t n = column.size();
  if (n != centred_targets_.size()) return false;
  double total = 0.0;
  double sum = 0.0;
  for (std::size_t i = 0; i < n; ++i) {
    if (!std::isfinite(column[i])) return false;
    const double w = weights_.empty() ? 1.0 : weights_[i];
    total = total + w;
    sum = sum + (weights_.empty() ? column[i] : w * column[i]);
  }
  const double mean = sum / total;
  std::vector<double> z(n);
  for (std::size_t i = 0; i < n; ++i) z[i] = column[i] - mean;
  const double ss = dot(z, z);
  if (!(ss > 0.0) || !std::isfinite(ss)) return false;
  const double scale = std::sqrt(ss);
  for (double& v : z) v = v / scale;

  std::vector<double> row(size() + 1);
  for (std::size_t j = 0; j < size(); ++j) row[j] = dot(z, z_[j]);
  row[size()] = dot(z, z);
  for (std::size_t j = 0; j < size(); ++j) {
    const double bound = 0.9999 * std::sqrt(gram_[j][j] * row[size()]);
    if (!(std::fabs(row[j]) <= bound)) return false;
  }
  const double cross = dot(z, centred_targets_);
  if (!std::isfinite(cross) || !std::isfinite(row[size()])) return false;
  z_.push_back(std::move(z));
  mean_.push_back(mean);
  scale_.push_back(scale);
  gram_.push_back(std::move(row));
  cross_.push_back(cross);
  return true;
}

namespace {

// Adds pool column `t` to the factor; false when its unexplained part is
// below kMinUnexplained of its variance.
template <class Gram>
bool grow(Factor& f, std::size_t t, const Gram& gram, std::span<const double> cross) {
  const std::size_t k = f.terms.size();
  std::vector<double> row(k + 1);
  for (std::size_t j = 0; j < k; ++j) {
    double s = gram(t, f.terms[j]);
    for (std::size_t l = 0; l < j; ++l) s = s - row[l] * f.lower[j][l];
    row[j] = s / f.lower[j][j];
  }
  const double diagonal = gram(t, t);
  double pivot = diagonal;
  for (std::size_t l = 0; l < k; ++l) pivot = pivot - row[l] * row[l];
  if (!(pivot >= kMinUnexplained * diagonal)) return false;
  row[k] = std::sqrt(pivot);
  double s = cross[t];
  for (std::size_t l = 0; l < k; ++l) s = s - row[l] * f.u[l];
  const double u = s / row[k];
  f.terms.push_back(t);
  f.lower.push_back(std::move(row));
  f.u.push_back(u);
  f.explained = f.explained + u * u;
  return true;
}

}  // namespace

LinearFit TermPool::solution(std::span<const std::size_t> terms, std::span<const double> lower,
                             std::span<const double> u, double sse) const {
  // `lower` is the factor row-major, m x m.
  const std::size_t m = terms.size();
  std::vector<double> beta(m);
  for (std::size_t r = m; r-- > 0;) {
    double s = u[r];
    for (std::size_t l = r + 1; l < m; ++l) s = s - lower[l * m + r] * beta[l];
    beta[r] = s / lower[r * m + r];
  }
  LinearFit fit;
  fit.terms.assign(terms.begin(), terms.end());
  fit.coefficients.resize(m);
  double intercept = mean_target_;
  for (std::size_t k = 0; k < m; ++k) {
    fit.coefficients[k] = beta[k] / scale_[terms[k]];
    intercept = intercept - fit.coefficients[k] * mean_[terms[k]];
  }
  fit.intercept = intercept;
  fit.sse = sse;
  return fit;
}

namespace {

std::vector<double> flat(const Factor& f) {
  const std::size_t m = f.terms.size();
  std::vector<double> out(m * m, 0.0);
  for (std::size_t r = 0; r < m; ++r)
    for (std::size_t c = 0; c <= r; ++c) out[r * m + c] = f.lower[r][c];
  return out;
}

}  // namespace

std::optional<LinearFit> TermPool::fit(std::span<const std::size_t> terms) const {
  const auto g = [&](std::size_t i, std::size_t j) { return gram(i, j); };
  Factor f;
  for (const std::size_t t : terms)
    if (t >= size() || !grow(f, t, g, cross_)) return std::nullopt;
  return solution(f.terms, flat(f), f.u, target_ss_ - f.explained);
}

namespace {

// The `keep` best factors seen, by explained sum of squares, the earlier
// of equal ones first.
class Best {
 public:
  explicit Best(std::size_t keep) : keep_(keep) {}

  void consider(const Factor& f) {
    if (keep_ == 0) return;
    Entry e{f, seq_++};
    if (heap_.size() < keep_) {
      heap_.push_back(std::move(e));
      std::push_heap(heap_.begin(), heap_.end(), better);
    } else if (better(e, heap_.front())) {
      std::pop_heap(heap_.begin(), heap_.end(), better);
      heap_.back() = std::move(e);
      std::push_heap(heap_.begin(), heap_.end(), better);
    }
  }

  std::vector<Factor> take() {
    std::sort(heap_.begin(), heap_.end(), better);
    std::vector<Factor> out;
    for (Entry& e : heap_) out.push_back(std::move(e.factor));
    return out;
  }

 private:
  struct Entry {
    Factor factor;
    std::size_t seq;
  };
  // The heap's front is its worst entry.
  static bool better(const Entry& a, const Entry& b) {
    if (a.factor.explained != b.factor.explained) return a.factor.explained > b.factor.explained;
    return a.seq < b.seq;
  }

  std::size_t keep_;
  std::size_t seq_ = 0;
  std::vector<Entry> heap_;
};

}  // namespace

std::vector<LinearFit> TermPool::best_subsets(std::size_t m, std::size_t keep,
                                              const std::function<bool()>& stop) const {
  const auto g = [&](std::size_t i, std::size_t j) { return gram(i, j); };
  Best best(keep);
  const std::size_t p = size();
  for (std::size_t i = 0; i < p; ++i) {
    if (stop && stop()) return {};
    Factor one;
    if (!grow(one, i, g, cross_)) continue;
    if (m == 1) {
      best.consider(one);
      continue;
    }
    for (std::size_t j = i + 1; j < p; ++j) {
      Factor two = one;
      if (!grow(two, j, g, cross_)) continue;
      if (m == 2) {
        best.consider(two);
        continue;
      }
      for (std::size_t k = j + 1; k < p; ++k) {
        Factor three = two;
        if (grow(three, k, g, cross_)) best.consider(three);
      }
    }
  }
  std::vector<LinearFit> out;
  for (const Factor& f : best.take())
    out.push_back(solution(f.terms, flat(f), f.u, target_ss_ - f.explained));
  return out;
}

std::vector<LinearFit> TermPool::extend(std::span<const LinearFit> fits, std::size_t keep) const {
  const auto g = [&](std::size_t i, std::size_t j) { return gram(i, j); };
  Best best(keep);
  std::set<std::vector<std::size_t>> seen;
  for (const LinearFit& fit : fits) {
    Factor base;
    bool usable = true;
    for (const std::size_t t : fit.terms) usable = usable && grow(base, t, g, cross_);
    if (!usable) continue;
    for (std::size_t j = 0; j < size(); ++j) {
      if (std::find(fit.terms.begin(), fit.terms.end(), j) != fit.terms.end()) continue;
      std::vector<std::size_t> key = fit.terms;
      key.push_back(j);
      std::sort(key.begin(), key.end());
      if (!seen.insert(std::move(key)).second) continue;
      Factor f = base;
      if (grow(f, j, g, cross_)) best.consider(f);
    }
  }
  std::vector<LinearFit> out;
  for (const Factor& f : best.take())
    out.push_back(solution(f.terms, flat(f), f.u, target_ss_ - f.explained));
  return out;
}

TermSelection::TermSelection(TermColumns columns, std::size_t max_terms, std::size_t pool)
    : columns_(std::move(columns)),
      max_terms_(max_terms),
      pool_limit_(pool),
      pool_(columns_.targets, columns_.weights),
      tried_(columns_.screen.size(), 0) {
  const std::span<const double> w = columns_.screen_weights;
  for (const std::vector<double>& c : columns_.screen) {
    double total = 0.0;
    double sum = 0.0;
    for (std::size_t i = 0; i < c.size(); ++i) {
      total = total + (w.empty() ? 1.0 : w[i]);
      sum = sum + (w.empty() ? c[i] : w[i] * c[i]);
    }
    const double mean = sum / total;
    double ss = 0.0;
    for (std::size_t i = 0; i < c.size(); ++i) {
      const double d = c[i] - mean;
      ss = ss + (w.empty() ? d * d : w[i] * (d * d));
    }
    screen_mean_.push_back(mean);
    screen_ss_.push_back(ss);
  }
  std::vector<std::size_t> shortest(columns_.screen.size());
  std::iota(shortest.begin(), shortest.end(), std::size_t{0});
  std::vector<double> closeness(columns_.screen.size(), 0.0);
  if (columns_.short_by_correlation) {
    const std::span<const double> y = columns_.screen_targets;
    double total = 0.0;
    double sum = 0.0;
    for (std::size_t i = 0; i < y.size(); ++i) {
      total = total + (w.empty() ? 1.0 : w[i]);
      sum = sum + (w.empty() ? y[i] : w[i] * y[i]);
    }
    const double mean = sum / total;
    double y_ss = 0.0;
    for (std::size_t i = 0; i < y.size(); ++i)
      y_ss = y_ss + (w.empty() ? 1.0 : w[i]) * ((y[i] - mean) * (y[i] - mean));
    for (std::size_t j = 0; j < columns_.screen.size(); ++j) {
      const std::vector<double>& c = columns_.screen[j];
      if (c.size() != y.size()) continue;
      double cross = 0.0;
      for (std::size_t i = 0; i < y.size(); ++i)
        cross = cross + (w.empty() ? 1.0 : w[i]) * ((c[i] - screen_mean_[j]) * (y[i] - mean));
      const double score = std::fabs(cross) / std::sqrt(screen_ss_[j] * y_ss);
      if (std::isfinite(score)) closeness[j] = score;
    }
  }
  std::stable_sort(shortest.begin(), shortest.end(), [&](std::size_t a, std::size_t b) {
    if (columns_.sizes[a] != columns_.sizes[b]) return columns_.sizes[a] < columns_.sizes[b];
    return closeness[a] > closeness[b];
  });
  for (const std::size_t j : shortest) {
    if (pool_.size() >= pool_limit_ / 2) break;
    if (screen_ss_[j] > 0.0 && std::isfinite(screen_ss_[j])) offer(j);
  }
}

void TermSelection::offer(std::size_t j) {
  tried_[j] = 1;
  const std::optional<std::vector<double>> column =
      columns_.fetch ? columns_.fetch(j) : std::optional(columns_.screen[j]);
  if (column && pool_.offer(*column)) members_.push_back(j);
}

void TermSelection::screen(std::size_t quota) {
  const std::span<const double> y = columns_.screen_targets;
  const std::span<const double> w = columns_.screen_weights;
  const std::size_t n = y.size();
  std::vector<double> r(y.begin(), y.end());
  if (last_) {
    for (std::size_t i = 0; i < n; ++i) {
      double prediction = last_->fit.intercept;
      for (std::size_t k = 0; k < last_->library_terms.size(); ++k)
        prediction =
            prediction + last_->fit.coefficients[k] * columns_.screen[last_->library_terms[k]][i];
      r[i] = y[i] - prediction;
    }
  }
  double total = 0.0;
  double sum = 0.0;
  for (std::size_t i = 0; i < n; ++i) {
    total = total + (w.empty() ? 1.0 : w[i]);
    sum = sum + (w.empty() ? r[i] : w[i] * r[i]);
  }
  const double mean = sum / total;
  double r_ss = 0.0;
  for (double& v : r) v = v - mean;
  for (std::size_t i = 0; i < n; ++i)
    r_ss = r_ss + (w.empty() ? r[i] * r[i] : w[i] * (r[i] * r[i]));
  if (!(r_ss > 0.0) || !std::isfinite(r_ss)) return;

  std::vector<std::pair<double, std::size_t>> ranked;
  for (std::size_t j = 0; j < columns_.screen.size(); ++j) {
    if (tried_[j] || !(screen_ss_[j] > 0.0) || !std::isfinite(screen_ss_[j])) continue;
    const std::vector<double>& c = columns_.screen[j];
    double s = 0.0;
    for (std::size_t i = 0; i < n; ++i) {
      const double t = (c[i] - screen_mean_[j]) * r[i];
      s = s + (w.empty() ? t : w[i] * t);
    }
    const double score = std::fabs(s) / std::sqrt(screen_ss_[j] * r_ss);
    if (std::isfinite(score)) ranked.emplace_back(score, j);
  }
  std::stable_sort(ranked.begin(), ranked.end(),
                   [](const auto& a, const auto& b) { return a.first > b.first; });
  for (const auto& [score, j] : ranked) {
    if (screened_ >= quota) break;
    const std::size_t before = pool_.size();
    offer(j);
    screened_ += pool_.size() - before;
  }
}

std::optional<TermSelection::Model> TermSelection::next(const std::function<bool()>& stop) {
  const std::size_t m = last_ ? last_->fit.terms.size() + 1 : 1;
  if (m > max_terms_) return std::nullopt;
  const std::size_t half = pool_limit_ - pool_limit_ / 2;
  if (m <= 3) screen((m * half + 2) / 3);
  paths_ =
      m <= 3 ? pool_.best_subsets(m, kForwardPaths, stop) : pool_.extend(paths_, kForwardPaths);
  if (paths_.empty()) {
    max_terms_ = 0;  // no model of m terms, hence none larger
    return std::nullopt;
  }
  Model model{paths_.front(), {}};
  for (const std::size_t t : model.fit.terms) model.library_terms.push_back(members_[t]);
  last_ = model;
  return model;
}

}  // namespace tov
