// The operator registry: numbers operators by their position and keeps a
// small metadata record per operator so the search can choose operators by
// arity and build formula texts without calling into them.
//
// A registry is built once (with_builtins) and then only read, concurrently.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "ops/operator.hpp"

namespace tov {

struct OperatorMeta {
  std::string name;
  bool is_commutative = false;
  std::uint8_t arity = 0;
};

// Ids assigned by OperatorRegistry::with_builtins.
namespace op_id {
inline constexpr std::uint64_t kZero = 0;
inline constexpr std::uint64_t kOne = 1;
inline constexpr std::uint64_t kI = 2;
inline constexpr std::uint64_t kPi = 3;
inline constexpr std::uint64_t kE = 4;
inline constexpr std::uint64_t kTov = 5;
inline constexpr std::uint64_t kNeg = 6;
inline constexpr std::uint64_t kInv = 7;
inline constexpr std::uint64_t kPlus = 8;
inline constexpr std::uint64_t kTimes = 9;
inline constexpr std::uint64_t kSubtract = 10;
inline constexpr std::uint64_t kDivide = 11;
inline constexpr std::uint64_t kExp = 12;
inline constexpr std::uint64_t kLog = 13;
inline constexpr std::uint64_t kSqrt = 14;
inline constexpr std::uint64_t kSin = 15;
inline constexpr std::uint64_t kCos = 16;
inline constexpr std::uint64_t kTan = 17;
inline constexpr std::uint64_t kArcSin = 18;
inline constexpr std::uint64_t kArcCos = 19;
inline constexpr std::uint64_t kArcTan = 20;
inline constexpr std::uint64_t kSquare = 21;
inline constexpr std::uint64_t kCube = 22;
inline constexpr std::uint64_t kBuiltinCount = 23;
}  // namespace op_id

class OperatorRegistry {
 public:
  // Takes ownership; the new operator's id is size() before the call. Reads
  // name(), arity() and is_commutative() once each. Duplicates are allowed.
  void register_operator(OperatorPtr op);

  // Every id whose arity equals `arity`, ascending.
  std::vector<std::uint64_t> ids_by_arity(std::uint8_t arity) const;

  // Fresh instances of the eighteen stateless builtins, in catalogue order.
  static std::vector<OperatorPtr> all_builtins();
  // The five named constants (ids 0 to 4) followed by the builtins (5 to 22).
  static OperatorRegistry with_builtins();

  OperatorList ops() const { return ops_; }
  std::span<const OperatorMeta> metas() const { return metas_; }
  std::size_t size() const { return ops_.size(); }

 private:
  std::vector<OperatorPtr> ops_;
  std::vector<OperatorMeta> metas_;
};

}  // namespace tov
