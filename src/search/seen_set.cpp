// The compact fingerprint set: open addressing per shard, exact comparison
// of re-derived fingerprints on hash matches.
#include "search/seen_set.hpp"

#include <stdexcept>

#include "fit/block_eval.hpp"
#include "ops/kernels.hpp"

namespace tov {

std::optional<Fingerprint> owner_fingerprint(const CandidateRef& owner, const Levels& levels) {
  const LevelEntry& left = levels[owner.left_level][owner.left];
  if (owner.op == SeenSet::kSeed) return fingerprint_from_values(left.fp_values);
  const LevelEntry* right = owner.right_level ? &levels[owner.right_level][owner.right] : nullptr;
  std::array<Complex, kFingerprintPoints> values;
  for (std::size_t p = 0; p < kFingerprintPoints; ++p) {
    const Complex args[2] = {left.fp_values[p], right ? right->fp_values[p] : Complex{}};
    const auto v = kernels::apply_builtin(owner.op, args);
    if (!v || !within_limits(*v)) return std::nullopt;
    values[p] = *v;
  }
  return fingerprint_from_values(values);
}

void SeenSet::place(std::vector<Entry>& slots, const Entry& entry) {
  const std::size_t mask = slots.size() - 1;
  std::size_t i = static_cast<std::size_t>(entry.hash) & mask;
  while (slots[i].hash != 0) i = (i + 1) & mask;
  slots[i] = entry;
}

bool SeenSet::insert(std::uint64_t hash, const Fingerprint& fp, const CandidateRef& owner,
                     const Levels& levels) {
  Shard& shard = shards_[shard_of(hash)];
  if (shard.slots.empty()) shard.slots.resize(1024);
  const std::size_t mask = shard.slots.size() - 1;
  for (std::size_t i = static_cast<std::size_t>(hash) & mask;; i = (i + 1) & mask) {
    const Entry& e = shard.slots[i];
    if (e.hash == 0) break;
    if (e.hash != hash) continue;
    const CandidateRef stored{e.left, e.right, e.left_level, e.right_level, e.op};
    if (owner_fingerprint(stored, levels) == fp) return false;
  }
  if (owner.left_level > UINT16_MAX || owner.right_level > UINT16_MAX)
    throw std::length_error("search level beyond the fingerprint set's range");
  const Entry entry{hash,
                    owner.left,
                    owner.right,
                    static_cast<std::uint16_t>(owner.left_level),
                    static_cast<std::uint16_t>(owner.right_level),
                    owner.op};
  // Linear probing stays short below half load.
  if (2 * (shard.count + 1) > shard.slots.size()) {
    std::vector<Entry> grown(shard.slots.size() * 2);
    for (const Entry& e : shard.slots)
      if (e.hash != 0) place(grown, e);
    shard.slots.swap(grown);
  }
  place(shard.slots, entry);
  ++shard.count;
  return true;
}

std::size_t SeenSet::size() const {
  std::size_t total = 0;
  for (const Shard& shard : shards_) total += shard.count;
  return total;
}

}  // namespace tov
