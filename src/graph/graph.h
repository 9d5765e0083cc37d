// The graph store: a directed multigraph built from an ordered edge list.
//
// Nodes are numbered densely in order of first appearance, the source of a
// pair before its target. Every pair is its own edge, so parallel edges and
// self loops stay. Each node's outgoing and incoming edges are held packed
// (compressed rows, one array of neighbours a direction), most recently
// added first, so every walk visits a node's edges in that order. Both
// orders reach the results of the analyses (their traversal orders and
// floating-point sums), so they are part of the contract, not a detail.
//
// A built graph never changes: every analysis takes it as `const Graph&`,
// and any number of threads may read it at once.
#pragma once

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <memory>
#include <span>
#include <utility>
#include <vector>

#include "graph/names.h"
#include "graph/types.h"

namespace lhg {

struct EdgePair {
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
  // Room for `more` pairs beyond those held, for a caller that knows how
  // many are coming; it grows geometrically, as adding one by one would,
  // so that many short runs of pairs do not copy the list once each.
  void reserve_more(std::size_t more) {
    const std::size_t want = edges_.size() + std::min<std::size_t>(more, edge_limit_ - edges_.size());
    if (want > edges_.capacity()) edges_.reserve(std::max(want, 2 * edges_.capacity()));
  }
  // For names that come from no interpreter string: the list's names are
  // filed under the table's own hash with this seed (process_seed() unless a
  // test wants another), and `key` gives the key to add a name with. Called
  // before the first `add`.
  void use_own_hashes(std::uint64_t seed = process_seed()) noexcept { names_.use_own_hashes(seed); }
  NameKey key(std::string_view bytes) const noexcept { return {bytes, names_.hash(bytes)}; }
  // Lowers both index limits below the end marker, so that tests can reach
  // the failure at the limit without billions of pairs.
  void set_index_limit(std::uint32_t limit) noexcept {
    names_.set_limit(limit);
    edge_limit_ = limit;
  }
  // Interns the source, then the target, then appends the edge; each step
  // fails at the index limit, in that order. Inline: it runs for every pair.
  void add(NameKey source, NameKey target) {
    NodeId s = last_source_;
    if (s == kNoNode || source.hash != last_source_hash_ || !same_name(names_.name(s), source.bytes)) {
      s = names_.intern(source);
      last_source_ = s;
      last_source_hash_ = source.hash;
    }
    add(s, names_.intern(target));
  }

  // add() in two steps, for a caller that keeps the numbers of names it
  // met before: intern() each name it has no number for, the source's
  // first, then add(source, target) the numbers. Each step fails at the
  // index limit as add() would.
  NodeId intern(NameKey key) { return names_.intern(key); }
  void add(NodeId source, NodeId target) {
    if (edges_.size() >= edge_limit_) [[unlikely]] too_many_edges();
    edges_.push_back({source, target});
  }

  std::size_t size() const noexcept { return edges_.size(); }
  // The names so far, for hints ahead of `add`.
  const NameTable& names() const noexcept { return names_; }

 private:
  friend class Graph;
  [[noreturn]] static void too_many_edges();

  NameTable names_;
  std::vector<EdgePair> edges_;
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
  Graph(const Graph&) = delete;  // potentially gigabytes
  Graph& operator=(const Graph&) = delete;

  std::size_t node_count() const noexcept { return names_.size(); }
  std::size_t edge_count() const noexcept { return out_target_.size(); }
  std::string_view name(NodeId v) const noexcept { return names_.name(v); }
  NameKey key(NodeId v) const noexcept { return names_.key(v); }
  NodeId find(NameKey key) const noexcept { return names_.find(key); }
  const NameTable& names() const noexcept { return names_; }

  // v's outgoing edges' targets, most recently added first.
  std::span<const NodeId> successors(NodeId v) const noexcept {
    return {out_target_.data() + out_begin_[v], out_target_.data() + out_begin_[v + 1]};
  }
  // The position of each of those edges in the edge list, in the same order.
  std::span<const EdgeId> out_edges(NodeId v) const noexcept {
    return {out_edge_.data() + out_begin_[v], out_edge_.data() + out_begin_[v + 1]};
  }
  // v's incoming edges' sources, most recently added first.
  std::span<const NodeId> predecessors(NodeId v) const noexcept {
    return {in_source_.data() + in_begin_[v], in_source_.data() + in_begin_[v + 1]};
  }
  std::size_t out_degree(NodeId v) const noexcept { return out_begin_[v + 1] - out_begin_[v]; }
  std::size_t in_degree(NodeId v) const noexcept { return in_begin_[v + 1] - in_begin_[v]; }

