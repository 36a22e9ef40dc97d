// The unit table and the unit text parser.
#include "units/units.hpp"

#include <algorithm>
#include <array>
#include <cstdint>
#include <optional>

#include "numeric/decimal.hpp"

namespace tov {

namespace {

constexpr std::array<std::string_view, 7> kBaseUnits = {"m", "kg", "s", "A", "K", "mol", "cd"};

// The SI derived units with special names (SI Brochure, 9th edition, 2019,
// table 4) as exponents of m, kg, s, A, K, mol and cd; rad and sr are
// dimensionless, lm = cd sr. Plus the usual spellings of the ohm and the
// degree Celsius.
struct DerivedUnit {
  std::string_view name;
  std::array<std::int8_t, 7> exponents;
};
constexpr std::array<DerivedUnit, 26> kDerivedUnits = {{
    {"rad", {0, 0, 0, 0, 0, 0, 0}},
    {"sr", {0, 0, 0, 0, 0, 0, 0}},
    {"Hz", {0, 0, -1, 0, 0, 0, 0}},
    {"N", {1, 1, -2, 0, 0, 0, 0}},
    {"Pa", {-1, 1, -2, 0, 0, 0, 0}},
    {"J", {2, 1, -2, 0, 0, 0, 0}},
    {"W", {2, 1, -3, 0, 0, 0, 0}},
    {"C", {0, 0, 1, 1, 0, 0, 0}},
    {"V", {2, 1, -3, -1, 0, 0, 0}},
    {"F", {-2, -1, 4, 2, 0, 0, 0}},
    {"Ohm", {2, 1, -3, -2, 0, 0, 0}},
    {"ohm", {2, 1, -3, -2, 0, 0, 0}},
    {"\xCE\xA9", {2, 1, -3, -2, 0, 0, 0}},      // Greek capital omega
    {"\xE2\x84\xA6", {2, 1, -3, -2, 0, 0, 0}},  // ohm sign
    {"S", {-2, -1, 3, 2, 0, 0, 0}},
    {"Wb", {2, 1, -2, -1, 0, 0, 0}},
    {"T", {0, 1, -2, -1, 0, 0, 0}},
    {"H", {2, 1, -2, -2, 0, 0, 0}},
    {"degC", {0, 0, 0, 0, 1, 0, 0}},
    {"\xC2\xB0"
     "C",
     {0, 0, 0, 0, 1, 0, 0}},
    {"lm", {0, 0, 0, 0, 0, 0, 1}},
    {"lx", {-2, 0, 0, 0, 0, 0, 1}},
    {"Bq", {0, 0, -1, 0, 0, 0, 0}},
    {"Gy", {2, 0, -2, 0, 0, 0, 0}},
    {"Sv", {2, 0, -2, 0, 0, 0, 0}},
    {"kat", {0, 0, -1, 0, 0, 1, 0}},
}};

std::optional<std::size_t> base_position(std::string_view name) {
  const auto it = std::find(kBaseUnits.begin(), kBaseUnits.end(), name);
  if (it == kBaseUnits.end()) return std::nullopt;
  return static_cast<std::size_t>(it - kBaseUnits.begin());
}

const DerivedUnit* derived_unit(std::string_view name) {
  for (const DerivedUnit& unit : kDerivedUnits)
    if (unit.name == name) return &unit;
  return nullptr;
}

bool is_known_unit(std::string_view name) {
  return base_position(name).has_value() || derived_unit(name) != nullptr;
}

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
  if (symbol.empty() || !is_symbol_start(symbol, 0))
    return "'" + std::string(symbol) + "' is not a unit symbol";
  for (std::size_t i = 1; i < symbol.size(); ++i)
    if (!is_symbol_char(symbol, i)) return "'" + std::string(symbol) + "' is not a unit symbol";
  if (const std::optional<std::size_t> base = base_position(symbol))
    return Dimension::base(std::string(kBaseUnits[*base]));
  if (const DerivedUnit* unit = derived_unit(symbol)) {
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
