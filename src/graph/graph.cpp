#include "graph/graph.h"

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
  edges_.push_back({kEndMarker, kEndMarker, s, t});
}

Graph::Graph(EdgeList&& list)
    : names_(std::move(list.names_)),
      first_out_(names_.size(), kEndMarker),
      first_in_(names_.size(), kEndMarker),
      edges_(std::move(list.edges_)) {
  // Each edge becomes the head of its source's outgoing list and its target's
  // incoming list; for a self loop both heads belong to the one node.
  Poller poller;
  for (std::size_t k = 0; k < edges_.size(); ++k) {
    poller.tick();
    Edge& e = edges_[k];
    e.next_out = first_out_[e.source];
    e.next_in = first_in_[e.target];
    first_out_[e.source] = static_cast<EdgeId>(k);
    first_in_[e.target] = static_cast<EdgeId>(k);
  }
}

Graph build_graph(EdgeList edges) { return Graph(std::move(edges)); }

NameTable Graph::take_names() && noexcept {
  NameTable names = std::move(names_);
  names.drop_index();
  return names;
}

}  // namespace lhg
