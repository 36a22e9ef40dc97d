// The rational reduction of the dimension matrix, the reduced data and the
// rewriting of reduced formulas.
#include "units/dimensional.hpp"

#include <algorithm>
#include <cmath>
#include <limits>
#include <numeric>
#include <stdexcept>
#include <tuple>
#include <utility>

#include "formula/builder.hpp"
#include "numeric/decimal.hpp"
#include "ops/registry.hpp"

namespace tov {

namespace {

using Vector = std::vector<Rational>;
using Matrix = std::vector<Vector>;  // row-major

// Brings the first `columns` columns of `m` to reduced row echelon form,
// applying every row operation to the whole rows; returns the pivot columns.
std::vector<std::size_t> row_reduce(Matrix& m, std::size_t columns) {
  std::vector<std::size_t> pivots;
  std::size_t row = 0;
  for (std::size_t c = 0; c < columns && row < m.size(); ++c) {
    std::size_t p = row;
    while (p < m.size() && m[p][c].is_zero()) ++p;
    if (p == m.size()) continue;
    std::swap(m[p], m[row]);
    const Rational inverse = Rational(1) / m[row][c];
    for (Rational& v : m[row]) v *= inverse;
    for (std::size_t r = 0; r < m.size(); ++r) {
      if (r == row || m[r][c].is_zero()) continue;
      const Rational factor = m[r][c];
      for (std::size_t j = 0; j < m[r].size(); ++j) m[r][j] -= factor * m[row][j];
    }
    pivots.push_back(c);
    ++row;
  }
  return pivots;
}

// The columns `subset` of `d`, with `extra` appended to every row when given.
Matrix columns_of(const Matrix& d, std::span<const std::size_t> subset, const Vector* extra) {
  Matrix m(d.size());
  for (std::size_t r = 0; r < d.size(); ++r) {
    for (const std::size_t c : subset) m[r].push_back(d[r][c]);
    if (extra != nullptr) m[r].push_back((*extra)[r]);
  }
  return m;
}

std::int64_t checked_lcm(std::int64_t a, std::int64_t b) {
  const __int128 l = static_cast<__int128>(a / std::gcd(a, b)) * b;
  if (l > std::numeric_limits<std::int64_t>::max()) throw RationalOverflow();
  return static_cast<std::int64_t>(l);
}

// A nonzero rational vector scaled to coprime integers, signed so that more
// entries are positive than negative (on a tie, the first nonzero one).
std::vector<std::int64_t> primitive(const Vector& v) {
  std::int64_t denominators = 1;
  for (const Rational& x : v) denominators = checked_lcm(denominators, x.den());
  std::vector<std::int64_t> out;
  std::int64_t divisor = 0;
  for (const Rational& x : v) {
    const Rational scaled = x * Rational(denominators);
    out.push_back(scaled.num());
    divisor = std::gcd(divisor, scaled.num());
  }
  int balance = 0;
  std::int64_t first = 0;
  for (std::int64_t& x : out) {
    x /= divisor;
    balance += (x > 0) - (x < 0);
    if (first == 0) first = x;
  }
  if (balance < 0 || (balance == 0 && first < 0))
    for (std::int64_t& x : out) x = -x;
  return out;
}

// Linearly independent vectors kept in echelon form: every row has a pivot
// entry 1 at which the rows added after it are 0.
class Basis {
 public:
  // Adds `v` when it is independent of the rows so far.
  bool add(Vector v) {
    for (std::size_t i = 0; i < rows_.size(); ++i) {
      const Rational factor = v[pivots_[i]];
      if (factor.is_zero()) continue;
      for (std::size_t j = 0; j < v.size(); ++j) v[j] -= factor * rows_[i][j];
    }
    const auto pivot = std::find_if(v.begin(), v.end(), [](Rational x) { return !x.is_zero(); });
    if (pivot == v.end()) return false;
    const Rational inverse = Rational(1) / *pivot;
    for (Rational& x : v) x *= inverse;
    pivots_.push_back(static_cast<std::size_t>(pivot - v.begin()));
    rows_.push_back(std::move(v));
    return true;
  }
  std::size_t size() const { return rows_.size(); }

