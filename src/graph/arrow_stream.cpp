// Reading edge lists from Arrow record batches.
//
// A batch's rows are read in order, a few rows ahead of the one added to
// the edge list: each name is found, checked and hashed as its row is
// read, the batch's buffers front to back, and the name table's hints for
// it go out then, so that they have come by the time it is added. The
// reading touches only memory that lies in order; the adding waits on the
// table, and the hints let those waits overlap. Checks that concern a
// whole column (its lengths, its first and last offsets) are made once a
// batch; those that concern a row, as the row is read, so that the first
// fault in row order is the one reported. A name's UTF-8 is checked from
// the words its hash loads anyway: only a name with a byte above ASCII is
// read again to check it.
#include "graph/arrow_stream.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <limits>
#include <optional>
#include <utility>

#include "graph/interrupt.h"
#include "graph/names.h"

namespace lhg::arrow {
namespace {

// How many rows ahead of the one being added the name table's hints for
// a row go out: first for the slot where the search for each name starts,
// then for the bytes of the name found there, which the first must have
// brought. A table of a few hundred thousand names misses every cache; the
// gaps leave each hint a few hundred nanoseconds to arrive.
constexpr std::uint64_t kAddLag = 12;
constexpr std::uint64_t kBytesLag = 6;
constexpr std::size_t kRing = 16;  // rows, more than kAddLag
static_assert(kRing > kAddLag && kBytesLag < kAddLag);

// A row read: its names checked and hashed, and whether its source is the
// row before's.
struct Row {
  NameKey source;
  NameKey target;
  // The dictionary values the names were read from, or kNoEntry.
  std::uint64_t source_entry;
  std::uint64_t target_entry;
  bool same_source;
};

constexpr std::uint64_t kNoEntry = ~std::uint64_t{0};

[[noreturn]] void fail(Fault fault, const std::string& message) { throw ArrowError(fault, message); }

std::string quoted(const char* text) {
  if (text == nullptr) return "(unnamed)";
  std::string out(1, '\'');
  out += producer_text(text, 200);
  out += '\'';
  return out;
}

std::string row_text(std::uint64_t row) { return "row " + std::to_string(row); }

template <class T>
T load(const void* p, std::size_t index = 0) noexcept {
  T value;
  std::memcpy(&value, static_cast<const char*>(p) + index * sizeof(T), sizeof(T));
  return value;
}

bool bit_set(const void* bits, std::uint64_t i) noexcept {
  return ((static_cast<const unsigned char*>(bits)[i >> 3] >> (i & 7)) & 1) != 0;
}

// a + b, or a failure when it passes the largest int64.
std::int64_t add_checked(std::int64_t a, std::int64_t b, const std::string& what) {
  std::int64_t sum;
  if (__builtin_add_overflow(a, b, &sum)) fail(Fault::kValue, what + ": offset and length overflow");
  return sum;
}

// The validity bits of an array, or null when every slot is valid.
const void* validity(const ArrowArray& array, const std::string& what) {
  if (array.null_count == 0) return nullptr;
  const void* bits = array.buffers[0];
  if (bits == nullptr && array.null_count > 0) {
    fail(Fault::kValue, what + ": a null count of " + std::to_string(array.null_count) + " but no validity buffer");
  }
  return bits;
}

// The common checks of an array's header: counts that are not negative,
// the buffer count the layout has, a buffer table where buffers are read.
void check_header(const ArrowArray& array, std::int64_t buffers, const std::string& what) {
  if (array.release == nullptr) fail(Fault::kValue, what + ": an array already released");
  if (array.length < 0 || array.offset < 0) fail(Fault::kValue, what + ": a negative length or offset");
  add_checked(array.offset, array.length, what);
  if (buffers >= 0 && array.n_buffers != buffers) {
    fail(Fault::kValue, what + ": " + std::to_string(array.n_buffers) + " buffers where its type has " +
                            std::to_string(buffers));
  }
  if (array.n_buffers > 0 && array.buffers == nullptr) fail(Fault::kValue, what + ": no buffer table");
}

// Whether bytes whose loads ORed to `seen` are UTF-8: ASCII, or checked.
bool valid_text(std::string_view bytes, std::uint64_t seen) noexcept {
  return all_ascii(seen) || valid_utf8_prefix(bytes) == bytes.size();
}

// One name of a column as read: its bytes (and, from a dictionary read
// ahead, its hash), or why the row has none. A name read from the bytes
// of a column has its UTF-8 checked as it is hashed.
// (kBadValue: a dictionary value read ahead whose layout is at fault, to be
// reported by the first row that names it.)
enum class Slot : unsigned char { kName, kNull, kBadUtf8, kBadValue };

// The strings of one array (a column, or a dictionary's values) in one of
// the three layouts, their layout checked as they are read; their UTF-8 is
// the reader's to check.
class Strings {
 public:
  // The rows first .. first + count - 1 of `array`, called `unit`s in
  // messages (rows of the stream, or values of a dictionary).
  Strings(const ArrowArray& array, Layout layout, std::int64_t first, std::int64_t count, const std::string& what,
          const char* unit)
      : layout_(layout), what_(what), unit_(unit) {
    check_header(array, layout == Layout::kView ? -1 : 3, what);
    if (layout == Layout::kView && array.n_buffers < 3) {
      fail(Fault::kValue, what + ": " + std::to_string(array.n_buffers) +
                              " buffers where a string view has at least 3");
    }
    if (add_checked(first, count, what) > array.length) {
      fail(Fault::kValue, what + ": " + std::to_string(array.length) + " rows where the batch has " +
                              std::to_string(first + count));
    }
    valid_ = validity(array, what);
    begin_ = static_cast<std::uint64_t>(array.offset + first);
    if (layout == Layout::kView) {
      views_ = array.buffers[1];
      if (views_ == nullptr && count > 0) fail(Fault::kValue, what + ": no views buffer");
      variadic_ = static_cast<std::uint64_t>(array.n_buffers - 3);
      data_buffers_ = array.buffers + 2;
      sizes_ = array.buffers[array.n_buffers - 1];
      if (sizes_ == nullptr && variadic_ > 0) fail(Fault::kValue, what + ": no buffer of data buffer sizes");
      return;
    }
    offsets_ = array.buffers[1];
    data_ = static_cast<const char*>(array.buffers[2]);
    if (offsets_ == nullptr) {
      if (array.length > 0) fail(Fault::kValue, what + ": no offsets buffer");
      return;
    }
    // Offsets of the rows read, and the column's last one, which bounds
    // its bytes: the rows read may not reach past it.
    const std::uint64_t end = static_cast<std::uint64_t>(array.offset + array.length);
    const std::int64_t last = offset(end);
    const std::int64_t lo = offset(begin_);
    const std::int64_t hi = offset(begin_ + static_cast<std::uint64_t>(count));
    start_ = lo;
    end_ = hi;
    if (lo < 0 || hi < lo || last < hi) {
      fail(Fault::kValue, what + ": offsets " + std::to_string(lo) + " to " + std::to_string(hi) +
                              " of its rows are not within 0 to its last offset, " + std::to_string(last));
    }
    if (data_ == nullptr && hi > lo) fail(Fault::kValue, what + ": no data buffer");
  }

