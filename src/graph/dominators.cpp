// Immediate dominators of everything one root reaches, by Lengauer and
// Tarjan's algorithm in its simple form (path compression without balanced
// linking): O(m log n) in the nodes and edges reached, and in practice
// faster than the balanced form, whose bound is better only on paper.
//
// A query costs what the root reaches. A breadth-first search first finds
// the reached nodes and gives each its position in discovery order through
// the borrowed marks; every other array is indexed by such a position (or
// by the depth-first number below) and sized by the reached count. The
// algorithm walks edges backwards, but a reached node's incoming edges
// from nodes the root does not reach are of no use to it, and a widely
// used node may have millions: so the reached edges are copied, reversed,
// from the rows walked forwards, and the backward walks never leave the
// reached part.
//
// The tree is unique, so neither search order changes the answer; the
// breadth-first order is the result's order because it is fixed by the
// store's numbering and walk order alone, and because a node's immediate
// dominator lies on its path in the search's tree, so it always comes
// earlier: one pass forwards or backwards over the order then gives
// subtrees and their sizes. Self loops and parallel edges need nothing of
// their own: a self loop offers a node its own number, which its
// semidominator never exceeds, and a repeated predecessor offers the same
// candidate twice.
//
// Nothing recurses: the depth-first search keeps its frames on an explicit
// stack, and path compression walks up, then back down, an explicit list,
// so a path or cycle of any length costs no call-stack depth.
#include "graph/dominators.h"

#include "graph/interrupt.h"

#include <algorithm>
#include <cstddef>

