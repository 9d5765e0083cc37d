// Shortest chains between two nodes, and the shortest cycle through one:
// why one package needs another, and which chain closes a cycle.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "graph/graph.h"
#include "graph/scratch.h"
#include "graph/types.h"

namespace lhg {

// A count of chains, however large: little-endian 64-bit limbs, no
// trailing zero limb (zero is no limb at all).
using ChainCount = std::vector<std::uint64_t>;

// The chain, source and target included, that a breadth-first search from
// `source` along the edges, in walk order, finds first: each node reached
// through the node that discovered it. [source] when source == target;
// nothing when target cannot be reached.
std::optional<std::vector<NodeId>> shortest_chain(const Graph& graph, NodeId source, NodeId target, NodeMarks& marks);

// Every shortest chain from source to target in a fixed order, read from
// the target back: by the place in the search's queue of the node before
// the target, then of the one before that, and so on. The node that
// discovered another is the earliest of its shortest-chain predecessors in
// the queue, so the first chain is shortest_chain's. Chains are sequences
// of nodes: parallel edges make no second chain.
struct ChainList {
  std::vector<std::vector<NodeId>> chains;  // the first `limit` of them
  ChainCount count;                         // how many there are in all
};
ChainList shortest_chains(const Graph& graph, NodeId source, NodeId target, std::size_t limit, NodeMarks& marks);

// A shortest cycle through v as the nodes from v round to the last before
// v again: [v] for a self loop. Of the shortest, the one that closes at the
// node earliest in the queue of a breadth-first search from v, reached as
// shortest_chain reaches it. Nothing when v is on no cycle.
std::optional<std::vector<NodeId>> shortest_cycle(const Graph& graph, NodeId v, NodeMarks& marks);

}  // namespace lhg
