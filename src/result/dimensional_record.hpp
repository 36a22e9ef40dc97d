// What a result found with physical units was derived from: the
// dimensionless groups and the monomial of the reduction, and the formula
// the reduced search found. Formulas over the inputs use v_{j} for input j;
// in the reduced formula v_{i} stands for group i.
#pragma once

#include <optional>
#include <vector>

#include "formula/expression.hpp"

namespace tov {

struct DimensionalRecord {
  std::vector<Expression> groups;      // pi_0, pi_1, ... over the inputs
  std::optional<Expression> monomial;  // M over the inputs; none when M = 1
  Expression reduced;                  // f, with y = M f(pi)
};

}  // namespace tov
