// The pickle state of SearchResult: plain Python values from which a result
// is rebuilt bit for bit in any process,
//   (1, error, ((kind, arity, index, op_id, re, im), ...)),
// the format version, the error, then one tuple per token in postfix order
// (kind as the TokenKind number; re and im the token's value). A result of
// a search with physical units adds its record as a fourth item,
//   ((group tokens, ...), monomial tokens or None, reduced formula tokens),
// each formula's tokens as above. A result whose variables are named adds
// the names as a fifth item, a tuple of str (the fourth item then None when
// there is no units record). Loading checks every field and refuses a
// state that no search could have produced.
#pragma once

#include <Python.h>

#include <optional>

#include "result/search_result.hpp"

namespace tov::python {

// A new state tuple for `result`, or null with an exception set.
PyObject* result_state(const tov::SearchResult& result);

// The result a state describes. No value means an exception is set:
// ValueError "Invalid SearchResult state: <reason>" for any malformed state.
std::optional<tov::SearchResult> result_from_state(PyObject* state);

}  // namespace tov::python
