// Breadth-first search from one start node, stopping at a depth limit.
//
// The queue is the result list itself: nodes enter it once, in order of
// discovery, and each level's slice is expanded in turn, so depths leave the
// queue in non-decreasing order and every recorded depth is a shortest
// distance. Nodes at depth max_depth are recorded but not expanded. The start
// node is marked before the search begins, so cycles and self loops never
// bring it into its own result, and parallel edges find nothing new.
#include "graph/reachability.h"

#include <cstdint>

namespace lhg {
namespace {

template <Direction dir>
DepthMap depth_search(EdgeList edges, NameKey start, Depth max_depth) {
  Graph graph = build_graph(std::move(edges));
  DepthMap result;
  const NodeId s = graph.find(start);
  if (s == kNoNode || max_depth == 0) return result;

  std::vector<std::uint8_t> discovered(graph.node_count(), 0);
  discovered[s] = 1;
  auto visit = [&](NodeId u) {
    if (!discovered[u]) {
      discovered[u] = 1;
      result.found.push_back(u);
    }
  };
  graph.for_each_neighbor<dir>(s, visit);
  result.level_end.push_back(result.found.size());
  // Nodes of depth d are expanded only while d < max_depth; d + 1 cannot wrap.
  std::size_t head = 0;
  for (Depth d = 1; d < max_depth && head < result.found.size(); ++d) {
    const std::size_t end = result.found.size();
    for (; head < end; ++head) graph.for_each_neighbor<dir>(result.found[head], visit);
    result.level_end.push_back(result.found.size());
  }
  if (!result.found.empty()) result.names = std::move(graph).take_names();
  return result;
}

}  // namespace

DepthMap ancestors_at_depth_impl(EdgeList edges, NameKey target, Depth max_depth) {
  return depth_search<Direction::kBackward>(std::move(edges), target, max_depth);
}

DepthMap descendants_at_depth_impl(EdgeList edges, NameKey source, Depth max_depth) {
  return depth_search<Direction::kForward>(std::move(edges), source, max_depth);
}

}  // namespace lhg
