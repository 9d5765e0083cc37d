// An edge list filled on a thread of its own.
//
// Reading a long list of Python pairs and interning their names cost about
// as much as each other, and only the reading needs the interpreter. So in
// concurrent mode the thread that reads hands each pair's names over, in
// batches, to an InterningThread, which adds them to the edge list in the
// order they came: the same names, numbered the same, and the same edges
// as if the reading thread had added them itself.
//
// The names handed over are views of bytes that the caller keeps alive and
// unchanged until `drain` returns; nothing else of the caller's is read.
// Most are copied into the batch as they are handed over, and the thread
// reads the copy. A failure of the interning thread (the index limit,
// memory) ends it; the caller gets it from its next `add` or `drain`, and it
// comes from a pair handed over before that call.
//
// The caller's own code may fork (a signal handler that the caller runs
// between a `drain` and the next `add`): the child has no interning thread,
// and everything handed over had been added before the fork. So after code
// that may have forked the caller calls `after_foreign_code`, and a child
// adds the pairs from then on itself; it never waits for, nor joins, the
// thread it does not have.
#pragma once

#include <sys/types.h>

#include <atomic>
#include <cstddef>
#include <cstring>
#include <exception>
#include <memory>
#include <thread>

#include "graph/graph.h"
#include "graph/interrupt.h"

namespace lhg {

class InterningThread {
 public:
  // Works on `edges` until it is destroyed, when `edges` holds every pair
  // added, as if they had been added to it directly.
  explicit InterningThread(EdgeList& edges);
  // Lets the thread finish what was handed over and joins it.
  ~InterningThread();
  InterningThread(const InterningThread&) = delete;
  InterningThread& operator=(const InterningThread&) = delete;

  // Starts the thread; false if it cannot be started (then nothing may be
  // handed over).
  bool start();

  // Hands a pair over. Waits while the batches ahead of it are full.
  void add(const NameKey& source, const NameKey& target) {
    if (in_place_) [[unlikely]] {
      shared_->edges.add(source, target);
      return;
    }
    Batch& batch = ring_[produced_ % kRing];
    if (fill_ == 0) {
      wait_for_room();
      batch.used = 0;
    }
    batch.keys[2 * fill_] = carry(batch, source);
    batch.keys[2 * fill_ + 1] = carry(batch, target);
    if (++fill_ == kBatch) publish();
  }

  // Returns once every pair handed over has been added, or rethrows what
  // ended the thread.
  void drain();

  // To be called after code of the caller's that ran after a `drain` and
  // may have forked: in a child, the pairs are added in place from now on.
  void after_foreign_code();

 private:
  static constexpr std::size_t kBatch = 256;  // pairs
  static constexpr std::size_t kRing = 8;     // batches
  // Room for the bytes of a batch's names: 32 per name, about twice the
  // average of a dependency graph's names. A name that finds no room left
  // is handed over as a view of the caller's bytes.
  static constexpr std::size_t kBatchBytes = 2 * kBatch * 32;
  struct alignas(64) Batch {
    NameKey keys[2 * kBatch];
    std::size_t pairs = 0;
    std::size_t used = 0;  // of bytes
    alignas(64) char bytes[kBatchBytes];
  };

  // The key as handed over: its bytes copied into the batch while there is
  // room. The caller has just read them and holds them in its cache; the
  // thread reads them from the batch, front to back, instead of from
  // wherever the caller's strings lie.
  static NameKey carry(Batch& batch, NameKey key) noexcept {
    const std::size_t size = key.bytes.size();
    if (size == 0 || size > kBatchBytes - batch.used) return key;
    char* copy = batch.bytes + batch.used;
    std::memcpy(copy, key.bytes.data(), size);
    batch.used += size;
    return {std::string_view(copy, size), key.hash};
  }

  // What the two threads share, each part on cache lines of its own. The
  // thread writes to the edge list for every pair: a line that the caller
  // writes too (its stack, or the counter the thread watches) would move
  // between the two cores at every pair, and that costs more than the
  // interning itself.
  struct alignas(64) Shared {
    EdgeList edges;
    // Written by the caller.
    alignas(64) std::atomic<std::size_t> produced{0};  // batches handed over
    std::atomic<bool> closed{false};
    // Written by the thread.
    alignas(64) std::atomic<std::size_t> consumed{0};  // batches added
    std::atomic<bool> failed{false};
    std::exception_ptr failure;  // written before failed is set
  };

  void wait_for_room();
  void publish();
  void intern_all();

  EdgeList& caller_edges_;
  // On the heap: a call may be nested in a signal handler of another, on
  // the same stack.
  std::unique_ptr<Shared> shared_;
  std::unique_ptr<Batch[]> ring_;
  std::size_t produced_ = 0;  // the caller's copy of shared_->produced
  std::size_t fill_ = 0;      // pairs in the batch being filled
  std::unique_ptr<std::thread> thread_;
  pid_t process_ = 0;      // the process that started the thread
  bool in_place_ = false;  // a forked child: no thread, pairs added by the caller
};

// The interrupt check in force, run with an interning thread drained first,
// for a caller that hands pairs over while its check may run foreign code:
// a signal handler may fork, and the child must find every pair handed over
// added, and go on interning in place. Installed as a ThreadCheck with this
// as its context; `check` is that ThreadCheck, set once it exists.
struct DrainFirst {
  InterningThread* interner;
  const ThreadCheck* check;
  static void poll(void* self);
};

}  // namespace lhg
