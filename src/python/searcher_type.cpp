// Searcher class: constructor, read-only settings, the search methods and
// pickling.
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

constexpr std::array<std::string_view, 5> kConstructorParameters = {
    "max_complexity", "complexity_penalty", "beam_width", "alpha", "l1_ratio"};
constexpr std::array<std::string_view, 4> kFunctionParameters = {"xs", "ys", "alpha", "l1_ratio"};
constexpr std::array<std::string_view, 4> kMultivariateParameters = {"inputs", "ys", "alpha",
                                                                     "l1_ratio"};
constexpr std::array<std::string_view, 3> kConstantParameters = {"value", "alpha", "l1_ratio"};

const Signature kConstructorSignature{"Searcher.__new__()", kConstructorParameters, 0};

enum class Request { Function, Multivariate, Candidates, Constant };

struct Method {
  Signature signature;
  Request request;
};

const Method kFindFunction{{"Searcher.find_function()", kFunctionParameters, 2}, Request::Function};
const Method kFindMultivariate{{"Searcher.find_multivariate()", kMultivariateParameters, 2},
                               Request::Multivariate};
const Method kFit{{"Searcher.fit()", kMultivariateParameters, 2}, Request::Multivariate};
const Method kFindCandidates{{"Searcher.find_candidates()", kMultivariateParameters, 2},
                             Request::Candidates};
const Method kRecognizeConstant{{"Searcher.recognize_constant()", kConstantParameters, 1},
                                Request::Constant};

PyObject* construct(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
  return guarded([&]() -> PyObject* {
    std::array<PyObject*, kConstructorParameters.size()> bound{};
    if (!bind_tuple_call(kConstructorSignature, args, kwargs, bound)) return nullptr;
    SearchConfig config;
    if (bound[0] != nullptr) {
      const std::optional<std::uint64_t> value = unsigned_argument("max_complexity", bound[0]);
      if (!value) return nullptr;
      config.max_complexity = *value;
    }
    if (bound[1] != nullptr) {
      const std::optional<double> value = float_argument("complexity_penalty", bound[1]);
      if (!value) return nullptr;
      config.complexity_penalty = *value;
    }
    if (bound[2] != nullptr) {
      const std::optional<std::uint64_t> value = unsigned_argument("beam_width", bound[2]);
      if (!value) return nullptr;
      config.beam_width = *value;
    }
    if (bound[3] != nullptr) {
      const std::optional<double> value = float_argument("alpha", bound[3]);
      if (!value) return nullptr;
      config.alpha = *value;
    }
    if (bound[4] != nullptr) {
      const std::optional<double> value = float_argument("l1_ratio", bound[4]);
      if (!value) return nullptr;
      config.l1_ratio = *value;
    }
    return make_value_object<SearchConfig>(type, std::move(config));
  });
}

PyObject* get_max_complexity(PyObject* self, void*) {
  return PyLong_FromUnsignedLongLong(config_of(self).max_complexity);
}
PyObject* get_beam_width(PyObject* self, void*) {
  return PyLong_FromUnsignedLongLong(config_of(self).beam_width);
}
PyObject* get_complexity_penalty(PyObject* self, void*) {
  return PyFloat_FromDouble(config_of(self).complexity_penalty);
}
PyObject* get_alpha(PyObject* self, void*) { return PyFloat_FromDouble(config_of(self).alpha); }
PyObject* get_l1_ratio(PyObject* self, void*) {
  return PyFloat_FromDouble(config_of(self).l1_ratio);
}

// The constructor rebuilds an equal searcher from the five settings.
PyObject* reduce(PyObject* self, PyObject*) {
  const SearchConfig& config = config_of(self);
  return Py_BuildValue(
      "(O(KdKdd))", reinterpret_cast<PyObject*>(Py_TYPE(self)),
      static_cast<unsigned long long>(config.max_complexity), config.complexity_penalty,
      static_cast<unsigned long long>(config.beam_width), config.alpha, config.l1_ratio);
}

// A per-call override: absent or None keeps the stored value.
bool override_argument(std::string_view name, PyObject* value, double& field) {
  if (value == nullptr || value == Py_None) return true;
  const std::optional<double> converted = float_argument(name, value);
  if (converted) field = *converted;
  return converted.has_value();
}

