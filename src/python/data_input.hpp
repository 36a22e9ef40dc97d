// Data arguments that carry more than numbers: pandas DataFrames (with
// pint-pandas columns or without), astropy Tables and QTables, pint and
// astropy quantities, and pandas Series of pint-pandas dtype. Their
// magnitudes are searched; their units and column names are taken from
// them. The reading itself is tov_sr_tools' (its _data module), imported
// only when such an object arrives, so that tov_sr and the estimator read
// them alike; pandas, pint and astropy are never imported here, only looked
// up among the loaded modules.
#pragma once

#include <Python.h>

#include <optional>
#include <string>
#include <vector>

#include "python/py_ref.hpp"

namespace tov::python {

struct DataInput {
  PyRef values;  // what to read the numbers from: the argument or its magnitudes
  // One unit object per column (one for a vector), null where a column has
  // none; empty when the argument carries no units at all.
  std::vector<PyRef> units;
  // The columns' names, when a table gave them all as str.
  std::optional<std::vector<std::string>> names;
};

// The data of argument `argument` (borrowed): `columns` for the inputs of a
// search (samples by columns), else a vector. No value with an exception
// set when the object cannot be read.
std::optional<DataInput> read_data_input(PyObject* argument, bool columns);

// True when `value` is a pint Unit or an astropy UnitBase.
bool is_foreign_unit(PyObject* value);

// The SI dimension of a pint or astropy unit as a list of (base dimension,
// exponent) pairs, exponents int or fractions.Fraction; null with an
// exception set when it has none.
PyRef foreign_unit_dimension(PyObject* unit);

// The unit's own text, as its library prints it ("kilometer / hour").
std::string unit_text(PyObject* unit);

}  // namespace tov::python
