// Exception types, search-error mapping and the C++ exception boundary.
#include "python/errors.hpp"

#include <new>
#include <type_traits>
#include <utility>
#include <variant>

#include "python/stub_docs.hpp"

namespace tov::python {

namespace {

// Created once and never released: the module and every raise share it.
PyObject* exception_type(PyObject*& slot, const char* qualified_name, const char* doc = nullptr,
                         PyObject* base = PyExc_Exception) {
  if (slot == nullptr) {
    slot = PyErr_NewExceptionWithDoc(qualified_name, doc, base, nullptr);
  }
  return slot;
}

}  // namespace

PyObject* dimension_error_type() {
  static PyObject* type = nullptr;
  return exception_type(type, "tov_sr.TovDimensionError");
}

PyObject* complexity_error_type() {
  static PyObject* type = nullptr;
  return exception_type(type, "tov_sr.TovComplexityError");
}

PyObject* runtime_error_type() {
  static PyObject* type = nullptr;
  return exception_type(type, "tov_sr.TovRuntimeError");
}

PyObject* time_limit_warning_type() {
  static PyObject* type = nullptr;
  return exception_type(type, "tov_sr.TovTimeLimitWarning", stub_doc::TovTimeLimitWarning,
                        PyExc_UserWarning);
}

PyObject* checkpoint_warning_type() {
  static PyObject* type = nullptr;
  return exception_type(type, "tov_sr.TovCheckpointWarning",
                        "A checkpoint file cannot be written; the search goes on without "
                        "checkpoints.",
                        PyExc_RuntimeWarning);
}

std::optional<MappedError> map_error(SearchError error) {
  PyObject* type = std::visit(
      [](const auto& e) -> PyObject* {
        using Kind = std::decay_t<decltype(e)>;
        if constexpr (std::is_same_v<Kind, NoFormulaFound> ||
                      std::is_same_v<Kind, MemoryLimitExceeded>) {
          return complexity_error_type();
        } else if constexpr (std::is_same_v<Kind, InvalidInput>) {
          return dimension_error_type();
        } else if constexpr (std::is_same_v<Kind, InvalidValue>) {
          return PyExc_ValueError;
        } else if constexpr (std::is_same_v<Kind, ArityMismatch>) {
          return runtime_error_type();
        } else {
          static_assert(std::is_same_v<Kind, Interrupted>);
          return PyExc_KeyboardInterrupt;
        }
      },
      error);
  if (type == nullptr) return std::nullopt;
  return MappedError{type, error_message(error)};
}

PyObject* raise_search_error(SearchError error) {
  if (std::holds_alternative<Interrupted>(error) && PyErr_Occurred() != nullptr) return nullptr;
  std::optional<MappedError> mapped = map_error(std::move(error));
  if (!mapped) return nullptr;
  return raise_message(mapped->type, mapped->message);
}

PyObject* raise_message(PyObject* type, std::string_view message) {
  PyRef text(PyUnicode_FromStringAndSize(message.data(), static_cast<Py_ssize_t>(message.size())));
  if (text) PyErr_SetObject(type, text.get());
  return nullptr;
}

PyObject* raise_with_cause(PyObject* type, std::string_view message, PyRef cause, PyRef context) {
  PyRef text(PyUnicode_FromStringAndSize(message.data(), static_cast<Py_ssize_t>(message.size())));
  if (!text) return nullptr;
  PyRef exception(PyObject_CallOneArg(type, text.get()));
  if (!exception) return nullptr;
  // Both calls steal the reference they are given.
  if (context) PyException_SetContext(exception.get(), context.release());
  if (cause) PyException_SetCause(exception.get(), cause.release());
  restore_exception(std::move(exception));
  return nullptr;
}

PyRef fetch_exception() {
#if PY_VERSION_HEX >= 0x030C0000
  return PyRef(PyErr_GetRaisedException());
#else
  PyObject* type = nullptr;
  PyObject* value = nullptr;
  PyObject* traceback = nullptr;
  PyErr_Fetch(&type, &value, &traceback);
  if (type == nullptr) return PyRef();
  PyErr_NormalizeException(&type, &value, &traceback);
  if (traceback != nullptr && value != nullptr) PyException_SetTraceback(value, traceback);
  Py_DECREF(type);
  Py_XDECREF(traceback);
  return PyRef(value);
#endif
}

void restore_exception(PyRef exception) {
#if PY_VERSION_HEX >= 0x030C0000
  PyErr_SetRaisedException(exception.release());
#else
  PyObject* value = exception.release();
  if (value == nullptr) return;
  PyObject* type = reinterpret_cast<PyObject*>(Py_TYPE(value));
  Py_INCREF(type);
  PyErr_Restore(type, value, PyException_GetTraceback(value));
#endif
}

void raise_from_current_exception() noexcept {
  try {
    throw;
  } catch (const std::bad_alloc&) {
    PyErr_NoMemory();
  } catch (const std::exception& e) {
    PyErr_SetString(PyExc_RuntimeError, e.what());
  } catch (...) {
    PyErr_SetString(PyExc_RuntimeError, "unknown internal error");
  }
}

}  // namespace tov::python
