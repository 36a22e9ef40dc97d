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
  EXPECT_EQ(std::get<Dimension>(parse_unit_symbol("km")).text(), "km");
  EXPECT_TRUE(std::holds_alternative<std::string>(parse_unit_symbol("m/s")));
  EXPECT_TRUE(std::holds_alternative<std::string>(parse_unit_symbol("")));
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
