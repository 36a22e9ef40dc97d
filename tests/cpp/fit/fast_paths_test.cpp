// The fast paths of the search against the plain evaluator: every result must
// agree bit for bit.
#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <vector>

#include "fit/block_eval.hpp"
#include "fit/fast_refine.hpp"
#include "fit/optimizer.hpp"
#include "ops/registry.hpp"

namespace tov {
namespace {

bool same_bits(double a, double b) {
  return std::bit_cast<std::uint64_t>(a) == std::bit_cast<std::uint64_t>(b);
}

class Random {
 public:
  explicit Random(std::uint64_t seed) : rng_(seed) {}
  std::size_t below(std::size_t n) { return rng_() % n; }
  double uniform(double lo, double hi) {
    return std::uniform_real_distribution<double>(lo, hi)(rng_);
  }

  // Mostly ordinary values, sometimes the special ones operators must handle.
  double value() {
    static const double specials[] = {0.0,
                                      -0.0,
                                      1.0,
                                      -1.0,
                                      1e300,
                                      -1e300,
                                      1e-310,
                                      std::numeric_limits<double>::infinity(),
                                      -std::numeric_limits<double>::infinity(),
                                      std::numeric_limits<double>::quiet_NaN()};
    if (below(8) == 0) return specials[below(std::size(specials))];
    return uniform(-3.0, 3.0);
  }

  // A random expression by the construction rules, with `vars` variables.
  Expression expression(const OperatorRegistry& registry, int depth, std::uint8_t vars) {
    if (depth == 0 || below(4) == 0) {
      if (below(2) == 0) {
        Expression c = make_param_leaf();
        c.tokens[0].value = Complex{uniform(-2.0, 2.0), 0.0};
        return c;
      }
      return make_var_leaf(static_cast<std::uint8_t>(below(vars)));
    }
    const auto unary = registry.ids_by_arity(1);
    const auto binary = registry.ids_by_arity(2);
    if (below(2) == 0) {
      const auto op = unary[below(unary.size())];
      return make_unary(op, registry.metas()[op].name, expression(registry, depth - 1, vars));
    }
    const auto op = binary[below(binary.size())];
    Expression left = expression(registry, depth - 1, vars);
    return make_binary(op, registry.metas()[op].name, left, expression(registry, depth - 1, vars));
  }