  // The name at index i of the rows read (0 = `first`), numbered `unit` in
  // messages, its UTF-8 unchecked; throws on a fault of the layout.
  [[gnu::always_inline]] Slot read(std::uint64_t i, std::uint64_t unit, std::string_view& bytes) const {
    const std::uint64_t p = begin_ + i;
    if (valid_ != nullptr && !bit_set(valid_, p)) return Slot::kNull;
    if (layout_ == Layout::kView) {
      bytes = view(p, unit);
    } else {
      // Each offset at least the one before it, and both within the first
      // and the last row's: a row reads no byte that the rows read do not
      // cover, whether the rows are read in order or (a dictionary's
      // values) by index.
      const std::int64_t lo = offset(p);
      const std::int64_t hi = offset(p + 1);
      if (lo < start_ || hi < lo || hi > end_) {
        fail(Fault::kValue, where(unit) + ": offsets " + std::to_string(lo) + " to " + std::to_string(hi) +
                                " out of order");
      }
      bytes = hi == lo ? std::string_view() : std::string_view(data_ + lo, static_cast<std::size_t>(hi - lo));
    }
    return Slot::kName;
  }

 private:
  std::int64_t offset(std::uint64_t p) const noexcept {
    return layout_ == Layout::kUtf8 ? std::int64_t{load<std::int32_t>(offsets_, p)} : load<std::int64_t>(offsets_, p);
  }

