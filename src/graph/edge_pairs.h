// A built graph's edges as its edge list held them, and what follows from
// that list alone: how many distinct pairs it has, and the graph of the
// list with some nodes' edges left out.
//
// The rows keep each edge's position in the list (Graph::out_edge_ids), so
// the list comes back in its own order without the graph keeping a copy.
#pragma once

#include <cstddef>
#include <span>
#include <vector>

#include "graph/graph.h"
#include "graph/types.h"

namespace lhg {

// Every edge in edge-list order: Graph(edge_pairs(g)) is g again.
std::vector<EdgePair> edge_pairs(const Graph& graph);

// The number of distinct (source, target) pairs: parallel edges count once,
// a self loop as any other edge.
std::size_t distinct_edge_count(const Graph& graph);

// The graph of the edge list with every edge that has a node of `dropped`
// at either end left out: nodes numbered in order of first appearance among
// the edges kept, as building from the shorter list numbers them. A node
// whose every edge touches a dropped one goes with them.
Graph without_nodes(const Graph& graph, std::span<const NodeId> dropped);

}  // namespace lhg
