// The math-behaviour signature of a process, which a distributed search
// compares across its processes before it starts.
#pragma once

#include <string>

namespace tov::vmath {

// Identifies this process's behaviour for exp, log, sin, cos, atan2, sinh,
// cosh, hypot, sqrt and expm1:
//
//   <arch>-glibc<version>-<hash>-v:<routines>
//
// <arch> is the compile target (x86_64, aarch64, ...); <version> is the glibc
// the process runs with (gnu_get_libc_version); <hash> is 12 lower-case hex
// digits, the low 48 bits of an FNV-1a hash of the result bits of those
// functions at fixed probe arguments, among them arguments where glibc's FMA
// and SSE2 builds disagree; <routines> lists the vector routines that passed
// the self-check, comma separated in the order exp,log,hypot, or "none".
// Example: x86_64-glibc2.36-3f0a9c41d2e7-v:exp,log,hypot. Two processes with
// equal signatures get the same results from these functions.
std::string math_signature();

}  // namespace tov::vmath
