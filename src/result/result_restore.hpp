// Rebuilding a SearchResult from a saved token list, as when a pickled Python
// result is loaded. The tokens are replayed through the construction rules of
// the search, so a damaged or foreign list is refused instead of evaluated;
// only the parameter values and the error are taken as given.
#pragma once

#include <memory>
#include <span>
#include <string>
#include <variant>

#include "core/expression.hpp"
#include "ops/registry.hpp"
#include "result/search_result.hpp"

namespace tov {

// The builtin registry, built on first use and shared by every restored
// result; every search uses a registry with the same operators and ids.
std::shared_ptr<const OperatorRegistry> builtin_registry();

// The rebuilt result, or why the tokens were refused.
using Restored = std::variant<SearchResult, std::string>;

// A result whose expression has exactly `tokens` and whose error is `error`.
// Refused unless the tokens are Var, Param and Op tokens of the builtin
// registry forming one postfix expression, with every field as the
// construction rules set it (Param values excepted, which are kept bit for
// bit). Thread-safe.
Restored restore_result(std::span<const Token> tokens, double error);

}  // namespace tov