  // A view: 4 bytes of length, then the bytes themselves when they fit in
  // the 12 that follow, else 4 bytes of prefix, a data buffer's index and
  // the offset in it.
  std::string where(std::uint64_t unit) const { return what_ + ", " + unit_ + " " + std::to_string(unit); }

  std::string_view view(std::uint64_t p, std::uint64_t row) const {
    const char* v = static_cast<const char*>(views_) + 16 * p;
    const std::int32_t length = load<std::int32_t>(v);
    if (length < 0) fail(Fault::kValue, where(row) + ": a view of negative length");
    if (length <= 12) return {v + 4, static_cast<std::size_t>(length)};
    const std::int32_t buffer = load<std::int32_t>(v + 8);
    const std::int32_t start = load<std::int32_t>(v + 12);
    if (buffer < 0 || static_cast<std::uint64_t>(buffer) >= variadic_) {
      fail(Fault::kValue, where(row) + ": a view into data buffer " + std::to_string(buffer) +
                              " of " + std::to_string(variadic_));
    }
    const std::int64_t size = load<std::int64_t>(sizes_, static_cast<std::size_t>(buffer));
    const char* data = static_cast<const char*>(data_buffers_[buffer]);
    if (start < 0 || std::int64_t{start} + length > size || data == nullptr) {
      fail(Fault::kValue, where(row) + ": a view of bytes " + std::to_string(start) + " to " +
                              std::to_string(std::int64_t{start} + length) + " of a data buffer of " +
                              std::to_string(size));
    }
    if (std::memcmp(v + 4, data + start, 4) != 0) {
      fail(Fault::kValue, where(row) + ": a view whose prefix differs from its bytes");
    }
    return {data + start, static_cast<std::size_t>(length)};
  }

  Layout layout_;
  std::string what_;
  const char* unit_;
  const void* valid_ = nullptr;
  std::uint64_t begin_ = 0;  // physical index of the first row read
  const void* offsets_ = nullptr;
  std::int64_t start_ = 0;  // the offset where the rows read start
  std::int64_t end_ = 0;    // the offset where the rows read end
  const char* data_ = nullptr;
  const void* views_ = nullptr;
  const void* const* data_buffers_ = nullptr;
  const void* sizes_ = nullptr;
  std::uint64_t variadic_ = 0;
};

struct DictEntry {
  NameKey key;
  Slot slot;
};

// One column of a batch: its strings directly, or its dictionary's values,
// read and hashed once each, through its indices.
class ColumnReader {
 public:
  ColumnReader(const Column& column, const ArrowArray& array, const ArrowArray& batch, const EdgeList& edges)
      : column_(column), what_("column " + column.label) {
    if (column.index == IndexType::kNone) {
      strings_.emplace(array, column.layout, batch.offset, batch.length, what_, "row");
      return;
    }
    check_header(array, 2, what_);
    if (add_checked(batch.offset, batch.length, what_) > array.length) {
      fail(Fault::kValue, what_ + ": " + std::to_string(array.length) + " rows where the batch has " +
                              std::to_string(batch.offset + batch.length));
    }
    valid_ = validity(array, what_);
    begin_ = static_cast<std::uint64_t>(array.offset + batch.offset);
    indices_ = array.buffers[1];
    if (indices_ == nullptr && batch.length > 0) fail(Fault::kValue, what_ + ": no buffer of dictionary indices");
    if (array.dictionary == nullptr) fail(Fault::kValue, what_ + ": dictionary-encoded without a dictionary");
    const ArrowArray& values = *array.dictionary;
    values_.emplace(values, column.layout, 0, values.length, what_ + "'s dictionary", "value");
    dictionary_size_ = static_cast<std::uint64_t>(values.length);
    // Each value read and hashed once, where the batch has at least as
    // many rows as the dictionary values: a producer may hand the whole of
    // a large dictionary over with every short batch. Either way a value
    // is checked only when a row names it: a fault in a value that no row
    // names is no fault of the table's, however long the batch.
    if (values.length > batch.length) return;
    entries_.resize(static_cast<std::size_t>(values.length));
    Poller poller;
    const std::uint64_t seed = edges.names().seed();
    for (std::size_t k = 0; k < entries_.size(); ++k) {
      poller.tick();
      std::string_view bytes;
      Slot slot;
      try {
        slot = values_->read(k, k, bytes);
      } catch (const ArrowError&) {
        entries_[k] = {{}, Slot::kBadValue};
        continue;
      }
      std::uint64_t seen;
      const std::uint64_t hash = hash_bytes(bytes, seed, seen);
      if (slot == Slot::kName && !valid_text(bytes, seen)) slot = Slot::kBadUtf8;
      entries_[k] = {{bytes, hash}, slot};
    }
    numbers_.assign(entries_.size(), kNoNode);
    hashed_ = true;
  }

