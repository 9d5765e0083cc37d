// Graph.closure_sizes: for every node, how many nodes it reaches and how
// many reach it.
#include <cstdint>

#include "graph/closure.h"
#include "graph/interrupt.h"
#include "module/binding.h"
#include "module/concurrent.h"
#include "module/convert.h"
#include "module/errors.h"
#include "module/graph_methods.h"
#include "module/graph_object.h"

namespace lhg::py {
namespace {

constexpr const char* kClosureParams[] = {"threads"};
constexpr Signature kClosure{"Graph.closure_sizes", kClosureParams, 1, 0, 1};

// An entry makes a str, two ints and a tuple: each costs about as much as
// a few dozen units of a core's work (interrupt.h).
constexpr std::uint64_t kUnitsPerEntry = 64;

Ref count_to_int(std::uint64_t count) { return created(PyLong_FromUnsignedLongLong(count)); }

}  // namespace

PyObject* graph_closure_sizes(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return guarded([&] {
    const Ref hold = Ref::borrow(self);
    Stored& st = stored_of(self);
    const auto arg = bind<1>(kClosure, args, nargs, kwnames);
    const Threads threads = threads_argument(arg[0]);
    const ClosureSizes sizes = released(threads, [&](Threads t) { return closure_sizes(st.graph, t); });
    const Graph& graph = st.graph;
    Ref dict = created(PyDict_New());
    Poller poller;
    for (NodeId v = 0; v < graph.node_count(); ++v) {
      poller.tick(kUnitsPerEntry);
      Ref key = name_to_str(graph.key(v));
      Ref pair = created(PyTuple_New(2));
      PyTuple_SET_ITEM(pair.get(), 0, count_to_int(sizes.dependencies[v]).release());
      PyTuple_SET_ITEM(pair.get(), 1, count_to_int(sizes.dependents[v]).release());
      if (PyDict_SetItem(dict.get(), key.get(), pair.get()) < 0) dict_store_failed();
    }
    return dict.release();
  });
}

}  // namespace lhg::py
