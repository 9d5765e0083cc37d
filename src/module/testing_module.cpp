// _lanternhollow_graph_testing: reference versions of the cores that the
// tests compare the public functions against. Built only with LHG_TESTING,
// so the public module never carries them.
#include <Python.h>

#include <bit>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "graph/binade_sums.h"
#include "graph/interrupt.h"
#include "graph/names.h"
#include "graph/pagerank.h"
#include "graph/parallel.h"
#include "graph/reachability.h"
#include "module/binding.h"
#include "module/built.h"
#include "module/convert.h"
#include "module/concurrent.h"
#include "module/errors.h"
#include "module/functions.h"
#include "module/graph_type.h"

namespace lhg::py {
namespace {

// Both PageRank variants take the public function's three arguments first,
// converted in its order.
struct PagerankArgs {
  EdgeList edges;
  double alpha;
  std::uint64_t max_iter;
};

template <std::size_t N>
PagerankArgs convert_pagerank_args(const BoundArgs<N>& arg) {
  EdgeList edges = convert("edges", arg[0], to_edge_list);
  const double alpha = convert("alpha", arg[1], to_double);
  const std::uint64_t max_iter = convert("max_iter", arg[2], to_u64);
  return PagerankArgs{std::move(edges), alpha, max_iter};
}

constexpr const char* kPagerankLiteralParams[] = {"edges", "alpha", "max_iter"};
constexpr Signature kPagerankLiteral{"pagerank_literal", kPagerankLiteralParams, 3, 3};

PyObject* pagerank_literal(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return guarded([&] {
    PagerankArgs a = convert_pagerank_args(bind<3>(kPagerankLiteral, args, nargs, kwnames));
    const Graph graph = build_graph(std::move(a.edges));
    return score_map_to_dict(graph, lhg::pagerank_literal(graph, a.alpha, a.max_iter));
  });
}

// pagerank with at most `tables` tables of run sums at once, each built on
// its grid's first run: the turnover of tables that only graphs far larger
// than a test's cause.
constexpr const char* kPagerankTablesParams[] = {"edges", "alpha", "max_iter", "tables"};
constexpr Signature kPagerankTables{"pagerank_with_tables", kPagerankTablesParams, 4, 4};

PyObject* pagerank_with_tables(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return guarded([&] {
    const auto arg = bind<4>(kPagerankTables, args, nargs, kwnames);
    PagerankArgs a = convert_pagerank_args(arg);
    const auto tables = static_cast<std::size_t>(convert("tables", arg[3], to_u64));
    const auto done = run_core([&](Threads threads) {
      return build_then(a.edges, threads, [&](const Graph& graph, Threads t) {
        return lhg::pagerank(graph, a.alpha, a.max_iter, tables, t);
      });
    });
    return score_map_to_dict(done.graph, done.result);
  });
}

// One accumulator taken through BinadeSums as PageRank takes a node: from
// `start` at position 0, each event (r, y) brings it to position r by the
// run sums and then adds y by a true addition; finally it is brought to the
// end. `values` are the run's values (finite, >= 0 or -0), `tables` and
// `at_once` the budget of BinadeSums::set_budget. Returns the final sum.
constexpr const char* kBinadeRunsParams[] = {"values", "start", "events", "tables", "at_once"};
constexpr Signature kBinadeRuns{"binade_runs", kBinadeRunsParams, 5, 5};

std::vector<double> to_doubles(PyObject* obj) {
  Ref fast = check(PySequence_Fast(obj, "expected a sequence of floats"));
  std::vector<double> out;
  for (Py_ssize_t i = 0; i < PySequence_Fast_GET_SIZE(fast.get()); ++i) {
    out.push_back(to_double(PySequence_Fast_GET_ITEM(fast.get(), i)));
  }
  return out;
}

PyObject* binade_runs(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return guarded([&]() -> PyObject* {
    const auto arg = bind<5>(kBinadeRuns, args, nargs, kwnames);
    const std::vector<double> values = convert("values", arg[0], to_doubles);
    const double start = convert("start", arg[1], to_double);
    std::vector<std::pair<std::size_t, double>> events;
    {
      Ref fast = check(PySequence_Fast(arg[2], "expected a sequence of (position, value) pairs"));
      for (Py_ssize_t i = 0; i < PySequence_Fast_GET_SIZE(fast.get()); ++i) {
        PyObject* pair = PySequence_Fast_GET_ITEM(fast.get(), i);
        if (!PyTuple_Check(pair) || PyTuple_GET_SIZE(pair) != 2) cannot_convert(pair, "(int, float)");
        events.emplace_back(static_cast<std::size_t>(to_u64(PyTuple_GET_ITEM(pair, 0))),
                            to_double(PyTuple_GET_ITEM(pair, 1)));
      }
    }
    const auto tables = static_cast<std::size_t>(convert("tables", arg[3], to_u64));
    const bool at_once = convert("at_once", arg[4], to_bool);
    std::size_t last = 0;
    for (const auto& [r, y] : events) {
      if (r < last || r > values.size() || !(y >= 0.0) || !(y < HUGE_VAL)) {
        PyErr_SetString(PyExc_ValueError, "events need ascending positions up to len(values) and finite y >= 0");
        return nullptr;
      }
      last = r;
    }
    for (const double v : values) {
      if (!(v >= 0.0) || !(v < HUGE_VAL)) {
        PyErr_SetString(PyExc_ValueError, "values must be finite and >= 0");
        return nullptr;
      }
    }
    if (!(start >= 0.0) || std::signbit(start)) {
      PyErr_SetString(PyExc_ValueError, "start must be >= +0");
      return nullptr;
    }
    BinadeSums sums;
    sums.set_budget(tables, at_once);
    sums.restart(values.data(), values.size());
    std::uint64_t bits = std::bit_cast<std::uint64_t>(start);
    std::uint64_t cursor = sums.cursor(bits, 0);
    for (const auto& [r, y] : events) {
      bits = std::bit_cast<std::uint64_t>(std::bit_cast<double>(sums.run(bits, cursor, r)) + y);
      cursor = sums.cursor(bits, r);
    }
    bits = sums.run(bits, cursor, values.size());
    return PyFloat_FromDouble(std::bit_cast<double>(bits));
  });
}

// The thresholds of the parallel paths of this module's copy of the cores
// (the nine functions above, the same code as the public ones), lowered so
// that small graphs reach them: the least work that starts threads, PageRank's
// block size (a power of two), betweenness's window of pending chunks of
// sources (0: three per thread) and the entries a chunk holds before it is
// added so far (0: by the memory budget), a worker that fails as if out
// of memory (0: none), and, if given, the targets in a block of
// closure_sizes (0, or absent: by the memory budget), and, if given, the
// node count from which PageRank on one thread sweeps the sources in order.
// Returns the previous values.
constexpr const char* kTuningParams[] = {"min_work",       "pagerank_block_shift", "betweenness_window",
                                         "betweenness_slot", "failing_worker",     "closure_block",
                                         "pagerank_in_order_nodes"};
constexpr Signature kTuning{"set_parallel_tuning", kTuningParams, 7, 5};

PyObject* set_parallel_tuning(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return guarded([&]() -> PyObject* {
    const auto arg = bind<7>(kTuning, args, nargs, kwnames);
    ParallelTuning tuning;
    tuning.min_work = static_cast<std::size_t>(convert("min_work", arg[0], to_u64));
    tuning.pagerank_block_shift = static_cast<unsigned>(convert("pagerank_block_shift", arg[1], to_u64));
    tuning.betweenness_window = static_cast<std::size_t>(convert("betweenness_window", arg[2], to_u64));
    tuning.betweenness_slot = static_cast<std::size_t>(convert("betweenness_slot", arg[3], to_u64));
    tuning.failing_worker = static_cast<unsigned>(convert("failing_worker", arg[4], to_u64));
    if (arg[5] != nullptr) tuning.closure_block = static_cast<std::size_t>(convert("closure_block", arg[5], to_u64));
    if (arg[6] != nullptr) {
      tuning.pagerank_in_order_nodes = static_cast<std::size_t>(convert("pagerank_in_order_nodes", arg[6], to_u64));
    }
    const ParallelTuning before = lhg::parallel_tuning();
    lhg::set_parallel_tuning(tuning);
    return Py_BuildValue("(KIKKIKK)", static_cast<unsigned long long>(before.min_work), before.pagerank_block_shift,
                         static_cast<unsigned long long>(before.betweenness_window),
                         static_cast<unsigned long long>(before.betweenness_slot), before.failing_worker,
                         static_cast<unsigned long long>(before.closure_block),
                         static_cast<unsigned long long>(before.pagerank_in_order_nodes));
  });
}

// The internal-failure paths, which ordinary input cannot reach: the store's
// index limit, a Python object that cannot be created while a result is
// built, a failed store into a result dict, and a PanicException raised by
// the caller's own code during a conversion.
constexpr const char* kLimitedParams[] = {"edges", "source", "max_depth", "index_limit"};
constexpr Signature kLimited{"descendants_with_index_limit", kLimitedParams, 4, 4};

PyObject* descendants_with_index_limit(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return guarded([&] {
    const auto arg = bind<4>(kLimited, args, nargs, kwnames);
    const auto limit = static_cast<std::uint32_t>(convert("index_limit", arg[3], to_u64));
    EdgeList edges = convert("edges", arg[0], [&](PyObject* obj) { return to_edge_list_with_limit(obj, limit); });
    const OwnedName source = convert("source", arg[1], to_node_name);
    const Depth max_depth = convert("max_depth", arg[2], to_u64);
    const Graph graph = build_graph(std::move(edges));
    NodeMarks marks(graph.node_count());
    return depth_map_to_dict(graph, lhg::descendants_at_depth(graph, graph.find(source.key()), max_depth, marks));
  });
}

PyObject* fail_object_creation(PyObject*, PyObject*) {
  return guarded([]() -> PyObject* {
    PyErr_SetString(PyExc_MemoryError, "no memory for the result");
    return created(nullptr).release();
  });
}

PyObject* fail_dict_store(PyObject*, PyObject*) {
  return guarded([]() -> PyObject* {
    Ref dict = created(PyDict_New());
    Ref unhashable = created(PyList_New(0));
    if (PyDict_SetItem(dict.get(), unhashable.get(), Py_None) < 0) dict_store_failed();
    return dict.release();
  });
}

PyObject* convert_count(PyObject*, PyObject* arg) {
  return guarded([&] { return PyLong_FromUnsignedLongLong(convert("value", arg, to_u64)); });
}

// A name table of the caller's hashes driven directly, so that a test can
// make names collide as it likes: each (bytes, hash) of `keys` interned in
// turn, the table made complete (as a built graph's is) before the key at
// `complete_at` and interned into again from there, and once more after
// the last. Returns the keys' numbers and each query's find() on the table
// still open and on the complete one (None where it finds nothing).
struct RawKey {
  std::string bytes;
  std::uint64_t hash;
};

std::vector<RawKey> raw_keys(PyObject* obj) {
  Ref seq = check(PySequence_Fast(obj, "expected a sequence of (bytes, hash) pairs"));
  std::vector<RawKey> keys;
  for (Py_ssize_t i = 0; i < PySequence_Fast_GET_SIZE(seq.get()); ++i) {
    PyObject* item = PySequence_Fast_GET_ITEM(seq.get(), i);
    if (!PyTuple_Check(item) || PyTuple_GET_SIZE(item) != 2 || !PyBytes_Check(PyTuple_GET_ITEM(item, 0))) {
      PyErr_SetString(PyExc_TypeError, "expected (bytes, hash) pairs");
      throw PythonError{};
    }
    PyObject* bytes = PyTuple_GET_ITEM(item, 0);
    keys.push_back({std::string(PyBytes_AS_STRING(bytes), static_cast<std::size_t>(PyBytes_GET_SIZE(bytes))),
                    to_u64(PyTuple_GET_ITEM(item, 1))});
  }
  return keys;
}

constexpr const char* kNameTableParams[] = {"keys", "queries", "complete_at"};
constexpr Signature kNameTable{"name_table", kNameTableParams, 3, 3};

PyObject* name_table(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return guarded([&] {
    const auto arg = bind<3>(kNameTable, args, nargs, kwnames);
    const std::vector<RawKey> keys = convert("keys", arg[0], raw_keys);
    const std::vector<RawKey> queries = convert("queries", arg[1], raw_keys);
    const std::uint64_t complete_at = convert("complete_at", arg[2], to_u64);
    NameTable table;
    Ref numbers = created(PyList_New(0));
    const auto number = [](NodeId id) { return id == kNoNode ? Py_NewRef(Py_None) : PyLong_FromUnsignedLong(id); };
    const auto append = [](PyObject* list, PyObject* item) {
      Ref held = created(item);
      if (PyList_Append(list, held.get()) < 0) throw PythonError{};
    };
    for (std::size_t i = 0; i < keys.size(); ++i) {
      if (i == complete_at) table.shrink_to_fit();
      append(numbers.get(), number(table.intern({keys[i].bytes, keys[i].hash})));
    }
    Ref open = created(PyList_New(0));
    for (const RawKey& q : queries) append(open.get(), number(table.find({q.bytes, q.hash})));
    table.shrink_to_fit();
    Ref complete = created(PyList_New(0));
    for (const RawKey& q : queries) append(complete.get(), number(table.find({q.bytes, q.hash})));
    return Py_BuildValue("(OOO)", numbers.get(), open.get(), complete.get());
  });
}

constexpr const char* kCheckIndexParams[] = {"slots", "count", "max_run"};
constexpr Signature kCheckIndex{"check_index", kCheckIndexParams, 3, 3};

PyObject* check_index(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return guarded([&] {
    const auto arg = bind<3>(kCheckIndex, args, nargs, kwnames);
    if (!PyBytes_Check(arg[0]) || PyBytes_GET_SIZE(arg[0]) % 8 != 0) {
      PyErr_SetString(PyExc_TypeError, "slots must be bytes of whole u64 words");
      throw PythonError{};
    }
    std::vector<std::uint64_t> slots(static_cast<std::size_t>(PyBytes_GET_SIZE(arg[0])) / 8);
    if (!slots.empty()) std::memcpy(slots.data(), PyBytes_AS_STRING(arg[0]), slots.size() * 8);
    const std::uint64_t count = convert("count", arg[1], to_u64);
    const std::uint64_t max_run = convert("max_run", arg[2], to_u64);
    Poller poller;
    return Py_NewRef(NameTable::check_index(slots, count, max_run, poller) ? Py_True : Py_False);
  });
}

PyMethodDef g_functions[] = {
    {"pagerank", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(pagerank)), METH_FASTCALL | METH_KEYWORDS,
     "The public pagerank, with this module's thresholds of the parallel paths."},
    {"strongly_connected", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(strongly_connected)), METH_FASTCALL | METH_KEYWORDS,
     "The public strongly_connected, with this module's thresholds of the parallel paths."},
    {"ancestors_at_depth", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(ancestors_at_depth)), METH_FASTCALL | METH_KEYWORDS,
     "The public ancestors_at_depth, with this module's thresholds of the parallel paths."},
    {"descendants_at_depth", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(descendants_at_depth)), METH_FASTCALL | METH_KEYWORDS,
     "The public descendants_at_depth, with this module's thresholds of the parallel paths."},
    {"betweenness", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(betweenness)), METH_FASTCALL | METH_KEYWORDS,
     "The public betweenness, with this module's thresholds of the parallel paths."},
    {"sampled_betweenness", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(sampled_betweenness)), METH_FASTCALL | METH_KEYWORDS,
     "The public sampled_betweenness, with this module's thresholds of the parallel paths."},
    {"batch_ancestors", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(batch_ancestors)), METH_FASTCALL | METH_KEYWORDS,
     "The public batch_ancestors, with this module's thresholds of the parallel paths."},
    {"batch_descendants", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(batch_descendants)), METH_FASTCALL | METH_KEYWORDS,
     "The public batch_descendants, with this module's thresholds of the parallel paths."},
    {"subgraph", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(subgraph)), METH_FASTCALL | METH_KEYWORDS,
     "The public subgraph, with this module's thresholds of the parallel paths."},
    {"descendants_with_index_limit",
     reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(descendants_with_index_limit)),
     METH_FASTCALL | METH_KEYWORDS,
     "descendants_with_index_limit(edges, source, max_depth, index_limit)\n--\n\n"
     "descendants_at_depth over a store whose index limit is lowered to index_limit."},
    {"fail_object_creation", fail_object_creation, METH_NOARGS, "Fails as when a result object cannot be created."},
    {"fail_dict_store", fail_dict_store, METH_NOARGS, "Fails as when a store into a result dict fails."},
    {"convert_count", convert_count, METH_O, "Converts one argument as an unsigned count."},
    {"pagerank_literal", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(pagerank_literal)),
     METH_FASTCALL | METH_KEYWORDS,
     "pagerank_literal(edges, alpha, max_iter)\n--\n\n"
     "PageRank with every dangling share added node by node, as the reference for pagerank."},
    {"pagerank_with_tables", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(pagerank_with_tables)),
     METH_FASTCALL | METH_KEYWORDS,
     "pagerank_with_tables(edges, alpha, max_iter, tables)\n--\n\n"
     "pagerank with at most `tables` tables of run sums at once (0: as many as usual), each built at once."},
    {"binade_runs", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(binade_runs)),
     METH_FASTCALL | METH_KEYWORDS,
     "binade_runs(values, start, events, tables, at_once)\n--\n\n"
     "One accumulator through the run sums of `values`, with true additions at the events."},
    {"name_table", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(name_table)),
     METH_FASTCALL | METH_KEYWORDS,
     "name_table(keys, queries, complete_at)\n--\n\n"
     "A name table of the caller's hashes, interned into from (bytes, hash) pairs and completed before key "
     "complete_at and after the last; returns (numbers, finds while open, finds once complete)."},
    {"check_index", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(check_index)),
     METH_FASTCALL | METH_KEYWORDS,
     "check_index(slots, count, max_run)\n--\n\n"
     "Whether the little-endian u64 words of `slots` pass as an index over `count` names."},
    {"set_parallel_tuning", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(set_parallel_tuning)),
     METH_FASTCALL | METH_KEYWORDS,
     "set_parallel_tuning(min_work, pagerank_block_shift, betweenness_window, betweenness_slot, failing_worker, "
     "closure_block=0, pagerank_in_order_nodes=1572864)\n--\n\n"
     "Lowers the thresholds of the parallel paths; returns the previous values."},
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

PyMODINIT_FUNC PyInit__lanternhollow_graph_testing(void) {
  // Long calls answer Ctrl-C and run signal handlers as the public module's do.
  lhg::set_interrupt_check(&lhg::py::check_signals);
  return lhg::py::guarded([] {
    lhg::py::Ref module = lhg::py::check(PyModule_Create(&lhg::py::g_definition));
    // The Graph type again, with this module's thresholds of the parallel paths.
    if (PyModule_AddObjectRef(module.get(), "Graph", lhg::py::graph_type(module.get())) < 0) {
      throw lhg::py::PythonError{};
    }
    return module.release();
  });
}
