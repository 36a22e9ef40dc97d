// The operators a search combines.
#include "search/search_space.hpp"

namespace tov {

namespace {

std::vector<std::uint64_t> enabled_ids(const OperatorRegistry& registry, std::uint8_t arity,
                                       std::uint64_t mask) {
  std::vector<std::uint64_t> ids;
  for (const std::uint64_t id : registry.ids_by_arity(arity))
    if (id < 64 && (mask >> id) & 1) ids.push_back(id);
  return ids;
}

}  // namespace

SearchSpace make_search_space(const SearchConfig& config) {
  auto registry = std::make_shared<const OperatorRegistry>(OperatorRegistry::with_builtins());
  std::vector<std::uint64_t> unary = enabled_ids(*registry, 1, config.operator_mask);
  std::vector<std::uint64_t> binary = enabled_ids(*registry, 2, config.operator_mask);
  return SearchSpace{std::move(registry), std::move(unary), std::move(binary)};
}

}  // namespace tov
