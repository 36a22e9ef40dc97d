// The unit table and the unit text parser.
#include "units/units.hpp"

#include <algorithm>
#include <array>
#include <cstdint>
#include <initializer_list>
#include <optional>
#include <span>

#include "numeric/decimal.hpp"

namespace tov {

namespace {

constexpr std::array<std::string_view, 7> kBaseUnits = {"m", "kg", "s", "A", "K", "mol", "cd"};

// A named unit as exponents of m, kg, s, A, K, mol and cd, and whether an SI
// prefix may be put before its symbol.
struct NamedUnit {
  std::string_view name;
  std::array<std::int8_t, 7> exponents;
  bool prefixable;
};

// The SI base units (SI Brochure, 9th edition, 2019, table 2), with the gram
// for the prefixes of mass: "kg" is the base unit, "mg" a prefixed gram.
constexpr std::array<NamedUnit, 8> kBaseUnitTable = {{
    {"m", {1, 0, 0, 0, 0, 0, 0}, true},
    {"kg", {0, 1, 0, 0, 0, 0, 0}, false},
    {"g", {0, 1, 0, 0, 0, 0, 0}, true},
    {"s", {0, 0, 1, 0, 0, 0, 0}, true},
    {"A", {0, 0, 0, 1, 0, 0, 0}, true},
    {"K", {0, 0, 0, 0, 1, 0, 0}, true},
    {"mol", {0, 0, 0, 0, 0, 1, 0}, true},
    {"cd", {0, 0, 0, 0, 0, 0, 1}, true},
}};

// The SI derived units with special names (SI Brochure, 9th edition, 2019,
// table 4); rad and sr are dimensionless, lm = cd sr. Plus the usual
// spellings of the ohm and the degree Celsius, which takes no prefix.
constexpr std::array<NamedUnit, 26> kDerivedUnits = {{
    {"rad", {0, 0, 0, 0, 0, 0, 0}, true},
    {"sr", {0, 0, 0, 0, 0, 0, 0}, true},
    {"Hz", {0, 0, -1, 0, 0, 0, 0}, true},
    {"N", {1, 1, -2, 0, 0, 0, 0}, true},
    {"Pa", {-1, 1, -2, 0, 0, 0, 0}, true},
    {"J", {2, 1, -2, 0, 0, 0, 0}, true},
    {"W", {2, 1, -3, 0, 0, 0, 0}, true},
    {"C", {0, 0, 1, 1, 0, 0, 0}, true},
    {"V", {2, 1, -3, -1, 0, 0, 0}, true},
    {"F", {-2, -1, 4, 2, 0, 0, 0}, true},
    {"Ohm", {2, 1, -3, -2, 0, 0, 0}, true},
    {"ohm", {2, 1, -3, -2, 0, 0, 0}, true},
    {"\xCE\xA9", {2, 1, -3, -2, 0, 0, 0}, true},      // Greek capital omega
    {"\xE2\x84\xA6", {2, 1, -3, -2, 0, 0, 0}, true},  // ohm sign
    {"S", {-2, -1, 3, 2, 0, 0, 0}, true},
    {"Wb", {2, 1, -2, -1, 0, 0, 0}, true},
    {"T", {0, 1, -2, -1, 0, 0, 0}, true},
    {"H", {2, 1, -2, -2, 0, 0, 0}, true},
    {"degC", {0, 0, 0, 0, 1, 0, 0}, false},
    {"\xC2\xB0"
     "C",
     {0, 0, 0, 0, 1, 0, 0},
     false},
    {"lm", {0, 0, 0, 0, 0, 0, 1}, true},
    {"lx", {-2, 0, 0, 0, 0, 0, 1}, true},
    {"Bq", {0, 0, -1, 0, 0, 0, 0}, true},
    {"Gy", {2, 0, -2, 0, 0, 0, 0}, true},
    {"Sv", {2, 0, -2, 0, 0, 0, 0}, true},
    {"kat", {0, 0, -1, 0, 0, 1, 0}, true},
}};

// Units outside the SI in everyday laboratory use, by their SI dimensions
// only: their scale factors are not needed, since a law's fitted constants
// absorb them. Sources: SI Brochure, 9th edition, table 8 (non-SI units
// accepted for use with the SI: min, h, d, au, ha, L, Da, eV and the plane
// angles), and NIST Special Publication 811, 2008 edition, appendix B (the
// others, the CGS units with the SI equivalents given there: the gauss as
// the tesla, the oersted as A/m). The litre, electronvolt, bar, calorie,
// dalton, torr, poise, stokes, gauss, molar and the watt and ampere hours
// take prefixes, as in laboratory practice (mL, keV, mbar, kcal, kDa,
// mTorr, cP, cSt, kG, mM, kWh, mAh); min, h and d do not (SI Brochure,
// section 4).
constexpr std::array<NamedUnit, 52> kOtherUnits = {{
    // time
    {"min", {0, 0, 1, 0, 0, 0, 0}, false},
    {"h", {0, 0, 1, 0, 0, 0, 0}, false},
    {"d", {0, 0, 1, 0, 0, 0, 0}, false},
    // length, area, volume
    {"au", {1, 0, 0, 0, 0, 0, 0}, false},
    {"\xC3\x85", {1, 0, 0, 0, 0, 0, 0}, false},      // Latin capital A with ring
    {"\xE2\x84\xAB", {1, 0, 0, 0, 0, 0, 0}, false},  // angstrom sign
    {"Angstrom", {1, 0, 0, 0, 0, 0, 0}, false},
    {"angstrom", {1, 0, 0, 0, 0, 0, 0}, false},
    {"in", {1, 0, 0, 0, 0, 0, 0}, false},
    {"inch", {1, 0, 0, 0, 0, 0, 0}, false},
    {"ft", {1, 0, 0, 0, 0, 0, 0}, false},
    {"yd", {1, 0, 0, 0, 0, 0, 0}, false},
    {"mi", {1, 0, 0, 0, 0, 0, 0}, false},
    {"ha", {2, 0, 0, 0, 0, 0, 0}, false},
    {"L", {3, 0, 0, 0, 0, 0, 0}, true},
    {"l", {3, 0, 0, 0, 0, 0, 0}, true},
    // mass
    {"Da", {0, 1, 0, 0, 0, 0, 0}, true},
    {"u", {0, 1, 0, 0, 0, 0, 0}, false},
    {"lb", {0, 1, 0, 0, 0, 0, 0}, false},
    // force, pressure, energy
    {"dyn", {1, 1, -2, 0, 0, 0, 0}, false},
    {"lbf", {1, 1, -2, 0, 0, 0, 0}, false},
    {"bar", {-1, 1, -2, 0, 0, 0, 0}, true},
    {"atm", {-1, 1, -2, 0, 0, 0, 0}, false},
    {"Torr", {-1, 1, -2, 0, 0, 0, 0}, true},
    {"mmHg", {-1, 1, -2, 0, 0, 0, 0}, false},
    {"psi", {-1, 1, -2, 0, 0, 0, 0}, false},
    {"eV", {2, 1, -2, 0, 0, 0, 0}, true},
    {"cal", {2, 1, -2, 0, 0, 0, 0}, true},
    {"erg", {2, 1, -2, 0, 0, 0, 0}, false},
    {"Wh", {2, 1, -2, 0, 0, 0, 0}, true},
    // flow, acceleration, rotation
    {"P", {-1, 1, -1, 0, 0, 0, 0}, true},
    {"St", {2, 0, -1, 0, 0, 0, 0}, true},
    {"Gal", {1, 0, -2, 0, 0, 0, 0}, false},
    {"rpm", {0, 0, -1, 0, 0, 0, 0}, false},
    // electricity and magnetism
    {"Ah", {0, 0, 1, 1, 0, 0, 0}, true},
    {"G", {0, 1, -2, -1, 0, 0, 0}, true},
    {"gauss", {0, 1, -2, -1, 0, 0, 0}, false},
    {"Mx", {2, 1, -2, -1, 0, 0, 0}, false},
    {"Oe", {-1, 0, 0, 1, 0, 0, 0}, false},
    // temperature (an offset scale: see the documentation)
    {"degF", {0, 0, 0, 0, 1, 0, 0}, false},
    {"\xC2\xB0"
     "F",
     {0, 0, 0, 0, 1, 0, 0},
     false},
    // amount concentration
    {"M", {-3, 0, 0, 0, 0, 1, 0}, true},
    // dimensionless: plane angles and ratios
    {"deg", {0, 0, 0, 0, 0, 0, 0}, false},
    {"\xC2\xB0", {0, 0, 0, 0, 0, 0, 0}, false},  // degree sign
    {"arcmin", {0, 0, 0, 0, 0, 0, 0}, false},
    {"arcsec", {0, 0, 0, 0, 0, 0, 0}, false},
    {"percent", {0, 0, 0, 0, 0, 0, 0}, false},
    {"%", {0, 0, 0, 0, 0, 0, 0}, false},
    {"ppm", {0, 0, 0, 0, 0, 0, 0}, false},
    {"ppb", {0, 0, 0, 0, 0, 0, 0}, false},
    {"permille", {0, 0, 0, 0, 0, 0, 0}, false},
    {"\xE2\x80\xB0", {0, 0, 0, 0, 0, 0, 0}, false},  // per mille sign
}};

// The SI prefixes (SI Brochure, 9th edition, table 7, with ronna, quetta,
// ronto and quecto added by the 27th CGPM, 2022). Micro is also written u,
// the micro sign or the Greek small mu. Deca's "da" comes before deci's "d"
// so that "dam" is a decametre.
constexpr std::array<std::string_view, 26> kPrefixes = {
    "Q", "R", "Y", "Z",        "E",        "P", "T", "G", "M", "k", "h", "da", "d",
    "c", "m", "u", "\xC2\xB5", "\xCE\xBC", "n", "p", "f", "a", "z", "y", "r",  "q"};

std::optional<std::size_t> base_position(std::string_view name) {
  const auto it = std::find(kBaseUnits.begin(), kBaseUnits.end(), name);
  if (it == kBaseUnits.end()) return std::nullopt;
  return static_cast<std::size_t>(it - kBaseUnits.begin());
}

// The unit whose whole symbol is `name`.
const NamedUnit* named_unit(std::string_view name) {
  for (const std::span<const NamedUnit> table :
       {std::span<const NamedUnit>(kBaseUnitTable), std::span<const NamedUnit>(kDerivedUnits),
        std::span<const NamedUnit>(kOtherUnits)}) {
    for (const NamedUnit& unit : table)
      if (unit.name == name) return &unit;
  }
  return nullptr;
}

// A symbol's unit: the unit of that whole symbol if there is one, else a
// prefix followed by the symbol of a unit that takes prefixes.
const NamedUnit* known_unit(std::string_view symbol) {
  if (const NamedUnit* unit = named_unit(symbol)) return unit;
  for (std::string_view prefix : kPrefixes) {
    if (symbol.size() <= prefix.size() || !symbol.starts_with(prefix)) continue;
    const NamedUnit* unit = named_unit(symbol.substr(prefix.size()));
    if (unit != nullptr && unit->prefixable) return unit;
  }
  return nullptr;
}

bool is_known_unit(std::string_view name) { return known_unit(name) != nullptr; }

bool is_digit(char c) { return c >= '0' && c <= '9'; }

// The middle dot U+00B7 is a product sign, not part of a symbol.
bool is_middle_dot(std::string_view text, std::size_t at) {
  return text.substr(at, 2) == "\xC2\xB7";
}

bool is_symbol_start(std::string_view text, std::size_t at) {
  const auto c = static_cast<unsigned char>(text[at]);
  if (c >= 0x80) return !is_middle_dot(text, at);
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_';
}

bool is_symbol_char(std::string_view text, std::size_t at) {
  return is_symbol_start(text, at) || is_digit(text[at]);
}

class Parser {
 public:
  explicit Parser(std::string_view text) : text_(text) {}

