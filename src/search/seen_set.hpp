// The set of fingerprints seen so far in one search, kept compact.
//
// An entry holds a 64-bit hash of the fingerprint and a reference to the
// candidate that owns it (its operator and operands, or a seed leaf): 24
// bytes instead of the ten integers of the fingerprint. When hashes match,
// the owner's fingerprint is re-derived from its operands' cached values and
// compared exactly, so membership is decided by the fingerprints themselves.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "formula/fingerprint.hpp"
#include "search/expansion.hpp"

namespace tov {

class SeenSet {
 public:
  static constexpr std::size_t kShards = 64;
  // Operator value of an owner that is the seed leaf levels[1][left].
  static constexpr std::uint8_t kSeed = 0xFF;

  explicit SeenSet(std::uint64_t key) : hash_{key} {}

  std::uint64_t hash(const Fingerprint& fp) const { return hash_(fp) | 1; }
  static std::size_t shard_of(std::uint64_t hash) { return (hash >> 40) % kShards; }

  // Inserts `fp`, owned by `owner`, unless an equal fingerprint is present;
  // true when it was new. Only one thread may insert into a shard at a time;
  // `levels` must hold every owner's operands.
  bool insert(std::uint64_t hash, const Fingerprint& fp, const CandidateRef& owner,
              const Levels& levels);

  std::size_t size() const;

 private:
  struct Entry {
    std::uint64_t hash = 0;  // 0: empty slot
    std::uint32_t left = 0;
    std::uint32_t right = 0;
    std::uint16_t left_level = 0;
    std::uint16_t right_level = 0;
    std::uint8_t op = 0;
  };
  struct Shard {
    std::vector<Entry> slots;
    std::size_t count = 0;
  };

  static void place(std::vector<Entry>& slots, const Entry& entry);

  FingerprintHash hash_;
  std::array<Shard, kShards> shards_;
};

// The fingerprint of a candidate from its operands' cached values at the
// fingerprint points (one operator call per point), or of a seed leaf.
std::optional<Fingerprint> owner_fingerprint(const CandidateRef& owner, const Levels& levels);

}  // namespace tov
