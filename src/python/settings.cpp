// Converters and getters of the Searcher settings.
#include "python/settings.hpp"

#include <cmath>
#include <optional>
#include <string>
#include <type_traits>

#include "ops/registry.hpp"
#include "python/binding.hpp"
#include "python/errors.hpp"
#include "python/py_ref.hpp"

namespace tov::python {

namespace {

std::uint64_t all_builtins_mask() {
  std::uint64_t mask = 0;
  for (const BuiltinInfo& info : kBuiltins) mask |= std::uint64_t{1} << info.id;
  return mask;
}

std::string repr_of(PyObject* value) {
  PyRef text(PyObject_Repr(value));
  Py_ssize_t size = 0;
  const char* utf8 = text ? PyUnicode_AsUTF8AndSize(text.get(), &size) : nullptr;
  if (utf8 == nullptr) {
    PyErr_Clear();
    return "?";
  }
  return std::string(utf8, static_cast<std::size_t>(size));
}

std::string type_name(PyObject* value) { return Py_TYPE(value)->tp_name; }

bool fail(PyObject* type, const std::string& message) {
  raise_message(type, message);
  return false;
}

// Converters of the plain field types; false with an exception set.
bool from_python(std::string_view name, PyObject* value, std::uint64_t& field) {
  const std::optional<std::uint64_t> converted = unsigned_argument(name, value);
  if (converted) field = *converted;
  return converted.has_value();
}

bool from_python(std::string_view name, PyObject* value, double& field) {
  const std::optional<double> converted = float_argument(name, value);
  if (converted) field = *converted;
  return converted.has_value();
}

bool from_python(std::string_view, PyObject* value, bool& field) {
  const int truth = PyObject_IsTrue(value);
  if (truth < 0) return false;
  field = truth != 0;
  return true;
}

template <auto Field>
bool read_plain(std::string_view name, PyObject* value, SearchConfig& config) {
  return from_python(name, value, config.*Field);
}

// None, or a float accepted by `valid`; anything else fails with
// "<name> must be <what> or None, not <repr>".
template <auto Field, bool (*valid)(double)>
bool read_optional_float(std::string_view name, PyObject* value, SearchConfig& config,
                         std::string_view what) {
  if (value == Py_None) {
    config.*Field = std::nullopt;
    return true;
  }
  const std::optional<double> converted = float_argument(name, value);
  if (!converted) return false;
  if (!valid(*converted)) {
    return fail(PyExc_ValueError, std::string(name) + " must be " + std::string(what) +
                                      " or None, not " + repr_of(value));
  }
  config.*Field = *converted;
  return true;
}

bool positive_finite(double x) { return std::isfinite(x) && x > 0.0; }
bool non_negative_finite(double x) { return std::isfinite(x) && x >= 0.0; }

bool read_time_limit(std::string_view name, PyObject* value, SearchConfig& config) {
  return read_optional_float<&SearchConfig::time_limit, positive_finite>(
      name, value, config, "a positive, finite number of seconds");
}

bool read_target_error(std::string_view name, PyObject* value, SearchConfig& config) {
  return read_optional_float<&SearchConfig::target_error, non_negative_finite>(
      name, value, config, "a finite, non-negative number");
}

bool read_max_search_rows(std::string_view name, PyObject* value, SearchConfig& config) {
  if (value == Py_None) {
    config.max_search_rows = std::nullopt;
    return true;
  }
  const std::optional<std::uint64_t> converted = unsigned_argument(name, value);
  if (!converted) return false;
  if (*converted == 0) {
    return fail(PyExc_ValueError,
                std::string(name) + " must be a positive integer or None, not " + repr_of(value));
  }
  config.max_search_rows = *converted;
  return true;
}

// An integer from `low` to `high`; anything else fails with
// "<name> must be <what>, not <repr>".
template <auto Field, std::uint64_t low, std::uint64_t high>
bool read_bounded(std::string_view name, PyObject* value, SearchConfig& config,
                  std::string_view what) {
  const std::optional<std::uint64_t> converted = unsigned_argument(name, value);
  if (!converted) return false;
  if (*converted < low || *converted > high)
    return fail(PyExc_ValueError,
                std::string(name) + " must be " + std::string(what) + ", not " + repr_of(value));
  config.*Field = *converted;
  return true;
}

bool read_max_terms(std::string_view name, PyObject* value, SearchConfig& config) {
  return read_bounded<&SearchConfig::max_terms, 1, 64>(name, value, config,
                                                       "an integer from 1 to 64");
}

bool read_term_pool(std::string_view name, PyObject* value, SearchConfig& config) {
  return read_bounded<&SearchConfig::term_pool, 1, 1000>(name, value, config,
                                                         "an integer from 1 to 1000");
}

// None (every builtin) or an iterable of distinct operator names.
bool read_operators(std::string_view name, PyObject* value, SearchConfig& config) {
  if (value == Py_None) {
    config.operator_mask = ~std::uint64_t{0};
    return true;
  }
  const std::string valid = " Valid names: " + operator_names() + ".";
  if (PyUnicode_Check(value)) {
    return fail(PyExc_ValueError, std::string(name) +
                                      " must be an iterable of operator names, not the string " +
                                      repr_of(value) + "." + valid);
  }
  PyRef iterator(PyObject_GetIter(value));
  if (!iterator) {
    if (!PyErr_ExceptionMatches(PyExc_TypeError)) return false;
    PyErr_Clear();
    return fail(PyExc_TypeError, std::string(name) +
                                     " must be None or an iterable of operator names, not " +
                                     type_name(value));
  }
  std::uint64_t mask = 0;
  while (PyRef item{PyIter_Next(iterator.get())}) {
    if (!PyUnicode_Check(item.get())) {
      return fail(PyExc_ValueError, "Operator names must be strings, not " + repr_of(item.get()) +
                                        " (" + type_name(item.get()) + ") in " + std::string(name) +
                                        "." + valid);
    }
    Py_ssize_t size = 0;
    const char* utf8 = PyUnicode_AsUTF8AndSize(item.get(), &size);
    if (utf8 == nullptr) return false;
    const std::string_view text(utf8, static_cast<std::size_t>(size));
    const BuiltinInfo* found = nullptr;
    for (const BuiltinInfo& info : kBuiltins)
      if (info.name == text) found = &info;
    if (found == nullptr) {
      return fail(PyExc_ValueError, "Unknown operator " + repr_of(item.get()) + " in " +
                                        std::string(name) + "." + valid);
    }
    const std::uint64_t bit = std::uint64_t{1} << found->id;
    if (mask & bit) {
      return fail(PyExc_ValueError, "Operator " + repr_of(item.get()) + " is given twice in " +
                                        std::string(name) + "." + valid);
    }
    mask |= bit;
  }
  if (PyErr_Occurred() != nullptr) return false;
  config.operator_mask = mask;
  return true;
}

// "free" or "named".
bool read_constants(std::string_view name, PyObject* value, SearchConfig& config) {
  if (!PyUnicode_Check(value)) {
    return fail(PyExc_TypeError,
                std::string(name) + " must be 'free' or 'named', not " + type_name(value));
  }
  Py_ssize_t size = 0;
  const char* text = PyUnicode_AsUTF8AndSize(value, &size);
  if (text == nullptr) return false;
  const std::string_view chosen(text, static_cast<std::size_t>(size));
  if (chosen != "free" && chosen != "named") {
    return fail(PyExc_ValueError,
                std::string(name) + " must be 'free' or 'named', not " + repr_of(value));
  }
  config.named_constants = chosen == "named";
  return true;
}

// None, or a path as a str or os.PathLike (kept as its text).
bool read_checkpoint(std::string_view name, PyObject* value, SearchConfig& config) {
  if (value == Py_None) {
    config.checkpoint = std::nullopt;
    return true;
  }
  PyRef path(PyOS_FSPath(value));
  if (!path) {
    if (!PyErr_ExceptionMatches(PyExc_TypeError)) return false;
    PyErr_Clear();
    return fail(PyExc_TypeError, std::string(name) +
                                     " must be a path (str or os.PathLike) or None, not " +
                                     type_name(value));
  }
  if (!PyUnicode_Check(path.get())) {
    return fail(PyExc_TypeError,
                std::string(name) + " must be a str path, not " + type_name(path.get()));
  }
  Py_ssize_t size = 0;
  const char* text = PyUnicode_AsUTF8AndSize(path.get(), &size);
  if (text == nullptr) return false;
  const std::string chosen(text, static_cast<std::size_t>(size));
  if (chosen.empty() || chosen.find('\0') != std::string::npos) {
    return fail(PyExc_ValueError,
                std::string(name) + " must be a non-empty path without NUL, not " + repr_of(value));
  }
  config.checkpoint = chosen;
  return true;
}

PyObject* get_constants(const SearchConfig& config) {
  return PyUnicode_FromString(config.named_constants ? "named" : "free");
}

// Property values of the plain field types: new references.
PyObject* to_python(std::uint64_t value) { return PyLong_FromUnsignedLongLong(value); }
PyObject* to_python(double value) { return PyFloat_FromDouble(value); }
PyObject* to_python(bool value) { return PyBool_FromLong(value ? 1 : 0); }
PyObject* to_python(const std::string& value) {
  return PyUnicode_FromStringAndSize(value.data(), static_cast<Py_ssize_t>(value.size()));
}

template <class T>
PyObject* to_python(const std::optional<T>& value) {
  return value ? to_python(*value) : PyRef::borrow(Py_None).release();
}

template <auto Field>
PyObject* get_plain(const SearchConfig& config) {
  return to_python(config.*Field);
}

PyObject* get_operators(const SearchConfig& config) {
  std::size_t count = 0;
  for (const BuiltinInfo& info : kBuiltins) count += (config.operator_mask >> info.id) & 1;
  PyRef names(PyTuple_New(static_cast<Py_ssize_t>(count)));
  if (!names) return nullptr;
  Py_ssize_t i = 0;
  for (const BuiltinInfo& info : kBuiltins) {
    if (!((config.operator_mask >> info.id) & 1)) continue;
    PyObject* name =
        PyUnicode_FromStringAndSize(info.name.data(), static_cast<Py_ssize_t>(info.name.size()));
    if (name == nullptr) return nullptr;
    PyTuple_SET_ITEM(names.get(), i++, name);
  }
  return names.release();
}

bool all_operators(const SearchConfig& config) {
  return (config.operator_mask & all_builtins_mask()) == all_builtins_mask();
}

const SearchConfig& default_config() {
  static const SearchConfig defaults;
  return defaults;
}

template <auto Field>
bool at_default(const SearchConfig& config) {
  return config.*Field == default_config().*Field;
}

// How a setting converts: by the field's type, unless the field has its own
// conversion below. A setting of a type without a converter does not compile.
struct Conversion {
  decltype(Setting::read) read;
  decltype(Setting::get) get;
  decltype(Setting::is_default) is_default;
  bool default_is_none = false;
};

template <auto Field>
constexpr Conversion conversion{read_plain<Field>, get_plain<Field>, at_default<Field>};

// A field read by its own rules, shown and compared by its type.
template <auto Field>
constexpr Conversion read_by(decltype(Setting::read) read) {
  return {read, get_plain<Field>, at_default<Field>};
}

template <>
constexpr Conversion conversion<&SearchConfig::operator_mask>{read_operators, get_operators,
                                                              all_operators, true};
template <>
constexpr Conversion conversion<&SearchConfig::time_limit> =
    read_by<&SearchConfig::time_limit>(read_time_limit);
template <>
constexpr Conversion conversion<&SearchConfig::max_search_rows> =
    read_by<&SearchConfig::max_search_rows>(read_max_search_rows);
template <>
constexpr Conversion conversion<&SearchConfig::target_error> =
    read_by<&SearchConfig::target_error>(read_target_error);
template <>
constexpr Conversion conversion<&SearchConfig::max_terms> =
    read_by<&SearchConfig::max_terms>(read_max_terms);
template <>
constexpr Conversion conversion<&SearchConfig::term_pool> =
    read_by<&SearchConfig::term_pool>(read_term_pool);
template <>
constexpr Conversion conversion<&SearchConfig::checkpoint> =
    read_by<&SearchConfig::checkpoint>(read_checkpoint);
template <>
constexpr Conversion conversion<&SearchConfig::named_constants>{
    read_constants, get_constants, at_default<&SearchConfig::named_constants>};

}  // namespace

std::string operator_names() {
  std::string names;
  for (const BuiltinInfo& info : kBuiltins) {
    if (!names.empty()) names += ", ";
    names += info.name;
  }
  return names;
}

constinit const std::array<Setting, kSettingCount> kSettings = [] {
  std::array<Setting, kSettingCount> table{};
  std::size_t property = 0;
  for_each_config_field([&](const auto& field) {
    using Field = std::remove_cvref_t<decltype(field)>;
    if constexpr (Field::role != FieldRole::Engine) {
      const Conversion& converts = conversion<Field::member>;
      table[kPropertyOrder[property++]] = Setting{field.setting, converts.read, converts.get,
                                                  converts.is_default, converts.default_is_none};
    }
  });
  return table;
}();

}  // namespace tov::python
