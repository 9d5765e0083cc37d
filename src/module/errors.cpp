#include "module/errors.h"

#include <cstdio>
#include <cstring>
#include <string>

namespace lhg::py {
namespace {

// Created on the first internal failure, kept for the life of the process.
PyObject* g_panic_type = nullptr;

constexpr const char kPanicDoc[] =
    "\nThe exception raised when the module's native code, called from Python, panics.\n"
    "\nLike SystemExit, this exception is derived from BaseException so that\n"
    "it will typically propagate all the way through the stack and cause the\n"
    "Python interpreter to exit.\n";

PyObject* panic_type() noexcept {
  if (g_panic_type == nullptr) {
    PyObject* type = PyErr_NewExceptionWithDoc("native_runtime.PanicException", kPanicDoc,
                                               PyExc_BaseException, nullptr);
    if (type == nullptr) return nullptr;
    if (g_panic_type == nullptr) {
      g_panic_type = type;
    } else {
      Py_DECREF(type);
    }
  }
  return g_panic_type;
}

std::string utf8_or(PyObject* str, const char* fallback) {
  if (str != nullptr) {
    Py_ssize_t size = 0;
    if (const char* text = PyUnicode_AsUTF8AndSize(str, &size)) return std::string(text, static_cast<std::size_t>(size));
  }
  PyErr_Clear();
  return fallback;
}

// A PanicException raised by the caller's own code while we called it: the
// panic goes on as ours, with the same message.
[[noreturn]] void resume_panic(Ref exc) {
  std::fputs(
      "lanternhollow_graph: a PanicException was raised by Python code called from native code.\n"
      "Resuming the panic; its traceback follows.\n",
      stderr);
  PyErr_DisplayException(exc.get());
  std::fflush(stderr);
  Ref text = Ref::steal(PyObject_Str(exc.get()));
  throw InternalFailure(utf8_or(text.get(), "Unwrapped panic from Python code"));
}

}  // namespace

void check_signals() {
  if (Py_EnterRecursiveCall(" in a signal handler during a lanternhollow_graph call") != 0) throw PythonError{};
  const int failed = PyErr_CheckSignals();
  Py_LeaveRecursiveCall();
  if (failed < 0) throw PythonError{};
}

void throw_pending() {
  if (!PyErr_Occurred()) PyErr_SetString(PyExc_SystemError, "attempted to fetch exception but none was set");
  throw PythonError{};
}

void creation_failed(std::source_location where) {
  if (PyErr_Occurred()) PyErr_Print();
  throw InternalFailure("Python API call failed", where);
}

void dict_store_failed(std::source_location where) {
  Ref exc = Ref::steal(PyErr_GetRaisedException());
  std::string message = "Failed to set_item on dict";
  if (exc) {
    Ref tb = Ref::steal(PyException_GetTraceback(exc.get()));
    Ref description = Ref::steal(PyUnicode_FromFormat("type: %R, value: %R, traceback: %R",
                                                      reinterpret_cast<PyObject*>(Py_TYPE(exc.get())),
                                                      exc.get(), tb ? tb.get() : Py_None));
    message += ": " + utf8_or(description.get(), "<undescribable error>");
  }
  throw InternalFailure(message, where);
}

void conversion_failed(const char* param) {
  Ref exc = Ref::steal(PyErr_GetRaisedException());
  if (!exc) throw_pending();
  if (g_panic_type != nullptr && PyObject_TypeCheck(exc.get(), reinterpret_cast<PyTypeObject*>(g_panic_type))) {
    resume_panic(std::move(exc));
  }
  if (!Py_IS_TYPE(exc.get(), reinterpret_cast<PyTypeObject*>(PyExc_TypeError))) {
    PyErr_SetRaisedException(exc.release());
    throw PythonError{};
  }
  Ref text = check(PyObject_Str(exc.get()));
  Ref message = check(PyUnicode_FromFormat("argument '%s': %U", param, text.get()));
  Ref wrapped = check(PyObject_CallOneArg(PyExc_TypeError, message.get()));
  if (PyObject* cause = PyException_GetCause(exc.get())) PyException_SetCause(wrapped.get(), cause);
  PyErr_SetRaisedException(wrapped.release());
  throw PythonError{};
}

// The source file as a path from the source tree's root.
const char* source_path(const char* file) {
  const char* tail = std::strstr(file, "src/");
  while (tail != nullptr) {
    const char* next = std::strstr(tail + 1, "src/");
    if (next == nullptr) break;
    tail = next;
  }
  return tail != nullptr ? tail : file;
}

void raise_panic(const InternalFailure& failure) noexcept {
  PyErr_Clear();
  std::fprintf(stderr, "lanternhollow_graph: internal failure at %s:%u: %s\n", source_path(failure.where().file_name()),
               static_cast<unsigned>(failure.where().line()), failure.what());
  std::fflush(stderr);
  PyObject* type = panic_type();
  if (type == nullptr) {
    // A failure while reporting a failure: no PanicException can be made.
    PyErr_Clear();
    std::fputs("lanternhollow_graph: Failed to initialize new exception type.\n", stderr);
    PyErr_SetString(PyExc_SystemError, "uncaught panic at ffi boundary");
    return;
  }
  Ref message = Ref::steal(PyUnicode_DecodeUTF8(failure.what(), static_cast<Py_ssize_t>(std::char_traits<char>::length(failure.what())), "replace"));
  if (!message) {
    PyErr_Clear();
    PyErr_SetString(PyExc_SystemError, "uncaught panic at ffi boundary");
    return;
  }
  PyErr_SetObject(type, message.get());
}

void raise_input_error(const InputError& bad) noexcept {
  PyErr_Clear();
  const char* text = bad.what();
  Ref message = Ref::steal(
      PyUnicode_DecodeUTF8(text, static_cast<Py_ssize_t>(std::char_traits<char>::length(text)), "replace"));
  if (message) PyErr_SetObject(PyExc_ValueError, message.get());
}

void raise_file_failure(const FileFailure& failed) noexcept {
  PyErr_Clear();
  const std::string& path = failed.path();
  Ref name = Ref::steal(PyUnicode_DecodeFSDefaultAndSize(path.data(), static_cast<Py_ssize_t>(path.size())));
  if (!name) return;
  Ref error = Ref::steal(
      PyObject_CallFunction(PyExc_OSError, "isO", failed.error(), std::strerror(failed.error()), name.get()));
  if (error) PyErr_SetObject(reinterpret_cast<PyObject*>(Py_TYPE(error.get())), error.get());
}

Ref type_qualname(PyObject* obj) noexcept {
  Ref name = Ref::steal(PyType_GetQualName(Py_TYPE(obj)));
  if (!name || !PyUnicode_Check(name.get())) {
    PyErr_Clear();
    name = Ref::steal(PyUnicode_FromString("<failed to extract type name>"));
  }
  return name;
}

void cannot_convert(PyObject* obj, const char* target) {
  Ref name = type_qualname(obj);
  if (name) {
    PyErr_Format(PyExc_TypeError, "'%U' object cannot be converted to '%s'", name.get(), target);
  } else {
    PyErr_NoMemory();
  }
  throw PythonError{};
}

}  // namespace lhg::py
