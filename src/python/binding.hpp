// Argument binding for the methods of Searcher and SearchResult, and the
// conversion of bound arguments to native numbers. Each method's parameters
// are one table (name, kind, default text), from which the binding, the
// text signature and the argument positions derive; the failure messages
// come from one table, so they are the same on every interpreter version.
#pragma once

#include <Python.h>

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace tov::python {

// How a parameter is given.
enum class ParameterKind : std::uint8_t {
  Required,    // by position or keyword, without a default
  Optional,    // by position or keyword, with a default
  KeywordOnly  // by keyword only, with a default
};

// One row of a method's parameter table: the binding, the text signature
// and the argument positions all come from it.
struct Parameter {
  std::string_view name;
  ParameterKind kind = ParameterKind::Required;
  // The default as the text signature shows it (a Python expression).
  std::string_view default_text = {};
};

struct Signature {
  std::string_view qualified_name;  // e.g. "Searcher.find_function()"
  std::span<const Parameter> parameters;

  // The leading parameters without a default.
  constexpr std::size_t required() const { return count(ParameterKind::Required); }
  // The leading parameters that may be given by position.
  constexpr std::size_t positional_count() const {
    return parameters.size() - count(ParameterKind::KeywordOnly);
  }

 private:
  constexpr std::size_t count(ParameterKind kind) const {
    return static_cast<std::size_t>(std::count_if(
        parameters.begin(), parameters.end(), [&](const Parameter& p) { return p.kind == kind; }));
  }
};

// A table is well formed when its kinds run required, optional, keyword-only
// and its names are distinct.
template <std::size_t N>
constexpr bool well_formed(const std::array<Parameter, N>& table) {
  for (std::size_t i = 0; i < N; ++i) {
    if (i > 0 && table[i].kind < table[i - 1].kind) return false;
    for (std::size_t j = 0; j < i; ++j)
      if (table[j].name == table[i].name) return false;
  }
  return true;
}

// The position of parameter `name` in `table`, for reading bound arguments by
// name; a name the table lacks does not compile.
template <const auto& table>
consteval std::size_t at(std::string_view name) {
  for (std::size_t i = 0; i < table.size(); ++i)
    if (table[i].name == name) return i;
  throw "no such parameter";
}

// The text signature of a parameter table as the interpreter reads it from
// a docstring: "($self, x, y=None, *, z=None)", with `self` ("$self",
// "$module" or empty) first.
std::string text_signature(std::span<const Parameter> parameters, std::string_view self);

// The parameters that may be given by position: a table's leading rows up
// to its first keyword-only one. The Searcher's own text signatures show only
// these, as they always have; its keyword-only settings and arguments are
// listed in the stub.
std::span<const Parameter> positional_parameters(std::span<const Parameter> parameters);

// A docstring with its text signature: "NAME(SIGNATURE)\n--\n\nDOC".
std::string signed_doc(std::string_view name, std::string_view signature, std::string_view doc);

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
