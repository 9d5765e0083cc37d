// Graph.save, Graph.load and pickling: a built graph as a snapshot file or
// as the same bytes in memory.
#include <Python.h>

#include <cstring>
#include <string>

#include "graph/snapshot.h"
#include "module/binding.h"
#include "module/concurrent.h"
#include "module/errors.h"
#include "module/graph_methods.h"
#include "module/graph_object.h"

namespace lhg::py {
namespace {

// A path argument (str, bytes or os.PathLike) as the file system's bytes.
std::string path_argument(PyObject* obj) {
  PyObject* converted = nullptr;
  if (PyUnicode_FSConverter(obj, &converted) == 0) throw PythonError{};
  const Ref bytes = Ref::steal(converted);
  return {PyBytes_AS_STRING(bytes.get()), static_cast<std::size_t>(PyBytes_GET_SIZE(bytes.get()))};
}

PyTypeObject* graph_class(PyObject* cls) {
  if (!PyType_Check(cls) || !PyType_IsSubtype(reinterpret_cast<PyTypeObject*>(cls), g_graph_type)) {
    PyErr_SetString(PyExc_TypeError, "not a subclass of Graph");
    throw PythonError{};
  }
  return reinterpret_cast<PyTypeObject*>(cls);
}

// Writes into a bytes object made at the snapshot's size.
class MemorySink : public SnapshotSink {
 public:
  explicit MemorySink(char* at, std::size_t size) : at_(at), left_(size) {}
  void write(const void* bytes, std::size_t size) override {
    if (size == 0) return;  // an empty array's data may be null
    if (size > left_) throw InternalFailure("snapshot longer than its size");
    std::memcpy(at_, bytes, size);
    at_ += size;
    left_ -= size;
  }
  std::size_t left() const noexcept { return left_; }

 private:
  char* at_;
  std::size_t left_;
};

constexpr const char* kPathParams[] = {"path"};
constexpr Signature kSave{"Graph.save", kPathParams, 1, 1};
constexpr const char* kLoadParams[] = {"path", "threads"};
constexpr Signature kLoad{"Graph.load", kLoadParams, 2, 1, 1};

}  // namespace

PyObject* graph_save(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return guarded([&]() -> PyObject* {
    const Ref hold = Ref::borrow(self);
    const auto arg = bind<1>(kSave, args, nargs, kwnames);
    const std::string path = path_argument(arg[0]);
    const Stored& st = stored_of(self);
    released(Threads{}, [&](Threads) {
      save_snapshot(st.graph, path);
      return 0;
    });
    Py_RETURN_NONE;
  });
}

PyObject* graph_load(PyObject* cls, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return guarded([&]() -> PyObject* {
    const auto arg = bind<2>(kLoad, args, nargs, kwnames);
    PyTypeObject* type = graph_class(cls);
    const std::string path = path_argument(arg[0]);
    const Threads threads = threads_argument(arg[1]);
    return new_graph_object(type, released(threads, [&](Threads t) { return load_snapshot(path, t); })).release();
  });
}

// The graph's snapshot as bytes.
Ref snapshot_bytes(const Graph& graph) {
  const std::size_t size = snapshot_size(graph);
  Ref bytes = check(PyBytes_FromStringAndSize(nullptr, static_cast<Py_ssize_t>(size)));
  char* at = PyBytes_AS_STRING(bytes.get());
  released(Threads{}, [&](Threads) {
    MemorySink sink(at, size);
    char header[kSnapshotHeaderBytes];
    write_snapshot(graph, sink, header);
    if (sink.left() != 0) throw InternalFailure("snapshot shorter than its size");
    std::memcpy(at, header, sizeof header);
    return 0;
  });
  return bytes;
}

// Pickles as (type(self)._from_snapshot, (snapshot bytes,), state): the same
// bytes a saved file holds, and the instance's own attributes, if any, as
// the default pickling would give them.
PyObject* graph_reduce(PyObject* self, PyObject*) {
  return guarded([&] {
    const Ref hold = Ref::borrow(self);
    Ref restore = check(PyObject_GetAttrString(reinterpret_cast<PyObject*>(Py_TYPE(self)), "_from_snapshot"));
    Ref state = check(PyObject_CallMethod(self, "__getstate__", nullptr));
    Ref bytes = snapshot_bytes(stored_of(self).graph);
    return check(Py_BuildValue("(O(O)O)", restore.get(), bytes.get(), state.get())).release();
  });
}

PyObject* graph_reduce_ex(PyObject* self, PyObject*) { return graph_reduce(self, nullptr); }

PyObject* graph_from_snapshot(PyObject* cls, PyObject* data) {
  return guarded([&]() -> PyObject* {
    PyTypeObject* type = graph_class(cls);
    // The buffer stays exported, so unchanged and in place, while it is
    // copied with the lock released.
    struct Exported {
      Py_buffer view{};  // obj NULL until exported: releasing it then does nothing
      ~Exported() { PyBuffer_Release(&view); }
    };
    Exported exported;
    if (PyObject_GetBuffer(data, &exported.view, PyBUF_SIMPLE) != 0) throw PythonError{};
    const auto* at = static_cast<const char*>(exported.view.buf);
    const auto size = static_cast<std::size_t>(exported.view.len);
    return new_graph_object(type, released(Threads{}, [&](Threads) {
             return read_snapshot(copy_snapshot_bytes(at, size));
           }))
        .release();
  });
}

}  // namespace lhg::py
