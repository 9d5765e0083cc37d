#include "module/convert.h"

#include <algorithm>
#include <cstring>
#include <span>

#include "graph/interning.h"
#include "graph/interrupt.h"
#include "graph/parallel.h"
#include "module/concurrent.h"

namespace lhg::py {
namespace {

// Creating a result object costs about as much as a few dozen units of a
// core's work (interrupt.h).
constexpr std::uint64_t kUnitsPerObject = 16;

// A reported length is only a capacity hint: a lying __len__ (or a range of
// 10**16 items) must not reserve memory that the items never fill.
constexpr std::size_t kMaxReserve = std::size_t{1} << 20;

std::size_t length_hint(PyObject* obj) {
  // A list or tuple of our own kind reports its true length, and growing to
  // it would briefly hold the old and the new buffer at once.
  if (PyList_CheckExact(obj)) return static_cast<std::size_t>(PyList_GET_SIZE(obj));
  if (PyTuple_CheckExact(obj)) return static_cast<std::size_t>(PyTuple_GET_SIZE(obj));
  const Py_ssize_t n = PySequence_Size(obj);
  if (n >= 0) return std::min(static_cast<std::size_t>(n), kMaxReserve);
  // An ordinary failure to report a length is forgotten; an interrupt, an
  // exit request or a resumed panic is not.
  if (PyErr_Occurred() && !PyErr_ExceptionMatches(PyExc_Exception)) throw PythonError{};
  PyErr_Clear();
  return 0;
}

[[noreturn]] void str_is_not_a_vec() {
  PyErr_SetString(PyExc_TypeError, "Can't extract `str` to `Vec`");
  throw PythonError{};
}

// The checks that a sequence argument (edge list or name list) passes first.
std::size_t begin_sequence(PyObject* obj) {
  if (PyUnicode_Check(obj)) str_is_not_a_vec();
  if (!PySequence_Check(obj)) cannot_convert(obj, "Sequence");
  return length_hint(obj);
}

// Calls f(item) for each item of a sequence, in iteration order. Exact lists
// and tuples are indexed directly: our conversions run no Python code, so
// this sees what their iterators would. A very long conversion answers
// Ctrl-C like the analyses do, and the check runs signal handlers, which may
// run any Python code, other threads' included: a list may shrink, grow or
// be replaced item by item there. So the list's length is read again after
// every check, right before the item is taken, and the item is held by a
// reference of our own while it is converted (its last other reference may
// go while f runs the caller's finalisers). A list that shrank ends early,
// as its iterator would. The sequence itself is held too, whoever else lets
// it go.
//
// `ahead(items, i, size)` may look at the items after the i-th of the
// `size` there are now, to ask for the memory that converting them will
// read: the items of a long list lie all over the heap, and a conversion
// that waits for each in turn spends most of its time waiting. It must not
// run Python code or keep a pointer.
struct NoLookAhead {
  void operator()(PyObject* const*, Py_ssize_t, Py_ssize_t) const noexcept {}
};

template <class F, class Ahead = NoLookAhead>
void for_each_item(PyObject* seq_arg, F&& f, Ahead&& look_ahead = Ahead{}) {
  // About a millisecond of items between checks.
  constexpr Py_ssize_t kItemsPerCheck = 1 << 12;
  const Ref seq = Ref::borrow(seq_arg);
  if (PyList_CheckExact(seq.get())) {
    for (Py_ssize_t i = 0;; ++i) {
      if (i % kItemsPerCheck == kItemsPerCheck - 1) check_interrupt();
      const Py_ssize_t size = PyList_GET_SIZE(seq.get());
      if (i >= size) break;
      look_ahead(const_cast<PyObject* const*>(reinterpret_cast<PyListObject*>(seq.get())->ob_item), i, size);
      const Ref item = Ref::borrow(PyList_GET_ITEM(seq.get(), i));
      f(item.get());
    }
    return;
  }
  if (PyTuple_CheckExact(seq.get())) {
    // A tuple's items cannot change, and the tuple holds them.
    const Py_ssize_t size = PyTuple_GET_SIZE(seq.get());
    for (Py_ssize_t i = 0; i < size; ++i) {
      if (i % kItemsPerCheck == kItemsPerCheck - 1) check_interrupt();
      look_ahead(const_cast<PyObject* const*>(reinterpret_cast<PyTupleObject*>(seq.get())->ob_item), i, size);
      f(PyTuple_GET_ITEM(seq.get(), i));
    }
    return;
  }
  Ref it = check(PyObject_GetIter(seq.get()));
  for (Py_ssize_t i = 0; Ref item = Ref::steal(PyIter_Next(it.get())); ++i) {
    if (i % kItemsPerCheck == kItemsPerCheck - 1) check_interrupt();
    f(item.get());
  }
  if (PyErr_Occurred()) throw PythonError{};
}

// The str type's own hash of a str, from the object's cache when it holds
// it (as it does once the str has been hashed), computed and cached
// otherwise: a subclass's __hash__ never runs. -1 with an error set on
// failure.
Py_hash_t str_hash(PyObject* str) {
  const Py_hash_t cached = reinterpret_cast<PyASCIIObject*>(str)->hash;
  return cached != -1 ? cached : PyUnicode_Type.tp_hash(str);
}

// What one pass over the code points of a str that is not compact ASCII
// tells: whether it holds a surrogate, which has no UTF-8 form, and whether
// it holds its characters at the narrowest width that fits them, as every
// str that Python makes does. The C API lets a caller make a wider one
// (PyUnicode_New with its maximum rounded up), and str hashes the stored
// units: such a str hashes differently from the same text held canonically.
// Only 2- and 4-byte strs can be too wide in a way that changes the hash (a
// 1-byte str's units are its code points), and only they hold surrogates.
struct TextScan {
  bool surrogate = false;
  bool canonical = true;
};

TextScan scan_text(PyObject* str) {
  const int kind = PyUnicode_KIND(str);
  const Py_ssize_t length = PyUnicode_GET_LENGTH(str);
  if (kind == PyUnicode_1BYTE_KIND || length == 0) return {};
  const void* data = PyUnicode_DATA(str);
  const Py_UCS4 narrower = kind == PyUnicode_2BYTE_KIND ? 0xFF : 0xFFFF;
  TextScan scan{false, false};
  for (Py_ssize_t i = 0; i < length; ++i) {
    const Py_UCS4 c = PyUnicode_READ(kind, data, i);
    scan.canonical |= c > narrower;
    scan.surrogate |= c >= 0xD800 && c <= 0xDFFF;
  }
  return scan;
}

// str's own hash (keyed per process) of the str's text held canonically,
// so that every str of the same text gives the same hash and names compare
// by their bytes alone; -1 with an error set when memory runs out.
// `canonical`: whether the str is held canonically already.
Py_hash_t text_hash(PyObject* str, bool canonical) {
  if (canonical) return str_hash(str);
  // Hashed as the str that Python would make of the same text.
  const Ref copy =
      Ref::steal(PyUnicode_FromKindAndData(PyUnicode_KIND(str), PyUnicode_DATA(str), PyUnicode_GET_LENGTH(str)));
  return copy ? str_hash(copy.get()) : -1;
}

// The str's UTF-8 bytes, owned by the str; nullptr with an error set on
// failure (a surrogate, or memory running out).
const char* utf8_of(PyObject* str, Py_ssize_t& size) {
  if (PyUnicode_IS_COMPACT_ASCII(str)) {
    // The common case: the characters are the UTF-8 bytes already.
    size = PyUnicode_GET_LENGTH(str);
    return static_cast<const char*>(PyUnicode_DATA(str));
  }
  return PyUnicode_AsUTF8AndSize(str, &size);
}

}  // namespace

NameKey name_key(PyObject* obj) {
  if (!PyUnicode_Check(obj)) cannot_convert(obj, "PyString");
  Py_ssize_t size = 0;
  const char* bytes = utf8_of(obj, size);
  if (bytes == nullptr) throw PythonError{};
  const Py_hash_t hash = text_hash(obj, PyUnicode_IS_COMPACT_ASCII(obj) || scan_text(obj).canonical);
  if (hash == -1) throw PythonError{};
  return {std::string_view(bytes, static_cast<std::size_t>(size)), static_cast<std::uint64_t>(hash)};
}

namespace {

bool is_numpy_bool(PyTypeObject* type) {
  Ref module = Ref::steal(PyObject_GetAttrString(reinterpret_cast<PyObject*>(type), "__module__"));
  if (!module || !PyUnicode_Check(module.get()) || PyUnicode_CompareWithASCIIString(module.get(), "numpy") != 0) {
    PyErr_Clear();
    return false;
  }
  Ref name = Ref::steal(PyType_GetName(type));
  if (!name || !PyUnicode_Check(name.get())) {
    PyErr_Clear();
    return false;
  }
  return PyUnicode_CompareWithASCIIString(name.get(), "bool_") == 0 ||
         PyUnicode_CompareWithASCIIString(name.get(), "bool") == 0;
}

}  // namespace

EdgeList to_edge_list(PyObject* obj) { return to_edge_list_with_limit(obj, kEndMarker); }

namespace {

// Sixteen pairs ahead, the pair; eight ahead, its two strs, whose headers,
// cached hashes and (for the short names of a dependency graph) characters
// share a cache line.
[[gnu::always_inline]] inline void prefetch_pairs(PyObject* const* items, Py_ssize_t i, Py_ssize_t size) {
  if (i + 16 < size) __builtin_prefetch(items[i + 16]);
  if (i + 8 < size) {
    PyObject* item = items[i + 8];
    if (PyTuple_CheckExact(item) && PyTuple_GET_SIZE(item) == 2) {
      __builtin_prefetch(PyTuple_GET_ITEM(item, 0));
      __builtin_prefetch(PyTuple_GET_ITEM(item, 1));
    }
  }
}

// The pair's two names, converted as `name_key` would but only when that
// can neither run Python code nor leave an error: a tuple of two strs that
// have a UTF-8 form. Making that form, or a canonical copy to hash, only
// allocates memory, and the interpreter collects garbage (which may run
// finalisers) between bytecodes or at a signal check, never inside an
// allocation. Short of memory, the pair is left to the careful path.
bool plain_pair(PyObject* item, NameKey& source, NameKey& target) {
  if (!PyTuple_Check(item) || PyTuple_GET_SIZE(item) != 2) return false;
  PyObject* names[2] = {PyTuple_GET_ITEM(item, 0), PyTuple_GET_ITEM(item, 1)};
  NameKey* keys[2] = {&source, &target};
  for (int k = 0; k < 2; ++k) {
    PyObject* name = names[k];
    if (!PyUnicode_Check(name)) return false;
    const TextScan scan = PyUnicode_IS_COMPACT_ASCII(name) ? TextScan{} : scan_text(name);
    if (scan.surrogate) return false;
    Py_ssize_t size = 0;
    const char* bytes = utf8_of(name, size);
    const Py_hash_t hash = bytes != nullptr ? text_hash(name, scan.canonical) : -1;
    if (hash == -1) {
      PyErr_Clear();
      return false;
    }
    *keys[k] = {std::string_view(bytes, static_cast<std::size_t>(size)), static_cast<std::uint64_t>(hash)};
  }
  return true;
}

// Whether a list of this many pairs is converted with an interning thread.
bool intern_apart(PyObject* obj, std::size_t pairs) {
  if (!PyList_CheckExact(obj) && !PyTuple_CheckExact(obj)) return false;
  const CallMode mode = call_mode_quietly();
  if (!mode.concurrent || mode.threads.count < 2) return false;
  return 2 * pairs >= parallel_tuning().min_work && affordable_workers(2) >= 2;
}

// The pair's names, or the conversion's error. Inlined: it sits in the
// loop over every pair of the list.
[[gnu::always_inline]] inline void pair_keys(PyObject* item, NameKey& source, NameKey& target) {
  if (!PyTuple_Check(item)) cannot_convert(item, "PyTuple");
  if (PyTuple_GET_SIZE(item) != 2) {
    PyErr_Format(PyExc_ValueError, "expected tuple of length 2, but got tuple of length %zd", PyTuple_GET_SIZE(item));
    throw PythonError{};
  }
  source = name_key(PyTuple_GET_ITEM(item, 0));
  target = name_key(PyTuple_GET_ITEM(item, 1));
}

// In concurrent mode a long list is read and interned at once: this
// thread, which holds the interpreter lock, reads the pairs and hands their
// names to an InterningThread. That thread reads the characters of strs
// that the list holds, and the list holds them only as long as no Python
// code runs: a signal handler, or a finaliser run by the collector, may
// change the list and free them. So this thread drains the interning thread
// before each interrupt check, and before any pair that it cannot convert
// without raising (anything but a tuple of two strs with a UTF-8 form: see
// plain_pair). A failure of the interning thread comes from a pair before
// the one this thread is at, so it is the one raised. A handler
// that forks leaves the child without the interning thread: the child goes
// on interning in place.
//
// False if the interning thread could not be started and nothing was done.
template <class ReadPair>
bool to_edge_list_apart(PyObject* obj, EdgeList& edges, ReadPair&& read_pair) {
  InterningThread interner(edges);
  if (!interner.start()) return false;
  DrainFirst drain_first{&interner, nullptr};
  const ThreadCheck check(&DrainFirst::poll, &drain_first);
  drain_first.check = &check;
  std::size_t index = 0;
  for_each_item(obj, [&](PyObject* item) {
    NameKey source;
    NameKey target;
    if (!plain_pair(item, source, target)) {
      interner.drain();
      read_pair(item, index, source, target);
    }
    interner.add(source, target);
    ++index;
  }, prefetch_pairs);
  interner.drain();
  return true;
}

// The conversion of a whole edge list, each item read by
// read_pair(item, index, source, target).
template <class ReadPair>
EdgeList edge_list_of(PyObject* obj, std::size_t pairs, std::uint32_t index_limit, ReadPair&& read_pair) {
  EdgeList edges;
  if (index_limit != kEndMarker) edges.set_index_limit(index_limit);
  edges.reserve(pairs);
  if (intern_apart(obj, pairs) && to_edge_list_apart(obj, edges, read_pair)) return edges;
  std::size_t index = 0;
  for_each_item(obj, [&](PyObject* item) {
    NameKey source;
    NameKey target;
    read_pair(item, index++, source, target);
    edges.add(source, target);
  }, [&edges](PyObject* const* items, Py_ssize_t i, Py_ssize_t size) {
    prefetch_pairs(items, i, size);
    // Closer, by the cached hashes, what interning them will read, once the
    // names outgrow the nearer caches (before that, the hints cost more than
    // the waits they save).
    const NameTable& names = edges.names();
    if (names.size() < kNamesWorthHints) return;
    auto hint = [&](Py_ssize_t d, auto&& step) {
      if (i + d >= size) return;
      PyObject* item = items[i + d];
      if (!PyTuple_CheckExact(item) || PyTuple_GET_SIZE(item) != 2) return;
      for (Py_ssize_t k = 0; k < 2; ++k) {
        PyObject* name = PyTuple_GET_ITEM(item, k);
        if (!PyUnicode_Check(name)) continue;
        const Py_hash_t hash = reinterpret_cast<PyASCIIObject*>(name)->hash;
        if (hash != -1) step(static_cast<std::uint64_t>(hash));
      }
    };
    hint(4, [&](std::uint64_t hash) { names.prefetch_slot(hash); });
    hint(2, [&](std::uint64_t hash) { names.prefetch_bytes(hash); });
  });
  return edges;
}

// A short, one-line description of a bad item for a message: its repr,
// cut to a length, and its type.
Ref describe(PyObject* item) {
  constexpr Py_ssize_t kShown = 60;
  Ref type = type_qualname(item);
  Ref text = Ref::steal(PyObject_Repr(item));
  if (!text) {
    // Its repr failed: an interrupt goes on, anything else is forgotten.
    if (PyErr_Occurred() && !PyErr_ExceptionMatches(PyExc_Exception)) throw PythonError{};
    PyErr_Clear();
    return check(PyUnicode_FromFormat("a %U", type.get()));
  }
  if (PyUnicode_GET_LENGTH(text.get()) > kShown) {
    Ref cut = check(PyUnicode_Substring(text.get(), 0, kShown));
    text = check(PyUnicode_FromFormat("%U...", cut.get()));
  }
  return check(PyUnicode_FromFormat("%U (%U)", text.get(), type.get()));
}

[[noreturn]] void bad_pair(std::size_t index, PyObject* item, const char* what) {
  Ref shown = describe(item);
  PyErr_Format(PyExc_TypeError, "edges[%zu] is not a (source, target) pair of str: %s, got %U", index, what,
               shown.get());
  throw PythonError{};
}

// A pair as a graph takes it: a tuple or a list of two strs.
void graph_pair_keys(PyObject* item, std::size_t index, NameKey& source, NameKey& target) {
  if (!PyTuple_Check(item) && !PyList_Check(item)) bad_pair(index, item, "not a tuple or list");
  // A list's items may change while its second name is read only if Python
  // code runs, and reading a str's UTF-8 form runs none.
  const Py_ssize_t size = PySequence_Fast_GET_SIZE(item);
  if (size != 2) bad_pair(index, item, size < 2 ? "too few items" : "too many items");
  PyObject* names[2] = {PySequence_Fast_GET_ITEM(item, 0), PySequence_Fast_GET_ITEM(item, 1)};
  if (!PyUnicode_Check(names[0]) || !PyUnicode_Check(names[1])) bad_pair(index, item, "a name that is not a str");
  source = name_key(names[0]);
  target = name_key(names[1]);
}

}  // namespace

EdgeList to_edge_list_with_limit(PyObject* obj, std::uint32_t index_limit) {
  return edge_list_of(obj, begin_sequence(obj), index_limit,
                      [](PyObject* item, std::size_t, NameKey& source, NameKey& target) {
                        pair_keys(item, source, target);
                      });
}

EdgeList to_graph_edges(PyObject* obj) {
  if (PyUnicode_Check(obj) || PyBytes_Check(obj) || PyByteArray_Check(obj)) {
    Ref name = type_qualname(obj);
    PyErr_Format(PyExc_TypeError, "edges must be an iterable of (source, target) pairs, not %U", name.get());
    throw PythonError{};
  }
  std::size_t pairs = 0;
  if (PySequence_Check(obj)) {
    pairs = length_hint(obj);
  } else if (!PyIter_Check(obj) && Py_TYPE(obj)->tp_iter == nullptr) {
    Ref name = type_qualname(obj);
    PyErr_Format(PyExc_TypeError, "edges must be an iterable of (source, target) pairs, not %U", name.get());
    throw PythonError{};
  }
  return edge_list_of(obj, pairs, kEndMarker, graph_pair_keys);
}

OwnedName to_node_name(PyObject* obj) {
  const NameKey key = name_key(obj);
  return {std::string(key.bytes), key.hash};
}

NameList to_name_list(PyObject* obj) {
  NameList names;
  names.reserve(begin_sequence(obj));
  for_each_item(obj, [&](PyObject* item) { names.push_back(name_key(item)); });
  return names;
}

std::uint64_t to_u64(PyObject* obj) {
  Ref index;
  if (!PyLong_Check(obj)) {
    index = check(PyNumber_Index(obj));
    obj = index.get();
  }
  const unsigned long long value = PyLong_AsUnsignedLongLong(obj);
  if (value == static_cast<unsigned long long>(-1) && PyErr_Occurred()) throw PythonError{};
  return value;
}

double to_double(PyObject* obj) {
  if (PyFloat_CheckExact(obj)) return PyFloat_AS_DOUBLE(obj);
  const double value = PyFloat_AsDouble(obj);
  if (value == -1.0 && PyErr_Occurred()) throw PythonError{};
  return value;
}

bool to_bool(PyObject* obj) {
  if (PyBool_Check(obj)) return obj == Py_True;
  PyTypeObject* type = Py_TYPE(obj);
  if (is_numpy_bool(type)) {
    inquiry truth = type->tp_as_number != nullptr ? type->tp_as_number->nb_bool : nullptr;
    if (truth == nullptr) {
      PyErr_Format(PyExc_AttributeError, "object of type '%S' does not define a '__bool__' conversion",
                   reinterpret_cast<PyObject*>(type));
      throw PythonError{};
    }
    const int value = truth(obj);
    if (value == 0 || value == 1) return value == 1;
    throw_pending();
  }
  cannot_convert(obj, "PyBool");
}

namespace {

bool is_ascii(std::string_view bytes) noexcept {
  std::uint64_t seen = 0;
  std::size_t i = 0;
  for (; i + 8 <= bytes.size(); i += 8) {
    std::uint64_t word;
    std::memcpy(&word, bytes.data() + i, 8);
    seen |= word;
  }
  for (; i < bytes.size(); ++i) seen |= static_cast<unsigned char>(bytes[i]);
  return (seen & 0x8080808080808080u) == 0;
}

// A dict about to receive `size` distinct keys, made at the size it would
// grow to rather than grown and rehashed on the way. The interpreter sizes
// it (and caps what it sets aside) itself; its one function for that is
// outside the stable interface, so versions not built against here grow
// their dicts.
Ref dict_for(std::size_t size) {
#if PY_VERSION_HEX < 0x030E0000
  return created(_PyDict_NewPresized(static_cast<Py_ssize_t>(std::min<std::size_t>(size, PY_SSIZE_T_MAX))));
#else
  static_cast<void>(size);
  return created(PyDict_New());
#endif
}

}  // namespace

Ref name_to_str(NameKey name) {
  const std::string_view bytes = name.bytes;
  Ref str;
  // Most names are ASCII, which a str holds byte for byte: copied, not
  // decoded.
  if (is_ascii(bytes)) {
    str = created(PyUnicode_New(static_cast<Py_ssize_t>(bytes.size()), 127));
    if (!bytes.empty()) std::memcpy(PyUnicode_1BYTE_DATA(str.get()), bytes.data(), bytes.size());
  } else {
    str = created(PyUnicode_FromStringAndSize(bytes.data(), static_cast<Py_ssize_t>(bytes.size())));
  }
  // A str that nobody else holds yet gets its hash set as the str type
  // would cache it on first use, and the result's dicts need not compute it
  // again. The interpreter hands out shared strs for the empty text and for
  // single Latin-1 characters: those are left as they are.
  auto* header = reinterpret_cast<PyASCIIObject*>(str.get());
  if (Py_REFCNT(str.get()) == 1 && header->hash == -1) header->hash = static_cast<Py_hash_t>(name.hash);
  return str;
}

namespace {

// A result list made at its final length and filled by slot. Building a
// large result polls for Ctrl-C, and the signal handlers that the poll runs
// may run any Python code, the garbage collector's included: the list stays
// out of the collector's sight until every slot is filled, so that nothing
// can reach it with empty slots. Dropped unfinished, it frees the items it
// holds and skips the empty slots.
class SlotList {
 public:
  explicit SlotList(std::size_t size) : list_(created(PyList_New(static_cast<Py_ssize_t>(size)))) {
    PyObject_GC_UnTrack(list_.get());
  }
  void set(std::size_t i, Ref item) noexcept {
    PyList_SET_ITEM(list_.get(), static_cast<Py_ssize_t>(i), item.release());
  }
  PyObject* get(std::size_t i) const noexcept { return PyList_GET_ITEM(list_.get(), static_cast<Py_ssize_t>(i)); }
  Ref finish() && noexcept {
    PyObject_GC_Track(list_.get());
    return std::move(list_);
  }
  // The list, filled, still out of the collector's sight.
  Ref finish_untracked() && noexcept { return std::move(list_); }

