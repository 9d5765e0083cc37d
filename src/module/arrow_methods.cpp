// Graph.from_arrow: a graph from two string columns of any object that
// hands out an Arrow C stream (`__arrow_c_stream__`).
//
// The stream is moved out of its capsule, so that its release is ours to
// call, once. Its callbacks run with the interpreter lock held: a stream
// that a Python object produces calls back into the interpreter. Each
// batch's rows are read and interned with the lock released, polling for
// Ctrl-C as every core does. Every struct the producer hands over is
// released, with the lock held and no exception pending, before the call
// reports anything: releasing a Python-backed stream runs Python code.
#include <cstdint>
#include <optional>
#include <string>
#include <utility>

#include "graph/arrow_stream.h"
#include "graph/graph.h"
#include "module/binding.h"
#include "module/concurrent.h"
#include "module/errors.h"
#include "module/graph_methods.h"
#include "module/graph_object.h"

namespace lhg::py {
namespace {

constexpr const char kCapsuleName[] = "arrow_array_stream";

constexpr const char* kFromArrowParams[] = {"obj", "source", "target"};
constexpr Signature kFromArrow{"Graph.from_arrow", kFromArrowParams, 3, 1};

arrow::ColumnChoice column_choice(const char* param, PyObject* arg, std::int64_t absent) {
  arrow::ColumnChoice choice;
  choice.position = absent;
  if (arg == nullptr) return choice;
  if (PyUnicode_Check(arg)) {
    Py_ssize_t size = 0;
    const char* text = PyUnicode_AsUTF8AndSize(arg, &size);
    if (text == nullptr) throw PythonError{};
    choice.by_name = true;
    choice.name.assign(text, static_cast<std::size_t>(size));
    return choice;
  }
  if (PyBool_Check(arg) || !PyIndex_Check(arg)) {
    Ref name = type_qualname(arg);
    PyErr_Format(PyExc_TypeError, "argument '%s': a column position (int) or name (str), not '%U'", param,
                 name.get());
    throw PythonError{};
  }
  Ref index = check(PyNumber_Index(arg));
  int overflow = 0;
  const long long position = PyLong_AsLongLongAndOverflow(index.get(), &overflow);
  if (position == -1 && PyErr_Occurred()) throw PythonError{};
  if (overflow != 0) {
    PyErr_Format(PyExc_IndexError, "no column at position %S", index.get());
    throw PythonError{};
  }
  choice.position = position;
  return choice;
}

// Moves the stream out of the capsule that obj.__arrow_c_stream__() gives:
// the capsule's struct is left released, so that its destructor releases
// nothing, and `stream` owns the stream.
void take_stream(PyObject* obj, arrow::OwnedStream& stream) {
  Ref method = Ref::steal(PyObject_GetAttrString(obj, "__arrow_c_stream__"));
  if (!method) {
    if (!PyErr_ExceptionMatches(PyExc_AttributeError)) throw PythonError{};
    PyErr_Clear();
    Ref name = type_qualname(obj);
    PyErr_Format(PyExc_TypeError,
                 "Graph.from_arrow() takes an object with __arrow_c_stream__ (an Arrow table, record batch "
                 "reader or data frame), not '%U'",
                 name.get());
    throw PythonError{};
  }
  Ref capsule = check(PyObject_CallNoArgs(method.get()));
  if (!PyCapsule_IsValid(capsule.get(), kCapsuleName)) {
    Ref name = type_qualname(capsule.get());
    if (PyCapsule_CheckExact(capsule.get())) {
      const char* capsule_name = PyCapsule_GetName(capsule.get());
      if (capsule_name == nullptr && PyErr_Occurred()) throw PythonError{};
      PyErr_Format(PyExc_TypeError, "__arrow_c_stream__() returned a PyCapsule named '%s', not '%s'",
                   capsule_name == nullptr ? "" : capsule_name, kCapsuleName);
    } else {
      PyErr_Format(PyExc_TypeError, "__arrow_c_stream__() returned '%U', not a PyCapsule named '%s'", name.get(),
                   kCapsuleName);
    }
    throw PythonError{};
  }
  auto* raw = static_cast<ArrowArrayStream*>(PyCapsule_GetPointer(capsule.get(), kCapsuleName));
  if (raw == nullptr) throw_pending();
  if (raw->release == nullptr) {
    PyErr_SetString(PyExc_ValueError, "the Arrow stream of this capsule was already released");
    throw PythonError{};
  }
  *stream.get() = *raw;
  raw->release = nullptr;
}

// The structs a call holds, released in one place.
struct Held {
  arrow::OwnedStream stream;
  arrow::OwnedSchema schema;
  arrow::OwnedArray batch;

