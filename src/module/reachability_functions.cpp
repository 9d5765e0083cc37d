#include "graph/reachability.h"
#include "module/binding.h"
#include "module/built.h"
#include "module/concurrent.h"
#include "module/convert.h"
#include "module/functions.h"

namespace lhg::py {
namespace {

constexpr const char* kAncestorsParams[] = {"edges", "target", "max_depth"};
constexpr Signature kAncestors{"ancestors_at_depth", kAncestorsParams, 3, 3};
constexpr const char* kDescendantsParams[] = {"edges", "source", "max_depth"};
constexpr Signature kDescendants{"descendants_at_depth", kDescendantsParams, 3, 3};
constexpr const char* kBatchAncestorsParams[] = {"edges", "targets", "max_depth"};
constexpr Signature kBatchAncestors{"batch_ancestors", kBatchAncestorsParams, 3, 3};
constexpr const char* kBatchDescendantsParams[] = {"edges", "sources", "max_depth"};
constexpr Signature kBatchDescendants{"batch_descendants", kBatchDescendantsParams, 3, 3};

using DepthCore = DepthMap (*)(const Graph&, NodeId, Depth, NodeMarks&);
using BatchCore = BatchDepths (*)(const Graph&, const NameList&, Depth, MarksPool&, Threads);

PyObject* depth_function(const Signature& sig, const char* start_param, DepthCore core, PyObject* const* args,
                         Py_ssize_t nargs, PyObject* kwnames) {
  return guarded([&] {
    const auto arg = bind<3>(sig, args, nargs, kwnames);
    EdgeList edges = convert("edges", arg[0], to_edge_list);
    const OwnedName start = convert(start_param, arg[1], to_node_name);
    const Depth max_depth = convert("max_depth", arg[2], to_u64);
    const auto done = run_core([&](Threads threads) {
      return build_then(edges, threads, [&](const Graph& graph, Threads) {
        NodeMarks marks(graph.node_count());
        return core(graph, graph.find(start.key()), max_depth, marks);
      });
    });
    return depth_map_to_dict(done.graph, done.result);
  });
}

PyObject* batch_function(const Signature& sig, const char* starts_param, BatchCore core, PyObject* const* args,
                         Py_ssize_t nargs, PyObject* kwnames) {
  return guarded([&] {
    const auto arg = bind<3>(sig, args, nargs, kwnames);
    EdgeList edges = convert("edges", arg[0], to_edge_list);
    const NameList starts = convert(starts_param, arg[1], to_name_list);
    const Depth max_depth = convert("max_depth", arg[2], to_u64);
    const auto done = run_core([&](Threads threads) {
      return build_then(edges, threads, [&](const Graph& graph, Threads t) {
        MarksPool pool(graph.node_count());
        return core(graph, starts, max_depth, pool, t);
      });
    });
    return batch_to_dict(done.graph, starts, done.result);
  });
}

}  // namespace

PyObject* ancestors_at_depth(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return depth_function(kAncestors, "target", &lhg::ancestors_at_depth, args, nargs, kwnames);
}

PyObject* descendants_at_depth(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return depth_function(kDescendants, "source", &lhg::descendants_at_depth, args, nargs, kwnames);
}

PyObject* batch_ancestors(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return batch_function(kBatchAncestors, "targets", &lhg::batch_ancestors, args, nargs, kwnames);
}

PyObject* batch_descendants(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return batch_function(kBatchDescendants, "sources", &lhg::batch_descendants, args, nargs, kwnames);
}

}  // namespace lhg::py
