// A column: one value per sample with its validity flag (0: no value at
// that sample), the unit of block evaluation.
#pragma once

#include <cstdint>

#include "numeric/complex.hpp"

namespace tov {

struct Column {
  const Complex* values;
  const std::uint8_t* valid;
};

}  // namespace tov
