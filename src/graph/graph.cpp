#include "graph/graph.h"

#include <algorithm>

#include "graph/failure.h"
#include "graph/interrupt.h"
#include "graph/raw_vector.h"

namespace lhg {

void EdgeList::too_many_edges() { throw InternalFailure("edge index space exhausted: too many edges"); }

namespace {

struct BuiltRows {
  RawVector<EdgeId> out_begin;
  RawVector<NodeId> out_target;
  RawVector<EdgeId> out_edge;
  RawVector<EdgeId> in_begin;
  RawVector<NodeId> in_source;
};

}  // namespace

// Counting sorts of the pairs by source and by target. The pairs are placed
// from the last back, so that each node's row lists its edges most recently
// added first. Edge positions fit an EdgeId: the list holds fewer than the
// end marker's worth of pairs.
//
// Each begin array counts v's edges two places on (at v + 2) and, summed,
// holds v's beginning one place on (at v + 1): there it serves as the
// cursor that places v's edges, and placing them all moves it to the end
// of v's row, which is the beginning of the next, where it belongs. No
// cursor arrays of their own, and the rows are written once each.
Graph::Graph(EdgeList&& list) : names_(std::move(list.names_)) {
  names_.shrink_to_fit();
  const std::size_t n = names_.size();
  std::vector<EdgePair> pairs = std::move(list.edges_);
  const std::size_t m = pairs.size();
  Poller poller;
  auto rows = std::make_shared<BuiltRows>();
  RawVector<EdgeId>& out_begin = rows->out_begin;
  RawVector<EdgeId>& in_begin = rows->in_begin;
  out_begin.assign(n + 2, 0);
  in_begin.assign(n + 2, 0);
  for (const EdgePair& e : pairs) {
    poller.tick();
    ++out_begin[e.source + 2];
    ++in_begin[e.target + 2];
  }
  for (std::size_t v = 2; v < n + 2; ++v) {
    out_begin[v] += out_begin[v - 1];
    in_begin[v] += in_begin[v - 1];
  }
  RawVector<NodeId>& out_target = rows->out_target;
  RawVector<EdgeId>& out_edge = rows->out_edge;
  RawVector<NodeId>& in_source = rows->in_source;
  out_target.resize(m);
  out_edge.resize(m);
  in_source.resize(m);
  // Each row's cursor, then the places it points at, are asked for a few
  // pairs ahead, once the rows outgrow the nearer caches (as the name table
  // does, from about as many nodes): the rows of a long list's nodes lie
  // all over. A source's edges mostly come in a run, and its hints fall on
  // lines already there but the first time. The two passes apart, each
  // keeps to what it writes: together, one's rows would push the other's
  // hinted lines out before they are written.
  constexpr std::size_t kCursorAhead = 16;
  constexpr std::size_t kPlaceAhead = 8;
  const std::size_t hinted = n >= kNamesWorthHints ? kCursorAhead : m;
  for (std::size_t k = m; k-- > 0;) {
    poller.tick();
    if (k >= hinted) {
      __builtin_prefetch(&out_begin[pairs[k - kCursorAhead].source + 1], 1);
      const EdgeId o = out_begin[pairs[k - kPlaceAhead].source + 1];
      __builtin_prefetch(&out_target[o], 1);
      __builtin_prefetch(&out_edge[o], 1);
    }
    const EdgePair e = pairs[k];
    const EdgeId o = out_begin[e.source + 1]++;
    out_target[o] = e.target;
    out_edge[o] = static_cast<EdgeId>(k);
  }
  for (std::size_t k = m; k-- > 0;) {
    poller.tick();
    if (k >= hinted) {
      __builtin_prefetch(&in_begin[pairs[k - kCursorAhead].target + 1], 1);
      __builtin_prefetch(&in_source[in_begin[pairs[k - kPlaceAhead].target + 1]], 1);
    }
    const EdgePair e = pairs[k];
    in_source[in_begin[e.target + 1]++] = e.source;
  }
  out_begin.pop_back();
  in_begin.pop_back();
  out_begin_ = out_begin;
  out_target_ = out_target;
  out_edge_ = out_edge;
  in_begin_ = in_begin;
  in_source_ = in_source;
  storage_bytes_ = (2 * (n + 1) + 3 * m) * sizeof(std::uint32_t);
  storage_ = std::move(rows);
}

Graph Graph::adopt(NameTable names, const Rows& rows, std::shared_ptr<const void> storage) {
  Graph graph;
  graph.names_ = std::move(names);
  graph.out_begin_ = rows.out_begin;
  graph.out_target_ = rows.out_target;
  graph.out_edge_ = rows.out_edge;
  graph.in_begin_ = rows.in_begin;
  graph.in_source_ = rows.in_source;
  graph.storage_bytes_ = (rows.out_begin.size() + rows.in_begin.size() + rows.out_target.size() +
                          rows.out_edge.size() + rows.in_source.size()) *
                         sizeof(std::uint32_t);
  graph.storage_ = std::move(storage);
  graph.rows_match_->store(0);
  return graph;
}

bool Graph::rows_match() const {
  const int known = rows_match_->load(std::memory_order_acquire);
  if (known != 0) return known == 1;
  // Threads that ask at once each count; they come to the same answer.
  const std::size_t n = node_count();
  Poller poller;
  std::vector<EdgeId> into;
  std::vector<EdgeId> from;
  fill_polled(into, n, 0, poller);
  fill_polled(from, n, 0, poller);
  for (std::size_t k = 0; k < edge_count(); ++k) {
    ++into[out_target_[k]];
    ++from[in_source_[k]];
    poller.tick();
  }
  bool match = true;
  for (std::size_t v = 0; v < n; ++v) {
    match &= into[v] == in_begin_[v + 1] - in_begin_[v] && from[v] == out_begin_[v + 1] - out_begin_[v];
    poller.tick();
  }
  rows_match_->store(match ? 1 : 2, std::memory_order_release);
  return match;
}

Graph build_graph(EdgeList edges) { return Graph(std::move(edges)); }

std::size_t Graph::nbytes() const noexcept {
  return sizeof(Graph) + names_.nbytes() + storage_bytes_;
}

bool Graph::operator==(const Graph& other) const noexcept {
  if (node_count() != other.node_count() || edge_count() != other.edge_count()) return false;
  for (NodeId v = 0; v < node_count(); ++v) {
    if (name(v) != other.name(v)) return false;
  }
  // The rows with their edge positions determine the edge list: edge k is
  // (the owner of the slot holding k, the target there).
  return std::ranges::equal(out_begin_, other.out_begin_) && std::ranges::equal(out_target_, other.out_target_) &&
         std::ranges::equal(out_edge_, other.out_edge_);
}

}  // namespace lhg
