// Methods of the Graph type defined outside graph_type.cpp, one file per
// family of questions; graph_type.cpp lists them in the type's table.
#pragma once

#include <Python.h>

namespace lhg::py {

using FastMethod = PyObject* (*)(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames);

// closure_methods.cpp
PyObject* graph_closure_sizes(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames);

// chain_methods.cpp
PyObject* graph_why(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames);
PyObject* graph_why_all(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames);
PyObject* graph_cycle(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames);
PyObject* graph_build_order(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames);
PyObject* graph_weakly_connected(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames);

// dominator_methods.cpp
PyObject* graph_dominators(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames);
PyObject* graph_falls_away(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames);
PyObject* graph_sole_providers(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames);

// read_methods.cpp: a class method, `cls` the class it is called on.
PyObject* graph_read(PyObject* cls, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames);

// snapshot_methods.cpp
PyObject* graph_save(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames);
PyObject* graph_load(PyObject* cls, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames);
PyObject* graph_from_snapshot(PyObject* cls, PyObject* data);
PyObject* graph_reduce(PyObject* self, PyObject*);
PyObject* graph_reduce_ex(PyObject* self, PyObject*);
// arrow_methods.cpp: a class method, called with the type.
PyObject* graph_from_arrow(PyObject* type, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames);

// edge_methods.cpp
PyObject* graph_edges(PyObject* self, PyObject*);
PyObject* graph_distinct_edge_count(PyObject* self, PyObject*);
PyObject* graph_without(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames);

}  // namespace lhg::py
