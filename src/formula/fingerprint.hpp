// Semantic fingerprint: identifies the function an expression computes by
// its values at five fixed complex points, quantised to a 1e-10 grid.
// Expressions with equal fingerprints count as the same function.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

#include "formula/expression.hpp"
#include "numeric/complex.hpp"
#include "ops/operator.hpp"

namespace tov {

inline constexpr std::size_t kFingerprintPoints = 5;

// Base values of the sample points: Euler-Mascheroni, Glaisher-Kinkelin,
// golden ratio, ln 2, Apery.
inline constexpr std::array<double, kFingerprintPoints> kFingerprintBase = {
    0.5772156649015329, 1.2824271291006226, 1.618033988749895, 0.6931471805599453,
    1.202056903159594};

struct Fingerprint {
  // (re, im) of point 0, then of point 1, and so on.
  std::array<std::int64_t, 2 * kFingerprintPoints> parts{};

  friend bool operator==(const Fingerprint&, const Fingerprint&) = default;
};

// Keyed 64-bit hash of a fingerprint, suitable for hash sets.
struct FingerprintHash {
  std::uint64_t key = 0;
  std::size_t operator()(const Fingerprint& fp) const noexcept;
};

// Input `var` at sample point `point`. It does not depend on how many
// variables the expression has, so values at the points can be cached.
Complex fingerprint_input(std::size_t point, std::size_t var);

// x * 1e10 rounded half away from zero, saturated to the int64 range.
std::int64_t quantise_part(double x);

// The fingerprint from an expression's values at the five points; absent when
// any value has a non-finite part or a part of magnitude 1e15 or more.
std::optional<Fingerprint> fingerprint_from_values(
    std::span<const Complex, kFingerprintPoints> values);

// Evaluates `expression` (stored parameter values) with exactly var_count
// inputs at each point. Absent when any point has no value or is out of range.
std::optional<Fingerprint> fingerprint(const Expression& expression, OperatorList operators);

}  // namespace tov
