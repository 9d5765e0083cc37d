// Betweenness centrality on an unweighted directed graph: exact over every
// source node, or estimated from a seeded sample of source nodes.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "graph/graph.h"
#include "graph/parallel.h"
#include "graph/scores.h"
#include "graph/types.h"

namespace lhg {

// The shared accumulation. With no source list every node is a source, in
// ascending order; a given list is processed in its order, may repeat nodes
// or be empty, and must hold only node numbers below node_count(). Scores are
// scaled once at the end by the normalisation times node_count() / (sources
// given), the latter only for a non-empty given list.
//
// On more than one thread the sources' searches run at once and their
// dependencies join the scores in source order, so the bits are those of
// one thread.
ScoreMap betweenness_from(const Graph& graph, bool normalized, const std::vector<NodeId>* sources, Threads threads);

ScoreMap betweenness(const Graph& graph, bool normalized, Threads threads = Threads{});
ScoreMap sampled_betweenness(const Graph& graph, std::uint64_t sample_size, std::uint64_t seed, bool normalized,
                             Threads threads = Threads{});

}  // namespace lhg
