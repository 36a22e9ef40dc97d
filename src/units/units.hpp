// Physical units as dimension vectors: the exponent of every base dimension
// a unit is made of. The SI base units are the base dimensions m, kg, s, A,
// K, mol and cd; the SI derived units with special names (N, J, W, Pa, Hz,
// C, V, F, Ohm, S, Wb, T, H, ...) and a table of units outside the SI (min,
// h, d, L, bar, atm, eV, cal, Angstrom, Da, u, mmHg, inch, ft, lb, gauss,
// erg, dyn, Torr, percent, ppm, ...) stand for their dimensions in them.
// Only dimensions are kept: a unit's scale (km against m) is a constant
// factor of the law, which its fitted constants absorb.
//
// A symbol is, in this order: the unit whose whole symbol it is ("min" the
// minute, "cd" the candela, "Pa" the pascal, "h" the hour, "T" the tesla,
// "u" the atomic mass unit), else an SI prefix followed by the symbol of a
// unit that takes prefixes ("km", "ms", "hPa", "um", "keV", "mL"), else a
// base dimension of its own ("USD", "person").
#pragma once
#pragma once

#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

#include "numeric/rational.hpp"

namespace tov {

// A product of powers of base dimensions. The factors are kept in canonical
// order (the SI base dimensions in the order above, then other symbols by
// byte order), each name once, no zero exponent; so equal dimensions compare
// equal.
class Dimension {
 public:
  using Factor = std::pair<std::string, Rational>;

  Dimension() = default;  // dimensionless
  // The base dimension `name` to the power `exponent`.
  static Dimension base(std::string name, Rational exponent = Rational(1));

  std::span<const Factor> factors() const { return factors_; }
  bool dimensionless() const { return factors_.empty(); }
  // The exponent of base dimension `name` (0 when absent).
  Rational exponent(std::string_view name) const;

  friend Dimension operator*(const Dimension& a, const Dimension& b);
  Dimension pow(Rational exponent) const;
  friend bool operator==(const Dimension& a, const Dimension& b) = default;

  // "m^2 kg s^-2", "kg^(1/2)", "1" for a dimensionless quantity.
  std::string text() const;

 private:
  std::vector<Factor> factors_;
};

// True when `a` comes before `b` in the canonical order of base dimensions.
bool base_dimension_before(std::string_view a, std::string_view b);

// What a unit text or symbol denotes, or why it denotes nothing.
using ParsedUnit = std::variant<Dimension, std::string>;

// The dimension of one symbol, by the rule above. Refused: text that is not a
// symbol (letters, digits after the first character, '_' and non-ASCII
// characters; or "%" alone), and a known unit followed by digits ("m2",
// "km2": a power is written m^2).
ParsedUnit parse_unit_symbol(std::string_view symbol);

// A unit text: symbols combined by '*', '.', '·', a space (products) and '/'
// (a quotient, left to right: "J/kg*K" is J K / kg), powers written '^' or
// '**' with an integer exponent ("s^-1") or a parenthesised rational one
// ("kg^(1/2)", "m^(-3/2)"), parentheses for grouping, and "1" or "" for a
// dimensionless quantity ("1/s" is s^-1). The error says what is wrong and
// at which character.
ParsedUnit parse_unit(std::string_view text);

}  // namespace tov
