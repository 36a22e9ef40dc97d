// SearchResult class: attributes, eval/eval_batch/predict, renderings, repr,
// pickling. The docstrings are the stub's; the text signatures come from
// the parameter tables.
#include "python/search_result_type.hpp"

#include <array>
#include <charconv>
#include <cmath>
#include <cstddef>
#include <deque>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "fit/snap.hpp"
#include "python/binding.hpp"
#include "python/conversion.hpp"
#include "python/data_input.hpp"
#include "python/errors.hpp"
#include "python/py_ref.hpp"
#include "python/result_state.hpp"
#include "python/stub_docs.hpp"
#include "python/value_object.hpp"

namespace tov::python {

namespace {

using ResultObject = ValueObject<tov::SearchResult>;

using enum ParameterKind;

constexpr std::array<Parameter, 1> kEvalParameters = {{{"x"}}};
constexpr std::array<Parameter, 1> kBatchParameters = {{{"inputs"}}};
constexpr std::array<Parameter, 4> kSnapParameters = {{
    {"inputs"},
    {"ys"},
    {"tolerance", KeywordOnly, "None"},
    {"weights", KeywordOnly, "None"},
}};
static_assert(well_formed(kSnapParameters));
const Signature kEvalSignature{"SearchResult.eval()", kEvalParameters};
const Signature kEvalBatchSignature{"SearchResult.eval_batch()", kBatchParameters};
const Signature kPredictSignature{"SearchResult.predict()", kBatchParameters};
const Signature kSnapSignature{"SearchResult.snap()", kSnapParameters};

const tov::SearchResult& result_of(PyObject* self) { return ResultObject::of(self); }

PyObject* new_str(const std::string& text) {
  return PyUnicode_FromStringAndSize(text.data(), static_cast<Py_ssize_t>(text.size()));
}

// One leading digit, six decimals, "e" and the exponent without "+" or
// leading zeros: 1.250000e-3, 0.000000e0; "inf", "-inf", "NaN".
std::string format_scientific6(double value) {
  if (std::isnan(value)) return "NaN";
  if (std::isinf(value)) return value < 0 ? "-inf" : "inf";
  char buffer[32];
  const char* end =
      std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::scientific, 6).ptr;
  const std::string_view text(buffer, static_cast<std::size_t>(end - buffer));
  const std::size_t e = text.find('e');
  std::string out(text.substr(0, e + 1));
  std::string_view exponent = text.substr(e + 1);
  if (exponent.front() == '-') out += '-';
  exponent.remove_prefix(1);
  while (exponent.size() > 1 && exponent.front() == '0') exponent.remove_prefix(1);
  out += exponent;
  return out;
}

PyObject* get_formula(PyObject* self, void*) {
  return guarded([&] { return new_str(result_of(self).formula()); });
}

PyObject* get_error(PyObject* self, void*) {
  return guarded([&] { return PyFloat_FromDouble(result_of(self).error()); });
}

PyObject* get_complexity(PyObject* self, void*) {
  return guarded([&] { return PyLong_FromSize_t(result_of(self).complexity()); });
}

PyObject* get_parameters(PyObject* self, void*) {
  return guarded([&]() -> PyObject* {
    const std::vector<double> values = result_of(self).parameters();
    PyRef tuple(PyTuple_New(static_cast<Py_ssize_t>(values.size())));
    if (!tuple) return nullptr;
    for (std::size_t i = 0; i < values.size(); ++i) {
      PyObject* item = PyFloat_FromDouble(values[i]);
      if (item == nullptr) return nullptr;
      PyTuple_SET_ITEM(tuple.get(), static_cast<Py_ssize_t>(i), item);
    }
    return tuple.release();
  });
}

// A formula over the inputs in the formula language, with each v_{j} the
// name of variable j when the variables are named.
std::string in_names(const std::string& formula, const VariableNames* names) {
  if (names == nullptr) return formula;
  std::string out;
  for (std::size_t at = 0; at < formula.size();) {
    if (formula.compare(at, 3, "v_{") == 0) {
      const std::size_t end = formula.find('}', at);
      const char* digits_end = formula.data() + (end == std::string::npos ? at : end);
      std::size_t index = 0;
      if (end != std::string::npos &&
          std::from_chars(formula.data() + at + 3, digits_end, index).ptr == digits_end &&
          index < names->names.size()) {
        out += names->names[index];
        at = end + 1;
        continue;
      }
    }
    out += formula[at++];
  }
  return out;
}

// The record of a search with units as a dict: the groups' formulas, M's
// formula (None for M = 1), both in the variables' names when they have
// them, the reduced formula with pi_{i} for group i, and the indices of the
// groups it uses.
PyObject* analysis_dict(const DimensionalRecord& record, const VariableNames* names) {
  PyRef groups(PyTuple_New(static_cast<Py_ssize_t>(record.groups.size())));
  if (!groups) return nullptr;
  for (std::size_t i = 0; i < record.groups.size(); ++i) {
    PyObject* text = new_str(in_names(record.groups[i].formula, names));
    if (text == nullptr) return nullptr;
    PyTuple_SET_ITEM(groups.get(), static_cast<Py_ssize_t>(i), text);
  }
  PyRef monomial(record.monomial ? new_str(in_names(record.monomial->formula, names))
                                 : PyRef::borrow(Py_None).release());
  // Variables print as v_{i}; in the reduced formula they are the groups.
  std::string reduced;
  const std::string& formula = record.reduced.formula;
  for (std::size_t at = 0; at < formula.size();) {
    if (formula.compare(at, 3, "v_{") == 0) {
      reduced += "pi_{";
      at += 3;
    } else {
      reduced += formula[at++];
    }
  }
  PyRef formula_text(new_str(reduced));
  std::vector<bool> used(record.groups.size(), false);
  for (const Token& token : record.reduced.tokens)
    if (token.kind == TokenKind::Var && token.index < used.size()) used[token.index] = true;
  PyRef indices(PyList_New(0));
  if (!monomial || !formula_text || !indices) return nullptr;
  for (std::size_t i = 0; i < used.size(); ++i) {
    if (!used[i]) continue;
    PyRef index(PyLong_FromSize_t(i));
    if (!index || PyList_Append(indices.get(), index.get()) < 0) return nullptr;
  }
  PyRef used_groups(PyList_AsTuple(indices.get()));
  if (!used_groups) return nullptr;
  return Py_BuildValue("{sOsOsOsO}", "groups", groups.get(), "monomial", monomial.get(), "formula",
                       formula_text.get(), "used_groups", used_groups.get());
}

PyObject* get_dimensional_analysis(PyObject* self, void*) {
  return guarded([&]() -> PyObject* {
    const std::shared_ptr<const DimensionalRecord>& record = result_of(self).dimensional();
    if (!record) return PyRef::borrow(Py_None).release();
    return analysis_dict(*record, result_of(self).variable_names().get());
  });
}

PyObject* get_variable_names(PyObject* self, void*) {
  return guarded([&]() -> PyObject* {
    const std::shared_ptr<const VariableNames>& names = result_of(self).variable_names();
    if (!names) return PyRef::borrow(Py_None).release();
    PyRef tuple(PyTuple_New(static_cast<Py_ssize_t>(names->names.size())));
    if (!tuple) return nullptr;
    for (std::size_t j = 0; j < names->names.size(); ++j) {
      PyObject* name = new_str(names->names[j]);
      if (name == nullptr) return nullptr;
      PyTuple_SET_ITEM(tuple.get(), static_cast<Py_ssize_t>(j), name);
    }
    return tuple.release();
  });
}

PyObject* to_latex(PyObject* self, PyObject*) {
  return guarded([&] { return new_str(result_of(self).to_latex()); });
}

// Jupyter shows a result through this: the LaTeX rendering as inline math.
PyObject* repr_latex(PyObject* self, PyObject*) {
  return guarded([&] { return new_str("$" + result_of(self).to_latex() + "$"); });
}

PyObject* to_python(PyObject* self, PyObject*) {
  return guarded([&] { return new_str(result_of(self).to_python()); });
}

// A float (or anything the float conversion accepts) is the point [x]; else
// a one-dimensional vector is the point, element j being variable j.
std::optional<std::vector<double>> point_of(PyObject* x) {
  if (std::optional<double> value = double_from_object(x)) return std::vector<double>{*value};
  PyErr_Clear();
  std::optional<std::vector<double>> point = convert_to_vec(x);
  if (!point) {
    PyErr_Clear();
    PyErr_SetString(PyExc_ValueError, "Input must be a float or a 1D list/array");
  }
  return point;
}

PyObject* eval(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return guarded([&]() -> PyObject* {
    std::array<PyObject*, 1> bound{};
    if (!bind_fast_call(kEvalSignature, args, nargs, kwnames, bound)) return nullptr;
    const std::optional<std::vector<double>> point = point_of(bound[0]);
    if (!point) return nullptr;
    return PyFloat_FromDouble(result_of(self).eval_multi(*point));
  });
}

PyObject* evaluate_rows(PyObject* self, const Signature& signature, PyObject* const* args,
                        Py_ssize_t nargs, PyObject* kwnames) {
  return guarded([&]() -> PyObject* {
    std::array<PyObject*, 1> bound{};
    if (!bind_fast_call(signature, args, nargs, kwnames, bound)) return nullptr;
    const std::optional<DataInput> data = read_data_input(bound[0], true);
    if (!data) return nullptr;
    const std::optional<std::vector<std::vector<double>>> rows =
        convert_to_matrix(data->values.get());
    if (!rows) return nullptr;
    const std::vector<double> values = result_of(self).eval_batch(*rows);
    PyRef list(PyList_New(static_cast<Py_ssize_t>(values.size())));
    if (!list) return nullptr;
    for (std::size_t i = 0; i < values.size(); ++i) {
      PyObject* item = PyFloat_FromDouble(values[i]);
      if (item == nullptr) return nullptr;
      PyList_SET_ITEM(list.get(), static_cast<Py_ssize_t>(i), item);
    }
    return list.release();
  });
}

PyObject* eval_batch(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return evaluate_rows(self, kEvalBatchSignature, args, nargs, kwnames);
}

PyObject* predict(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return evaluate_rows(self, kPredictSignature, args, nargs, kwnames);
}

// None, or a finite, non-negative float.
std::optional<std::optional<double>> read_tolerance(PyObject* value) {
  if (value == nullptr || value == Py_None) return std::optional<double>{};
  const std::optional<double> tolerance = float_argument("tolerance", value);
  if (!tolerance) return std::nullopt;
  if (!std::isfinite(*tolerance) || *tolerance < 0.0) {
    PyRef text(PyObject_Repr(value));
    const char* utf8 = text ? PyUnicode_AsUTF8(text.get()) : nullptr;
    if (utf8 == nullptr) return std::nullopt;
    raise_message(
        PyExc_ValueError,
        std::string("tolerance must be a finite, non-negative number or None, not ") + utf8);
    return std::nullopt;
  }
  return std::optional<double>{*tolerance};
}

PyObject* snap(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return guarded([&]() -> PyObject* {
    std::array<PyObject*, kSnapParameters.size()> bound{};
    if (!bind_fast_call(kSnapSignature, args, nargs, kwnames, bound)) return nullptr;
    const std::optional<DataInput> inputs =
        read_data_input(bound[at<kSnapParameters>("inputs")], true);
    if (!inputs) return nullptr;
    const std::optional<std::vector<std::vector<double>>> rows =
        convert_to_matrix(inputs->values.get());
    if (!rows) return nullptr;
    const std::optional<DataInput> targets =
        read_data_input(bound[at<kSnapParameters>("ys")], false);
    if (!targets) return nullptr;
    const std::optional<std::vector<double>> ys = convert_to_vec(targets->values.get());
    if (!ys) return nullptr;
    const std::optional<std::optional<double>> tolerance =
        read_tolerance(bound[at<kSnapParameters>("tolerance")]);
    if (!tolerance) return nullptr;
    std::vector<double> weights;
    PyObject* const weights_given = bound[at<kSnapParameters>("weights")];
    if (weights_given != nullptr && weights_given != Py_None) {
      std::optional<std::vector<double>> read = convert_to_vec(weights_given);
      if (!read) return nullptr;
      weights = std::move(*read);
    }
    Outcome<SearchData> data = prepare_data(*rows, *ys, weights);
    if (!data) return raise_search_error(std::move(data.error()));
    std::optional<tov::SearchResult> snapped =
        snap_constants(result_of(self), data.value(), *tolerance);
    if (!snapped) {
      return raise_message(PyExc_ValueError, "snap: the formula has no finite error on these data");
    }
    return wrap_search_result(snapped->with_variable_names(result_of(self).variable_names()));
  });
}

PyObject* repr(PyObject* self) {
  return guarded([&] {
    const tov::SearchResult& result = result_of(self);
    std::string text = "SearchResult(formula='";
    text += result.formula();
    text += "', error=";
    text += format_scientific6(result.error());
    text += ", complexity=";
    text += std::to_string(result.complexity());
    text += ")";
    return new_str(text);
  });
}

// Pickling goes through the class method _from_state rather than the class,
// which refuses to be called.
PyObject* reduce(PyObject* self, PyObject*) {
  return guarded([&]() -> PyObject* {
    PyRef rebuild(
        PyObject_GetAttrString(reinterpret_cast<PyObject*>(Py_TYPE(self)), "_from_state"));
    if (!rebuild) return nullptr;
    PyRef state(result_state(result_of(self)));
    if (!state) return nullptr;
    return Py_BuildValue("(O(O))", rebuild.get(), state.get());
  });
}

PyObject* from_state(PyObject*, PyObject* state) {
  return guarded([&]() -> PyObject* {
    std::optional<tov::SearchResult> result = result_from_state(state);
    if (!result) return nullptr;
    return wrap_search_result(std::move(*result));
  });
}

PyObject* refuse_construction(PyTypeObject*, PyObject*, PyObject*) {
  PyErr_SetString(PyExc_TypeError, "No constructor defined for SearchResult");
  return nullptr;
}

PyGetSetDef getters[] = {
    {"formula", get_formula, nullptr, stub_doc::SearchResult_formula, nullptr},
    {"error", get_error, nullptr, stub_doc::SearchResult_error, nullptr},
    {"complexity", get_complexity, nullptr, stub_doc::SearchResult_complexity, nullptr},
    {"parameters", get_parameters, nullptr, stub_doc::SearchResult_parameters, nullptr},
    {"dimensional_analysis", get_dimensional_analysis, nullptr,
     stub_doc::SearchResult_dimensional_analysis, nullptr},
    {"variable_names", get_variable_names, nullptr, stub_doc::SearchResult_variable_names, nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

// A method's docstring: its text signature from its parameter table (none
// for the methods without parameters), then the stub's text. Kept for the
// life of the process, as the method table points into it.
const char* method_doc(std::string_view name, std::span<const Parameter> parameters,
                       std::string_view doc, std::string_view self = "$self") {
  static std::deque<std::string> texts;
  return texts.emplace_back(signed_doc(name, text_signature(parameters, self), doc)).c_str();
}

PyMethodDef methods[] = {
    {"to_latex", to_latex, METH_NOARGS,
     method_doc("to_latex", {}, stub_doc::SearchResult_to_latex)},
    {"_repr_latex_", repr_latex, METH_NOARGS,
     method_doc("_repr_latex_", {}, stub_doc::SearchResult__repr_latex_)},
    {"to_python", to_python, METH_NOARGS,
     method_doc("to_python", {}, stub_doc::SearchResult_to_python)},
    {"eval", fast_call<eval>(), METH_FASTCALL | METH_KEYWORDS,
     method_doc("eval", kEvalParameters, stub_doc::SearchResult_eval)},
    {"eval_batch", fast_call<eval_batch>(), METH_FASTCALL | METH_KEYWORDS,
     method_doc("eval_batch", kBatchParameters, stub_doc::SearchResult_eval_batch)},
    {"predict", fast_call<predict>(), METH_FASTCALL | METH_KEYWORDS,
     method_doc("predict", kBatchParameters, stub_doc::SearchResult_predict)},
    {"snap", fast_call<snap>(), METH_FASTCALL | METH_KEYWORDS,
     method_doc("snap", kSnapParameters, stub_doc::SearchResult_snap)},
    {"__reduce__", reduce, METH_NOARGS,
     "__reduce__($self)\n--\n\nReturns what pickle and copy need to rebuild the result."},
    {"_from_state", from_state, METH_O | METH_CLASS,
     "_from_state($cls, state, /)\n--\n\nRebuilds a result from the state made by __reduce__."},
    {nullptr, nullptr, 0, nullptr},
};

PyType_Slot slots[] = {
    {Py_tp_doc, const_cast<char*>(stub_doc::SearchResult)},
    {Py_tp_new, reinterpret_cast<void*>(refuse_construction)},
    {Py_tp_dealloc, reinterpret_cast<void*>(dealloc_value_object<tov::SearchResult>)},
    {Py_tp_repr, reinterpret_cast<void*>(repr)},
    {Py_tp_getset, getters},
    {Py_tp_methods, methods},
    {0, nullptr},
};

PyType_Spec type_definition = {
    "tov_sr.SearchResult", static_cast<int>(sizeof(ResultObject)), 0, kClassFlags, slots,
};

}  // namespace

PyObject* search_result_type() {
  static PyObject* type = nullptr;
  return class_from_spec(type_definition, type);
}

PyObject* wrap_search_result(tov::SearchResult&& result) {
  PyObject* type = search_result_type();
  if (type == nullptr) return nullptr;
  return make_value_object<tov::SearchResult>(reinterpret_cast<PyTypeObject*>(type),
                                              std::move(result));
}

}  // namespace tov::python