  // Hints for a node about to be expanded: first where its row starts,
  // then, once that has come, the row itself.
  template <Direction dir>
  void prefetch_row_start(NodeId v) const noexcept {
    __builtin_prefetch(dir == Direction::kForward ? &out_begin_[v] : &in_begin_[v]);
  }
  template <Direction dir>
  void prefetch_row(NodeId v) const noexcept {
    __builtin_prefetch(neighbors<dir>(v).data());
  }

  template <Direction dir>
  std::span<const NodeId> neighbors(NodeId v) const noexcept {
    if constexpr (dir == Direction::kForward) {
      return successors(v);
    } else {
      return predecessors(v);
    }
  }
  template <class F>
  void for_each_successor(NodeId v, F&& f) const {
    for (const NodeId t : successors(v)) f(t);
  }
  template <class F>
  void for_each_predecessor(NodeId v, F&& f) const {
    for (const NodeId s : predecessors(v)) f(s);
  }
  template <Direction dir, class F>
  void for_each_neighbor(NodeId v, F&& f) const {
    for (const NodeId u : neighbors<dir>(v)) f(u);
  }

  // The packed rows: node v's outgoing edges are slots
  // out_begin()[v] .. out_begin()[v + 1] - 1 of out_targets(), and so on.
  std::span<const EdgeId> out_begin() const noexcept { return out_begin_; }
  std::span<const NodeId> out_targets() const noexcept { return out_target_; }
  std::span<const EdgeId> out_edge_ids() const noexcept { return out_edge_; }
  std::span<const EdgeId> in_begin() const noexcept { return in_begin_; }
  std::span<const NodeId> in_sources() const noexcept { return in_source_; }

  // The arrays of a graph held elsewhere (a snapshot), as the accessors
  // above give them.
  struct Rows {
    std::span<const EdgeId> out_begin;
    std::span<const NodeId> out_target;
    std::span<const EdgeId> out_edge;
    std::span<const EdgeId> in_begin;
    std::span<const NodeId> in_source;
  };
  // A graph over names and rows that `storage` keeps alive. The rows must
  // be those of a built graph (checked by the caller); nothing is copied.
  static Graph adopt(NameTable names, const Rows& rows, std::shared_ptr<const void> storage);

  // Whether every node's incoming row holds as many edges as the outgoing
  // rows lead to it, and the other way round. True of every built graph; a
  // graph adopted from a snapshot is checked the first time a caller asks,
  // and the answer kept. Searches that keep a node's predecessors in the
  // room its incoming row gives them ask first: a made-up snapshot must not
  // make them write past it.
  bool rows_match() const;

  // Bytes held: names, their index and the adjacency.
  std::size_t nbytes() const noexcept;

  // Same names in the same order and the same edges in the same order: the
  // graphs of equal edge lists.
  bool operator==(const Graph& other) const noexcept;

 private:
  friend Graph build_graph(EdgeList edges);
  explicit Graph(EdgeList&& edges);

  Graph() = default;

  NameTable names_;  // the node map: name <-> node number
  std::span<const EdgeId> out_begin_;  // node_count() + 1 offsets
  std::span<const NodeId> out_target_;
  std::span<const EdgeId> out_edge_;
  std::span<const EdgeId> in_begin_;  // node_count() + 1 offsets
  std::span<const NodeId> in_source_;
  // What the rows lie in: the arrays a build made, or a mapped file.
  std::shared_ptr<const void> storage_;
  std::size_t storage_bytes_ = 0;
  // 0: not yet known, 1: the rows match, 2: they do not. On the heap, so
  // that a graph stays movable.
  std::unique_ptr<std::atomic<int>> rows_match_ = std::make_unique<std::atomic<int>>(1);
};

Graph build_graph(EdgeList edges);

}  // namespace lhg
