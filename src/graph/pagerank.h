// PageRank by a fixed number of power iterations, the score of dangling nodes
// spread evenly over all nodes.
#pragma once

#include <cstddef>
#include <cstdint>

#include "graph/graph.h"
#include "graph/parallel.h"
#include "graph/scores.h"

namespace lhg {

// One score per node after exactly `max_iter` iterations; `alpha` is used as
// given, whatever its value (NaN and infinities included).
ScoreMap pagerank_impl(EdgeList edges, double alpha, std::uint64_t max_iter);
// The same on up to threads.count threads, with the same bits.
ScoreMap pagerank_impl(EdgeList edges, double alpha, std::uint64_t max_iter, Threads threads);

// The same with a smaller budget for the tables of run sums: at most
// `tables` at once (0: the usual number), each built on its grid's first
// run. The scores are the same; only tests use it, to reach the turnover of
// tables that large graphs cause.
ScoreMap pagerank_impl(EdgeList edges, double alpha, std::uint64_t max_iter, std::size_t tables,
                       Threads threads = Threads{});

// The iteration in the order of operations that fixes the result bits, done
// one addition at a time: every dangling node walks all n nodes. It is the
// reference that any faster arrangement of the iteration must match bit for
// bit.
ScoreMap pagerank_literal(EdgeList edges, double alpha, std::uint64_t max_iter);

}  // namespace lhg
