// The part of a graph within a number of steps of a set of seed nodes.
#pragma once

#include <cstdint>
#include <utility>
#include <vector>

#include "graph/graph.h"
#include "graph/names.h"
#include "graph/scratch.h"
#include "graph/types.h"

namespace lhg {

struct SubgraphResult {
  // The seeds found, each once, in the order first given; then every other
  // member in order of discovery.
  std::vector<NodeId> nodes;
  // Every edge with both ends among the members, in edge-list order, each as
  // (source, target) positions in `nodes`.
  std::vector<std::pair<std::uint32_t, std::uint32_t>> edges;
};

// Seeds that name no node are passed over. `marks` is lent unmarked and
// given back so.
SubgraphResult subgraph(const Graph& graph, const NameList& seed_nodes, Depth max_depth, bool include_incoming,
                        bool include_outgoing, NodeMarks& marks);

}  // namespace lhg
