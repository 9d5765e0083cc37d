// Kosaraju's two depth-first passes, each on an explicit stack, so that a
// path or cycle of any length costs no call-stack depth.
//
// Both the order of the components and the order of the members inside each
// one are part of the answer, and both follow from the traversal orders kept
// here. A node's edges are walked newest first and pushed in that order, so
// the neighbour through its earliest edge ends up on top and is tried first:
// in effect neighbours are tried in edge-list order. A node may sit on the
// stack several times (pushed through several edges before it is reached);
// the later copies are skipped when they come up, so the stack never holds
// more than the edge count plus one entries.
#include "graph/components.h"

#include "graph/interrupt.h"

#include <algorithm>
#include <cstdint>
#include <utility>

namespace lhg {
namespace {

// Both passes' marks in one byte per node. The second pass needs only its
// own discovered mark, and giving it a value of its own spares clearing the
// array between the passes.
enum Mark : std::uint8_t {
  kNew = 0,
  kDiscovered = 1,   // first pass: reached, predecessors pushed
  kFinished = 2,     // first pass: in the finish order
  kCollected = 3,    // second pass: in a component
};

// First pass over the reversed graph: the post-order of a depth-first search
// started from each undiscovered node in index order. A node stays on the
// stack beneath the predecessors it pushed and finishes when it is met again
// on top, after all of them.
std::vector<NodeId> finish_order(const Graph& graph, std::vector<std::uint8_t>& mark, std::vector<NodeId>& stack,
                                 Poller& poller) {
  const std::size_t n = graph.node_count();
  std::vector<NodeId> order;
  order.reserve(n);
  for (NodeId i = 0; i < n; ++i) {
    if (mark[i] != kNew) continue;
    stack.clear();
    stack.push_back(i);
    while (!stack.empty()) {
      const NodeId x = stack.back();
      poller.tick();
      if (mark[x] == kNew) {
        mark[x] = kDiscovered;
        graph.for_each_predecessor(x, [&](NodeId p) {
          if (mark[p] == kNew) stack.push_back(p);
        });
      } else {
        stack.pop_back();
        if (mark[x] == kDiscovered) {
          mark[x] = kFinished;
          order.push_back(x);
        }
      }
    }
  }
  return order;
}

}  // namespace

Components component_search(const Graph& graph) {
  const std::size_t n = graph.node_count();
  std::vector<std::uint8_t> mark(n, kNew);
  std::vector<NodeId> stack;
  Poller poller;
  const std::vector<NodeId> order = finish_order(graph, mark, stack, poller);

  // Second pass over the forward graph, latest finisher first: each search
  // collects exactly one component, its members in pre-order.
  Components all;
  all.members.reserve(n);
  for (auto it = order.rbegin(); it != order.rend(); ++it) {
    if (mark[*it] == kCollected) continue;
    stack.clear();
    stack.push_back(*it);
    while (!stack.empty()) {
      const NodeId y = stack.back();
      stack.pop_back();
      poller.tick();
      if (mark[y] == kCollected) continue;
      mark[y] = kCollected;
      graph.for_each_successor(y, [&](NodeId t) {
        if (mark[t] != kCollected) stack.push_back(t);
      });
      all.members.push_back(y);
    }
    all.ends.push_back(all.members.size());
  }
  return all;
}

Components strongly_connected(const Graph& graph) {
  const Components all = component_search(graph);

  struct Span {
    std::size_t begin;
    std::size_t end;
  };
  std::vector<Span> kept;
  std::size_t begin = 0;
  for (const std::size_t end : all.ends) {
    if (end - begin >= 2) kept.push_back({begin, end});
    begin = end;
  }
  // Stable: components of equal size keep the order of the search, which
  // puts every component before those that can reach it.
  std::stable_sort(kept.begin(), kept.end(),
                   [](const Span& a, const Span& b) { return a.end - a.begin > b.end - b.begin; });

  Components result;
  if (kept.empty()) return result;
  std::size_t total = 0;
  for (const Span& s : kept) total += s.end - s.begin;
  result.members.reserve(total);
  result.ends.reserve(kept.size());
  for (const Span& s : kept) {
    result.members.insert(result.members.end(), all.members.begin() + static_cast<std::ptrdiff_t>(s.begin),
                          all.members.begin() + static_cast<std::ptrdiff_t>(s.end));
    result.ends.push_back(result.members.size());
  }
  return result;
}

}  // namespace lhg