  ParsedUnit parse() {
    skip_spaces();
    if (at_end()) return Dimension();
    ParsedUnit result = product();
    if (std::holds_alternative<std::string>(result)) return result;
    skip_spaces();
    if (!at_end()) return unexpected();
    return result;
  }

 private:
  ParsedUnit product() {
    ParsedUnit first = power();
    if (std::holds_alternative<std::string>(first)) return first;
    Dimension value = std::get<Dimension>(std::move(first));
    while (true) {
      const bool spaced = skip_spaces();
      if (at_end() || peek() == ')') return value;
      bool divide = false;
      if (peek() == '*' && text_.substr(pos_, 2) != "**") {
        ++pos_;
      } else if (peek() == '.') {
        ++pos_;
      } else if (is_middle_dot(text_, pos_)) {
        pos_ += 2;
      } else if (peek() == '/') {
        ++pos_;
        divide = true;
      } else if (!spaced) {
        return unexpected();
      }
      skip_spaces();
      ParsedUnit next = power();
      if (std::holds_alternative<std::string>(next)) return next;
      const Dimension& factor = std::get<Dimension>(next);
      value = value * (divide ? factor.pow(Rational(-1)) : factor);
    }
  }

  ParsedUnit power() {
    ParsedUnit base = atom();
    if (std::holds_alternative<std::string>(base)) return base;
    const std::size_t after_base = pos_;
    skip_spaces();
    if (!at_end() && peek() == '^') {
      ++pos_;
    } else if (text_.substr(pos_, 2) == "**") {
      pos_ += 2;
    } else {
      // The spaces may separate the next factor of a product.
      pos_ = after_base;
      return base;
    }
    skip_spaces();
    std::variant<Rational, std::string> e = exponent();
    if (std::holds_alternative<std::string>(e)) return std::get<std::string>(std::move(e));
    return std::get<Dimension>(base).pow(std::get<Rational>(e));
  }

