// The extension module tov_sr: created once per process by single-phase
// initialisation and bound to the first interpreter that imports it.
#include <Python.h>

#include <array>
#include <atomic>
#include <csignal>
#include <cstdint>
#include <deque>
#include <string>
#include <string_view>

#include "cluster/checkpoint.hpp"
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

constexpr std::array<Parameter, 3> kFaultParameters = {
    {{"level", ParameterKind::Optional, "None"},
     {"step", ParameterKind::Optional, "None"},
     {"action", ParameterKind::Optional, "None"}}};
const Signature kFaultSignature{"_checkpoint_fault()", kFaultParameters};

// For tests: at `step` ("write", "sync", "rename" or "renamed": before the
// temporary file is written, before it is synced, before it is renamed, or
// after) of writing `level`, the process kills itself ("kill") or the write
// fails as on a full disk ("fail"). Without arguments, no fault.
PyObject* checkpoint_fault(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return guarded([&]() -> PyObject* {
    std::array<PyObject*, kFaultParameters.size()> bound{};
    if (!bind_fast_call(kFaultSignature, args, nargs, kwnames, bound)) return nullptr;
    PyObject* const level_argument = bound[at<kFaultParameters>("level")];
    PyObject* const step_argument = bound[at<kFaultParameters>("step")];
    PyObject* const action_argument = bound[at<kFaultParameters>("action")];
    if (level_argument == nullptr || level_argument == Py_None) {
      set_checkpoint_hook(nullptr);
      Py_RETURN_NONE;
    }
    const std::optional<std::uint64_t> level = unsigned_argument("level", level_argument);
    if (!level) return nullptr;
    const char* step_text = step_argument != nullptr && PyUnicode_Check(step_argument)
                                ? PyUnicode_AsUTF8(step_argument)
                                : nullptr;
    const char* action_text = action_argument != nullptr && PyUnicode_Check(action_argument)
                                  ? PyUnicode_AsUTF8(action_argument)
                                  : nullptr;
    if (step_text == nullptr || action_text == nullptr)
      return raise_message(PyExc_TypeError, "step and action must be strings");
    const std::string_view names[] = {"write", "sync", "rename", "renamed"};
    std::optional<WriteStep> step;
    for (std::size_t i = 0; i < std::size(names); ++i)
      if (names[i] == step_text) step = static_cast<WriteStep>(i);
    const std::string_view action = action_text;
    if (!step || (action != "kill" && action != "fail"))
      return raise_message(PyExc_ValueError, "unknown step or action");
    const bool kill = action == "kill";
    set_checkpoint_hook([at = *level, where = *step, kill](std::uint64_t l, WriteStep s) {
      if (l != at || s != where) return true;
      if (kill) std::raise(SIGKILL);
      return false;
    });
    Py_RETURN_NONE;
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

// A function's docstring with the text signature of its parameter table
// (none: "()"), kept for the life of the process.
const char* with_text_signature(std::string_view name, std::string_view doc,
                                std::span<const Parameter> parameters = {},
                                std::string_view self = "") {
  static std::deque<std::string> texts;
  return texts.emplace_back(signed_doc(name, text_signature(parameters, self), doc)).c_str();
}

PyMethodDef module_functions[] = {
    {"math_signature", math_signature, METH_NOARGS,
     with_text_signature("math_signature", stub_doc::math_signature)},
    {"__getattr__", module_getattr, METH_O,
     "__getattr__($module, name, /)\n--\n\nThe attributes made on first use: __version__."},
    {"_distributed_call", fast_call<distributed_call>(), METH_FASTCALL | METH_KEYWORDS,
     distributed_call_doc()},
    {"_checkpoint_fault", fast_call<checkpoint_fault>(), METH_FASTCALL | METH_KEYWORDS,
     with_text_signature("_checkpoint_fault",
                         "For tests: a fault at one moment of writing a checkpoint level.",
                         kFaultParameters, "$module")},
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
                 PyRef(PyObject_GetAttrString(module.get(), "math_signature")).get()) ||
      !add_entry(module.get(), "TovCheckpointWarning", checkpoint_warning_type())) {
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
