// Argument binding for the methods of Searcher and SearchResult, and the
// conversion of bound arguments to native numbers. Every parameter is
// positional-or-keyword; the failure messages come from one table, so they
// are the same on every interpreter version.
#pragma once

#include <Python.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

namespace tov::python {

struct Signature {
  std::string_view qualified_name;  // e.g. "Searcher.find_function()"
  std::span<const std::string_view> parameters;
  std::size_t required = 0;  // the leading parameters without a default
  // The leading parameters that may be given by position; the others are
  // keyword-only. Every parameter when left at its default.
  std::size_t positional = SIZE_MAX;

  std::size_t positional_count() const { return std::min(positional, parameters.size()); }
};

// Binds a fast call with keywords: `args` holds `nargs` positional values
// followed by one value per name in `kwnames` (null when none). `bound` has
// one slot per parameter and receives borrowed values, null where a parameter
// was not given. False with TypeError set when the call does not bind.
bool bind_fast_call(const Signature& signature, PyObject* const* args, Py_ssize_t nargs,
                    PyObject* kwnames, std::span<PyObject*> bound);

// The same for a call with an argument tuple and a keyword dictionary (null
// when none), as a type's constructor receives them.
bool bind_tuple_call(const Signature& signature, PyObject* args, PyObject* kwargs,
                     std::span<PyObject*> bound);

// The float rule applied to parameter `name`. A TypeError of the conversion
// is replaced by TypeError "argument '<name>': <message>" caused by it; other
// errors pass unchanged. No value means an exception is set.
std::optional<double> float_argument(std::string_view name, PyObject* value);

// The integer rule (ints as they are, anything else through the index
// conversion) to unsigned 64 bits, with failures reported as above; negative
// values give OverflowError.
std::optional<std::uint64_t> unsigned_argument(std::string_view name, PyObject* value);

// A fast-call method as the method table stores it.
template <auto function>
PyCFunction fast_call() {
  return reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(function));
}

}  // namespace tov::python
