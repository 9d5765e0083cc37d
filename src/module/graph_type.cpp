// The Graph type of lanternhollow_graph_store: a built graph held by a
// Python object, and its methods.
//
// A method reads its arguments with the interpreter lock held, releases it
// while the core runs on the graph, and takes it back to build the result.
// The graph never changes after construction, so cores on any number of
// threads read it without locks; the per-query marks they borrow come from
// the graph's pool, one set per query at a time. The object itself is held
// by the method for the whole call, so another thread that drops the last
// other reference cannot free the graph under a running core.
#include "module/graph_type.h"
#include "module/graph_methods.h"
#include "module/graph_object.h"

#include <algorithm>
#include <cstdint>
#include <limits>
#include <memory>
#include <new>
#include <numeric>
#include <string>
#include <utility>

#include "graph/betweenness.h"
#include "graph/closest.h"
#include "graph/components.h"
#include "graph/pagerank.h"
#include "graph/reachability.h"
#include "graph/scratch.h"
#include "graph/subgraph.h"
#include "module/binding.h"
#include "module/concurrent.h"
#include "module/convert.h"
#include "module/errors.h"
#include "module/store_docstrings.h"

namespace lhg::py {

PyTypeObject* g_graph_type = nullptr;

namespace {
constexpr std::size_t kSuggestions = 3;
}  // namespace

Ref new_graph_object(PyTypeObject* type, Graph graph) {
  auto stored = std::make_shared<Stored>(std::move(graph));
  Ref self = check(type->tp_alloc(type, 0));
  new (&as_graph(self.get())->stored) std::shared_ptr<Stored>(std::move(stored));
  as_graph(self.get())->hash = -1;
  return self;
}

// KeyError naming a start name that is not a node, with the nearest names.
void not_a_node(const Graph& graph, PyObject* name, std::string_view bytes) {
  std::vector<NodeId> near;
  {
    const LockReleased unlocked;
    near = closest_names(graph.names(), bytes, kSuggestions);
  }
  // The repr of the text itself: a subclass's own __repr__ does not run.
  Ref text = check(PyUnicode_FromObject(name));
  Ref shown = check(PyObject_Repr(text.get()));
  Ref message = check(PyUnicode_FromFormat("%U is not a node of this graph", shown.get()));
  for (std::size_t k = 0; k < near.size(); ++k) {
    Ref str = name_to_str(graph.key(near[k]));
    Ref near_shown = check(PyObject_Repr(str.get()));
    const char* lead = k == 0 ? "; did you mean " : (k + 1 == near.size() ? " or " : ", ");
    message = check(PyUnicode_FromFormat("%U%s%U", message.get(), lead, near_shown.get()));
  }
  if (!near.empty()) message = check(PyUnicode_FromFormat("%U?", message.get()));
  PyErr_SetObject(PyExc_KeyError, message.get());
  throw PythonError{};
}

NodeId node_of(const Graph& graph, const char* param, PyObject* name) {
  return find_node(graph, name, convert(param, name, name_key));
}

NodeId find_node(const Graph& graph, PyObject* name, NameKey key) {
  const NodeId v = graph.find(key);
  if (v == kNoNode) not_a_node(graph, name, key.bytes);
  return v;
}

void require_nodes(const Graph& graph, const NameList& names) {
  for (std::size_t i = 0; i < names.size(); ++i) {
    const NameKey key = names.key(i);
    if (graph.find(key) != kNoNode) continue;
    Ref str = name_to_str(key);
    not_a_node(graph, str.get(), key.bytes);
  }
}

Depth depth_argument(PyObject* obj, Depth absent) {
  if (obj == nullptr) return absent;
  if (obj == Py_None) return kNoLimit;
  return convert("max_depth", obj, to_u64);
}

namespace {

// --- the analyses ---

constexpr const char* kPagerankParams[] = {"alpha", "max_iter", "threads"};
constexpr Signature kPagerank{"Graph.pagerank", kPagerankParams, 3, 0, 1};

PyObject* graph_pagerank(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return guarded([&] {
    const Ref hold = Ref::borrow(self);
    Stored& st = stored_of(self);
    const auto arg = bind<3>(kPagerank, args, nargs, kwnames);
    const double alpha = arg[0] != nullptr ? convert("alpha", arg[0], to_double) : 0.85;
    const std::uint64_t max_iter = arg[1] != nullptr ? convert("max_iter", arg[1], to_u64) : 100;
    const Threads threads = threads_argument(arg[2]);
    const ScoreMap scores = released(threads, [&](Threads t) { return pagerank(st.graph, alpha, max_iter, t); });
    return score_map_to_dict(st.graph, scores);
  });
}

constexpr const char* kBetweennessParams[] = {"normalized", "threads"};
constexpr Signature kBetweenness{"Graph.betweenness", kBetweennessParams, 2, 0, 1};

PyObject* graph_betweenness(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return guarded([&] {
    const Ref hold = Ref::borrow(self);
    Stored& st = stored_of(self);
    const auto arg = bind<2>(kBetweenness, args, nargs, kwnames);
    const bool normalized = arg[0] != nullptr ? convert("normalized", arg[0], to_bool) : true;
    const Threads threads = threads_argument(arg[1]);
    const ScoreMap scores = released(threads, [&](Threads t) { return betweenness(st.graph, normalized, t); });
    return score_map_to_dict(st.graph, scores);
  });
}

constexpr const char* kSampledParams[] = {"sample_size", "seed", "normalized", "threads"};
constexpr Signature kSampled{"Graph.sampled_betweenness", kSampledParams, 4, 0, 1};

PyObject* graph_sampled_betweenness(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return guarded([&] {
    const Ref hold = Ref::borrow(self);
    Stored& st = stored_of(self);
    const auto arg = bind<4>(kSampled, args, nargs, kwnames);
    const std::uint64_t sample_size = arg[0] != nullptr ? convert("sample_size", arg[0], to_u64) : 100;
    const std::uint64_t seed = arg[1] != nullptr ? convert("seed", arg[1], to_u64) : 42;
    const bool normalized = arg[2] != nullptr ? convert("normalized", arg[2], to_bool) : true;
    const Threads threads = threads_argument(arg[3]);
    const ScoreMap scores = released(
        threads, [&](Threads t) { return sampled_betweenness(st.graph, sample_size, seed, normalized, t); });
    return score_map_to_dict(st.graph, scores);
  });
}

constexpr const char* kComponentsParams[] = {"threads"};
constexpr Signature kComponents{"Graph.strongly_connected", kComponentsParams, 1, 0, 1};

PyObject* graph_strongly_connected(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return guarded([&] {
    const Ref hold = Ref::borrow(self);
    Stored& st = stored_of(self);
    const auto arg = bind<1>(kComponents, args, nargs, kwnames);
    const Threads threads = threads_argument(arg[0]);
    const Components components = released(threads, [&](Threads) { return strongly_connected(st.graph); });
    return components_to_list(st.graph, components);
  });
}

using DepthCore = DepthMap (*)(const Graph&, NodeId, Depth, NodeMarks&);
using BatchCore = BatchDepths (*)(const Graph&, const NameList&, Depth, MarksPool&, Threads);

PyObject* depth_method(const Signature& sig, const char* start_param, DepthCore core, PyObject* self,
                       PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return guarded([&] {
    const Ref hold = Ref::borrow(self);
    Stored& st = stored_of(self);
    const auto arg = bind<3>(sig, args, nargs, kwnames);
    const NameKey key = convert(start_param, arg[0], name_key);
    const Depth max_depth = depth_argument(arg[1], kNoLimit);
    const Threads threads = threads_argument(arg[2]);
    // Looked up once every argument is read: a bad one is reported as
    // the function reports it, before a name that is not a node.
    const NodeId start = find_node(st.graph, arg[0], key);
    const DepthMap depths = released(threads, [&](Threads) {
      return with_marks(st, [&](NodeMarks& marks) { return core(st.graph, start, max_depth, marks); });
    });
    return depth_map_to_dict(st.graph, depths, &st.strs);
  });
}

PyObject* batch_method(const Signature& sig, const char* starts_param, BatchCore core, PyObject* self,
                       PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return guarded([&] {
    const Ref hold = Ref::borrow(self);
    Stored& st = stored_of(self);
    const auto arg = bind<3>(sig, args, nargs, kwnames);
    const NameList starts = convert(starts_param, arg[0], to_name_list);
    const Depth max_depth = depth_argument(arg[1], kNoLimit);
    const Threads threads = threads_argument(arg[2]);
    require_nodes(st.graph, starts);
    const BatchDepths batch =
        released(threads, [&](Threads t) { return core(st.graph, starts, max_depth, st.pool, t); });
    return batch_to_dict(st.graph, starts, batch);
  });
}

constexpr const char* kAncestorsParams[] = {"target", "max_depth", "threads"};
constexpr Signature kAncestors{"Graph.ancestors_at_depth", kAncestorsParams, 3, 1, 1};
constexpr const char* kDescendantsParams[] = {"source", "max_depth", "threads"};
constexpr Signature kDescendants{"Graph.descendants_at_depth", kDescendantsParams, 3, 1, 1};
constexpr const char* kBatchAncestorsParams[] = {"targets", "max_depth", "threads"};
constexpr Signature kBatchAncestors{"Graph.batch_ancestors", kBatchAncestorsParams, 3, 1, 1};
constexpr const char* kBatchDescendantsParams[] = {"sources", "max_depth", "threads"};
constexpr Signature kBatchDescendants{"Graph.batch_descendants", kBatchDescendantsParams, 3, 1, 1};

PyObject* graph_ancestors_at_depth(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return depth_method(kAncestors, "target", &ancestors_at_depth, self, args, nargs, kwnames);
}

PyObject* graph_descendants_at_depth(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return depth_method(kDescendants, "source", &descendants_at_depth, self, args, nargs, kwnames);
}

PyObject* graph_batch_ancestors(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return batch_method(kBatchAncestors, "targets", &batch_ancestors, self, args, nargs, kwnames);
}

PyObject* graph_batch_descendants(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return batch_method(kBatchDescendants, "sources", &batch_descendants, self, args, nargs, kwnames);
}

constexpr const char* kSubgraphParams[] = {"seed_nodes", "max_depth", "include_incoming", "include_outgoing",
                                           "threads"};
constexpr Signature kSubgraph{"Graph.subgraph", kSubgraphParams, 5, 1, 1};

PyObject* graph_subgraph(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return guarded([&] {
    const Ref hold = Ref::borrow(self);
    Stored& st = stored_of(self);
    const auto arg = bind<5>(kSubgraph, args, nargs, kwnames);
    const NameList seeds = convert("seed_nodes", arg[0], to_name_list);
    const Depth max_depth = depth_argument(arg[1], 2);
    const bool incoming = arg[2] != nullptr ? convert("include_incoming", arg[2], to_bool) : true;
    const bool outgoing = arg[3] != nullptr ? convert("include_outgoing", arg[3], to_bool) : true;
    const Threads threads = threads_argument(arg[4]);
    require_nodes(st.graph, seeds);
    const SubgraphResult sub = released(threads, [&](Threads) {
      return with_marks(st, [&](NodeMarks& marks) {
        return subgraph(st.graph, seeds, max_depth, incoming, outgoing, marks);
      });
    });
    return subgraph_to_tuple(st.graph, sub);
  });
}

// --- the graph as an object ---

PyObject* graph_names(PyObject* self, PyObject*) {
  return guarded([&] {
    const Graph& graph = stored_of(self).graph;
    std::vector<NodeId> all(graph.node_count());
    std::iota(all.begin(), all.end(), NodeId{0});
    return names_to_list(graph, all);
  });
}

PyObject* graph_successors(PyObject* self, PyObject* name) {
  return guarded([&] {
    const Graph& graph = stored_of(self).graph;
    return names_to_list(graph, graph.successors(node_of(graph, "name", name)), &stored_of(self).strs);
  });
}

PyObject* graph_predecessors(PyObject* self, PyObject* name) {
  return guarded([&] {
    const Graph& graph = stored_of(self).graph;
    return names_to_list(graph, graph.predecessors(node_of(graph, "name", name)), &stored_of(self).strs);
  });
}

PyObject* graph_out_degree(PyObject* self, PyObject* name) {
  return guarded([&] {
    const Graph& graph = stored_of(self).graph;
    return created(PyLong_FromSize_t(graph.out_degree(node_of(graph, "name", name)))).release();
  });
}

PyObject* graph_in_degree(PyObject* self, PyObject* name) {
  return guarded([&] {
    const Graph& graph = stored_of(self).graph;
    return created(PyLong_FromSize_t(graph.in_degree(node_of(graph, "name", name)))).release();
  });
}

// The edge list back, as (source, target) tuples in their order, the strs of
// one name shared: what pickling builds the graph again from. The
// interpreter's own reduction adds the state of a subclass's instance.
// A new object of the instance's type on the same store, given the state
// that copying gives (the instance's own attributes), as the copy module
// gives it: through __setstate__ where the type has one.
Ref copy_with_state(PyObject* self, PyObject* memo) {
  PyTypeObject* type = Py_TYPE(self);
  Ref copy = check(type->tp_alloc(type, 0));
  new (&as_graph(copy.get())->stored) std::shared_ptr<Stored>(as_graph(self)->stored);
  as_graph(copy.get())->hash = as_graph(self)->hash;
  if (memo != nullptr) {
    Ref id = check(PyLong_FromVoidPtr(self));
    if (PyObject_SetItem(memo, id.get(), copy.get()) < 0) throw PythonError{};
  }
  Ref state = check(PyObject_CallMethod(self, "__getstate__", nullptr));
  if (state.get() == Py_None) return copy;
  if (memo != nullptr) {
    Ref module = check(PyImport_ImportModule("copy"));
    state = check(PyObject_CallMethod(module.get(), "deepcopy", "OO", state.get(), memo));
  }
  Ref setstate = Ref::steal(PyObject_GetAttrString(copy.get(), "__setstate__"));
  if (setstate) {
    check(PyObject_CallOneArg(setstate.get(), state.get()));
    return copy;
  }
  if (!PyErr_ExceptionMatches(PyExc_AttributeError)) throw PythonError{};
  PyErr_Clear();
  PyObject* dict_state = state.get();
  PyObject* slot_state = nullptr;
  if (PyTuple_Check(dict_state) && PyTuple_GET_SIZE(dict_state) == 2) {
    slot_state = PyTuple_GET_ITEM(state.get(), 1);
    dict_state = PyTuple_GET_ITEM(state.get(), 0);
  }
  if (dict_state != Py_None && PyObject_IsTrue(dict_state)) {
    Ref dict = check(PyObject_GetAttrString(copy.get(), "__dict__"));
    check(PyObject_CallMethod(dict.get(), "update", "O", dict_state));
  }
  if (slot_state != nullptr && slot_state != Py_None) {
    Ref items = check(PyMapping_Items(slot_state));
    for (Py_ssize_t i = 0; i < PyList_GET_SIZE(items.get()); ++i) {
      PyObject* item = PyList_GET_ITEM(items.get(), i);
      if (PyObject_SetAttr(copy.get(), PyTuple_GET_ITEM(item, 0), PyTuple_GET_ITEM(item, 1)) < 0) throw PythonError{};
    }
  }
  return copy;
}

// A graph never changes: a copy of a Graph is the graph itself. An
// instance of a subclass may carry attributes of its own, which are copied
// (deeply for deepcopy) onto a new instance that shares the graph.
PyObject* graph_copy(PyObject* self, PyObject*) {
  if (Py_TYPE(self) == g_graph_type) return Py_NewRef(self);
  return guarded([&] { return copy_with_state(self, nullptr).release(); });
}

PyObject* graph_deepcopy(PyObject* self, PyObject* memo) {
  if (Py_TYPE(self) == g_graph_type) return Py_NewRef(self);
  return guarded([&] { return copy_with_state(self, memo).release(); });
}

PyObject* graph_sizeof(PyObject* self, PyObject*) {
  return guarded([&] {
    const Stored& st = stored_of(self);
    const std::size_t bytes = static_cast<std::size_t>(Py_TYPE(self)->tp_basicsize) + sizeof(Stored) +
                              st.graph.nbytes() + st.pool.nbytes() + st.strs.nbytes();
    return created(PyLong_FromSize_t(bytes)).release();
  });
}

Py_ssize_t graph_len(PyObject* self) { return static_cast<Py_ssize_t>(stored_of(self).graph.node_count()); }

int graph_contains(PyObject* self, PyObject* name) {
  if (!PyUnicode_Check(name)) return 0;
  PyObject* result = guarded([&] {
    try {
      return Py_NewRef(stored_of(self).graph.find(name_key(name)) != kNoNode ? Py_True : Py_False);
    } catch (const PythonError&) {
      // A str with a lone surrogate has no UTF-8 form: no name is one.
      if (!PyErr_ExceptionMatches(PyExc_UnicodeEncodeError)) throw;
      PyErr_Clear();
      return Py_NewRef(Py_False);
    }
  });
  if (result == nullptr) return -1;
  const int found = result == Py_True;
  Py_DECREF(result);
  return found;
}

PyObject* graph_richcompare(PyObject* self, PyObject* other, int op) {
  if ((op != Py_EQ && op != Py_NE) || !PyObject_TypeCheck(other, g_graph_type)) Py_RETURN_NOTIMPLEMENTED;
  return guarded([&] {
    const Ref hold = Ref::borrow(other);
    bool equal = self == other;
    if (!equal) {
      equal = released(Threads{}, [&](Threads) { return stored_of(self).graph == stored_of(other).graph; });
    }
    return Py_NewRef((op == Py_EQ) == equal ? Py_True : Py_False);
  });
}

// Equal graphs hash alike: their names' bytes hash alike, whatever hash
// their tables file them under, and their rows are the same.
Py_hash_t graph_hash(PyObject* self) {
  GraphObject* obj = as_graph(self);
  if (obj->hash != -1) return obj->hash;
  const Graph& graph = obj->stored->graph;
  std::uint64_t h = 0x84222325CBF29CE4u;
  auto mix = [&h](std::uint64_t x) { h = (h ^ x) * 0x100000001B3u; };
  mix(graph.node_count());
  mix(graph.edge_count());
  for (NodeId v = 0; v < graph.node_count(); ++v) {
    mix(hash_bytes(graph.name(v), 0));
    for (const NodeId t : graph.successors(v)) mix(t);
    mix(kEndMarker);
  }
  auto hash = static_cast<Py_hash_t>(h);
  if (hash == -1) hash = -2;
  obj->hash = hash;
  return hash;
}

PyObject* graph_repr(PyObject* self) {
  return guarded([&] {
    const Graph& graph = stored_of(self).graph;
    Ref name = check(PyType_GetName(Py_TYPE(self)));
    return check(PyUnicode_FromFormat("<%U: %zu nodes, %zu edges>", name.get(), graph.node_count(),
                                      graph.edge_count()))
        .release();
  });
}

PyObject* graph_node_count(PyObject* self, void*) { return PyLong_FromSize_t(stored_of(self).graph.node_count()); }
PyObject* graph_edge_count(PyObject* self, void*) { return PyLong_FromSize_t(stored_of(self).graph.edge_count()); }
PyObject* graph_nbytes(PyObject* self, void*) { return PyLong_FromSize_t(stored_of(self).graph.nbytes()); }

constexpr const char kGraphParamsName[] = "Graph";
constexpr const char* kGraphParams[] = {"edges"};
constexpr Signature kGraphNew{kGraphParamsName, kGraphParams, 1, 1};

PyObject* graph_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
  return guarded([&]() -> PyObject* {
    // The vector call protocol's view of a classic call.
    const Py_ssize_t nargs = PyTuple_GET_SIZE(args);
    std::vector<PyObject*> flat(args == nullptr ? 0 : static_cast<std::size_t>(nargs));
    for (Py_ssize_t i = 0; i < nargs; ++i) flat[static_cast<std::size_t>(i)] = PyTuple_GET_ITEM(args, i);
    Ref kwnames;
    if (kwargs != nullptr && PyDict_GET_SIZE(kwargs) > 0) {
      kwnames = check(PyTuple_New(PyDict_GET_SIZE(kwargs)));
      Py_ssize_t pos = 0;
      Py_ssize_t k = 0;
      PyObject* key = nullptr;
      PyObject* value = nullptr;
      while (PyDict_Next(kwargs, &pos, &key, &value)) {
        PyTuple_SET_ITEM(kwnames.get(), k++, Py_NewRef(key));
        flat.push_back(value);
      }
    }
    // The values stay alive through the dict and tuple that hold them.
    const auto arg = bind<1>(kGraphNew, flat.data(), nargs, kwnames.get());
    EdgeList edges = convert("edges", arg[0], to_graph_edges);
    return new_graph_object(type, released(Threads{}, [&](Threads) { return build_graph(std::move(edges)); }))
        .release();
  });
}

int graph_traverse(PyObject* self, visitproc visit, void* arg) {
  Py_VISIT(Py_TYPE(self));
  return 0;
}

void graph_dealloc(PyObject* self) {
  PyTypeObject* type = Py_TYPE(self);
  PyObject_GC_UnTrack(self);
  PyObject_ClearWeakRefs(self);
  // The store goes with the last object that shares it. An object whose
  // allocation succeeded always had its store put in place.
  as_graph(self)->stored.~shared_ptr();
  type->tp_free(self);
  Py_DECREF(type);
}

PyMethodDef g_methods[] = {
    method<graph_pagerank>("pagerank", store_doc::kPagerank),
    method<graph_betweenness>("betweenness", store_doc::kBetweenness),
    method<graph_sampled_betweenness>("sampled_betweenness", store_doc::kSampledBetweenness),
    method<graph_strongly_connected>("strongly_connected", store_doc::kStronglyConnected),
    method<graph_closure_sizes>("closure_sizes", store_doc::kClosureSizes),
    method<graph_ancestors_at_depth>("ancestors_at_depth", store_doc::kAncestorsAtDepth),
    method<graph_descendants_at_depth>("descendants_at_depth", store_doc::kDescendantsAtDepth),
    method<graph_batch_ancestors>("batch_ancestors", store_doc::kBatchAncestors),
    method<graph_batch_descendants>("batch_descendants", store_doc::kBatchDescendants),
    method<graph_subgraph>("subgraph", store_doc::kSubgraph),
    method<graph_why>("why", store_doc::kWhy),
    method<graph_why_all>("why_all", store_doc::kWhyAll),
    method<graph_cycle>("cycle", store_doc::kCycle),
    method<graph_build_order>("build_order", store_doc::kBuildOrder),
    method<graph_weakly_connected>("weakly_connected", store_doc::kWeaklyConnected),
    method<graph_dominators>("dominators", store_doc::kDominators),
    method<graph_falls_away>("falls_away", store_doc::kFallsAway),
    method<graph_sole_providers>("sole_providers", store_doc::kSoleProviders),
    {"from_arrow", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(graph_from_arrow)),
     METH_CLASS | METH_FASTCALL | METH_KEYWORDS, store_doc::kFromArrow},
    {"read", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(graph_read)),
     METH_FASTCALL | METH_KEYWORDS | METH_CLASS, store_doc::kRead},
    {"names", graph_names, METH_NOARGS, store_doc::kNames},
    {"successors", graph_successors, METH_O, store_doc::kSuccessors},
    {"predecessors", graph_predecessors, METH_O, store_doc::kPredecessors},
    {"out_degree", graph_out_degree, METH_O, store_doc::kOutDegree},
    {"in_degree", graph_in_degree, METH_O, store_doc::kInDegree},
    method<graph_save>("save", store_doc::kSave),
    {"load", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(graph_load)),
     METH_FASTCALL | METH_KEYWORDS | METH_CLASS, store_doc::kLoad},
    {"_from_snapshot", graph_from_snapshot, METH_O | METH_CLASS, nullptr},
    {"__reduce__", graph_reduce, METH_NOARGS, nullptr},
    {"__reduce_ex__", graph_reduce_ex, METH_O, nullptr},
    {"__copy__", graph_copy, METH_NOARGS, nullptr},
    {"__deepcopy__", graph_deepcopy, METH_O, nullptr},
    {"__sizeof__", graph_sizeof, METH_NOARGS, nullptr},
    {"edges", graph_edges, METH_NOARGS, store_doc::kEdges},
    {"distinct_edge_count", graph_distinct_edge_count, METH_NOARGS, store_doc::kDistinctEdgeCount},
    method<graph_without>("without", store_doc::kWithout),
    {nullptr, nullptr, 0, nullptr},
};

