// PyRef: an owning reference to a Python object, released on destruction, so
// that early returns on failure cannot leak. Requires the interpreter lock
// wherever a reference is taken or dropped.
#pragma once

#include <Python.h>

#include <utility>

namespace tov::python {

class PyRef {
 public:
  PyRef() = default;
  // Takes over a new reference (null allowed: the result of a failed call).
  explicit PyRef(PyObject* owned) noexcept : object_(owned) {}
  // Takes a new reference to a borrowed object.
  static PyRef borrow(PyObject* borrowed) noexcept {
    Py_XINCREF(borrowed);
    return PyRef(borrowed);
  }

  PyRef(PyRef&& other) noexcept : object_(std::exchange(other.object_, nullptr)) {}
  PyRef& operator=(PyRef&& other) noexcept {
    if (this != &other) {
      Py_XDECREF(std::exchange(object_, std::exchange(other.object_, nullptr)));
    }
    return *this;
  }
  PyRef(const PyRef&) = delete;
  PyRef& operator=(const PyRef&) = delete;
  ~PyRef() { Py_XDECREF(object_); }

  PyObject* get() const noexcept { return object_; }
  explicit operator bool() const noexcept { return object_ != nullptr; }
  // Hands the reference to the caller (for returning to the interpreter or
  // to an API that steals it).
  [[nodiscard]] PyObject* release() noexcept { return std::exchange(object_, nullptr); }

 private:
  PyObject* object_ = nullptr;
};

}  // namespace tov::python
