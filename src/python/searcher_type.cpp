// Searcher class: constructor, read-only settings, the search methods and
// pickling.
//
// The constructor's parameters are one table of settings (name, converter,
// getter); binding, conversion, the properties and pickling all walk it. Each
// search method is a small function: bind, read the per-call overrides into
// a copy of the stored configuration, convert the data, search.
//
// The interpreter lock is held for a whole call, search included; the search
// polls for pending signals on this thread, so Ctrl-C ends a long search
// with KeyboardInterrupt.
#include "python/searcher_type.hpp"

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>
#include <type_traits>
#include <utility>
#include <vector>

#include "config/search_config.hpp"
#include "engine/worker_pool.hpp"
#include "python/binding.hpp"
#include "python/conversion.hpp"
#include "python/errors.hpp"
#include "python/py_ref.hpp"
#include "python/search_result_type.hpp"
#include "python/value_object.hpp"
#include "searcher/searcher.hpp"

namespace tov::python {

namespace {

using SearcherObject = ValueObject<SearchConfig>;

const SearchConfig& config_of(PyObject* self) { return SearcherObject::of(self); }

// --- Settings -------------------------------------------------------------

// One constructor parameter: its name, how a Python value sets its field
// (false with an exception set) and the property that reads it back.
struct Setting {
  std::string_view name;
  bool (*read)(std::string_view name, PyObject* value, SearchConfig& config);
  PyObject* (*get)(PyObject* self, void* closure);
};

template <auto Field>
bool read_unsigned(std::string_view name, PyObject* value, SearchConfig& config) {
  const std::optional<std::uint64_t> converted = unsigned_argument(name, value);
  if (converted) config.*Field = *converted;
  return converted.has_value();
}

template <auto Field>
bool read_float(std::string_view name, PyObject* value, SearchConfig& config) {
  const std::optional<double> converted = float_argument(name, value);
  if (converted) config.*Field = *converted;
  return converted.has_value();
}

template <auto Field>
PyObject* get_unsigned(PyObject* self, void*) {
  return PyLong_FromUnsignedLongLong(config_of(self).*Field);
}

template <auto Field>
PyObject* get_float(PyObject* self, void*) {
  return PyFloat_FromDouble(config_of(self).*Field);
}

template <auto Field>
constexpr Setting unsigned_setting(std::string_view name) {
  return {name, read_unsigned<Field>, get_unsigned<Field>};
}

template <auto Field>
constexpr Setting float_setting(std::string_view name) {
  return {name, read_float<Field>, get_float<Field>};
}

// In parameter order; values are converted in this order too.
constexpr std::array kSettings = {
    unsigned_setting<&SearchConfig::max_complexity>("max_complexity"),
    float_setting<&SearchConfig::complexity_penalty>("complexity_penalty"),
    unsigned_setting<&SearchConfig::beam_width>("beam_width"),
    float_setting<&SearchConfig::alpha>("alpha"),
    float_setting<&SearchConfig::l1_ratio>("l1_ratio"),
};

constexpr auto kConstructorParameters = [] {
  std::array<std::string_view, kSettings.size()> names{};
  for (std::size_t i = 0; i < kSettings.size(); ++i) names[i] = kSettings[i].name;
  return names;
}();

const Signature kConstructorSignature{"Searcher.__new__()", kConstructorParameters, 0};

PyObject* construct(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
  return guarded([&]() -> PyObject* {
    std::array<PyObject*, kSettings.size()> bound{};
    if (!bind_tuple_call(kConstructorSignature, args, kwargs, bound)) return nullptr;
    SearchConfig config;
    for (std::size_t i = 0; i < kSettings.size(); ++i) {
      if (bound[i] != nullptr && !kSettings[i].read(kSettings[i].name, bound[i], config))
        return nullptr;
    }
    // The process-wide pool starts with the first searcher.
    config.worker_threads = WorkerPool::process_pool().thread_count();
    return make_value_object<SearchConfig>(type, std::move(config));
  });
}

// The constructor rebuilds an equal searcher from its settings, by position.
PyObject* reduce(PyObject* self, PyObject*) {
  return guarded([&]() -> PyObject* {
    PyRef settings(PyTuple_New(static_cast<Py_ssize_t>(kSettings.size())));
    if (!settings) return nullptr;
    for (std::size_t i = 0; i < kSettings.size(); ++i) {
      PyObject* value = kSettings[i].get(self, nullptr);
      if (value == nullptr) return nullptr;
      PyTuple_SET_ITEM(settings.get(), static_cast<Py_ssize_t>(i), value);
    }
    return Py_BuildValue("(ON)", reinterpret_cast<PyObject*>(Py_TYPE(self)), settings.release());
  });
}

// --- Search methods -------------------------------------------------------

constexpr std::array<std::string_view, 4> kFunctionParameters = {"xs", "ys", "alpha", "l1_ratio"};
constexpr std::array<std::string_view, 4> kMultivariateParameters = {"inputs", "ys", "alpha",
                                                                     "l1_ratio"};
constexpr std::array<std::string_view, 3> kConstantParameters = {"value", "alpha", "l1_ratio"};

const Signature kFindFunction{"Searcher.find_function()", kFunctionParameters, 2};
const Signature kFindMultivariate{"Searcher.find_multivariate()", kMultivariateParameters, 2};
const Signature kFit{"Searcher.fit()", kMultivariateParameters, 2};
const Signature kFindCandidates{"Searcher.find_candidates()", kMultivariateParameters, 2};
const Signature kRecognizeConstant{"Searcher.recognize_constant()", kConstantParameters, 1};

// A method's bound arguments, borrowed from the call.
template <std::size_t N>
struct Bound {
  std::array<PyObject*, N> values{};

