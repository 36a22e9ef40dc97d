// The operator registry: numbers operators by their position and keeps a
// small metadata record per operator so the search can choose operators by
// arity and build formula texts without calling into them.
//
// A registry is built once (with_builtins) and then only read, concurrently.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "ops/catalogue.hpp"
#include "ops/operator.hpp"

namespace tov {

struct OperatorMeta {
  std::string name;
  bool is_commutative = false;
  std::uint8_t arity = 0;
};

// Ids assigned by OperatorRegistry::with_builtins: the five named constants,
// then the builtins in catalogue order.
namespace op_id {
inline constexpr std::uint64_t kZero = 0;
inline constexpr std::uint64_t kOne = 1;
inline constexpr std::uint64_t kI = 2;
inline constexpr std::uint64_t kPi = 3;
inline constexpr std::uint64_t kE = 4;
inline constexpr std::uint64_t kFirstBuiltin = 5;

namespace position {
#define TOV_POSITION(Type, ...) k##Type,
enum : std::uint64_t { TOV_BUILTIN_OPERATORS(TOV_POSITION) kCount };
#undef TOV_POSITION
}  // namespace position

#define TOV_ID(Type, ...) \
  inline constexpr std::uint64_t k##Type = kFirstBuiltin + position::k##Type;
TOV_BUILTIN_OPERATORS(TOV_ID)
#undef TOV_ID

inline constexpr std::uint64_t kBuiltinCount = kFirstBuiltin + position::kCount;
}  // namespace op_id

// What the catalogue says of one builtin operator.
struct BuiltinInfo {
  std::uint64_t id;
  std::string_view name;
  std::uint8_t arity;
  bool is_commutative;
};

// The builtins in catalogue (id) order.
inline constexpr std::array<BuiltinInfo, op_id::position::kCount> kBuiltins = {{
#define TOV_INFO(Type, Name, Arity, Commutative, ...) {op_id::k##Type, Name, Arity, Commutative},
    TOV_BUILTIN_OPERATORS(TOV_INFO)
#undef TOV_INFO
}};

// The builtin operator with id `id`; null for the named constants and for
// ids past the catalogue.
inline const BuiltinInfo* find_builtin(std::uint64_t id) {
  if (id < op_id::kFirstBuiltin || id >= op_id::kBuiltinCount) return nullptr;
  return &kBuiltins[id - op_id::kFirstBuiltin];
}

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

// The registry with_builtins() builds, built on first use and shared: every
// search uses a registry with the same operators and ids, so a formula
// outside a search (a restored result, a reduction) is evaluated with it.
std::shared_ptr<const OperatorRegistry> builtin_registry();

}  // namespace tov
