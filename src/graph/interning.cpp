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

InterningThread::InterningThread(EdgeList& edges) : edges_(edges), ring_(new Batch[kRing]) {}

InterningThread::~InterningThread() {
  if (!thread_) return;
  if (getpid() != process_) {
    // A forked child: its copy of the thread's handle names a thread that
    // it does not have, which cannot be joined. The handle is left behind.
    static_cast<void>(thread_.release());
    return;
  }
  closed_.store(true, std::memory_order_release);
  thread_->join();
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
  const std::size_t produced = produced_.load(std::memory_order_relaxed);
  for (unsigned spins = 0; consumed_.load(std::memory_order_acquire) < produced; ++spins) {
    if (failed_.load(std::memory_order_acquire)) break;
    pause(spins);
  }
  if (failed_.load(std::memory_order_acquire)) std::rethrow_exception(failure_);
}

void InterningThread::wait_for_room() {
  const std::size_t produced = produced_.load(std::memory_order_relaxed);
  for (unsigned spins = 0; produced - consumed_.load(std::memory_order_acquire) >= kRing; ++spins) {
    if (failed_.load(std::memory_order_acquire)) std::rethrow_exception(failure_);
    pause(spins);
  }
}

void InterningThread::publish() {
  ring_[produced_.load(std::memory_order_relaxed) % kRing].pairs = fill_;
  fill_ = 0;
  produced_.fetch_add(1, std::memory_order_release);
}

void InterningThread::intern_all() {
  prepare_thread();
  // Adding names never polls; if it ever did, this thread, which may not
  // touch the interpreter, would have nothing to check.
  const ThreadCheck check([](void*) {}, nullptr);
  const NameTable& names = edges_.names();
  for (std::size_t b = 0;; ++b) {
    for (unsigned spins = 0; produced_.load(std::memory_order_acquire) <= b; ++spins) {
      if (closed_.load(std::memory_order_acquire) && produced_.load(std::memory_order_acquire) <= b) return;
      pause(spins);
    }
    const Batch& batch = ring_[b % kRing];
    try {
      const std::size_t keys = 2 * batch.pairs;
      const bool hints = names.size() >= kNamesWorthHints;
      for (std::size_t k = 0; k < keys; k += 2) {
        if (hints) {
          // The hints of NameTable, by the hashes at hand: two pairs ahead
          // the slot, one ahead the record, and the next pair's bytes.
          if (k + 9 < keys) {
            names.prefetch_slot(batch.keys[k + 8].hash);
            names.prefetch_slot(batch.keys[k + 9].hash);
          }
          if (k + 5 < keys) {
            names.prefetch_record(batch.keys[k + 4].hash);
            names.prefetch_record(batch.keys[k + 5].hash);
          }
          if (k + 3 < keys) {
            names.prefetch_bytes(batch.keys[k + 2].hash);
            names.prefetch_bytes(batch.keys[k + 3].hash);
          }
        }
        edges_.add(batch.keys[k], batch.keys[k + 1]);
      }
    } catch (...) {
      failure_ = std::current_exception();
      failed_.store(true, std::memory_order_release);
      return;
    }
    consumed_.store(b + 1, std::memory_order_release);
  }
}

}  // namespace lhg
