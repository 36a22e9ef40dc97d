// The lookup of halves, the roots and the candidates they give.
#include "terms/meet_in_the_middle.hpp"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <limits>
#include <map>
#include <numbers>
#include <optional>
#include <set>
#include <string>
#include <tuple>
#include <utility>

#include "fit/scoring.hpp"
#include "formula/builder.hpp"
#include "ops/registry.hpp"
#include "terms/term_library.hpp"

namespace tov {

namespace {

constexpr std::size_t kKeyRows = 32;
constexpr std::size_t kProjections = 6;
// More directions than the key uses: a half whose projection on any of them
// differs from the query's by more than kReach is no hit, and the test is
// cheaper than the key rows' cosine.
constexpr std::size_t kDirections = 12;
// The largest difference of a projection between a query and a hit (with
// room for rounding), and the width of a cell: three times that, so a hit
// never lies beyond the nearer neighbouring cell.
const double kReach = 1.01 * std::sqrt(2.0 * kPairTolerance);
const double kCell = 3.0 * std::sqrt(2.0 * kPairTolerance);
// A normalised vector with a component above this is one row and noise:
// no lookup can tell such halves apart.
constexpr double kDominant = 0.99;

// Halves this close (1 - |cos|) are one: rounding apart.
constexpr double kSameTolerance = 1e-12;

enum Class : std::size_t { kScale = 0, kAffine = 1 };
constexpr std::size_t kClasses = 2;

// The binary roots: y = c A X, y = c A / X, y = c X / A.
enum class Binary { Times, Over, Under };
constexpr Binary kBinaryRoots[] = {Binary::Times, Binary::Over, Binary::Under};

// A unary root u: the lookup of u^-1(y), defined where `domain` holds for
// every target. Homogeneous u (u(a x) = a^p u(x)) take an offset inside
// (u(X + C)); the others a factor and an offset (u(C X + C)).
struct UnaryRoot {
  std::uint64_t op;
  double (*inverse)(double);
  bool (*domain)(std::span<const double>);
  bool homogeneous;
  bool scale_class;  // looked up up to a factor too
};

bool no_zero(std::span<const double> y) {
  return std::none_of(y.begin(), y.end(), [](double v) { return v == 0.0; });
}
bool one_sign(std::span<const double> y) {
  return std::all_of(y.begin(), y.end(), [](double v) { return v > 0.0; }) ||
         std::all_of(y.begin(), y.end(), [](double v) { return v < 0.0; });
}
bool anywhere(std::span<const double>) { return true; }
bool within_one(std::span<const double> y) {
  return std::all_of(y.begin(), y.end(), [](double v) { return std::fabs(v) <= 1.0; });
}
bool half_turn(std::span<const double> y) {
  return std::all_of(y.begin(), y.end(),
                     [](double v) { return std::fabs(v) < std::numbers::pi / 2.0; });
}
bool turn(std::span<const double> y) {
  return std::all_of(y.begin(), y.end(),
                     [](double v) { return v >= 0.0 && v <= std::numbers::pi; });
}
bool below_exp_limit(std::span<const double> y) {
  return std::all_of(y.begin(), y.end(), [](double v) { return v < 700.0; });
}

double inverse_of_inv(double y) { return 1.0 / y; }
double inverse_of_sqrt(double y) { return y * y; }
double inverse_of_square(double y) { return std::sqrt(std::fabs(y)); }
double inverse_of_cube(double y) { return std::cbrt(y); }
double inverse_of_exp(double y) { return std::log(std::fabs(y)); }
double inverse_of_log(double y) { return std::exp(y); }
double inverse_of_sin(double y) { return std::asin(y); }
double inverse_of_cos(double y) { return std::acos(y); }
double inverse_of_tan(double y) { return std::atan(y); }
double inverse_of_arcsin(double y) { return std::sin(y); }
double inverse_of_arccos(double y) { return std::cos(y); }
double inverse_of_arctan(double y) { return std::tan(y); }

const UnaryRoot kUnaryRoots[] = {
    {op_id::kInv, inverse_of_inv, no_zero, true, true},
    {op_id::kSqrt, inverse_of_sqrt, one_sign, true, true},
    {op_id::kSquare, inverse_of_square, one_sign, true, true},
    {op_id::kCube, inverse_of_cube, anywhere, true, true},
    {op_id::kExp, inverse_of_exp, one_sign, false, false},
    {op_id::kLog, inverse_of_log, below_exp_limit, false, true},
    {op_id::kSin, inverse_of_sin, within_one, false, false},
    {op_id::kCos, inverse_of_cos, within_one, false, false},
    {op_id::kTan, inverse_of_tan, anywhere, false, false},
    {op_id::kArcSin, inverse_of_arcsin, half_turn, false, false},
    {op_id::kArcCos, inverse_of_arccos, turn, false, false},
    {op_id::kArcTan, inverse_of_arctan, half_turn, false, false},
};

// The unary roots a binary root's other half may sit under: y = c A u(X)
// and so on (Inv is the other binary roots).
constexpr std::size_t kHalfRoots[] = {1, 2, 3, 4};  // Sqrt, Square, Cube, Exp

// Fixed directions: +-1 / sqrt(m), as many of each sign (one 0 for odd
// m), shuffled by a splitmix64 stream (public-domain generator by Sebastiano
// Vigna), so the key is the same on every machine. Balanced directions see
// only what a vector has beyond its mean: the halves of one sign, whose
// normalised vectors all lie near the diagonal, spread over the cells.
std::array<std::vector<double>, kDirections> directions(std::size_t m) {
  std::uint64_t state = 0x9e3779b97f4a7c15ULL;
  const auto next = [&] {
    state += 0x9e3779b97f4a7c15ULL;
    std::uint64_t z = state;
    z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ULL;
    z = (z ^ (z >> 27)) * 0x94d049bb133111ebULL;
    return z ^ (z >> 31);
  };
  const double unit = 1.0 / std::sqrt(static_cast<double>(m));
  std::array<std::vector<double>, kDirections> out;
  for (std::vector<double>& d : out) {
    d.assign(m, 0.0);
    for (std::size_t i = 0; i + 1 < m; i += 2) {
      d[i] = unit;
      d[i + 1] = -unit;
    }
    // Fisher-Yates with the stream.
    for (std::size_t i = m; i > 1; --i) std::swap(d[i - 1], d[next() % i]);
  }
  return out;
}

// sqrt(w) v, centred (weighted) for the affine class, to unit length; none
// when it has no direction or a value is not finite. `weights` empty: every
// row weighs 1.
std::optional<std::vector<double>> unit_vector(std::span<const double> values,
                                               std::span<const double> weights, Class c) {
  double mean = 0.0;
  if (c == kAffine) {
    double sum = 0.0;
    double total = 0.0;
    for (std::size_t i = 0; i < values.size(); ++i) {
      const double w = weights.empty() ? 1.0 : weights[i];
      sum = sum + w * values[i];
      total = total + w;
    }
    mean = sum / total;
  }
  std::vector<double> out(values.size());
  double norm = 0.0;
  for (std::size_t i = 0; i < values.size(); ++i) {
    const double r = weights.empty() ? 1.0 : std::sqrt(weights[i]);
    out[i] = r * (values[i] - mean);
    norm = norm + out[i] * out[i];
  }
  if (!(norm > 0.0) || !std::isfinite(norm)) return std::nullopt;
  const double length = std::sqrt(norm);
  for (double& v : out) v = v / length;
  return out;
}

bool dominated(std::span<const double> unit) {
  return std::any_of(unit.begin(), unit.end(), [](double v) { return std::fabs(v) > kDominant; });
}

double dot(std::span<const double> a, std::span<const double> b) {
  double s = 0.0;
  for (std::size_t i = 0; i < a.size(); ++i) s = s + a[i] * b[i];
  return s;
}

std::uint64_t mix(std::uint64_t h, std::int64_t v) {
  h ^= static_cast<std::uint64_t>(v) + 0x9e3779b97f4a7c15ULL + (h << 6) + (h >> 2);
  return h;
}

// The identity of a formula with its constants.
std::string identity_of(const Expression& e) {
  std::string key = e.formula;
  for (const Token& t : e.tokens)
    if (t.kind == TokenKind::Param) {
      char bytes[sizeof t.value.re];
      std::memcpy(bytes, &t.value.re, sizeof bytes);
      key.append(bytes, sizeof bytes);
    }
  return key;
}

// `values` with the unary operator `op` applied (none: as they are); none
// where a value fails or leaves the magnitude limit.
std::optional<std::vector<Complex>> applied(const std::optional<std::vector<Complex>>& values,
                                            std::optional<std::uint64_t> op,
                                            OperatorList operators) {
  if (!values || !op) return values;
  std::vector<Complex> out;
  out.reserve(values->size());
  for (const Complex& v : *values) {
    const std::optional<Complex> r = operators[*op]->eval(std::span<const Complex>(&v, 1));
    if (!r || !within_limits(*r)) return std::nullopt;
    out.push_back(*r);
  }
  return out;
}

// What a root asks of the other half at given values of y and of A: y / A,
// A / y or y A (with a binary root), then u^-1 of that; none where a value
// is not finite or u^-1 is not defined on all of them.
std::optional<std::vector<double>> needed(std::span<const double> y, std::span<const double> a,
                                          std::optional<Binary> r, std::optional<std::size_t> u) {
  std::vector<double> q(y.begin(), y.end());
  if (r) {
    for (std::size_t i = 0; i < q.size(); ++i) {
      const double av = a[i];
      q[i] = *r == Binary::Times ? y[i] / av : *r == Binary::Over ? av / y[i] : y[i] * av;
    }
  }
  if (u) {
    const UnaryRoot& root = kUnaryRoots[*u];
    if (!root.domain(q)) return std::nullopt;
    for (double& v : q) v = root.inverse(v);
  }
  for (const double v : q)
    if (!std::isfinite(v)) return std::nullopt;
  return q;
}

// A formula's complex values on some rows, computed once and shared by the
// halves built on it.
struct Column {
  Expression formula;
  std::optional<std::vector<Complex>> key_values;   // on the key rows
  std::optional<std::vector<Complex>> full_values;  // on every searched row, when needed
};

// A filed half: a column, or a unary operator over one (an extension), and
// its normalised real parts on the key rows.
struct Half {
  std::shared_ptr<Column> base;
  std::optional<std::uint64_t> op;  // the extension's operator
  bool fresh = true;                // filed by the level in progress
  bool root = false;                // a retained formula (or an input): it pairs as A
  bool dead = false;                // one with an earlier half, which stands for it
  std::vector<double> key_values;
};

// The half's formula, built when a hit needs it.
Expression formula_of(const Half& half) {
  return half.op ? unary(*half.op, half.base->formula) : half.base->formula;
}

std::size_t size_of(const Half& half) { return half.base->formula.complexity + (half.op ? 1 : 0); }

// A confirmed lookup: y = c A o u(X'), or y = c u(X') without A, where X' is
// the half X itself (scale class) or X with an offset (and a factor) inside.
struct Hit {
  double score;
  std::size_t order;  // discovery order, for ties
  std::optional<std::size_t> a;
  std::optional<Binary> binary;
  std::optional<std::size_t> unary;  // into kUnaryRoots
  Class c;
  std::size_t x;
};

}  // namespace

struct MeetInTheMiddle::State {
  const SearchData& data;
  Objective objective;
  OperatorList operators;
  std::uint64_t mask;
  bool linear_scaling;
  bool named;
  std::vector<std::size_t> key_rows;
  std::vector<std::vector<Complex>> key_samples;
  std::vector<double> key_targets;
  std::vector<double> key_weights;        // empty unweighted
  std::vector<std::uint64_t> extensions;  // unary operators that extend every half
  std::array<std::vector<double>, kDirections> directions;
  // Every half's projections on the directions, kDirections values each.
  std::array<std::vector<double>, kClasses> projections;
  std::array<std::vector<Half>, kClasses> halves;
  // The halves' normalised key-row vectors, m values each, contiguous for
  // the scans of a lookup.
  std::array<std::vector<double>, kClasses> key_units;
  // Every formula offered, and the half it was filed as (none: unusable).
  std::array<std::map<std::string, std::optional<std::uint32_t>>, kClasses> filed;
  // The keys of the halves filed before the level in progress, sorted, and
  // those of the level in progress.
  std::array<std::vector<std::pair<std::uint64_t, std::uint32_t>>, kClasses> settled;
  std::array<std::vector<std::pair<std::uint64_t, std::uint32_t>>, kClasses> fresh;
  // Within one level: the halves' values on every searched row, and their
  // normalised forms; none for a half without usable values there.
  std::array<std::map<std::size_t, std::optional<std::vector<double>>>, kClasses> full_values;
  std::array<std::map<std::size_t, std::optional<std::vector<double>>>, kClasses> full_units;
  bool seeded = false;

