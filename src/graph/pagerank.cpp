// The order of floating-point operations is part of the result: each share
// is a product then a quotient, and each next[j] starts at the teleport term
// and takes its additions one at a time in ascending order of the source
// node, edge shares and dangling shares interleaved by that order. A push
// loop over the sources in ascending order is exactly that order for every
// next[j] at once; several edges from one source to j add the same share
// one after another, so their order among themselves cannot matter.
#include "graph/pagerank.h"

#include "graph/interrupt.h"

#include <algorithm>
#include <cstddef>
#include <utility>
#include <vector>

namespace lhg {

ScoreMap pagerank_literal(EdgeList edges, double alpha, std::uint64_t max_iter) {
  Graph graph = build_graph(std::move(edges));
  const std::size_t n = graph.node_count();
  ScoreMap result;
  if (n == 0) return result;

  const double count = static_cast<double>(n);
  std::vector<Score> score(n, 1.0 / count);
  std::vector<Score> next(n);
  // Counting over the edge array gives the lengths of the outgoing lists
  // without walking them.
  std::vector<std::size_t> out_degree(n, 0);
  for (const Edge& e : graph.edges()) ++out_degree[e.source];
  const double teleport = (1.0 - alpha) / count;

  Poller poller;
  for (std::uint64_t iteration = 0; iteration < max_iter; ++iteration) {
    poller.tick(n + graph.edge_count());
    std::fill(next.begin(), next.end(), teleport);
    for (NodeId i = 0; i < n; ++i) {
      if (out_degree[i] > 0) {
        const double share = (score[i] * alpha) / static_cast<double>(out_degree[i]);
        graph.for_each_successor(i, [&](NodeId j) { next[j] += share; });
      } else {
        const double share = (score[i] * alpha) / count;
        for (double& x : next) x += share;
        poller.tick(n);
      }
    }
    score.swap(next);
  }

  result.scores = std::move(score);
  result.names = std::move(graph).take_names();
  return result;
}

ScoreMap pagerank_impl(EdgeList edges, double alpha, std::uint64_t max_iter) {
  return pagerank_literal(std::move(edges), alpha, max_iter);
}

}  // namespace lhg
