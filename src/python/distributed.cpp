// tov_sr._Engine, the Python transport and tov_sr._distributed_call.
//
// A worker's engine calls release the interpreter lock while they compute:
// a Dask worker must keep answering its scheduler during a long shard.
#include "python/distributed.hpp"

#include <deque>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "python/binding.hpp"
#include "python/errors.hpp"
#include "python/py_ref.hpp"
#include "python/searcher_type.hpp"
#include "python/value_object.hpp"

namespace tov::python {

namespace {

// --- Transport --------------------------------------------------------------

PyObject* bytes_of(const std::string& s) {
  return PyBytes_FromStringAndSize(s.data(), static_cast<Py_ssize_t>(s.size()));
}

std::optional<std::string_view> view_of(PyObject* bytes) {
  char* data = nullptr;
  Py_ssize_t size = 0;
  if (PyBytes_AsStringAndSize(bytes, &data, &size) < 0) return std::nullopt;
  return std::string_view(data, static_cast<std::size_t>(size));
}

// `stop()` for the Python transport: true once the search must stop (the
// deadline passed). The Poll lives for the duration of the call.
PyObject* call_poll(PyObject* capsule, PyObject*) {
  const auto* poll = static_cast<const Poll*>(PyCapsule_GetPointer(capsule, "tov_sr.poll"));
  if (poll == nullptr) return nullptr;
  return PyBool_FromLong((*poll)() ? 1 : 0);
}

PyMethodDef poll_definition = {"stop", call_poll, METH_NOARGS,
                               "stop()\n--\n\nTrue once the search must stop."};

// Messages through a Python object with the methods start(data, config),
// evaluate(level, retained, stop), complete(level, plan, stop) and, for a
// search resumed from a checkpoint, resume(retained) with the list of the
// restored levels' messages; evaluate and complete return a list of bytes,
// one per shard, or None to stop. An exception they raise stays pending and
// ends the search.
class PythonTransport final : public ShardTransport {
 public:
  explicit PythonTransport(PyObject* target) : target_(PyRef::borrow(target)) {}

  bool start(const std::string& data, const std::string& config) override {
    PyRef a(bytes_of(data));
    PyRef b(bytes_of(config));
    if (!a || !b) return false;
    return PyRef(PyObject_CallMethod(target_.get(), "start", "OO", a.get(), b.get())).get() !=
           nullptr;
  }

  std::optional<std::vector<std::string>> evaluate(std::size_t level, const std::string* retained,
                                                   const Poll& poll) override {
    PyRef message(retained ? bytes_of(*retained) : PyRef::borrow(Py_None).release());
    if (!message) return std::nullopt;
    return call("evaluate", level, message.get(), poll);
  }

  bool resume(std::vector<std::string> retained) override {
    PyRef list(PyList_New(static_cast<Py_ssize_t>(retained.size())));
    if (!list) return false;
    for (std::size_t i = 0; i < retained.size(); ++i) {
      PyObject* item = bytes_of(retained[i]);
      if (item == nullptr) return false;
      PyList_SET_ITEM(list.get(), static_cast<Py_ssize_t>(i), item);
    }
    return PyRef(PyObject_CallMethod(target_.get(), "resume", "O", list.get())).get() != nullptr;
  }

  std::optional<std::vector<std::string>> complete(std::size_t level, const std::string& plan,
                                                   const Poll& poll) override {
    PyRef message(bytes_of(plan));
    if (!message) return std::nullopt;
    return call("complete", level, message.get(), poll);
  }

 private:
  std::optional<std::vector<std::string>> call(const char* name, std::size_t level,
                                               PyObject* message, const Poll& poll) {
    if (PyErr_Occurred() != nullptr) return std::nullopt;
    PyRef capsule(PyCapsule_New(const_cast<Poll*>(&poll), "tov_sr.poll", nullptr));
    if (!capsule) return std::nullopt;
    PyRef stop(PyCFunction_New(&poll_definition, capsule.get()));
    if (!stop) return std::nullopt;
    PyRef result(PyObject_CallMethod(target_.get(), name, "nOO", static_cast<Py_ssize_t>(level),
                                     message, stop.get()));
    if (!result || result.get() == Py_None) return std::nullopt;
    PyRef items(PySequence_Fast(result.get(), "a transport must return a list of bytes"));
    if (!items) return std::nullopt;
    std::vector<std::string> out;
    for (Py_ssize_t i = 0; i < PySequence_Fast_GET_SIZE(items.get()); ++i) {
      const std::optional<std::string_view> view =
          view_of(PySequence_Fast_GET_ITEM(items.get(), i));
      if (!view) return std::nullopt;
      out.emplace_back(*view);
    }
    return out;
  }

