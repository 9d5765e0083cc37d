// Running a core's loops on several threads without changing a bit.
//
// The cores split their work by the value being computed, never by the
// additions into one value: a PageRank block owns its nodes' sums, and a
// betweenness source owns its dependencies until they are added to the
// scores in source order. So the threads decide only who computes what and
// when, and every floating-point operation keeps its operands and its order.
//
// `run_workers` is all the threading there is: it starts the workers, runs
// one on the calling thread, joins them all before it returns (no thread
// outlives a call), and carries the first exception back to the caller.
// Workers take their pieces of work from a shared counter, so the result
// cannot depend on how many there are or on which one ran what.
#pragma once

#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstddef>
#include <exception>
#include <mutex>
#include <new>
#include <system_error>
#include <thread>
#include <type_traits>
#include <vector>

#include "graph/failure.h"
#include "graph/interrupt.h"

namespace lhg {

// How many threads a core may use; 1 starts none.
struct Threads {
  unsigned count = 1;
};

// Knobs that only tests turn, so that small graphs reach the parallel paths:
// the least work (in poller units) for which a call starts threads, the size
// of PageRank's blocks of receiving nodes (as a power of two), the number
// of chunks of betweenness sources whose dependencies may wait at once for
// their turn to be added (0: three per thread) and the entries a chunk may
// hold before it is added so far (0: sized by the memory budget); a
// worker thread that fails as if out of memory as soon as it starts (0:
// none), to test how a failure in a worker reaches the caller; the
// targets in a block of closure_sizes (0: sized by the memory budget); and
// the node count from which PageRank on one thread sweeps the sources in
// order rather than blocks of receiving nodes.
struct ParallelTuning {
  std::size_t min_work = std::size_t{1} << 17;
  unsigned pagerank_block_shift = 13;
  std::size_t betweenness_window = 0;
  std::size_t betweenness_slot = 0;
  unsigned failing_worker = 0;
  std::size_t closure_block = 0;
  std::size_t pagerank_in_order_nodes = std::size_t{3} << 19;
};
ParallelTuning parallel_tuning() noexcept;
void set_parallel_tuning(const ParallelTuning& tuning) noexcept;

// The number of workers worth starting for `work` units: one per
// min_work's worth, at most threads.count and at most what the process can
// afford, at least 1.
unsigned workers_for(Threads threads, std::size_t work) noexcept;

// How many of `count` workers the process can afford to start (workers_for
// asks, so that a core sizes its per-worker state once): all of them,
// unless the address space is limited (RLIMIT_AS) and what is left of it
// would not hold each new thread's stack, its allocator arena and some
// working memory. A thread's first use of thread-local storage, which the
// C library allocates on demand and cannot survive failing, must find
// memory: a process near its limit runs on the calling thread alone.
unsigned affordable_workers(unsigned count) noexcept;

// Thrown in a worker to end it because another worker failed.
struct WorkerStopped {};

class WorkerGroup {
 public:
  void fail(std::exception_ptr error) {
    {
      const std::lock_guard<std::mutex> lock(mutex_);
      if (!first_) first_ = std::move(error);
    }
    stop_.store(true, std::memory_order_release);
  }
  bool stopping() const noexcept { return stop_.load(std::memory_order_acquire); }
  void rethrow() const {
    if (first_) std::rethrow_exception(first_);
  }

  // The check of a worker thread: the stop flag only, for a worker must
  // never touch the interpreter.
  static void poll_worker(void* group) {
    if (static_cast<WorkerGroup*>(group)->stopping()) throw WorkerStopped{};
  }

 private:
  std::atomic<bool> stop_{false};
  std::mutex mutex_;
  std::exception_ptr first_;
};

// The workers of one run_workers meeting between the steps of a core: each
// waits in `arrive_and_wait` until all have arrived. Every worker tells it
// first how many workers run (they all know the same number, from
// run_workers). The waits are short (the end of a step), so a waiter spins,
// then yields; it polls as it waits, so that Ctrl-C, or a failure
// elsewhere, ends it.
class Barrier {
 public:
  void expect(unsigned count) noexcept { count_.store(count, std::memory_order_relaxed); }

  void arrive_and_wait() {
    const unsigned count = count_.load(std::memory_order_relaxed);
    if (count <= 1) return;
    const unsigned generation = generation_.load(std::memory_order_acquire);
    if (arrived_.fetch_add(1, std::memory_order_acq_rel) + 1 == count) {
      arrived_.store(0, std::memory_order_relaxed);
      generation_.store(generation + 1, std::memory_order_release);
      return;
    }
    for (unsigned spins = 0; generation_.load(std::memory_order_acquire) == generation; ++spins) {
      if (spins < kSpins) continue;
      check_interrupt();
      std::this_thread::yield();
    }
  }

