#include "graph/interrupt.h"

#include <atomic>

namespace lhg {
namespace {

std::atomic<InterruptCheck> g_check{nullptr};

}  // namespace

void set_interrupt_check(InterruptCheck check) noexcept { g_check.store(check, std::memory_order_relaxed); }

void check_interrupt() {
  if (const InterruptCheck check = g_check.load(std::memory_order_relaxed)) check();
}

}  // namespace lhg
