// What a search enumerates: the operator registry its engines number
// operators by, and the operators of each arity it combines. Built once per
// search, on the client, and once per worker engine, from the settings.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "config/search_config.hpp"
#include "ops/registry.hpp"

namespace tov {

struct SearchSpace {
  std::shared_ptr<const OperatorRegistry> registry;
  std::vector<std::uint64_t> unary;   // enabled unary operator ids, in registry order
  std::vector<std::uint64_t> binary;  // enabled binary operator ids, in registry order
};

// The built-in operators, those of `config.operator_mask` enabled.
SearchSpace make_search_space(const SearchConfig& config);

}  // namespace tov