 private:
  static constexpr unsigned kSpins = 1u << 12;
  std::atomic<unsigned> count_{1};
  std::atomic<unsigned> arrived_{0};
  std::atomic<unsigned> generation_{0};
};

// How many times the caller yields, once its own share is done, before it
// waits for the other workers answering Ctrl-C between short sleeps.
inline constexpr unsigned kJoinSpins = 256;

// Why a call on several threads fails in a child forked during it.
inline constexpr const char* kForkedDuringCall =
    "the process forked during a call on several threads: the child has none of the other threads, and the call "
    "cannot finish there";

// Runs body(w) for w = 0 .. count - 1 at once (or body(w, workers), told
// how many run): w = 0 on the calling thread, the others on threads started
// here. Returns once every one has returned. The first exception any of
// them throws stops the others at their next poll and is rethrown here. The
// calling thread polls the stop flag before its own check (Ctrl-C). A
// thread that cannot be started is done without: bodies take their work
// from shared counters, so fewer workers only take longer, and no body
// starts before the number that run is known.
template <class F>
void run_workers(unsigned count, F&& body) {
  auto call = [&](unsigned w, unsigned workers) {
    if constexpr (std::is_invocable_v<F&, unsigned, unsigned>) {
      body(w, workers);
    } else {
      body(w);
    }
  };
  if (count <= 1) {
    call(0u, 1u);
    return;
  }
  WorkerGroup group;
  std::atomic<unsigned> started{0};  // 0 until every thread that could start has
  std::atomic<std::size_t> finished{0};  // threads whose body has returned
  auto run = [&](unsigned w) {
    try {
      call(w, started.load(std::memory_order_acquire));
    } catch (const WorkerStopped&) {
    } catch (...) {
      group.fail(std::current_exception());
    }
  };
  std::vector<std::thread> threads;
  threads.reserve(count - 1);
  for (unsigned w = 1; w < count; ++w) {
    try {
      threads.emplace_back([&run, &group, &started, &finished, w] {
        struct Finish {
          std::atomic<std::size_t>& finished;
          ~Finish() { finished.fetch_add(1, std::memory_order_release); }
        } finish{finished};
        prepare_thread();
        const ThreadCheck check(&WorkerGroup::poll_worker, &group);
        started.wait(0, std::memory_order_acquire);
        if (w == parallel_tuning().failing_worker) {
          group.fail(std::make_exception_ptr(std::bad_alloc()));
          return;
        }
        run(w);
      });
    } catch (const std::system_error&) {
      break;
    }
  }
  started.store(static_cast<unsigned>(threads.size()) + 1, std::memory_order_release);
  started.notify_all();
  const pid_t process = getpid();
  {
    struct CallerPoll {
      WorkerGroup* group;
      const ThreadCheck* check;
      pid_t process;
      static void poll(void* self) {
        const auto* p = static_cast<CallerPoll*>(self);
        WorkerGroup::poll_worker(p->group);
        p->check->previous();
        // The caller's check may run the caller's code (a signal handler),
        // and that may fork: the child has this thread alone, and the work
        // that the others had taken is lost to it.
        if (getpid() != p->process) {
          throw InternalFailure(kForkedDuringCall);
        }
      }
    };
    CallerPoll caller{&group, nullptr, process};
    const ThreadCheck check(&CallerPoll::poll, &caller);
    caller.check = &check;
    run(0);
  }
  // The others may still be on their last pieces of work, for as long as a
  // piece takes: the caller waits for them answering its own check (Ctrl-C),
  // and a stop there stops them at their next poll.
  try {
    for (unsigned spins = 0; getpid() == process && finished.load(std::memory_order_acquire) < threads.size();
         ++spins) {
      if (spins < kJoinSpins) {
        std::this_thread::yield();
        continue;
      }
      check_interrupt();
      std::this_thread::sleep_for(std::chrono::microseconds(50));
    }
  } catch (...) {
    group.fail(std::current_exception());
  }
  if (getpid() != process) {
    // A forked child: the other threads are not in it, and waiting for them
    // would never end.
    for (std::thread& t : threads) t.detach();
    group.fail(std::make_exception_ptr(InternalFailure(kForkedDuringCall)));
  } else {
    for (std::thread& t : threads) t.join();
  }
  group.rethrow();
}

}  // namespace lhg