  State(const SearchData& searched, const SearchConfig& config, OperatorList ops)
      : data(searched),
        objective(searched.objective(config)),
        operators(ops),
        mask(config.operator_mask),
        linear_scaling(config.linear_scaling),
        named(config.named_constants) {
    const std::size_t n = data.samples.size();
    const std::size_t m = std::min(n, kKeyRows);
    for (std::size_t k = 0; k < m; ++k) {
      const std::size_t i = k * n / m;
      key_rows.push_back(i);
      key_samples.push_back(data.samples[i]);
      key_targets.push_back(data.targets[i]);
      if (!data.weights.empty()) key_weights.push_back(data.weights[i]);
    }
    for (const BuiltinInfo& op : kBuiltins)
      if (op.arity == 1 && op.id != op_id::kNeg && op.id < 64 && ((mask >> op.id) & 1))
        extensions.push_back(op.id);
    directions = tov::directions(m);
  }

  std::array<std::int64_t, kProjections> cells(std::span<const double> unit, double sign) const {
    std::array<std::int64_t, kProjections> out{};
    for (std::size_t p = 0; p < kProjections; ++p)
      out[p] = static_cast<std::int64_t>(std::floor(sign * dot(unit, directions[p]) / kCell));
    return out;
  }

  std::span<const double> key_unit(Class c, std::size_t x) const {
    return std::span<const double>(key_units[c]).subspan(x * key_rows.size(), key_rows.size());
  }

