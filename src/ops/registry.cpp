// The operator registry and the builtin catalogue in id order.
#include "ops/registry.hpp"

#include <stdexcept>
#include <utility>

#include "ops/builtin.hpp"

namespace tov {

std::shared_ptr<const OperatorRegistry> builtin_registry() {
  static const std::shared_ptr<const OperatorRegistry> registry =
      std::make_shared<const OperatorRegistry>(OperatorRegistry::with_builtins());
  return registry;
}

void OperatorRegistry::register_operator(OperatorPtr op) {
  if (!op) {
    throw std::invalid_argument("register_operator: null operator");
  }
  OperatorMeta meta;
  meta.name = op->name();
  meta.arity = op->arity();
  meta.is_commutative = op->is_commutative();
  metas_.push_back(std::move(meta));
  ops_.push_back(std::move(op));
}

std::vector<std::uint64_t> OperatorRegistry::ids_by_arity(std::uint8_t arity) const {
  std::vector<std::uint64_t> ids;
  ids.reserve(4);
  for (std::size_t id = 0; id < metas_.size(); ++id) {
    if (metas_[id].arity == arity) {
      ids.push_back(id);
    }
  }
  return ids;
}

std::vector<OperatorPtr> OperatorRegistry::all_builtins() {
  std::vector<OperatorPtr> ops;
  ops.reserve(kBuiltins.size());
#define TOV_MAKE(Type, ...) ops.push_back(std::make_unique<Type>());
  TOV_BUILTIN_OPERATORS(TOV_MAKE)
#undef TOV_MAKE
  return ops;
}

OperatorRegistry OperatorRegistry::with_builtins() {
  OperatorRegistry registry;
  registry.register_operator(std::make_unique<ConstOp>("0", "0", "0", Complex{0.0, 0.0}));
  registry.register_operator(std::make_unique<ConstOp>("1", "1", "1", Complex{1.0, 0.0}));
  registry.register_operator(std::make_unique<ConstOp>("I", "i", "1j", Complex{0.0, 1.0}));
  registry.register_operator(
      std::make_unique<ConstOp>("Pi", "\\pi", "np.pi", Complex{3.141592653589793, 0.0}));
  registry.register_operator(
      std::make_unique<ConstOp>("E", "e", "np.e", Complex{2.718281828459045, 0.0}));
  for (OperatorPtr& op : all_builtins()) {
    registry.register_operator(std::move(op));
  }
  return registry;
}

}  // namespace tov
