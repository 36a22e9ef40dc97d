// Argument binding with messages from one table, and argument conversion.
#include "python/binding.hpp"

#include <algorithm>
#include <array>
#include <charconv>
#include <initializer_list>
#include <string>
#include <utility>
#include <vector>

#include "numeric/decimal.hpp"
#include "python/conversion.hpp"
#include "python/errors.hpp"
#include "python/py_ref.hpp"

namespace tov::python {

namespace {

enum class Message : std::size_t {
  Missing,
  TooManyWithOptional,
  TooMany,
  UnexpectedKeyword,
  MultipleValues,
  ArgumentConversion,
};

constexpr std::array<std::string_view, 6> kTemplates = {
    "{} missing {} required {} {}: ",
    "{} takes from {} to {} positional arguments but {} {} given",
    "{} takes {} positional arguments but {} {} given",
    "{} got an unexpected keyword argument '{}'",
    "{} got multiple values for argument '{}'",
    "argument '{}': {}",
};

// The template with each "{}" replaced by the next value, in order.
std::string fill(Message message, std::initializer_list<std::string_view> values) {
  const std::string_view text = kTemplates[static_cast<std::size_t>(message)];
  std::string out;
  auto value = values.begin();
  std::size_t position = 0;
  for (std::size_t brace = text.find("{}"); brace != std::string_view::npos;
       brace = text.find("{}", position)) {
    out.append(text.substr(position, brace - position));
    out.append(*value++);
    position = brace + 2;
  }
  out.append(text.substr(position));
  return out;
}

std::string_view utf8_view(PyObject* text) {
  Py_ssize_t size = 0;
  const char* data = PyUnicode_AsUTF8AndSize(text, &size);
  return data == nullptr ? std::string_view()
                         : std::string_view(data, static_cast<std::size_t>(size));
}

// Mirrors the binding of a Python function: positional values fill the
// leading parameters, then keywords bind by name, then the positional count
// and the missing required parameters are checked.
class Binder {
 public:
  Binder(const Signature& signature, std::span<PyObject*> bound, Py_ssize_t nargs)
      : signature_(signature), bound_(bound), nargs_(static_cast<std::size_t>(nargs)) {}

  void positional(PyObject* const* args) {
    std::fill(bound_.begin(), bound_.end(), nullptr);
    std::copy_n(args, std::min(nargs_, signature_.positional_count()), bound_.begin());
  }

  // False with an exception set.
  bool keyword(PyObject* name, PyObject* value) {
    const std::string_view text = utf8_view(name);
    if (text.data() == nullptr) return false;
    const auto& parameters = signature_.parameters;
    const auto found = std::find_if(parameters.begin(), parameters.end(),
                                    [&](const Parameter& p) { return p.name == text; });
    if (found == parameters.end()) {
      return fail(fill(Message::UnexpectedKeyword, {signature_.qualified_name, text}));
    }
    PyObject*& slot = bound_[static_cast<std::size_t>(found - parameters.begin())];
    if (slot != nullptr) {
      return fail(fill(Message::MultipleValues, {signature_.qualified_name, text}));
    }
    slot = value;
    return true;
  }

  bool finish() const {
    const std::size_t count = signature_.positional_count();
    if (nargs_ > count) {
      const std::string_view verb = nargs_ == 1 ? "was" : "were";
      if (signature_.required() < count) {
        return fail(fill(Message::TooManyWithOptional,
                         {signature_.qualified_name, decimal(signature_.required()), decimal(count),
                          decimal(nargs_), verb}));
      }
      return fail(fill(Message::TooMany,
                       {signature_.qualified_name, decimal(count), decimal(nargs_), verb}));
    }
    std::vector<std::string_view> missing;
    for (std::size_t i = 0; i < signature_.required(); ++i) {
      if (bound_[i] == nullptr) missing.push_back(signature_.parameters[i].name);
    }
    if (missing.empty()) return true;
    std::string message =
        fill(Message::Missing, {signature_.qualified_name, decimal(missing.size()), "positional",
                                missing.size() == 1 ? "argument" : "arguments"});
    // Two names are joined by " and "; longer lists read "'a', 'b', and 'c'".
    for (std::size_t i = 0; i < missing.size(); ++i) {
      if (i > 0 && missing.size() == 2) {
        message += " and ";
      } else if (i > 0) {
        message += i + 1 == missing.size() ? ", and " : ", ";
      }
      message.append("'").append(missing[i]).append("'");
    }
    return fail(message);
  }