  // Files a half under its own cell in every projection and, where it lies
  // within kReach of a cell's edge, under the neighbouring cell too.
  void file(Half half, std::span<const double> unit, Class c) {
    const std::uint32_t position = static_cast<std::uint32_t>(halves[c].size());
    for (const std::vector<double>& d : directions) projections[c].push_back(dot(unit, d));
    std::array<std::int64_t, kProjections> own{};
    std::array<std::optional<std::int64_t>, kProjections> near{};
    for (std::size_t p = 0; p < kProjections; ++p) {
      const double x = dot(unit, directions[p]) / kCell;
      own[p] = static_cast<std::int64_t>(std::floor(x));
      const double inside = x - std::floor(x);
      if (inside < kReach / kCell) near[p] = own[p] - 1;
      if (inside > 1.0 - kReach / kCell) near[p] = own[p] + 1;
    }
    for (std::uint32_t choice = 0; choice < (1u << kProjections); ++choice) {
      std::uint64_t h = 0;
      bool exists = true;
      for (std::size_t p = 0; p < kProjections; ++p) {
        const bool other = (choice >> p) & 1;
        exists = exists && (!other || near[p]);
        h = mix(h, other && near[p] ? *near[p] : own[p]);
      }
      if (exists) fresh[c].emplace_back(h, position);
    }
    halves[c].push_back(std::move(half));
    key_units[c].insert(key_units[c].end(), unit.begin(), unit.end());
  }

