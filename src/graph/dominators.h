// The dominator tree of what one root reaches: which nodes every chain of
// edges from the root to a node must pass through.
#pragma once

#include <cstdint>
#include <utility>
#include <vector>

#include "graph/graph.h"
#include "graph/scratch.h"
#include "graph/types.h"

namespace lhg {

// The nodes the root reaches, in the order a breadth-first search from it
// along the edges, in walk order, discovers them: the root first. A node's
// immediate dominator is the last node that every chain from the root to it
// passes through; it always comes earlier in `order` (it is an ancestor in
// the search's own tree), so each node's dominator subtree lies after it.
struct DominatorTree {
  std::vector<NodeId> order;
  // For each position in `order`, the position of its immediate dominator;
  // the root's is its own, 0.
  std::vector<std::uint32_t> idom;

  std::size_t size() const noexcept { return order.size(); }
};

// The tree of everything `root` reaches. `marks` is lent unmarked and given
// back so.
DominatorTree dominator_tree(const Graph& graph, NodeId root, NodeMarks& marks);

// For each position in `tree.order`, the number of nodes its dominator
// subtree holds, itself included: what leaves the root's reach without it.
std::vector<std::uint32_t> subtree_sizes(const DominatorTree& tree);

// The nodes of v's dominator subtree, in the tree's order, v first: all the
// tree if v is the root, none if the root does not reach v.
std::vector<NodeId> subtree_nodes(const DominatorTree& tree, NodeId v);

// The `count` nodes other than the root with the largest subtrees, each
// with its subtree's size: largest first, equal sizes in the tree's order.
std::vector<std::pair<NodeId, std::uint32_t>> largest_subtrees(const DominatorTree& tree, std::uint64_t count);

}  // namespace lhg