 private:
  Matrix rows_;
  std::vector<std::size_t> pivots_;
};

// Calls visit(subset) for every subset of {0 .. n-1} of `size` elements in
// lexicographic order, while `budget` lasts and visit returns true; false
// when the budget ran out.
template <class Visit>
bool for_each_subset(std::size_t n, std::size_t size, std::uint64_t& budget, Visit visit) {
  if (size > n) return true;
  std::vector<std::size_t> subset(size);
  std::iota(subset.begin(), subset.end(), std::size_t{0});
  while (true) {
    if (budget == 0) return false;
    --budget;
    visit(std::span<const std::size_t>(subset));
    std::size_t i = size;
    while (i > 0 && subset[i - 1] == n - size + i - 1) --i;
    if (i == 0) return true;
    ++subset[i - 1];
    for (std::size_t j = i; j < size; ++j) subset[j] = subset[j - 1] + 1;
  }
}

struct GroupCandidate {
  std::vector<std::int64_t> exponents;
  std::int64_t largest = 0;
  std::int64_t sum = 0;
};

std::vector<std::vector<std::int64_t>> choose_groups(const Matrix& d, std::size_t n,
                                                     std::size_t count) {
  std::vector<std::vector<std::int64_t>> groups;
  Basis basis;
  std::uint64_t budget = kSubsetBudget;
  const auto take = [&](std::vector<std::int64_t> exponents) {
    Vector v(exponents.begin(), exponents.end());
    if (basis.add(std::move(v))) groups.push_back(std::move(exponents));
  };
  bool within_budget = true;
  for (std::size_t size = 1; size <= n && groups.size() < count && within_budget; ++size) {
    std::vector<GroupCandidate> candidates;
    within_budget = for_each_subset(n, size, budget, [&](std::span<const std::size_t> subset) {
      Matrix m = columns_of(d, subset, nullptr);
      const std::vector<std::size_t> pivots = row_reduce(m, size);
      if (pivots.size() + 1 != size) return;
      std::size_t free = 0;
      while (free < pivots.size() && pivots[free] == free) ++free;
      Vector local(size, Rational(0));
      local[free] = Rational(1);
      for (std::size_t r = 0; r < pivots.size(); ++r) local[pivots[r]] = -m[r][free];
      if (std::any_of(local.begin(), local.end(), [](Rational x) { return x.is_zero(); })) return;
      const std::vector<std::int64_t> integers = primitive(local);
      GroupCandidate c;
      c.exponents.assign(n, 0);
      for (std::size_t i = 0; i < size; ++i) {
        c.exponents[subset[i]] = integers[i];
        const std::int64_t magnitude = integers[i] < 0 ? -integers[i] : integers[i];
        c.largest = std::max(c.largest, magnitude);
        c.sum += magnitude;
      }
      candidates.push_back(std::move(c));
    });
    // Subsets came in lexicographic order, which a stable sort keeps among ties.
    std::stable_sort(candidates.begin(), candidates.end(),
                     [](const GroupCandidate& a, const GroupCandidate& b) {
                       return std::pair(a.largest, a.sum) < std::pair(b.largest, b.sum);
                     });
    for (GroupCandidate& c : candidates) {
      if (groups.size() == count) break;
      take(std::move(c.exponents));
    }
  }
  if (groups.size() < count) {
    // One group per free column of the reduced dimension matrix.
    Matrix m = d;
    const std::vector<std::size_t> pivots = row_reduce(m, n);
    for (std::size_t free = 0; free < n && groups.size() < count; ++free) {
      if (std::find(pivots.begin(), pivots.end(), free) != pivots.end()) continue;
      Vector v(n, Rational(0));
      v[free] = Rational(1);
      for (std::size_t r = 0; r < pivots.size(); ++r) v[pivots[r]] = -m[r][free];
      take(primitive(v));
    }
  }
  return groups;
}

struct MonomialCandidate {
  Vector exponents;
  std::int64_t denominator = 1;
  Rational largest;
  Rational sum;
};

Vector choose_monomial(const Matrix& d, const Vector& t, std::size_t n, std::size_t rank) {
  Vector none(n, Rational(0));
  if (std::all_of(t.begin(), t.end(), [](Rational x) { return x.is_zero(); })) return none;
  std::uint64_t budget = kSubsetBudget;
  for (std::size_t size = 1; size <= rank; ++size) {
    std::optional<MonomialCandidate> best;
    const bool within_budget =
        for_each_subset(n, size, budget, [&](std::span<const std::size_t> subset) {
          Matrix m = columns_of(d, subset, &t);
          const std::vector<std::size_t> pivots = row_reduce(m, size + 1);
          // Independent columns, and the target in their span.
          if (pivots.size() != size || pivots.back() != size - 1) return;
          MonomialCandidate c;
          c.exponents = none;
          for (std::size_t r = 0; r < size; ++r) {
            const Rational x = m[r][size];
            if (x.is_zero()) return;
            c.exponents[subset[r]] = x;
            c.denominator = std::max(c.denominator, x.den());
            c.largest = std::max(c.largest, x.abs());
            c.sum += x.abs();
          }
          const auto key = [](const MonomialCandidate& a) {
            return std::tuple(a.denominator, a.largest, a.sum);
          };
          if (!best || key(c) < key(*best)) best = std::move(c);
        });
    if (best) return std::move(best->exponents);
    if (!within_budget) break;
  }
  // The solution on the pivot columns of the reduced dimension matrix.
  Matrix m = d;
  for (std::size_t r = 0; r < m.size(); ++r) m[r].push_back(t[r]);
  const std::vector<std::size_t> pivots = row_reduce(m, n);
  for (std::size_t r = 0; r < pivots.size(); ++r) none[pivots[r]] = m[r][n];
  return none;
}

// v_j to the positive power e: denominators 1 and 2 by the builder's
// powers, others as Exp(Times(C, Log(v))) with C the exponent.
Expression input_power(std::size_t j, Rational e) {
  const Expression v = make_var_leaf(static_cast<std::uint8_t>(j));
  if (e.den() <= 2) return power_of(v, e);
  return unary(op_id::kExp,
               binary(op_id::kTimes, constant_leaf(e.to_double()), unary(op_id::kLog, v)));
}

std::optional<Expression> product(std::span<const Rational> exponents, bool positive) {
  std::optional<Expression> out;
  for (std::size_t j = 0; j < exponents.size(); ++j) {
    const Rational e = exponents[j];
    if (e.is_zero() || (e > Rational(0)) != positive) continue;
    Expression factor = input_power(j, positive ? e : -e);
    out = out ? binary(op_id::kTimes, *out, factor) : std::move(factor);
  }
  return out;
}

std::string group_name(std::size_t i) { return "pi_{" + decimal(i) + "}"; }

}  // namespace

bool Reduction::is_identity() const {
  if (groups.size() != inputs || monomial_formula) return false;
  for (std::size_t i = 0; i < groups.size(); ++i)
    for (std::size_t j = 0; j < inputs; ++j)
      if (groups[i][j] != (i == j ? 1 : 0)) return false;
  return true;
}

std::optional<Expression> power_product(std::span<const Rational> exponents) {
  const std::optional<Expression> over = product(exponents, true);
  const std::optional<Expression> under = product(exponents, false);
  if (over && under) return binary(op_id::kDivide, *over, *under);
  if (under) return unary(op_id::kInv, *under);
  return over;
}

std::variant<Reduction, std::string> reduce_dimensions(std::span<const Dimension> inputs,
                                                       const Dimension& target) {
  try {
    std::vector<std::string> names;
    const auto collect = [&](const Dimension& dimension) {
      for (const auto& [name, exponent] : dimension.factors())
        if (std::find(names.begin(), names.end(), name) == names.end()) names.push_back(name);
    };
    for (const Dimension& dimension : inputs) collect(dimension);
    collect(target);
    std::stable_sort(names.begin(), names.end(), [](const std::string& a, const std::string& b) {
      return base_dimension_before(a, b);
    });
    const std::size_t n = inputs.size();
    Matrix d(names.size(), Vector(n));
    Vector t(names.size());
    for (std::size_t r = 0; r < names.size(); ++r) {
      for (std::size_t j = 0; j < n; ++j) d[r][j] = inputs[j].exponent(names[r]);
      t[r] = target.exponent(names[r]);
    }

    Matrix augmented = d;
    for (std::size_t r = 0; r < names.size(); ++r) augmented[r].push_back(t[r]);
    const std::vector<std::size_t> pivots = row_reduce(augmented, n + 1);
    if (!pivots.empty() && pivots.back() == n) {
      std::string missing;
      for (const auto& [name, exponent] : target.factors()) {
        const bool carried = std::any_of(inputs.begin(), inputs.end(), [&](const Dimension& x) {
          return !x.exponent(name).is_zero();
        });
        if (!carried) missing += (missing.empty() ? "" : ", ") + name;
      }
      std::string message = "y_units " + target.text() + " cannot be formed from the inputs' units";
      message += missing.empty() ? ": no product of powers of the inputs has these units"
                                 : ": no input carries " + missing;
      return message +
             ". A law with a dimensional constant (such as G, c, hbar or k_B) needs that "
             "constant as an input column with its units.";
    }
    const std::size_t rank = pivots.size();

    Reduction reduction;
    reduction.inputs = n;
    reduction.groups = choose_groups(d, n, n - rank);
    reduction.monomial = choose_monomial(d, t, n, rank);
    for (const std::vector<std::int64_t>& group : reduction.groups) {
      const Vector exponents(group.begin(), group.end());
      reduction.group_formulas.push_back(*power_product(exponents));
    }
    reduction.monomial_formula = power_product(reduction.monomial);
    return reduction;
  } catch (const RationalOverflow&) {
    return std::string("the units' exponents are too large for exact arithmetic");
  }
}

std::variant<ReducedData, std::string> reduce_data(std::span<const std::vector<double>> rows,
                                                   std::span<const double> targets,
                                                   std::span<const double> weights,
                                                   const Reduction& reduction) {
  const OperatorList ops = builtin_registry()->ops();
  const auto real_value = [&](const Expression& x, std::span<const Complex> inputs,
                              std::vector<Complex>& stack) -> std::optional<double> {
    const std::optional<Complex> value = eval_internal(x.tokens, inputs, {}, ops, stack);
    if (!value || value->im != 0.0) return std::nullopt;
    return value->re;
  };
  ReducedData out;
  out.rows.reserve(rows.size());
  out.targets.reserve(rows.size());
  out.monomial.reserve(rows.size());
  std::vector<Complex> inputs;
  std::vector<Complex> stack;
  for (std::size_t i = 0; i < rows.size(); ++i) {
    const auto at = [i] { return " at sample " + decimal(i); };
    if (rows[i].size() != reduction.inputs)
      return "sample " + decimal(i) + " has " + decimal(rows[i].size()) + " values for " +
             decimal(reduction.inputs) + " units";
    std::vector<double> row(reduction.groups.size(), 0.0);
    double y = 0.0;
    double monomial = 0.0;
    if (weights.empty() || weights[i] != 0.0) {
      to_complex(rows[i], inputs);
      for (std::size_t g = 0; g < row.size(); ++g) {
        const Expression& group = reduction.group_formulas[g];
        const std::optional<double> value = real_value(group, inputs, stack);
        if (!value)
          return "the dimensionless group " + group_name(g) + " = " + group.formula +
                 " has no finite real value" + at();
        row[g] = *value;
      }
      y = targets[i];
      monomial = 1.0;
      if (reduction.monomial_formula) {
        const std::optional<double> m = real_value(*reduction.monomial_formula, inputs, stack);
        if (!m || *m == 0.0)
          return "the monomial M = " + reduction.monomial_formula->formula +
                 " has no finite, nonzero real value" + at();
        monomial = *m;
        y = y / *m;
        if (!std::isfinite(y)) return "y / M is not finite" + at();
      }
    }
    out.rows.push_back(std::move(row));
    out.targets.push_back(y);
    out.monomial.push_back(monomial);
  }
  return out;
}

Expression in_inputs(const Expression& f, const Reduction& reduction) {
  Replayed replayed = replay(f.tokens, [&](const Token& t) -> Replayed {
    if (t.kind == TokenKind::Var) return reduction.group_formulas.at(t.index);
    return search_leaf(t);
  });
  if (std::string* reason = std::get_if<std::string>(&replayed))
    throw std::logic_error("in_inputs: " + *reason);
  Expression g = std::move(std::get<Expression>(replayed));
  if (!reduction.monomial_formula) return g;
  return binary(op_id::kTimes, *reduction.monomial_formula, g);
}

}  // namespace tov
