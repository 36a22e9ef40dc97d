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
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>
#include <vector>

#include "config/search_config.hpp"
#include "fit/search_data.hpp"
#include "numeric/decimal.hpp"
#include "numeric/float_text.hpp"
#include "python/binding.hpp"
#include "python/conversion.hpp"
#include "python/data_input.hpp"
#include "python/errors.hpp"
#include "python/level_report.hpp"
#include "python/names.hpp"
#include "python/py_ref.hpp"
#include "python/search_result_type.hpp"
#include "python/settings.hpp"
#include "python/units.hpp"
#include "python/value_object.hpp"
#include "search/worker_pool.hpp"
#include "searcher/searcher.hpp"

namespace tov::python {

namespace {

using SearcherObject = ValueObject<SearchConfig>;

const SearchConfig& config_of(PyObject* self) { return SearcherObject::of(self); }

// --- Settings -------------------------------------------------------------

const auto kConstructorParameters = [] {
  std::array<std::string_view, kSettings.size()> names{};
  for (std::size_t i = 0; i < kSettings.size(); ++i) names[i] = kSettings[i].name;
  return names;
}();

const Signature kConstructorSignature{"Searcher.__new__()", kConstructorParameters, 0,
                                      kPositionalSettings};

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

template <std::size_t index>
PyObject* get_setting(PyObject* self, void*) {
  return guarded([&] { return kSettings[index].get(config_of(self)); });
}

// The positional settings, and the keyword-only ones away from their
// defaults, as (name, value) pairs in parameter order.
std::optional<std::vector<std::pair<std::string_view, PyRef>>> shown_settings(PyObject* self) {
  const SearchConfig& config = config_of(self);
  std::vector<std::pair<std::string_view, PyRef>> shown;
  for (std::size_t i = 0; i < kSettings.size(); ++i) {
    if (i >= kPositionalSettings && kSettings[i].is_default(config)) continue;
    PyRef value(kSettings[i].get(config));
    if (!value) return std::nullopt;
    shown.emplace_back(kSettings[i].name, std::move(value));
  }
  return shown;
}

PyObject* repr(PyObject* self) {
  return guarded([&]() -> PyObject* {
    const auto shown = shown_settings(self);
    if (!shown) return nullptr;
    std::string text = "Searcher(";
    for (const auto& [name, value] : *shown) {
      PyRef value_text(PyObject_Repr(value.get()));
      if (!value_text) return nullptr;
      Py_ssize_t size = 0;
      const char* utf8 = PyUnicode_AsUTF8AndSize(value_text.get(), &size);
      if (utf8 == nullptr) return nullptr;
      if (text.back() != '(') text += ", ";
      text.append(name).append("=").append(utf8, static_cast<std::size_t>(size));
    }
    text += ")";
    return PyUnicode_FromStringAndSize(text.data(), static_cast<Py_ssize_t>(text.size()));
  });
}

// The constructor rebuilds an equal searcher: the positional settings by
// position, the keyword-only ones away from their defaults through
// functools.partial (so a searcher with default keyword-only settings
// pickles as before they existed).
PyObject* reduce(PyObject* self, PyObject*) {
  return guarded([&]() -> PyObject* {
    const auto shown = shown_settings(self);
    if (!shown) return nullptr;
    PyRef positional(PyTuple_New(static_cast<Py_ssize_t>(kPositionalSettings)));
    PyRef keywords(PyDict_New());
    if (!positional || !keywords) return nullptr;
    for (std::size_t i = 0; i < shown->size(); ++i) {
      const auto& [name, value] = (*shown)[i];
      if (i < kPositionalSettings) {
        PyTuple_SET_ITEM(positional.get(), static_cast<Py_ssize_t>(i),
                         PyRef::borrow(value.get()).release());
      } else if (PyDict_SetItemString(keywords.get(), std::string(name).c_str(), value.get()) < 0) {
        return nullptr;
      }
    }
    PyRef constructor = PyRef::borrow(reinterpret_cast<PyObject*>(Py_TYPE(self)));
    if (PyDict_GET_SIZE(keywords.get()) != 0) {
      PyRef functools(PyImport_ImportModule("functools"));
      if (!functools) return nullptr;
      PyRef partial(PyObject_GetAttrString(functools.get(), "partial"));
      if (!partial) return nullptr;
      PyRef call_args(PyTuple_Pack(1, constructor.get()));
      if (!call_args) return nullptr;
      constructor = PyRef(PyObject_Call(partial.get(), call_args.get(), keywords.get()));
      if (!constructor) return nullptr;
    }
    return PyTuple_Pack(2, constructor.get(), positional.get());
  });
}

// --- Search methods -------------------------------------------------------

constexpr std::array<std::string_view, 9> kFunctionParameters = {
    "xs", "ys", "alpha", "l1_ratio", "weights", "callback", "x_units", "y_units", "variable_names"};
constexpr std::array<std::string_view, 9> kMultivariateParameters = {
    "inputs",   "ys",      "alpha",   "l1_ratio",      "weights",
    "callback", "x_units", "y_units", "variable_names"};
constexpr std::array<std::string_view, 4> kConstantParameters = {"value", "alpha", "l1_ratio",
                                                                 "callback"};

// The data methods take four parameters by position, then `weights`,
// `callback`, `x_units`, `y_units` and `variable_names` by keyword;
// recognize_constant three, then `callback`.
const Signature kFindFunction{"Searcher.find_function()", kFunctionParameters, 2, 4};
const Signature kFindMultivariate{"Searcher.find_multivariate()", kMultivariateParameters, 2, 4};
const Signature kFit{"Searcher.fit()", kMultivariateParameters, 2, 4};
const Signature kFindCandidates{"Searcher.find_candidates()", kMultivariateParameters, 2, 4};
const Signature kRecognizeConstant{"Searcher.recognize_constant()", kConstantParameters, 1, 3};

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

// Per-sample weights: absent or None for none, else a sequence of floats
// (the search checks them).
std::optional<std::vector<double>> read_weights(PyObject* value) {
  if (value == nullptr || value == Py_None) return std::vector<double>{};
  return convert_to_vec(value);
}

// The per-level callback: absent or None for none, else a callable.
std::optional<PyObject*> read_callback(PyObject* value) {
  if (value == nullptr || value == Py_None) return nullptr;
  if (!PyCallable_Check(value)) {
    raise_message(PyExc_TypeError,
                  std::string("callback must be callable or None, not ") + Py_TYPE(value)->tp_name);
    return std::nullopt;
  }
  return value;
}

// How a search reaches back into the interpreter, on this thread: signals
// (Ctrl-C) and the caller's level callback. An exception raised by either
// stays pending and ends the search.
struct Call {
  SearchEnding ending;
  SearchControl control;

