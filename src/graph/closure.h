// How many nodes each node reaches, and how many reach it.
#pragma once

#include <cstdint>
#include <vector>

#include "graph/graph.h"
#include "graph/parallel.h"

namespace lhg {

// Per node, in node order: `dependencies`, the nodes it reaches by one or
// more edges, and `dependents`, the nodes that reach it; the node itself is
// counted in neither, even when it lies on a cycle (or has a self loop) and
// so reaches itself.
struct ClosureSizes {
  std::vector<std::uint64_t> dependencies;
  std::vector<std::uint64_t> dependents;
};

// Exact at any size, in memory bounded apart from the graph's own size, on
// up to threads.count threads with the same counts.
ClosureSizes closure_sizes(const Graph& graph, Threads threads = Threads{});

}  // namespace lhg
