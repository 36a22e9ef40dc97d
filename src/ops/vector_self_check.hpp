// The one-time check that decides which vector routines a process uses.
//
// glibc picks its exp and log at load time (an FMA build on CPUs with AVX2
// and FMA, an SSE2 build otherwise); the vector routines repeat one build
// each. The check compares every routine with the live scalar call on a fixed
// input set (inputs that separate the two glibc variants, threshold and
// table-cell edges, subnormals, specials, fixed pseudo-random values); a
// routine that disagrees once is not used.
#pragma once

namespace tov::vmath {

// Which routines agree with the scalar calls bit for bit.
struct VectorRoutines {
  bool exp = false;
  bool log = false;
  bool hypot = false;
};

// Runs the comparison (some milliseconds; callers keep the answer). None
// agrees on a CPU without AVX2 and FMA, or off x86-64.
VectorRoutines check_vector_routines();

}  // namespace tov::vmath
