// The extension module tov_sr: created once per process by single-phase
// initialisation and bound to the first interpreter that imports it.
#include <Python.h>

#include <array>
#include <atomic>
#include <cstdint>
#include <deque>
#include <string>
#include <string_view>

#include "ops/math_signature.hpp"
#include "python/binding.hpp"
#include "python/distributed.hpp"
#include "python/errors.hpp"
#include "python/level_report.hpp"
#include "python/py_ref.hpp"
#include "python/search_result_type.hpp"
#include "python/searcher_type.hpp"
#include "python/stub_docs.hpp"

namespace tov::python {

namespace {

constexpr int kApiVersion = 1013;

// The math behaviour of this process, as a short string.
PyObject* math_signature(PyObject*, PyObject*) {
  return guarded([] {
    const std::string signature = vmath::math_signature();
    return PyUnicode_FromStringAndSize(signature.data(), static_cast<Py_ssize_t>(signature.size()));
  });
}

// The version of the installed distribution, read from its metadata, so the
// number lives in one place (pyproject.toml); "unknown" for a module loaded
// from outside an installation.
PyRef package_version() {
  PyRef metadata(PyImport_ImportModule("importlib.metadata"));
  if (!metadata) return PyRef();
  PyRef version(PyObject_CallMethod(metadata.get(), "version", "s", "tov_sr"));
  // PackageNotFoundError is a ModuleNotFoundError.
  if (version || !PyErr_ExceptionMatches(PyExc_ModuleNotFoundError)) return version;
  PyErr_Clear();
  return PyRef(PyUnicode_FromString("unknown"));
}

// Module attributes made on first use: reading the metadata costs an import
// that `import tov_sr` should not pay.
PyObject* module_getattr(PyObject* module, PyObject* name) {
  return guarded([&]() -> PyObject* {
    if (PyUnicode_Check(name) && PyUnicode_CompareWithASCIIString(name, "__version__") == 0) {
      PyRef version = package_version();
      if (!version || PyObject_SetAttr(module, name, version.get()) < 0) return nullptr;
      return version.release();
    }
    PyErr_Format(PyExc_AttributeError, "module 'tov_sr' has no attribute '%U'", name);
    return nullptr;
  });
}

// A function without parameters: its docstring with the signature "()".
const char* with_text_signature(std::string_view name, std::string_view doc) {
  static std::deque<std::string> texts;
  return texts.emplace_back(signed_doc(name, text_signature({}, ""), doc)).c_str();
}

PyMethodDef module_functions[] = {
    {"math_signature", math_signature, METH_NOARGS,
     with_text_signature("math_signature", stub_doc::math_signature)},
    {"__getattr__", module_getattr, METH_O,
     "__getattr__($module, name, /)\n--\n\nThe attributes made on first use: __version__."},
    {"_distributed_call", fast_call<distributed_call>(), METH_FASTCALL | METH_KEYWORDS,
     distributed_call_doc()},
    {nullptr, nullptr, 0, nullptr},
};

PyModuleDef module_definition = {
    PyModuleDef_HEAD_INIT,
    "tov_sr",
    stub_doc::tov_sr,
    0,  // no per-module state
    module_functions,
    nullptr,
    nullptr,
    nullptr,
    nullptr,
};

// The process's types and the module live in one interpreter only.
std::atomic<std::int64_t> bound_interpreter{-1};
PyObject* module_object = nullptr;

// Appends `name` to the module's __all__ (made when missing), then sets the
// attribute. False with an exception set.
bool add_entry(PyObject* module, std::string_view name, PyObject* object) {
  if (object == nullptr) return false;
  PyRef key(PyUnicode_FromStringAndSize(name.data(), static_cast<Py_ssize_t>(name.size())));
  if (!key) return false;
  PyRef all_key(PyUnicode_FromString("__all__"));
  if (!all_key) return false;
  PyRef all(PyObject_GetAttr(module, all_key.get()));
  if (!all) {
    if (!PyErr_ExceptionMatches(PyExc_AttributeError)) return false;
    PyErr_Clear();
    all = PyRef(PyList_New(0));
    if (!all || PyObject_SetAttr(module, all_key.get(), all.get()) < 0) return false;
  }
  return PyList_Append(all.get(), key.get()) == 0 &&
         PyObject_SetAttr(module, key.get(), object) == 0;
}

PyObject* initialise() {
  const std::int64_t interpreter = PyInterpreterState_GetID(PyInterpreterState_Get());
  if (interpreter < 0) return nullptr;
  std::int64_t expected = -1;
  if (!bound_interpreter.compare_exchange_strong(expected, interpreter) &&
      expected != interpreter) {
    PyErr_SetString(PyExc_ImportError,
                    "tov_sr cannot be imported into more than one interpreter per process");
    return nullptr;
  }
  if (module_object != nullptr) return PyRef::borrow(module_object).release();

  PyRef module(PyModule_Create2(&module_definition, kApiVersion));
  if (!module) return nullptr;
  if (!add_entry(module.get(), "Searcher", searcher_type()) ||
      !add_entry(module.get(), "SearchResult", search_result_type()) ||
      !add_entry(module.get(), "TovDimensionError", dimension_error_type()) ||
      !add_entry(module.get(), "TovComplexityError", complexity_error_type()) ||
      !add_entry(module.get(), "TovRuntimeError", runtime_error_type()) ||
      !add_entry(module.get(), "TovTimeLimitWarning", time_limit_warning_type()) ||
      !add_entry(module.get(), "LevelReport", level_report_type()) ||
      !add_entry(module.get(), "math_signature",
                 PyRef(PyObject_GetAttrString(module.get(), "math_signature")).get())) {
    return nullptr;
  }
  // Private: the worker side of a distributed search.
  PyObject* engine = engine_type();
  if (engine == nullptr || PyObject_SetAttrString(module.get(), "_Engine", engine) < 0) {
    return nullptr;
  }
  module_object = PyRef::borrow(module.get()).release();
  return module.release();
}

}  // namespace

}  // namespace tov::python

PyMODINIT_FUNC PyInit_tov_sr() {
  return tov::python::guarded([] { return tov::python::initialise(); });
}
