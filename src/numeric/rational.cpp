// Checked rational arithmetic through 128-bit intermediates.
#include "numeric/rational.hpp"

#include <limits>

#include "numeric/decimal.hpp"

namespace tov {

namespace {

__int128 gcd128(__int128 a, __int128 b) {
  if (a < 0) a = -a;
  if (b < 0) b = -b;
  while (b != 0) {
    const __int128 t = a % b;
    a = b;
    b = t;
  }
  return a;
}

bool fits(__int128 v) {
  // The most negative value is excluded so that negation never overflows.
  return v <= std::numeric_limits<std::int64_t>::max() &&
         v >= -std::numeric_limits<std::int64_t>::max();
}

}  // namespace

Rational::Rational(std::int64_t numerator, std::int64_t denominator) {
  if (denominator == 0) throw std::invalid_argument("zero denominator");
  *this = reduced(numerator, denominator);
}

Rational Rational::reduced(__int128 numerator, __int128 denominator) {
  if (denominator < 0) {
    numerator = -numerator;
    denominator = -denominator;
  }
  const __int128 g = gcd128(numerator, denominator);
  if (g > 1) {
    numerator /= g;
    denominator /= g;
  }
  if (!fits(numerator) || !fits(denominator)) throw RationalOverflow();
  Rational r;
  r.num_ = static_cast<std::int64_t>(numerator);
  r.den_ = static_cast<std::int64_t>(denominator);
  return r;
}

// Products of two 64-bit values fit in 128 bits, sums of two such products
// too; the reduction then checks the result.
Rational operator+(Rational a, Rational b) {
  return Rational::reduced(
      static_cast<__int128>(a.num_) * b.den_ + static_cast<__int128>(b.num_) * a.den_,
      static_cast<__int128>(a.den_) * b.den_);
}

Rational operator-(Rational a, Rational b) { return a + (-b); }

Rational operator*(Rational a, Rational b) {
  return Rational::reduced(static_cast<__int128>(a.num_) * b.num_,
                           static_cast<__int128>(a.den_) * b.den_);
}

Rational operator/(Rational a, Rational b) {
  if (b.num_ == 0) throw std::domain_error("rational division by zero");
  return Rational::reduced(static_cast<__int128>(a.num_) * b.den_,
                           static_cast<__int128>(a.den_) * b.num_);
}

Rational operator-(Rational a) {
  a.num_ = -a.num_;
  return a;
}

std::strong_ordering operator<=>(Rational a, Rational b) {
  return static_cast<__int128>(a.num_) * b.den_ <=> static_cast<__int128>(b.num_) * a.den_;
}

double Rational::to_double() const { return static_cast<double>(num_) / static_cast<double>(den_); }

std::string Rational::text() const {
  const std::string magnitude =
      decimal(static_cast<std::uint64_t>(num_ < 0 ? -num_ : num_)) +
      (den_ == 1 ? std::string() : "/" + decimal(static_cast<std::uint64_t>(den_)));
  return num_ < 0 ? "-" + magnitude : magnitude;
}

}  // namespace tov