  explicit Call(PyObject* callback) {
    control.interrupted = [] { return PyErr_Occurred() != nullptr || PyErr_CheckSignals() < 0; };
    control.ending = &ending;
    // A warning turned into an error stays pending and ends the search.
    control.warn = [](const std::string& message) {
      static_cast<void>(PyErr_WarnEx(checkpoint_warning_type(), message.c_str(), 1));
    };
    if (callback == nullptr) return;
    control.on_level = [callback](const LevelReport& report) {
      PyRef record(make_level_report(report));
      if (!record) return true;
      PyRef answer(PyObject_CallOneArg(callback, record.get()));
      if (!answer) return true;
      return PyObject_IsTrue(answer.get()) != 0;
    };
  }
  Call(const Call&) = delete;
  Call& operator=(const Call&) = delete;
};

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

// Warns that the time limit ended the search after `last_level`; false with
// an exception set when the warning is turned into an error.
bool warn_time_limit(const SearchConfig& config, std::uint64_t last_level) {
  PyRef limit(PyFloat_FromDouble(config.time_limit.value_or(0.0)));
  PyRef limit_text(limit ? PyObject_Repr(limit.get()) : nullptr);
  const char* seconds = limit_text ? PyUnicode_AsUTF8(limit_text.get()) : nullptr;
  if (seconds == nullptr) return false;
  const std::string message = "time_limit of " + std::string(seconds) + " s reached during level " +
                              decimal(last_level + 1) + "; returning the result of levels 1 to " +
                              decimal(last_level) +
                              " (as with max_complexity=" + decimal(last_level) + ")";
  return PyErr_WarnEx(time_limit_warning_type(), message.c_str(), 1) == 0;
}

// Warns (UserWarning) when a closed form found for `value` does not match it
// to rounding; false with an exception set when the warning is turned into
// an error.
bool warn_near_miss(const tov::Searcher& searcher, double value, const tov::SearchResult& result,
                    const Call& call) {
  const double target[] = {value};
  if (!(result.error() > searcher.exit_tolerance(target, {}))) return true;
  const std::uint64_t levels =
      call.ending.answered_max_complexity(searcher.config().max_complexity);
  const double found = result.eval_multi({});
  const std::string message = "no closed form of " + float_text(value) + " up to complexity " +
                              decimal(levels) + "; the nearest found, " + result.formula() + " = " +
                              float_text(found) + ", is off by " +
                              float_text(std::fabs(found - value));
  return PyErr_WarnEx(PyExc_UserWarning, message.c_str(), 1) == 0;
}

// A finished search: its result as Python objects, with the variables'
// names when there are any, or its error raised. A search that a signal
// handler or the callback interrupted ends with that exception, whatever
// the search itself returned.
template <class Value>
PyObject* finish(Outcome<Value> outcome, const Call& call, const SearchConfig& config,
                 const std::shared_ptr<const VariableNames>& names = nullptr) {
  if (!outcome.ok()) return raise_search_error(std::move(outcome.error()));
  if (PyErr_Occurred() != nullptr) return nullptr;
  if (call.ending.time_limit_reached && !warn_time_limit(config, call.ending.last_level))
    return nullptr;
  if constexpr (std::is_same_v<Value, tov::SearchResult>) {
    if (names) return wrap_search_result(outcome.value().with_variable_names(names));
    return wrap_search_result(std::move(outcome.value()));
  } else {
    if (names) {
      for (tov::SearchResult& result : outcome.value()) result = result.with_variable_names(names);
    }
    return wrap_all(outcome.value());
  }
}

// What the data methods read after their inputs, in this order: the
// targets, the weights and the callback.
struct Targets {
  std::vector<double> ys;
  std::vector<double> weights;
  PyObject* callback;
};

// Warns when the targets' squares leave the range of doubles; false with an
// exception set when the warning is turned into an error.
bool warn_of_target_scale(std::span<const double> targets) {
  const std::optional<std::string> warning = target_scale_warning(targets);
  return !warning || PyErr_WarnEx(PyExc_RuntimeWarning, warning->c_str(), 1) == 0;
}

std::optional<Targets> read_targets(PyObject* ys, PyObject* weights, PyObject* callback) {
  std::optional<std::vector<double>> values = convert_to_vec(ys);
  if (!values || !warn_of_target_scale(*values)) return std::nullopt;
  std::optional<std::vector<double>> read = read_weights(weights);
  if (!read) return std::nullopt;
  const std::optional<PyObject*> function = read_callback(callback);
  if (!function) return std::nullopt;
  return Targets{std::move(*values), std::move(*read), *function};
}

PyObject* find_function(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames,
                        ShardTransport* transport) {
  return guarded([&]() -> PyObject* {
    Bound<kFunctionParameters.size()> bound;
    if (!bound.bind(kFindFunction, args, nargs, kwnames)) return nullptr;
    std::optional<SearchConfig> config = call_config(self, bound[2], bound[3]);
    if (!config) return nullptr;
    const std::optional<DataInput> x_data = read_data_input(bound[0], false);
    if (!x_data) return nullptr;
    const std::optional<std::vector<double>> xs = convert_to_vec(x_data->values.get());
    if (!xs) return nullptr;
    const std::optional<DataInput> y_data = read_data_input(bound[1], false);
    if (!y_data) return nullptr;
    const std::optional<Targets> targets = read_targets(y_data->values.get(), bound[4], bound[5]);
    if (!targets) return nullptr;
    const std::optional<UnitsRequest> units =
        read_units(bound[6], bound[7], {}, true, *x_data, *y_data);
    if (!units) return nullptr;
    const std::optional<std::shared_ptr<const VariableNames>> names =
        read_variable_names(bound[8], {}, true, std::nullopt);
    if (!names) return nullptr;
    const Call call(targets->callback);
    const tov::Searcher searcher(*config, call.control, transport);
    return finish(searcher.find_function(*xs, targets->ys, targets->weights,
                                         units->reduction ? &*units->reduction : nullptr),
                  call, *config, *names);
  });
}

// find_multivariate, fit and find_candidates: samples by variables, targets.
template <const Signature& signature, bool candidates>
PyObject* search_rows(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames,
                      ShardTransport* transport) {
  return guarded([&]() -> PyObject* {
    Bound<kMultivariateParameters.size()> bound;
    if (!bound.bind(signature, args, nargs, kwnames)) return nullptr;
    std::optional<SearchConfig> config = call_config(self, bound[2], bound[3]);
    if (!config) return nullptr;
    const std::optional<DataInput> x_data = read_data_input(bound[0], true);
    if (!x_data) return nullptr;
    const std::optional<std::vector<std::vector<double>>> inputs =
        convert_to_matrix(x_data->values.get());
    if (!inputs) return nullptr;
    const std::optional<DataInput> y_data = read_data_input(bound[1], false);
    if (!y_data) return nullptr;
    const std::optional<Targets> targets = read_targets(y_data->values.get(), bound[4], bound[5]);
    if (!targets) return nullptr;
    const std::optional<UnitsRequest> units =
        read_units(bound[6], bound[7], *inputs, false, *x_data, *y_data);
    if (!units) return nullptr;
    const std::optional<std::shared_ptr<const VariableNames>> names =
        read_variable_names(bound[8], *inputs, false, x_data->names);
    if (!names) return nullptr;
    const Reduction* reduction = units->reduction ? &*units->reduction : nullptr;
    const Call call(targets->callback);
    const tov::Searcher searcher(*config, call.control, transport);
    if constexpr (candidates) {
      return finish(searcher.find_candidates(*inputs, targets->ys, targets->weights, reduction),
                    call, *config, *names);
    } else {
      return finish(searcher.find_multivariate(*inputs, targets->ys, targets->weights, reduction),
                    call, *config, *names);
    }
  });
}

PyObject* recognize_constant(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                             PyObject* kwnames, ShardTransport* transport) {
  return guarded([&]() -> PyObject* {
    Bound<kConstantParameters.size()> bound;
    if (!bound.bind(kRecognizeConstant, args, nargs, kwnames)) return nullptr;
    const std::optional<double> value = float_argument("value", bound[0]);
    if (!value || !warn_of_target_scale(std::span<const double>(&*value, 1))) return nullptr;
    std::optional<SearchConfig> config = call_config(self, bound[1], bound[2]);
    if (!config) return nullptr;
    const std::optional<PyObject*> callback = read_callback(bound[3]);
    if (!callback) return nullptr;
    const Call call(*callback);
    const tov::Searcher searcher(*config, call.control, transport);
    Outcome<tov::SearchResult> outcome = searcher.recognize_constant(*value);
    if (outcome && PyErr_Occurred() == nullptr && config->named_constants &&
        !warn_near_miss(searcher, *value, outcome.value(), call))
      return nullptr;
    return finish(std::move(outcome), call, *config);
  });
}

// A search method with the transport its levels go through (null: this
// process).
using SearchMethod = PyObject* (*)(PyObject*, PyObject* const*, Py_ssize_t, PyObject*,
                                   ShardTransport*);

template <SearchMethod method>
PyObject* in_process(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return method(self, args, nargs, kwnames, nullptr);
}

// The search methods, in the order of the method table.
constexpr std::array<SearchMethod, 5> kSearchMethods = {
    find_function, search_rows<kFindMultivariate, false>, search_rows<kFit, false>,
    search_rows<kFindCandidates, true>, recognize_constant};

// --- Type -----------------------------------------------------------------

// One read-only property per setting, without documentation, in the order
// the class lists them.
template <std::size_t... I>
constexpr std::array<PyGetSetDef, kSettings.size() + 1> make_getters(std::index_sequence<I...>) {
  return {PyGetSetDef{nullptr, get_setting<I>, nullptr, nullptr, nullptr}...,
          PyGetSetDef{nullptr, nullptr, nullptr, nullptr, nullptr}};
}

auto getters = [] {
  auto by_setting = make_getters(std::make_index_sequence<kSettings.size()>());
  std::array<PyGetSetDef, kSettings.size() + 1> table{};
  for (std::size_t i = 0; i < kPropertyOrder.size(); ++i) {
    table[i] = by_setting[kPropertyOrder[i]];
    table[i].name = kSettings[kPropertyOrder[i]].name.data();
  }
  return table;
}();

PyMethodDef methods[] = {
    {"find_function", fast_call<in_process<kSearchMethods[0]>>(), METH_FASTCALL | METH_KEYWORDS,
     "find_function($self, xs, ys, alpha=None, l1_ratio=None)\n--\n\n"
     "Finds a univariate function f(x) ≈ y.\nSupports both Python lists and NumPy arrays."},
    {"find_multivariate", fast_call<in_process<kSearchMethods[1]>>(), METH_FASTCALL | METH_KEYWORDS,
     "find_multivariate($self, inputs, ys, alpha=None, l1_ratio=None)\n--\n\n"
     "Finds a multivariate function f(x0, x1, ...) ≈ y.\n"
     "Inputs should be a 2D array-like structure."},
    {"fit", fast_call<in_process<kSearchMethods[2]>>(), METH_FASTCALL | METH_KEYWORDS,
     "fit($self, inputs, ys, alpha=None, l1_ratio=None)\n--\n\n"
     "Alias for find_multivariate (Scikit-Learn style)."},
    {"find_candidates", fast_call<in_process<kSearchMethods[3]>>(), METH_FASTCALL | METH_KEYWORDS,
     "find_candidates($self, inputs, ys, alpha=None, l1_ratio=None)\n--\n\n"
     "Returns the Pareto-front of all candidate formulas found."},
    {"recognize_constant", fast_call<in_process<kSearchMethods[4]>>(),
     METH_FASTCALL | METH_KEYWORDS,
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
    {Py_tp_repr, reinterpret_cast<void*>(repr)},
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

PyObject* call_search_method(PyObject* method, PyObject* args, PyObject* kwargs,
                             ShardTransport& transport) {
  PyObject* type = searcher_type();
  if (type == nullptr) return nullptr;
  PyObject* self = PyCFunction_Check(method) ? PyCFunction_GET_SELF(method) : nullptr;
  std::optional<std::size_t> index;
  if (self != nullptr && PyObject_TypeCheck(self, reinterpret_cast<PyTypeObject*>(type))) {
    for (std::size_t i = 0; i < kSearchMethods.size(); ++i)
      if (PyCFunction_GET_FUNCTION(method) == methods[i].ml_meth) index = i;
  }
  if (!index) {
    return raise_message(PyExc_TypeError,
                         std::string("method must be a bound search method of a Searcher, not ") +
                             Py_TYPE(method)->tp_name);
  }
  // The call as a fast call: the positional values, then the keywords'.
  std::vector<PyObject*> values;
  for (Py_ssize_t i = 0; i < PyTuple_GET_SIZE(args); ++i)
    values.push_back(PyTuple_GET_ITEM(args, i));
  PyRef names;
  if (kwargs != nullptr && PyDict_GET_SIZE(kwargs) != 0) {
    names = PyRef(PyTuple_New(PyDict_GET_SIZE(kwargs)));
    if (!names) return nullptr;
    PyObject* key = nullptr;
    PyObject* value = nullptr;
    Py_ssize_t position = 0;
    for (Py_ssize_t i = 0; PyDict_Next(kwargs, &position, &key, &value); ++i) {
      PyTuple_SET_ITEM(names.get(), i, PyRef::borrow(key).release());
      values.push_back(value);
    }
  }
  return kSearchMethods[*index](self, values.data(), PyTuple_GET_SIZE(args), names.get(),
                                &transport);
}

}  // namespace tov::python
