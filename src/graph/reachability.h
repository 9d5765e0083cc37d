// Depth-limited breadth-first searches upstream (ancestors) and downstream
// (descendants) of start nodes.
#pragma once

#include <cstddef>
#include <vector>

#include "graph/graph.h"
#include "graph/names.h"
#include "graph/parallel.h"
#include "graph/scratch.h"
#include "graph/types.h"

namespace lhg {

// The nodes one search found, in order of discovery, grouped by depth: the
// nodes at depth d (d >= 1) are found[level_end[d - 2], level_end[d - 1]),
// with level_end[-1] read as 0. The start node is never among them.
struct DepthMap {
  std::vector<NodeId> found;
  std::vector<std::size_t> level_end;
};

// One search from `start` (kNoNode: none, an empty map). `marks` is lent
// unmarked and given back so.
DepthMap ancestors_at_depth(const Graph& graph, NodeId target, Depth max_depth, NodeMarks& marks);
DepthMap descendants_at_depth(const Graph& graph, NodeId source, Depth max_depth, NodeMarks& marks);

// One search per distinct start name, all results in flat arrays. Key k is
// the name starts[keys[k]]; its search found
// found[found_begin[k], found_begin[k + 1]), grouped by depth: its levels
// are level_end[level_begin[k], level_begin[k + 1]) (absolute offsets into
// `found`), the first level at depth 1 and beginning at found_begin[k]. A
// key that names no node has no levels.
struct BatchDepths {
  std::vector<std::size_t> keys;  // position of each distinct name's first listing, in list order
  std::vector<std::size_t> found_begin;  // keys.size() + 1 entries
  std::vector<std::size_t> level_begin;  // keys.size() + 1 entries
  std::vector<NodeId> found;
  std::vector<std::size_t> level_end;
};

// The searches of distinct keys are independent: on up to threads.count
// threads, each borrowing its marks from `pool`, they run at once and their
// results are joined in key order, the same arrays as on one thread.
BatchDepths batch_ancestors(const Graph& graph, const NameList& targets, Depth max_depth, MarksPool& pool,
                            Threads threads = Threads{});
BatchDepths batch_descendants(const Graph& graph, const NameList& sources, Depth max_depth, MarksPool& pool,
                              Threads threads = Threads{});

// Positions of the first listing of each distinct name, in list order.
std::vector<std::size_t> first_listings(const NameList& names);

}  // namespace lhg
