// Depth-limited breadth-first searches upstream (ancestors) and downstream
// (descendants) of named start nodes.
#pragma once

#include <cstddef>
#include <vector>

#include "graph/graph.h"
#include "graph/names.h"
#include "graph/types.h"

namespace lhg {

// The nodes one search found, in order of discovery, grouped by depth: the
// nodes at depth d (d >= 1) are found[level_end[d - 2], level_end[d - 1]),
// with level_end[-1] read as 0. The start node is never among them.
struct DepthMap {
  NameTable names;  // node number -> name; empty when nothing was found
  std::vector<NodeId> found;
  std::vector<std::size_t> level_end;
};

DepthMap ancestors_at_depth_impl(EdgeList edges, NameKey target, Depth max_depth);
DepthMap descendants_at_depth_impl(EdgeList edges, NameKey source, Depth max_depth);

}  // namespace lhg
