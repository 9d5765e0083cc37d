// Betweenness centrality by Brandes' algorithm, exact or from sampled sources.
//
// For each source: a breadth-first search along outgoing edges counts the
// shortest paths to every node (sigma, as doubles so that huge counts
// saturate instead of wrapping) and lists each node's predecessors, once per
// shortest-path edge, so parallel edges repeat; then the nodes are taken back
// in reverse order of leaving the queue and each passes its dependency
// (delta) on to its predecessors. The floating-point operations run in one
// fixed order, which fixes the bits of every score:
//   - sources in list order; per source, nodes in reverse queue order;
//   - each node's predecessors in the order they were recorded, each adding
//     (delta[w] + 1) * (sigma[v] / sigma[w]) to delta[v]: quotient, product,
//     then the sum;
//   - a node's own delta joins its score after its predecessor loop;
//   - one factor (normalisation times sample scale) applied once at the end.
//
// The per-source state is allocated once per call and only the entries a
// search touched are reset, so a source that reaches few nodes costs little.
// The queue doubles as the stack: nodes leave the queue in the order they
// entered it, so walking it backwards pops them. Predecessor entries live in
// one flat array where node w owns a slot range as long as its in-degree:
// every entry stands for a distinct incoming edge, so the range never
// overflows, and entries keep the order in which they were appended.
#include "graph/betweenness.h"

#include <utility>

#include "graph/failure.h"
#include "graph/interrupt.h"

namespace lhg {
namespace {

inline constexpr std::uint32_t kUnreached = kEndMarker;

// Successors in outgoing order, packed: the search walks them once per source.
struct Successors {
  std::vector<std::uint32_t> begin;  // node_count() + 1 offsets into target
  std::vector<NodeId> target;
};

Successors pack_successors(const Graph& graph) {
  const std::size_t n = graph.node_count();
  Successors out;
  out.begin.resize(n + 1);
  out.target.reserve(graph.edge_count());
  Poller poller;
  for (NodeId v = 0; v < n; ++v) {
    poller.tick();
    out.begin[v] = static_cast<std::uint32_t>(out.target.size());
    graph.for_each_successor(v, [&](NodeId w) {
      poller.tick();
      out.target.push_back(w);
    });
  }
  out.begin[n] = static_cast<std::uint32_t>(out.target.size());
  return out;
}

// Start of each node's predecessor slot range: the in-degree prefix sums.
std::vector<std::uint32_t> predecessor_slots(const Graph& graph) {
  const std::size_t n = graph.node_count();
  std::vector<std::uint32_t> begin(n + 1, 0);
  Poller poller;
  for (const Edge& e : graph.edges()) {
    poller.tick();
    ++begin[e.target + 1];
  }
  for (std::size_t v = 0; v < n; ++v) begin[v + 1] += begin[v];
  return begin;
}

// What one search knows about a node; kept together because the search and
// the accumulation touch these fields of the same node at the same time.
struct NodeState {
  PathCount sigma = 0.0;
  Score delta = 0.0;
  std::uint32_t dist = kUnreached;
  std::uint32_t pred_end = 0;  // one past w's last predecessor entry
};

class Brandes {
 public:
  explicit Brandes(const Graph& graph)
      : succ_(pack_successors(graph)),
        pred_begin_(predecessor_slots(graph)),
        pred_(graph.edge_count()),
        state_(graph.node_count()),
        order_(graph.node_count()),
        score_(graph.node_count(), 0.0) {
    for (std::size_t v = 0; v < state_.size(); ++v) state_[v].pred_end = pred_begin_[v];
  }

  void add_source(NodeId s) {
    const std::size_t reached = search(s);
    accumulate(s, reached);
    for (std::size_t i = 0; i < reached; ++i) {
      const NodeId w = order_[i];
      state_[w] = NodeState{0.0, 0.0, kUnreached, pred_begin_[w]};
    }
  }

  std::vector<Score> take_scores() && { return std::move(score_); }

