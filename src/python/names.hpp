// The variable names of a search (variable_names=, or a table's column
// names) and their Python spellings.
#pragma once

#include <Python.h>

#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "result/variable_names.hpp"

namespace tov::python {

// The names, their LaTeX (result/variable_names.hpp) and distinct valid
// Python identifiers: a name that is one stays as it is, unless it is a
// keyword or "np" (which the renderings use for NumPy), which get a '_'
// appended; in others each character that cannot be in an identifier
// becomes '_', and '_' goes before a leading digit; a name that would
// repeat an earlier one gets '_' appended until it does not. Null with an
// exception set when Python cannot say.
std::shared_ptr<const VariableNames> make_variable_names(std::vector<std::string> names);

// Why these names cannot name variables (one empty, two equal), if they
// cannot. `what` names them in the reason ("variable_names").
std::optional<std::string> names_problem(std::span<const std::string> names,
                                         const std::string& what);

// The names for a search: `value` (borrowed, null or None when absent) is
// a sequence of str, one per input column (a single str too with
// `one_column`, as for find_function); without it the names a table gave
// (`table_names`), if any. Null when there are none. No value with
// TypeError or ValueError set when `value` is unusable.
std::optional<std::shared_ptr<const VariableNames>> read_variable_names(
    PyObject* value, std::span<const std::vector<double>> rows, bool one_column,
    const std::optional<std::vector<std::string>>& table_names);

}  // namespace tov::python
