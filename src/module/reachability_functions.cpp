#include "graph/reachability.h"
#include "module/binding.h"
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

}  // namespace

PyObject* ancestors_at_depth(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return guarded([&] {
    const auto arg = bind<3>(kAncestors, args, nargs, kwnames);
    EdgeList edges = convert("edges", arg[0], to_edge_list);
    const OwnedName target = convert("target", arg[1], to_node_name);
    const Depth max_depth = convert("max_depth", arg[2], to_u64);
    return depth_map_to_dict(
        run_core([&](Threads) { return ancestors_at_depth_impl(std::move(edges), target.key(), max_depth); }));
  });
}

PyObject* descendants_at_depth(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return guarded([&] {
    const auto arg = bind<3>(kDescendants, args, nargs, kwnames);
    EdgeList edges = convert("edges", arg[0], to_edge_list);
    const OwnedName source = convert("source", arg[1], to_node_name);
    const Depth max_depth = convert("max_depth", arg[2], to_u64);
    return depth_map_to_dict(
        run_core([&](Threads) { return descendants_at_depth_impl(std::move(edges), source.key(), max_depth); }));
  });
}

PyObject* batch_ancestors(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return guarded([&] {
    const auto arg = bind<3>(kBatchAncestors, args, nargs, kwnames);
    EdgeList edges = convert("edges", arg[0], to_edge_list);
    NameList targets = convert("targets", arg[1], to_name_list);
    const Depth max_depth = convert("max_depth", arg[2], to_u64);
    return batch_to_dict(run_core(
        [&](Threads) { return batch_ancestors_impl(std::move(edges), std::move(targets), max_depth); }));
  });
}

PyObject* batch_descendants(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return guarded([&] {
    const auto arg = bind<3>(kBatchDescendants, args, nargs, kwnames);
    EdgeList edges = convert("edges", arg[0], to_edge_list);
    NameList sources = convert("sources", arg[1], to_name_list);
    const Depth max_depth = convert("max_depth", arg[2], to_u64);
    return batch_to_dict(run_core(
        [&](Threads) { return batch_descendants_impl(std::move(edges), std::move(sources), max_depth); }));
  });
}

}  // namespace lhg::py
