// Memory accounting for the search: what the process may still use, and what
// one level of the search is expected to need.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>

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

}  // namespace tov
