// The graph store: a directed multigraph built from an ordered edge list.
//
// Nodes are numbered densely in order of first appearance, the source of a
// pair before its target. Every pair is its own edge, so parallel edges and
// self loops stay. Each node's outgoing and incoming edges form singly linked
// lists threaded through the edge array; a new edge goes to the head of both
// lists, so every walk visits a node's edges most recently added first. Both
// orders reach the results of the analyses (their traversal orders and
// floating-point sums), so they are part of the contract, not a detail.
#pragma once

#include <cstddef>
#include <utility>
#include <vector>

#include "graph/names.h"
#include "graph/types.h"

namespace lhg {

struct Edge {
  EdgeId next_out;  // next edge leaving `source`, or the end marker
  EdgeId next_in;   // next edge entering `target`, or the end marker
  NodeId source;
  NodeId target;
};

// The converted edge list: names interned as they arrive, pairs in order.
// Interning here rather than in build_graph means the caller's strings are
// copied once per distinct name, never once per occurrence.
class EdgeList {
 public:
  EdgeList() = default;
  EdgeList(EdgeList&&) noexcept = default;
  EdgeList& operator=(EdgeList&&) noexcept = default;
  EdgeList(const EdgeList&) = delete;
  EdgeList& operator=(const EdgeList&) = delete;

  void reserve(std::size_t pairs) { edges_.reserve(pairs); }
  // Lowers both index limits below the end marker, so that tests can reach
  // the failure at the limit without billions of pairs.
  void set_index_limit(std::uint32_t limit) noexcept {
    names_.set_limit(limit);
    edge_limit_ = limit;
  }
  // Interns the source, then the target, then appends the edge; each step
  // fails at the index limit, in that order.
  void add(NameKey source, NameKey target);

  std::size_t size() const noexcept { return edges_.size(); }
  // The names so far, for hints ahead of `add`.
  const NameTable& names() const noexcept { return names_; }

 private:
  friend class Graph;
  NameTable names_;
  std::vector<Edge> edges_;  // links not yet threaded
  std::uint32_t edge_limit_ = kEndMarker;
  // The last pair's source and its hash. A dependency list names a
  // package's dependencies one after another, so most sources are the one
  // before: compared with it, they need no search of the table.
  NodeId last_source_ = kNoNode;
  std::uint64_t last_source_hash_ = 0;
};

enum class Direction { kForward, kBackward };

class Graph {
 public:
  Graph(Graph&&) noexcept = default;
  Graph& operator=(Graph&&) noexcept = default;
  Graph(const Graph&) = delete;
  Graph& operator=(const Graph&) = delete;

  std::size_t node_count() const noexcept { return names_.size(); }
  std::size_t edge_count() const noexcept { return edges_.size(); }
  std::string_view name(NodeId v) const noexcept { return names_.name(v); }
  NodeId find(NameKey key) const noexcept { return names_.find(key); }
  const std::vector<Edge>& edges() const noexcept { return edges_; }

  // Calls f(target) for each edge leaving v, most recently added first.
  template <class F>
  void for_each_successor(NodeId v, F&& f) const {
    for (EdgeId e = first_out_[v]; e < edges_.size(); e = edges_[e].next_out) f(edges_[e].target);
  }
  // Calls f(source) for each edge entering v, most recently added first.
  template <class F>
  void for_each_predecessor(NodeId v, F&& f) const {
    for (EdgeId e = first_in_[v]; e < edges_.size(); e = edges_[e].next_in) f(edges_[e].source);
  }
  template <Direction dir, class F>
  void for_each_neighbor(NodeId v, F&& f) const {
    if constexpr (dir == Direction::kForward) {
      for_each_successor(v, f);
    } else {
      for_each_predecessor(v, f);
    }
  }

  // Frees the edges and the lists, keeping the names, for a core that has
  // copied what it needs into a layout of its own.
  void drop_adjacency() noexcept {
    edges_ = {};
    first_out_ = {};
    first_in_ = {};
  }

  // Frees the name lookup, keeping the names, for a core that looks none up.
  void drop_name_index() noexcept { names_.drop_index(); }

  // Hands the names over to a result that outlives the graph.
  NameTable take_names() && noexcept;

 private:
  friend Graph build_graph(EdgeList edges);
  explicit Graph(EdgeList&& edges);

  NameTable names_;  // the node map: name <-> node number
  std::vector<EdgeId> first_out_;
  std::vector<EdgeId> first_in_;
  std::vector<Edge> edges_;
};

Graph build_graph(EdgeList edges);

}  // namespace lhg
