#include "graph/components.h"
#include "module/binding.h"
#include "module/built.h"
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
    const auto done = run_core([&](Threads threads) {
      return build_then(edges, threads, [](const Graph& graph, Threads) { return lhg::strongly_connected(graph); });
    });
    return components_to_list(done.graph, done.result);
  });
}

}  // namespace lhg::py
