// One breadth-first search from all seeds at once, then one pass over the
// edges for those inside the discovered set.
//
// Every seed is discovered at depth 0 before anything is expanded, so a seed
// that another seed reaches still counts as a seed. The node list doubles as
// the queue: levels are expanded slice by slice, each node's outgoing
// neighbours before its incoming ones, which is the order a first-in
// first-out queue of (node, depth) pairs would hand them out.
#include "graph/subgraph.h"

#include "graph/interrupt.h"

namespace lhg {

SubgraphResult subgraph_impl(EdgeList edges, NameList seed_nodes, Depth max_depth, bool include_incoming,
                             bool include_outgoing) {
  Graph graph = build_graph(std::move(edges));
  SubgraphResult result;
  if (graph.node_count() == 0 || seed_nodes.empty()) return result;

  // position[v] is v's place in the node list, kNoNode while v is undiscovered;
  // it is the discovered set and, later, the renumbering of the kept edges.
  std::vector<std::uint32_t> position(graph.node_count(), kNoNode);
  Poller poller;
  auto discover = [&](NodeId v) {
    poller.tick();
    if (position[v] != kNoNode) return;
    position[v] = static_cast<std::uint32_t>(result.nodes.size());
    result.nodes.push_back(v);
  };
  for (std::size_t i = 0; i < seed_nodes.size(); ++i) {
    const NodeId s = graph.find(seed_nodes.key(i));
    if (s != kNoNode) discover(s);
  }
  if (result.nodes.empty()) return result;

  // nodes[head, end) are the members at depth d; d + 1 cannot wrap.
  std::size_t head = 0;
  for (Depth d = 0; d < max_depth && head < result.nodes.size(); ++d) {
    const std::size_t end = result.nodes.size();
    for (; head < end; ++head) {
      const NodeId v = result.nodes[head];
      poller.tick();
      if (include_outgoing) graph.for_each_successor(v, discover);
      if (include_incoming) graph.for_each_predecessor(v, discover);
    }
  }

  // Every edge between members, walked or not: edges among seeds, edges back
  // from the last level, self loops and each copy of a parallel edge.
  for (const Edge& e : graph.edges()) {
    poller.tick();
    const std::uint32_t s = position[e.source];
    const std::uint32_t t = position[e.target];
    if (s != kNoNode && t != kNoNode) result.edges.emplace_back(s, t);
  }
  result.names = std::move(graph).take_names();
  return result;
}

}  // namespace lhg
