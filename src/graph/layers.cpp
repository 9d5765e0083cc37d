// Layers of the condensation, from the components of Kosaraju's search.
//
// The search lists each component before every component that can reach
// it, so a unit's dependencies are all placed before the unit itself: one
// pass in that order gives each unit its layer, one more than the highest
// layer among the units its members' edges lead to. Then counting sorts
// put the nodes in unit order and the units in layer order, each keeping
// node order, so nothing is compared.
#include "graph/layers.h"

#include <algorithm>
#include <cstdint>

#include "graph/components.h"
#include "graph/interrupt.h"

namespace lhg {

Layers build_order(const Graph& graph) {
  const std::size_t n = graph.node_count();
  Layers result;
  if (n == 0) return result;
  const Components all = component_search(graph);
  const std::size_t units = all.size();
  std::vector<std::uint32_t> unit_of(n);
  std::size_t begin = 0;
  for (std::size_t c = 0; c < units; ++c) {
    for (std::size_t k = begin; k < all.ends[c]; ++k) unit_of[all.members[k]] = static_cast<std::uint32_t>(c);
    begin = all.ends[c];
  }

  std::vector<std::uint32_t> layer(units, 0);
  std::uint32_t layers = 0;
  Poller poller;
  begin = 0;
  for (std::size_t c = 0; c < units; ++c) {
    std::uint32_t l = 0;
    for (std::size_t k = begin; k < all.ends[c]; ++k) {
      const std::span<const NodeId> row = graph.successors(all.members[k]);
      poller.tick(1 + row.size());
      for (const NodeId t : row) {
        const std::uint32_t u = unit_of[t];
        if (u != c) l = std::max(l, layer[u] + 1);
      }
    }
    layer[c] = l;
    layers = std::max(layers, l + 1);
    begin = all.ends[c];
  }

  // Units renumbered by their first member in node order: scanning the
  // nodes in order meets each unit first at its first member.
  std::vector<std::uint32_t> rank(units, kEndMarker);
  std::uint32_t ranked = 0;
  for (NodeId v = 0; v < n; ++v) {
    if (rank[unit_of[v]] == kEndMarker) rank[unit_of[v]] = ranked++;
  }
  // Units ranked, by layer: a counting sort that keeps rank order.
  std::vector<std::size_t> layer_fill(layers + 1, 0);
  for (std::size_t c = 0; c < units; ++c) ++layer_fill[layer[c] + 1];
  for (std::uint32_t l = 0; l < layers; ++l) layer_fill[l + 1] += layer_fill[l];
  result.layer_end.assign(layer_fill.begin() + 1, layer_fill.end());
  std::vector<std::uint32_t> by_rank(units);
  for (std::size_t c = 0; c < units; ++c) by_rank[rank[c]] = static_cast<std::uint32_t>(c);
  std::vector<std::uint32_t> position(units);  // of each unit in the output
  for (const std::uint32_t c : by_rank) position[c] = static_cast<std::uint32_t>(layer_fill[layer[c]]++);
  // Members by output unit, in node order.
  std::vector<std::size_t> unit_fill(units + 1, 0);
  begin = 0;
  for (std::size_t c = 0; c < units; ++c) {
    unit_fill[position[c] + 1] = all.ends[c] - begin;
    begin = all.ends[c];
  }
  for (std::size_t u = 0; u < units; ++u) unit_fill[u + 1] += unit_fill[u];
  result.unit_end.assign(unit_fill.begin() + 1, unit_fill.end());
  result.members.resize(n);
  for (NodeId v = 0; v < n; ++v) {
    poller.tick();
    result.members[unit_fill[position[unit_of[v]]]++] = v;
  }
  return result;
}

}  // namespace lhg
