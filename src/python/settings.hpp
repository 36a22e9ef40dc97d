// The settings of the Python Searcher: one table row per constructor
// parameter (name, converter into the configuration, property getter,
// default test). Binding, conversion, the properties, the representation and
// pickling all walk the table.
#pragma once

#include <Python.h>

#include <array>
#include <cstddef>
#include <string_view>

#include "config/search_config.hpp"

namespace tov::python {

struct Setting {
  std::string_view name;
  // Sets the field from a Python value; false with an exception set.
  bool (*read)(std::string_view name, PyObject* value, SearchConfig& config);
  // The property's value: a new reference, or null with an exception set.
  PyObject* (*get)(const SearchConfig& config);
  // True when the field holds the parameter's default (keyword-only
  // settings at their default are left out of repr and pickles).
  bool (*is_default)(const SearchConfig& config);
};

// The five positional settings, then the keyword-only ones.
inline constexpr std::size_t kPositionalSettings = 5;
extern const std::array<Setting, 12> kSettings;

// The class lists its properties in this order.
extern const std::array<std::string_view, 12> kPropertyOrder;

// The builtin operator names, comma-separated, for messages.
std::string operator_names();

}  // namespace tov::python