  ParsedUnit atom() {
    if (at_end()) return fail("a unit is missing at the end");
    if (peek() == '(') {
      ++pos_;
      skip_spaces();
      ParsedUnit inner = product();
      if (std::holds_alternative<std::string>(inner)) return inner;
      skip_spaces();
      if (at_end() || peek() != ')') return fail("missing ')' at position " + position());
      ++pos_;
      return inner;
    }
    if (is_digit(peek())) {
      const std::size_t start = pos_;
      while (!at_end() && is_digit(peek())) ++pos_;
      if (text_.substr(start, pos_ - start) != "1")
        return fail("the number " + std::string(text_.substr(start, pos_ - start)) +
                    " at position " + decimal(start + 1) +
                    " is not a unit (only 1 stands for a dimensionless quantity)");
      return Dimension();
    }
    if (peek() == '%') {
      ++pos_;
      return parse_unit_symbol("%");
    }
    if (!is_symbol_start(text_, pos_)) return unexpected();
    const std::size_t start = pos_;
    while (!at_end() && is_symbol_char(text_, pos_)) ++pos_;
    return parse_unit_symbol(text_.substr(start, pos_ - start));
  }

  std::variant<Rational, std::string> exponent() {
    const bool parenthesised = !at_end() && peek() == '(';
    if (parenthesised) {
      ++pos_;
      skip_spaces();
    }
    const std::optional<std::int64_t> numerator = signed_integer();
    if (!numerator) return fail("expected an integer exponent at position " + position());
    std::int64_t denominator = 1;
    if (parenthesised) {
      skip_spaces();
      if (!at_end() && peek() == '/') {
        ++pos_;
        skip_spaces();
        const std::optional<std::int64_t> d = signed_integer();
        if (!d) return fail("expected the exponent's denominator at position " + position());
        if (*d == 0) return fail("zero denominator in an exponent");
        denominator = *d;
      }
      skip_spaces();
      if (at_end() || peek() != ')') return fail("missing ')' at position " + position());
      ++pos_;
    }
    return Rational(*numerator, denominator);
  }

