// The settings of the Python Searcher: one table row per constructor
// parameter (name, converter into the configuration, property getter,
// default test), derived from the configuration's field list. Binding,
// conversion, the properties, the representation and pickling all walk the
// table.
#pragma once

#include <Python.h>

#include <array>
#include <cstddef>
#include <string>
#include <string_view>

#include "config/config_fields.hpp"
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
  // True when the signature spells the default None rather than the
  // default's property value (operators: None for every builtin).
  bool default_is_none = false;
};

// In parameter order: the positional settings by position, then the
// keyword-only ones in list order.
extern const std::array<Setting, kSettingCount> kSettings;

// Indices into kSettings in the order the class lists its properties (the
// list order).
inline constexpr std::array<std::size_t, kSettingCount> kPropertyOrder = [] {
  std::array<std::size_t, kSettingCount> order{};
  std::size_t property = 0;
  std::size_t keyword = kPositionalSettings;
  for_each_config_field([&](const auto& field) {
    if (field.role == FieldRole::Engine) return;
    order[property++] = field.role == FieldRole::Positional ? field.position : keyword++;
  });
  return order;
}();

// The builtin operator names, comma-separated, for messages.
std::string operator_names();

}  // namespace tov::python
