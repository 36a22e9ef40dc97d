// Input conversion: NumPy fast paths and the generic sequence path.
//
// NumPy's C API is reached through the table in its `_ARRAY_API` capsule,
// loaded on the first conversion rather than at module import, so importing
// tov_sr never imports NumPy. When NumPy cannot be imported at all, no object
// can be one of its arrays, and every input takes the generic path.
#include "python/conversion.hpp"

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <string>
#include <utility>

#include "python/errors.hpp"
#include "python/py_ref.hpp"

// The header defines a file-local API table, filled in by load_numpy_api, and
// an importer that this file replaces and so never calls.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wunused-function"
#include <numpy/arrayobject.h>
#pragma GCC diagnostic pop

namespace tov::python {

namespace {

constexpr const char* kVecMessage = "Input must be a 1D list or NumPy array of floats";
constexpr const char* kMatrixMessage = "Input must be a 2D list or 2D NumPy array of floats";
constexpr const char* kNotContiguousMessage = "The given array is not contiguous";
constexpr const char* kCapsuleMessage = "Failed to access NumPy array API capsule";

enum class NumpyState { Unloaded, Loaded, Absent };

// Guarded by the interpreter lock; the descriptor is kept for the life of the
// process, like the API table it comes from.
NumpyState numpy_state = NumpyState::Unloaded;
PyArray_Descr* double_descr = nullptr;

// Replaces the pending exception (if any) by the capsule failure, keeping the
// original as its cause. Returns false for the caller to pass on.
bool capsule_failure(const char* detail = nullptr) {
  PyArray_API = nullptr;
  PyRef cause = fetch_exception();
  std::string message = kCapsuleMessage;
  if (detail != nullptr) {
    message.append(": ").append(detail);
  } else if (cause) {
    PyRef text(PyObject_Str(cause.get()));
    Py_ssize_t size = 0;
    const char* utf8 = text ? PyUnicode_AsUTF8AndSize(text.get(), &size) : nullptr;
    if (utf8 == nullptr) return false;
    message.append(": ").append(utf8, static_cast<std::size_t>(size));
  }
  PyRef context = PyRef::borrow(cause.get());
  raise_with_cause(PyExc_RuntimeError, message, std::move(cause), std::move(context));
  return false;
}

// Fills the API table from the capsule of the multiarray module that matches
// the installed NumPy's major version. False with RuntimeError set.
bool load_numpy_api() {
  PyRef numpy(PyImport_ImportModule("numpy"));
  if (!numpy) {
    if (PyErr_ExceptionMatches(PyExc_ImportError)) {
      PyErr_Clear();
      numpy_state = NumpyState::Absent;
      return true;
    }
    return capsule_failure();
  }
  PyRef version(PyObject_GetAttrString(numpy.get(), "__version__"));
  if (!version) return capsule_failure();
  PyRef lib(PyImport_ImportModule("numpy.lib"));
  if (!lib) return capsule_failure();
  PyRef version_type(PyObject_GetAttrString(lib.get(), "NumpyVersion"));
  if (!version_type) return capsule_failure();
  PyRef parsed(PyObject_CallOneArg(version_type.get(), version.get()));
  if (!parsed) return capsule_failure();
  PyRef major(PyObject_GetAttrString(parsed.get(), "major"));
  if (!major) return capsule_failure();
  const long major_value = PyLong_AsLong(major.get());
  if (major_value == -1 && PyErr_Occurred() != nullptr) return capsule_failure();

  PyRef multiarray(
      PyImport_ImportModule(major_value >= 2 ? "numpy._core.multiarray" : "numpy.core.multiarray"));
  if (!multiarray) return capsule_failure();
  PyRef capsule(PyObject_GetAttrString(multiarray.get(), "_ARRAY_API"));
  if (!capsule) return capsule_failure();
  if (!PyCapsule_CheckExact(capsule.get())) return capsule_failure("_ARRAY_API is not a capsule");
  PyArray_API = static_cast<void**>(PyCapsule_GetPointer(capsule.get(), nullptr));
  if (PyArray_API == nullptr) return capsule_failure();

  // The same compatibility checks as NumPy's own importer.
  if (NPY_VERSION < PyArray_GetNDArrayCVersion()) {
    return capsule_failure("NumPy's ABI version is newer than the one compiled against");
  }
  PyArray_RUNTIME_VERSION = static_cast<int>(PyArray_GetNDArrayCFeatureVersion());
  if (NPY_FEATURE_VERSION > PyArray_RUNTIME_VERSION) {
    return capsule_failure("NumPy's C-API version is older than the one compiled against");
  }
  double_descr = PyArray_DescrFromType(NPY_DOUBLE);
  if (double_descr == nullptr) return capsule_failure();
  numpy_state = NumpyState::Loaded;
  return true;
}

// The object as a float64 array (NumPy's array type or a subtype, with
// elements equivalent to native doubles), or null when it is none. No value
// means the API table could not be loaded (RuntimeError set).
std::optional<PyArrayObject*> as_float64_array(PyObject* object) {
  if (numpy_state == NumpyState::Unloaded && !load_numpy_api()) return std::nullopt;
  if (numpy_state == NumpyState::Absent || !PyArray_Check(object)) return nullptr;
  auto* array = reinterpret_cast<PyArrayObject*>(object);
  return PyArray_EquivTypes(PyArray_DESCR(array), double_descr) ? array : nullptr;
}

// A sequence may report any length, so its length only sizes the buffer up
// to this many elements; a longer one grows as it is read.
constexpr Py_ssize_t kMaxReservedElements = Py_ssize_t{1} << 20;

template <class Vector>
void reserve_hint(Vector& vector, Py_ssize_t hint) {
  vector.reserve(static_cast<std::size_t>(std::min(hint, kMaxReservedElements)));
}

// The generic sequence rule: no str, the sequence protocol required, each
// element read by `read_element` in iteration order. False on any failure,
// with or without an exception set (the callers replace it).
template <class T, class ReadElement>
bool read_generic(PyObject* object, std::vector<T>& out, ReadElement read_element) {
  if (PyUnicode_Check(object) || !PySequence_Check(object)) return false;
  Py_ssize_t hint = PySequence_Size(object);
  if (hint < 0) {
    PyErr_Clear();
    hint = 0;
  }
  reserve_hint(out, hint);
  PyRef iterator(PyObject_GetIter(object));
  if (!iterator) return false;
  while (PyRef item{PyIter_Next(iterator.get())}) {
    if (!read_element(item.get(), out)) return false;
  }
  return PyErr_Occurred() == nullptr;
}

// Each element by the float rule.
bool read_sequence(PyObject* object, std::vector<double>& out) {
  return read_generic(object, out, [](PyObject* item, std::vector<double>& values) {
    const std::optional<double> value = double_from_object(item);
    if (value) values.push_back(*value);
    return value.has_value();
  });
}

// Each element a row read by the float rule.
bool read_nested_sequence(PyObject* object, std::vector<std::vector<double>>& out) {
  return read_generic(object, out, [](PyObject* item, std::vector<std::vector<double>>& rows) {
    std::vector<double> row;
    if (!read_sequence(item, row)) return false;
    rows.push_back(std::move(row));
    return true;
  });
}

// The generic path's failures all become one ValueError that carries neither
// the original error as cause nor as context.
void replace_with_value_error(const char* message) {
  PyErr_Clear();
  PyErr_SetString(PyExc_ValueError, message);
}

}  // namespace

std::optional<double> double_from_object(PyObject* object) {
  if (PyFloat_CheckExact(object)) return PyFloat_AS_DOUBLE(object);
  const double value = PyFloat_AsDouble(object);
  if (value == -1.0 && PyErr_Occurred() != nullptr) return std::nullopt;
  return value;
}

std::optional<std::vector<double>> convert_to_vec(PyObject* object) {
  const std::optional<PyArrayObject*> array = as_float64_array(object);
  if (!array) return std::nullopt;
  if (*array != nullptr && PyArray_NDIM(*array) == 1) {
    const int flags = PyArray_FLAGS(*array);
    const char* data = PyArray_BYTES(*array);
    if ((flags & (NPY_ARRAY_C_CONTIGUOUS | NPY_ARRAY_F_CONTIGUOUS)) == 0 || data == nullptr) {
      PyErr_SetString(PyExc_TypeError, kNotContiguousMessage);
      return std::nullopt;
    }
    std::vector<double> values(static_cast<std::size_t>(PyArray_DIM(*array, 0)));
    if (!values.empty()) std::memcpy(values.data(), data, values.size() * sizeof(double));
    return values;
  }
  std::vector<double> values;
  if (!read_sequence(object, values)) {
    replace_with_value_error(kVecMessage);
    return std::nullopt;
  }
  return values;
}

std::optional<std::vector<std::vector<double>>> convert_to_matrix(PyObject* object) {
  const std::optional<PyArrayObject*> array = as_float64_array(object);
  if (!array) return std::nullopt;
  if (*array != nullptr && PyArray_NDIM(*array) == 2) {
    const npy_intp row_count = PyArray_DIM(*array, 0);
    const npy_intp column_count = PyArray_DIM(*array, 1);
    const npy_intp row_stride = PyArray_STRIDE(*array, 0);
    const npy_intp column_stride = PyArray_STRIDE(*array, 1);
    const bool adjacent =
        column_stride == static_cast<npy_intp>(sizeof(double)) || column_count < 2;
    const char* data = PyArray_BYTES(*array);
    std::vector<std::vector<double>> rows(static_cast<std::size_t>(row_count));
    for (npy_intp i = 0; i < row_count; ++i) {
      std::vector<double>& row = rows[static_cast<std::size_t>(i)];
      row.resize(static_cast<std::size_t>(column_count));
      const char* row_start = data + i * row_stride;
      // memcpy also copes with elements that are not aligned for double.
      if (adjacent) {
        if (!row.empty()) std::memcpy(row.data(), row_start, row.size() * sizeof(double));
      } else {
        for (npy_intp j = 0; j < column_count; ++j) {
          std::memcpy(&row[static_cast<std::size_t>(j)], row_start + j * column_stride,
                      sizeof(double));
        }
      }
    }
    return rows;
  }
  std::vector<std::vector<double>> rows;
  if (!read_nested_sequence(object, rows)) {
    replace_with_value_error(kMatrixMessage);
    return std::nullopt;
  }
  return rows;
}

}  // namespace tov::python
