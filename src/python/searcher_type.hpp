// The Python class Searcher: holds one search configuration, fixed at
// construction, and runs the four kinds of search on Python inputs.
#pragma once

#include <Python.h>

#include "cluster/distributed.hpp"

namespace tov::python {

// The class, created on first use and kept for the life of the process.
// Borrowed reference, or null with an exception set.
PyObject* searcher_type();

// Calls `method`, a bound search method of a Searcher, with the positional
// `args` (a tuple) and `kwargs` (a dict, or null), its levels evaluated by
// the workers `transport` reaches.
PyObject* call_search_method(PyObject* method, PyObject* args, PyObject* kwargs,
                             ShardTransport& transport);

}  // namespace tov::python
