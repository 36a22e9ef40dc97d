// Searcher class: constructor, read-only settings, the search methods and
// pickling.
//
// The constructor's parameters are one table of settings (name, converter,
// getter); binding, conversion, the properties and pickling all walk it. Each
// search method is a small function: bind, read the per-call overrides into
// a copy of the stored configuration, convert the data, search. The search
// methods are one table (name, function, parameter table, docstring), and
// the parameter tables give the text signatures and the arguments'
// positions; the docstrings are the stub's.
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
#include "python/stub_docs.hpp"
#include "python/units.hpp"
#include "python/value_object.hpp"
#include "search/worker_pool.hpp"
#include "searcher/searcher.hpp"

namespace tov::python {

namespace {

using SearcherObject = ValueObject<SearchConfig>;

const SearchConfig& config_of(PyObject* self) { return SearcherObject::of(self); }

// --- Settings -------------------------------------------------------------

// The constructor binds by name and kind; its defaults are the
// configuration's, so the binding needs no default text.
const auto kConstructorParameters = [] {
  std::array<Parameter, kSettings.size()> table{};
  for (std::size_t i = 0; i < kSettings.size(); ++i) {
    table[i] = {kSettings[i].name,
                i < kPositionalSettings ? ParameterKind::Optional : ParameterKind::KeywordOnly};
  }
  return table;
}();

const Signature kConstructorSignature{"Searcher.__new__()", kConstructorParameters};

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

using enum ParameterKind;

// The data methods take four parameters by position, then the weights, the
// callback, the units and the variables' names by keyword; the constant
// method its value and the two overrides, then the callback.
constexpr std::array<Parameter, 9> kFunctionParameters = {{
    {"xs"},
    {"ys"},
    {"alpha", Optional, "None"},
    {"l1_ratio", Optional, "None"},
    {"weights", KeywordOnly, "None"},
    {"callback", KeywordOnly, "None"},
    {"x_units", KeywordOnly, "None"},
    {"y_units", KeywordOnly, "None"},
    {"variable_names", KeywordOnly, "None"},
}};
constexpr auto kMultivariateParameters = [] {
  std::array<Parameter, kFunctionParameters.size()> table = kFunctionParameters;
  table[0].name = "inputs";
  return table;
}();
constexpr std::array<Parameter, 4> kConstantParameters = {{
    {"value"},
    {"alpha", Optional, "None"},
    {"l1_ratio", Optional, "None"},
    {"callback", KeywordOnly, "None"},
}};
static_assert(well_formed(kFunctionParameters) && well_formed(kMultivariateParameters) &&
              well_formed(kConstantParameters));

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

// The bound arguments of a data method, by name.
template <const auto& table>
struct DataArguments {
  const Bound<table.size()>& bound;