  // The name at row i; `entry` gets the dictionary value it was read from,
  // where read() gives hashes, or else kNoEntry.
  [[gnu::always_inline]] Slot read(std::uint64_t i, std::uint64_t row, NameKey& key, std::uint64_t& entry) const {
    entry = kNoEntry;
    if (strings_) {
      std::string_view bytes;
      const Slot slot = strings_->read(i, row, bytes);
      key = NameKey{bytes, 0};
      return slot;
    }
    const std::uint64_t p = begin_ + i;
    if (valid_ != nullptr && !bit_set(valid_, p)) return Slot::kNull;
    const std::uint64_t k = index(p);
    if (k >= dictionary_size_) {
      fail(Fault::kValue, what_ + ", " + row_text(row) + ": dictionary index " + index_text(p) +
                              " outside a dictionary of " + std::to_string(dictionary_size_));
    }
    if (!hashed_) {
      std::string_view bytes;
      const Slot slot = values_->read(k, k, bytes);
      key = NameKey{bytes, 0};
      return slot;
    }
    entry = k;
    key = entries_[k].key;
    if (entries_[k].slot == Slot::kBadValue) [[unlikely]] fail_on_value(k);
    return entries_[k].slot;
  }

  // Whether read() gives keys with their hashes.
  bool hashed() const noexcept { return hashed_; }
  // The node number of a dictionary value, kNoNode until it is interned:
  // the rows that name a value again need no search of the table. Numbers
  // are given in row order, so the first row to name a value numbers it,
  // as it would without the dictionary.
  NodeId& number(std::uint64_t entry) const noexcept { return numbers_[entry]; }
  const std::string& what() const noexcept { return what_; }

 private:
  // Reports the fault of dictionary value k that the reading ahead found,
  // in the words of reading it when a row names it.
  [[noreturn]] void fail_on_value(std::uint64_t k) const {
    std::string_view bytes;
    static_cast<void>(values_->read(k, k, bytes));
    fail(Fault::kValue, what_ + "'s dictionary, value " + std::to_string(k) + ": changed while it was read");
  }

