// Stopping a long analysis at the caller's request.
//
// The cores know nothing of signals or of the interpreter. Whoever calls them
// installs one check (`set_interrupt_check`); long loops count their work on
// a `Poller`, which runs the check every few milliseconds' worth of it. A
// check that wants the call to stop throws, and the exception unwinds through
// the core, whose state is all owned by RAII containers. Results of calls
// that are not stopped are untouched: polling reads no data of the analysis.
#pragma once

#include <cstdint>

namespace lhg {

using InterruptCheck = void (*)();

// Installs the check that pollers run; nullptr removes it.
void set_interrupt_check(InterruptCheck check) noexcept;
// Runs the installed check, if any.
void check_interrupt();

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
