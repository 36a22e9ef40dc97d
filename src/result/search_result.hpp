// SearchResult: one found formula, self-contained. It owns its expression and
// shares the registry its operator ids refer to, so it can be evaluated and
// rendered long after the search that produced it. Immutable; any number of
// threads may use one result at once.
#pragma once

#include <cstddef>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "formula/expression.hpp"
#include "ops/registry.hpp"
#include "result/dimensional_record.hpp"
#include "result/variable_names.hpp"

namespace tov {

class SearchResult {
 public:
  SearchResult(Expression expression, std::shared_ptr<const OperatorRegistry> registry,
               double error);
  // A result of a search with physical units, with what it was derived from.
  SearchResult(Expression expression, std::shared_ptr<const OperatorRegistry> registry,
               double error, std::shared_ptr<const DimensionalRecord> dimensional);

  const std::string& formula() const { return expression_.formula; }
  std::size_t complexity() const { return expression_.complexity; }
  double error() const { return error_; }
  const Expression& expression() const { return expression_; }
  const std::shared_ptr<const OperatorRegistry>& registry() const { return registry_; }
  // Null unless the result comes from a search with physical units.
  const std::shared_ptr<const DimensionalRecord>& dimensional() const { return dimensional_; }
  // Null unless the caller named the variables.
  const std::shared_ptr<const VariableNames>& variable_names() const { return names_; }
  // The same result with its variables named (null: unnamed). The
  // renderings use the names; formula() stays as it is.
  SearchResult with_variable_names(std::shared_ptr<const VariableNames> names) const;

  // Real part of the value at one point (variable j at position j), or NaN
  // where the formula has no value.
  double eval_multi(std::span<const double> point) const;
  // One value per row, in row order; rows may differ in length.
  std::vector<double> eval_batch(std::span<const std::vector<double>> rows) const;

  // With named variables, each variable is its LaTeX or Python name.
  std::string to_latex() const;
  std::string to_python() const;

  // Real parts of the Param values in formula order, at full precision.
  std::vector<double> parameters() const;

 private:
  // The registry's operators; none when the result holds no registry.
  OperatorList operators() const;

  Expression expression_;
  std::shared_ptr<const OperatorRegistry> registry_;
  double error_;
  std::shared_ptr<const DimensionalRecord> dimensional_;
  std::shared_ptr<const VariableNames> names_;
};

// Fixed notation with exactly four digits after the point, correctly rounded
// (ties to even), never an exponent; "-0.0000", "inf", "-inf", "NaN".
std::string format_fixed4(double value);

}  // namespace tov