  // The index at p, as unsigned: a negative one wraps past any dictionary.
  std::uint64_t index(std::uint64_t p) const noexcept {
    switch (column_.index) {
      case IndexType::kI8: return static_cast<std::uint64_t>(std::int64_t{load<std::int8_t>(indices_, p)});
      case IndexType::kU8: return load<std::uint8_t>(indices_, p);
      case IndexType::kI16: return static_cast<std::uint64_t>(std::int64_t{load<std::int16_t>(indices_, p)});
      case IndexType::kU16: return load<std::uint16_t>(indices_, p);
      case IndexType::kI32: return static_cast<std::uint64_t>(std::int64_t{load<std::int32_t>(indices_, p)});
      case IndexType::kU32: return load<std::uint32_t>(indices_, p);
      case IndexType::kI64: return static_cast<std::uint64_t>(load<std::int64_t>(indices_, p));
      case IndexType::kU64: return load<std::uint64_t>(indices_, p);
      case IndexType::kNone: break;
    }
    return std::numeric_limits<std::uint64_t>::max();
  }

  std::string index_text(std::uint64_t p) const {
    const std::uint64_t k = index(p);
    const bool is_signed = column_.index == IndexType::kI8 || column_.index == IndexType::kI16 ||
                           column_.index == IndexType::kI32 || column_.index == IndexType::kI64;
    return is_signed ? std::to_string(static_cast<std::int64_t>(k)) : std::to_string(k);
  }

