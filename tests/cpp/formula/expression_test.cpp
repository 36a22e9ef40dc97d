// Expressions: the construction rules, the reference evaluator's failure
// modes, and agreement of every evaluation path on random expressions.
#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>
#include <optional>
#include <random>
#include <span>
#include <stdexcept>
#include <string>
#include <vector>

#include "formula/expression.hpp"
#include "ops/kernels.hpp"
#include "ops/registry.hpp"

namespace tov {
namespace {

constexpr double kInf = std::numeric_limits<double>::infinity();

const OperatorRegistry& registry() {
  static const OperatorRegistry instance = OperatorRegistry::with_builtins();
  return instance;
}

bool same_value(const std::optional<Complex>& a, const std::optional<Complex>& b) {
  if (a.has_value() != b.has_value()) {
    return false;
  }
  return !a || (std::bit_cast<std::uint64_t>(a->re) == std::bit_cast<std::uint64_t>(b->re) &&
                std::bit_cast<std::uint64_t>(a->im) == std::bit_cast<std::uint64_t>(b->im));
}

Expression unary(std::uint64_t id, const Expression& child) {
  return make_unary(id, registry().metas()[id].name, child);
}

Expression binary(std::uint64_t id, const Expression& left, const Expression& right) {
  return make_binary(id, registry().metas()[id].name, left, right);
}

// The Param indices of `e`, left to right.
std::vector<int> param_indices(const Expression& e) {
  std::vector<int> indices;
  for (const Token& t : e.tokens) {
    if (t.kind == TokenKind::Param) {
      indices.push_back(t.index);
    }
  }
  return indices;
}

TEST(Construction, LeavesAndApplications) {
  const Expression c = make_param_leaf();
  const Expression v0 = make_var_leaf(0);
  const Expression v3 = make_var_leaf(3);
  const struct {
    Expression e;
    std::string formula;
    std::size_t complexity;
    int var_count;
    std::vector<int> params;
  } cases[] = {
      {v0, "v_{0}", 1, 1, {}},
      {make_var_leaf(12), "v_{12}", 1, 13, {}},
      {make_var_leaf(254), "v_{254}", 1, 255, {}},
      {c, "C", 1, 0, {0}},
      {binary(op_id::kTimes, c, v0), "Times(C, v_{0})", 3, 1, {0}},
      {binary(op_id::kPlus, c, c), "Plus(C, C)", 3, 0, {0, 1}},
      {unary(op_id::kSin, v3), "Sin(v_{3})", 2, 4, {}},
      {binary(op_id::kTov, binary(op_id::kTimes, c, v3),
              unary(op_id::kCube, binary(op_id::kPlus, c, binary(op_id::kDivide, v0, c)))),
       "TOV(Times(C, v_{3}), Cube(Plus(C, Divide(v_{0}, C))))",
       10,
       4,
       {0, 1, 2}},
  };
  for (const auto& k : cases) {
    EXPECT_EQ(k.e.formula, k.formula);
    EXPECT_EQ(k.e.complexity, k.complexity) << k.formula;
    EXPECT_EQ(k.e.tokens.size(), k.complexity) << k.formula;
    EXPECT_EQ(k.e.var_count, k.var_count) << k.formula;
    EXPECT_EQ(k.e.param_count, k.params.size()) << k.formula;
    EXPECT_EQ(param_indices(k.e), k.params) << k.formula;
  }
}

TEST(Construction, TimesOfParameterAndVariableHasTheDocumentedTokens) {
  const Expression e = binary(op_id::kTimes, make_param_leaf(), make_var_leaf(0));
  ASSERT_EQ(e.tokens.size(), 3u);
  EXPECT_EQ(e.tokens[0].kind, TokenKind::Param);
  EXPECT_EQ(e.tokens[0].value.re, 0.1);
  EXPECT_EQ(e.tokens[1].kind, TokenKind::Var);
  EXPECT_EQ(e.tokens[1].index, 0);
  EXPECT_EQ(e.tokens[2].kind, TokenKind::Op);
  EXPECT_EQ(e.tokens[2].arity, 2);
  EXPECT_EQ(e.tokens[2].op_id, op_id::kTimes);
}

TEST(Construction, EightBitCountsAreEnforced) {
  EXPECT_THROW(make_var_leaf(255), std::length_error);
  // Sums of parameter leaves with 127 and 128 parameters.
  auto with_params = [](int count) {
    Expression e = make_param_leaf();
    for (int i = 1; i < count; ++i) {
      e = binary(op_id::kPlus, e, make_param_leaf());
    }
    return e;
  };
  const Expression p127 = with_params(127);
  const Expression p128 = with_params(128);
  const Expression p255 = binary(op_id::kPlus, p127, p128);
  EXPECT_EQ(p255.param_count, 255);
  EXPECT_EQ(param_indices(p255).back(), 254);
  EXPECT_THROW(binary(op_id::kPlus, p128, p128), std::length_error);
}

struct EvalCase {
  const char* label;
  std::vector<Token> tokens;
  std::vector<Complex> inputs;
  std::optional<Complex> expected;
};

Token op(std::uint64_t id) { return Token::make_op(registry().metas()[id].arity, id); }

const double kBelowLimit = std::nextafter(1e15, 0.0);

TEST(Evaluation, TokenListsAndFailureModes) {
  const EvalCase cases[] = {
      {"empty list", {}, {}, std::nullopt},
      {"two values left", {Token::make_var(0), Token::make_var(0)}, {{1, 0}}, std::nullopt},
      {"op on empty stack", {op(op_id::kNeg)}, {}, std::nullopt},
      {"binary op with one value", {Token::make_real(1), op(op_id::kPlus)}, {}, std::nullopt},
      {"var beyond inputs", {Token::make_var(2)}, {{1, 0}, {2, 0}}, std::nullopt},
      {"var within inputs", {Token::make_var(2)}, {{1, 0}, {2, 0}, {3, 4}}, Complex{3, 4}},
      {"stack order",
       {Token::make_real(1), Token::make_real(3), op(op_id::kSubtract)},
       {},
       Complex{-2, 0}},
      {"const pushes cached value", {Token::make_const(op_id::kPi, {7, 8})}, {}, Complex{7, 8}},
      {"real pushes positive zero", {Token::make_real(-2)}, {}, Complex{-2, 0.0}},
      {"divide by zero",
       {Token::make_real(1), Token::make_real(0), op(op_id::kDivide)},
       {},
       std::nullopt},
      {"failure propagates",
       {Token::make_real(1), Token::make_real(0), op(op_id::kDivide), op(op_id::kSin)},
       {},
       std::nullopt},
      {"result at 1e15",
       {Token::make_real(1e15), Token::make_real(0), op(op_id::kPlus)},
       {},
       std::nullopt},
      {"result at -1e15",
       {Token::make_real(-1e15), Token::make_real(0), op(op_id::kPlus)},
       {},
       std::nullopt},
      {"imaginary result at 1e15",
       {Token::make_param(0, {0, 1e15}), Token::make_real(0), op(op_id::kPlus)},
       {},
       std::nullopt},
      {"result just below 1e15",
       {Token::make_param(0, {-kBelowLimit, kBelowLimit}), Token::make_real(0), op(op_id::kPlus)},
       {},
       Complex{-kBelowLimit, kBelowLimit}},
      {"leaf values are not range checked", {Token::make_real(1e15)}, {}, Complex{1e15, 0}},
      {"infinite input passes a var", {Token::make_var(0)}, {{kInf, 0}}, Complex{kInf, 0}},
      {"infinite operator result",
       {Token::make_var(0), op(op_id::kNeg)},
       {{kInf, 0}},
       std::nullopt},
      {"NaN operator result",
       {Token::make_var(0), op(op_id::kExp)},
       {{std::nan(""), 0}},
       std::nullopt},
  };
  std::vector<Complex> stack;
  for (const EvalCase& c : cases) {
    const auto got = eval_internal(c.tokens, c.inputs, {}, registry().ops(), stack);
    EXPECT_TRUE(same_value(got, c.expected)) << c.label;
  }
}

TEST(Evaluation, ParametersUseSuppliedValuesThenStoredOnes) {
  const Expression c = make_param_leaf();
  const Expression sum = binary(op_id::kPlus, c, binary(op_id::kTimes, c, c));
  const Complex p{2, -1};
  const Complex q{3, 0};
  const struct {
    const Expression* e;
    std::vector<Complex> params;
    Complex expected;
  } cases[] = {
      {&c, {}, {0.1, 0}},
      {&c, {p}, p},
      {&c, {p, q}, p},
      {&sum, {}, {0.1 + 0.1 * 0.1, 0}},
      {&sum, {p}, {2 + 0.1 * 0.1, -1}},
      {&sum, {p, q}, {2 + 3 * 0.1, -1}},
      {&sum, {p, q, q}, {2 + 9, -1}},
  };
  for (const auto& k : cases) {
    const auto got = eval_with_params(*k.e, {}, k.params, registry().ops());
    EXPECT_TRUE(same_value(got, k.expected)) << k.e->formula << " with " << k.params.size();
  }
  EXPECT_TRUE(same_value(eval(c, {}, registry().ops()), Complex{0.1, 0}));
}

TEST(Evaluation, VariableLeafNeedsMoreInputsThanItsIndex) {
  const Expression v2 = make_var_leaf(2);
  const std::vector<Complex> inputs = {{1, 0}, {2, 0}, {3, 0}};
  EXPECT_FALSE(eval(v2, std::span(inputs).first(2), registry().ops()).has_value());
  EXPECT_TRUE(same_value(eval(v2, inputs, registry().ops()), Complex{3, 0}));
}

TEST(Evaluation, OperatorIdOutsideTheListIsAnInvariantViolation) {
  const std::vector<Token> tokens = {Token::make_real(1), Token::make_op(1, 23)};
  std::vector<Complex> stack;
  EXPECT_THROW(eval_internal(tokens, {}, {}, registry().ops(), stack), std::logic_error);
}

// A random expression built only by the construction rules, with random
// stored parameter values.
Expression random_expression(std::mt19937_64& rng, int depth) {
  const auto& reg = registry();
  std::uniform_int_distribution<int> kind(0, depth <= 0 ? 1 : 3);
  switch (kind(rng)) {
    case 0: {
      Expression leaf = make_param_leaf();
      leaf.tokens[0].value = {std::uniform_real_distribution<double>(-2, 2)(rng), 0};
      return leaf;
    }
    case 1:
      return make_var_leaf(static_cast<std::uint8_t>(rng() % 3));
    case 2: {
      const auto ids = reg.ids_by_arity(1);
      return unary(ids[rng() % ids.size()], random_expression(rng, depth - 1));
    }
    default: {
      const auto ids = reg.ids_by_arity(2);
      const Expression left = random_expression(rng, depth - 1);
      return binary(ids[rng() % ids.size()], left, random_expression(rng, depth - 1));
    }
  }
}

// Evaluates by calling the kernels directly, as a fast path would.
std::optional<Complex> eval_via_kernels(const Expression& e, std::span<const Complex> inputs) {
  std::vector<Complex> stack;
  for (const Token& t : e.tokens) {
    if (t.kind == TokenKind::Var) {
      if (t.index >= inputs.size()) {
        return std::nullopt;
      }
      stack.push_back(inputs[t.index]);
    } else if (t.kind == TokenKind::Param) {
      stack.push_back(t.value);
    } else {
      const std::size_t base = stack.size() - t.arity;
      const auto r = kernels::apply_builtin(t.op_id, stack.data() + base);
      if (!r || !within_limits(*r)) {
        return std::nullopt;
      }
      stack.resize(base);
      stack.push_back(*r);
    }
  }
  return stack.at(0);
}

TEST(Evaluation, AllPathsAgreeBitwiseOnRandomExpressions) {
  std::mt19937_64 rng(2024);
  std::uniform_real_distribution<double> value(-3, 3);
  std::vector<Complex> reused_stack;
  int valued = 0;
  for (int trial = 0; trial < 3000; ++trial) {
    const Expression e = random_expression(rng, 4);
    ASSERT_EQ(e.complexity, e.tokens.size());
    std::vector<int> expected_params(e.param_count);
    for (int k = 0; k < e.param_count; ++k) {
      expected_params[k] = k;
    }
    ASSERT_EQ(param_indices(e), expected_params) << e.formula;

    std::vector<Complex> inputs(e.var_count);
    for (Complex& x : inputs) {
      x = {value(rng), trial % 2 == 0 ? 0.0 : value(rng)};
    }
    std::vector<Complex> stored;
    for (const Token& t : e.tokens) {
      if (t.kind == TokenKind::Param) {
        stored.push_back(t.value);
      }
    }
    const auto reference = eval(e, inputs, registry().ops());
    valued += reference.has_value();
    // The reused stack still holds whatever the previous trial left in it.
    const auto reused = eval_internal(e.tokens, inputs, {}, registry().ops(), reused_stack);
    ASSERT_TRUE(same_value(reference, eval_with_params(e, inputs, stored, registry().ops())))
        << e.formula;
    ASSERT_TRUE(same_value(reference, reused)) << e.formula;
    ASSERT_TRUE(same_value(reference, eval_via_kernels(e, inputs))) << e.formula;

    // Supplying parameters is the same as storing them in the tokens.
    Expression moved = e;
    std::vector<Complex> supplied;
    for (Token& t : moved.tokens) {
      if (t.kind == TokenKind::Param) {
        t.value = {value(rng), value(rng)};
        supplied.push_back(t.value);
      }
    }
    ASSERT_TRUE(same_value(eval(moved, inputs, registry().ops()),
                           eval_with_params(e, inputs, supplied, registry().ops())))
        << e.formula;
  }
  // Guard against a generator whose expressions all fail.
  EXPECT_GT(valued, 1000);
}

}  // namespace
}  // namespace tov
