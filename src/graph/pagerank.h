// PageRank by a fixed number of power iterations, the score of dangling nodes
// spread evenly over all nodes.
#pragma once

#include <cstddef>
#include <cstdint>

#include "graph/graph.h"
#include "graph/parallel.h"
#include "graph/scores.h"

namespace lhg {

// One score per node after exactly `max_iter` iterations, on up to
// threads.count threads with the same bits; `alpha` is used as given,
// whatever its value (NaN and infinities included).
ScoreMap pagerank(const Graph& graph, double alpha, std::uint64_t max_iter, Threads threads = Threads{});

// The same with a smaller budget for the tables of run sums: at most
// `tables` at once (0: the usual number), each built on its grid's first
// run. The scores are the same; only tests use it, to reach the turnover of
// tables that large graphs cause.
ScoreMap pagerank(const Graph& graph, double alpha, std::uint64_t max_iter, std::size_t tables, Threads threads);

// The iteration in the order of operations that fixes the result bits, done
// one addition at a time: every dangling node walks all n nodes. It is the
// reference that any faster arrangement of the iteration must match bit for
// bit.
ScoreMap pagerank_literal(const Graph& graph, double alpha, std::uint64_t max_iter);

}  // namespace lhg
