// Graph methods that explain: why one node needs another, which chain
// closes a cycle, in what order to build, which parts are apart.
#include <cstdint>
#include <optional>
#include <vector>

#include "graph/chains.h"
#include "graph/islands.h"
#include "graph/layers.h"
#include "module/binding.h"
#include "module/concurrent.h"
#include "module/convert.h"
#include "module/errors.h"
#include "module/graph_methods.h"
#include "module/graph_object.h"

namespace lhg::py {
namespace {

PyObject* chain_or_none(const Graph& graph, const std::optional<std::vector<NodeId>>& chain) {
  if (!chain) return Py_NewRef(Py_None);
  return names_to_list(graph, *chain);
}

// A Python int of the limbs, least significant first.
Ref count_to_int(const ChainCount& count) {
  Ref value = created(PyLong_FromUnsignedLongLong(0));
  if (count.empty()) return value;
  const Ref shift = created(PyLong_FromLong(64));
  for (auto it = count.rbegin(); it != count.rend(); ++it) {
    Ref shifted = created(PyNumber_Lshift(value.get(), shift.get()));
    const Ref limb = created(PyLong_FromUnsignedLongLong(*it));
    value = created(PyNumber_Or(shifted.get(), limb.get()));
  }
  return value;
}

constexpr const char* kWhyParams[] = {"source", "target", "threads"};
constexpr Signature kWhy{"Graph.why", kWhyParams, 3, 2, 1};
constexpr const char* kWhyAllParams[] = {"source", "target", "limit", "threads"};
constexpr Signature kWhyAll{"Graph.why_all", kWhyAllParams, 4, 2, 1};
constexpr const char* kCycleParams[] = {"name", "threads"};
constexpr Signature kCycle{"Graph.cycle", kCycleParams, 2, 1, 1};
constexpr const char* kThreadsOnly[] = {"threads"};
constexpr Signature kBuildOrder{"Graph.build_order", kThreadsOnly, 1, 0, 1};
constexpr Signature kWeakly{"Graph.weakly_connected", kThreadsOnly, 1, 0, 1};

constexpr std::uint64_t kDefaultLimit = 10;

}  // namespace

PyObject* graph_why(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return guarded([&] {
    const Ref hold = Ref::borrow(self);
    Stored& st = stored_of(self);
    const auto arg = bind<3>(kWhy, args, nargs, kwnames);
    const NameKey source_key = convert("source", arg[0], name_key);
    const NameKey target_key = convert("target", arg[1], name_key);
    const Threads threads = threads_argument(arg[2]);
    const NodeId source = find_node(st.graph, arg[0], source_key);
    const NodeId target = find_node(st.graph, arg[1], target_key);
    const auto chain = released(threads, [&](Threads) {
      return with_marks(st, [&](NodeMarks& marks) { return shortest_chain(st.graph, source, target, marks); });
    });
    return chain_or_none(st.graph, chain);
  });
}

PyObject* graph_why_all(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return guarded([&] {
    const Ref hold = Ref::borrow(self);
    Stored& st = stored_of(self);
    const auto arg = bind<4>(kWhyAll, args, nargs, kwnames);
    const NameKey source_key = convert("source", arg[0], name_key);
    const NameKey target_key = convert("target", arg[1], name_key);
    const std::uint64_t limit = arg[2] != nullptr ? convert("limit", arg[2], to_u64) : kDefaultLimit;
    const Threads threads = threads_argument(arg[3]);
    const NodeId source = find_node(st.graph, arg[0], source_key);
    const NodeId target = find_node(st.graph, arg[1], target_key);
    const ChainList found = released(threads, [&](Threads) {
      return with_marks(st, [&](NodeMarks& marks) {
        return shortest_chains(st.graph, source, target, static_cast<std::size_t>(limit), marks);
      });
    });
    Ref chains = Ref::steal(lists_to_list(st.graph, found.chains));
    Ref count = count_to_int(found.count);
    return created(PyTuple_Pack(2, chains.get(), count.get())).release();
  });
}

PyObject* graph_cycle(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return guarded([&] {
    const Ref hold = Ref::borrow(self);
    Stored& st = stored_of(self);
    const auto arg = bind<2>(kCycle, args, nargs, kwnames);
    const NameKey key = convert("name", arg[0], name_key);
    const Threads threads = threads_argument(arg[1]);
    const NodeId v = find_node(st.graph, arg[0], key);
    const auto cycle = released(threads, [&](Threads) {
      return with_marks(st, [&](NodeMarks& marks) { return shortest_cycle(st.graph, v, marks); });
    });
    return chain_or_none(st.graph, cycle);
  });
}

PyObject* graph_build_order(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return guarded([&] {
    const Ref hold = Ref::borrow(self);
    Stored& st = stored_of(self);
    const auto arg = bind<1>(kBuildOrder, args, nargs, kwnames);
    const Threads threads = threads_argument(arg[0]);
    const Layers layers = released(threads, [&](Threads) { return build_order(st.graph); });
    // The layers as groups of units: each layer's units are consecutive.
    Ref list = created(PyList_New(0));
    std::size_t first = 0;
    for (const std::size_t last : layers.layer_end) {
      Ref layer = Ref::steal(groups_to_list(st.graph, layers.members, layers.unit_end, first, last));
      if (PyList_Append(list.get(), layer.get()) < 0) throw_pending();
      first = last;
    }
    return list.release();
  });
}

PyObject* graph_weakly_connected(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return guarded([&] {
    const Ref hold = Ref::borrow(self);
    Stored& st = stored_of(self);
    const auto arg = bind<1>(kWeakly, args, nargs, kwnames);
    const Threads threads = threads_argument(arg[0]);
    const Islands islands = released(threads, [&](Threads) { return weakly_connected(st.graph); });
    return groups_to_list(st.graph, islands.members, islands.ends, 0, islands.ends.size());
  });
}

}  // namespace lhg::py
