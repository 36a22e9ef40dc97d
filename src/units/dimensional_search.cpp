// Rewriting, refitting and selecting the formulas of a reduced search.
#include "units/dimensional_search.hpp"

#include <algorithm>
#include <cmath>
#include <limits>
#include <memory>
#include <utility>
#include <variant>

#include "formula/builder.hpp"
#include "formula/exact_constant.hpp"

namespace tov {

FrontEntry in_caller_variables(const Expression& f, const Reduction& reduction,
                               const SearchData& data, const SearchConfig& config,
                               OperatorList operators) {
  const Objective objective =
      Objective::make(data.targets, data.weights, false, config.alpha, config.l1_ratio);
  return refit(in_inputs(f, reduction), data.samples, objective, operators, config.refine_params);
}

namespace {

// The exact constant 1.
const ExactConstant kOne{1, 1, Basis::One};

bool is_constant_leaf(std::span<const Token> tokens) {
  return tokens.size() == 1 && (tokens[0].kind == TokenKind::Param ||
                                (tokens[0].kind == TokenKind::Real && exact_of(tokens[0])));
}

// f without a factor at its root that may be 1, and that formula over the
// inputs: a constant alone (f = C, or f = 1 with named constants) gives M
// alone, Times(C, g) and Times(g, C) give M g. None when f has no such factor
// or is a constant of a reduction without M.
std::optional<std::pair<Expression, Expression>> without_unit_factor(const Expression& f,
                                                                     const Reduction& reduction) {
  const std::span<const Token> t = f.tokens;
  if (is_constant_leaf(t)) {
    if (!reduction.monomial_formula) return std::nullopt;
    const bool one = t[0].kind == TokenKind::Param || exact_of(t[0]) == kOne;
    if (!one) return std::nullopt;
    return std::pair{make_exact_leaf(kOne), *reduction.monomial_formula};
  }
  const Token& root = t.back();
  if (root.kind != TokenKind::Op || root.op_id != op_id::kTimes || t.size() < 3)
    return std::nullopt;
  // The right operand is the subtree that ends before the root.
  std::size_t start = t.size() - 1;
  for (std::size_t need = 1; need > 0;) {
    --start;
    need = need - 1 + (t[start].kind == TokenKind::Op ? t[start].arity : 0);
  }
  const std::span<const Token> left = t.first(start);
  const std::span<const Token> right = t.subspan(start, t.size() - 1 - start);
  std::optional<Replayed> g;
  if (left.size() == 1 && left[0].kind == TokenKind::Param) g = replay(right, search_leaf);
  if (right.size() == 1 && right[0].kind == TokenKind::Param) g = replay(left, search_leaf);
  if (!g || !std::holds_alternative<Expression>(*g)) return std::nullopt;
  Expression rest = std::move(std::get<Expression>(*g));
  Expression rewritten = in_inputs(rest, reduction);
  return std::pair{std::move(rest), std::move(rewritten)};
}

}  // namespace

double smallest_square_monomial(const ReducedData& reduced, std::span<const double> weights) {
  double smallest = std::numeric_limits<double>::infinity();
  for (std::size_t i = 0; i < reduced.monomial.size(); ++i)
    if (weights.empty() || weights[i] != 0.0)
      smallest = std::min(smallest, reduced.monomial[i] * reduced.monomial[i]);
  return smallest;
}

std::vector<SearchResult> results_in_inputs(std::vector<SearchResult> reduced,
                                            const Reduction& reduction, const SearchData& data,
                                            const SearchConfig& config) {
  const auto record_of = [&](const SearchResult& result) {
    return std::make_shared<const DimensionalRecord>(DimensionalRecord{
        reduction.group_formulas, reduction.monomial_formula, result.expression()});
  };
  if (reduced.empty()) return reduced;
  const std::shared_ptr<const OperatorRegistry> registry = reduced.front().registry();
  if (reduction.is_identity()) {
    std::vector<SearchResult> out;
    for (const SearchResult& result : reduced)
      out.emplace_back(result.expression(), registry, result.error(), record_of(result));
    return out;
  }

  const OperatorList ops = registry->ops();
  std::vector<FrontEntry> entries;
  std::vector<std::shared_ptr<const DimensionalRecord>> records;
  const Objective objective =
      Objective::make(data.targets, data.weights, false, config.alpha, config.l1_ratio);
  const double floor = rounding_floor(objective);
  for (const SearchResult& result : reduced) {
    FrontEntry entry = in_caller_variables(result.expression(), reduction, data, config, ops);
    Expression f = result.expression();
    // A factor of 1 within rounding is no part of the law: v = d / t comes
    // back as Divide(v_{0}, v_{1}), not with C = 1.0000.
    if (std::optional<std::pair<Expression, Expression>> shorter =
            without_unit_factor(f, reduction)) {
      FrontEntry alone = refit(shorter->second, data.samples, objective, ops, config.refine_params);
      if (alone.error <= std::max(entry.error, floor)) {
        entry = std::move(alone);
        f = std::move(shorter->first);
      }
    }
    entries.push_back(std::move(entry));
    records.push_back(std::make_shared<const DimensionalRecord>(
        DimensionalRecord{reduction.group_formulas, reduction.monomial_formula, std::move(f)}));
  }
  return staircase(std::move(entries), registry, std::nullopt, std::move(records));
}

}  // namespace tov
