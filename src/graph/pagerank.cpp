// The order of floating-point operations is part of the result: each share
// is a product then a quotient, and each next[j] starts at the teleport term
// and takes its additions one at a time in ascending order of the source
// node, edge shares and dangling shares interleaved by that order. A push
// loop over the sources in ascending order is exactly that order for every
// next[j] at once; several edges from one source to j add the same share
// one after another, so their order among themselves cannot matter.
#include "graph/pagerank.h"

#include "graph/binade_sums.h"
#include "graph/interrupt.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <cstddef>
#include <utility>
#include <vector>

namespace lhg {

namespace {
constexpr double kInfinity = std::numeric_limits<double>::infinity();
}  // namespace

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

namespace {

// The graph seen from the receiving side: for each node j, the sources of its
// incoming edges in ascending order (one entry per edge, so parallel edges
// sit next to each other), each with its dangling rank, the number of
// dangling nodes numbered below the source.
struct InEdge {
  NodeId source;
  std::uint32_t rank;
};

class PullGraph {
 public:
  PullGraph(const Graph& graph, const std::vector<std::size_t>& out_degree) {
    const std::size_t n = graph.node_count();
    begin_.assign(n + 1, 0);
    for (const Edge& e : graph.edges()) ++begin_[e.target + 1];
    for (std::size_t j = 0; j < n; ++j) begin_[j + 1] += begin_[j];
    edges_.resize(graph.edge_count());
    std::vector<std::size_t> fill(begin_.begin(), begin_.end() - 1);
    std::uint32_t rank = 0;
    for (NodeId i = 0; i < n; ++i) {
      if (out_degree[i] == 0) {
        dangling_.push_back(i);
        ++rank;
        continue;
      }
      graph.for_each_successor(i, [&](NodeId j) { edges_[fill[j]++] = InEdge{i, rank}; });
    }
  }

  std::size_t node_count() const noexcept { return begin_.size() - 1; }
  const InEdge* in_begin(NodeId j) const noexcept { return edges_.data() + begin_[j]; }
  const InEdge* in_end(NodeId j) const noexcept { return edges_.data() + begin_[j + 1]; }
  std::size_t in_degree(NodeId j) const noexcept { return begin_[j + 1] - begin_[j]; }
  const std::vector<NodeId>& dangling() const noexcept { return dangling_; }

 private:
  std::vector<std::size_t> begin_;
  std::vector<InEdge> edges_;
  std::vector<NodeId> dangling_;  // ascending
};

// One node's sum in the defining order: teleport, then for each source in
// ascending order its edge shares or, for a dangling source, its dangling
// share. `add_run(acc, lo, hi)` adds the dangling shares of ranks lo..hi-1.
// Up to the first incoming edge every node takes the same additions, so
// `head[k]`, teleport followed by the dangling shares of ranks below k, is
// where each node's own additions begin.
template <class AddRun>
double pull_sum(const PullGraph& pull, NodeId j, const double* head, const double* share, std::size_t dangling_count,
                AddRun&& add_run) {
  const InEdge* e = pull.in_begin(j);
  const InEdge* const end = pull.in_end(j);
  if (e == end) return head[dangling_count];
  std::size_t done = e->rank;
  double acc = head[done];
  for (; e != end; ++e) {
    if (e->rank != done) {
      acc = add_run(acc, done, e->rank);
      done = e->rank;
    }
    acc += share[e->source];
  }
  return add_run(acc, done, dangling_count);
}

}  // namespace

ScoreMap pagerank_impl(EdgeList edges, double alpha, std::uint64_t max_iter) {
  Graph graph = build_graph(std::move(edges));
  const std::size_t n = graph.node_count();
  ScoreMap result;
  if (n == 0) return result;

  const double count = static_cast<double>(n);
  std::vector<Score> score(n, 1.0 / count);
  std::vector<Score> next(n);
  std::vector<std::size_t> out_degree(n, 0);
  for (const Edge& e : graph.edges()) ++out_degree[e.source];
  const double teleport = (1.0 - alpha) / count;

  const PullGraph pull(graph, out_degree);
  const std::vector<NodeId>& dangling = pull.dangling();
  const std::size_t dangling_count = dangling.size();
  // share[i]: what node i adds along each of its edges; dangling_share[k]:
  // what the dangling node of rank k adds to every node.
  std::vector<double> share(n);
  std::vector<double> dangling_share(dangling_count);
  std::vector<double> head(dangling_count + 1);
  BinadeSums sums;

  // For alpha in [0, 1] the teleport term and every share are >= 0, which is
  // what the run sums need; any other alpha takes the additions one by one.
  const bool runs_allowed = alpha >= 0.0 && alpha <= 1.0 && !std::signbit(teleport);

  Poller poller;
  for (std::uint64_t iteration = 0; iteration < max_iter; ++iteration) {
    poller.tick(n + graph.edge_count());
    bool fast = runs_allowed;
    for (NodeId i = 0; i < n; ++i) {
      if (out_degree[i] > 0) {
        share[i] = (score[i] * alpha) / static_cast<double>(out_degree[i]);
        fast = fast && share[i] >= 0.0 && share[i] < kInfinity;
      }
    }
    for (std::size_t k = 0; k < dangling_count; ++k) {
      const double s = (score[dangling[k]] * alpha) / count;
      dangling_share[k] = s;
      fast = fast && s >= 0.0 && s < kInfinity;
    }

    // head[k]: teleport followed by the dangling shares of ranks below k,
    // added one at a time.
    head[0] = teleport;
    for (std::size_t k = 0; k < dangling_count; ++k) head[k + 1] = head[k] + dangling_share[k];
    if (fast) {
      sums.restart(dangling_share.data(), dangling_count);
      auto add_run = [&](double acc, std::size_t lo, std::size_t hi) { return sums.add_run(acc, lo, hi); };
      for (NodeId j = 0; j < n; ++j) {
        poller.tick(pull.in_degree(j) + 1);
        next[j] = pull_sum(pull, j, head.data(), share.data(), dangling_count, add_run);
      }
    } else {
      auto add_each = [&](double acc, std::size_t lo, std::size_t hi) {
        poller.tick(hi - lo);
        for (std::size_t k = lo; k < hi; ++k) acc += dangling_share[k];
        return acc;
      };
      for (NodeId j = 0; j < n; ++j) {
        next[j] = pull_sum(pull, j, head.data(), share.data(), dangling_count, add_each);
      }
    }
    score.swap(next);
  }

  result.scores = std::move(score);
  result.names = std::move(graph).take_names();
  return result;
}

}  // namespace lhg