 private:
  static bool fail(const std::string& message) {
    raise_message(PyExc_TypeError, message);
    return false;
  }

  const Signature& signature_;
  std::span<PyObject*> bound_;
  std::size_t nargs_;
};

// Replaces a pending TypeError by the argument-conversion error for `name`.
// The new error takes over the original's cause (none when it had none);
// the original itself is its context, the error being handled when it arose.
void wrap_conversion_error(std::string_view name) {
  if (!PyErr_ExceptionMatches(PyExc_TypeError)) return;
  PyRef original = fetch_exception();
  PyRef text(PyObject_Str(original.get()));
  if (!text) return;
  const std::string_view detail = utf8_view(text.get());
  if (detail.data() == nullptr) return;
  PyRef cause(PyException_GetCause(original.get()));
  raise_with_cause(PyExc_TypeError, fill(Message::ArgumentConversion, {name, detail}),
                   std::move(cause), std::move(original));
}

}  // namespace

bool bind_fast_call(const Signature& signature, PyObject* const* args, Py_ssize_t nargs,
                    PyObject* kwnames, std::span<PyObject*> bound) {
  Binder binder(signature, bound, nargs);
  binder.positional(args);
  if (kwnames != nullptr) {
    const Py_ssize_t keyword_count = PyTuple_GET_SIZE(kwnames);
    for (Py_ssize_t i = 0; i < keyword_count; ++i) {
      if (!binder.keyword(PyTuple_GET_ITEM(kwnames, i), args[nargs + i])) return false;
    }
  }
  return binder.finish();
}

bool bind_tuple_call(const Signature& signature, PyObject* args, PyObject* kwargs,
                     std::span<PyObject*> bound) {
  Binder binder(signature, bound, PyTuple_GET_SIZE(args));
  binder.positional(PySequence_Fast_ITEMS(args));
  if (kwargs != nullptr) {
    Py_ssize_t position = 0;
    PyObject* name = nullptr;
    PyObject* value = nullptr;
    while (PyDict_Next(kwargs, &position, &name, &value)) {
      if (!binder.keyword(name, value)) return false;
    }
  }
  return binder.finish();
}

std::string text_signature(std::span<const Parameter> parameters, std::string_view self) {
  std::string text = "(";
  text += self;
  bool keywords = false;
  for (const Parameter& parameter : parameters) {
    if (text.size() > 1) text += ", ";
    if (parameter.kind == ParameterKind::KeywordOnly && !keywords) {
      text += "*, ";
      keywords = true;
    }
    text += parameter.name;
    if (parameter.kind != ParameterKind::Required) text.append("=").append(parameter.default_text);
  }
  return text + ")";
}

std::span<const Parameter> positional_parameters(std::span<const Parameter> parameters) {
  std::size_t count = 0;
  while (count < parameters.size() && parameters[count].kind != ParameterKind::KeywordOnly) ++count;
  return parameters.first(count);
}

std::string signed_doc(std::string_view name, std::string_view signature, std::string_view doc) {
  std::string text(name);
  return text.append(signature).append("\n--\n\n").append(doc);
}

std::optional<double> float_argument(std::string_view name, PyObject* value) {
  std::optional<double> result = double_from_object(value);
  if (!result) wrap_conversion_error(name);
  return result;
}

std::optional<std::uint64_t> unsigned_argument(std::string_view name, PyObject* value) {
  PyRef index = PyLong_Check(value) ? PyRef::borrow(value) : PyRef(PyNumber_Index(value));
  if (!index) {
    wrap_conversion_error(name);
    return std::nullopt;
  }
  const unsigned long long result = PyLong_AsUnsignedLongLong(index.get());
  if (result == static_cast<unsigned long long>(-1) && PyErr_Occurred() != nullptr) {
    wrap_conversion_error(name);
    return std::nullopt;
  }
  return static_cast<std::uint64_t>(result);
}

}  // namespace tov::python