  const Column& column_;
  std::string what_;
  std::optional<Strings> strings_;
  std::optional<Strings> values_;  // a dictionary's
  std::uint64_t dictionary_size_ = 0;
  bool hashed_ = false;
  const void* valid_ = nullptr;
  std::uint64_t begin_ = 0;
  const void* indices_ = nullptr;
  std::vector<DictEntry> entries_;
  mutable std::vector<NodeId> numbers_;
};

// A format string's layout of strings, if it is one.
bool string_layout(const char* format, Layout& layout) {
  const std::string_view f(format);
  if (f == "u") {
    layout = Layout::kUtf8;
  } else if (f == "U") {
    layout = Layout::kLargeUtf8;
  } else if (f == "vu") {
    layout = Layout::kView;
  } else {
    return false;
  }
  return true;
}

Column column_of(const ArrowSchema& schema, std::size_t k) {
  const ArrowSchema* child = schema.children[k];
  if (child == nullptr || child->format == nullptr) {
    fail(Fault::kValue, "the stream's schema has no type for column " + std::to_string(k));
  }
  Column column;
  column.child = k;
  column.label = quoted(child->name) + " (position " + std::to_string(k) + ")";
  const std::string format = producer_text(child->format, 200);
  const auto not_strings = [&] {
    fail(Fault::kType, "column " + column.label + " has Arrow format '" + format +
                           "', not strings (utf8 'u', large_utf8 'U', string_view 'vu' or a dictionary of them)");
  };
  if (child->dictionary == nullptr) {
    if (!string_layout(child->format, column.layout)) not_strings();
    return column;
  }
  if (format.size() != 1 || std::string_view("cCsSiIlL").find(format[0]) == std::string_view::npos) not_strings();
  const ArrowSchema* values = child->dictionary;
  if (values->format == nullptr || values->dictionary != nullptr || !string_layout(values->format, column.layout)) {
    const std::string value_format = values->format == nullptr ? "" : producer_text(values->format, 200);
    fail(Fault::kType, "column " + column.label + " is dictionary-encoded with values of Arrow format '" +
                           value_format + "', not strings (utf8 'u', large_utf8 'U' or string_view 'vu')");
  }
  column.index = static_cast<IndexType>(format[0]);
  return column;
}

std::size_t find_column(const ArrowSchema& schema, const ColumnChoice& choice) {
  const auto count = static_cast<std::size_t>(schema.n_children);
  if (!choice.by_name) {
    std::int64_t k = choice.position;
    if (k < 0) k += schema.n_children;
    if (k < 0 || k >= schema.n_children) {
      fail(Fault::kIndex, "no column at position " + std::to_string(choice.position) + ": the stream has " +
                              std::to_string(count) + (count == 1 ? " column" : " columns"));
    }
    return static_cast<std::size_t>(k);
  }
  std::size_t found = count;
  for (std::size_t k = 0; k < count; ++k) {
    const ArrowSchema* child = schema.children[k];
    if (child == nullptr || child->name == nullptr) continue;
    if (producer_text(child->name, choice.name.size() + 1) != choice.name) continue;
    if (found != count) fail(Fault::kValue, "more than one column is named '" + choice.name + "'");
    found = k;
  }
  if (found == count) fail(Fault::kKey, "no column named '" + choice.name + "'");
  return found;
}

// What an error code of the producer's means, with its own message.
[[noreturn]] void stream_failed(ArrowArrayStream& stream, const char* call, int code) {
  std::string message = std::string("the Arrow stream's ") + call + " failed (error " + std::to_string(code) + ")";
  const char* text = stream.get_last_error != nullptr ? stream.get_last_error(&stream) : nullptr;
  if (text != nullptr && *text != '\0') message += ": " + producer_text(text);
  throw ArrowError(Fault::kStream, message, code);
}

}  // namespace

std::string producer_text(const char* text, std::size_t limit) {
  if (text == nullptr) return {};
  return std::string(text, strnlen(text, limit));
}

void read_schema(ArrowArrayStream& stream, OwnedSchema& schema) {
  if (stream.get_schema == nullptr || stream.get_next == nullptr) {
    fail(Fault::kValue, "the Arrow stream has no get_schema or get_next callback");
  }
  schema.reset();
  const int code = stream.get_schema(&stream, schema.get());
  if (code != 0) {
    // Whatever the producer left in `schema` on failure is not ours to
    // release.
    *schema.get() = ArrowSchema{};
    stream_failed(stream, "get_schema", code);
  }
  if (schema.released()) fail(Fault::kValue, "the Arrow stream's get_schema gave a released schema");
  if (schema->format == nullptr || std::string_view(schema->format) != "+s") {
    fail(Fault::kType, "the Arrow stream's rows have format '" + producer_text(schema->format, 200) +
                           "', not a struct of columns ('+s')");
  }
  if (schema->n_children < 0 || (schema->n_children > 0 && schema->children == nullptr)) {
    fail(Fault::kValue, "the Arrow stream's schema has no table of columns");
  }
}

bool read_batch(ArrowArrayStream& stream, OwnedArray& batch) {
  batch.reset();
  const int code = stream.get_next(&stream, batch.get());
  if (code != 0) {
    *batch.get() = ArrowArray{};
    stream_failed(stream, "get_next", code);
  }
  return !batch.released();
}

EdgeColumns edge_columns(const ArrowSchema& schema, const ColumnChoice& source, const ColumnChoice& target) {
  EdgeColumns columns;
  columns.columns = static_cast<std::size_t>(schema.n_children);
  columns.source = column_of(schema, find_column(schema, source));
  columns.target = column_of(schema, find_column(schema, target));
  return columns;
}

std::size_t add_batch(EdgeList& edges, const EdgeColumns& columns, const ArrowArray& batch, std::uint64_t first_row) {
  const std::string what = "the batch from " + row_text(first_row);
  check_header(batch, 1, what);
  if (batch.n_children != static_cast<std::int64_t>(columns.columns)) {
    fail(Fault::kValue, what + " has " + std::to_string(batch.n_children) + " columns where the schema has " +
                            std::to_string(columns.columns));
  }
  if (batch.children == nullptr) fail(Fault::kValue, what + " has no table of columns");
  const ArrowArray* source_array = batch.children[columns.source.child];
  const ArrowArray* target_array = batch.children[columns.target.child];
  if (source_array == nullptr || target_array == nullptr) fail(Fault::kValue, what + " lacks a column");
  const void* rows_valid = validity(batch, what);
  const ColumnReader source(columns.source, *source_array, batch, edges);
  const ColumnReader target(columns.target, *target_array, batch, edges);

  const auto rows = static_cast<std::uint64_t>(batch.length);
  const auto row_base = static_cast<std::uint64_t>(batch.offset);
  edges.reserve_more(static_cast<std::size_t>(rows));
  const NameTable& names = edges.names();
  const std::uint64_t seed = names.seed();
  // The name read, checked and hashed; `previous` is the row before's
  // source, which a dependency list names again and again, one row after
  // another: the same bytes need no hash of their own.
  const auto read = [&](const ColumnReader& column, std::uint64_t r, std::uint64_t row, NameKey& key,
                        std::uint64_t& entry, const NameKey* previous) __attribute__((always_inline)) {
    const Slot slot = column.read(r, row, key, entry);
    if (slot == Slot::kNull) fail(Fault::kValue, column.what() + " is null at " + row_text(row));
    if (slot == Slot::kBadUtf8) fail(Fault::kValue, column.what() + ", " + row_text(row) + ": not valid UTF-8");
    if (column.hashed()) {
      return previous != nullptr && key.hash == previous->hash && same_name(key.bytes, previous->bytes);
    }
    if (previous != nullptr && same_name(key.bytes, previous->bytes)) {
      key.hash = previous->hash;
      return true;
    }
    std::uint64_t seen;
    key.hash = hash_bytes(key.bytes, seed, seen);
    if (!valid_text(key.bytes, seen)) fail(Fault::kValue, column.what() + ", " + row_text(row) + ": not valid UTF-8");
    return false;
  };
  // Rows are read kAddLag ahead of the one added, in a ring: the hints for
  // a name go out as it is read, and its bytes' kBytesLag rows before it
  // is added. Reading touches only memory that lies in order; adding waits
  // on the table, and the hints let those waits overlap.
  std::array<Row, kRing> ring;
  const auto number = [&](const ColumnReader& column, const NameKey& key, std::uint64_t entry) {
    if (entry == kNoEntry) return edges.intern(key);
    NodeId& known = column.number(entry);
    if (known == kNoNode) known = edges.intern(key);
    return known;
  };
  // The source of the row added last; the row after it may name it again.
  NodeId last_source = kNoNode;
  const auto add = [&](const Row& row) {
    const NodeId s = row.same_source ? last_source : number(source, row.source, row.source_entry);
    const NodeId t = number(target, row.target, row.target_entry);
    edges.add(s, t);
    last_source = s;
  };
  bool hints = names.size() >= kNamesWorthHints;
  Poller poller;
  for (std::uint64_t r = 0; r < rows; ++r) {
    const std::uint64_t row = first_row + r;
    if (rows_valid != nullptr && !bit_set(rows_valid, row_base + r)) fail(Fault::kValue, row_text(row) + " is null");
    Row& next = ring[r % kRing];
    // The row before is the last one added by the time this one is: its
    // source is the edge list's last.
    next.same_source =
        read(source, r, row, next.source, next.source_entry, r > 0 ? &ring[(r - 1) % kRing].source : nullptr);
    read(target, r, row, next.target, next.target_entry, nullptr);
    if (hints) {
      // No hints for a name the row before named, nor for a dictionary
      // value numbered already: neither is searched for.
      const auto searched = [&](const ColumnReader& column, std::uint64_t entry) {
        return entry == kNoEntry || column.number(entry) == kNoNode;
      };
      if (!next.same_source && searched(source, next.source_entry)) names.prefetch_slot(next.source.hash);
      if (searched(target, next.target_entry)) names.prefetch_slot(next.target.hash);
      if (r >= kBytesLag) {
        const Row& soon = ring[(r - kBytesLag) % kRing];
        if (!soon.same_source && searched(source, soon.source_entry)) names.prefetch_bytes(soon.source.hash);
        if (searched(target, soon.target_entry)) names.prefetch_bytes(soon.target.hash);
      }
    }
    if (r >= kAddLag) add(ring[(r - kAddLag) % kRing]);
    poller.tick();
    if ((r & 0xFF) == 0) hints = names.size() >= kNamesWorthHints;
  }
  for (std::uint64_t r = rows > kAddLag ? rows - kAddLag : 0; r < rows; ++r) add(ring[r % kRing]);
  return static_cast<std::size_t>(rows);
}

}  // namespace lhg::arrow
