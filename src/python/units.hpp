// Reading the physical units of a data method's inputs and target
// (x_units, y_units) and reducing them to the search's dimensionless groups.
#pragma once

#include <Python.h>

#include <optional>
#include <span>
#include <vector>

#include "units/dimensional.hpp"

namespace tov::python {

// What a call's units ask for: no reduction when both are absent or None.
struct UnitsRequest {
  std::optional<Reduction> reduction;
};

// Reads x_units and y_units (borrowed, null when absent). A unit is a str
// (see core/units.hpp) or a mapping from unit symbols to int or
// fractions.Fraction exponents. x_units holds one unit per input column (a
// sequence; with `one_column`, as for find_function, the unit itself may be
// given instead, and `rows` are not consulted). No value with ValueError set
// when the units are unusable: one given without the other, a malformed
// unit, a count other than the rows' length, or a target the inputs cannot
// form.
std::optional<UnitsRequest> read_units(PyObject* x_units, PyObject* y_units,
                                       std::span<const std::vector<double>> rows, bool one_column);

}  // namespace tov::python
