// The refinement of a model.
#include "terms/term_context.hpp"

#include <cmath>
#include <utility>

#include "terms/term_library.hpp"

namespace tov {

std::optional<FrontEntry> refined_entry(const Expression& model, const TermContext& context) {
  if (!uses_only(model, context.operator_mask)) return std::nullopt;
  FrontEntry entry = refit(model, context.samples, context.objective, context.operators, true);
  if (!std::isfinite(entry.error)) return std::nullopt;
  return entry;
}

}  // namespace tov
