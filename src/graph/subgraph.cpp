// One breadth-first search from all seeds at once, then the edges among the
// members, found from the members' own rows.
//
// Every seed is discovered at depth 0 before anything is expanded, so a seed
// that another seed reaches still counts as a seed. The node list doubles as
// the queue: levels are expanded slice by slice, each node's outgoing
// neighbours before its incoming ones, which is the order a first-in
// first-out queue of (node, depth) pairs would hand them out.
//
// The edges among the members are every outgoing edge of a member whose
// target is a member, so the members' rows hold them all; they are put
// back in edge-list order by their positions, a sort of what was found
// rather than a pass over every edge of the graph.
#include "graph/subgraph.h"

#include <algorithm>
#include <array>

#include "graph/interrupt.h"

namespace lhg {
namespace {

struct FoundEdge {
  EdgeId edge;
  std::uint32_t source;
  std::uint32_t target;
};

// By edge position, ascending: a comparison sort for a few edges, four
// passes of a byte-wise radix sort for many.
void sort_by_edge(std::vector<FoundEdge>& found, Poller& poller) {
  constexpr std::size_t kRadixFrom = 1024;
  if (found.size() < kRadixFrom) {
    std::sort(found.begin(), found.end(), [](const FoundEdge& a, const FoundEdge& b) { return a.edge < b.edge; });
    return;
  }
  std::vector<FoundEdge> other(found.size());
  for (unsigned shift = 0; shift < 32; shift += 8) {
    std::array<std::size_t, 257> start{};
    for (const FoundEdge& f : found) ++start[((f.edge >> shift) & 0xFF) + 1];
    for (std::size_t b = 0; b < 256; ++b) start[b + 1] += start[b];
    for (const FoundEdge& f : found) other[start[(f.edge >> shift) & 0xFF]++] = f;
    found.swap(other);
    poller.tick(2 * found.size());
  }
}

}  // namespace

SubgraphResult subgraph(const Graph& graph, const NameList& seed_nodes, Depth max_depth, bool include_incoming,
                        bool include_outgoing, NodeMarks& marks) {
  SubgraphResult result;
  if (graph.node_count() == 0 || seed_nodes.empty()) return result;
  const ClearAfter clear(marks);

  // A member's mark is its place in the node list.
  Poller poller;
  auto discover = [&](NodeId v) {
    poller.tick();
    if (marks.mark(v, static_cast<std::uint32_t>(result.nodes.size()))) result.nodes.push_back(v);
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
  std::vector<FoundEdge> found;
  for (std::uint32_t p = 0; p < result.nodes.size(); ++p) {
    const NodeId v = result.nodes[p];
    const std::span<const NodeId> targets = graph.successors(v);
    const std::span<const EdgeId> positions = graph.out_edges(v);
    poller.tick(1 + targets.size());
    for (std::size_t i = 0; i < targets.size(); ++i) {
      if (marks.marked(targets[i])) found.push_back({positions[i], p, marks[targets[i]]});
    }
  }
  sort_by_edge(found, poller);
  result.edges.reserve(found.size());
  for (const FoundEdge& f : found) result.edges.emplace_back(f.source, f.target);
  return result;
}

}  // namespace lhg
