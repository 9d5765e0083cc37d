// Per-query working state over a built graph, reset only where a query
// touched it.
//
// A query on a large graph that reaches a handful of nodes must not clear
// or allocate anything in proportion to the graph. So each query borrows a
// NodeMarks from its graph's pool: one value per node, all unmarked when
// lent, and the nodes marked kept in a list, so that giving it back
// unmarks exactly those. A pool lends each of its marks to one query at a
// time; queries on several threads each get their own, made on first need
// and kept for the next query.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include "graph/types.h"

namespace lhg {

class NodeMarks {
 public:
  static constexpr std::uint32_t kUnmarked = kEndMarker;

  explicit NodeMarks(std::size_t node_count) : value_(node_count, kUnmarked) {}
  NodeMarks(const NodeMarks&) = delete;
  NodeMarks& operator=(const NodeMarks&) = delete;

  std::size_t size() const noexcept { return value_.size(); }
  std::uint32_t operator[](NodeId v) const noexcept { return value_[v]; }
  bool marked(NodeId v) const noexcept { return value_[v] != kUnmarked; }
  // Marks v with `value` (not kUnmarked); false, changing nothing, if v was
  // marked already.
  bool mark(NodeId v, std::uint32_t value) {
    if (value_[v] != kUnmarked) return false;
    // Listed first: a mark that the list failed to take would never be
    // cleared.
    touched_.push_back(v);
    value_[v] = value;
    return true;
  }
  // Unmarks every node marked since the last clear.
  void clear() noexcept {
    for (const NodeId v : touched_) value_[v] = kUnmarked;
    touched_.clear();
  }

 private:
  std::vector<std::uint32_t> value_;
  std::vector<NodeId> touched_;
};

// Unmarks what a query marked on every way out of it, an interrupt's or a
// failure's included.
class ClearAfter {
 public:
  explicit ClearAfter(NodeMarks& marks) noexcept : marks_(marks) {}
  ~ClearAfter() { marks_.clear(); }
  ClearAfter(const ClearAfter&) = delete;
  ClearAfter& operator=(const ClearAfter&) = delete;

 private:
  NodeMarks& marks_;
};

class MarksPool {
 public:
  explicit MarksPool(std::size_t node_count) : node_count_(node_count) {}

  // A NodeMarks lent for the life of the lease, all unmarked.
  class Lease {
   public:
    Lease(Lease&& other) noexcept : pool_(other.pool_), marks_(std::move(other.marks_)) {}
    Lease(const Lease&) = delete;
    Lease& operator=(const Lease&) = delete;
    ~Lease() {
      if (marks_) pool_->give_back(std::move(marks_));
    }
    NodeMarks& operator*() const noexcept { return *marks_; }
    NodeMarks* operator->() const noexcept { return marks_.get(); }

   private:
    friend class MarksPool;
    Lease(MarksPool* pool, std::unique_ptr<NodeMarks> marks) : pool_(pool), marks_(std::move(marks)) {}
    MarksPool* pool_;
    std::unique_ptr<NodeMarks> marks_;
  };

  Lease lend() {
    {
      const std::lock_guard<std::mutex> lock(mutex_);
      if (!free_.empty()) {
        std::unique_ptr<NodeMarks> marks = std::move(free_.back());
        free_.pop_back();
        return Lease(this, std::move(marks));
      }
    }
    return Lease(this, std::make_unique<NodeMarks>(node_count_));
  }

  // Bytes of the marks kept for later queries.
  std::size_t nbytes() const {
    const std::lock_guard<std::mutex> lock(mutex_);
    return free_.size() * node_count_ * sizeof(std::uint32_t);
  }

 private:
  void give_back(std::unique_ptr<NodeMarks> marks) noexcept {
    marks->clear();
    const std::lock_guard<std::mutex> lock(mutex_);
    // Keeping it needs room in the list; without that, it is freed.
    try {
      free_.push_back(std::move(marks));
    } catch (...) {
    }
  }

  std::size_t node_count_;
  mutable std::mutex mutex_;
  std::vector<std::unique_ptr<NodeMarks>> free_;
};

}  // namespace lhg
