#include "graph/edge_pairs.h"

#include "graph/interrupt.h"

namespace lhg {

std::vector<EdgePair> edge_pairs(const Graph& graph) {
  Poller poller;
  std::vector<EdgePair> pairs(graph.edge_count());
  const auto begin = graph.out_begin();
  const auto targets = graph.out_targets();
  const auto ids = graph.out_edge_ids();
  for (NodeId v = 0; v < graph.node_count(); ++v) {
    for (EdgeId slot = begin[v]; slot < begin[v + 1]; ++slot) {
      poller.tick();
      pairs[ids[slot]] = {v, targets[slot]};
    }
  }
  return pairs;
}

std::size_t distinct_edge_count(const Graph& graph) {
  // A row holds all of its source's edges, so a pair is new when its target
  // was not yet seen in this row: one stamp a node, no set of pairs.
  Poller poller;
  std::vector<NodeId> seen_in(graph.node_count(), kNoNode);
  std::size_t distinct = 0;
  for (NodeId v = 0; v < graph.node_count(); ++v) {
    for (const NodeId t : graph.successors(v)) {
      poller.tick();
      if (seen_in[t] != v) {
        seen_in[t] = v;
        ++distinct;
      }
    }
  }
  return distinct;
}

Graph without_nodes(const Graph& graph, std::span<const NodeId> dropped) {
  std::vector<bool> gone(graph.node_count(), false);
  for (const NodeId v : dropped) gone[v] = true;
  const std::vector<EdgePair> pairs = edge_pairs(graph);
  EdgeList kept;
  // Names keep the kind of hash their table files them under: a table of
  // interpreter hashes hands each name's over, one of its own hashes has
  // the new list hash the bytes again under the same seed.
  const bool own = graph.names().own_hashes();
  if (own) kept.use_own_hashes(graph.names().seed());
  const auto key = [&](NodeId v) { return own ? kept.key(graph.name(v)) : graph.key(v); };
  Poller poller;
  for (const EdgePair& e : pairs) {
    poller.tick();
    if (!gone[e.source] && !gone[e.target]) kept.add(key(e.source), key(e.target));
  }
  return build_graph(std::move(kept));
}

}  // namespace lhg
