#include "graph/interrupt.h"

#include <atomic>
#include <exception>

namespace lhg {
namespace {

std::atomic<InterruptCheck> g_check{nullptr};

thread_local ThreadCheck::Function t_check = nullptr;
thread_local void* t_context = nullptr;

void run_process_check() {
  if (const InterruptCheck check = g_check.load(std::memory_order_relaxed)) check();
}

}  // namespace

void set_interrupt_check(InterruptCheck check) noexcept { g_check.store(check, std::memory_order_relaxed); }

void check_interrupt() {
  if (t_check != nullptr) {
    t_check(t_context);
  } else {
    run_process_check();
  }
}

void prepare_thread() noexcept {
  // Both reads are kept: uncaught_exceptions() is declared pure, so a call
  // whose result went unused could be dropped.
  const ThreadCheck::Function volatile check = t_check;
  const int volatile uncaught = std::uncaught_exceptions();
  static_cast<void>(check);
  static_cast<void>(uncaught);
}

ThreadCheck::ThreadCheck(Function check, void* context) noexcept : saved_check_(t_check), saved_context_(t_context) {
  t_check = check;
  t_context = context;
}

ThreadCheck::~ThreadCheck() {
  t_check = saved_check_;
  t_context = saved_context_;
}

void ThreadCheck::previous() const {
  if (saved_check_ != nullptr) {
    saved_check_(saved_context_);
  } else {
    run_process_check();
  }
}

}  // namespace lhg
