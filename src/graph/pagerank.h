// PageRank by a fixed number of power iterations, the score of dangling nodes
// spread evenly over all nodes.
#pragma once

#include <cstdint>

#include "graph/graph.h"
#include "graph/scores.h"

namespace lhg {

// One score per node after exactly `max_iter` iterations; `alpha` is used as
// given, whatever its value (NaN and infinities included).
ScoreMap pagerank_impl(EdgeList edges, double alpha, std::uint64_t max_iter);

// The iteration in the order of operations that fixes the result bits, done
// one addition at a time: every dangling node walks all n nodes. It is the
// reference that any faster arrangement of the iteration must match bit for
// bit.
ScoreMap pagerank_literal(EdgeList edges, double alpha, std::uint64_t max_iter);

}  // namespace lhg