  PyObject* alpha() const { return bound[at<table>("alpha")]; }
  PyObject* l1_ratio() const { return bound[at<table>("l1_ratio")]; }
  PyObject* ys() const { return bound[at<table>("ys")]; }
  PyObject* weights() const { return bound[at<table>("weights")]; }
  PyObject* callback() const { return bound[at<table>("callback")]; }
  PyObject* x_units() const { return bound[at<table>("x_units")]; }
  PyObject* y_units() const { return bound[at<table>("y_units")]; }
  PyObject* variable_names() const { return bound[at<table>("variable_names")]; }
};

PyObject* find_function(PyObject* self, const Signature& signature, PyObject* const* args,
                        Py_ssize_t nargs, PyObject* kwnames, ShardTransport* transport) {
  return guarded([&]() -> PyObject* {
    Bound<kFunctionParameters.size()> bound;
    if (!bound.bind(signature, args, nargs, kwnames)) return nullptr;
    const DataArguments<kFunctionParameters> given{bound};
    std::optional<SearchConfig> config = call_config(self, given.alpha(), given.l1_ratio());
    if (!config) return nullptr;
    const std::optional<DataInput> x_data =
        read_data_input(bound[at<kFunctionParameters>("xs")], false);
    if (!x_data) return nullptr;
    const std::optional<std::vector<double>> xs = convert_to_vec(x_data->values.get());
    if (!xs) return nullptr;
    const std::optional<DataInput> y_data = read_data_input(given.ys(), false);
    if (!y_data) return nullptr;
    const std::optional<Targets> targets =
        read_targets(y_data->values.get(), given.weights(), given.callback());
    if (!targets) return nullptr;
    const std::optional<UnitsRequest> units =
        read_units(given.x_units(), given.y_units(), {}, true, *x_data, *y_data);
    if (!units) return nullptr;
    const std::optional<std::shared_ptr<const VariableNames>> names =
        read_variable_names(given.variable_names(), {}, true, std::nullopt);
    if (!names) return nullptr;
    const Call call(targets->callback);
    const tov::Searcher searcher(*config, call.control, transport);
    return finish(searcher.find_function(*xs, targets->ys, targets->weights,
                                         units->reduction ? &*units->reduction : nullptr),
                  call, *config, *names);
  });
}

// find_multivariate, fit and find_candidates: samples by variables, targets.
template <bool candidates>
PyObject* search_rows(PyObject* self, const Signature& signature, PyObject* const* args,
                      Py_ssize_t nargs, PyObject* kwnames, ShardTransport* transport) {
  return guarded([&]() -> PyObject* {
    Bound<kMultivariateParameters.size()> bound;
    if (!bound.bind(signature, args, nargs, kwnames)) return nullptr;
    const DataArguments<kMultivariateParameters> given{bound};
    std::optional<SearchConfig> config = call_config(self, given.alpha(), given.l1_ratio());
    if (!config) return nullptr;
    const std::optional<DataInput> x_data =
        read_data_input(bound[at<kMultivariateParameters>("inputs")], true);
    if (!x_data) return nullptr;
    const std::optional<std::vector<std::vector<double>>> inputs =
        convert_to_matrix(x_data->values.get());
    if (!inputs) return nullptr;
    const std::optional<DataInput> y_data = read_data_input(given.ys(), false);
    if (!y_data) return nullptr;
    const std::optional<Targets> targets =
        read_targets(y_data->values.get(), given.weights(), given.callback());
    if (!targets) return nullptr;
    const std::optional<UnitsRequest> units =
        read_units(given.x_units(), given.y_units(), *inputs, false, *x_data, *y_data);
    if (!units) return nullptr;
    const std::optional<std::shared_ptr<const VariableNames>> names =
        read_variable_names(given.variable_names(), *inputs, false, x_data->names);
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

PyObject* recognize_constant(PyObject* self, const Signature& signature, PyObject* const* args,
                             Py_ssize_t nargs, PyObject* kwnames, ShardTransport* transport) {
  return guarded([&]() -> PyObject* {
    Bound<kConstantParameters.size()> bound;
    if (!bound.bind(signature, args, nargs, kwnames)) return nullptr;
    const std::optional<double> value =
        float_argument("value", bound[at<kConstantParameters>("value")]);
    if (!value || !warn_of_target_scale(std::span<const double>(&*value, 1))) return nullptr;
    std::optional<SearchConfig> config = call_config(self, bound[at<kConstantParameters>("alpha")],
                                                     bound[at<kConstantParameters>("l1_ratio")]);
    if (!config) return nullptr;
    const std::optional<PyObject*> callback =
        read_callback(bound[at<kConstantParameters>("callback")]);
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

// A search method with the signature it binds by and the transport its
// levels go through (null: this process).
using SearchMethod = PyObject* (*)(PyObject*, const Signature&, PyObject* const*, Py_ssize_t,
                                   PyObject*, ShardTransport*);

// One row per search method, in the class's order: the method table, the
// docstrings and the distributed calls all walk it.
struct SearchMethodRow {
  std::string_view name;
  SearchMethod search;
  Signature signature;
  const char* doc;  // the stub's
};

const std::array<SearchMethodRow, 5> kSearchMethods = {{
    {"find_function",
     find_function,
     {"Searcher.find_function()", kFunctionParameters},
     stub_doc::Searcher_find_function},
    {"find_multivariate",
     search_rows<false>,
     {"Searcher.find_multivariate()", kMultivariateParameters},
     stub_doc::Searcher_find_multivariate},
    {"fit",
     search_rows<false>,
     {"Searcher.fit()", kMultivariateParameters},
     stub_doc::Searcher_fit},
    {"find_candidates",
     search_rows<true>,
     {"Searcher.find_candidates()", kMultivariateParameters},
     stub_doc::Searcher_find_candidates},
    {"recognize_constant",
     recognize_constant,
     {"Searcher.recognize_constant()", kConstantParameters},
     stub_doc::Searcher_recognize_constant},
}};

template <std::size_t row>
PyObject* in_process(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  const SearchMethodRow& method = kSearchMethods[row];
  return method.search(self, method.signature, args, nargs, kwnames, nullptr);
}

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

// Docstrings and the method table are made once, when the class is; the
// texts live as long as the process, as the class points into them.
struct MethodTable {
  std::array<std::string, kSearchMethods.size()> docs;
  std::array<PyMethodDef, kSearchMethods.size() + 2> methods{};
};

// Made in place, since the method definitions point into the texts.
template <std::size_t... row>
std::unique_ptr<MethodTable> make_method_table(std::index_sequence<row...>) {
  auto table = std::make_unique<MethodTable>();
  for (std::size_t i = 0; i < kSearchMethods.size(); ++i) {
    const SearchMethodRow& method = kSearchMethods[i];
    table->docs[i] = signed_doc(
        method.name, text_signature(positional_parameters(method.signature.parameters), "$self"),
        method.doc);
  }
  table->methods = {{
      {kSearchMethods[row].name.data(), fast_call<in_process<row>>(), METH_FASTCALL | METH_KEYWORDS,
       table->docs[row].c_str()}...,
      {"__reduce__", reduce, METH_NOARGS,
       "__reduce__($self)\n--\n\nReturns what pickle and copy need to rebuild the searcher."},
      {nullptr, nullptr, 0, nullptr},
  }};
  return table;
}

MethodTable& method_table() {
  static const std::unique_ptr<MethodTable> table =
      make_method_table(std::make_index_sequence<kSearchMethods.size()>());
  return *table;
}

// The constructor's text signature: the settings with their defaults as
// the properties of a default searcher show them (None for every operator).
std::optional<std::string> constructor_doc() {
  const SearchConfig defaults;
  std::vector<std::string> texts(kSettings.size());
  std::vector<Parameter> parameters(kSettings.size());
  for (std::size_t i = 0; i < kSettings.size(); ++i) {
    PyRef value(kSettings[i].default_is_none ? PyRef::borrow(Py_None)
                                             : PyRef(kSettings[i].get(defaults)));
    PyRef text(value ? PyObject_Repr(value.get()) : nullptr);
    const char* utf8 = text ? PyUnicode_AsUTF8(text.get()) : nullptr;
    if (utf8 == nullptr) return std::nullopt;
    texts[i] = utf8;
    parameters[i] = {kSettings[i].name, i < kPositionalSettings ? Optional : KeywordOnly, texts[i]};
  }
  return signed_doc("Searcher", text_signature(positional_parameters(parameters), ""),
                    stub_doc::Searcher);
}

}  // namespace

PyObject* searcher_type() {
  static PyObject* type = nullptr;
  if (type != nullptr) return type;
  // The class copies its docstring; the methods' texts stay in their table.
  const std::optional<std::string> doc = constructor_doc();
  if (!doc) return nullptr;
  PyType_Slot slots[] = {
      {Py_tp_doc, const_cast<char*>(doc->c_str())},
      {Py_tp_new, reinterpret_cast<void*>(construct)},
      {Py_tp_repr, reinterpret_cast<void*>(repr)},
      {Py_tp_dealloc, reinterpret_cast<void*>(dealloc_value_object<SearchConfig>)},
      {Py_tp_getset, getters.data()},
      {Py_tp_methods, method_table().methods.data()},
      {0, nullptr},
  };
  PyType_Spec definition = {
      "tov_sr.Searcher", static_cast<int>(sizeof(SearcherObject)), 0, kClassFlags, slots,
  };
  return class_from_spec(definition, type);
}

PyObject* call_search_method(PyObject* method, PyObject* args, PyObject* kwargs,
                             ShardTransport& transport) {
  PyObject* type = searcher_type();
  if (type == nullptr) return nullptr;
  PyObject* self = PyCFunction_Check(method) ? PyCFunction_GET_SELF(method) : nullptr;
  std::optional<std::size_t> index;
  if (self != nullptr && PyObject_TypeCheck(self, reinterpret_cast<PyTypeObject*>(type))) {
    for (std::size_t i = 0; i < kSearchMethods.size(); ++i)
      if (PyCFunction_GET_FUNCTION(method) == method_table().methods[i].ml_meth) index = i;
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
  const SearchMethodRow& row = kSearchMethods[*index];
  return row.search(self, row.signature, values.data(), PyTuple_GET_SIZE(args), names.get(),
                    &transport);
}

}  // namespace tov::python
