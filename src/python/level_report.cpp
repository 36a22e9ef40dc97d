// LevelReport as a struct sequence: named, read-only, a tuple underneath;
// its docstrings are the stub's.
#include "python/level_report.hpp"

#include "python/py_ref.hpp"
#include "python/stub_docs.hpp"

namespace tov::python {

namespace {

PyStructSequence_Field fields[] = {
    {"level", stub_doc::LevelReport_level},
    {"candidates", stub_doc::LevelReport_candidates},
    {"retained", stub_doc::LevelReport_retained},
    {"seconds", stub_doc::LevelReport_seconds},
    {"best_error", stub_doc::LevelReport_best_error},
    {"best_formula", stub_doc::LevelReport_best_formula},
    {nullptr, nullptr},
};

PyStructSequence_Desc description = {
    "tov_sr.LevelReport",
    stub_doc::LevelReport,
    fields,
    6,
};

}  // namespace

PyObject* level_report_type() {
  static PyObject* type = nullptr;
  if (type == nullptr) type = reinterpret_cast<PyObject*>(PyStructSequence_NewType(&description));
  return type;
}

PyObject* make_level_report(const LevelReport& report) {
  PyObject* type = level_report_type();
  if (type == nullptr) return nullptr;
  PyRef record(PyStructSequence_New(reinterpret_cast<PyTypeObject*>(type)));
  if (!record) return nullptr;
  PyObject* values[] = {
      PyLong_FromUnsignedLongLong(report.level),
      PyLong_FromUnsignedLongLong(report.candidates),
      PyLong_FromUnsignedLongLong(report.retained),
      PyFloat_FromDouble(report.seconds),
      report.best_error ? PyFloat_FromDouble(*report.best_error) : PyRef::borrow(Py_None).release(),
      report.best_error
          ? PyUnicode_FromStringAndSize(report.best_formula.data(),
                                        static_cast<Py_ssize_t>(report.best_formula.size()))
          : PyRef::borrow(Py_None).release(),
  };
  bool ok = true;
  for (Py_ssize_t i = 0; i < 6; ++i) {
    // The record takes every reference, failed ones (null) included.
    ok = ok && values[i] != nullptr;
    PyStructSequence_SetItem(record.get(), i, values[i]);
  }
  return ok ? record.release() : nullptr;
}

}  // namespace tov::python
