#include "graph/interning.h"

#include <unistd.h>

#include <chrono>
#include <system_error>

#include "graph/interrupt.h"

namespace lhg {
namespace {

// Waits are short (a batch takes microseconds): spin, then yield, so that a
// machine with fewer cores than threads still makes progress. A wait that
// goes on for milliseconds is one for a caller that runs code of its own
// (a signal handler, say): it sleeps in short steps rather than hold a core.
void pause(unsigned spins) {
  if (spins < (1u << 10)) return;
  if (spins < (1u << 12)) {
    std::this_thread::yield();
  } else {
    std::this_thread::sleep_for(std::chrono::microseconds(50));
  }
}

}  // namespace

InterningThread::InterningThread(EdgeList& edges)
    : caller_edges_(edges), shared_(std::make_unique<Shared>()), ring_(new Batch[kRing]) {
  shared_->edges = std::move(edges);
}

InterningThread::~InterningThread() {
  if (thread_) {
    if (getpid() != process_) {
      // A forked child: its copy of the thread's handle names a thread that
      // it does not have, which cannot be joined. The handle is left behind.
      static_cast<void>(thread_.release());
    } else {
      shared_->closed.store(true, std::memory_order_release);
      thread_->join();
    }
  }
  caller_edges_ = std::move(shared_->edges);
}

bool InterningThread::start() {
  process_ = getpid();
  try {
    thread_ = std::make_unique<std::thread>([this] { intern_all(); });
  } catch (const std::system_error&) {
    return false;
  }
  return true;
}

void InterningThread::after_foreign_code() {
  if (thread_ && !in_place_ && getpid() != process_) in_place_ = true;
}

void InterningThread::drain() {
  // In a child, everything handed over was added before the fork.
  if (in_place_) return;
  if (fill_ != 0) publish();
  for (unsigned spins = 0; shared_->consumed.load(std::memory_order_acquire) < produced_; ++spins) {
    if (shared_->failed.load(std::memory_order_acquire)) break;
    pause(spins);
  }
  if (shared_->failed.load(std::memory_order_acquire)) std::rethrow_exception(shared_->failure);
}

void InterningThread::wait_for_room() {
  for (unsigned spins = 0; produced_ - shared_->consumed.load(std::memory_order_acquire) >= kRing; ++spins) {
    if (shared_->failed.load(std::memory_order_acquire)) std::rethrow_exception(shared_->failure);
    pause(spins);
  }
}

void InterningThread::publish() {
  ring_[produced_ % kRing].pairs = fill_;
  fill_ = 0;
  shared_->produced.store(++produced_, std::memory_order_release);
}

void InterningThread::intern_all() {
  prepare_thread();
  // Adding names polls only while the name table grows; this thread, which
  // may not touch the interpreter, has nothing to check there: the calling
  // thread answers Ctrl-C and stops it.
  const ThreadCheck check([](void*) {}, nullptr);
  Shared& shared = *shared_;
  EdgeList& edges = shared.edges;
  const NameTable& names = edges.names();
  for (std::size_t b = 0;; ++b) {
    for (unsigned spins = 0; shared.produced.load(std::memory_order_acquire) <= b; ++spins) {
      if (shared.closed.load(std::memory_order_acquire) && shared.produced.load(std::memory_order_acquire) <= b) {
        return;
      }
      pause(spins);
    }
    const Batch& batch = ring_[b % kRing];
    try {
      const std::size_t keys = 2 * batch.pairs;
      const bool hints = names.size() >= kNamesWorthHints;
      for (std::size_t k = 0; k < keys; k += 2) {
        if (hints) {
          // The hints of NameTable, by the hashes at hand: four pairs ahead
          // the slot, two ahead the bytes.
          if (k + 9 < keys) {
            names.prefetch_slot(batch.keys[k + 8].hash);
            names.prefetch_slot(batch.keys[k + 9].hash);
          }
          if (k + 5 < keys) {
            names.prefetch_bytes(batch.keys[k + 4].hash);
            names.prefetch_bytes(batch.keys[k + 5].hash);
          }
        }
        edges.add(batch.keys[k], batch.keys[k + 1]);
      }
    } catch (...) {
      shared.failure = std::current_exception();
      shared.failed.store(true, std::memory_order_release);
      return;
    }
    shared.consumed.store(b + 1, std::memory_order_release);
  }
}

void DrainFirst::poll(void* self) {
  const auto* d = static_cast<DrainFirst*>(self);
  if (d->interner != nullptr) d->interner->drain();
  d->check->previous();
  if (d->interner != nullptr) d->interner->after_foreign_code();
}

}  // namespace lhg
