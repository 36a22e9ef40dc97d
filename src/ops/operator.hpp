// The operator interface: the vocabulary from which formulas are built.
//
// Operators are immutable once constructed and hold no caches, so any number
// of threads may call every operation at once without locking.
#pragma once

#include <cstdint>
#include <iosfwd>
#include <memory>
#include <optional>
#include <span>
#include <string>

#include "numeric/complex.hpp"

namespace tov {

class Operator {
 public:
  virtual ~Operator() = default;

  // Display name, used in formula texts and registry metadata.
  virtual std::string name() const = 0;
  virtual std::uint8_t arity() const = 0;
  virtual bool is_commutative() const { return false; }

  // `args` holds exactly arity() values, argument 0 first. No value means the
  // operator is undefined at that point; infinite or NaN results are values.
  virtual std::optional<Complex> eval(std::span<const Complex> args) const = 0;

  // Renderings from already rendered argument texts (exactly arity() of them).
  virtual std::string to_latex(std::span<const std::string> args) const = 0;
  virtual std::string to_python(std::span<const std::string> args) const = 0;
  // "Name" without arguments, "Name[a, b]" otherwise.
  virtual std::string to_mathematica(std::span<const std::string> args) const;

  // Diagnostic self-description: the type name, or all fields for ConstOp.
  virtual std::string describe() const = 0;
};

std::ostream& operator<<(std::ostream& out, const Operator& op);

using OperatorPtr = std::unique_ptr<Operator>;
// The operators of a registry, indexed by operator id.
using OperatorList = std::span<const OperatorPtr>;

}  // namespace tov
