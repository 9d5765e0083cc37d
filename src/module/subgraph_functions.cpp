#include "graph/subgraph.h"
#include "module/binding.h"
#include "module/built.h"
#include "module/concurrent.h"
#include "module/convert.h"
#include "module/functions.h"

namespace lhg::py {
namespace {

constexpr const char* kSubgraphParams[] = {"edges", "seed_nodes", "max_depth", "include_incoming",
                                           "include_outgoing"};
constexpr Signature kSubgraph{"subgraph", kSubgraphParams, 5, 2};

constexpr Depth kDefaultMaxDepth = 2;

}  // namespace

PyObject* subgraph(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return guarded([&] {
    const auto arg = bind<5>(kSubgraph, args, nargs, kwnames);
    EdgeList edges = convert("edges", arg[0], to_edge_list);
    const NameList seed_nodes = convert("seed_nodes", arg[1], to_name_list);
    const Depth max_depth = arg[2] != nullptr ? convert("max_depth", arg[2], to_u64) : kDefaultMaxDepth;
    const bool include_incoming = arg[3] != nullptr ? convert("include_incoming", arg[3], to_bool) : true;
    const bool include_outgoing = arg[4] != nullptr ? convert("include_outgoing", arg[4], to_bool) : true;
    const auto done = run_core([&](Threads threads) {
      return build_then(edges, threads, [&](const Graph& graph, Threads) {
        NodeMarks marks(graph.node_count());
        return lhg::subgraph(graph, seed_nodes, max_depth, include_incoming, include_outgoing, marks);
      });
    });
    return subgraph_to_tuple(done.graph, done.result);
  });
}

}  // namespace lhg::py
