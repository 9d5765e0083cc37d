// Binding of fast-call arguments to a function's parameters.
#pragma once

#include <Python.h>

#include <array>
#include <atomic>
#include <cstdint>
#include <cstddef>

namespace lhg::py {

// Every parameter may be passed by keyword, and all but the last
// `keyword_only` by position too; the first `required` have no default.
struct Signature {
  const char* name;
  const char* const* params;
  std::size_t count;
  std::size_t required;
  std::size_t keyword_only = 0;
};

// Fills slots[0, sig.count) with borrowed references, NULL for an absent
// optional parameter. Throws PythonError with the TypeError of the first
// binding failure: too many positional arguments (tested before any keyword),
// an unknown keyword, a parameter given twice, missing required parameters.
void bind(const Signature& sig, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames, PyObject** slots);

// A module made once per process is usable only in the interpreter that
// first imported it: `owner` keeps that interpreter's id. Throws
// PythonError with ImportError in any other.
void claim_interpreter(std::atomic<std::int64_t>& owner, const char* module);

// A method table entry for a function taking fast-call arguments and
// keywords.
template <PyObject* (*F)(PyObject*, PyObject* const*, Py_ssize_t, PyObject*)>
PyMethodDef method(const char* name, const char* doc) {
  return {name, reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(F)), METH_FASTCALL | METH_KEYWORDS, doc};
}

template <std::size_t N>
struct BoundArgs {
  std::array<PyObject*, N> slots{};
  PyObject* operator[](std::size_t i) const { return slots[i]; }
};

template <std::size_t N>
BoundArgs<N> bind(const Signature& sig, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  BoundArgs<N> bound;
  bind(sig, args, nargs, kwnames, bound.slots.data());
  return bound;
}

}  // namespace lhg::py
