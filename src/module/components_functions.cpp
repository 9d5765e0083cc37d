#include "graph/components.h"
#include "module/binding.h"
#include "module/concurrent.h"
#include "module/convert.h"
#include "module/functions.h"

namespace lhg::py {
namespace {

constexpr const char* kStronglyConnectedParams[] = {"edges"};
constexpr Signature kStronglyConnected{"strongly_connected", kStronglyConnectedParams, 1, 1};

}  // namespace

PyObject* strongly_connected(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return guarded([&] {
    const auto arg = bind<1>(kStronglyConnected, args, nargs, kwnames);
    EdgeList edges = convert("edges", arg[0], to_edge_list);
    return components_to_list(run_core([&](Threads) { return strongly_connected_impl(std::move(edges)); }));
  });
}

}  // namespace lhg::py
