// Strongly connected components by Kosaraju's algorithm.
#pragma once

#include <cstddef>
#include <vector>

#include "graph/graph.h"
#include "graph/names.h"
#include "graph/types.h"

namespace lhg {

// Components as one flat member array: component c is
// members[ends[c - 1], ends[c]), with ends[-1] read as 0.
struct Components {
  std::vector<NodeId> members;
  std::vector<std::size_t> ends;

  std::size_t size() const noexcept { return ends.size(); }
};

// Every component, single nodes included, in the order the second pass
// finds them, members in the order it reaches them.
Components component_search(const Graph& graph);

// The components of two or more nodes, larger first; equal sizes keep the
// order of the search.
Components strongly_connected(const Graph& graph);

}  // namespace lhg