  // The level's keys join the sorted ones.
  void settle() {
    for (std::size_t c = 0; c < kClasses; ++c) {
      std::vector<std::pair<std::uint64_t, std::uint32_t>>& keys = settled[c];
      const std::size_t before = keys.size();
      keys.insert(keys.end(), fresh[c].begin(), fresh[c].end());
      std::inplace_merge(keys.begin(), keys.begin() + static_cast<std::ptrdiff_t>(before),
                         keys.end());
      fresh[c].clear();
    }
  }

  const std::optional<std::vector<Complex>>& full_values_of(Column& column) const {
    if (!column.full_values)
      column.full_values = values_at(column.formula, data.samples, operators);
    return column.full_values;
  }

  // Files `base` (with `op` over it) in class `c` from its values on the
  // key rows; the position it is filed as, or none.
  std::optional<std::uint32_t> file_once(const std::shared_ptr<Column>& base,
                                         std::optional<std::uint64_t> op, Class c, bool root) {
    const std::optional<std::vector<Complex>> key_complex =
        applied(base->key_values, op, operators);
    if (!key_complex) return std::nullopt;
    std::optional<std::vector<double>> key_values = real_signal(*key_complex, key_weights);
    if (!key_values) return std::nullopt;
    std::optional<std::vector<double>> key_unit = unit_vector(*key_values, key_weights, c);
    if (!key_unit || dominated(*key_unit)) return std::nullopt;
    const auto position = static_cast<std::uint32_t>(halves[c].size());
    file(Half{base, op, true, root, false, std::move(*key_values)}, *key_unit, c);
    return position;
  }