  bool bind(const Signature& signature, PyObject* const* args, Py_ssize_t nargs,
            PyObject* kwnames) {
    return bind_fast_call(signature, args, nargs, kwnames, values);
  }
  PyObject* operator[](std::size_t i) const { return values[i]; }
};

// A per-call override of a float setting: absent or None keeps the stored
// value.
bool read_override(std::string_view name, PyObject* value, double& field) {
  if (value == nullptr || value == Py_None) return true;
  const std::optional<double> converted = float_argument(name, value);
  if (converted) field = *converted;
  return converted.has_value();
}

// The stored configuration with the call's `alpha` and `l1_ratio`; no value
// with an exception set when one does not convert.
std::optional<SearchConfig> call_config(PyObject* self, PyObject* alpha, PyObject* l1_ratio) {
  SearchConfig config = config_of(self);
  if (!read_override("alpha", alpha, config.alpha) ||
      !read_override("l1_ratio", l1_ratio, config.l1_ratio))
    return std::nullopt;
  return config;
}

// Polled by the search on this thread: runs the interpreter's signal
// handlers, and asks the search to stop once one of them has raised.
SearchControl interrupt_on_signal() {
  SearchControl control;
  control.interrupted = [] { return PyErr_Occurred() != nullptr || PyErr_CheckSignals() < 0; };
  return control;
}

tov::Searcher native_searcher(SearchConfig config) {
  return tov::Searcher(std::move(config), interrupt_on_signal());
}

PyObject* wrap_all(std::vector<tov::SearchResult>& results) {
  PyRef list(PyList_New(static_cast<Py_ssize_t>(results.size())));
  if (!list) return nullptr;
  for (std::size_t i = 0; i < results.size(); ++i) {
    PyObject* item = wrap_search_result(std::move(results[i]));
    if (item == nullptr) return nullptr;
    PyList_SET_ITEM(list.get(), static_cast<Py_ssize_t>(i), item);
  }
  return list.release();
}

// A finished search: its result as Python objects, or its error raised. A
// search that a signal handler interrupted ends with that handler's
// exception, whatever the search itself returned.
template <class Value>
PyObject* finish(Outcome<Value> outcome) {
  if (!outcome.ok()) return raise_search_error(std::move(outcome.error()));
  if (PyErr_Occurred() != nullptr) return nullptr;
  if constexpr (std::is_same_v<Value, tov::SearchResult>) {
    return wrap_search_result(std::move(outcome.value()));
  } else {
    return wrap_all(outcome.value());
  }
}

PyObject* find_function(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                        PyObject* kwnames) {
  return guarded([&]() -> PyObject* {
    Bound<kFunctionParameters.size()> bound;
    if (!bound.bind(kFindFunction, args, nargs, kwnames)) return nullptr;
    std::optional<SearchConfig> config = call_config(self, bound[2], bound[3]);
    if (!config) return nullptr;
    const std::optional<std::vector<double>> xs = convert_to_vec(bound[0]);
    if (!xs) return nullptr;
    const std::optional<std::vector<double>> ys = convert_to_vec(bound[1]);
    if (!ys) return nullptr;
    return finish(native_searcher(std::move(*config)).find_function(*xs, *ys));
  });
}

// find_multivariate, fit and find_candidates: samples by variables, targets.
template <const Signature& signature, bool candidates>
PyObject* search_rows(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return guarded([&]() -> PyObject* {
    Bound<kMultivariateParameters.size()> bound;
    if (!bound.bind(signature, args, nargs, kwnames)) return nullptr;
    std::optional<SearchConfig> config = call_config(self, bound[2], bound[3]);
    if (!config) return nullptr;
    const std::optional<std::vector<std::vector<double>>> inputs = convert_to_matrix(bound[0]);
    if (!inputs) return nullptr;
    const std::optional<std::vector<double>> ys = convert_to_vec(bound[1]);
    if (!ys) return nullptr;
    const tov::Searcher searcher = native_searcher(std::move(*config));
    if constexpr (candidates) {
      return finish(searcher.find_candidates(*inputs, *ys));
    } else {
      return finish(searcher.find_multivariate(*inputs, *ys));
    }
  });
}

PyObject* recognize_constant(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                             PyObject* kwnames) {
  return guarded([&]() -> PyObject* {
    Bound<kConstantParameters.size()> bound;
    if (!bound.bind(kRecognizeConstant, args, nargs, kwnames)) return nullptr;
    const std::optional<double> value = float_argument("value", bound[0]);
    if (!value) return nullptr;
    std::optional<SearchConfig> config = call_config(self, bound[1], bound[2]);
    if (!config) return nullptr;
    return finish(native_searcher(std::move(*config)).recognize_constant(*value));
  });
}

// --- Type -----------------------------------------------------------------

// One read-only property per setting, without documentation, in the order
// the class lists them.
constexpr std::array<std::string_view, kSettings.size()> kPropertyOrder = {
    "max_complexity", "beam_width", "complexity_penalty", "alpha", "l1_ratio"};

auto getters = [] {
  std::array<PyGetSetDef, kSettings.size() + 1> table{};
  for (std::size_t i = 0; i < kPropertyOrder.size(); ++i) {
    for (const Setting& setting : kSettings) {
      if (setting.name == kPropertyOrder[i])
        table[i] = {setting.name.data(), setting.get, nullptr, nullptr, nullptr};
    }
  }
  return table;
}();

PyMethodDef methods[] = {
    {"find_function", fast_call<find_function>(), METH_FASTCALL | METH_KEYWORDS,
     "find_function($self, xs, ys, alpha=None, l1_ratio=None)\n--\n\n"
     "Finds a univariate function f(x) ≈ y.\nSupports both Python lists and NumPy arrays."},
    {"find_multivariate", fast_call<search_rows<kFindMultivariate, false>>(),
     METH_FASTCALL | METH_KEYWORDS,
     "find_multivariate($self, inputs, ys, alpha=None, l1_ratio=None)\n--\n\n"
     "Finds a multivariate function f(x0, x1, ...) ≈ y.\n"
     "Inputs should be a 2D array-like structure."},
    {"fit", fast_call<search_rows<kFit, false>>(), METH_FASTCALL | METH_KEYWORDS,
     "fit($self, inputs, ys, alpha=None, l1_ratio=None)\n--\n\n"
     "Alias for find_multivariate (Scikit-Learn style)."},
    {"find_candidates", fast_call<search_rows<kFindCandidates, true>>(),
     METH_FASTCALL | METH_KEYWORDS,
     "find_candidates($self, inputs, ys, alpha=None, l1_ratio=None)\n--\n\n"
     "Returns the Pareto-front of all candidate formulas found."},
    {"recognize_constant", fast_call<recognize_constant>(), METH_FASTCALL | METH_KEYWORDS,
     "recognize_constant($self, value, alpha=None, l1_ratio=None)\n--\n\n"
     "Identifies a closed-form expression for a scalar constant."},
    {"__reduce__", reduce, METH_NOARGS,
     "__reduce__($self)\n--\n\nReturns what pickle and copy need to rebuild the searcher."},
    {nullptr, nullptr, 0, nullptr},
};

PyType_Slot slots[] = {
    {Py_tp_doc,
     const_cast<char*>("Searcher(max_complexity=10, complexity_penalty=0.1, beam_width=1000, "
                       "alpha=0.0, l1_ratio=0.5)\n--\n\n"
                       "The core TOV-SR search engine exposed to Python.")},
    {Py_tp_new, reinterpret_cast<void*>(construct)},
    {Py_tp_dealloc, reinterpret_cast<void*>(dealloc_value_object<SearchConfig>)},
    {Py_tp_getset, getters.data()},
    {Py_tp_methods, methods},
    {0, nullptr},
};

PyType_Spec type_definition = {
    "tov_sr.Searcher", static_cast<int>(sizeof(SearcherObject)), 0, kClassFlags, slots,
};

}  // namespace

PyObject* searcher_type() {
  static PyObject* type = nullptr;
  return class_from_spec(type_definition, type);
}

}  // namespace tov::python
