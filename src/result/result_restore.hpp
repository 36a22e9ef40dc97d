// Rebuilding a SearchResult from a saved token list, as when a pickled Python
// result is loaded. The tokens are replayed through the construction rules of
// the search, so a damaged or foreign list is refused instead of evaluated;
// only the parameter values and the error are taken as given.
#pragma once

#include <memory>
#include <span>
#include <string>
#include <variant>

#include "formula/expression.hpp"
#include "ops/registry.hpp"
#include "result/search_result.hpp"

namespace tov {

// The rebuilt expression or result, or why the tokens were refused.
using Rebuilt = std::variant<Expression, std::string>;
using Restored = std::variant<SearchResult, std::string>;

// The expression with exactly `tokens`, its text and counts built by the
// construction rules. Refused unless the tokens are Var, Param,
// exact-constant Real (core/exact_constant.hpp) and Op tokens of the builtin
// registry forming one postfix expression, with every field as the
// construction rules set it (Param values excepted, which are kept bit for
// bit). Thread-safe.
Rebuilt rebuild_expression(std::span<const Token> tokens);

// A result over the builtin registry whose expression rebuild_expression
// gives and whose error is `error`.
Restored restore_result(std::span<const Token> tokens, double error);

}  // namespace tov
