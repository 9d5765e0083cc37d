// lanternhollow_graph_store's init entry: a module holding the Graph type.
//
// Single-phase initialisation, as for lanternhollow_graph: the module is made
// once per process, in the first interpreter that imports it, and cached.
#include <Python.h>

#include <atomic>
#include <cstdint>

#include "graph/interrupt.h"
#include "module/binding.h"
#include "module/errors.h"
#include "module/graph_type.h"
#include "module/store_docstrings.h"

namespace lhg::py {
namespace {

PyModuleDef g_definition = {
    PyModuleDef_HEAD_INIT,
    "lanternhollow_graph_store",
    store_doc::kModule,
    0,
    nullptr,
    nullptr,
    nullptr,
    nullptr,
    nullptr,
};

std::atomic<std::int64_t> g_interpreter{-1};
PyObject* g_module = nullptr;

PyObject* init_module() {
  claim_interpreter(g_interpreter, "lanternhollow_graph_store");
  if (g_module != nullptr) return Py_NewRef(g_module);

  set_interrupt_check(&check_signals);
  Ref module = check(PyModule_Create2(&g_definition, 1013));
  PyObject* type = graph_type(module.get());
  if (PyModule_AddObjectRef(module.get(), "Graph", type) < 0) throw PythonError{};
  Ref all = check(Py_BuildValue("[s]", "Graph"));
  if (PyModule_AddObjectRef(module.get(), "__all__", all.get()) < 0) throw PythonError{};
  g_module = module.release();
  return Py_NewRef(g_module);
}

}  // namespace
}  // namespace lhg::py

PyMODINIT_FUNC PyInit_lanternhollow_graph_store(void) {
  return lhg::py::guarded([] { return lhg::py::init_module(); });
}
