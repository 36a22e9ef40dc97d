// LevelReport: the read-only record a search's level callback receives after
// each completed level.
#pragma once

#include <Python.h>

#include "search/search_control.hpp"

namespace tov::python {

// The class (a named tuple type), created on first use and kept for the
// life of the process. Borrowed reference, or null with an exception set.
PyObject* level_report_type();

// A new record for `report`, or null with an exception set.
PyObject* make_level_report(const LevelReport& report);

}  // namespace tov::python
