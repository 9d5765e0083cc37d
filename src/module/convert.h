// Conversions between Python objects and the cores' native values.
//
// Argument conversions throw PythonError with the interpreter's exception set;
// `convert` applies the wrapping rule for the parameter being converted.
// Result conversions consume the native result and return a new reference;
// a failure to create an object there is an internal failure.
#pragma once

#include <Python.h>

#include <algorithm>
#include <cstdint>
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

// References of the call's own to the caller's strs that became node names.
// The names keep those strs as their origins, and the results give them
// back as they are instead of making an equal str for each name: they are
// hashed already, and the caller's memory holds them once. A name whose
// occurrence was an instance of a str subclass has no origin, and gets a new
// str. Declared before the edge list it holds the names of, so that it
// outlives every result built from them; it lets go with the interpreter
// lock held, as every other object of the call.
class NameRefs {
 public:
  NameRefs() = default;
  NameRefs(const NameRefs&) = delete;
  NameRefs& operator=(const NameRefs&) = delete;
  ~NameRefs() {
    for (PyObject* obj : held_) Py_XDECREF(obj);
  }

  // Takes a reference to the origin of every name numbered since the last
  // call. Called before any Python code can run after those names were
  // numbered: until then the caller's list holds their strs.
  void hold_new(const NameTable& names) {
    if (names.size() == held_.size()) return;
    // Room first, so that no reference is taken and then lost.
    if (held_.capacity() < names.size()) held_.reserve(std::max(names.size(), 2 * held_.capacity()));
    for (std::size_t id = held_.size(); id < names.size(); ++id) {
      held_.push_back(Py_XNewRef(static_cast<PyObject*>(const_cast<void*>(names.origin(static_cast<NodeId>(id))))));
    }
  }

 private:
  std::vector<PyObject*> held_;  // by node number; null where there is no origin
};

// --- arguments ---
EdgeList to_edge_list(PyObject* obj, NameRefs& refs);
// The same with the store's index limit lowered, for tests of the failure there.
EdgeList to_edge_list_with_limit(PyObject* obj, std::uint32_t index_limit, NameRefs& refs);
OwnedName to_node_name(PyObject* obj);
NameList to_name_list(PyObject* obj);
std::uint64_t to_u64(PyObject* obj);
double to_double(PyObject* obj);
bool to_bool(PyObject* obj);

// --- results ---
// A new str from a node name's UTF-8 bytes.
Ref name_to_str(std::string_view name);
PyObject* depth_map_to_dict(DepthMap depths);
// dict str -> (dict str -> int), one key per distinct start name.
PyObject* batch_to_dict(BatchDepths batch);
// dict str -> float, filled in node order.
PyObject* score_map_to_dict(ScoreMap scores);
// (list of str, list of (str, str)), both lists in the core's order.
PyObject* subgraph_to_tuple(SubgraphResult sub);
// list of lists of str, components and members in the core's order.
PyObject* components_to_list(Components components);

}  // namespace lhg::py
