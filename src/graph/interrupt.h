// Stopping a long analysis at the caller's request.
//
// The cores know nothing of signals or of the interpreter. Whoever calls them
// installs one check (`set_interrupt_check`); long loops count their work on
// a `Poller`, which runs the check every few milliseconds' worth of it. A
// check that wants the call to stop throws, and the exception unwinds through
// the core, whose state is all owned by RAII containers. Results of calls
// that are not stopped are untouched: polling reads no data of the analysis.
//
// A thread may run a check of its own instead (`ThreadCheck`): a call that
// releases the interpreter lock polls through one that takes the lock back
// briefly, and worker threads, which may never touch the interpreter, poll a
// stop flag.
#pragma once

#include <cstdint>

namespace lhg {

using InterruptCheck = void (*)();

// Installs the process-wide check that pollers run; nullptr removes it. It
// runs on threads that hold the interpreter lock.
void set_interrupt_check(InterruptCheck check) noexcept;
// Runs the calling thread's check, or else the process-wide one, if any.
void check_interrupt();

// Makes the calling thread's thread-local storage of this module, and of the
// C++ runtime's exception handling, exist now. In a dynamically loaded
// module the C library allocates it on first use, and aborts the process if
// it cannot: first use must not be the throw of a bad_alloc once memory has
// run out. Calls and worker threads run this first.
void prepare_thread() noexcept;

// While it lives, the calling thread's pollers run check(context) instead of
// the check that was in force before, which `previous` runs. A null check
// stands for the process-wide one.
class ThreadCheck {
 public:
  using Function = void (*)(void* context);
  ThreadCheck(Function check, void* context) noexcept;
  ~ThreadCheck();
  ThreadCheck(const ThreadCheck&) = delete;
  ThreadCheck& operator=(const ThreadCheck&) = delete;

  // The check that this one replaced.
  void previous() const;

 private:
  Function saved_check_;
  void* saved_context_;
};

class Poller {
 public:
  // A unit is an edge walked, a node visited or an addition. 2^16 of them
  // take well under a millisecond in cache and a few milliseconds when
  // every one misses it; a check costs a few nanoseconds.
  static constexpr std::int64_t kUnitsPerCheck = std::int64_t{1} << 16;

  // Records `units` of work done; runs the check when enough has gathered.
  void tick(std::uint64_t units = 1) {
    budget_ -= static_cast<std::int64_t>(units);
    if (budget_ < 0) {
      budget_ = kUnitsPerCheck;
      check_interrupt();
    }
  }

 private:
  std::int64_t budget_ = kUnitsPerCheck;
};

}  // namespace lhg
