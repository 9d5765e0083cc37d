#include "graph/graph.h"

#include <algorithm>

#include "graph/failure.h"
#include "graph/interrupt.h"

namespace lhg {

void EdgeList::add(NameKey source, NameKey target) {
  NodeId s = last_source_;
  if (s == kNoNode || source.hash != last_source_hash_ || names_.name(s) != source.bytes) {
    s = names_.intern(source);
    last_source_ = s;
    last_source_hash_ = source.hash;
  }
  const NodeId t = names_.intern(target);
  if (edges_.size() >= edge_limit_) throw InternalFailure("edge index space exhausted: too many edges");
  edges_.push_back({s, t});
}

// Counting sorts of the pairs by source and by target. The pairs are placed
// from the last back, so that each node's row lists its edges most recently
// added first. Edge positions fit an EdgeId: the list holds fewer than the
// end marker's worth of pairs.
Graph::Graph(EdgeList&& list) : names_(std::move(list.names_)) {
  names_.shrink_to_fit();
  const std::size_t n = names_.size();
  std::vector<EdgePair> pairs = std::move(list.edges_);
  const std::size_t m = pairs.size();
  Poller poller;
  out_begin_.assign(n + 1, 0);
  in_begin_.assign(n + 1, 0);
  for (const EdgePair& e : pairs) {
    poller.tick();
    ++out_begin_[e.source + 1];
    ++in_begin_[e.target + 1];
  }
  for (std::size_t v = 0; v < n; ++v) {
    out_begin_[v + 1] += out_begin_[v];
    in_begin_[v + 1] += in_begin_[v];
  }
  out_target_.resize(m);
  out_edge_.resize(m);
  in_source_.resize(m);
  std::vector<EdgeId> out_fill(out_begin_.begin(), out_begin_.end() - 1);
  std::vector<EdgeId> in_fill(in_begin_.begin(), in_begin_.end() - 1);
  for (std::size_t k = m; k-- > 0;) {
    poller.tick();
    const EdgePair e = pairs[k];
    const EdgeId o = out_fill[e.source]++;
    out_target_[o] = e.target;
    out_edge_[o] = static_cast<EdgeId>(k);
    in_source_[in_fill[e.target]++] = e.source;
  }
}

Graph build_graph(EdgeList edges) { return Graph(std::move(edges)); }

std::size_t Graph::nbytes() const noexcept {
  return sizeof(Graph) + names_.nbytes() + (out_begin_.capacity() + in_begin_.capacity()) * sizeof(EdgeId) +
         (out_target_.capacity() + in_source_.capacity()) * sizeof(NodeId) + out_edge_.capacity() * sizeof(EdgeId);
}

bool Graph::operator==(const Graph& other) const noexcept {
  if (node_count() != other.node_count() || edge_count() != other.edge_count()) return false;
  for (NodeId v = 0; v < node_count(); ++v) {
    if (name(v) != other.name(v)) return false;
  }
  // The rows with their edge positions determine the edge list: edge k is
  // (the owner of the slot holding k, the target there).
  return out_begin_ == other.out_begin_ && out_target_ == other.out_target_ && out_edge_ == other.out_edge_;
}

}  // namespace lhg
