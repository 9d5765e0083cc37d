// _lanternhollow_graph_testing: reference versions of the cores that the
// tests compare the public functions against. Built only with LHG_TESTING,
// so the public module never carries them.
#include <Python.h>

#include <cstdint>

#include "graph/pagerank.h"
#include "module/binding.h"
#include "module/convert.h"
#include "module/errors.h"

namespace lhg::py {
namespace {

constexpr const char* kPagerankLiteralParams[] = {"edges", "alpha", "max_iter"};
constexpr Signature kPagerankLiteral{"pagerank_literal", kPagerankLiteralParams, 3, 3};

PyObject* pagerank_literal(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return guarded([&] {
    const auto arg = bind<3>(kPagerankLiteral, args, nargs, kwnames);
    EdgeList edges = convert("edges", arg[0], to_edge_list);
    const double alpha = convert("alpha", arg[1], to_double);
    const std::uint64_t max_iter = convert("max_iter", arg[2], to_u64);
    return score_map_to_dict(lhg::pagerank_literal(std::move(edges), alpha, max_iter));
  });
}

PyMethodDef g_functions[] = {
    {"pagerank_literal", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(pagerank_literal)),
     METH_FASTCALL | METH_KEYWORDS,
     "pagerank_literal(edges, alpha, max_iter)\n--\n\n"
     "PageRank with every dangling share added node by node, as the reference for pagerank."},
    {nullptr, nullptr, 0, nullptr},
};

PyModuleDef g_definition = {
    PyModuleDef_HEAD_INIT,
    "_lanternhollow_graph_testing",
    "Reference versions of lanternhollow_graph's cores, for its tests.",
    0,
    g_functions,
    nullptr,
    nullptr,
    nullptr,
    nullptr,
};

}  // namespace
}  // namespace lhg::py

PyMODINIT_FUNC PyInit__lanternhollow_graph_testing(void) { return PyModule_Create(&lhg::py::g_definition); }
