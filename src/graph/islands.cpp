// Islands by union-find over the edges, with the union by size and the
// paths halved: near-linear, and no search that follows edges both ways.
// The roots are then numbered in the order of their islands' first
// members, which a scan of the nodes in order meets first; a stable sort of
// the islands by size keeps that order among equals, and a counting sort
// places the nodes.
#include "graph/islands.h"

#include <algorithm>
#include <cstdint>
#include <numeric>

#include "graph/interrupt.h"

namespace lhg {

Islands weakly_connected(const Graph& graph) {
  const std::size_t n = graph.node_count();
  Islands result;
  if (n == 0) return result;
  std::vector<NodeId> parent(n);
  std::iota(parent.begin(), parent.end(), NodeId{0});
  std::vector<std::uint32_t> size(n, 1);
  auto root = [&parent](NodeId v) {
    while (parent[v] != v) {
      parent[v] = parent[parent[v]];
      v = parent[v];
    }
    return v;
  };
  Poller poller;
  for (NodeId v = 0; v < n; ++v) {
    const std::span<const NodeId> row = graph.successors(v);
    poller.tick(1 + row.size());
    for (const NodeId t : row) {
      NodeId a = root(v);
      NodeId b = root(t);
      if (a == b) continue;
      if (size[a] < size[b]) std::swap(a, b);
      parent[b] = a;
      size[a] += size[b];
    }
  }

  // Islands numbered by first member, with their sizes.
  std::vector<std::uint32_t> island(n);
  std::vector<std::uint32_t> number(n, kEndMarker);  // by root
  std::vector<std::size_t> island_size;
  for (NodeId v = 0; v < n; ++v) {
    const NodeId r = root(v);
    if (number[r] == kEndMarker) {
      number[r] = static_cast<std::uint32_t>(island_size.size());
      island_size.push_back(0);
    }
    island[v] = number[r];
    ++island_size[number[r]];
  }
  const std::size_t islands = island_size.size();
  std::vector<std::uint32_t> order(islands);
  std::iota(order.begin(), order.end(), 0u);
  std::stable_sort(order.begin(), order.end(),
                   [&](std::uint32_t a, std::uint32_t b) { return island_size[a] > island_size[b]; });
  std::vector<std::size_t> start(islands);
  std::size_t at = 0;
  for (const std::uint32_t i : order) {
    start[i] = at;
    at += island_size[i];
    result.ends.push_back(at);
  }
  result.members.resize(n);
  for (NodeId v = 0; v < n; ++v) result.members[start[island[v]]++] = v;
  return result;
}

}  // namespace lhg
