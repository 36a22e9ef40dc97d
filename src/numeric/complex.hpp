// Complex value of the numeric core: a plain pair of IEEE doubles.
//
// All evaluation is complex. The arithmetic on these values is spelled out
// operator by operator in ops/kernels.hpp; nothing relies on std::complex,
// whose multiplication and division may take library-specific paths.
#pragma once

#include <span>
#include <vector>

namespace tov {

struct Complex {
  double re = 0.0;
  double im = 0.0;
};

// `out` becomes the values as complex numbers with imaginary part +0.0.
inline void to_complex(std::span<const double> values, std::vector<Complex>& out) {
  out.clear();
  for (const double v : values) out.push_back(Complex{v, 0.0});
}

}  // namespace tov
