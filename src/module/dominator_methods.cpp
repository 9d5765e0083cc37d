// The Graph type's questions about what a root depends on through one node
// alone: each reached node's immediate dominator, what leaves the root's
// reach with a node, and which nodes take the most with them.
//
// All three read every argument before they look names up, so that a bad
// argument is reported before a name that is not a node, and build the
// root's dominator tree with the interpreter lock released; the last two
// reduce it there too, so that only their answer, not the tree, is
// converted with the lock held.
#include "module/graph_methods.h"
#include "module/graph_object.h"

#include <cstdint>
#include <utility>
#include <vector>

#include "graph/dominators.h"
#include "graph/interrupt.h"
#include "module/binding.h"
#include "module/concurrent.h"
#include "module/convert.h"
#include "module/errors.h"

namespace lhg::py {
namespace {

// Creating a result object costs about as much as a few dozen units of a
// core's work (interrupt.h).
constexpr std::uint64_t kUnitsPerObject = 16;

template <class F>
auto on_tree(Stored& st, NodeId root, Threads threads, F&& reduce) {
  return released(threads, [&](Threads) {
    return reduce(with_marks(st, [&](NodeMarks& marks) { return dominator_tree(st.graph, root, marks); }));
  });
}

constexpr const char* kDominatorsParams[] = {"root", "threads"};
constexpr Signature kDominators{"Graph.dominators", kDominatorsParams, 2, 1, 1};
constexpr const char* kFallsAwayParams[] = {"root", "name", "threads"};
constexpr Signature kFallsAway{"Graph.falls_away", kFallsAwayParams, 3, 2, 1};
constexpr const char* kSoleProvidersParams[] = {"root", "top", "threads"};
constexpr Signature kSoleProviders{"Graph.sole_providers", kSoleProvidersParams, 3, 1, 1};

}  // namespace

PyObject* graph_dominators(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return guarded([&] {
    const Ref hold = Ref::borrow(self);
    Stored& st = stored_of(self);
    const auto arg = bind<2>(kDominators, args, nargs, kwnames);
    const NameKey root_key = convert("root", arg[0], name_key);
    const Threads threads = threads_argument(arg[1]);
    const NodeId root = find_node(st.graph, arg[0], root_key);
    const DominatorTree tree = on_tree(st, root, threads, [](DominatorTree t) { return t; });
    // One str per reached node, the root's included: a dominator is a
    // reached node too, and its str serves every value that names it.
    Poller poller;
    std::vector<Ref> strs(tree.size());
    for (std::size_t j = 0; j < tree.size(); ++j) {
      poller.tick(kUnitsPerObject);
      strs[j] = name_to_str(st.graph.key(tree.order[j]));
    }
    Ref dict = created(PyDict_New());
    for (std::size_t j = 1; j < tree.size(); ++j) {
      poller.tick(kUnitsPerObject);
      if (PyDict_SetItem(dict.get(), strs[j].get(), strs[tree.idom[j]].get()) < 0) dict_store_failed();
    }
    return dict.release();
  });
}

PyObject* graph_falls_away(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return guarded([&] {
    const Ref hold = Ref::borrow(self);
    Stored& st = stored_of(self);
    const auto arg = bind<3>(kFallsAway, args, nargs, kwnames);
    const NameKey root_key = convert("root", arg[0], name_key);
    const NameKey dropped_key = convert("name", arg[1], name_key);
    const Threads threads = threads_argument(arg[2]);
    const NodeId root = find_node(st.graph, arg[0], root_key);
    const NodeId dropped = find_node(st.graph, arg[1], dropped_key);
    const std::vector<NodeId> nodes =
        on_tree(st, root, threads, [&](const DominatorTree& tree) { return subtree_nodes(tree, dropped); });
    return names_to_list(st.graph, nodes);
  });
}

PyObject* graph_sole_providers(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return guarded([&] {
    const Ref hold = Ref::borrow(self);
    Stored& st = stored_of(self);
    const auto arg = bind<3>(kSoleProviders, args, nargs, kwnames);
    const NameKey root_key = convert("root", arg[0], name_key);
    const std::uint64_t top = arg[1] != nullptr ? convert("top", arg[1], to_u64) : 10;
    const Threads threads = threads_argument(arg[2]);
    const NodeId root = find_node(st.graph, arg[0], root_key);
    const std::vector<std::pair<NodeId, std::uint32_t>> largest =
        on_tree(st, root, threads, [&](const DominatorTree& tree) { return largest_subtrees(tree, top); });
    // Appended rather than set by slot: a poll may run the collector, which
    // must never meet a list with empty slots.
    Ref list = created(PyList_New(0));
    Poller poller;
    for (const auto& [v, count] : largest) {
      poller.tick(kUnitsPerObject);
      Ref str = name_to_str(st.graph.key(v));
      Ref size = created(PyLong_FromUnsignedLong(count));
      Ref pair = created(PyTuple_Pack(2, str.get(), size.get()));
      if (PyList_Append(list.get(), pair.get()) < 0) creation_failed();
    }
    return list.release();
  });
}

}  // namespace lhg::py
