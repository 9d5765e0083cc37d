#include <cstdint>

#include "graph/pagerank.h"
#include "module/binding.h"
#include "module/built.h"
#include "module/concurrent.h"
#include "module/convert.h"
#include "module/functions.h"

namespace lhg::py {
namespace {

constexpr const char* kPagerankParams[] = {"edges", "alpha", "max_iter"};
constexpr Signature kPagerank{"pagerank", kPagerankParams, 3, 1};

constexpr double kDefaultAlpha = 0.85;
constexpr std::uint64_t kDefaultMaxIter = 100;

}  // namespace

PyObject* pagerank(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return guarded([&] {
    const auto arg = bind<3>(kPagerank, args, nargs, kwnames);
    EdgeList edges = convert("edges", arg[0], to_edge_list);
    const double alpha = arg[1] != nullptr ? convert("alpha", arg[1], to_double) : kDefaultAlpha;
    const std::uint64_t max_iter = arg[2] != nullptr ? convert("max_iter", arg[2], to_u64) : kDefaultMaxIter;
    const auto done = run_core([&](Threads threads) {
      return build_then(edges, threads, [&](const Graph& graph, Threads t) {
        return lhg::pagerank(graph, alpha, max_iter, t);
      });
    });
    return score_map_to_dict(done.graph, done.result);
  });
}

}  // namespace lhg::py
