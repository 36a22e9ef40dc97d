// Variable names: reading them and making Python identifiers of them.
#include "python/names.hpp"

#include <algorithm>
#include <utility>

#include "numeric/decimal.hpp"
#include "python/errors.hpp"
#include "python/py_ref.hpp"

namespace tov::python {

namespace {

std::string utf8_of(PyObject* text) {
  Py_ssize_t size = 0;
  const char* utf8 = PyUnicode_AsUTF8AndSize(text, &size);
  return utf8 == nullptr ? std::string() : std::string(utf8, static_cast<std::size_t>(size));
}

// 1 when `text` (a str) is an identifier, 0 when not, -1 with an exception.
int is_identifier(PyObject* text) { return PyUnicode_IsIdentifier(text); }

// 1 when the code point can continue (or, with `first`, start) an
// identifier, 0 when not, -1 with an exception set.
int allowed(Py_UCS4 c, bool first) {
  PyRef text(first ? PyUnicode_FromOrdinal(static_cast<int>(c))
                   : PyUnicode_FromFormat("a%c", static_cast<int>(c)));
  return text ? is_identifier(text.get()) : -1;
}

// A valid identifier for `name` (before the check for repeats); no value
// with an exception set.
std::optional<std::string> identifier_for(const std::string& name, PyObject* iskeyword) {
  PyRef text(PyUnicode_FromStringAndSize(name.data(), static_cast<Py_ssize_t>(name.size())));
  if (!text) return std::nullopt;
  const int valid = is_identifier(text.get());
  if (valid < 0) return std::nullopt;
  if (valid == 0) {
    const Py_ssize_t length = PyUnicode_GET_LENGTH(text.get());
    std::u32string cleaned;
    for (Py_ssize_t i = 0; i < length; ++i) {
      const Py_UCS4 c = PyUnicode_READ_CHAR(text.get(), i);
      const int continues = allowed(c, false);
      if (continues < 0) return std::nullopt;
      if (i == 0) {
        const int starts = allowed(c, true);
        if (starts < 0) return std::nullopt;
        if (starts == 0 && continues == 1) cleaned += U'_';
      }
      cleaned += continues == 1 ? static_cast<char32_t>(c) : U'_';
    }
    text = PyRef(PyUnicode_FromKindAndData(PyUnicode_4BYTE_KIND, cleaned.data(),
                                           static_cast<Py_ssize_t>(cleaned.size())));
    if (!text) return std::nullopt;
  }
  PyRef keyword(PyObject_CallOneArg(iskeyword, text.get()));
  if (!keyword) return std::nullopt;
  const int is_keyword = PyObject_IsTrue(keyword.get());
  if (is_keyword < 0) return std::nullopt;
  std::string identifier = utf8_of(text.get());
  if (PyErr_Occurred() != nullptr) return std::nullopt;
  if (is_keyword == 1 || identifier == "np") identifier += '_';
  return identifier;
}

std::nullopt_t fail(PyObject* type, const std::string& message) {
  raise_message(type, message);
  return std::nullopt;
}

}  // namespace

std::shared_ptr<const VariableNames> make_variable_names(std::vector<std::string> names) {
  PyRef keyword_module(PyImport_ImportModule("keyword"));
  if (!keyword_module) return nullptr;
  PyRef iskeyword(PyObject_GetAttrString(keyword_module.get(), "iskeyword"));
  if (!iskeyword) return nullptr;
  VariableNames made;
  for (const std::string& name : names) {
    std::optional<std::string> identifier = identifier_for(name, iskeyword.get());
    if (!identifier) return nullptr;
    while (std::find(made.python.begin(), made.python.end(), *identifier) != made.python.end())
      *identifier += '_';
    made.python.push_back(std::move(*identifier));
    made.latex.push_back(latex_name(name));
  }
  made.names = std::move(names);
  return std::make_shared<const VariableNames>(std::move(made));
}

std::optional<std::string> names_problem(std::span<const std::string> names,
                                         const std::string& what) {
  for (std::size_t j = 0; j < names.size(); ++j) {
    if (names[j].empty()) return what + "[" + decimal(j) + "] is empty: a variable needs a name";
    for (std::size_t k = 0; k < j; ++k) {
      if (names[k] == names[j]) {
        return what + "[" + decimal(j) + "] repeats " + what + "[" + decimal(k) +
               "]: every variable needs a name of its own";
      }
    }
  }
  return std::nullopt;
}

std::optional<std::shared_ptr<const VariableNames>> read_variable_names(
    PyObject* value, std::span<const std::vector<double>> rows, bool one_column,
    const std::optional<std::vector<std::string>>& table_names) {
  std::vector<std::string> names;
  if (value == nullptr || value == Py_None) {
    if (!table_names) return std::shared_ptr<const VariableNames>();
    names = *table_names;
    // Table columns may repeat or be empty: then the variables stay unnamed.
    if (names_problem(names, "")) return std::shared_ptr<const VariableNames>();
  } else if (PyUnicode_Check(value)) {
    if (!one_column) {
      return fail(PyExc_TypeError,
                  "variable_names must be a sequence of str, one per input column, not a "
                  "single str");
    }
    names.push_back(utf8_of(value));
    if (PyErr_Occurred() != nullptr) return std::nullopt;
  } else {
    PyRef sequence(PySequence_Fast(value, ""));
    if (!sequence) {
      PyErr_Clear();
      return fail(PyExc_TypeError,
                  std::string("variable_names must be a sequence of str, one per input column, "
                              "not ") +
                      Py_TYPE(value)->tp_name);
    }
    for (Py_ssize_t j = 0; j < PySequence_Fast_GET_SIZE(sequence.get()); ++j) {
      PyObject* item = PySequence_Fast_GET_ITEM(sequence.get(), j);
      if (!PyUnicode_Check(item)) {
        return fail(PyExc_TypeError, "variable_names[" + decimal(j) + "] must be a str, not " +
                                         Py_TYPE(item)->tp_name);
      }
      names.push_back(utf8_of(item));
      if (PyErr_Occurred() != nullptr) return std::nullopt;
    }
    if (const std::optional<std::string> problem = names_problem(names, "variable_names"))
      return fail(PyExc_ValueError, *problem);
  }
  const auto count_error = [&](std::size_t columns, const std::string& where) {
    return fail(PyExc_ValueError, "variable_names has " + decimal(names.size()) + " name" +
                                      (names.size() == 1 ? "" : "s") + " for " + decimal(columns) +
                                      " input column" + (columns == 1 ? "" : "s") + where +
                                      ": give one name per input column");
  };
  if (one_column && names.size() != 1) return count_error(1, "");
  for (std::size_t i = 0; i < rows.size(); ++i) {
    if (rows[i].size() != names.size())
      return count_error(rows[i].size(), i == 0 ? "" : " (in sample " + decimal(i) + ")");
  }
  std::shared_ptr<const VariableNames> made = make_variable_names(std::move(names));
  if (!made) return std::nullopt;
  return made;
}

}  // namespace tov::python
