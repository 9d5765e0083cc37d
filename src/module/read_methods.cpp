// Graph.read: a graph straight from an edge-list file, read, parsed and
// interned by the core (graph/edge_file.h) with the interpreter lock
// released, no Python object made per edge.
#include <Python.h>

#include <cerrno>
#include <string>
#include <string_view>

#include "graph/edge_file.h"
#include "graph/graph.h"
#include "module/binding.h"
#include "module/convert.h"
#include "module/concurrent.h"
#include "module/errors.h"
#include "module/graph_methods.h"
#include "module/graph_object.h"

namespace lhg::py {
namespace {

constexpr const char* kReadParams[] = {"path", "delimiter", "comment", "header", "threads"};
constexpr Signature kRead{"Graph.read", kReadParams, 5, 1, 4};

bool is_dash(PyObject* path) {
  if (PyUnicode_Check(path)) return PyUnicode_CompareWithASCIIString(path, "-") == 0;
  return PyBytes_Check(path) && PyBytes_GET_SIZE(path) == 1 && PyBytes_AS_STRING(path)[0] == '-';
}

// The path as the file system's bytes: str (encoded as os.fsencode does),
// bytes, or os.PathLike.
Ref path_bytes(PyObject* path) {
  PyObject* converted = nullptr;
  if (PyUnicode_FSConverter(path, &converted) == 0) conversion_failed("path");
  return Ref::steal(converted);
}

// The path for a message, on one line: characters that do not print
// (control characters, line separators, bytes that the file system's
// encoding does not decode) escaped as Python escapes them.
Ref display_name(PyObject* bytes) {
  Ref text = check(PyUnicode_DecodeFSDefaultAndSize(PyBytes_AS_STRING(bytes), PyBytes_GET_SIZE(bytes)));
  const Py_ssize_t size = PyUnicode_GET_LENGTH(text.get());
  const int kind = PyUnicode_KIND(text.get());
  const void* data = PyUnicode_DATA(text.get());
  std::u32string shown;
  shown.reserve(static_cast<std::size_t>(size));
  static constexpr char kHex[] = "0123456789abcdef";
  for (Py_ssize_t i = 0; i < size; ++i) {
    Py_UCS4 c = PyUnicode_READ(kind, data, i);
    if (Py_UNICODE_ISPRINTABLE(c)) {
      shown.push_back(c);
      continue;
    }
    if (c == '\n' || c == '\r' || c == '\t') {
      shown.push_back(U'\\');
      shown.push_back(c == '\n' ? U'n' : (c == '\r' ? U'r' : U't'));
      continue;
    }
    // An undecodable byte comes back as the lone surrogate U+DC80 + byte.
    if (c >= 0xDC80 && c <= 0xDCFF) c -= 0xDC00;
    const int digits = c <= 0xFF ? 2 : (c <= 0xFFFF ? 4 : 8);
    shown.push_back(U'\\');
    shown.push_back(digits == 2 ? U'x' : (digits == 4 ? U'u' : U'U'));
    for (int k = digits - 1; k >= 0; --k) shown.push_back(static_cast<char32_t>(kHex[(c >> (4 * k)) & 0xF]));
  }
  return check(PyUnicode_FromKindAndData(PyUnicode_4BYTE_KIND, shown.data(), static_cast<Py_ssize_t>(shown.size())));
}

// The UTF-8 bytes of a str argument.
std::string utf8_of(PyObject* str) {
  Py_ssize_t size = 0;
  const char* text = PyUnicode_AsUTF8AndSize(str, &size);
  if (text == nullptr) throw PythonError{};
  return {text, static_cast<std::size_t>(size)};
}

std::string delimiter_argument(PyObject* obj) {
  if (obj == nullptr || obj == Py_None) return {};
  if (!PyUnicode_Check(obj)) {
    Ref name = type_qualname(obj);
    PyErr_Format(PyExc_TypeError, "delimiter must be None or a one-character str, not %U", name.get());
    throw PythonError{};
  }
  if (PyUnicode_GET_LENGTH(obj) != 1) {
    PyErr_Format(PyExc_ValueError, "delimiter must be one character, not %R", obj);
    throw PythonError{};
  }
  const Py_UCS4 c = PyUnicode_READ_CHAR(obj, 0);
  if (c == '\n' || c == '\0') {
    PyErr_Format(PyExc_ValueError, "delimiter cannot be %R: no line holds one", obj);
    throw PythonError{};
  }
  return utf8_of(obj);
}

std::string comment_argument(PyObject* obj) {
  if (obj == nullptr) return "#";
  if (obj == Py_None) return {};
  if (!PyUnicode_Check(obj)) {
    Ref name = type_qualname(obj);
    PyErr_Format(PyExc_TypeError, "comment must be None or a str, not %U", name.get());
    throw PythonError{};
  }
  if (PyUnicode_GET_LENGTH(obj) == 0) {
    PyErr_SetString(PyExc_ValueError, "comment must not be empty (None: no comment lines)");
    throw PythonError{};
  }
  return utf8_of(obj);
}

}  // namespace

PyObject* graph_read(PyObject* cls, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return guarded([&] {
    auto* type = reinterpret_cast<PyTypeObject*>(cls);
    const auto arg = bind<5>(kRead, args, nargs, kwnames);
    PyObject* path = arg[0];
    const bool from_stdin = is_dash(path);
    const Ref bytes = path_bytes(path);
    EdgeFileFormat format;
    format.delimiter = delimiter_argument(arg[1]);
    format.comment = comment_argument(arg[2]);
    format.header = arg[3] != nullptr && convert("header", arg[3], to_bool);
    const Threads threads = threads_argument(arg[4]);
    const char* file = PyBytes_AS_STRING(bytes.get());
    try {
      Graph graph = released(Threads{}, [&](Threads) {
        return build_graph(from_stdin ? read_edge_stream(0, format, threads) : read_edge_file(file, format, threads));
      });
      return new_graph_object(type, std::move(graph)).release();
    } catch (const FileFailure& failure) {
      // Named as the caller gave it, str, bytes or path-like.
      errno = failure.error();
      PyErr_SetFromErrnoWithFilenameObject(PyExc_OSError, path);
      throw PythonError{};
    } catch (const BadEdgeFile& bad) {
      const Ref label = from_stdin ? check(PyUnicode_FromString("standard input")) : display_name(bytes.get());
      PyErr_Format(PyExc_ValueError, "%U%s%s", label.get(), bad.at_line() ? ", " : ": ", bad.what());
      throw PythonError{};
    }
  });
}

}  // namespace lhg::py