// Polled by the search on this thread: runs the interpreter's signal
// handlers, and asks the search to stop once one of them has raised.
SearchControl interrupt_on_signal() {
  SearchControl control;
  control.interrupted = [] { return PyErr_Occurred() != nullptr || PyErr_CheckSignals() < 0; };
  return control;
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
PyObject* finish(Outcome<Value>& outcome) {
  if (!outcome.ok()) return raise_search_error(std::move(outcome.error()));
  if (PyErr_Occurred() != nullptr) return nullptr;
  if constexpr (std::is_same_v<Value, tov::SearchResult>) {
    return wrap_search_result(std::move(outcome.value()));
  } else {
    return wrap_all(outcome.value());
  }
}

PyObject* run(const Method& method, PyObject* self, PyObject* const* args, Py_ssize_t nargs,
              PyObject* kwnames) {
  return guarded([&]() -> PyObject* {
    std::array<PyObject*, 4> slots{};
    const std::span<PyObject*> bound(slots.data(), method.signature.parameters.size());
    if (!bind_fast_call(method.signature, args, nargs, kwnames, bound)) return nullptr;
    const SearchConfig& stored = config_of(self);

    std::optional<double> value;
    if (method.request == Request::Constant) {
      value = float_argument("value", bound[0]);
      if (!value) return nullptr;
    }
    const std::size_t first_override = bound.size() - 2;
    double alpha = stored.alpha;
    double l1_ratio = stored.l1_ratio;
    if (!override_argument("alpha", bound[first_override], alpha) ||
        !override_argument("l1_ratio", bound[first_override + 1], l1_ratio)) {
      return nullptr;
    }

    std::vector<double> xs;
    std::vector<std::vector<double>> inputs;
    std::vector<double> ys;
    if (method.request == Request::Function) {
      std::optional<std::vector<double>> converted = convert_to_vec(bound[0]);
      if (!converted) return nullptr;
      xs = std::move(*converted);
    } else if (method.request != Request::Constant) {
      std::optional<std::vector<std::vector<double>>> converted = convert_to_matrix(bound[0]);
      if (!converted) return nullptr;
      inputs = std::move(*converted);
    }
    if (method.request != Request::Constant) {
      std::optional<std::vector<double>> converted = convert_to_vec(bound[1]);
      if (!converted) return nullptr;
      ys = std::move(*converted);
    }

    SearchConfig config = stored;
    config.alpha = alpha;
    config.l1_ratio = l1_ratio;
    const tov::Searcher searcher(std::move(config), interrupt_on_signal());
    switch (method.request) {
      case Request::Function: {
        Outcome<tov::SearchResult> outcome = searcher.find_function(xs, ys);
        return finish(outcome);
      }
      case Request::Multivariate: {
        Outcome<tov::SearchResult> outcome = searcher.find_multivariate(inputs, ys);
        return finish(outcome);
      }
      case Request::Candidates: {
        Outcome<std::vector<tov::SearchResult>> outcome = searcher.find_candidates(inputs, ys);
        return finish(outcome);
      }
      case Request::Constant: {
        Outcome<tov::SearchResult> outcome = searcher.recognize_constant(*value);
        return finish(outcome);
      }
    }
    return nullptr;
  });
}

PyObject* find_function(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                        PyObject* kwnames) {
  return run(kFindFunction, self, args, nargs, kwnames);
}
PyObject* find_multivariate(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                            PyObject* kwnames) {
  return run(kFindMultivariate, self, args, nargs, kwnames);
}
PyObject* fit(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return run(kFit, self, args, nargs, kwnames);
}
PyObject* find_candidates(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                          PyObject* kwnames) {
  return run(kFindCandidates, self, args, nargs, kwnames);
}
PyObject* recognize_constant(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                             PyObject* kwnames) {
  return run(kRecognizeConstant, self, args, nargs, kwnames);
}

PyGetSetDef getters[] = {
    {"max_complexity", get_max_complexity, nullptr, nullptr, nullptr},
    {"beam_width", get_beam_width, nullptr, nullptr, nullptr},
    {"complexity_penalty", get_complexity_penalty, nullptr, nullptr, nullptr},
    {"alpha", get_alpha, nullptr, nullptr, nullptr},
    {"l1_ratio", get_l1_ratio, nullptr, nullptr, nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyMethodDef methods[] = {
    {"find_function", fast_call<find_function>(), METH_FASTCALL | METH_KEYWORDS,
     "find_function($self, xs, ys, alpha=None, l1_ratio=None)\n--\n\n"
     "Finds a univariate function f(x) ≈ y.\nSupports both Python lists and NumPy arrays."},
    {"find_multivariate", fast_call<find_multivariate>(), METH_FASTCALL | METH_KEYWORDS,
     "find_multivariate($self, inputs, ys, alpha=None, l1_ratio=None)\n--\n\n"
     "Finds a multivariate function f(x0, x1, ...) ≈ y.\n"
     "Inputs should be a 2D array-like structure."},
    {"fit", fast_call<fit>(), METH_FASTCALL | METH_KEYWORDS,
     "fit($self, inputs, ys, alpha=None, l1_ratio=None)\n--\n\n"
     "Alias for find_multivariate (Scikit-Learn style)."},
    {"find_candidates", fast_call<find_candidates>(), METH_FASTCALL | METH_KEYWORDS,
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
    {Py_tp_getset, getters},
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
