// The part of a graph within a number of steps of a set of seed nodes.
#pragma once

#include <cstdint>
#include <utility>
#include <vector>

#include "graph/graph.h"
#include "graph/names.h"
#include "graph/types.h"

namespace lhg {

struct SubgraphResult {
  NameTable names;  // node number -> name; empty when no seed was found
  // The seeds found, each once, in the order first given; then every other
  // member in order of discovery.
  std::vector<NodeId> nodes;
  // Every edge with both ends among the members, in edge-list order, each as
  // (source, target) positions in `nodes`.
  std::vector<std::pair<std::uint32_t, std::uint32_t>> edges;
};

SubgraphResult subgraph_impl(EdgeList edges, NameList seed_nodes, Depth max_depth, bool include_incoming,
                             bool include_outgoing);

}  // namespace lhg
