// The Python side of a distributed search: the worker engine type
// (tov_sr._Engine), the transport that carries messages through a Python
// object (a Dask client in tov_sr_tools), and the function that runs a
// Searcher method through it (tov_sr._distributed_call).
#pragma once

#include <Python.h>

#include "cluster/distributed.hpp"

namespace tov::python {

// The worker engine type; borrowed reference, or null with an exception set.
PyObject* engine_type();

// tov_sr._distributed_call(transport, method, args, kwargs): calls the bound
// Searcher method with its arguments, its levels evaluated through
// `transport`. A fast call with keywords.
PyObject* distributed_call(PyObject* module, PyObject* const* args, Py_ssize_t nargs,
                           PyObject* kwnames);

// Its docstring, with the text signature of its parameter table.
const char* distributed_call_doc();

}  // namespace tov::python
