// The weakly connected components: the parts of a graph that have nothing
// to do with each other.
#pragma once

#include <cstddef>
#include <vector>

#include "graph/graph.h"
#include "graph/types.h"

namespace lhg {

// Island i is members[ends[i - 1], ends[i]), with ends[-1] read as 0.
// Larger islands first, equal sizes in the order of their first members;
// members in node order. Every node is in one, a lone node too.
struct Islands {
  std::vector<NodeId> members;
  std::vector<std::size_t> ends;
};

Islands weakly_connected(const Graph& graph);

}  // namespace lhg
