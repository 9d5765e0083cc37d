// Value types shared by the graph store and every analysis.
#pragma once

#include <cstdint>

namespace lhg {

using NodeId = std::uint32_t;     // dense node number, in order of first appearance
using EdgeId = std::uint32_t;     // position of the pair in the caller's edge list
using Depth = std::uint64_t;      // edges on a shortest path from the start node
using Score = double;             // PageRank and betweenness scores
using PathCount = double;         // shortest-path counts; doubles saturate instead of wrapping

// Never a node or an edge index; ends every adjacency list.
inline constexpr std::uint32_t kEndMarker = 0xFFFFFFFFu;
inline constexpr NodeId kNoNode = kEndMarker;

}  // namespace lhg
