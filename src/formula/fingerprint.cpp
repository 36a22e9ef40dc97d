// Semantic fingerprint of an expression: its values at five fixed complex
// points, quantised to a 1e-10 grid.
#include "formula/fingerprint.hpp"

#include <cmath>
#include <limits>
#include <vector>

namespace tov {
namespace {

constexpr double kImaginaryStep = 0.1;
constexpr double kQuantisationScale = 1e10;
// 2^63: the first double beyond the int64 range; -2^63 is its lower bound.
constexpr double kInt64Bound = 9223372036854775808.0;

// splitmix64's finaliser: a bijective 64-bit mix with full avalanche.
std::uint64_t mix64(std::uint64_t x) {
  x ^= x >> 30;
  x *= 0xBF58476D1CE4E5B9ULL;
  x ^= x >> 27;
  x *= 0x94D049BB133111EBULL;
  x ^= x >> 31;
  return x;
}

}  // namespace

std::size_t FingerprintHash::operator()(const Fingerprint& fp) const noexcept {
  constexpr std::uint64_t kGolden = 0x9E3779B97F4A7C15ULL;
  std::uint64_t h = mix64(key ^ kGolden);
  for (const std::int64_t part : fp.parts) {
    h = mix64(h ^ static_cast<std::uint64_t>(part)) + kGolden;
  }
  return static_cast<std::size_t>(mix64(h));
}

Complex fingerprint_input(std::size_t point, std::size_t var) {
  const double re = kFingerprintBase[(point + var) % kFingerprintPoints];
  const double im = point % 2 == 0 ? 0.0 : static_cast<double>(var + 1) * kImaginaryStep;
  return Complex{re, im};
}

std::int64_t quantise_part(double x) {
  const double scaled = std::round(x * kQuantisationScale);
  if (std::isnan(scaled)) {
    return 0;
  }
  if (scaled >= kInt64Bound) {
    return std::numeric_limits<std::int64_t>::max();
  }
  if (scaled <= -kInt64Bound) {
    return std::numeric_limits<std::int64_t>::min();
  }
  return static_cast<std::int64_t>(scaled);
}

std::optional<Fingerprint> fingerprint_from_values(
    std::span<const Complex, kFingerprintPoints> values) {
  Fingerprint fp;
  for (std::size_t s = 0; s < kFingerprintPoints; ++s) {
    if (!within_limits(values[s])) {
      return std::nullopt;
    }
    fp.parts[2 * s] = quantise_part(values[s].re);
    fp.parts[2 * s + 1] = quantise_part(values[s].im);
  }
  return fp;
}

std::optional<Fingerprint> fingerprint(const Expression& expression, OperatorList operators) {
  const std::size_t n = expression.var_count;
  std::vector<Complex> inputs(n);
  std::vector<Complex> stack;
  std::array<Complex, kFingerprintPoints> values;
  for (std::size_t s = 0; s < kFingerprintPoints; ++s) {
    for (std::size_t j = 0; j < n; ++j) {
      inputs[j] = fingerprint_input(s, j);
    }
    const std::optional<Complex> value =
        eval_internal(expression.tokens, inputs, {}, operators, stack);
    // Leaves are not range-checked by the evaluator, so check every value.
    if (!value || !within_limits(*value)) {
      return std::nullopt;
    }
    values[s] = *value;
  }
  return fingerprint_from_values(values);
}

}  // namespace tov