PyGetSetDef g_getset[] = {
    {"node_count", graph_node_count, nullptr, store_doc::kNodeCount, nullptr},
    {"edge_count", graph_edge_count, nullptr, store_doc::kEdgeCount, nullptr},
    {"nbytes", graph_nbytes, nullptr, store_doc::kNbytes, nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyType_Slot g_slots[] = {
    {Py_tp_doc, const_cast<char*>(store_doc::kGraph)},
    {Py_tp_new, reinterpret_cast<void*>(graph_new)},
    {Py_tp_dealloc, reinterpret_cast<void*>(graph_dealloc)},
    {Py_tp_traverse, reinterpret_cast<void*>(graph_traverse)},
    {Py_tp_repr, reinterpret_cast<void*>(graph_repr)},
    {Py_tp_hash, reinterpret_cast<void*>(graph_hash)},
    {Py_tp_richcompare, reinterpret_cast<void*>(graph_richcompare)},
    {Py_tp_methods, g_methods},
    {Py_tp_getset, g_getset},
    {Py_sq_length, reinterpret_cast<void*>(graph_len)},
    {Py_sq_contains, reinterpret_cast<void*>(graph_contains)},
    {0, nullptr},
};

PyType_Spec g_spec = {
    "lanternhollow_graph_store.Graph",
    sizeof(GraphObject),
    0,
    Py_TPFLAGS_DEFAULT | Py_TPFLAGS_BASETYPE | Py_TPFLAGS_HAVE_GC | Py_TPFLAGS_MANAGED_WEAKREF |
        Py_TPFLAGS_IMMUTABLETYPE,
    g_slots,
};

}  // namespace

PyObject* graph_type(PyObject* module) {
  if (g_graph_type == nullptr) {
    g_graph_type = reinterpret_cast<PyTypeObject*>(check(PyType_FromModuleAndSpec(module, &g_spec, nullptr)).release());
  }
  return reinterpret_cast<PyObject*>(g_graph_type);
}

}  // namespace lhg::py
