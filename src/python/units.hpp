// Reading the physical units of a data method's inputs and target
// (x_units, y_units) and reducing them to the search's dimensionless groups.
#pragma once

#include <Python.h>

#include <optional>
#include <span>
#include <vector>

#include "python/data_input.hpp"
#include "units/dimensional.hpp"

namespace tov::python {

// What a call's units ask for: no reduction when both are absent or None.
struct UnitsRequest {
  std::optional<Reduction> reduction;
};

// Reads x_units and y_units (borrowed, null when absent), and the units the
// data carried (`x_data` for the inputs, `y_data` for the target). A unit
// is a str (see core/units.hpp), a mapping from unit symbols to int or
// fractions.Fraction exponents, or a pint or astropy unit (by the dimension
// its library gives it). x_units holds one unit per input column (a
// sequence; with `one_column`, as for find_function, the unit itself may be
// given instead, and `rows` are not consulted). Units the data carry stand
// in for x_units and y_units where these are not given; where they are, the
// dimensions must agree. No value with ValueError set when the units are
// unusable: the inputs' without the target's or the other way round, a
// malformed unit, a count other than the rows' length, a column without a
// unit among columns with one, a unit that disagrees with its column's, or
// a target the inputs cannot form.
std::optional<UnitsRequest> read_units(PyObject* x_units, PyObject* y_units,
                                       std::span<const std::vector<double>> rows, bool one_column,
                                       const DataInput& x_data, const DataInput& y_data);

}  // namespace tov::python
