// Snapshots: a built graph written as one file that a later process maps
// and answers from without rebuilding anything.
//
// The format (all integers little-endian; docs/snapshots.md describes it for
// other readers):
//
//   header, 128 bytes:
//     magic "\x89LHG\r\n\x1a\n"   catches a file mangled as text
//     u32 format version (2), u32 byte-order mark 0x01020304
//     u64 node count n, edge count m, name bytes, index slots, index seed
//     u64 checksum of each of the 8 sections, in order
//     u64 checksum of the 120 bytes before it
//   sections, each starting at a multiple of 64 bytes and padded with zero
//   bytes to the next:
//     0 name ends    u64 x (n + 1): name v is bytes ends[v] .. ends[v + 1]
//     1 name bytes   UTF-8, names in node order, back to back
//     2 name index   u64 x slots: the name table's index, of its own hashes
//                    with the seed
//     3 out begin    u32 x (n + 1)   the outgoing rows, as the store holds
//     4 out targets  u32 x m         them (graph.h)
//     5 out edges    u32 x m
//     6 in begin     u32 x (n + 1)   the incoming rows
//     7 in sources   u32 x m
//
// The counts determine where every section lies and how long the file is:
// a file of any other length is refused before anything in it is read.
//
// Reading checks everything a query could go wrong on, and nothing more
// costly: the header's checksum, the counts, each section's checksum (so
// that damage is caught as damage), then the structure, so that a file made
// to pass the checksums is still safe: names ending in order within their
// bytes, each valid UTF-8; an index in which every search ends and every
// slot names a node in range; rows whose offsets rise from 0 to m, whose
// entries name nodes and edges in range, and whose incoming rows hold as
// many sources a node as the outgoing rows name it. Such a file
// answers every query with its bits; a made-up one may answer differently
// from the graph it claims to be, but never reads out of bounds.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>

#include "graph/failure.h"
#include "graph/graph.h"
#include "graph/parallel.h"

namespace lhg {

// A snapshot that cannot be read: damaged, truncated, of another format
// version or not a snapshot at all. The message says which.
class SnapshotError : public InputError {
 public:
  using InputError::InputError;
};

inline constexpr std::size_t kSnapshotHeaderBytes = 128;
inline constexpr char kSnapshotMagic[8] = {'\x89', 'L', 'H', 'G', '\r', '\n', '\x1a', '\n'};

// Whether `head` (the first bytes of a file) begins like a snapshot.
bool looks_like_snapshot(std::string_view head) noexcept;

// The bytes a snapshot of `graph` takes.
std::size_t snapshot_size(const Graph& graph);

// Where a snapshot is written to, in order, front to back.
class SnapshotSink {
 public:
  virtual ~SnapshotSink() = default;
  virtual void write(const void* bytes, std::size_t size) = 0;
};

// Writes the snapshot of `graph` to `sink`, snapshot_size(graph) bytes;
// `header` receives the header, which is also written first, but is only
// complete once the sections are: a sink that can seek writes it again at
// the start (a file), and one that cannot takes the bytes from `header`.
void write_snapshot(const Graph& graph, SnapshotSink& sink, char (&header)[kSnapshotHeaderBytes]);

// Writes a snapshot of `graph` to the file at `path`, made anew: the bytes
// go to a temporary file beside it (beside the file a symbolic link leads
// to), which takes the name only once it is complete, so a failure (a full
// disk, Ctrl-C) leaves no half-written file and whatever was at `path`
// before stays. A path that names a device or a pipe is written in place.
// Failures of the system throw FileFailure with the path.
void save_snapshot(const Graph& graph, const std::string& path);

// Bytes of a snapshot held in memory, at an address aligned to 64 bytes and
// kept alive by `owner` for as long as the graph read from them lives.
struct SnapshotBytes {
  const char* data = nullptr;
  std::size_t size = 0;
  std::shared_ptr<const void> owner;
};

// The graph a snapshot holds, read in place: the graph views `bytes` and
// keeps its owner. Throws SnapshotError if the bytes are not a sound
// snapshot. Its sections are checked on up to `threads` threads.
Graph read_snapshot(SnapshotBytes bytes, Threads threads = Threads{});

// Maps the file at `path` read-only and reads the graph from the mapping.
// The file must not be changed or cut short while the graph lives (as with
// any mapped file, a shortened file makes reading its lost pages fault).
// Failures of the system throw std::system_error; an unsound file,
// SnapshotError.
Graph load_snapshot(const std::string& path, Threads threads = Threads{});

// A copy of `size` bytes at an address aligned to 64, for snapshots that
// arrive in memory (a pickle).
SnapshotBytes copy_snapshot_bytes(const char* data, std::size_t size);

}  // namespace lhg
