// Tables and quantities: recognised among the loaded modules' classes, read
// by tov_sr_tools._data.
#include "python/data_input.hpp"

#include <string_view>
#include <utility>
#include <vector>

#include "python/errors.hpp"

namespace tov::python {

namespace {

// An interned str for `text`, made once and kept for the life of the
// process (guarded by the interpreter lock): these lookups run for every
// data argument, and build no new str each time. Null with an exception
// set when it cannot be made.
PyObject* name_object(std::string_view text) {
  static std::vector<std::pair<std::string_view, PyObject*>> names;
  for (const auto& [known, object] : names)
    if (known == text) return object;
  PyObject* object = PyUnicode_InternFromString(std::string(text).c_str());
  if (object != nullptr) names.emplace_back(text, object);
  return object;
}

// The class `name` of `module` when that module is loaded, else null;
// never imports anything.
PyRef loaded_class(std::string_view module, std::string_view name) {
  PyObject* module_name = name_object(module);
  PyObject* class_name = name_object(name);
  if (module_name == nullptr || class_name == nullptr) {
    PyErr_Clear();
    return PyRef();
  }
  PyObject* loaded = PyDict_GetItemWithError(PyImport_GetModuleDict(), module_name);
  if (loaded == nullptr || loaded == Py_None) {
    PyErr_Clear();
    return PyRef();
  }
  PyRef kind(PyObject_GetAttr(loaded, class_name));
  if (!kind || !PyType_Check(kind.get())) {
    PyErr_Clear();
    return PyRef();
  }
  return kind;
}

bool is_instance(PyObject* value, std::string_view module, std::string_view name) {
  const PyRef kind = loaded_class(module, name);
  if (!kind) return false;
  const int is = PyObject_IsInstance(value, kind.get());
  if (is < 0) PyErr_Clear();
  return is == 1;
}

// The kinds the helper reads; anything else is read as it is.
bool is_data_object(PyObject* value, bool columns) {
  if (PyList_CheckExact(value) || PyTuple_CheckExact(value) || PyFloat_CheckExact(value))
    return false;
  if (is_instance(value, "pint", "Quantity") || is_instance(value, "astropy.units", "Quantity"))
    return true;
  if (columns)
    return is_instance(value, "pandas", "DataFrame") ||
           is_instance(value, "astropy.table", "Table");
  return is_instance(value, "pandas", "Series");
}

// tov_sr_tools._data's `function` called with `value` (and `extra`, when
// not null); null with an exception set. Its absence is an ImportError saying why it
// is needed.
PyRef call_helper(const char* function, PyObject* value, PyObject* extra) {
  PyRef module(PyImport_ImportModule("tov_sr_tools._data"));
  if (!module) {
    if (!PyErr_ExceptionMatches(PyExc_ImportError)) return PyRef();
    PyRef cause = fetch_exception();
    PyRef context = PyRef::borrow(cause.get());
    raise_with_cause(PyExc_ImportError,
                     std::string("reading a ") + Py_TYPE(value)->tp_name +
                         " needs tov_sr_tools, which is part of the tov_sr distribution and "
                         "cannot be imported",
                     std::move(cause), std::move(context));
    return PyRef();
  }
  PyRef callable(PyObject_GetAttrString(module.get(), function));
  if (!callable) return PyRef();
  if (extra == nullptr) return PyRef(PyObject_CallOneArg(callable.get(), value));
  return PyRef(PyObject_CallFunctionObjArgs(callable.get(), value, extra, nullptr));
}

}  // namespace

std::optional<DataInput> read_data_input(PyObject* argument, bool columns) {
  DataInput data{PyRef::borrow(argument), {}, std::nullopt};
  if (!is_data_object(argument, columns)) return data;
  PyRef split(call_helper("split", argument, columns ? Py_True : Py_False));
  if (!split) return std::nullopt;
  if (split.get() == Py_None) return data;
  // The helper returns (values, units or None, names or None).
  if (!PyTuple_Check(split.get()) || PyTuple_GET_SIZE(split.get()) != 3) {
    raise_message(PyExc_RuntimeError, "tov_sr_tools._data.split returned an unexpected value");
    return std::nullopt;
  }
  data.values = PyRef::borrow(PyTuple_GET_ITEM(split.get(), 0));
  PyObject* units = PyTuple_GET_ITEM(split.get(), 1);
  if (units != Py_None) {
    PyRef sequence(PySequence_Fast(units, "the units must be a sequence"));
    if (!sequence) return std::nullopt;
    for (Py_ssize_t j = 0; j < PySequence_Fast_GET_SIZE(sequence.get()); ++j) {
      PyObject* unit = PySequence_Fast_GET_ITEM(sequence.get(), j);
      data.units.push_back(unit == Py_None ? PyRef() : PyRef::borrow(unit));
    }
  }
  PyObject* names = PyTuple_GET_ITEM(split.get(), 2);
  if (names != Py_None) {
    PyRef sequence(PySequence_Fast(names, "the names must be a sequence"));
    if (!sequence) return std::nullopt;
    std::vector<std::string> read;
    for (Py_ssize_t j = 0; j < PySequence_Fast_GET_SIZE(sequence.get()); ++j) {
      Py_ssize_t size = 0;
      const char* utf8 =
          PyUnicode_AsUTF8AndSize(PySequence_Fast_GET_ITEM(sequence.get(), j), &size);
      if (utf8 == nullptr) return std::nullopt;
      read.emplace_back(utf8, static_cast<std::size_t>(size));
    }
    data.names = std::move(read);
  }
  return data;
}

bool is_foreign_unit(PyObject* value) {
  return is_instance(value, "pint", "Unit") || is_instance(value, "astropy.units", "UnitBase");
}

PyRef foreign_unit_dimension(PyObject* unit) {
  return call_helper("unit_dimension", unit, nullptr);
}

std::string unit_text(PyObject* unit) {
  PyRef text(PyObject_Str(unit));
  const char* utf8 = text ? PyUnicode_AsUTF8(text.get()) : nullptr;
  if (utf8 == nullptr) {
    PyErr_Clear();
    return "?";
  }
  return utf8;
}

}  // namespace tov::python