  PyRef target_;
};

// --- tov_sr._Engine ---------------------------------------------------------

using EngineObject = ValueObject<std::unique_ptr<WorkerEngine>>;

WorkerEngine& engine_of(PyObject* self) { return *EngineObject::of(self); }

using enum ParameterKind;

constexpr std::array<Parameter, 3> kEngineParameters = {{{"data"}, {"config"}, {"threads"}}};
const Signature kEngineSignature{"_Engine.__new__()", kEngineParameters};

PyObject* construct_engine(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
  return guarded([&]() -> PyObject* {
    std::array<PyObject*, kEngineParameters.size()> bound{};
    if (!bind_tuple_call(kEngineSignature, args, kwargs, bound)) return nullptr;
    const std::optional<std::string_view> data = view_of(bound[at<kEngineParameters>("data")]);
    const std::optional<std::string_view> config =
        data ? view_of(bound[at<kEngineParameters>("config")]) : std::nullopt;
    if (!config) return nullptr;
    const std::optional<std::uint64_t> threads =
        unsigned_argument("threads", bound[at<kEngineParameters>("threads")]);
    if (!threads) return nullptr;
    std::unique_ptr<WorkerEngine> engine;
    {
      std::optional<std::string> failure;
      Py_BEGIN_ALLOW_THREADS;
      try {
        engine = std::make_unique<WorkerEngine>(*data, *config, *threads);
      } catch (const std::exception& e) {
        failure = e.what();
      }
      Py_END_ALLOW_THREADS;
      if (failure) return raise_message(PyExc_RuntimeError, *failure);
    }
    return make_value_object<std::unique_ptr<WorkerEngine>>(type, std::move(engine));
  });
}

// Runs `work` on the engine without the interpreter lock; its result as
// bytes (or None for an empty result), or a RuntimeError with its failure.
template <class Work>
PyObject* without_lock(Work&& work) {
  std::optional<std::string> out;
  std::optional<std::string> failure;
  Py_BEGIN_ALLOW_THREADS;
  try {
    out = work();
  } catch (const std::exception& e) {
    failure = e.what();
  }
  Py_END_ALLOW_THREADS;
  if (failure) return raise_message(PyExc_RuntimeError, *failure);
  if (!out) return PyRef::borrow(Py_None).release();
  return bytes_of(*out);
}

// A shard and the number of shards; false with an exception set.
bool read_shard(PyObject* shard_object, PyObject* shards_object, std::size_t& shard,
                std::size_t& shards) {
  const std::optional<std::uint64_t> a = unsigned_argument("shard", shard_object);
  const std::optional<std::uint64_t> b = a ? unsigned_argument("shards", shards_object) : a;
  if (!b) return false;
  if (*b == 0 || *a >= *b) {
    raise_message(PyExc_ValueError, "shard must be below shards");
    return false;
  }
  shard = *a;
  shards = *b;
  return true;
}

constexpr std::array<Parameter, 2> kPrepareParameters = {{{"level"}, {"retained"}}};
constexpr std::array<Parameter, 2> kEvaluateParameters = {{{"shard"}, {"shards"}}};
constexpr std::array<Parameter, 3> kCompleteParameters = {{{"shard"}, {"shards"}, {"plan"}}};
const Signature kPrepareSignature{"_Engine.prepare()", kPrepareParameters};
const Signature kEvaluateSignature{"_Engine.evaluate()", kEvaluateParameters};
const Signature kCompleteSignature{"_Engine.complete()", kCompleteParameters};

PyObject* engine_prepare(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                         PyObject* kwnames) {
  return guarded([&]() -> PyObject* {
    std::array<PyObject*, kPrepareParameters.size()> bound{};
    if (!bind_fast_call(kPrepareSignature, args, nargs, kwnames, bound)) return nullptr;
    const std::optional<std::uint64_t> level =
        unsigned_argument("level", bound[at<kPrepareParameters>("level")]);
    if (!level) return nullptr;
    PyRef list(PySequence_Fast(bound[at<kPrepareParameters>("retained")],
                               "retained must be a list of bytes"));
    if (!list) return nullptr;
    std::vector<std::string_view> retained;
    for (Py_ssize_t i = 0; i < PySequence_Fast_GET_SIZE(list.get()); ++i) {
      const std::optional<std::string_view> view = view_of(PySequence_Fast_GET_ITEM(list.get(), i));
      if (!view) return nullptr;
      retained.push_back(*view);
    }
    WorkerEngine& engine = engine_of(self);
    return without_lock([&]() -> std::optional<std::string> {
      engine.prepare(*level, retained);
      return std::nullopt;
    });
  });
}

PyObject* engine_evaluate(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                          PyObject* kwnames) {
  return guarded([&]() -> PyObject* {
    std::array<PyObject*, kEvaluateParameters.size()> bound{};
    if (!bind_fast_call(kEvaluateSignature, args, nargs, kwnames, bound)) return nullptr;
    std::size_t shard = 0;
    std::size_t shards = 0;
    if (!read_shard(bound[at<kEvaluateParameters>("shard")],
                    bound[at<kEvaluateParameters>("shards")], shard, shards))
      return nullptr;
    WorkerEngine& engine = engine_of(self);
    return without_lock(
        [&]() -> std::optional<std::string> { return engine.evaluate(shard, shards); });
  });
}

PyObject* engine_complete(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                          PyObject* kwnames) {
  return guarded([&]() -> PyObject* {
    std::array<PyObject*, kCompleteParameters.size()> bound{};
    if (!bind_fast_call(kCompleteSignature, args, nargs, kwnames, bound)) return nullptr;
    std::size_t shard = 0;
    std::size_t shards = 0;
    if (!read_shard(bound[at<kCompleteParameters>("shard")],
                    bound[at<kCompleteParameters>("shards")], shard, shards))
      return nullptr;
    const std::optional<std::string_view> plan = view_of(bound[at<kCompleteParameters>("plan")]);
    if (!plan) return nullptr;
    WorkerEngine& engine = engine_of(self);
    return without_lock(
        [&]() -> std::optional<std::string> { return engine.complete(shard, shards, *plan); });
  });
}

// A docstring with the text signature of its parameter table, kept for the
// life of the process.
const char* with_signature(std::string_view name, std::span<const Parameter> parameters,
                           std::string_view self, std::string_view doc) {
  static std::deque<std::string> texts;
  return texts.emplace_back(signed_doc(name, text_signature(parameters, self), doc)).c_str();
}

PyMethodDef engine_methods[] = {
    {"prepare", fast_call<engine_prepare>(), METH_FASTCALL | METH_KEYWORDS,
     with_signature(
         "prepare", kPrepareParameters, "$self",
         "Generates `level` (retained: the retained levels 2 .. level-1), catching up as "
         "needed.")},
    {"evaluate", fast_call<engine_evaluate>(), METH_FASTCALL | METH_KEYWORDS,
     with_signature("evaluate", kEvaluateParameters, "$self",
                    "The summary of one shard of the prepared level.")},
    {"complete", fast_call<engine_complete>(), METH_FASTCALL | METH_KEYWORDS,
     with_signature("complete", kCompleteParameters, "$self",
                    "The second round of one shard of the prepared level, for a beam plan.")},
    {nullptr, nullptr, 0, nullptr},
};

PyType_Slot engine_slots[] = {
    {Py_tp_doc, const_cast<char*>(with_signature("_Engine", kEngineParameters, "",
                                                 "One search's engine on a worker of a distributed "
                                                 "search."))},
    {Py_tp_new, reinterpret_cast<void*>(construct_engine)},
    {Py_tp_dealloc, reinterpret_cast<void*>(dealloc_value_object<std::unique_ptr<WorkerEngine>>)},
    {Py_tp_methods, engine_methods},
    {0, nullptr},
};

PyType_Spec engine_definition = {
    "tov_sr._Engine", static_cast<int>(sizeof(EngineObject)), 0, kClassFlags, engine_slots,
};

// --- tov_sr._distributed_call -------------------------------------------------

constexpr std::array<Parameter, 4> kCallParameters = {
    {{"transport"}, {"method"}, {"args"}, {"kwargs"}}};
const Signature kCallSignature{"_distributed_call()", kCallParameters};

}  // namespace

PyObject* distributed_call(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return guarded([&]() -> PyObject* {
    std::array<PyObject*, kCallParameters.size()> bound{};
    if (!bind_fast_call(kCallSignature, args, nargs, kwnames, bound)) return nullptr;
    PyObject* const call_args = bound[at<kCallParameters>("args")];
    PyObject* const call_kwargs = bound[at<kCallParameters>("kwargs")];
    if (!PyTuple_Check(call_args) || !(call_kwargs == Py_None || PyDict_Check(call_kwargs)))
      return raise_message(PyExc_TypeError, "args must be a tuple and kwargs a dict or None");
    PythonTransport transport(bound[at<kCallParameters>("transport")]);
    return call_search_method(bound[at<kCallParameters>("method")], call_args,
                              call_kwargs == Py_None ? nullptr : call_kwargs, transport);
  });
}

const char* distributed_call_doc() {
  static const char* const doc = with_signature(
      "_distributed_call", kCallParameters, "$module",
      "Calls a bound Searcher method with its levels evaluated through the transport.");
  return doc;
}

PyObject* engine_type() {
  static PyObject* type = nullptr;
  return class_from_spec(engine_definition, type);
}

}  // namespace tov::python
