// The Graph type's edge list: its pairs back in list order, how many of
// them are distinct, and the graph of the list without some nodes' edges.
// Each is worked out from the rows with the interpreter lock released; the
// caller of a graph read from a file need never hold the list as objects.
#include <cstddef>
#include <vector>

#include "graph/edge_pairs.h"
#include "module/binding.h"
#include "module/convert.h"
#include "module/errors.h"
#include "module/graph_methods.h"
#include "module/graph_object.h"

namespace lhg::py {
namespace {

constexpr const char* kWithoutParams[] = {"names"};
constexpr Signature kWithout{"Graph.without", kWithoutParams, 1, 1};

}  // namespace

PyObject* graph_edges(PyObject* self, PyObject*) {
  return guarded([&] {
    const Ref hold = Ref::borrow(self);
    Stored& st = stored_of(self);
    // The subgraph of every node, listed in node order, is the whole list
    // of pairs: its conversion makes each name's str once and shares it
    // among the tuples that name it.
    SubgraphResult all = released(Threads{}, [&](Threads) {
      SubgraphResult whole;
      whole.nodes.resize(st.graph.node_count());
      for (NodeId v = 0; v < st.graph.node_count(); ++v) whole.nodes[v] = v;
      const std::vector<EdgePair> pairs = edge_pairs(st.graph);
      whole.edges.reserve(pairs.size());
      for (const EdgePair& e : pairs) whole.edges.emplace_back(e.source, e.target);
      return whole;
    });
    const Ref both = Ref::steal(subgraph_to_tuple(st.graph, all));
    return Py_NewRef(PyTuple_GET_ITEM(both.get(), 1));
  });
}

PyObject* graph_distinct_edge_count(PyObject* self, PyObject*) {
  return guarded([&] {
    const Ref hold = Ref::borrow(self);
    const Stored& st = stored_of(self);
    const std::size_t count = released(Threads{}, [&](Threads) { return distinct_edge_count(st.graph); });
    return check(PyLong_FromSize_t(count)).release();
  });
}

PyObject* graph_without(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return guarded([&] {
    const Ref hold = Ref::borrow(self);
    const Stored& st = stored_of(self);
    const auto arg = bind<1>(kWithout, args, nargs, kwnames);
    const NameList names = convert("names", arg[0], to_name_list);
    require_nodes(st.graph, names);
    std::vector<NodeId> dropped(names.size());
    for (std::size_t i = 0; i < names.size(); ++i) dropped[i] = st.graph.find(names.key(i));
    Graph rest = released(Threads{}, [&](Threads) { return without_nodes(st.graph, dropped); });
    return new_graph_object(Py_TYPE(self), std::move(rest)).release();
  });
}

}  // namespace lhg::py
