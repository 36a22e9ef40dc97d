// Candidate expansion: the candidates of one level are every retained
// expression one level down under every unary operator, and every ordered
// pair of retained expressions whose sizes add up to level - 1 under every
// binary operator (commutative operators skip the mirrored same-level pair).
//
// Candidates are held compactly, as an operator and references to their
// operands; the full Expression with its text is built only when needed.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "formula/expression.hpp"
#include "formula/fingerprint.hpp"
#include "numeric/complex.hpp"
#include "ops/registry.hpp"

namespace tov {

// A retained expression with what later levels need from it: its structure
// key and its values at every data sample and at the fingerprint points.
struct LevelEntry {
  Expression expression;
  std::string key;
  std::vector<Complex> values;      // one per sample
  std::vector<std::uint8_t> valid;  // per sample: 0 where no value
  // Values with parameter k moved by the refinement's Jacobian step, for each
  // parameter k in order: param_count columns of one value per sample.
  std::vector<Complex> shifted_values;
  std::vector<std::uint8_t> shifted_valid;
  std::array<Complex, kFingerprintPoints> fp_values{};  // valid for every entry
};

// levels[c] holds the retained expressions of complexity c.
using Levels = std::vector<std::vector<LevelEntry>>;

struct CandidateRef {
  std::uint32_t left = 0;   // index in levels[left_level]
  std::uint32_t right = 0;  // index in levels[right_level], binary only
  std::uint32_t left_level = 0;
  std::uint32_t right_level = 0;  // 0 for a unary candidate
  std::uint8_t op = 0;            // operator id
};

// Calls emit(ref) for every candidate of `level` in generation order: the
// unary part by source then operator id, then for k = 1 .. level - 2 the
// binary part by left operand, right operand, operator id.
template <class Emit>
void enumerate_candidates(std::size_t level, const Levels& levels,
                          std::span<const std::uint64_t> unary_ids,
                          std::span<const std::uint64_t> binary_ids,
                          std::span<const OperatorMeta> metas, Emit&& emit);

// Builds the candidate's Expression by the construction rules.
Expression materialize(const CandidateRef& ref, const Levels& levels,
                       std::span<const OperatorMeta> metas);

// The candidate's tokens alone (no formula text), written into `out`.
void candidate_tokens(const CandidateRef& ref, const Levels& levels, std::vector<Token>& out);

// The candidate's structure key, from its operands' keys.
std::string candidate_key(const CandidateRef& ref, const Levels& levels);

// Byte-wise text order used by commutativity pruning.
inline bool formula_greater(const std::string& a, const std::string& b) { return a.compare(b) > 0; }

template <class Emit>
void enumerate_candidates(std::size_t level, const Levels& levels,
                          std::span<const std::uint64_t> unary_ids,
                          std::span<const std::uint64_t> binary_ids,
                          std::span<const OperatorMeta> metas, Emit&& emit) {
  if (level < 2) return;
  const auto& sources = levels[level - 1];
  for (std::uint32_t s = 0; s < sources.size(); ++s)
    for (const std::uint64_t u : unary_ids)
      emit(CandidateRef{s, 0, static_cast<std::uint32_t>(level - 1), 0,
                        static_cast<std::uint8_t>(u)});
  for (std::size_t k = 1; k + 2 <= level; ++k) {
    const std::size_t r = level - 1 - k;
    const auto& lefts = levels[k];
    const auto& rights = levels[r];
    for (std::uint32_t l = 0; l < lefts.size(); ++l)
      for (std::uint32_t q = 0; q < rights.size(); ++q)
        for (const std::uint64_t b : binary_ids) {
          if (metas[b].is_commutative && k == r &&
              formula_greater(lefts[l].expression.formula, rights[q].expression.formula))
            continue;
          emit(CandidateRef{l, q, static_cast<std::uint32_t>(k), static_cast<std::uint32_t>(r),
                            static_cast<std::uint8_t>(b)});
        }
  }
}

}  // namespace tov
