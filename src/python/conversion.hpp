// Conversion of Python inputs to native numbers: single floats, vectors
// (targets, one variable) and matrices (samples by variables). Lists, tuples
// and other sequences go through the interpreter's protocols; float64 NumPy
// arrays are copied directly. All functions need the interpreter lock, borrow
// their argument and may run arbitrary Python code of the element types.
#pragma once

#include <Python.h>

#include <optional>
#include <vector>

namespace tov::python {

// The float rule: an exact float gives its value, anything else goes through
// the interpreter's float conversion. No value means an exception is set.
std::optional<double> double_from_object(PyObject* object);

// A one-dimensional float64 array (contiguous, else TypeError) or any
// sequence of numbers except str; otherwise ValueError.
std::optional<std::vector<double>> convert_to_vec(PyObject* object);

// A two-dimensional float64 array of any strides, or a sequence of sequences
// of numbers; rows may differ in length. Otherwise ValueError.
std::optional<std::vector<std::vector<double>>> convert_to_matrix(PyObject* object);

}  // namespace tov::python
