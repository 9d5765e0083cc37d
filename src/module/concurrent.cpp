#include "module/concurrent.h"

#include <sched.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdlib>

#include "module/errors.h"
#include "module/pyref.h"

namespace lhg::py {
namespace {

// More threads than this are not started, whatever the variable asks for.
constexpr unsigned kMaxThreads = 256;
constexpr auto kPollInterval = std::chrono::milliseconds(2);

std::atomic<bool> g_warned{false};
// The ident of the interpreter's main thread, 0 until it is known.
std::atomic<unsigned long> g_main_thread{0};

unsigned read_usable_cpus() {
  cpu_set_t set;
  CPU_ZERO(&set);
  if (sched_getaffinity(0, sizeof set, &set) != 0) return 1;
  const int count = CPU_COUNT(&set);
  return count > 0 ? static_cast<unsigned>(count) : 1;
}

// The count, read again at most every 100 ms: a query of a microsecond
// must not pay a system call for it, and the set a process may run on
// seldom changes.
unsigned usable_cpus() {
  static std::atomic<unsigned> cached{0};
  static std::atomic<std::int64_t> read_at{0};
  const std::int64_t now = std::chrono::duration_cast<std::chrono::milliseconds>(
                               std::chrono::steady_clock::now().time_since_epoch())
                               .count();
  unsigned count = cached.load(std::memory_order_relaxed);
  if (count == 0 || now - read_at.load(std::memory_order_relaxed) >= 100) {
    count = read_usable_cpus();
    cached.store(count, std::memory_order_relaxed);
    read_at.store(now, std::memory_order_relaxed);
  }
  return count;
}

void warn_once(const char* value) {
  if (g_warned.exchange(true)) return;
  Ref text = Ref::steal(PyUnicode_DecodeFSDefault(value));
  if (!text) {
    PyErr_Clear();
    text = Ref::steal(PyUnicode_FromString("?"));
    if (!text) throw PythonError{};
  }
  if (PyErr_WarnFormat(PyExc_RuntimeWarning, 1,
                       "%s=%R is not a thread count (a positive integer, or 0 for every CPU the process may use); "
                       "lanternhollow_graph keeps to its default mode",
                       kThreadsVariable, text.get()) < 0) {
    // A warning that the filters turn into an error must not fail the call,
    // nor vanish: it is reported as an unraisable exception (on standard
    // error, or to sys.unraisablehook). Anything else raised meanwhile
    // (Ctrl-C) goes on.
    if (!PyErr_ExceptionMatches(PyExc_Warning)) throw PythonError{};
    PyErr_WriteUnraisable(nullptr);
  }
}

// The main thread's ident, from the threading module, looked up once; if
// it cannot be had, every thread is taken to handle signals.
unsigned long main_thread() {
  unsigned long ident = g_main_thread.load(std::memory_order_relaxed);
  if (ident != 0) return ident;
  Ref threading = Ref::steal(PyImport_ImportModule("threading"));
  Ref main = threading ? Ref::steal(PyObject_CallMethod(threading.get(), "main_thread", nullptr)) : Ref();
  Ref number = main ? Ref::steal(PyObject_GetAttrString(main.get(), "ident")) : Ref();
  if (number && PyLong_Check(number.get())) ident = PyLong_AsUnsignedLong(number.get());
  if (ident == static_cast<unsigned long>(-1) || ident == 0) {
    PyErr_Clear();
    return PyThread_get_thread_ident();
  }
  g_main_thread.store(ident, std::memory_order_relaxed);
  return ident;
}

}  // namespace

namespace {

// The mode that the variable's value asks for; `valid` false for a value
// that is not a thread count.
CallMode parse_mode(const char* value, bool& valid) {
  valid = true;
  if (value == nullptr || *value == '\0') return {};
  // Decimal digits only; a count of any length saturates.
  unsigned long long count = 0;
  for (const char* c = value; valid && *c != '\0'; ++c) {
    valid = *c >= '0' && *c <= '9';
    if (valid) count = std::min<unsigned long long>(count * 10 + static_cast<unsigned>(*c - '0'), 1ULL << 32);
  }
  if (!valid) return {};
  const unsigned threads = count == 0 ? usable_cpus() : static_cast<unsigned>(std::min<unsigned long long>(count, kMaxThreads));
  return {true, Threads{threads}};
}

}  // namespace

CallMode call_mode() {
  const char* value = std::getenv(kThreadsVariable);
  bool valid = true;
  const CallMode mode = parse_mode(value, valid);
  if (!valid) warn_once(value);
  return mode;
}

// More threads than the process has CPUs would only take turns on them,
// and each brings working memory of its own (for some cores, arrays over
// the graph): a method uses at most one per CPU, whatever it is asked.
Threads threads_argument(PyObject* obj) {
  if (obj == nullptr || obj == Py_None) {
    const CallMode mode = call_mode();
    return Threads{mode.concurrent ? std::min(mode.threads.count, usable_cpus()) : 1u};
  }
  const unsigned cpus = usable_cpus();
  Ref index = Ref::steal(PyNumber_Index(obj));
  if (!index) {
    if (PyErr_ExceptionMatches(PyExc_TypeError)) {
      PyErr_Clear();
      Ref name = type_qualname(obj);
      PyErr_Format(PyExc_TypeError, "threads must be None or an int, not %S", name.get());
    }
    throw PythonError{};
  }
  int overflow = 0;
  const long long count = PyLong_AsLongLongAndOverflow(index.get(), &overflow);
  if (count == -1 && PyErr_Occurred()) throw PythonError{};
  if (overflow < 0 || (overflow == 0 && count < 0)) {
    PyErr_Format(PyExc_ValueError, "threads must be None, 0 (every CPU) or a positive count, not %S", index.get());
    throw PythonError{};
  }
  if (overflow > 0 || count == 0 || static_cast<unsigned long long>(count) >= cpus) return Threads{cpus};
  return Threads{static_cast<unsigned>(count)};
}

CallMode call_mode_quietly() {
  bool valid = true;
  return parse_mode(std::getenv(kThreadsVariable), valid);
}

LockReleased::LockReleased()
    : state_(nullptr),
      handles_signals_(PyThread_get_thread_ident() == main_thread()),
      next_poll_(std::chrono::steady_clock::now() + kPollInterval),
      check_(&LockReleased::poll, this) {
  state_ = PyEval_SaveThread();
}

LockReleased::~LockReleased() { PyEval_RestoreThread(state_); }

void LockReleased::poll(void* self) {
  auto& released = *static_cast<LockReleased*>(self);
  if (!released.handles_signals_) return;
  const auto now = std::chrono::steady_clock::now();
  if (now < released.next_poll_) return;
  PyEval_RestoreThread(released.state_);
  bool failed = false;
  try {
    // The handlers may call into the module again, and that call's own
    // checks, until it releases the lock itself, run on this thread while
    // the lock is held: they must be the ordinary check, not this one,
    // which would take the lock it already has.
    const ThreadCheck lock_held(nullptr, nullptr);
    check_signals();
  } catch (const PythonError&) {
    failed = true;
  }
  released.state_ = PyEval_SaveThread();
  released.next_poll_ = std::chrono::steady_clock::now() + kPollInterval;
  if (failed) throw PythonError{};
}

}  // namespace lhg::py
