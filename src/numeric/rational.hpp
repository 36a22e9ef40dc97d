// Exact rational numbers for dimensional analysis: 64-bit numerator and
// denominator, always reduced, denominator positive. Every operation checks
// for overflow and throws RationalOverflow rather than wrap, so a result is
// either exact or absent.
#pragma once

#include <compare>
#include <cstdint>
#include <stdexcept>
#include <string>

namespace tov {

class RationalOverflow : public std::overflow_error {
 public:
  RationalOverflow() : std::overflow_error("rational arithmetic overflow") {}
};

class Rational {
 public:
  constexpr Rational() = default;
  Rational(std::int64_t integer) : num_(integer) {}  // NOLINT: integers are rationals
  // Throws std::invalid_argument for a zero denominator, RationalOverflow
  // when the reduced value does not fit.
  Rational(std::int64_t numerator, std::int64_t denominator);

  std::int64_t num() const { return num_; }
  std::int64_t den() const { return den_; }
  bool is_zero() const { return num_ == 0; }
  bool is_integer() const { return den_ == 1; }

  friend Rational operator+(Rational a, Rational b);
  friend Rational operator-(Rational a, Rational b);
  friend Rational operator*(Rational a, Rational b);
  friend Rational operator/(Rational a, Rational b);  // std::domain_error when b is 0
  friend Rational operator-(Rational a);
  Rational& operator+=(Rational b) { return *this = *this + b; }
  Rational& operator-=(Rational b) { return *this = *this - b; }
  Rational& operator*=(Rational b) { return *this = *this * b; }

  friend bool operator==(Rational a, Rational b) = default;
  friend std::strong_ordering operator<=>(Rational a, Rational b);

  Rational abs() const { return num_ < 0 ? -*this : *this; }
  double to_double() const;
  // "3", "-2", "1/2", "-3/4".
  std::string text() const;

 private:
  // From a 128-bit fraction: reduced, checked to fit.
  static Rational reduced(__int128 numerator, __int128 denominator);

  std::int64_t num_ = 0;
  std::int64_t den_ = 1;
};

}  // namespace tov
