// "Build, then analyse": what each of the functions runs as its core.
#pragma once

#include <utility>

#include "graph/graph.h"
#include "graph/parallel.h"

namespace lhg::py {

// A graph built for one call, and what the analysis found on it; the graph
// holds the names that the result refers to.
template <class Result>
struct Analysed {
  Graph graph;
  Result result;
};

// Builds the graph of `edges`, then runs analyse(graph, threads) on it.
template <class F>
auto build_then(EdgeList& edges, Threads threads, F&& analyse) {
  Graph graph = build_graph(std::move(edges));
  auto result = analyse(static_cast<const Graph&>(graph), threads);
  return Analysed<decltype(result)>{std::move(graph), std::move(result)};
}

}  // namespace lhg::py