  void release() noexcept {
    batch.reset();
    schema.reset();
    stream.reset();
  }
};

// A callback of the producer's may have run Python code that failed
// without the producer noticing: its exception ends the call.
void after_callback() {
  if (PyErr_Occurred()) throw PythonError{};
}

[[noreturn]] void raise_arrow(const arrow::ArrowError& error) {
  Ref message = check(PyUnicode_DecodeUTF8(error.what(), static_cast<Py_ssize_t>(std::char_traits<char>::length(error.what())),
                                           "replace"));
  switch (error.fault()) {
    case arrow::Fault::kType: PyErr_SetObject(PyExc_TypeError, message.get()); break;
    case arrow::Fault::kValue: PyErr_SetObject(PyExc_ValueError, message.get()); break;
    case arrow::Fault::kKey: PyErr_SetObject(PyExc_KeyError, message.get()); break;
    case arrow::Fault::kIndex: PyErr_SetObject(PyExc_IndexError, message.get()); break;
    case arrow::Fault::kStream: {
      // OSError(errno, text) becomes the subclass of that errno, as for a
      // failed system call.
      Ref exc = error.code() > 0 ? check(PyObject_CallFunction(PyExc_OSError, "iO", error.code(), message.get()))
                                 : check(PyObject_CallOneArg(PyExc_OSError, message.get()));
      PyErr_SetObject(reinterpret_cast<PyObject*>(Py_TYPE(exc.get())), exc.get());
      break;
    }
  }
  throw PythonError{};
}

Graph read_graph(Held& held, const arrow::ColumnChoice& source, const arrow::ColumnChoice& target) {
  arrow::read_schema(*held.stream.get(), held.schema);
  after_callback();
  const arrow::EdgeColumns columns = arrow::edge_columns(*held.schema, source, target);
  EdgeList edges;
  edges.use_own_hashes();
  std::uint64_t rows = 0;
  for (;;) {
    const bool more = arrow::read_batch(*held.stream.get(), held.batch);
    after_callback();
    if (!more) break;
    {
      const LockReleased unlocked;
      rows += arrow::add_batch(edges, columns, *held.batch, rows);
    }
    held.batch.reset();
    // A stream of many short batches spends its time in the producer's
    // callbacks, with the lock held: Ctrl-C is answered between them.
    check_signals();
  }
  held.release();
  return released(Threads{}, [&](Threads) { return build_graph(std::move(edges)); });
}

}  // namespace

PyObject* graph_from_arrow(PyObject* type, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return guarded([&] {
    const auto arg = bind<3>(kFromArrow, args, nargs, kwnames);
    const arrow::ColumnChoice source = column_choice("source", arg[1], 0);
    const arrow::ColumnChoice target = column_choice("target", arg[2], 1);
    Held held;
    std::optional<Graph> graph;
    try {
      take_stream(arg[0], held.stream);
      graph.emplace(read_graph(held, source, target));
    } catch (const arrow::ArrowError& error) {
      // The producer's own exception, if it left one, says more.
      if (PyErr_Occurred()) {
        Ref pending = Ref::steal(PyErr_GetRaisedException());
        held.release();
        PyErr_SetRaisedException(pending.release());
        throw PythonError{};
      }
      held.release();
      raise_arrow(error);
    } catch (...) {
      Ref pending = Ref::steal(PyErr_GetRaisedException());
      held.release();
      if (pending) PyErr_SetRaisedException(pending.release());
      throw;
    }
    return new_graph_object(reinterpret_cast<PyTypeObject*>(type), std::move(*graph)).release();
  });
}

}  // namespace lhg::py
