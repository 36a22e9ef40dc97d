// The Python class SearchResult: one found formula, with its attributes,
// evaluation on new inputs, renderings, representation and pickling. Objects
// are made only by Searcher's methods and by unpickling, and are immutable.
#pragma once

#include <Python.h>

#include "result/search_result.hpp"

namespace tov::python {

// The class, created on first use and kept for the life of the process.
// Borrowed reference, or null with an exception set.
PyObject* search_result_type();

// A new SearchResult object that takes over `result`, or null with an
// exception set.
PyObject* wrap_search_result(tov::SearchResult&& result);

}  // namespace tov::python
