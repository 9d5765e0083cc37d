#include "graph/betweenness.h"
#include "module/binding.h"
#include "module/built.h"
#include "module/concurrent.h"
#include "module/convert.h"
#include "module/functions.h"

namespace lhg::py {
namespace {

constexpr const char* kBetweennessParams[] = {"edges", "normalized"};
constexpr Signature kBetweenness{"betweenness", kBetweennessParams, 2, 1};
constexpr const char* kSampledParams[] = {"edges", "sample_size", "seed", "normalized"};
constexpr Signature kSampled{"sampled_betweenness", kSampledParams, 4, 1};

constexpr std::uint64_t kDefaultSampleSize = 100;
constexpr std::uint64_t kDefaultSeed = 42;

}  // namespace

PyObject* betweenness(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return guarded([&] {
    const auto arg = bind<2>(kBetweenness, args, nargs, kwnames);
    EdgeList edges = convert("edges", arg[0], to_edge_list);
    const bool normalized = arg[1] ? convert("normalized", arg[1], to_bool) : true;
    const auto done = run_core([&](Threads threads) {
      return build_then(edges, threads,
                        [&](const Graph& graph, Threads t) { return lhg::betweenness(graph, normalized, t); });
    });
    return score_map_to_dict(done.graph, done.result);
  });
}

PyObject* sampled_betweenness(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return guarded([&] {
    const auto arg = bind<4>(kSampled, args, nargs, kwnames);
    EdgeList edges = convert("edges", arg[0], to_edge_list);
    const std::uint64_t sample_size = arg[1] ? convert("sample_size", arg[1], to_u64) : kDefaultSampleSize;
    const std::uint64_t seed = arg[2] ? convert("seed", arg[2], to_u64) : kDefaultSeed;
    const bool normalized = arg[3] ? convert("normalized", arg[3], to_bool) : true;
    const auto done = run_core([&](Threads threads) {
      return build_then(edges, threads, [&](const Graph& graph, Threads t) {
        return lhg::sampled_betweenness(graph, sample_size, seed, normalized, t);
      });
    });
    return score_map_to_dict(done.graph, done.result);
  });
}

}  // namespace lhg::py
