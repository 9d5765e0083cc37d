// The order in which to build: strongly connected components as units, in
// layers of units that depend only on earlier layers.
#pragma once

#include <cstddef>
#include <vector>

#include "graph/graph.h"
#include "graph/types.h"

namespace lhg {

// Layer 0 holds the units that depend on no other unit (an edge from a
// source to a target is the source depending on the target); each later
// layer the units whose dependencies all lie in earlier layers, each unit
// in the earliest layer it can take. The number of layers is the longest
// chain of dependencies between units, plus one.
//
// Flat arrays: unit u is members[unit_end[u - 1], unit_end[u]) and layer l
// is units [layer_end[l - 1], layer_end[l]), with [-1] read as 0. Members
// of a unit in node order; units of a layer in the order of their first
// members.
struct Layers {
  std::vector<NodeId> members;
  std::vector<std::size_t> unit_end;
  std::vector<std::size_t> layer_end;
};

Layers build_order(const Graph& graph);

}  // namespace lhg
