// What every method of the Graph type shares: the object's layout, the
// graph it holds, and the reading of start names and depths.
#pragma once

#include <Python.h>

#include <limits>
#include <memory>
#include <string_view>
#include <utility>

#include "graph/graph.h"
#include "graph/names.h"
#include "graph/parallel.h"
#include "graph/scratch.h"
#include "graph/types.h"
#include "module/concurrent.h"
#include "module/convert.h"
#include "module/pyref.h"

namespace lhg::py {

// The built graph and the marks its queries borrow.
struct Stored {
  explicit Stored(Graph built) : graph(std::move(built)), pool(graph.node_count()) {}
  const Graph graph;
  MarksPool pool;
  NameStrs strs;  // read and written with the interpreter lock held
};

// The store is shared by the copies of a graph of a subclass, which differ
// only in their own attributes: the graph itself never changes.
struct GraphObject {
  PyObject_HEAD
  std::shared_ptr<Stored> stored;  // constructed in place once the object is allocated
  Py_hash_t hash;                  // -1 until first asked for
};

extern PyTypeObject* g_graph_type;

inline GraphObject* as_graph(PyObject* self) noexcept { return reinterpret_cast<GraphObject*>(self); }
inline Stored& stored_of(PyObject* self) noexcept { return *as_graph(self)->stored; }

inline constexpr Depth kNoLimit = std::numeric_limits<Depth>::max();

// Runs core(threads) with the interpreter lock released.
template <class F>
auto released(Threads threads, F&& core) -> decltype(core(threads)) {
  const LockReleased unlocked;
  return core(threads);
}

// Borrows marks for one query.
template <class F>
auto with_marks(Stored& st, F&& query) {
  auto marks = st.pool.lend();
  return query(*marks);
}

// A new object of `type` (Graph or a subclass) holding `graph`.
Ref new_graph_object(PyTypeObject* type, Graph graph);

// KeyError naming a start name that is not a node, with the nearest names.
[[noreturn]] void not_a_node(const Graph& graph, PyObject* name, std::string_view bytes);
// The node a start name names; a non-str gets the functions' TypeError for
// `param`, a name that is not a node KeyError.
NodeId node_of(const Graph& graph, const char* param, PyObject* name);
// The node of a name already read (`key`, from the str `name`): for
// methods that read every argument before they look names up, so that a
// bad argument is reported before a name that is not a node.
NodeId find_node(const Graph& graph, PyObject* name, NameKey key);
// Every name of a converted list must be a node; the first that is not, in
// list order, gets KeyError.
void require_nodes(const Graph& graph, const NameList& names);
// A max_depth argument: None is no limit, absent is `absent`.
Depth depth_argument(PyObject* obj, Depth absent);

}  // namespace lhg::py
