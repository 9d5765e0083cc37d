// Reading an edge list from a file: one (source, target) pair a line.
//
// The format is the command's (lanternhollow_graph_cli.edges.read_edges):
// lines end at "\n", and any "\r" before it is dropped; a UTF-8 byte order
// mark at the start of the first line is dropped; lines that are blank
// (whitespace only) or start with the comment prefix are skipped; the
// fields of a line are split at tabs, or at commas when it holds no tab
// (or at the one delimiter given); fields after the second are ignored;
// whitespace around a name is dropped, the whitespace of Python's
// str.strip(), non-ASCII code points included. gzip input is recognised by
// its first two bytes, whatever the file's name.
//
// The file is read in chunks of 1 MiB with no copy of a line unless it
// spans two chunks, and the names are interned straight from the chunk, so
// the memory held is that of the edge list and a few buffers, however long
// the file. A line longer than 1 MiB is refused rather than gathered.
#pragma once

#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>

#include "graph/failure.h"
#include "graph/graph.h"
#include "graph/parallel.h"

namespace lhg {

struct EdgeFileFormat {
  // The UTF-8 bytes of the one character that separates fields; empty for
  // a tab, or a comma in a line that has no tab.
  std::string delimiter;
  // The UTF-8 bytes that a comment line starts with; empty for none.
  std::string comment;
  // The first line is a header: skipped, whatever it holds, once it is
  // known not to be longer than any line may be.
  bool header = false;
};

// The longest line accepted, its newline not counted.
inline constexpr std::size_t kMaxLineBytes = std::size_t{1} << 20;

// The input is no edge list, or its gzip stream is damaged. what() begins
// "line N: " for a bad line and "damaged gzip stream" for the stream.
class BadEdgeFile : public std::runtime_error {
 public:
  BadEdgeFile(const std::string& what, bool at_line) : std::runtime_error(what), at_line_(at_line) {}
  // The message names a line (rather than the stream).
  bool at_line() const noexcept { return at_line_; }

 private:
  bool at_line_;
};

// The edge list of the file at `path`, its names filed under the table's
// own hashes, ready for build_graph. Throws FileFailure (whose path is empty
// where only a descriptor is known: the caller names the file), BadEdgeFile, or what
// the interrupt check throws. With two threads or more, the names are
// interned on a thread of their own while this one reads, decodes and
// parses: the same edge list, in about the time of the slower half.
EdgeList read_edge_file(const char* path, const EdgeFileFormat& format, Threads threads = {});
// The same from an open descriptor (standard input), which stays open.
EdgeList read_edge_stream(int fd, const EdgeFileFormat& format, Threads threads = {});

// The whitespace of Python's str.strip() around [begin, end) of valid
// UTF-8, dropped by moving the two ends.
void strip_whitespace(const char*& begin, const char*& end) noexcept;

}  // namespace lhg