 private:
  Ref list_;
};

// A list of lists, every one out of the collector's sight until all are
// filled. A result of millions of lists would otherwise bring collections
// on while it is built, and each would walk the lists built so far: the
// collector runs at the interrupt checks, before the signal handlers, and
// a Ctrl-C would wait for it.
class NestedLists {
 public:
  explicit NestedLists(std::size_t size) : outer_(size) { inner_.reserve(size); }
  void set(std::size_t i, SlotList inner) {
    Ref list = std::move(inner).finish_untracked();
    inner_.push_back(list.get());
    outer_.set(i, std::move(list));
  }
  Ref finish() && noexcept {
    for (PyObject* list : inner_) PyObject_GC_Track(list);
    return std::move(outer_).finish();
  }

 private:
  SlotList outer_;
  std::vector<PyObject*> inner_;  // borrowed: the outer list holds them
};

// Stores name -> depth into `dict` for one search's nodes: found[begin, ...)
// cut at the given level ends, the first level at depth 1. One int serves a
// whole level.
void store_depths(PyObject* dict, const Graph& graph, const std::vector<NodeId>& found, std::size_t begin,
                  std::span<const std::size_t> level_end, Poller& poller, NameStrs* strs = nullptr) {
  for (std::size_t level = 0; level < level_end.size(); ++level) {
    const std::size_t end = level_end[level];
    if (begin == end) continue;
    Ref depth = created(PyLong_FromUnsignedLongLong(level + 1));
    const NameTable& names = graph.names();
    for (std::size_t i = begin; i < end; ++i) {
      poller.tick(kUnitsPerObject);
      // The names of a search lie all over the table: their records and
      // bytes are asked for a few names ahead.
      if (strs != nullptr) {
        if (i + 8 < found.size()) strs->prefetch_slot(found[i + 8]);
        if (i + 4 < found.size()) strs->prefetch_str(found[i + 4]);
        Ref key = strs->get(graph, found[i]);
        if (PyDict_SetItem(dict, key.get(), depth.get()) < 0) dict_store_failed();
        continue;
      }
      if (i + 8 < found.size()) names.prefetch_name(found[i + 8]);
      if (i + 4 < found.size()) names.prefetch_name_bytes(found[i + 4]);
      Ref key = name_to_str(graph.key(found[i]));
      if (PyDict_SetItem(dict, key.get(), depth.get()) < 0) dict_store_failed();
    }
    begin = end;
  }
}

}  // namespace

PyObject* depth_map_to_dict(const Graph& graph, const DepthMap& depths, NameStrs* strs) {
  Ref dict = dict_for(depths.level_end.empty() ? 0 : depths.level_end.back());
  Poller poller;
  store_depths(dict.get(), graph, depths.found, 0, depths.level_end, poller, strs);
  return dict.release();
}

NameStrs::~NameStrs() {
  for (PyObject* str : strs_) Py_XDECREF(str);
}

Ref NameStrs::get(const Graph& graph, NodeId v) {
  if (strs_.empty()) strs_.assign(graph.node_count(), nullptr);
  if (PyObject* kept = strs_[v]) return Ref::borrow(kept);
  Ref str = name_to_str(graph.key(v));
  strs_[v] = Py_NewRef(str.get());
  return str;
}


PyObject* batch_to_dict(const Graph& graph, const NameList& starts, const BatchDepths& batch) {
  Ref outer = dict_for(batch.keys.size());
  const std::span<const std::size_t> all_levels(batch.level_end);
  Poller poller;
  for (std::size_t k = 0; k < batch.keys.size(); ++k) {
    poller.tick(kUnitsPerObject);
    Ref key = name_to_str(starts.key(batch.keys[k]));
    Ref inner = dict_for(batch.found_begin[k + 1] - batch.found_begin[k]);
    const std::size_t first = batch.level_begin[k];
    store_depths(inner.get(), graph, batch.found, batch.found_begin[k],
                 all_levels.subspan(first, batch.level_begin[k + 1] - first), poller);
    if (PyDict_SetItem(outer.get(), key.get(), inner.get()) < 0) dict_store_failed();
  }
  return outer.release();
}

PyObject* score_map_to_dict(const Graph& graph, const ScoreMap& scores) {
  Ref dict = dict_for(scores.size());
  Poller poller;
  for (std::size_t v = 0; v < scores.size(); ++v) {
    poller.tick(kUnitsPerObject);
    Ref key = name_to_str(graph.key(static_cast<NodeId>(v)));
    Ref value = created(PyFloat_FromDouble(scores[v]));
    if (PyDict_SetItem(dict.get(), key.get(), value.get()) < 0) dict_store_failed();
  }
  return dict.release();
}

PyObject* subgraph_to_tuple(const Graph& graph, const SubgraphResult& sub) {
  Poller poller;
  SlotList nodes(sub.nodes.size());
  for (std::size_t i = 0; i < sub.nodes.size(); ++i) {
    poller.tick(kUnitsPerObject);
    nodes.set(i, name_to_str(graph.key(sub.nodes[i])));
  }
  // Each member's str is made once, for the node list, and shared by the
  // edge tuples: strs are immutable, and a name can stand in many edges.
  SlotList edges(sub.edges.size());
  for (std::size_t k = 0; k < sub.edges.size(); ++k) {
    poller.tick(kUnitsPerObject);
    const auto [source, target] = sub.edges[k];
    Ref pair = created(PyTuple_New(2));
    PyTuple_SET_ITEM(pair.get(), 0, Py_NewRef(nodes.get(source)));
    PyTuple_SET_ITEM(pair.get(), 1, Py_NewRef(nodes.get(target)));
    // A tuple of two strs can be part of no cycle, and the collector would
    // untrack it at its first look; untracked now, millions of them cost the
    // next collection nothing.
    PyObject_GC_UnTrack(pair.get());
    edges.set(k, std::move(pair));
  }
  Ref result = created(PyTuple_New(2));
  PyTuple_SET_ITEM(result.get(), 0, std::move(nodes).finish().release());
  PyTuple_SET_ITEM(result.get(), 1, std::move(edges).finish().release());
  return result.release();
}

PyObject* components_to_list(const Graph& graph, const Components& components) {
  Poller poller;
  NestedLists outer(components.size());
  std::size_t begin = 0;
  for (std::size_t c = 0; c < components.size(); ++c) {
    const std::size_t end = components.ends[c];
    SlotList inner(end - begin);
    for (std::size_t k = begin; k < end; ++k) {
      poller.tick(kUnitsPerObject);
      inner.set(k - begin, name_to_str(graph.key(components.members[k])));
    }
    outer.set(c, std::move(inner));
    begin = end;
  }
  return std::move(outer).finish().release();
}

PyObject* names_to_list(const Graph& graph, std::span<const NodeId> nodes, NameStrs* strs) {
  Poller poller;
  SlotList list(nodes.size());
  for (std::size_t i = 0; i < nodes.size(); ++i) {
    poller.tick(kUnitsPerObject);
    list.set(i, strs != nullptr ? strs->get(graph, nodes[i]) : name_to_str(graph.key(nodes[i])));
  }
  return std::move(list).finish().release();
}

PyObject* groups_to_list(const Graph& graph, std::span<const NodeId> members, std::span<const std::size_t> ends,
                         std::size_t first, std::size_t last) {
  Poller poller;
  NestedLists outer(last - first);
  for (std::size_t g = first; g < last; ++g) {
    const std::size_t begin = g == 0 ? 0 : ends[g - 1];
    SlotList inner(ends[g] - begin);
    for (std::size_t k = begin; k < ends[g]; ++k) {
      poller.tick(kUnitsPerObject);
      inner.set(k - begin, name_to_str(graph.key(members[k])));
    }
    outer.set(g - first, std::move(inner));
  }
  return std::move(outer).finish().release();
}

PyObject* lists_to_list(const Graph& graph, const std::vector<std::vector<NodeId>>& lists) {
  Poller poller;
  NestedLists outer(lists.size());
  for (std::size_t k = 0; k < lists.size(); ++k) {
    SlotList inner(lists[k].size());
    for (std::size_t i = 0; i < lists[k].size(); ++i) {
      poller.tick(kUnitsPerObject);
      inner.set(i, name_to_str(graph.key(lists[k][i])));
    }
    outer.set(k, std::move(inner));
  }
  return std::move(outer).finish().release();
}

PyObject* pairs_to_list(PyObject* names, const std::vector<EdgePair>& pairs) {
  Poller poller;
  SlotList list(pairs.size());
  for (std::size_t k = 0; k < pairs.size(); ++k) {
    poller.tick(kUnitsPerObject);
    Ref pair = created(PyTuple_Pack(2, PyList_GET_ITEM(names, pairs[k].source), PyList_GET_ITEM(names, pairs[k].target)));
    // Two strs: no cycle, and no work for the collector.
    PyObject_GC_UnTrack(pair.get());
    list.set(k, std::move(pair));
  }
  return std::move(list).finish().release();
}

PyObject* count_pairs_to_dict(const Graph& graph, std::span<const std::uint64_t> first,
                              std::span<const std::uint64_t> second) {
  Ref dict = dict_for(first.size());
  Poller poller;
  for (std::size_t v = 0; v < first.size(); ++v) {
    poller.tick(4 * kUnitsPerObject);
    Ref key = name_to_str(graph.key(static_cast<NodeId>(v)));
    Ref a = created(PyLong_FromUnsignedLongLong(first[v]));
    Ref b = created(PyLong_FromUnsignedLongLong(second[v]));
    Ref pair = created(PyTuple_Pack(2, a.get(), b.get()));
    // Two ints: no cycle, and no work for the collector.
    PyObject_GC_UnTrack(pair.get());
    if (PyDict_SetItem(dict.get(), key.get(), pair.get()) < 0) dict_store_failed();
  }
  return dict.release();
}

}  // namespace lhg::py
