// The Python class Searcher: holds one search configuration, fixed at
// construction, and runs the four kinds of search on Python inputs.
#pragma once

#include <Python.h>

namespace tov::python {

// The class, created on first use and kept for the life of the process.
// Borrowed reference, or null with an exception set.
PyObject* searcher_type();

}  // namespace tov::python
