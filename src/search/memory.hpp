// Memory accounting for the search: what the process may still use, and what
// one level of the search is expected to need.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

namespace tov {

// Bytes this process can still allocate: MemAvailable from /proc/meminfo,
// capped by the cgroup memory limit less the cgroup's current usage. Unset
// when neither can be read.
std::optional<std::uint64_t> available_memory();

// Resident set size of this process in bytes (0 when unknown).
std::uint64_t resident_memory();

// Bytes held per candidate while a level is generated, evaluated and
// selected, including its entry in the fingerprint set.
inline constexpr std::uint64_t kBytesPerCandidate = 160;

// Candidates level `level` tries before deduplication, from the sizes of
// the retained levels (saturating).
std::uint64_t generated_count(std::size_t level, std::span<const std::uint64_t> level_sizes,
                              std::uint64_t unary_operators, std::uint64_t binary_operators);

// Bytes a level is expected to need beyond what the search holds already:
// its candidates and their fingerprints, the values cached for the
// expressions it retains, and the workers' scratch.
std::uint64_t level_memory(std::size_t level, std::uint64_t generated, std::uint64_t beam_width,
                           std::uint64_t samples, std::uint64_t workers);

}  // namespace tov
