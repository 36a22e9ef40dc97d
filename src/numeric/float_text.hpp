// The text of a double as Python's repr writes it (the shortest digits
// that read back to the same double; fixed notation for decimal exponents
// from -4 to 15, else scientific with at least two exponent digits), so
// messages name a value the way the caller typed or printed it.
#pragma once

#include <string>

namespace tov {

std::string float_text(double value);

}  // namespace tov
