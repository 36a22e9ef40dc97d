// The user-facing message of each SearchError kind.
#include "result/search_error.hpp"

#include "numeric/decimal.hpp"

#include <cstdint>
#include <string>
#include <type_traits>
#include <variant>

namespace tov {

std::string error_message(const SearchError& error) {
  return std::visit(
      [](const auto& e) -> std::string {
        using Kind = std::decay_t<decltype(e)>;
        if constexpr (std::is_same_v<Kind, NoFormulaFound>) {
          return "No formula found up to complexity " + decimal(e.max_complexity);
        } else if constexpr (std::is_same_v<Kind, MemoryLimitExceeded>) {
          return "Memory limit exceeded: " + decimal(e.needed_mb) + "MB > " +
                 decimal(e.available_mb) + "MB";
        } else if constexpr (std::is_same_v<Kind, InvalidInput> ||
                             std::is_same_v<Kind, InvalidValue>) {
          return e.message;
        } else if constexpr (std::is_same_v<Kind, ArityMismatch>) {
          return "Operator " + e.operator_name + " expects " + decimal(e.expected) + " args, got " +
                 decimal(e.given);
        } else {
          static_assert(std::is_same_v<Kind, Interrupted>);
          return "Search interrupted";
        }
      },
      error);
}

}  // namespace tov
