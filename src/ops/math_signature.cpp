// The math-behaviour signature: a hash of scalar libm results at fixed probe
// arguments, with the compile target, the glibc version and the vector
// routines in use.
#include "ops/math_signature.hpp"

#include <bit>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <utility>

#if defined(__GLIBC__)
#include <gnu/libc-version.h>
#endif

#include "ops/vector_math.hpp"

namespace tov::vmath {
namespace {

enum class Function : std::uint8_t {
  kExp,
  kLog,
  kSin,
  kCos,
  kAtan2,
  kSinh,
  kCosh,
  kHypot,
  kSqrt,
  kExpm1
};

struct Probe {
  Function function;
  std::uint64_t a;
  std::uint64_t b;
};

// Mostly arguments where glibc's FMA and SSE2 builds disagree.
constexpr Probe kProbes[] = {
    {Function::kExp, 0xbf92e485efbb8664, 0},
    {Function::kExp, 0x407c58866f49ef2f, 0},
    {Function::kLog, 0x3ff6d3acaf88ad08, 0},
    {Function::kLog, 0x3fee04e2c1b8bf86, 0},
    {Function::kSin, 0xbff3ed54162eb86c, 0},
    {Function::kSin, 0x400a5c5f05339d09, 0},
    {Function::kSin, 0x44b52d02c7e14af6, 0},
    {Function::kCos, 0x401463eb72196b0c, 0},
    {Function::kCos, 0x4020141b96131fa4, 0},
    {Function::kAtan2, 0xbfc6dd66cf304b58, 0x3fe51f53b82a1216},
    {Function::kAtan2, 0xbfc8d5bcc0508fec, 0x3fdc542cdb03b780},
    {Function::kSinh, 0xc022bbc5aac310a7, 0},
    {Function::kSinh, 0x400fa0540f803842, 0},
    {Function::kCosh, 0xc0320767d15fed33, 0},
    {Function::kCosh, 0x4023ef2392b97b88, 0},
    {Function::kHypot, 0x3ff8000000000000, 0x4004000000000000},
    {Function::kHypot, 0x3fe1e0b6f1d3a2c5, 0xbfd74f8c2a9e60b1},
    {Function::kSqrt, 0x4000000000000000, 0},
    {Function::kSqrt, 0x3fb999999999999a, 0},
    {Function::kExpm1, 0x4009550cb0890f19, 0},
    {Function::kExpm1, 0x3fd87afade8a3420, 0},
};

double evaluate(Function function, double a, double b) {
  switch (function) {
    case Function::kExp:
      return std::exp(a);
    case Function::kLog:
      return std::log(a);
    case Function::kSin:
      return std::sin(a);
    case Function::kCos:
      return std::cos(a);
    case Function::kAtan2:
      return std::atan2(a, b);
    case Function::kSinh:
      return std::sinh(a);
    case Function::kCosh:
      return std::cosh(a);
    case Function::kHypot:
      return std::hypot(a, b);
    case Function::kSqrt:
      return std::sqrt(a);
    case Function::kExpm1:
      return std::expm1(a);
  }
  return 0.0;
}

std::string make_signature() {
  std::uint64_t hash = 0xcbf29ce484222325;  // FNV-1a
  for (const Probe& probe : kProbes) {
    // Read through volatile so that the compiler cannot evaluate the call
    // itself with its own arithmetic.
    const volatile double a = std::bit_cast<double>(probe.a);
    const volatile double b = std::bit_cast<double>(probe.b);
    const auto bits = std::bit_cast<std::uint64_t>(evaluate(probe.function, a, b));
    for (int byte = 0; byte < 8; ++byte) {
      hash ^= (bits >> (8 * byte)) & 0xff;
      hash *= 0x100000001b3;
    }
  }
  char hex[13];
  std::snprintf(hex, sizeof hex, "%012llx",
                static_cast<unsigned long long>(hash & 0xffffffffffffULL));

#if defined(__x86_64__)
  std::string signature = "x86_64";
#elif defined(__aarch64__)
  std::string signature = "aarch64";
#else
  std::string signature = "unknown";
#endif
#if defined(__GLIBC__)
  signature += std::string("-glibc") + gnu_get_libc_version();
#else
  signature += "-libc";
#endif
  signature += std::string("-") + hex + "-v:";
  std::string names;
  for (const auto& [on, name] :
       {std::pair{exp_vectorised(), "exp"}, std::pair{log_vectorised(), "log"},
        std::pair{hypot_vectorised(), "hypot"}}) {
    if (!on) continue;
    if (!names.empty()) names += ',';
    names += name;
  }
  return signature + (names.empty() ? "none" : names);
}

}  // namespace

std::string math_signature() {
  static const std::string signature = make_signature();
  return signature;
}

}  // namespace tov::vmath
