#include "module/binding.h"

#include <cstring>
#include <string>

#include "module/errors.h"

namespace lhg::py {
namespace {

[[noreturn]] void too_many(const Signature& sig, Py_ssize_t nargs) {
  const char* was = nargs == 1 ? "was" : "were";
  const std::size_t positional = sig.count - sig.keyword_only;
  if (sig.required == positional) {
    PyErr_Format(PyExc_TypeError, "%s() takes %zu positional arguments but %zd %s given", sig.name, positional, nargs,
                 was);
  } else {
    PyErr_Format(PyExc_TypeError, "%s() takes from %zu to %zu positional arguments but %zd %s given", sig.name,
                 sig.required, positional, nargs, was);
  }
  throw PythonError{};
}

// 'a'; 'a' and 'b'; 'a', 'b', and 'c'.
[[noreturn]] void missing(const Signature& sig, PyObject* const* slots) {
  std::string list;
  std::size_t m = 0;
  for (std::size_t i = 0; i < sig.required; ++i) m += slots[i] == nullptr;
  std::size_t listed = 0;
  for (std::size_t i = 0; i < sig.required; ++i) {
    if (slots[i] != nullptr) continue;
    if (listed > 0) list += m == 2 ? " and " : (listed + 1 == m ? ", and " : ", ");
    list += '\'';
    list += sig.params[i];
    list += '\'';
    ++listed;
  }
  PyErr_Format(PyExc_TypeError, "%s() missing %zu required positional %s: %s", sig.name, m,
               m == 1 ? "argument" : "arguments", list.c_str());
  throw PythonError{};
}

}  // namespace

void bind(const Signature& sig, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames, PyObject** slots) {
  const auto n = static_cast<std::size_t>(nargs);
  if (n > sig.count - sig.keyword_only) too_many(sig, nargs);
  for (std::size_t i = 0; i < n; ++i) slots[i] = args[i];

  const Py_ssize_t nkw = kwnames == nullptr ? 0 : PyTuple_GET_SIZE(kwnames);
  for (Py_ssize_t k = 0; k < nkw; ++k) {
    PyObject* key = PyTuple_GET_ITEM(kwnames, k);
    Py_ssize_t size = 0;
    const char* text = PyUnicode_Check(key) ? PyUnicode_AsUTF8AndSize(key, &size) : nullptr;
    if (text == nullptr) PyErr_Clear();
    std::size_t slot = sig.count;
    for (std::size_t i = 0; text != nullptr && i < sig.count; ++i) {
      if (std::strlen(sig.params[i]) == static_cast<std::size_t>(size) && std::memcmp(sig.params[i], text, size) == 0) {
        slot = i;
        break;
      }
    }
    if (slot == sig.count) {
      PyErr_Format(PyExc_TypeError, "%s() got an unexpected keyword argument '%S'", sig.name, key);
      throw PythonError{};
    }
    if (slots[slot] != nullptr) {
      PyErr_Format(PyExc_TypeError, "%s() got multiple values for argument '%s'", sig.name, sig.params[slot]);
      throw PythonError{};
    }
    slots[slot] = args[nargs + k];
  }

  if (n < sig.required) {
    for (std::size_t i = n; i < sig.required; ++i) {
      if (slots[i] == nullptr) missing(sig, slots);
    }
  }
}

void claim_interpreter(std::atomic<std::int64_t>& owner, const char* module) {
  const std::int64_t id = PyInterpreterState_GetID(PyInterpreterState_Get());
  if (id == -1) throw_pending();
  std::int64_t first = -1;
  if (!owner.compare_exchange_strong(first, id) && first != id) {
    PyErr_Format(PyExc_ImportError,
                 "%s does not support sub-interpreters: it can only be used in the interpreter that first imported it",
                 module);
    throw PythonError{};
  }
}

}  // namespace lhg::py