  std::optional<std::int64_t> signed_integer() {
    bool negative = false;
    if (!at_end() && (peek() == '-' || peek() == '+')) {
      negative = peek() == '-';
      ++pos_;
    }
    if (at_end() || !is_digit(peek())) return std::nullopt;
    std::int64_t value = 0;
    while (!at_end() && is_digit(peek())) {
      if (value > 100'000'000) return std::nullopt;  // no unit needs larger exponents
      value = value * 10 + (peek() - '0');
      ++pos_;
    }
    return negative ? -value : value;
  }

  bool skip_spaces() {
    const std::size_t start = pos_;
    while (!at_end() && (peek() == ' ' || peek() == '\t')) ++pos_;
    return pos_ != start;
  }
  bool at_end() const { return pos_ >= text_.size(); }
  char peek() const { return text_[pos_]; }
  std::string position() const { return decimal(pos_ + 1); }

  std::string fail(std::string message) const { return message; }
  std::string unexpected() const {
    return "unexpected '" + std::string(text_.substr(pos_, 1)) + "' at position " + position();
  }

  std::string_view text_;
  std::size_t pos_ = 0;
};

}  // namespace

bool base_dimension_before(std::string_view a, std::string_view b) {
  const std::optional<std::size_t> pa = base_position(a);
  const std::optional<std::size_t> pb = base_position(b);
  if (pa && pb) return *pa < *pb;
  if (pa || pb) return pa.has_value();
  return a < b;
}

Dimension Dimension::base(std::string name, Rational exponent) {
  Dimension d;
  if (!exponent.is_zero()) d.factors_.emplace_back(std::move(name), exponent);
  return d;
}

Rational Dimension::exponent(std::string_view name) const {
  for (const auto& [factor, e] : factors_)
    if (factor == name) return e;
  return Rational(0);
}

Dimension operator*(const Dimension& a, const Dimension& b) {
  Dimension out;
  std::size_t i = 0;
  std::size_t j = 0;
  while (i < a.factors_.size() || j < b.factors_.size()) {
    if (j == b.factors_.size() ||
        (i < a.factors_.size() &&
         base_dimension_before(a.factors_[i].first, b.factors_[j].first))) {
      out.factors_.push_back(a.factors_[i++]);
    } else if (i == a.factors_.size() ||
               base_dimension_before(b.factors_[j].first, a.factors_[i].first)) {
      out.factors_.push_back(b.factors_[j++]);
    } else {
      const Rational sum = a.factors_[i].second + b.factors_[j].second;
      if (!sum.is_zero()) out.factors_.emplace_back(a.factors_[i].first, sum);
      ++i;
      ++j;
    }
  }
  return out;
}

Dimension Dimension::pow(Rational exponent) const {
  Dimension out;
  if (exponent.is_zero()) return out;
  for (const auto& [name, e] : factors_) out.factors_.emplace_back(name, e * exponent);
  return out;
}

std::string Dimension::text() const {
  if (factors_.empty()) return "1";
  std::string out;
  for (const auto& [name, e] : factors_) {
    if (!out.empty()) out += ' ';
    out += name;
    if (e == Rational(1)) continue;
    out += e.is_integer() ? "^" + e.text() : "^(" + e.text() + ")";
  }
  return out;
}

ParsedUnit parse_unit_symbol(std::string_view symbol) {
  if (symbol == "%") return Dimension();
  if (symbol.empty() || !is_symbol_start(symbol, 0))
    return "'" + std::string(symbol) + "' is not a unit symbol";
  for (std::size_t i = 1; i < symbol.size(); ++i)
    if (!is_symbol_char(symbol, i)) return "'" + std::string(symbol) + "' is not a unit symbol";
  if (const NamedUnit* unit = known_unit(symbol)) {
    Dimension d;
    for (std::size_t k = 0; k < kBaseUnits.size(); ++k)
      d = d * Dimension::base(std::string(kBaseUnits[k]), Rational(unit->exponents[k]));
    return d;
  }
  std::size_t letters = symbol.size();
  while (letters > 0 && is_digit(symbol[letters - 1])) --letters;
  if (letters < symbol.size() && is_known_unit(symbol.substr(0, letters))) {
    return "'" + std::string(symbol) + "' is not a unit: write a power as " +
           std::string(symbol.substr(0, letters)) + "^" + std::string(symbol.substr(letters));
  }
  return Dimension::base(std::string(symbol));
}

ParsedUnit parse_unit(std::string_view text) {
  try {
    return Parser(text).parse();
  } catch (const RationalOverflow&) {
    return std::string("its exponents are too large");
  }
}

}  // namespace tov