 private:
  std::mt19937_64 rng_;
};

TEST(FastPaths, BlockEvaluationMatchesOperatorByOperator) {
  const auto registry = OperatorRegistry::with_builtins();
  Random random(7);
  constexpr std::size_t n = 257;
  std::vector<Complex> a(n), b(n), out(n);
  std::vector<std::uint8_t> va(n), vb(n), valid(n);
  for (std::uint64_t op = op_id::kTov; op < op_id::kBuiltinCount; ++op) {
    for (int round = 0; round < 20; ++round) {
      for (std::size_t i = 0; i < n; ++i) {
        a[i] = {random.value(), random.value()};
        b[i] = {random.value(), random.value()};
        va[i] = random.below(10) != 0;
        vb[i] = random.below(10) != 0;
      }
      apply_op_block(op, {a.data(), va.data()}, {b.data(), vb.data()}, out.data(), valid.data(), 3,
                     n);
      const bool is_binary = registry.metas()[op].arity == 2;
      for (std::size_t i = 3; i < n; ++i) {
        const Complex args[2] = {a[i], b[i]};
        const auto expected = registry.ops()[op]->eval(std::span(args, is_binary ? 2 : 1));
        const bool inputs = va[i] && (!is_binary || vb[i]);
        const bool ok = inputs && expected && within_limits(*expected);
        ASSERT_EQ(valid[i] != 0, ok) << registry.metas()[op].name << " at " << i;
        if (ok) {
          ASSERT_TRUE(same_bits(out[i].re, expected->re) && same_bits(out[i].im, expected->im))
              << registry.metas()[op].name;
        }
      }
    }
  }
}

TEST(FastPaths, RefinementMatchesThePlainRefinerBitForBit) {
  const auto registry = OperatorRegistry::with_builtins();
  Random random(99);
  FastRefiner refiner;  // reused across calls, as in the search
  int refined_somewhere = 0;
  for (int round = 0; round < 600; ++round) {
    const auto vars = static_cast<std::uint8_t>(1 + random.below(3));
    const Expression e = random.expression(registry, 1 + static_cast<int>(random.below(4)), vars);
    if (e.param_count == 0) continue;
    const std::size_t ns = 1 + random.below(70);
    std::vector<std::vector<Complex>> samples(ns);
    std::vector<double> targets(ns);
    for (std::size_t i = 0; i < ns; ++i) {
      // Occasionally a short row, so a variable has no value at that sample.
      const std::size_t width = random.below(12) == 0 ? random.below(vars) : vars;
      for (std::size_t j = 0; j < width; ++j) samples[i].push_back({random.uniform(-2, 2), 0.0});
      targets[i] = random.below(20) == 0 ? random.value() : random.uniform(-5.0, 5.0);
    }
    const double alpha = random.below(3) == 0 ? random.uniform(0.0, 0.5) : 0.0;
    const double l1_ratio = random.uniform(0.0, 1.0);
    const std::size_t cap = 1 + random.below(30);

    const Refined plain =
        refine_constants(e, samples, targets, registry.ops(), cap, alpha, l1_ratio);
    std::vector<double> params;
    for (const Token& t : e.tokens)
      if (t.kind == TokenKind::Param) params.push_back(t.value.re);
    const std::vector<double> start = params;
    const double error = refiner.refine(e.tokens, samples, targets, cap, alpha, l1_ratio, params);

    ASSERT_TRUE(same_bits(error, plain.error) || (std::isnan(error) && std::isnan(plain.error)))
        << e.formula << " round " << round << ": " << error << " vs " << plain.error;
    std::size_t k = 0;
    for (const Token& t : plain.expression.tokens) {
      if (t.kind != TokenKind::Param) continue;
      ASSERT_TRUE(same_bits(params[k], t.value.re)) << e.formula << " round " << round;
      ++k;
    }
    if (params != start) ++refined_somewhere;
  }
  // The comparison is only meaningful if refinement moved parameters often.
  EXPECT_GT(refined_somewhere, 100);
}

// Values of `e` at every sample, with parameter `shift` (if any) moved by the
// Jacobian step: what the search caches for a retained operand.
struct OperandColumns {
  std::vector<Complex> values;
  std::vector<std::uint8_t> valid;
};

OperandColumns columns_of(const Expression& e, const std::vector<std::vector<Complex>>& samples,
                          OperatorList ops, int shift) {
  std::vector<Complex> params;
  for (const Token& t : e.tokens)
    if (t.kind == TokenKind::Param) params.push_back(Complex{t.value.re, 0.0});
  if (shift >= 0) params[static_cast<std::size_t>(shift)].re += 1e-6;
  OperandColumns out;
  std::vector<Complex> stack;
  for (const auto& sample : samples) {
    const auto v = eval_internal(e.tokens, sample, params, ops, stack);
    out.valid.push_back(v.has_value());
    out.values.push_back(v.value_or(Complex{}));
  }
  return out;
}

TEST(FastPaths, KnownOperandsGiveTheSameRefinement) {
  const auto registry = OperatorRegistry::with_builtins();
  Random random(4242);
  FastRefiner refiner;
  int compared = 0;
  for (int round = 0; round < 500; ++round) {
    const std::uint8_t vars = 2;
    const Expression a = random.expression(registry, static_cast<int>(random.below(3)), vars);
    const Expression b = random.expression(registry, static_cast<int>(random.below(3)), vars);
    const bool unary = random.below(3) == 0;
    const auto ids = registry.ids_by_arity(unary ? 1 : 2);
    const auto op = ids[random.below(ids.size())];
    const Expression e = unary ? make_unary(op, registry.metas()[op].name, a)
                               : make_binary(op, registry.metas()[op].name, a, b);
    if (e.param_count == 0) continue;
    const std::size_t ns = 1 + random.below(50);
    std::vector<std::vector<Complex>> samples(ns);
    std::vector<double> targets(ns);
    for (std::size_t i = 0; i < ns; ++i) {
      for (int j = 0; j < vars; ++j) samples[i].push_back({random.uniform(-2, 2), 0.0});
      targets[i] = random.uniform(-5.0, 5.0);
    }
    const Refined plain = refine_constants(e, samples, targets, registry.ops(), 10, 0.0, 0.5);

    std::vector<OperandColumns> storage;
    const auto known_of = [&](const Expression& operand, std::vector<Column>& shifted) {
      storage.reserve(64);
      storage.push_back(columns_of(operand, samples, registry.ops(), -1));
      const Column start{storage.back().values.data(), storage.back().valid.data()};
      for (int k = 0; k < operand.param_count; ++k) {
        storage.push_back(columns_of(operand, samples, registry.ops(), k));
        shifted.push_back({storage.back().values.data(), storage.back().valid.data()});
      }
      return KnownOperand{start, shifted};
    };
    std::vector<Column> left_shifted, right_shifted;
    const KnownOperand left = known_of(a, left_shifted);
    const KnownOperand right = known_of(b, right_shifted);

    std::vector<double> params;
    for (const Token& t : e.tokens)
      if (t.kind == TokenKind::Param) params.push_back(t.value.re);
    const double error = refiner.refine(e.tokens, samples, targets, 10, 0.0, 0.5, params, &left,
                                        unary ? nullptr : &right);
    ASSERT_TRUE(same_bits(error, plain.error) || (std::isnan(error) && std::isnan(plain.error)))
        << e.formula << " round " << round;
    std::size_t k = 0;
    for (const Token& t : plain.expression.tokens) {
      if (t.kind != TokenKind::Param) continue;
      ASSERT_TRUE(same_bits(params[k++], t.value.re)) << e.formula;
    }
    ++compared;
  }
  EXPECT_GT(compared, 200);
}

// Weighted and scaled objectives: the fast refiner against the plain one,
// and unit weights against no weights.
TEST(FastPaths, WeightedAndScaledRefinementMatchesThePlainRefiner) {
  const auto registry = OperatorRegistry::with_builtins();
  Random random(515);
  FastRefiner refiner;
  int refined_somewhere = 0;
  for (int round = 0; round < 400; ++round) {
    const auto vars = static_cast<std::uint8_t>(1 + random.below(2));
    const Expression e = random.expression(registry, 1 + static_cast<int>(random.below(4)), vars);
    if (e.param_count == 0) continue;
    const std::size_t ns = 2 + random.below(60);
    std::vector<std::vector<Complex>> samples(ns);
    std::vector<double> targets(ns);
    std::vector<double> weights(ns);
    for (std::size_t i = 0; i < ns; ++i) {
      for (std::size_t j = 0; j < vars; ++j) samples[i].push_back({random.uniform(-2, 2), 0.0});
      targets[i] = random.uniform(-5.0, 5.0);
      weights[i] = random.below(6) == 0 ? 0.0 : random.uniform(0.1, 3.0);
    }
    const bool scaled = round % 2 == 1;
    const double alpha = random.below(3) == 0 ? random.uniform(0.0, 0.3) : 0.0;
    const Objective objective = Objective::make(targets, weights, scaled, alpha, 0.5);
    const std::size_t cap = 1 + random.below(15);

    const Refined plain = refine_constants(e, samples, objective, registry.ops(), cap);
    std::vector<double> params;
    for (const Token& t : e.tokens)
      if (t.kind == TokenKind::Param) params.push_back(t.value.re);
    const std::vector<double> start = params;
    const double error = refiner.refine(e.tokens, samples, objective, cap, params);
    ASSERT_TRUE(same_bits(error, plain.error) || (std::isnan(error) && std::isnan(plain.error)))
        << e.formula << " round " << round << ": " << error << " vs " << plain.error;
    std::size_t k = 0;
    for (const Token& t : plain.expression.tokens) {
      if (t.kind == TokenKind::Param) {
        ASSERT_TRUE(same_bits(params[k++], t.value.re)) << e.formula;
      }
    }
    if (params != start) ++refined_somewhere;

    // Weights of one are no weights, bit for bit.
    const std::vector<double> ones(ns, 1.0);
    const Objective unit = Objective::make(targets, ones, scaled, alpha, 0.5);
    const Objective none = Objective::make(targets, {}, scaled, alpha, 0.5);
    const Refined with_ones = refine_constants(e, samples, unit, registry.ops(), cap);
    const Refined without = refine_constants(e, samples, none, registry.ops(), cap);
    ASSERT_TRUE(same_bits(with_ones.error, without.error) ||
                (std::isnan(with_ones.error) && std::isnan(without.error)))
        << e.formula;
    EXPECT_TRUE(same_bits(compute_raw_error(e, samples, unit, registry.ops()),
                          compute_raw_error(e, samples, none, registry.ops())) ||
                std::isnan(compute_raw_error(e, samples, none, registry.ops())));
  }
  EXPECT_GT(refined_somewhere, 80);
}

TEST(FastPaths, AffineMapIsExactOnAnAffineImage) {
  // Targets 2.5 x + 0.75 are an exact affine image of x: the scaled objective
  // of v_{0} is zero and the map is recovered.
  std::vector<double> f, targets;
  for (int i = 0; i < 17; ++i) {
    f.push_back(0.25 * i - 1.0);
    targets.push_back(2.5 * f.back() + 0.75);
  }
  const Objective objective = Objective::make(targets, {}, true, 0.0, 0.5);
  Affine map;
  const double error = data_term([&](std::size_t i) { return f[i]; }, f.size(), objective, &map);
  EXPECT_EQ(error, 0.0);
  EXPECT_EQ(map.a, 2.5);
  EXPECT_EQ(map.b, 0.75);
  // A constant prediction gets a = 0 and b = the mean.
  const Affine flat = fit_affine([](std::size_t) { return 4.0; }, f.size(), objective);
  EXPECT_EQ(flat.a, 0.0);
  EXPECT_DOUBLE_EQ(flat.b, 0.75 + 2.5 * (0.25 * 8 - 1.0));
}

}  // namespace
}  // namespace tov
