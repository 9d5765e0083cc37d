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

// One search per distinct start name over one graph, all results in flat
// arrays. Key k is the name starts[keys[k]]; its search found
// found[found_begin[k], found_begin[k + 1]), grouped by depth: its levels are
// level_end[level_begin[k], level_begin[k + 1]) (absolute offsets into
// `found`), the first level at depth 1 and beginning at found_begin[k]. A key
// that names no node has no levels.
struct BatchDepths {
  NameTable names;  // node number -> name; empty when nothing was found
  NameList starts;  // the start names as listed, repeats kept
  std::vector<std::size_t> keys;  // position of each distinct name's first listing, in list order
  std::vector<NodeId> found;
  std::vector<std::size_t> found_begin;  // keys.size() + 1 entries
  std::vector<std::size_t> level_end;
  std::vector<std::size_t> level_begin;  // keys.size() + 1 entries
};

BatchDepths batch_ancestors_impl(EdgeList edges, NameList targets, Depth max_depth);
BatchDepths batch_descendants_impl(EdgeList edges, NameList sources, Depth max_depth);

}  // namespace lhg
