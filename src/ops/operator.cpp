// The operator interface's shared defaults.
#include "ops/operator.hpp"

#include <ostream>

namespace tov {

std::string Operator::to_mathematica(std::span<const std::string> args) const {
  std::string text = name();
  if (args.empty()) {
    return text;
  }
  text += '[';
  for (std::size_t i = 0; i < args.size(); ++i) {
    if (i > 0) {
      text += ", ";
    }
    text += args[i];
  }
  text += ']';
  return text;
}

std::ostream& operator<<(std::ostream& out, const Operator& op) { return out << op.describe(); }

}  // namespace tov
