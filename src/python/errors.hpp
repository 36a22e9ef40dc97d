// Python exceptions of the module: the three exception types, the mapping of
// native search errors onto them, and the boundary that keeps C++ exceptions
// out of the interpreter. Everything here runs with the interpreter lock held.
#pragma once

#include <Python.h>

#include <exception>
#include <optional>
#include <string>
#include <string_view>

#include "python/py_ref.hpp"
#include "result/search_error.hpp"

namespace tov::python {

// The exception types, created on first use and kept for the life of the
// process. Each returns a borrowed reference, or null with an exception set.
PyObject* dimension_error_type();
PyObject* complexity_error_type();
PyObject* runtime_error_type();
// The warning a search issues when its time limit cut it short (a
// UserWarning).
PyObject* time_limit_warning_type();
// tov_sr.TovCheckpointWarning, a RuntimeWarning.
PyObject* checkpoint_warning_type();

// A Python exception ready to be raised: its type (borrowed) and message.
struct MappedError {
  PyObject* type = nullptr;
  std::string message;
};

// The exception for a search error: NoFormulaFound and MemoryLimitExceeded
// give TovComplexityError, InvalidInput TovDimensionError, InvalidValue
// ValueError, ArityMismatch
// TovRuntimeError, Interrupted KeyboardInterrupt. Null with an exception set
// when an exception type cannot be created.
std::optional<MappedError> map_error(SearchError error);

// Raises the mapped exception and returns null. An interrupted search keeps
// the exception its interruption left pending (normally KeyboardInterrupt).
PyObject* raise_search_error(SearchError error);

// Raises `type` with a message given as UTF-8 text; returns null.
PyObject* raise_message(PyObject* type, std::string_view message);

// Raises `type` with `message`, raised while `context` was being handled and
// caused by `cause` (as `raise ... from cause` inside an except block would);
// either may be null. Returns null.
PyObject* raise_with_cause(PyObject* type, std::string_view message, PyRef cause, PyRef context);

// Takes the pending exception, normalised, off the error indicator.
PyRef fetch_exception();
// Makes `exception` the pending exception.
void restore_exception(PyRef exception);

// Sets the pending Python exception from the C++ exception being handled:
// std::bad_alloc gives MemoryError, anything else RuntimeError. Call only
// inside a catch block.
void raise_from_current_exception() noexcept;

// The try/catch boundary of one binding: runs `body` and turns any C++
// exception it throws into a Python exception and a null result.
template <class Body>
PyObject* guarded(Body&& body) noexcept {
  try {
    return body();
  } catch (...) {
    raise_from_current_exception();
    return nullptr;
  }
}

}  // namespace tov::python