 private:
  // Fills order_ with the nodes s reaches, in queue order; returns how many.
  std::size_t search(NodeId s) {
    state_[s].sigma = 1.0;
    state_[s].dist = 0;
    order_[0] = s;
    std::size_t tail = 1;
    for (std::size_t head = 0; head < tail; ++head) {
      const NodeId v = order_[head];
      // One search can take tens of milliseconds on a large graph: it polls
      // as it goes, counting the accumulation's work along with its own.
      poller_.tick(2 + 2 * (succ_.begin[v + 1] - succ_.begin[v]));
      // A self loop never lies on a shortest path, so v's own count stays
      // fixed while its edges are walked.
      const PathCount sigma_v = state_[v].sigma;
      const std::uint32_t next = state_[v].dist + 1;
      for (std::uint32_t e = succ_.begin[v]; e < succ_.begin[v + 1]; ++e) {
        const NodeId w = succ_.target[e];
        NodeState& sw = state_[w];
        if (sw.dist == kUnreached) {
          sw.dist = next;
          order_[tail++] = w;
        }
        if (sw.dist == next) {
          sw.sigma = sigma_v + sw.sigma;
          pred_[sw.pred_end++] = v;
        }
      }
    }
    return tail;
  }

  void accumulate(NodeId s, std::size_t reached) {
    for (std::size_t i = reached; i-- > 0;) {
      const NodeId w = order_[i];
      // w is never its own predecessor, so its delta holds still in the loop.
      const NodeState& sw = state_[w];
      const Score weight = sw.delta + 1.0;
      for (std::uint32_t p = pred_begin_[w]; p < sw.pred_end; ++p) {
        NodeState& sv = state_[pred_[p]];
        sv.delta = weight * (sv.sigma / sw.sigma) + sv.delta;
      }
      if (w != s) score_[w] = sw.delta + score_[w];
    }
  }

  Successors succ_;
  std::vector<std::uint32_t> pred_begin_;
  std::vector<NodeId> pred_;
  std::vector<NodeState> state_;
  std::vector<NodeId> order_;
  std::vector<Score> score_;
  Poller poller_;
};

}  // namespace

ScoreMap betweenness_on_graph(Graph graph, bool normalized, std::optional<std::vector<NodeId>> sources) {
  const std::size_t n = graph.node_count();
  if (n == 0) return {};
  graph.drop_name_index();  // names are only read back, never looked up

  Brandes brandes(graph);
  if (sources) {
    for (const NodeId s : *sources) {
      if (s >= n) throw InternalFailure("betweenness source outside the graph");
      brandes.add_source(s);
    }
  } else {
    for (NodeId s = 0; s < n; ++s) brandes.add_source(s);
  }

  const double count = static_cast<double>(n);
  const double norm = normalized && n >= 3 ? 1.0 / ((count - 2.0) * (count - 1.0)) : 1.0;
  const double sample_scale =
      sources && !sources->empty() ? count / static_cast<double>(sources->size()) : 1.0;
  const double factor = norm * sample_scale;

  ScoreMap result;
  result.scores = std::move(brandes).take_scores();
  for (Score& score : result.scores) score = score * factor;
  result.names = std::move(graph).take_names();
  return result;
}

ScoreMap betweenness_impl(EdgeList edges, bool normalized) {
  return betweenness_on_graph(build_graph(std::move(edges)), normalized);
}

ScoreMap sampled_betweenness_impl(EdgeList edges, std::uint64_t sample_size, std::uint64_t seed, bool normalized) {
  Graph graph = build_graph(std::move(edges));
  const std::size_t n = graph.node_count();
  if (n == 0) return {};
  if (sample_size >= n) return betweenness_on_graph(std::move(graph), normalized);

  // Fisher-Yates from the back, driven by a 64-bit linear congruential
  // generator (multiplier 0x5851F42D4C957F2D, increment 1) seeded with `seed`
  // unchanged and advanced before each use. j is the plain remainder of the
  // whole state: the draw must be reproducible, not unbiased. The pass always
  // runs to the end, however few sources are taken.
  std::vector<NodeId> order(n);
  for (std::size_t i = 0; i < n; ++i) order[i] = static_cast<NodeId>(i);
  std::uint64_t state = seed;
  for (std::uint64_t i = n - 1; i >= 1; --i) {
    state = state * 6364136223846793005ULL + 1;
    const std::uint64_t j = state % (i + 1);
    std::swap(order[i], order[j]);
  }
  order.resize(sample_size);
  return betweenness_on_graph(std::move(graph), normalized, std::move(order));
}

}  // namespace lhg
