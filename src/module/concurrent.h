// Concurrent mode: LANTERNHOLLOW_GRAPH_THREADS, read at each call.
//
// Unset or empty, a call holds the interpreter lock from start to end and
// starts no thread. Set to a positive integer N, the core of each call runs
// with the lock released, on up to N threads; 0 means one per CPU that the
// process may run on. Arguments are converted and results built with the
// lock held, as always; the core between them touches no Python object.
// Results have the same bits in both modes and at every thread count.
#pragma once

#include <Python.h>

#include <chrono>

#include "graph/interrupt.h"
#include "graph/parallel.h"

namespace lhg::py {

inline constexpr const char kThreadsVariable[] = "LANTERNHOLLOW_GRAPH_THREADS";

struct CallMode {
  bool concurrent = false;
  Threads threads;
};

// The mode of a call about to run its core. A value that is not a thread
// count gets a RuntimeWarning, once per process, and the default mode.
CallMode call_mode();
// The same without the warning, for a conversion that runs before the core
// and must leave the warning to the call's own reading of the mode.
CallMode call_mode_quietly();

// The thread count that a method's `threads` argument asks for: None (or
// absent) as the variable says, 0 every CPU the process may use, N at most
// N; never more than the CPUs the process may use. Throws PythonError with TypeError for a value that is not an integer,
// ValueError for a negative one.
Threads threads_argument(PyObject* obj);

// The interpreter lock released for the life of the object, the calling
// thread polling for Ctrl-C by taking it back briefly: signal handlers run
// only on the main thread and with the lock held. A poll takes the lock at
// most every few milliseconds, so that other Python threads keep it
// between polls.
class LockReleased {
 public:
  LockReleased();
  ~LockReleased();
  LockReleased(const LockReleased&) = delete;
  LockReleased& operator=(const LockReleased&) = delete;

 private:
  static void poll(void* self);

  PyThreadState* state_;
  bool handles_signals_;
  std::chrono::steady_clock::time_point next_poll_;
  ThreadCheck check_;
};

// Runs core(threads) in the call's mode.
template <class F>
auto run_core(F&& core) -> decltype(core(Threads{})) {
  const CallMode mode = call_mode();
  if (!mode.concurrent) return core(Threads{});
  const LockReleased released;
  return core(mode.threads);
}

}  // namespace lhg::py
