// How failures cross the boundary.
//
// Inside the module a failure is a C++ exception: PythonError when a Python
// exception is already set and the call must end with it, InternalFailure
// (from the cores or the frame) for a panic. `guarded` runs a call, catches
// both, and leaves the interpreter with exactly one exception set.
#pragma once

#include <Python.h>

#include <exception>
#include <new>

#include "graph/failure.h"
#include "graph/interrupt.h"
#include "module/pyref.h"

namespace lhg::py {

// ValueError with the message of `bad`.
void raise_input_error(const InputError& bad) noexcept;
// OSError (the subclass its errno picks) with the errno, its text and the
// file's path.
void raise_file_failure(const FileFailure& failed) noexcept;

// A Python exception is set; unwinding ends the call with it.
struct PythonError {};

// Throws PythonError, first setting SystemError when the interpreter reported
// a failure without setting an exception.
[[noreturn]] void throw_pending();

// Checks a result of the C API: a NULL means failure.
inline Ref check(PyObject* obj) {
  if (obj == nullptr) throw_pending();
  return Ref::steal(obj);
}

// An object that the interpreter failed to create while a result is built:
// the pending error is printed, and the call ends as an internal failure.
[[noreturn]] void creation_failed(std::source_location where = std::source_location::current());
inline Ref created(PyObject* obj, std::source_location where = std::source_location::current()) {
  if (obj == nullptr) creation_failed(where);
  return Ref::steal(obj);
}

// A failed PyDict_SetItem while a result dict is built.
[[noreturn]] void dict_store_failed(std::source_location where = std::source_location::current());

// Turns the exception set by a failed argument conversion into the one the
// call raises: exactly TypeError gains the prefix "argument '<param>': ", a
// PanicException from the caller's code resumes the panic, anything else
// passes unchanged. Throws in every case.
[[noreturn]] void conversion_failed(const char* param);

// Lets a long call answer Ctrl-C: runs the signal handlers (the lock held);
// one that raises (KeyboardInterrupt) ends the call with its exception. A
// handler may call into this module again, nesting a call on the same
// stack: each level counts towards the interpreter's recursion limit, so
// that deep nesting ends in RecursionError rather than in a stack overflow.
void check_signals();

// Sets PanicException(message) after the short report on standard error.
void raise_panic(const InternalFailure& failure) noexcept;

// The qualified name of `obj`'s type for messages, or the stand-in text when
// it cannot be read.
Ref type_qualname(PyObject* obj) noexcept;

// TypeError "'<qualname>' object cannot be converted to '<target>'".
[[noreturn]] void cannot_convert(PyObject* obj, const char* target);

template <class F>
PyObject* guarded(F&& body) noexcept {
  prepare_thread();
  try {
    return body();
  } catch (const PythonError&) {
    if (!PyErr_Occurred()) PyErr_SetString(PyExc_SystemError, "attempted to fetch exception but none was set");
  } catch (const InternalFailure& failure) {
    raise_panic(failure);
  } catch (const InputError& bad) {
    raise_input_error(bad);
  } catch (const FileFailure& failed) {
    raise_file_failure(failed);
  } catch (const std::bad_alloc&) {
    PyErr_NoMemory();
  } catch (const std::exception& e) {
    raise_panic(InternalFailure(e.what()));
  } catch (...) {
    raise_panic(InternalFailure("unknown C++ exception"));
  }
  return nullptr;
}

}  // namespace lhg::py
