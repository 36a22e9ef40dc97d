#include "units/units.hpp"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <variant>

#include "numeric/rational.hpp"

namespace tov {
namespace {

Dimension parsed(std::string_view text) {
  ParsedUnit unit = parse_unit(text);
  if (const std::string* error = std::get_if<std::string>(&unit)) {
    ADD_FAILURE() << text << ": " << *error;
    return {};
  }
  return std::get<Dimension>(unit);
}

TEST(Rational, ReducesAndOrders) {
  EXPECT_EQ(Rational(6, -4), Rational(-3, 2));
  EXPECT_EQ(Rational(6, -4).text(), "-3/2");
  EXPECT_EQ((Rational(1, 2) + Rational(1, 3)).text(), "5/6");
  EXPECT_EQ(Rational(1, 2) * Rational(2), Rational(1));
  EXPECT_LT(Rational(-1, 2), Rational(1, 3));
  EXPECT_EQ(Rational(7, 3).abs(), Rational(-7, 3).abs());
  EXPECT_THROW(Rational(1, 0), std::invalid_argument);
  EXPECT_THROW(Rational(1) / Rational(0), std::domain_error);
}

TEST(Rational, OverflowThrowsInsteadOfWrapping) {
  const Rational big(std::int64_t{1} << 62);
  EXPECT_THROW(big * big, RationalOverflow);
  EXPECT_THROW(big + big, RationalOverflow);
  EXPECT_THROW(Rational(1, std::int64_t{1} << 40) * Rational(1, std::int64_t{1} << 40),
               RationalOverflow);
  EXPECT_EQ(big * Rational(1, 4), Rational(std::int64_t{1} << 60));
}

TEST(Units, TextsDenoteTheirDimensions) {
  const struct {
    const char* text;
    const char* dimension;
  } cases[] = {
      {"", "1"},
      {"1", "1"},
      {"rad", "1"},
      {"m", "m"},
      {"kg*m^2/s^2", "m^2 kg s^-2"},
      {"J", "m^2 kg s^-2"},
      {"N m", "m^2 kg s^-2"},
      {"N·m", "m^2 kg s^-2"},
      {"N.m", "m^2 kg s^-2"},
      {"1/s", "s^-1"},
      {"Hz", "s^-1"},
      {"s^-1", "s^-1"},
      {"m**2", "m^2"},
      {"kg^(1/2)", "kg^(1/2)"},
      {"m^( -3 / 2 )", "m^(-3/2)"},
      {"J/kg*K", "m^2 s^-2 K"},
      {"J/(kg*K)", "m^2 s^-2 K^-1"},
      {"V/m", "m kg s^-3 A^-1"},
      {"T", "kg s^-2 A^-1"},
      {"C", "s A"},
      {"F", "m^-2 kg^-1 s^4 A^2"},
      {"Ohm", "m^2 kg s^-3 A^-2"},
      {"Ω", "m^2 kg s^-3 A^-2"},
      {"H/m", "m kg s^-2 A^-2"},
      {"Wb", "m^2 kg s^-2 A^-1"},
      {"Pa", "m^-1 kg s^-2"},
      {"W", "m^2 kg s^-3"},
      {"mol/(m^3)", "m^-3 mol"},
      {"cd", "cd"},
      {"USD/person", "USD person^-1"},
      {"person USD", "USD person"},
      {"m/m", "1"},
      {"(m/s)^2", "m^2 s^-2"},
  };
  for (const auto& c : cases) EXPECT_EQ(parsed(c.text).text(), c.dimension) << c.text;
}

TEST(Units, MalformedTextsSayWhatIsWrong) {
  const struct {
    const char* text;
    const char* message;
  } cases[] = {
      {"m^", "expected an integer exponent at position 3"},
      {"m^x", "expected an integer exponent at position 3"},
      {"m2", "'m2' is not a unit: write a power as m^2"},
      {"2 m", "the number 2 at position 1 is not a unit"},
      {"(m", "missing ')' at position 3"},
      {"m)", "unexpected ')' at position 2"},
      {"m^(1/0)", "zero denominator in an exponent"},
      {"m^(1/2", "missing ')' at position 7"},
      {"m/", "a unit is missing at the end"},
      {"m $", "unexpected '$' at position 3"},
      {"m^1/2", "the number 2 at position 5 is not a unit"},
  };
  for (const auto& c : cases) {
    const ParsedUnit unit = parse_unit(c.text);
    ASSERT_TRUE(std::holds_alternative<std::string>(unit)) << c.text;
    EXPECT_NE(std::get<std::string>(unit).find(c.message), std::string::npos)
        << c.text << ": " << std::get<std::string>(unit);
  }
}

TEST(Units, SymbolsAreBaseDerivedOrTheirOwn) {
  EXPECT_EQ(std::get<Dimension>(parse_unit_symbol("N")), parsed("kg m s^-2"));
  EXPECT_EQ(std::get<Dimension>(parse_unit_symbol("USD")).text(), "USD");
  EXPECT_TRUE(std::holds_alternative<std::string>(parse_unit_symbol("m/s")));
  EXPECT_TRUE(std::holds_alternative<std::string>(parse_unit_symbol("")));
}

// Every SI prefix on a unit that takes prefixes gives that unit's dimension.
TEST(Units, PrefixesKeepTheDimension) {
  const char* prefixes[] = {"Q", "R", "Y", "Z", "E", "P", "T", "G", "M", "k", "h", "da", "d",
                            "c", "m", "u", "µ", "μ", "n", "p", "f", "a", "z", "y", "r",  "q"};
  const char* units[] = {"m",  "g",    "s",  "A",  "K",  "mol", "cd", "rad", "Hz", "N",   "Pa",
                         "J",  "W",    "C",  "V",  "F",  "Ohm", "Ω",  "S",   "Wb", "T",   "H",
                         "lm", "lx",   "Bq", "Gy", "Sv", "kat", "L",  "l",   "eV", "bar", "cal",
                         "Da", "Torr", "P",  "St", "G",  "M",   "Wh", "Ah"};
  for (const char* unit : units) {
    const Dimension expected = parsed(unit);
    for (const char* prefix : prefixes) {
      const std::string symbol = std::string(prefix) + unit;
      EXPECT_EQ(parsed(symbol), expected) << symbol;
    }
  }
}

// Symbols read as a whole where they are units of their own, prefixed units
// otherwise, and base dimensions of their own when they are neither.
TEST(Units, AmbiguousSymbolsFollowTheRule) {
  const struct {
    const char* text;
    const char* dimension;
  } cases[] = {
      {"min", "s"},            // minute, not milli-inch
      {"mi", "m"},             // mile
      {"cd", "cd"},            // candela, not centi-day
      {"mcd", "cd"},           // millicandela
      {"Pa", "m^-1 kg s^-2"},  // pascal, not peta-anything
      {"PPa", "m^-1 kg s^-2"},
      {"mol", "mol"},  // mole, not milli-ol
      {"mmol", "mol"},
      {"kat", "s^-1 mol"},  // katal, not kilo-at
      {"mkat", "s^-1 mol"},
      {"h", "s"},  // hour; hecto only as a prefix
      {"hPa", "m^-1 kg s^-2"},
      {"ha", "m^2"},  // hectare
      {"d", "s"},     // day; deci only as a prefix
      {"dm", "m"},
      {"dam", "m"},  // decametre: deca before deci
      {"Da", "kg"},  // dalton
      {"kDa", "kg"},
      {"T", "kg s^-2 A^-1"},  // tesla; tera only as a prefix
      {"Tm", "m"},
      {"THz", "s^-1"},
      {"m", "m"},   // metre; milli only as a prefix
      {"ms", "s"},  // millisecond, not metre second (write "m s")
      {"mm", "m"},
      {"Mm", "m"},         // megametre
      {"mM", "m^-3 mol"},  // millimolar
      {"M", "m^-3 mol"},   // molar
      {"u", "kg"},         // atomic mass unit; micro only as a prefix
      {"um", "m"},
      {"µm", "m"},
      {"Gy", "m^2 s^-2"},     // gray, not giga-anything
      {"G", "kg s^-2 A^-1"},  // gauss
      {"kG", "kg s^-2 A^-1"},
      {"Gs", "s"},  // gigasecond: the gauss is G or gauss
      {"GHz", "s^-1"},
      {"ft", "m"},  // foot, not femto-anything
      {"Torr", "m^-1 kg s^-2"},
      {"mTorr", "m^-1 kg s^-2"},
      {"mmHg", "m^-1 kg s^-2"},
      {"in", "m"},
      {"inch", "m"},
      {"kg", "kg"},
      {"mg", "kg"},
      {"mkg", "mkg"},  // no prefix on kg: a dimension of its own
      {"kh", "kh"},    // the hour takes no prefix
      {"Nm", "Nm"},    // not a unit: write "N m"
      {"kWh", "m^2 kg s^-2"},
      {"mAh", "s A"},
      {"sr", "1"},   // steradian, not second rad
      {"lm", "cd"},  // lumen
      {"lb", "kg"},
      {"lbf", "m kg s^-2"},
      {"au", "m"},
      {"cP", "m^-1 kg s^-1"},
      {"cSt", "m^2 s^-1"},
      {"USD", "USD"},
      {"person", "person"},
  };
  for (const auto& c : cases) EXPECT_EQ(parsed(c.text).text(), c.dimension) << c.text;
}

TEST(Units, UnitsOutsideTheSiDenoteTheirDimensions) {
  const struct {
    const char* text;
    const char* dimension;
  } cases[] = {
      {"min", "s"},
      {"h", "s"},
      {"d", "s"},
      {"L", "m^3"},
      {"l", "m^3"},
      {"mL", "m^3"},
      {"µL", "m^3"},
      {"bar", "m^-1 kg s^-2"},
      {"mbar", "m^-1 kg s^-2"},
      {"atm", "m^-1 kg s^-2"},
      {"psi", "m^-1 kg s^-2"},
      {"eV", "m^2 kg s^-2"},
      {"keV", "m^2 kg s^-2"},
      {"cal", "m^2 kg s^-2"},
      {"kcal/mol", "m^2 kg s^-2 mol^-1"},
      {"kJ/mol", "m^2 kg s^-2 mol^-1"},
      {"Å", "m"},
      {"Å", "m"},
      {"Angstrom", "m"},
      {"angstrom", "m"},
      {"yd", "m"},
      {"erg", "m^2 kg s^-2"},
      {"dyn", "m kg s^-2"},
      {"gauss", "kg s^-2 A^-1"},
      {"Mx", "m^2 kg s^-2 A^-1"},
      {"Oe", "m^-1 A"},
      {"Gal", "m s^-2"},
      {"rpm", "s^-1"},
      {"degF", "K"},
      {"°F", "K"},
      {"°C", "K"},
      {"deg", "1"},
      {"°", "1"},
      {"arcmin", "1"},
      {"arcsec", "1"},
      {"percent", "1"},
      {"%", "1"},
      {"%/K", "K^-1"},
      {"ppm", "1"},
      {"ppb", "1"},
      {"permille", "1"},
      {"‰", "1"},
      {"km/h", "m s^-1"},
      {"mm/ms", "m s^-1"},
      {"kW h", "m^2 kg s^-2"},
      {"g/cm^3", "m^-3 kg"},
      {"mg/L", "m^-3 kg"},
      {"umol/(L*min)", "m^-3 s^-1 mol"},
  };
  for (const auto& c : cases) EXPECT_EQ(parsed(c.text).text(), c.dimension) << c.text;
}

TEST(Units, PrefixedAndOtherUnitsRefuseDigits) {
  for (const char* text : {"km2", "cm3", "L2", "ft2", "µm2"}) {
    const ParsedUnit unit = parse_unit(text);
    ASSERT_TRUE(std::holds_alternative<std::string>(unit)) << text;
    const std::string symbol(text);
    const std::string letters = symbol.substr(0, symbol.size() - 1);
    EXPECT_EQ(std::get<std::string>(unit), "'" + symbol + "' is not a unit: write a power as " +
                                               letters + "^" + symbol.substr(symbol.size() - 1));
  }
  EXPECT_EQ(std::get<std::string>(parse_unit_symbol("%%")), "'%%' is not a unit symbol");
}

// Printing a dimension and parsing the text gives the same dimension.
TEST(Units, TextRoundTrips) {
  const char* names[] = {"m", "kg", "s", "A", "K", "mol", "cd", "USD", "person"};
  std::mt19937 random(7);
  for (int trial = 0; trial < 200; ++trial) {
    Dimension d;
    for (const char* name : names) {
      const int num = static_cast<int>(random() % 7) - 3;
      const int den = 1 + static_cast<int>(random() % 3);
      if (random() % 2 == 0) d = d * Dimension::base(name, Rational(num, den));
    }
    EXPECT_EQ(parsed(d.text()), d) << d.text();
  }
}

}  // namespace
}  // namespace tov