  // Files `e` without the wrappers of class `c` at its root, and every
  // unary operator over it, once per formula.
  void offer(const Expression& e, Class c) {
    auto base = std::make_shared<Column>();
    base->formula = strip(e, c == kScale ? Wrappers::Scale : Wrappers::Affine);
    const auto [known, is_new] = filed[c].try_emplace(identity_of(base->formula));
    if (!is_new) {
      if (known->second) halves[c][*known->second].root = true;
      return;
    }
    base->key_values = values_at(base->formula, key_samples, operators);
    if (!base->key_values) return;
    known->second = file_once(base, std::nullopt, c, true);
    for (const std::uint64_t op : extensions) file_once(base, op, c, false);
  }

  // After a level's filing: its keys sorted, and every retained formula with
  // the same values as an earlier half (up to what the class leaves open)
  // one with it; that half pairs as A from then on. The extensions'
  // duplicates are left to the hits.
  void unite(const std::array<std::size_t, kClasses>& first) {
    for (std::size_t c = 0; c < kClasses; ++c) {
      std::sort(fresh[c].begin(), fresh[c].end());
      const Class cls = static_cast<Class>(c);
      for (std::size_t x = first[c]; x < halves[c].size(); ++x) {
        Half& half = halves[c][x];
        if (!half.root || half.op) continue;
        for (const std::uint32_t position : key_hits(half.key_values, cls, kSameTolerance)) {
          if (position >= x) break;
          const std::optional<std::vector<double>>& a = unit(cls, x);
          const std::optional<std::vector<double>>& b = unit(cls, position);
          if (a && b && 1.0 - std::fabs(dot(*a, *b)) <= kSameTolerance) {
            half.dead = true;
            halves[c][position].root = true;
            break;
          }
        }
      }
    }
  }

  // Values on every searched row are kept for one level only.
  void forget_full_values() {
    for (auto& cache : full_values) cache.clear();
    for (auto& cache : full_units) cache.clear();
    for (const std::vector<Half>& list : halves)
      for (const Half& h : list) h.base->full_values.reset();
  }

  const std::optional<std::vector<double>>& values(Class c, std::size_t x) {
    auto [it, inserted] = full_values[c].try_emplace(x);
    if (inserted) {
      const Half& half = halves[c][x];
      const std::optional<std::vector<Complex>> v =
          applied(full_values_of(*half.base), half.op, operators);
      if (v) it->second = real_signal(*v, data.weights);
    }
    return it->second;
  }

  const std::optional<std::vector<double>>& unit(Class c, std::size_t x) {
    auto [it, inserted] = full_units[c].try_emplace(x);
    if (inserted) {
      const std::optional<std::vector<double>>& v = values(c, x);
      if (v) it->second = unit_vector(*v, data.weights, c);
    }
    return it->second;
  }

  // The positions of the halves of class `c` within the tolerance of
  // `key_query` on the key rows, ascending.
  // The positions of the halves of class `c` within `tolerance` of
  // `key_query` on the key rows, ascending: of every half, or with
  // `fresh_only` of those the level in progress filed.
  std::vector<std::uint32_t> key_hits(std::span<const double> key_query, Class c,
                                      double tolerance = kPairTolerance,
                                      bool fresh_only = false) const {
    std::vector<std::uint32_t> found;
    const std::optional<std::vector<double>> key_unit = unit_vector(key_query, key_weights, c);
    if (!key_unit || dominated(*key_unit)) return found;
    std::array<double, kDirections> own{};
    for (std::size_t d = 0; d < kDirections; ++d) own[d] = dot(*key_unit, directions[d]);
    const double reach = 1.01 * std::sqrt(2.0 * tolerance);
    double sign = 1.0;
    const auto consider = [&](std::uint32_t position) {
      const double* p = &projections[c][position * kDirections];
      for (std::size_t d = 0; d < kDirections; ++d)
        if (std::fabs(sign * own[d] - p[d]) > reach) return;
      if (!halves[c][position].dead &&
          1.0 - std::fabs(dot(*key_unit, this->key_unit(c, position))) <= tolerance)
        found.push_back(position);
    };
    for (const double side : {1.0, -1.0}) {
      sign = side;
      std::uint64_t h = 0;
      for (const std::int64_t cell : cells(*key_unit, side)) h = mix(h, cell);
      const auto scan = [&](const std::vector<std::pair<std::uint64_t, std::uint32_t>>& keys) {
        auto it = std::lower_bound(keys.begin(), keys.end(),
                                   std::pair<std::uint64_t, std::uint32_t>{h, 0});
        for (; it != keys.end() && it->first == h; ++it) consider(it->second);
      };
      scan(fresh[c]);
      if (!fresh_only) scan(settled[c]);
    }
    std::sort(found.begin(), found.end());
    found.erase(std::unique(found.begin(), found.end()), found.end());
    return found;
  }

