// The module's init entry and its function table.
//
// Single-phase initialisation: the module is created once per process, in the
// first interpreter that imports it, and cached; a re-import in that
// interpreter returns the same object, an import from any other interpreter
// fails.
#include <Python.h>

#include <atomic>
#include <cstdint>

#include "graph/interrupt.h"
#include "module/binding.h"
#include "module/docstrings.h"
#include "module/errors.h"
#include "module/functions.h"

namespace lhg::py {
namespace {

// Registration order, which is also the order of __all__.
PyMethodDef g_functions[] = {
    method<pagerank>("pagerank", doc::kPagerank),
    method<strongly_connected>("strongly_connected", doc::kStronglyConnected),
    method<ancestors_at_depth>("ancestors_at_depth", doc::kAncestorsAtDepth),
    method<descendants_at_depth>("descendants_at_depth", doc::kDescendantsAtDepth),
    method<betweenness>("betweenness", doc::kBetweenness),
    method<sampled_betweenness>("sampled_betweenness", doc::kSampledBetweenness),
    method<batch_ancestors>("batch_ancestors", doc::kBatchAncestors),
    method<batch_descendants>("batch_descendants", doc::kBatchDescendants),
    method<subgraph>("subgraph", doc::kSubgraph),
};

PyModuleDef g_definition = {
    PyModuleDef_HEAD_INIT,
    "lanternhollow_graph",
    doc::kModule,
    0,        // no per-module state
    nullptr,  // functions are added after creation, so that __all__ follows them
    nullptr,
    nullptr,
    nullptr,
    nullptr,
};

// Process-wide cells, each filled once.
std::atomic<std::int64_t> g_interpreter{-1};
PyObject* g_module = nullptr;
PyObject* g_str_name = nullptr;
PyObject* g_str_all = nullptr;

PyObject* interned(PyObject*& cell, const char* text) {
  if (cell == nullptr) {
    PyObject* str = PyUnicode_InternFromString(text);
    if (str == nullptr) throw_pending();
    if (cell == nullptr) {
      cell = str;
    } else {
      Py_DECREF(str);
    }
  }
  return cell;
}

void register_function(PyObject* module, PyMethodDef* def) {
  Ref module_name = check(PyModule_GetNameObject(module));
  Ref function = check(PyCMethod_New(def, module, module_name.get(), nullptr));
  Ref name = check(PyObject_GetAttr(function.get(), interned(g_str_name, "__name__")));
  if (!PyUnicode_Check(name.get())) cannot_convert(name.get(), "PyString");

  PyObject* all_name = interned(g_str_all, "__all__");
  Ref all = Ref::steal(PyObject_GetAttr(module, all_name));
  if (!all) {
    if (!PyErr_ExceptionMatches(PyExc_AttributeError)) throw PythonError{};
    PyErr_Clear();
    all = check(PyList_New(0));
    if (PyObject_SetAttr(module, all_name, all.get()) < 0) throw PythonError{};
  }
  if (!PyList_Check(all.get())) cannot_convert(all.get(), "PyList");
  if (PyList_Append(all.get(), name.get()) < 0) {
    PyErr_Clear();
    throw InternalFailure("could not append __name__ to __all__");
  }
  if (PyObject_SetAttr(module, name.get(), function.get()) < 0) throw PythonError{};
}

PyObject* init_module() {
  claim_interpreter(g_interpreter, "lanternhollow_graph");
  if (g_module != nullptr) return Py_NewRef(g_module);

  set_interrupt_check(&check_signals);
  Ref module = check(PyModule_Create2(&g_definition, 1013));
  for (PyMethodDef& def : g_functions) register_function(module.get(), &def);
  if (g_module == nullptr) g_module = module.release();
  return Py_NewRef(g_module);
}

}  // namespace
}  // namespace lhg::py

PyMODINIT_FUNC PyInit_lanternhollow_graph(void) {
  return lhg::py::guarded([] { return lhg::py::init_module(); });
}
