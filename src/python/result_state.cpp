// Writing and checking the pickle state of SearchResult.
#include "python/result_state.hpp"

#include <cstddef>
#include <cstdint>
#include <limits>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

#include "python/errors.hpp"
#include "python/names.hpp"
#include "python/py_ref.hpp"
#include "result/result_restore.hpp"

namespace tov::python {

namespace {

constexpr long kStateVersion = 1;
constexpr Py_ssize_t kTokenFields = 6;
constexpr std::uint64_t kLastKind = static_cast<std::uint64_t>(TokenKind::Op);
constexpr std::uint64_t kByteMax = std::numeric_limits<std::uint8_t>::max();
constexpr std::uint64_t kU64Max = std::numeric_limits<std::uint64_t>::max();

std::nullopt_t refuse(std::string_view reason) {
  raise_message(PyExc_ValueError, "Invalid SearchResult state: " + std::string(reason));
  return std::nullopt;
}

// An exact int in [0, max]; no value (and no exception) otherwise.
std::optional<std::uint64_t> exact_unsigned(PyObject* item, std::uint64_t max) {
  if (!PyLong_CheckExact(item)) return std::nullopt;
  const unsigned long long value = PyLong_AsUnsignedLongLong(item);
  if (value == static_cast<unsigned long long>(-1) && PyErr_Occurred() != nullptr) {
    PyErr_Clear();
    return std::nullopt;
  }
  if (value > max) return std::nullopt;
  return static_cast<std::uint64_t>(value);
}

// An exact float; no value (and no exception) otherwise.
std::optional<double> exact_float(PyObject* item) {
  if (!PyFloat_CheckExact(item)) return std::nullopt;
  return PyFloat_AS_DOUBLE(item);
}

std::optional<Token> token_from(PyObject* item) {
  if (!PyTuple_CheckExact(item) || PyTuple_GET_SIZE(item) != kTokenFields) return std::nullopt;
  const std::optional<std::uint64_t> kind = exact_unsigned(PyTuple_GET_ITEM(item, 0), kLastKind);
  const std::optional<std::uint64_t> arity = exact_unsigned(PyTuple_GET_ITEM(item, 1), kByteMax);
  const std::optional<std::uint64_t> index = exact_unsigned(PyTuple_GET_ITEM(item, 2), kByteMax);
  const std::optional<std::uint64_t> op_id = exact_unsigned(PyTuple_GET_ITEM(item, 3), kU64Max);
  const std::optional<double> re = exact_float(PyTuple_GET_ITEM(item, 4));
  const std::optional<double> im = exact_float(PyTuple_GET_ITEM(item, 5));
  if (!kind || !arity || !index || !op_id || !re || !im) return std::nullopt;
  Token token;
  token.kind = static_cast<TokenKind>(*kind);
  token.arity = static_cast<std::uint8_t>(*arity);
  token.index = static_cast<std::uint8_t>(*index);
  token.op_id = *op_id;
  token.value = Complex{*re, *im};
  return token;
}

// One tuple per token, in postfix order; null with an exception set.
PyObject* tokens_state(const std::vector<Token>& tokens) {
  PyRef items(PyTuple_New(static_cast<Py_ssize_t>(tokens.size())));
  if (!items) return nullptr;
  for (std::size_t i = 0; i < tokens.size(); ++i) {
    const Token& token = tokens[i];
    PyObject* item =
        Py_BuildValue("(BBBKdd)", static_cast<unsigned char>(token.kind), token.arity, token.index,
                      static_cast<unsigned long long>(token.op_id), token.value.re, token.value.im);
    if (item == nullptr) return nullptr;
    PyTuple_SET_ITEM(items.get(), static_cast<Py_ssize_t>(i), item);
  }
  return items.release();
}

// The result the token tuples `items` describe, or why they describe none
// (each reason after `context`).
Restored restored_from(PyObject* items, double error, const std::string& context) {
  if (!PyTuple_CheckExact(items)) return context + "the tokens are not a tuple";
  std::vector<Token> tokens;
  tokens.reserve(static_cast<std::size_t>(PyTuple_GET_SIZE(items)));
  for (Py_ssize_t i = 0; i < PyTuple_GET_SIZE(items); ++i) {
    std::optional<Token> token = token_from(PyTuple_GET_ITEM(items, i));
    if (!token) {
      return context + "token " + std::to_string(i) +
             ": expected (kind, arity, index, op_id, re, im) with kind 0 to 4, arity and "
             "index 0 to 255, op_id a non-negative int, re and im floats";
    }
    tokens.push_back(*token);
  }
  Restored restored = restore_result(tokens, error);
  if (std::string* reason = std::get_if<std::string>(&restored)) return context + *reason;
  return restored;
}

// A formula of a units record; no value with the refusal raised.
std::optional<Expression> expression_from(PyObject* items, const std::string& context) {
  Restored restored = restored_from(items, 0.0, context);
  if (std::string* reason = std::get_if<std::string>(&restored)) return refuse(*reason);
  return std::get<tov::SearchResult>(restored).expression();
}

// The units record as (groups, monomial or None, reduced formula); null
// with an exception set.
PyObject* record_state(const DimensionalRecord& record) {
  PyRef groups(PyTuple_New(static_cast<Py_ssize_t>(record.groups.size())));
  if (!groups) return nullptr;
  for (std::size_t i = 0; i < record.groups.size(); ++i) {
    PyObject* group = tokens_state(record.groups[i].tokens);
    if (group == nullptr) return nullptr;
    PyTuple_SET_ITEM(groups.get(), static_cast<Py_ssize_t>(i), group);
  }
  PyRef monomial(record.monomial ? tokens_state(record.monomial->tokens)
                                 : PyRef::borrow(Py_None).release());
  PyRef reduced(tokens_state(record.reduced.tokens));
  if (!monomial || !reduced) return nullptr;
  return PyTuple_Pack(3, groups.get(), monomial.get(), reduced.get());
}

// The variable names as a tuple of str; null with an exception set.
PyObject* names_state(const VariableNames& names) {
  PyRef tuple(PyTuple_New(static_cast<Py_ssize_t>(names.names.size())));
  if (!tuple) return nullptr;
  for (std::size_t j = 0; j < names.names.size(); ++j) {
    PyObject* name = PyUnicode_FromStringAndSize(names.names[j].data(),
                                                 static_cast<Py_ssize_t>(names.names[j].size()));
    if (name == nullptr) return nullptr;
    PyTuple_SET_ITEM(tuple.get(), static_cast<Py_ssize_t>(j), name);
  }
  return tuple.release();
}

// The names of a state, checked; no value with the refusal raised.
std::optional<std::vector<std::string>> names_from(PyObject* items) {
  if (!PyTuple_CheckExact(items)) return refuse("the variable names are not a tuple");
  std::vector<std::string> names;
  for (Py_ssize_t j = 0; j < PyTuple_GET_SIZE(items); ++j) {
    PyObject* item = PyTuple_GET_ITEM(items, j);
    Py_ssize_t size = 0;
    const char* utf8 = PyUnicode_CheckExact(item) ? PyUnicode_AsUTF8AndSize(item, &size) : nullptr;
    if (utf8 == nullptr) {
      PyErr_Clear();
      return refuse("variable name " + std::to_string(j) + " is not a str");
    }
    names.emplace_back(utf8, static_cast<std::size_t>(size));
  }
  if (const std::optional<std::string> problem = names_problem(names, "variable_names"))
    return refuse(*problem);
  return names;
}

}  // namespace

PyObject* result_state(const tov::SearchResult& result) {
  PyRef items(tokens_state(result.expression().tokens));
  if (!items) return nullptr;
  const std::shared_ptr<const DimensionalRecord>& record = result.dimensional();
  const std::shared_ptr<const VariableNames>& names = result.variable_names();
  if (!record && !names) return Py_BuildValue("(ldO)", kStateVersion, result.error(), items.get());
  PyRef units(record ? record_state(*record) : PyRef::borrow(Py_None).release());
  if (!units) return nullptr;
  if (!names)
    return Py_BuildValue("(ldOO)", kStateVersion, result.error(), items.get(), units.get());
  PyRef named(names_state(*names));
  if (!named) return nullptr;
  return Py_BuildValue("(ldOOO)", kStateVersion, result.error(), items.get(), units.get(),
                       named.get());
}

std::optional<tov::SearchResult> result_from_state(PyObject* state) {
  if (!PyTuple_CheckExact(state) || PyTuple_GET_SIZE(state) < 3 || PyTuple_GET_SIZE(state) > 5) {
    return refuse("expected a tuple (version, error, tokens)");
  }
  const std::optional<std::uint64_t> version = exact_unsigned(PyTuple_GET_ITEM(state, 0), kU64Max);
  if (!version || *version != kStateVersion) return refuse("unknown format version");
  const std::optional<double> error = exact_float(PyTuple_GET_ITEM(state, 1));
  if (!error) return refuse("the error is not a float");
  Restored restored = restored_from(PyTuple_GET_ITEM(state, 2), *error, "");
  if (std::string* reason = std::get_if<std::string>(&restored)) return refuse(*reason);
  tov::SearchResult& result = std::get<tov::SearchResult>(restored);
  if (PyTuple_GET_SIZE(state) == 3) return std::move(result);
  std::shared_ptr<const VariableNames> names;
  if (PyTuple_GET_SIZE(state) == 5) {
    std::optional<std::vector<std::string>> read = names_from(PyTuple_GET_ITEM(state, 4));
    if (!read) return std::nullopt;
    if (read->size() < result.expression().var_count)
      return refuse("the formula has more variables than names");
    names = make_variable_names(std::move(*read));
    if (!names) return std::nullopt;
  }
  if (PyTuple_GET_SIZE(state) == 5 && PyTuple_GET_ITEM(state, 3) == Py_None)
    return result.with_variable_names(std::move(names));

  // A result of a search with units: (groups, monomial or None, reduced formula).
  PyObject* record = PyTuple_GET_ITEM(state, 3);
  if (!PyTuple_CheckExact(record) || PyTuple_GET_SIZE(record) != 3 ||
      !PyTuple_CheckExact(PyTuple_GET_ITEM(record, 0))) {
    return refuse("the units record is not a tuple (groups, monomial, reduced formula)");
  }
  DimensionalRecord analysis;
  PyObject* groups = PyTuple_GET_ITEM(record, 0);
  for (Py_ssize_t i = 0; i < PyTuple_GET_SIZE(groups); ++i) {
    std::optional<Expression> group =
        expression_from(PyTuple_GET_ITEM(groups, i), "group " + std::to_string(i) + ": ");
    if (!group) return std::nullopt;
    analysis.groups.push_back(std::move(*group));
  }
  if (PyTuple_GET_ITEM(record, 1) != Py_None) {
    analysis.monomial = expression_from(PyTuple_GET_ITEM(record, 1), "monomial: ");
    if (!analysis.monomial) return std::nullopt;
  }
  std::optional<Expression> reduced = expression_from(PyTuple_GET_ITEM(record, 2), "reduced: ");
  if (!reduced) return std::nullopt;
  analysis.reduced = std::move(*reduced);
  if (names) {
    for (const Expression& group : analysis.groups) {
      if (group.var_count > names->names.size())
        return refuse("a group has more variables than names");
    }
    if (analysis.monomial && analysis.monomial->var_count > names->names.size())
      return refuse("the monomial has more variables than names");
  }
  return tov::SearchResult(result.expression(), result.registry(), result.error(),
                           std::make_shared<const DimensionalRecord>(std::move(analysis)))
      .with_variable_names(std::move(names));
}

}  // namespace tov::python