  // The key hits of `key_query` confirmed on every searched row against
  // `full_query`, as (score, position) in ascending position.
  template <class Accept>
  void lookup(std::span<const double> key_query,
              const std::function<std::optional<std::vector<double>>()>& full_query, Class c,
              bool fresh_only, Accept&& accept) {
    const std::vector<std::uint32_t> found = key_hits(key_query, c, kPairTolerance, fresh_only);
    if (found.empty()) return;
    const std::optional<std::vector<double>> q = full_query();
    if (!q) return;
    const std::optional<std::vector<double>> q_unit = unit_vector(*q, data.weights, c);
    if (!q_unit) return;
    for (const std::uint32_t position : found) {
      const std::optional<std::vector<double>>& x = unit(c, position);
      if (!x) continue;
      const double score = 1.0 - std::fabs(dot(*q_unit, *x));
      if (score <= kPairTolerance) accept(score, position);
    }
  }
};

MeetInTheMiddle::MeetInTheMiddle(const SearchData& searched, const SearchConfig& config,
                                 OperatorList operators)
    : state_(std::make_unique<State>(searched, config, operators)) {}

MeetInTheMiddle::~MeetInTheMiddle() = default;

std::array<std::size_t, kClasses> MeetInTheMiddle::file(std::span<const Expression> retained) {
  State& s = *state_;
  for (std::vector<Half>& list : s.halves)
    for (Half& h : list) h.fresh = false;
  const std::array<std::size_t, kClasses> first{s.halves[kScale].size(), s.halves[kAffine].size()};
  if (!s.seeded) {
    s.seeded = true;
    for (std::size_t j = 0; j < s.data.variables && j < kMaxVariables; ++j)
      for (const Class c : {kScale, kAffine})
        s.offer(make_var_leaf(static_cast<std::uint8_t>(j)), c);
  }
  for (const Expression& e : retained)
    for (const Class c : {kScale, kAffine}) s.offer(e, c);
  return first;
}

void MeetInTheMiddle::replay(std::span<const Expression> retained) {
  State& s = *state_;
  s.unite(file(retained));
  s.forget_full_values();
  s.settle();
}

std::vector<FrontEntry> MeetInTheMiddle::after_level(std::span<const Expression> retained,
                                                     const ParallelFor& parallel,
                                                     const std::function<bool()>& stop) {
  State& s = *state_;
  s.unite(file(retained));

  const std::span<const double> y = s.data.targets;
  std::vector<Hit> hits;
  std::set<std::tuple<std::size_t, std::size_t>> products;  // A X and X A once
  const std::vector<Half>& roots = s.halves[kScale];
  const auto search = [&](std::optional<std::size_t> a, std::optional<Binary> r,
                          std::optional<std::size_t> u) {
    const std::span<const double> key_a =
        a ? std::span<const double>(roots[*a].key_values) : std::span<const double>();
    const std::optional<std::vector<double>> key_query = needed(s.key_targets, key_a, r, u);
    if (!key_query) return;
    const auto full_query = [&]() -> std::optional<std::vector<double>> {
      if (!a) return needed(y, {}, r, u);
      const std::optional<std::vector<double>>& values = s.values(kScale, *a);
      if (!values) return std::nullopt;
      return needed(y, std::span<const double>(*values), r, u);
    };
    // Pairs of two earlier halves were tried at an earlier level.
    const bool fresh_only = !a || !roots[*a].fresh;
    for (const Class c : {kScale, kAffine}) {
      if (c == kScale && u && !kUnaryRoots[*u].scale_class) continue;
      s.lookup(*key_query, full_query, c, fresh_only, [&](double score, std::size_t x) {
        const Half& half = s.halves[c][x];
        if (a) {
          // A formula over A alone is a formula of the levels.
          if (half.base->formula.formula == roots[*a].base->formula.formula) return;
          if (*r == Binary::Times && !u && c == kScale && half.root &&
              !products.insert({std::min(*a, x), std::max(*a, x)}).second)
            return;
        }
        hits.push_back(Hit{score, hits.size(), a, r, u, c, x});
      });
    }
  };
  for (std::size_t a = 0; a < roots.size(); ++a) {
    if (!roots[a].root || roots[a].dead) continue;
    if (stop && stop()) return {};
    for (const Binary r : kBinaryRoots) {
      search(a, r, std::nullopt);
      for (const std::size_t u : kHalfRoots) search(a, r, u);
    }
  }
  for (std::size_t u = 0; u < std::size(kUnaryRoots); ++u) search(std::nullopt, std::nullopt, u);

  // Scores within rounding of each other are equal; of equal ones the
  // shorter formula comes first.
  const auto hit_size = [&](const Hit& hit) {
    return size_of(s.halves[hit.c][hit.x]) + (hit.a ? size_of(roots[*hit.a]) : 0);
  };
  std::stable_sort(hits.begin(), hits.end(), [&](const Hit& a, const Hit& b) {
    const double sa = a.score <= kSameTolerance ? 0.0 : a.score;
    const double sb = b.score <= kSameTolerance ? 0.0 : b.score;
    if (sa != sb) return sa < sb;
    if (hit_size(a) != hit_size(b)) return hit_size(a) < hit_size(b);
    return a.order < b.order;
  });
  // Of halves with one value vector under one root, the first.
  {
    std::vector<Hit> distinct;
    for (const Hit& hit : hits) {
      if (distinct.size() == kPairCandidates) break;
      const std::optional<std::vector<double>>& x = s.unit(hit.c, hit.x);
      const bool repeated = std::any_of(distinct.begin(), distinct.end(), [&](const Hit& kept) {
        return kept.a == hit.a && kept.binary == hit.binary && kept.unary == hit.unary &&
               kept.c == hit.c && x && s.unit(kept.c, kept.x) &&
               1.0 - std::fabs(dot(*x, *s.unit(kept.c, kept.x))) <= kSameTolerance;
      });
      if (!repeated) distinct.push_back(hit);
    }
    hits = std::move(distinct);
  }

  // The hits as formulas with their starting constants; where the scale is
  // 1 within rounding, also without it.
  std::vector<Expression> formulas;
  for (const Hit& hit : hits) {
    const Half& x = s.halves[hit.c][hit.x];
    const std::optional<std::vector<double>>& x_values = s.values(hit.c, hit.x);
    std::optional<std::vector<double>> q;
    if (hit.a) {
      q = needed(y, std::span<const double>(*s.values(kScale, *hit.a)), hit.binary, hit.unary);
    } else {
      q = needed(y, {}, hit.binary, hit.unary);
    }
    // q ~ alpha x + beta, by the least squares of linear scaling.
    const Affine fit = fit_affine([&](std::size_t i) { return (*x_values)[i]; }, q->size(),
                                  Objective::make(*q, s.data.weights, true, 0.0, 0.5));
    const double alpha = fit.a;
    const double beta = fit.b;
    const bool homogeneous = !hit.unary || kUnaryRoots[*hit.unary].homogeneous;
    Expression inner = formula_of(x);
    if (hit.c == kAffine) {
      if (s.named || alpha == 0.0) continue;
      // alpha X + beta = |alpha| (X + beta / alpha) or |alpha| (-beta / alpha - X): under a
      // homogeneous root the factor |alpha| passes out, and the sign stays inside.
      if (!homogeneous)
        inner = binary(op_id::kPlus, binary(op_id::kTimes, constant_leaf(alpha), inner),
                       constant_leaf(beta));
      else if (alpha > 0.0)
        inner = binary(op_id::kPlus, inner, constant_leaf(beta / alpha));
      else
        inner = binary(op_id::kSubtract, constant_leaf(-beta / alpha), inner);
    } else if (hit.unary && kUnaryRoots[*hit.unary].op == op_id::kLog) {
      if (s.named) continue;
      inner = binary(op_id::kTimes, constant_leaf(alpha), inner);
    }
    if (hit.unary) inner = unary(kUnaryRoots[*hit.unary].op, inner);
    Expression f = inner;
    if (hit.a) {
      const Expression a = formula_of(roots[*hit.a]);
      f = *hit.binary == Binary::Times  ? binary(op_id::kTimes, a, inner)
          : *hit.binary == Binary::Over ? binary(op_id::kDivide, a, inner)
                                        : binary(op_id::kDivide, inner, a);
    }
    if (f.param_count >= kMaxParams || !uses_only(f, s.mask)) continue;
    if (s.linear_scaling) {
      formulas.push_back(std::move(f));
      continue;
    }
    // The scale, by least squares through the origin.
    const std::optional<std::vector<Complex>> v = values_at(f, s.data.samples, s.operators);
    if (!v) continue;
    double fy = 0.0, ff = 0.0;
    for (std::size_t i = 0; i < v->size(); ++i) {
      const double w = s.data.weights.empty() ? 1.0 : s.data.weights[i];
      fy = fy + w * ((*v)[i].re * y[i]);
      ff = ff + w * ((*v)[i].re * (*v)[i].re);
    }
    const double c = fy / ff;
    if (!std::isfinite(c)) continue;
    if (std::fabs(c - 1.0) <= 1e-9) formulas.push_back(f);
    if (!s.named) formulas.push_back(binary(op_id::kTimes, constant_leaf(c), f));
  }
  s.forget_full_values();
  s.settle();

  std::vector<std::optional<FrontEntry>> refined(formulas.size());
  const bool done = parallel(formulas.size(), [&](std::size_t k) {
    FrontEntry entry = refit(formulas[k], s.data.samples, s.objective, s.operators, true);
    if (std::isfinite(entry.error)) refined[k] = std::move(entry);
  });
  if (!done) return {};
  // Once a shorter candidate is exact within the rounding floor, a longer
  // one adds only rounding to the staircase.
  std::vector<std::size_t> by_size;
  for (std::size_t k = 0; k < refined.size(); ++k)
    if (refined[k]) by_size.push_back(k);
  std::stable_sort(by_size.begin(), by_size.end(), [&](std::size_t a, std::size_t b) {
    return refined[a]->expression.complexity < refined[b]->expression.complexity;
  });
  const double floor = rounding_floor(s.objective);
  std::vector<char> kept(refined.size(), 0);
  double best = std::numeric_limits<double>::infinity();
  for (const std::size_t k : by_size) {
    const double error = refined[k]->error;
    if (!(best <= floor)) kept[k] = 1;
    best = std::min(best, error);
  }
  std::vector<FrontEntry> out;
  for (std::size_t k = 0; k < refined.size(); ++k)
    if (kept[k]) out.push_back(std::move(*refined[k]));
  return out;
}

MeetInTheMiddle::Probe MeetInTheMiddle::probe(std::span<const double> values, bool affine) {
  State& s = *state_;
  const Class c = affine ? kAffine : kScale;
  Probe out;
  std::vector<double> key_query;
  for (const std::size_t i : s.key_rows) key_query.push_back(values[i]);
  const auto full = [&]() -> std::optional<std::vector<double>> {
    return std::vector<double>(values.begin(), values.end());
  };
  s.lookup(key_query, full, c, false, [&](double, std::size_t x) { out.indexed.push_back(x); });
  const std::optional<std::vector<double>> key_unit = unit_vector(key_query, s.key_weights, c);
  const std::optional<std::vector<double>> full_unit = unit_vector(values, s.data.weights, c);
  if (key_unit && full_unit && !dominated(*key_unit)) {
    for (std::size_t x = 0; x < s.halves[c].size(); ++x) {
      const std::optional<std::vector<double>>& unit = s.unit(c, x);
      if (!unit || s.halves[c][x].dead) continue;
      if (1.0 - std::fabs(dot(*key_unit, s.key_unit(c, x))) <= kPairTolerance &&
          1.0 - std::fabs(dot(*full_unit, *unit)) <= kPairTolerance)
        out.brute_force.push_back(x);
    }
  }
  return out;
}

}  // namespace tov
