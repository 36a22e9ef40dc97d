// Dimensional analysis of a search: the reduction of a law in n inputs to
// one in their dimensionless groups (Buckingham pi theorem), the data of the
// reduced search, and the way back to formulas in the inputs.
//
// A dimensionally consistent law y = F(x_1 ... x_n) is y = M(x) f(pi_1 ...
// pi_k): M is a product of powers of the inputs with the target's units,
// the pi_i are dimensionless products of powers of the inputs, and k is n
// minus the rank of the dimension matrix. The search then looks for f.
//
// The choice of groups and monomial is exact (rational arithmetic) and
// deterministic:
//   - groups: among the minimal sets of inputs whose product of powers can
//     be dimensionless (a dimensionless input alone is one), each with its
//     exponents scaled to coprime integers and signed so that more of them
//     are positive (on a tie, the first), the groups are taken greedily in
//     the order (number of inputs, largest |exponent|, sum of |exponents|,
//     the inputs' indices compared lexicographically), skipping any that
//     depends on those already taken, until there are k;
//   - monomial: among the products of powers of the fewest inputs with the
//     target's units, the one ordered first by (largest exponent
//     denominator, largest |exponent|, sum of |exponents|, the inputs'
//     indices lexicographically).
// Past kSubsetBudget subsets of inputs examined, the rest is completed from
// the reduced row echelon form of the dimension matrix (one group per free
// column, in column order; the monomial on the pivot columns).
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <variant>
#include <vector>

#include "formula/expression.hpp"
#include "numeric/rational.hpp"
#include "units/units.hpp"

namespace tov {

inline constexpr std::uint64_t kSubsetBudget = 200'000;

struct Reduction {
  std::size_t inputs = 0;
  std::vector<std::vector<std::int64_t>> groups;  // per group, the exponent of every input
  std::vector<Rational> monomial;                 // the exponent of every input in M
  // The same as formulas over the inputs (builtin operators, no parameters
  // unless an exponent of M has a denominator above 2): integer powers by
  // Square, Cube and products, half-integer ones under Sqrt, other
  // fractions as Exp(Times(C, Log(v))) with C the exponent; positive powers
  // over negative ones by Divide (Inv when none is positive). No monomial
  // formula when M = 1.
  std::vector<Expression> group_formulas;
  std::optional<Expression> monomial_formula;

  // True when the groups are the inputs themselves, in order, and M = 1:
  // the reduced search is the search itself.
  bool is_identity() const;
};

// The reduction for inputs and a target of these dimensions, or an error
// message: a target whose units no product of powers of the inputs has
// (naming the dimensions no input carries), or exponents too large for
// exact 64-bit arithmetic.
std::variant<Reduction, std::string> reduce_dimensions(std::span<const Dimension> inputs,
                                                       const Dimension& target);

// The product of powers of the inputs with these exponents, as described
// for Reduction; none when every exponent is 0.
std::optional<Expression> power_product(std::span<const Rational> exponents);

// The reduced search's data: row i holds the groups' values at sample i and
// target i is y_i / M(x_i), each computed by the reference evaluator from
// the formulas above (so the formulas in the inputs reproduce them bit for
// bit). Samples of weight 0 get zeros; they never enter a search.
struct ReducedData {
  std::vector<std::vector<double>> rows;
  std::vector<double> targets;
  std::vector<double> monomial;  // M(x_i): 1 without a monomial, 0 at weight 0
};

// The reduced data, or a message naming the first sample at which a group
// or M has no finite real value (M also none that is 0), or where y / M is
// not finite. Every row must hold reduction.inputs values.
std::variant<ReducedData, std::string> reduce_data(std::span<const std::vector<double>> rows,
                                                   std::span<const double> targets,
                                                   std::span<const double> weights,
                                                   const Reduction& reduction);

// f, a formula over the groups (v_{i} standing for group i), as M times f
// written over the inputs; the constants keep their values.
Expression in_inputs(const Expression& f, const Reduction& reduction);

}  // namespace tov
