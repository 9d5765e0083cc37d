// Conversions between Python objects and the cores' native values.
//
// Argument conversions throw PythonError with the interpreter's exception set;
// `convert` applies the wrapping rule for the parameter being converted.
// Result conversions consume the native result and return a new reference;
// a failure to create an object there is an internal failure.
#pragma once

#include <Python.h>

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "graph/components.h"
#include "graph/graph.h"
#include "graph/names.h"
#include "graph/reachability.h"
#include "graph/scores.h"
#include "graph/subgraph.h"
#include "module/errors.h"

namespace lhg::py {

// Runs the conversion of one parameter; a failure ends the call (errors.h).
template <class F>
auto convert(const char* param, PyObject* obj, F&& conversion) -> decltype(conversion(obj)) {
  try {
    return conversion(obj);
  } catch (const PythonError&) {
    conversion_failed(param);
  }
}

// A node name with its bytes copied out of the str.
struct OwnedName {
  std::string bytes;
  std::uint64_t hash = 0;
  NameKey key() const noexcept { return {bytes, hash}; }
};

// --- arguments ---
EdgeList to_edge_list(PyObject* obj);
// The same with the store's index limit lowered, for tests of the failure there.
EdgeList to_edge_list_with_limit(PyObject* obj, std::uint32_t index_limit);
// A graph's edges: the list the functions take, or any iterable of pairs
// (tuples or lists of two strs); a bad item gets a TypeError naming its
// index and what it was.
EdgeList to_graph_edges(PyObject* obj);
OwnedName to_node_name(PyObject* obj);
// The name's UTF-8 bytes (owned by the str) and its hash; a non-str gets
// the TypeError of the functions' names.
NameKey name_key(PyObject* obj);
NameList to_name_list(PyObject* obj);
std::uint64_t to_u64(PyObject* obj);
double to_double(PyObject* obj);
bool to_bool(PyObject* obj);

// --- results ---
// A new str from a node name's UTF-8 bytes, its hash cached: every name's
// hash is the str type's own hash of its text (see name_key), which a str
// of that text has within the process.
Ref name_to_str(NameKey name);
// The strs of a built graph's names, each made the first time a query's
// result holds it and handed out again after, as the name lists that users
// of other graph libraries keep beside their graphs. A query's names lie
// all over the name table, and a new str costs reading the name's record,
// its bytes and an allocation; a kept one costs a reference. Only the
// results of queries that return a part of the graph use it: a result that
// names every node (scores, components) would fill it at once. Used and
// destroyed with the interpreter lock held.
class NameStrs {
 public:
  NameStrs() = default;
  ~NameStrs();
  NameStrs(const NameStrs&) = delete;
  NameStrs& operator=(const NameStrs&) = delete;

  Ref get(const Graph& graph, NodeId v);
  void prefetch_slot(NodeId v) const noexcept {
    if (!strs_.empty()) __builtin_prefetch(&strs_[v]);
  }
  void prefetch_str(NodeId v) const noexcept {
    if (!strs_.empty() && strs_[v] != nullptr) __builtin_prefetch(strs_[v]);
  }
  // Bytes of the slots (the strs are objects of their own, which
  // sys.getsizeof counts apart).
  std::size_t nbytes() const noexcept { return strs_.capacity() * sizeof(PyObject*); }

 private:
  std::vector<PyObject*> strs_;  // by node; empty until first used
};

// dict str -> int: each node found, by depth; the strs from `strs` when
// given.
PyObject* depth_map_to_dict(const Graph& graph, const DepthMap& depths, NameStrs* strs = nullptr);
// dict str -> (dict str -> int), one key per distinct start name.
PyObject* batch_to_dict(const Graph& graph, const NameList& starts, const BatchDepths& batch);
// dict str -> float, filled in node order.
PyObject* score_map_to_dict(const Graph& graph, const ScoreMap& scores);
// (list of str, list of (str, str)), both lists in the core's order.
PyObject* subgraph_to_tuple(const Graph& graph, const SubgraphResult& sub);
// list of lists of str, components and members in the core's order.
PyObject* components_to_list(const Graph& graph, const Components& components);
// list of str: the names of `nodes`, in order.
PyObject* names_to_list(const Graph& graph, std::span<const NodeId> nodes, NameStrs* strs = nullptr);
// list of lists of str: groups first .. last - 1 of a flat array, group g
// being members[ends[g - 1], ends[g]) with ends[-1] read as 0.
PyObject* groups_to_list(const Graph& graph, std::span<const NodeId> members, std::span<const std::size_t> ends,
                         std::size_t first, std::size_t last);
// dict str -> (int, int), filled in node order: first[v] and second[v] for
// node v.
PyObject* count_pairs_to_dict(const Graph& graph, std::span<const std::uint64_t> first,
                              std::span<const std::uint64_t> second);
// list of (str, str) tuples: each pair's ends as the strs at those places
// of `names`, a list of str by node.
PyObject* pairs_to_list(PyObject* names, const std::vector<EdgePair>& pairs);
// list of lists of str, one per node list.
PyObject* lists_to_list(const Graph& graph, const std::vector<std::vector<NodeId>>& lists);

}  // namespace lhg::py
