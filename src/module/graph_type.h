// The Graph type of lanternhollow_graph_store.
#pragma once

#include <Python.h>

namespace lhg::py {

// The type, made on first call for `module` (the store module) and kept for
// the process; a borrowed reference. Throws PythonError on failure.
PyObject* graph_type(PyObject* module);

}  // namespace lhg::py