namespace lhg {
namespace {

constexpr std::uint32_t kNone = kEndMarker;

// The reached nodes in discovery order, root first; each marked with its
// position there.
std::vector<NodeId> discover(const Graph& graph, NodeId root, NodeMarks& marks, Poller& poller) {
  std::vector<NodeId> order{root};
  marks.mark(root, 0);
  for (std::size_t head = 0; head < order.size(); ++head) {
    for (const NodeId u : graph.successors(order[head])) {
      poller.tick();
      if (marks.mark(u, static_cast<std::uint32_t>(order.size()))) order.push_back(u);
    }
  }
  return order;
}

// A depth-first numbering of the reached nodes from the root (number 0),
// with each one's parent in the search's tree. `number` maps a position in
// discovery order to its depth-first number, `vertex` back.
struct DepthFirst {
  std::vector<std::uint32_t> number;
  std::vector<std::uint32_t> vertex;
  std::vector<std::uint32_t> parent;  // by number; the root's is itself
};

DepthFirst depth_first(const Graph& graph, const std::vector<NodeId>& order, const NodeMarks& marks,
                       Poller& poller) {
  const std::size_t k = order.size();
  DepthFirst dfs{std::vector<std::uint32_t>(k, kNone), {}, {}};
  dfs.vertex.reserve(k);
  dfs.parent.reserve(k);
  // A frame is a node being searched and the next of its edges to try; the
  // parent a node gets is the frame on top when its edge is tried, which is
  // what makes the tree a depth-first one.
  struct Frame {
    std::uint32_t position;
    EdgeId next;
  };
  std::vector<Frame> stack{{0, 0}};
  dfs.number[0] = 0;
  dfs.vertex.push_back(0);
  dfs.parent.push_back(0);
  while (!stack.empty()) {
    Frame& top = stack.back();
    const std::span<const NodeId> out = graph.successors(order[top.position]);
    if (top.next == out.size()) {
      stack.pop_back();
      continue;
    }
    poller.tick();
    const std::uint32_t u = marks[out[top.next++]];
    if (dfs.number[u] != kNone) continue;
    const std::uint32_t from = dfs.number[top.position];
    dfs.number[u] = static_cast<std::uint32_t>(dfs.vertex.size());
    dfs.vertex.push_back(u);
    dfs.parent.push_back(from);
    stack.push_back({u, 0});  // `top` dangles from here
  }
  return dfs;
}

// The reached edges reversed, by depth-first number at both ends: the
// sources of w's edges are preds[begin[w], begin[w + 1]).
struct Reversed {
  std::vector<EdgeId> begin;
  std::vector<std::uint32_t> preds;
};

Reversed reversed_edges(const Graph& graph, const std::vector<NodeId>& order, const NodeMarks& marks,
                        const DepthFirst& dfs, Poller& poller) {
  const std::size_t k = order.size();
  Reversed rev{std::vector<EdgeId>(k + 1, 0), {}};
  // Counted into begin[w], summed so that begin[w] ends w's slots, then
  // filled backwards from there, which leaves begin[w] at their start.
  for (std::uint32_t d = 0; d < k; ++d) {
    for (const NodeId t : graph.successors(order[dfs.vertex[d]])) {
      poller.tick();
      ++rev.begin[dfs.number[marks[t]]];
    }
  }
  for (std::size_t w = 1; w <= k; ++w) rev.begin[w] += rev.begin[w - 1];
  rev.preds.resize(rev.begin[k]);
  for (std::uint32_t d = 0; d < k; ++d) {
    for (const NodeId t : graph.successors(order[dfs.vertex[d]])) {
      poller.tick();
      rev.preds[--rev.begin[dfs.number[marks[t]]]] = d;
    }
  }
  return rev;
}

// Lengauer and Tarjan's passes over depth-first numbers: each node's
// immediate dominator, by number.
std::vector<std::uint32_t> immediate_dominators(const DepthFirst& dfs, const Reversed& rev, Poller& poller) {
  const std::size_t k = dfs.vertex.size();
  std::vector<std::uint32_t> semi(k);
  std::vector<std::uint32_t> label(k);
  for (std::uint32_t v = 0; v < k; ++v) semi[v] = label[v] = v;
  // The forest of processed nodes: a node's ancestor, kNone for a tree's
  // root. Nodes are processed in decreasing number, and a node is linked to
  // its parent once its semidominator is known.
  std::vector<std::uint32_t> ancestor(k, kNone);
  std::vector<std::uint32_t> idom(k, 0);
  // Buckets as lists threaded through one array: each node waits in the
  // bucket of its semidominator exactly once.
  std::vector<std::uint32_t> bucket_head(k, kNone);
  std::vector<std::uint32_t> bucket_next(k, kNone);
  std::vector<std::uint32_t> path;

  // The node of least semidominator on the forest path from v up to, but
  // not including, its tree's root; v itself if v is a root. The path is
  // compressed on the way: the nodes below the root's child are walked up
  // to it, then settled from the top down, each taking its ancestor's
  // label and skipping to the ancestor's ancestor.
  auto eval = [&](std::uint32_t v) {
    if (ancestor[v] == kNone) return v;
    for (std::uint32_t x = v; ancestor[ancestor[x]] != kNone; x = ancestor[x]) path.push_back(x);
    poller.tick(path.size());
    while (!path.empty()) {
      const std::uint32_t x = path.back();
      path.pop_back();
      const std::uint32_t a = ancestor[x];
      if (semi[label[a]] < semi[label[x]]) label[x] = label[a];
      ancestor[x] = ancestor[a];
    }
    return label[v];
  };

  for (std::uint32_t w = static_cast<std::uint32_t>(k); w-- > 1;) {
    // A predecessor numbered below w is unprocessed, a root of its own, and
    // offers its own number; one above offers the least semidominator on
    // its way up to where it meets the search tree's path to w.
    for (EdgeId e = rev.begin[w]; e < rev.begin[w + 1]; ++e) {
      poller.tick();
      semi[w] = std::min(semi[w], semi[eval(rev.preds[e])]);
    }
    bucket_next[w] = bucket_head[semi[w]];
    bucket_head[semi[w]] = w;
    const std::uint32_t p = dfs.parent[w];
    ancestor[w] = p;
    // Every node waiting on p has p as its semidominator and lies below w:
    // its immediate dominator is p, unless a node between them has a lower
    // semidominator, whose immediate dominator it then shares (settled in
    // the pass below).
    for (std::uint32_t v = bucket_head[p]; v != kNone; v = bucket_next[v]) {
      poller.tick();
      const std::uint32_t u = eval(v);
      idom[v] = semi[u] < semi[v] ? u : p;
    }
    bucket_head[p] = kNone;
  }
  for (std::uint32_t w = 1; w < k; ++w) {
    if (idom[w] != semi[w]) idom[w] = idom[idom[w]];
  }
  return idom;
}

}  // namespace

DominatorTree dominator_tree(const Graph& graph, NodeId root, NodeMarks& marks) {
  DominatorTree tree;
  if (root == kNoNode) return tree;
  const ClearAfter clear(marks);
  Poller poller;
  tree.order = discover(graph, root, marks, poller);
  const DepthFirst dfs = depth_first(graph, tree.order, marks, poller);
  std::vector<std::uint32_t> by_number;
  {
    const Reversed rev = reversed_edges(graph, tree.order, marks, dfs, poller);
    by_number = immediate_dominators(dfs, rev, poller);
  }
  const std::size_t k = tree.order.size();
  tree.idom.resize(k);
  for (std::uint32_t j = 0; j < k; ++j) tree.idom[j] = dfs.vertex[by_number[dfs.number[j]]];
  return tree;
}

std::vector<std::uint32_t> subtree_sizes(const DominatorTree& tree) {
  const std::size_t k = tree.size();
  std::vector<std::uint32_t> size(k, 1);
  // Children come after their immediate dominator, so walking backwards
  // finishes each subtree before adding it to its parent.
  for (std::size_t j = k; j-- > 1;) size[tree.idom[j]] += size[j];
  return size;
}

std::vector<NodeId> subtree_nodes(const DominatorTree& tree, NodeId v) {
  std::vector<NodeId> nodes;
  const auto it = std::find(tree.order.begin(), tree.order.end(), v);
  if (it == tree.order.end()) return nodes;
  const std::size_t top = static_cast<std::size_t>(it - tree.order.begin());
  // Every node of the subtree comes after `top`, and its immediate
  // dominator before it: one pass forwards decides each in turn.
  std::vector<std::uint8_t> inside(tree.size() - top, 0);
  inside[0] = 1;
  nodes.push_back(v);
  for (std::size_t j = top + 1; j < tree.size(); ++j) {
    const std::uint32_t d = tree.idom[j];
    if (d >= top && inside[d - top] != 0) {
      inside[j - top] = 1;
      nodes.push_back(tree.order[j]);
    }
  }
  return nodes;
}

std::vector<std::pair<NodeId, std::uint32_t>> largest_subtrees(const DominatorTree& tree, std::uint64_t count) {
  std::vector<std::pair<NodeId, std::uint32_t>> result;
  if (tree.size() <= 1 || count == 0) return result;
  const std::vector<std::uint32_t> size = subtree_sizes(tree);
  std::vector<std::uint32_t> positions(tree.size() - 1);
  for (std::uint32_t j = 1; j < tree.size(); ++j) positions[j - 1] = j;
  const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(count, positions.size()));
  std::partial_sort(positions.begin(), positions.begin() + static_cast<std::ptrdiff_t>(n), positions.end(),
                    [&](std::uint32_t a, std::uint32_t b) { return size[a] != size[b] ? size[a] > size[b] : a < b; });
  result.reserve(n);
  for (std::size_t i = 0; i < n; ++i) result.emplace_back(tree.order[positions[i]], size[positions[i]]);
  return result;
}

}  // namespace lhg
