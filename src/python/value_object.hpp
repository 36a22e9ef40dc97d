// Python objects that hold one C++ value inline after the object header.
//
// The value lives in raw aligned storage so the object struct stays
// standard-layout (and so interconvertible with PyObject*), whatever T is.
#pragma once

#include <Python.h>

#include <new>
#include <utility>

namespace tov::python {

template <class T>
struct ValueObject {
  PyObject ob_base;
  alignas(T) unsigned char storage[sizeof(T)];

  static T& of(PyObject* self) {
    return *std::launder(reinterpret_cast<T*>(reinterpret_cast<ValueObject*>(self)->storage));
  }
};

// A new instance of `type` holding T(args...), or null with an exception set.
// Allocates through the type's allocation slot.
template <class T, class... Args>
PyObject* make_value_object(PyTypeObject* type, Args&&... args) {
  auto alloc = reinterpret_cast<allocfunc>(PyType_GetSlot(type, Py_tp_alloc));
  if (alloc == nullptr) {
    if (PyErr_Occurred() != nullptr) return nullptr;
    alloc = PyType_GenericAlloc;
  }
  PyObject* self = alloc(type, 0);
  if (self == nullptr) return nullptr;
  try {
    ::new (static_cast<void*>(reinterpret_cast<ValueObject<T>*>(self)->storage))
        T(std::forward<Args>(args)...);
  } catch (...) {
    // The value never existed: free the bare object without running T's
    // destructor, then let the caller's boundary translate the exception.
    type->tp_free(self);
    Py_DECREF(type);
    throw;
  }
  return self;
}

// Flags of the module's classes: plain heap types, immutable where the
// interpreter supports it.
inline constexpr unsigned int kClassFlags = static_cast<unsigned int>(
#ifdef Py_TPFLAGS_IMMUTABLETYPE
    Py_TPFLAGS_DEFAULT | Py_TPFLAGS_IMMUTABLETYPE
#else
    Py_TPFLAGS_DEFAULT
#endif
);

// The type made from `spec` on first call, the same object afterwards; null
// with an exception set when it cannot be made. Called with the interpreter
// lock held, which guards the one-time creation.
inline PyObject* class_from_spec(PyType_Spec& spec, PyObject*& cache) {
  if (cache == nullptr) cache = PyType_FromSpec(&spec);
  return cache;
}

// tp_dealloc of such a type: destroys the value, frees the object and drops
// the instance's reference to its heap type.
template <class T>
void dealloc_value_object(PyObject* self) {
  PyTypeObject* type = Py_TYPE(self);
  ValueObject<T>::of(self).~T();
  type->tp_free(self);
  Py_DECREF(type);
}

}  // namespace tov::python
