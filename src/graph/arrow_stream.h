// Edge lists read from Arrow data handed over through the C stream
// interface: a stream of record batches, two of whose columns hold the
// source and target names.
//
// The three structs are those of the Arrow C data and C stream interfaces,
// declared here from their published layout: no Arrow library is linked,
// and nothing here knows who produced the data. Each struct that this side
// comes to own has an owner below that calls its release callback exactly
// once, whatever path the call leaves by.
//
// Everything the producer hands over is checked before it is relied on:
// formats, buffer counts, null buffer pointers, lengths and offsets (each
// offset at least the one before it and no later than the column's last),
// validity bits, dictionary indices, the buffer index and the range of a
// string view against the sizes that the format lists for its data
// buffers, and the UTF-8 of every name read. What no consumer can check is
// that a pointer points at as many bytes as the structs say: a buffer whose
// length the format does not carry (the offsets, the views, the validity
// bits, the bytes of utf8 columns, which the last offset bounds) is taken
// to be as long as the structs say it is.
#pragma once

#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "graph/graph.h"
#include "graph/utf8.h"

namespace lhg {

extern "C" {

struct ArrowSchema {
  const char* format;
  const char* name;
  const char* metadata;
  std::int64_t flags;
  std::int64_t n_children;
  ArrowSchema** children;
  ArrowSchema* dictionary;
  void (*release)(ArrowSchema*);
  void* private_data;
};

struct ArrowArray {
  std::int64_t length;
  std::int64_t null_count;
  std::int64_t offset;
  std::int64_t n_buffers;
  std::int64_t n_children;
  const void** buffers;
  ArrowArray** children;
  ArrowArray* dictionary;
  void (*release)(ArrowArray*);
  void* private_data;
};

struct ArrowArrayStream {
  int (*get_schema)(ArrowArrayStream*, ArrowSchema* out);
  int (*get_next)(ArrowArrayStream*, ArrowArray* out);
  const char* (*get_last_error)(ArrowArrayStream*);
  void (*release)(ArrowArrayStream*);
  void* private_data;
};

}  // extern "C"

namespace arrow {

// Owners: each holds one struct, zeroed until a producer fills it, and
// releases it on destruction if its release callback is set. The struct
// stays where the owner is (producers may keep pointers into it until
// release), so owners do not move.
template <class T>
class Owned {
 public:
  Owned() noexcept : raw_{} {}
  ~Owned() { reset(); }
  Owned(const Owned&) = delete;
  Owned& operator=(const Owned&) = delete;

  T* get() noexcept { return &raw_; }
  const T& operator*() const noexcept { return raw_; }
  const T* operator->() const noexcept { return &raw_; }
  // Released (end of stream, or never filled).
  bool released() const noexcept { return raw_.release == nullptr; }
  void reset() noexcept {
    // A producer's release sets the callback to null itself; clearing it
    // here as well keeps a careless one from being called twice.
    if (auto release = raw_.release) {
      release(&raw_);
      raw_.release = nullptr;
    }
  }

 private:
  T raw_;
};

using OwnedSchema = Owned<ArrowSchema>;
using OwnedArray = Owned<ArrowArray>;
using OwnedStream = Owned<ArrowArrayStream>;

// What went wrong, as the boundary reports it.
enum class Fault {
  kType,    // a column that holds no strings, a stream that is no table
  kValue,   // bad data: a null, an offset out of order, invalid UTF-8
  kKey,     // no column of that name
  kIndex,   // no column at that position
  kStream,  // the producer reported an error: `code` is its errno value
};

class ArrowError : public std::runtime_error {
 public:
  ArrowError(Fault fault, const std::string& message, int code = 0)
      : std::runtime_error(message), fault_(fault), code_(code) {}
  Fault fault() const noexcept { return fault_; }
  int code() const noexcept { return code_; }

 private:
  Fault fault_;
  int code_;
};

// A column asked for: by position (negative counts from the end, as in a
// Python sequence) or by name.
struct ColumnChoice {
  bool by_name = false;
  std::int64_t position = 0;
  std::string name;
};

// How a column's strings are laid out.
enum class Layout { kUtf8, kLargeUtf8, kView };

// An integer type of dictionary indices, by its format character.
enum class IndexType : char { kNone = 0, kI8 = 'c', kU8 = 'C', kI16 = 's', kU16 = 'S', kI32 = 'i', kU32 = 'I', kI64 = 'l', kU64 = 'L' };

// A column of the schema, checked to hold strings.
struct Column {
  std::size_t child = 0;  // its position among the batch's columns
  std::string label;      // how messages name it: 'name' (position k)
  Layout layout = Layout::kUtf8;
  IndexType index = IndexType::kNone;  // not kNone: dictionary-encoded
};

// The two columns of a stream's schema, checked: the schema must be a
// struct (a record batch), and each column a string type or a dictionary
// of one.
struct EdgeColumns {
  std::size_t columns = 0;
  Column source;
  Column target;
};
EdgeColumns edge_columns(const ArrowSchema& schema, const ColumnChoice& source, const ColumnChoice& target);

// The stream's schema, checked to be a filled struct. Throws kStream with
// the producer's message when get_schema fails.
void read_schema(ArrowArrayStream& stream, OwnedSchema& schema);
// The next batch into `batch` (released before, if it held one); false at
// the end of the stream. Throws kStream when get_next fails.
bool read_batch(ArrowArrayStream& stream, OwnedArray& batch);

// Checks one record batch and adds its rows to `edges` in order, names
// filed by the table's own hashes (`edges.use_own_hashes()` first). Rows
// are numbered from `first_row` in messages. Polls for interruption.
// Returns the batch's row count.
std::size_t add_batch(EdgeList& edges, const EdgeColumns& columns, const ArrowArray& batch, std::uint64_t first_row);



// A message's text from a C string a producer gave (a name, an error): at
// most `limit` bytes of it, for a producer that forgets the terminator
// cannot be told from one with a very long message.
std::string producer_text(const char* text, std::size_t limit = 4096);

}  // namespace arrow
}  // namespace lhg
