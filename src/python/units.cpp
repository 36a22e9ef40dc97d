// Units from Python strings and mappings, then the reduction.
#include "python/units.hpp"

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <variant>

#include "numeric/decimal.hpp"
#include "python/data_input.hpp"
#include "python/errors.hpp"
#include "python/py_ref.hpp"
#include "units/units.hpp"

namespace tov::python {

namespace {

bool is_none(PyObject* value) { return value == nullptr || value == Py_None; }

std::nullopt_t fail(const std::string& message) {
  raise_message(PyExc_ValueError, message);
  return std::nullopt;
}

// The UTF-8 text of a str; no value with an exception set.
std::optional<std::string> text_of(PyObject* value) {
  Py_ssize_t size = 0;
  const char* utf8 = PyUnicode_AsUTF8AndSize(value, &size);
  if (utf8 == nullptr) return std::nullopt;
  return std::string(utf8, static_cast<std::size_t>(size));
}

std::string repr_of(PyObject* value) {
  PyRef text(PyObject_Repr(value));
  const char* utf8 = text ? PyUnicode_AsUTF8(text.get()) : nullptr;
  if (utf8 == nullptr) {
    PyErr_Clear();
    return "?";
  }
  return utf8;
}

bool is_mapping(PyObject* value) {
  return PyDict_Check(value) || (PyMapping_Check(value) && !PySequence_Check(value));
}

// An exact int (not a bool) in 64 bits.
std::optional<std::int64_t> small_integer(PyObject* value) {
  if (!PyLong_Check(value) || PyBool_Check(value)) return std::nullopt;
  int overflow = 0;
  const long long v = PyLong_AsLongLongAndOverflow(value, &overflow);
  if (v == -1 && PyErr_Occurred() != nullptr) {
    PyErr_Clear();
    return std::nullopt;
  }
  if (overflow != 0) return std::nullopt;
  return static_cast<std::int64_t>(v);
}

// An int or a fractions.Fraction as an exact rational; no value (and no
// exception) for anything else or a value too large.
std::optional<Rational> exponent_of(PyObject* value) {
  if (const std::optional<std::int64_t> integer = small_integer(value)) return Rational(*integer);
  PyRef fractions(PyImport_ImportModule("fractions"));
  PyRef fraction_type(fractions ? PyObject_GetAttrString(fractions.get(), "Fraction") : nullptr);
  if (!fraction_type) {
    PyErr_Clear();
    return std::nullopt;
  }
  const int is_fraction = PyObject_IsInstance(value, fraction_type.get());
  if (is_fraction != 1) {
    if (is_fraction < 0) PyErr_Clear();
    return std::nullopt;
  }
  PyRef numerator(PyObject_GetAttrString(value, "numerator"));
  PyRef denominator(PyObject_GetAttrString(value, "denominator"));
  const std::optional<std::int64_t> n = numerator ? small_integer(numerator.get()) : std::nullopt;
  const std::optional<std::int64_t> d =
      denominator ? small_integer(denominator.get()) : std::nullopt;
  PyErr_Clear();
  if (!n || !d || *d == 0) return std::nullopt;
  try {
    return Rational(*n, *d);
  } catch (const RationalOverflow&) {
    return std::nullopt;
  }
}

// A pint or astropy unit, by the dimension its library gives it.
std::optional<Dimension> read_foreign_unit(PyObject* value, const std::string& name) {
  PyRef pairs(foreign_unit_dimension(value));
  if (!pairs) {
    if (!PyErr_ExceptionMatches(PyExc_ValueError)) return std::nullopt;
    PyRef error = fetch_exception();
    PyRef text(PyObject_Str(error.get()));
    const char* utf8 = text ? PyUnicode_AsUTF8(text.get()) : nullptr;
    if (utf8 == nullptr) return std::nullopt;
    return fail(name + ": " + utf8);
  }
  PyRef sequence(PySequence_Fast(pairs.get(), "the dimension must be a sequence of pairs"));
  if (!sequence) return std::nullopt;
  Dimension dimension;
  for (Py_ssize_t i = 0; i < PySequence_Fast_GET_SIZE(sequence.get()); ++i) {
    PyObject* pair = PySequence_Fast_GET_ITEM(sequence.get(), i);
    if (!PyTuple_Check(pair) || PyTuple_GET_SIZE(pair) != 2 ||
        !PyUnicode_Check(PyTuple_GET_ITEM(pair, 0)))
      return fail(name + ": the unit's dimension is not a list of (name, exponent) pairs");
    const std::optional<std::string> base = text_of(PyTuple_GET_ITEM(pair, 0));
    if (!base) return std::nullopt;
    const std::optional<Rational> exponent = exponent_of(PyTuple_GET_ITEM(pair, 1));
    if (!exponent)
      return fail(name + ": the exponent of " + *base + " in " + unit_text(value) +
                  " must be an int or a fraction that fits in 64 bits");
    try {
      dimension = dimension * Dimension::base(*base, *exponent);
    } catch (const RationalOverflow&) {
      return fail(name + ": its exponents are too large");
    }
  }
  return dimension;
}

// One unit; `name` says which ("x_units[2]", "y_units") in messages.
std::optional<Dimension> read_unit(PyObject* value, const std::string& name) {
  if (is_foreign_unit(value)) return read_foreign_unit(value, name);
  if (PyUnicode_Check(value)) {
    const std::optional<std::string> text = text_of(value);
    if (!text) return std::nullopt;
    ParsedUnit unit = parse_unit(*text);
    if (const std::string* error = std::get_if<std::string>(&unit))
      return fail(name + " " + repr_of(value) + " is not a unit: " + *error);
    return std::get<Dimension>(std::move(unit));
  }
  if (!is_mapping(value)) {
    return fail(name + " must be a str or a mapping from unit symbols to exponents, not " +
                Py_TYPE(value)->tp_name);
  }
  PyRef items(PyMapping_Items(value));
  if (!items) return std::nullopt;
  Dimension dimension;
  for (Py_ssize_t i = 0; i < PyList_GET_SIZE(items.get()); ++i) {
    PyObject* item = PyList_GET_ITEM(items.get(), i);
    if (!PyTuple_Check(item) || PyTuple_GET_SIZE(item) != 2)
      return fail(name + ": the mapping's items() must give (symbol, exponent) pairs");
    PyObject* key = PyTuple_GET_ITEM(item, 0);
    PyObject* power = PyTuple_GET_ITEM(item, 1);
    if (!PyUnicode_Check(key))
      return fail(name + ": a mapping's keys must be unit symbols (str), not " +
                  Py_TYPE(key)->tp_name);
    const std::optional<std::string> symbol = text_of(key);
    if (!symbol) return std::nullopt;
    ParsedUnit unit = parse_unit_symbol(*symbol);
    if (const std::string* error = std::get_if<std::string>(&unit))
      return fail(name + ": " + *error);
    const std::optional<Rational> exponent = exponent_of(power);
    if (!exponent)
      return fail(name + ": the exponent of " + repr_of(key) + " must be an int or a " +
                  "fractions.Fraction that fits in 64 bits, not " + repr_of(power));
    try {
      dimension = dimension * std::get<Dimension>(unit).pow(*exponent);
    } catch (const RationalOverflow&) {
      return fail(name + ": its exponents are too large");
    }
  }
  return dimension;
}

std::optional<std::vector<Dimension>> read_input_units(PyObject* value, bool one_column) {
  std::vector<Dimension> units;
  if (PyUnicode_Check(value) || is_mapping(value) || is_foreign_unit(value)) {
    if (!one_column)
      return fail("x_units must be a sequence with one unit per input column, not a single unit");
    std::optional<Dimension> unit = read_unit(value, "x_units");
    if (!unit) return std::nullopt;
    units.push_back(std::move(*unit));
    return units;
  }
  PyRef sequence(PySequence_Fast(value, ""));
  if (!sequence) {
    PyErr_Clear();
    return fail(std::string("x_units must be a sequence of units, one per input column, not ") +
                Py_TYPE(value)->tp_name);
  }
  const Py_ssize_t count = PySequence_Fast_GET_SIZE(sequence.get());
  for (Py_ssize_t j = 0; j < count; ++j) {
    std::optional<Dimension> unit =
        read_unit(PySequence_Fast_GET_ITEM(sequence.get(), j), "x_units[" + decimal(j) + "]");
    if (!unit) return std::nullopt;
    units.push_back(std::move(*unit));
  }
  return units;
}

// False with ValueError set unless there is one unit per input column.
bool one_unit_per_column(const std::vector<Dimension>& inputs,
                         std::span<const std::vector<double>> rows, bool one_column) {
  const auto count_error = [&](std::size_t columns, std::string_view where) {
    fail("x_units has " + decimal(inputs.size()) + " unit" + (inputs.size() == 1 ? "" : "s") +
         " for " + decimal(columns) + " input column" + (columns == 1 ? "" : "s") +
         std::string(where) + ": give one unit per input column");
    return false;
  };
  if (one_column && inputs.size() != 1) return count_error(1, "");
  for (std::size_t i = 0; i < rows.size(); ++i) {
    if (rows[i].size() != inputs.size())
      return count_error(rows[i].size(), i == 0 ? "" : " (in sample " + decimal(i) + ")");
  }
  return true;
}

std::optional<UnitsRequest> reduce(const std::vector<Dimension>& inputs, const Dimension& target) {
  std::variant<Reduction, std::string> reduced = reduce_dimensions(inputs, target);
  if (std::string* error = std::get_if<std::string>(&reduced)) return fail(*error);
  return UnitsRequest{std::get<Reduction>(std::move(reduced))};
}

// The units given by x_units and y_units alone.
std::optional<UnitsRequest> given_units(PyObject* x_units, PyObject* y_units,
                                        std::span<const std::vector<double>> rows,
                                        bool one_column) {
  if (is_none(x_units) && is_none(y_units)) return UnitsRequest{};
  if (is_none(x_units)) return fail("y_units needs x_units: give the units of the inputs too");
  if (is_none(y_units)) return fail("x_units needs y_units: give the units of the target too");
  std::optional<std::vector<Dimension>> inputs = read_input_units(x_units, one_column);
  if (!inputs) return std::nullopt;
  const std::optional<Dimension> target = read_unit(y_units, "y_units");
  if (!target) return std::nullopt;
  if (!one_unit_per_column(*inputs, rows, one_column)) return std::nullopt;
  return reduce(*inputs, *target);
}

// What labels column j of the inputs in messages.
std::string column_label(const DataInput& data, std::size_t j, bool one_column) {
  if (one_column) return "xs";
  if (!data.names) return "column " + decimal(j) + " of the inputs";
  PyRef name(PyUnicode_FromStringAndSize(data.names->at(j).data(),
                                         static_cast<Py_ssize_t>(data.names->at(j).size())));
  return "column " + (name ? repr_of(name.get()) : std::string("?")) + " of the inputs";
}

std::nullopt_t disagree(const std::string& name, const Dimension& given, const std::string& label,
                        PyObject* unit, const Dimension& carried) {
  return fail(name + " has dimension " + given.text() + " but " + label + " has the unit " +
              unit_text(unit) + ", of dimension " + carried.text());
}

// The inputs' units when the data carry some: x_units where given (each
// checked against the unit its column carries), else the columns' own.
std::optional<std::vector<Dimension>> carried_input_units(PyObject* x_units,
                                                          std::span<const std::vector<double>> rows,
                                                          bool one_column, const DataInput& data) {
  if (is_none(x_units)) {
    std::vector<Dimension> units;
    for (std::size_t j = 0; j < data.units.size(); ++j) {
      const std::string label = column_label(data, j, one_column);
      if (!data.units[j])
        return fail(label + " carries no unit, unlike the others: give x_units, with \"1\" for " +
                    "a dimensionless column");
      std::optional<Dimension> unit = read_unit(data.units[j].get(), label);
      if (!unit) return std::nullopt;
      units.push_back(std::move(*unit));
    }
    return units;
  }
  std::optional<std::vector<Dimension>> units = read_input_units(x_units, one_column);
  if (!units || !one_unit_per_column(*units, rows, one_column)) return std::nullopt;
  const bool single = PyUnicode_Check(x_units) || is_mapping(x_units) || is_foreign_unit(x_units);
  for (std::size_t j = 0; j < data.units.size() && j < units->size(); ++j) {
    if (!data.units[j]) continue;
    const std::string label = column_label(data, j, one_column);
    const std::optional<Dimension> carried = read_unit(data.units[j].get(), label);
    if (!carried) return std::nullopt;
    if (*carried != (*units)[j]) {
      return disagree(single ? "x_units" : "x_units[" + decimal(j) + "]", (*units)[j], label,
                      data.units[j].get(), *carried);
    }
  }
  return units;
}

// The target's unit when the data carry some: y_units where given (checked
// against the target's own), else the target's own.
std::optional<Dimension> carried_target_unit(PyObject* y_units, const DataInput& data) {
  PyObject* carried = data.units.empty() ? nullptr : data.units.front().get();
  if (is_none(y_units)) return read_unit(carried, "ys");
  std::optional<Dimension> unit = read_unit(y_units, "y_units");
  if (!unit || carried == nullptr) return unit;
  const std::optional<Dimension> own = read_unit(carried, "ys");
  if (!own) return std::nullopt;
  if (*own != *unit) return disagree("y_units", *unit, "ys", carried, *own);
  return unit;
}

}  // namespace

std::optional<UnitsRequest> read_units(PyObject* x_units, PyObject* y_units,
                                       std::span<const std::vector<double>> rows, bool one_column,
                                       const DataInput& x_data, const DataInput& y_data) {
  const bool x_carried = !x_data.units.empty();
  const bool y_carried = !y_data.units.empty() && y_data.units.front();
  if (!x_carried && !y_carried) return given_units(x_units, y_units, rows, one_column);
  if (!x_carried && is_none(x_units)) {
    return fail(is_none(y_units)
                    ? "the target carries a unit but the inputs do not: give x_units too, or "
                      "inputs with their units"
                    : "y_units needs x_units: give the units of the inputs too");
  }
  if (!y_carried && is_none(y_units)) {
    return fail(is_none(x_units)
                    ? "the inputs carry units but the target does not: give y_units too, or "
                      "targets with their unit"
                    : "x_units needs y_units: give the units of the target too");
  }
  std::optional<std::vector<Dimension>> inputs =
      x_carried ? carried_input_units(x_units, rows, one_column, x_data)
                : read_input_units(x_units, one_column);
  if (!inputs || (!x_carried && !one_unit_per_column(*inputs, rows, one_column)))
    return std::nullopt;
  const std::optional<Dimension> target =
      y_carried ? carried_target_unit(y_units, y_data) : read_unit(y_units, "y_units");
  if (!target) return std::nullopt;
  return reduce(*inputs, *target);
}

}  // namespace tov::python
