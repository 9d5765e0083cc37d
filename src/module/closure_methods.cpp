// Graph.closure_sizes: for every node, how many nodes it reaches and how
// many reach it.
#include "graph/closure.h"
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

}  // namespace

PyObject* graph_closure_sizes(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return guarded([&] {
    const Ref hold = Ref::borrow(self);
    Stored& st = stored_of(self);
    const auto arg = bind<1>(kClosure, args, nargs, kwnames);
    const Threads threads = threads_argument(arg[0]);
    const ClosureSizes sizes = released(threads, [&](Threads t) { return closure_sizes(st.graph, t); });
    return count_pairs_to_dict(st.graph, sizes.dependencies, sizes.dependents);
  });
}

}  // namespace lhg::py
