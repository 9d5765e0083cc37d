#include "graph/snapshot.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <bit>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <random>
#include <span>
#include <vector>

#include "graph/failure.h"
#include "graph/interrupt.h"
#include "graph/parallel.h"
#include "graph/utf8.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace lhg {
namespace {

static_assert(std::endian::native == std::endian::little, "snapshots are read in place: little-endian hosts only");

constexpr std::uint32_t kFormatVersion = 2;
constexpr std::uint32_t kByteOrderMark = 0x01020304u;
constexpr std::size_t kAlign = 64;
constexpr std::size_t kSections = 8;
// The longest run of occupied index slots a reader accepts; writers make
// indexes whose runs are at most a quarter of it.
constexpr std::size_t kMaxIndexRun = 4096;
constexpr std::size_t kWrittenIndexRun = kMaxIndexRun / 4;

constexpr const char* kSectionNames[kSections] = {"name ends", "name bytes", "name index", "out begin",
                                                  "out targets", "out edges", "in begin", "in sources"};

struct Header {
  char magic[8];
  std::uint32_t version;
  std::uint32_t byte_order;
  std::uint64_t node_count;
  std::uint64_t edge_count;
  std::uint64_t name_bytes;
  std::uint64_t index_slots;
  std::uint64_t seed;
  std::uint64_t section_sum[kSections];
  std::uint64_t header_sum;
};
static_assert(sizeof(Header) == kSnapshotHeaderBytes);

std::size_t padded(std::size_t bytes) { return (bytes + kAlign - 1) / kAlign * kAlign; }

// The index of n names: the smallest power of two at least 64 and at least
// twice n, as NameTable::own_index makes it.
std::uint64_t index_slots_for(std::uint64_t n) {
  std::uint64_t slots = 64;
  while (slots < 2 * n) slots *= 2;
  return slots;
}

// Where each section lies, from the counts alone.
struct Layout {
  std::uint64_t offset[kSections];
  std::uint64_t bytes[kSections];  // unpadded
  std::uint64_t total;
};

Layout layout_of(std::uint64_t n, std::uint64_t m, std::uint64_t name_bytes, std::uint64_t slots) {
  Layout l{};
  l.bytes[0] = (n + 1) * 8;
  l.bytes[1] = name_bytes;
  l.bytes[2] = slots * 8;
  l.bytes[3] = (n + 1) * 4;
  l.bytes[4] = m * 4;
  l.bytes[5] = m * 4;
  l.bytes[6] = (n + 1) * 4;
  l.bytes[7] = m * 4;
  std::uint64_t at = kSnapshotHeaderBytes;
  for (std::size_t s = 0; s < kSections; ++s) {
    l.offset[s] = at;
    at += padded(l.bytes[s]);
  }
  l.total = at;
  return l;
}

// A checksum of 64-byte blocks, eight 64-bit lanes wide: each word is
// added to the lane beside its own, and the product of its two halves,
// after mixing in a key and the block's position, to its own lane; the
// lanes are then folded together with the length. One multiply per word
// (and SSE2 does two at once), where a multiply-and-rotate chain per lane
// held the check of a loaded file to about half the speed of reading it.
//
// A change to one word changes the lane beside it by exactly the change,
// so the lanes of a file with one damaged word always differ from the
// file's; the fold then leaves about one chance in 2^64 that the sums
// agree. The position makes blocks that trade places count. Fed in pieces
// of any size; the pieces' concatenation is what is summed.
class Checksum {
 public:
  void feed(const void* data, std::size_t size) {
    const auto* p = static_cast<const unsigned char*>(data);
    length_ += size;
    if (held_ > 0) {
      const std::size_t take = std::min(size, kBlock - held_);
      std::memcpy(pending_ + held_, p, take);
      held_ += take;
      p += take;
      size -= take;
      if (held_ < kBlock) return;
      blocks(pending_, 1);
      held_ = 0;
    }
    const std::size_t whole = size / kBlock;
    blocks(p, whole);
    p += whole * kBlock;
    size -= whole * kBlock;
    std::memcpy(pending_, p, size);
    held_ = size;
  }
  // The sum of what was fed, which must be a whole number of blocks.
  std::uint64_t finish() const {
    if (held_ != 0) throw InternalFailure("checksum of a partial block");
    std::uint64_t h = length_ * kP3;
    for (const std::uint64_t lane : lane_) h = std::rotl(h ^ lane, 27) * kP1;
    h ^= h >> 33;
    h *= kP2;
    h ^= h >> 29;
    h *= kP3;
    return h ^ (h >> 32);
  }

 private:
  static constexpr std::size_t kBlock = 64;
  static constexpr std::size_t kLanes = kBlock / 8;
  static constexpr std::uint64_t kP1 = 0x9E3779B185EBCA87u;
  static constexpr std::uint64_t kP2 = 0xC2B2AE3D27D4EB4Fu;
  static constexpr std::uint64_t kP3 = 0x165667B19E3779F9u;
  // What a block's position moves by: odd, so that the keys of 2^64
  // blocks in a row differ.
  static constexpr std::uint64_t kStep = 0x9E3779B97F4A7C15u;
  static constexpr std::uint64_t kKey[kLanes] = {0xBE4BA423396CFEB8u, 0x1CAD21F72C81017Cu, 0xDB979083E96DD4DEu,
                                                 0x1F67B3B7A4A44072u, 0x78E5C0CC4EE679CBu, 0x2172FFCC7DD05A82u,
                                                 0x8E2443F7744608B8u, 0x4C263A81E69035E0u};

  void blocks(const unsigned char* p, std::size_t count) noexcept {
#if defined(__SSE2__)
    // Two lanes to a register: the word beside is the other half of the
    // same register, and _mm_mul_epu32 multiplies the low halves of both.
    __m128i lane[kLanes / 2];
    __m128i key[kLanes / 2];
    for (std::size_t r = 0; r < kLanes / 2; ++r) {
      lane[r] = _mm_loadu_si128(reinterpret_cast<const __m128i*>(lane_ + 2 * r));
      key[r] = _mm_loadu_si128(reinterpret_cast<const __m128i*>(kKey + 2 * r));
    }
    __m128i position = _mm_set1_epi64x(static_cast<long long>(position_));
    const __m128i step = _mm_set1_epi64x(static_cast<long long>(kStep));
    for (std::size_t k = 0; k < count; ++k, p += kBlock) {
      for (std::size_t r = 0; r < kLanes / 2; ++r) {
        const __m128i w = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 16 * r));
        const __m128i x = _mm_xor_si128(w, _mm_add_epi64(key[r], position));
        const __m128i product = _mm_mul_epu32(x, _mm_srli_epi64(x, 32));
        lane[r] = _mm_add_epi64(lane[r], _mm_add_epi64(product, _mm_shuffle_epi32(w, 0x4E)));
      }
      position = _mm_add_epi64(position, step);
    }
    for (std::size_t r = 0; r < kLanes / 2; ++r) _mm_storeu_si128(reinterpret_cast<__m128i*>(lane_ + 2 * r), lane[r]);
    position_ += count * kStep;
#else
    for (std::size_t k = 0; k < count; ++k, p += kBlock, position_ += kStep) {
      std::uint64_t w[kLanes];
      std::memcpy(w, p, kBlock);
      for (std::size_t i = 0; i < kLanes; ++i) {
        const std::uint64_t x = w[i] ^ (kKey[i] + position_);
        lane_[i] += (x & 0xFFFFFFFFu) * (x >> 32);
        lane_[i ^ 1] += w[i];
      }
    }
#endif
  }

  std::uint64_t lane_[kLanes] = {};
  std::uint64_t position_ = 0;
  std::uint64_t length_ = 0;
  unsigned char pending_[kBlock];
  std::size_t held_ = 0;
};

// The sum of a whole section as it lies in memory, padding included,
// polling as it goes: a large file's sums take a while. Each piece summed
// is then handed to `also` while it is still in the nearer caches, so that
// checks of the section's contents cost no second trip to memory.
template <class Also>
std::uint64_t checksum_of(const char* data, std::size_t size, Poller& poller, Also&& also) {
  Checksum sum;
  constexpr std::size_t kPiece = std::size_t{1} << 16;
  for (std::size_t at = 0; at < size; at += kPiece) {
    const std::size_t piece = std::min(kPiece, size - at);
    sum.feed(data + at, piece);
    also(data + at, piece);
    poller.tick(piece / 16);
  }
  return sum.finish();
}

// Whether every u32 of `size` bytes (a multiple of 16) at `at` is below
// `bound` (at most 2^32).
bool all_below(const char* at, std::size_t size, std::uint64_t bound) noexcept {
#if defined(__SSE2__)
  // SSE2 compares signed words only: with the top bit flipped on both
  // sides, the signed order is the unsigned one. A bound of 2^32 lets
  // every word pass, and flipped it would be 0: it is handled apart.
  if (bound > 0xFFFFFFFFu) return true;
  const __m128i flip = _mm_set1_epi32(static_cast<int>(0x80000000u));
  const __m128i limit = _mm_xor_si128(_mm_set1_epi32(static_cast<int>(static_cast<std::uint32_t>(bound))), flip);
  __m128i below = _mm_set1_epi32(-1);
  for (std::size_t k = 0; k < size; k += 16) {
    const __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i*>(at + k));
    below = _mm_and_si128(below, _mm_cmplt_epi32(_mm_xor_si128(x, flip), limit));
  }
  return _mm_movemask_epi8(below) == 0xFFFF;
#else
  // x < bound exactly when x - bound, in 64 bits, borrows: the top bits of
  // the differences, ANDed, say whether all were.
  std::uint64_t below = ~std::uint64_t{0};
  for (std::size_t k = 0; k < size; k += 4) {
    std::uint32_t x;
    std::memcpy(&x, at + k, 4);
    below &= std::uint64_t{x} - bound;
  }
  return (below >> 63) != 0;
#endif
}

std::uint64_t header_sum(const Header& h) {
  Checksum sum;
  unsigned char bytes[kSnapshotHeaderBytes] = {};
  std::memcpy(bytes, &h, offsetof(Header, header_sum));
  sum.feed(bytes, sizeof bytes);
  return sum.finish();
}

// Writes sections through a sink, each padded, with its checksum.
class SectionWriter {
 public:
  explicit SectionWriter(SnapshotSink& sink) : sink_(sink) {}
  void bytes(const void* data, std::size_t size) {
    if (size == 0) return;  // an empty array's data may be null
    sink_.write(data, size);
    sum_.feed(data, size);
    written_ += size;
    poller_.tick(size / 16);
  }
  template <class T>
  void array(std::span<const T> values) {
    bytes(values.data(), values.size_bytes());
  }
  std::uint64_t end_section() {
    static constexpr char kZeros[kAlign] = {};
    bytes(kZeros, padded(written_) - written_);
    const std::uint64_t sum = sum_.finish();
    sum_ = Checksum{};
    written_ = 0;
    return sum;
  }

 private:
  SnapshotSink& sink_;
  Checksum sum_;
  std::size_t written_ = 0;
  Poller poller_;
};

std::uint64_t total_name_bytes(const Graph& graph) {
  std::uint64_t total = 0;
  Poller poller;
  for (NodeId v = 0; v < graph.node_count(); ++v) {
    total += graph.name(v).size();
    poller.tick();
  }
  return total;
}

// --- reading ---

[[noreturn]] void unsound(const std::string& what) { throw SnapshotError("unsound snapshot: " + what); }

template <class T>
std::span<const T> section(const SnapshotBytes& bytes, const Layout& layout, std::size_t s) {
  return {reinterpret_cast<const T*>(bytes.data + layout.offset[s]), layout.bytes[s] / sizeof(T)};
}

class Mapping {
 public:
  Mapping(void* address, std::size_t size) : address_(address), size_(size) {}
  ~Mapping() { ::munmap(address_, size_); }
  Mapping(const Mapping&) = delete;
  Mapping& operator=(const Mapping&) = delete;

 private:
  void* address_;
  std::size_t size_;
};

// open(2), again after a signal (once the interrupt check has let the call
// go on); its failure a FileFailure with the path.
int open_file(const std::string& path, int flags) {
  for (;;) {
    const int fd = ::open(path.c_str(), flags);
    if (fd >= 0) return fd;
    if (errno != EINTR) throw FileFailure(errno, path);
    check_interrupt();
  }
}

class FileDescriptor {
 public:
  explicit FileDescriptor(int fd) : fd_(fd) {}
  ~FileDescriptor() {
    if (fd_ >= 0) ::close(fd_);
  }
  FileDescriptor(const FileDescriptor&) = delete;
  FileDescriptor& operator=(const FileDescriptor&) = delete;
  int get() const noexcept { return fd_; }
  // Closes now, reporting what close reports (a write that failed late).
  int close() noexcept {
    const int result = ::close(fd_);
    fd_ = -1;
    return result;
  }

 private:
  int fd_;
};

// Writes to a file descriptor in large pieces.
class FileSink : public SnapshotSink {
 public:
  FileSink(int fd, const std::string& path) : fd_(fd), path_(path) { buffer_.reserve(kBuffer); }
  void write(const void* bytes, std::size_t size) override {
    const auto* p = static_cast<const char*>(bytes);
    while (size > 0) {
      const std::size_t take = std::min(size, kBuffer - buffer_.size());
      buffer_.insert(buffer_.end(), p, p + take);
      p += take;
      size -= take;
      if (buffer_.size() == kBuffer) flush();
    }
  }
  void flush() {
    write_all(buffer_.data(), buffer_.size());
    buffer_.clear();
  }
  void write_all(const char* p, std::size_t size) {
    while (size > 0) {
      const ssize_t done = ::write(fd_, p, size);
      if (done < 0) {
        if (errno == EINTR) {
          check_interrupt();
          continue;
        }
        throw FileFailure(errno, path_);
      }
      p += done;
      size -= static_cast<std::size_t>(done);
    }
  }

 private:
  static constexpr std::size_t kBuffer = std::size_t{1} << 20;
  int fd_;
  const std::string& path_;
  std::vector<char> buffer_;
};

// The temporary file a save writes before it takes the path's name; removed
// unless kept.
class TemporaryFile {
 public:
  // Beside `target` (a short name of its own in the same directory, so
  // that a file name at the system's limit still leaves room for it);
  // failures are reported against `shown`, the path the caller gave.
  TemporaryFile(const std::string& target, const std::string& shown) {
    std::random_device device;
    const std::size_t slash = target.rfind('/');
    const std::string directory = slash == std::string::npos ? std::string() : target.substr(0, slash + 1);
    for (int attempt = 0;; ++attempt) {
      name_ = directory + ".lhg-" + std::to_string(device() % 100000000u) + ".tmp";
      const int fd = ::open(name_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
      if (fd >= 0) {
        fd_ = fd;
        return;
      }
      if (errno == EINTR) {
        check_interrupt();
        continue;
      }
      // Reported against the path asked for: the temporary name means
      // nothing to the caller.
      if (errno != EEXIST || attempt > 100) throw FileFailure(errno, shown);
    }
  }
  ~TemporaryFile() {
    if (fd_ >= 0) ::close(fd_);
    if (!kept_) ::unlink(name_.c_str());
  }
  TemporaryFile(const TemporaryFile&) = delete;
  TemporaryFile& operator=(const TemporaryFile&) = delete;

  int fd() const noexcept { return fd_; }
  void close(const std::string& path) {
    const int fd = fd_;
    fd_ = -1;
    if (::close(fd) != 0 && errno != EINTR) throw FileFailure(errno, path);
  }
  void rename_to(const std::string& target, const std::string& shown) {
    if (::rename(name_.c_str(), target.c_str()) != 0) throw FileFailure(errno, shown);
    kept_ = true;
  }

 private:
  std::string name_;
  int fd_ = -1;
  bool kept_ = false;
};

}  // namespace

bool looks_like_snapshot(std::string_view head) noexcept {
  return head.size() >= sizeof kSnapshotMagic && std::memcmp(head.data(), kSnapshotMagic, sizeof kSnapshotMagic) == 0;
}

std::size_t snapshot_size(const Graph& graph) {
  return layout_of(graph.node_count(), graph.edge_count(), total_name_bytes(graph), index_slots_for(graph.node_count()))
      .total;
}

void write_snapshot(const Graph& graph, SnapshotSink& sink, char (&header_bytes)[kSnapshotHeaderBytes]) {
  const std::uint64_t n = graph.node_count();
  const std::uint64_t m = graph.edge_count();
  Header h{};
  std::memcpy(h.magic, kSnapshotMagic, sizeof h.magic);
  h.version = kFormatVersion;
  h.byte_order = kByteOrderMark;
  h.node_count = n;
  h.edge_count = m;
  h.name_bytes = total_name_bytes(graph);
  h.index_slots = index_slots_for(n);
  // A placeholder until the sums are known.
  std::memcpy(header_bytes, &h, sizeof h);
  sink.write(header_bytes, sizeof h);

  SectionWriter out(sink);
  {
    std::vector<std::uint64_t> ends;
    ends.reserve(std::min<std::uint64_t>(n + 1, 1 << 16));
    std::uint64_t end = 0;
    ends.push_back(0);
    for (NodeId v = 0; v < n; ++v) {
      end += graph.name(v).size();
      ends.push_back(end);
      if (ends.size() == ends.capacity()) {
        out.array(std::span<const std::uint64_t>(ends));
        ends.clear();
      }
    }
    out.array(std::span<const std::uint64_t>(ends));
  }
  h.section_sum[0] = out.end_section();
  for (NodeId v = 0; v < n; ++v) {
    const std::string_view name = graph.name(v);
    out.bytes(name.data(), name.size());
  }
  h.section_sum[1] = out.end_section();
  {
    // The seed comes from the names, so that equal graphs make equal files;
    // a seed whose index has a long run (names that collide under it) is
    // passed over for the next.
    std::uint64_t seed = h.section_sum[1] ^ (n * 0x9E3779B97F4A7C15u);
    std::vector<std::uint64_t> index;
    for (int attempt = 0;; ++attempt, ++seed) {
      std::size_t longest = 0;
      index = NameTable::own_index(graph.names(), seed, longest);
      if (longest <= kWrittenIndexRun) break;
      if (attempt == 64) throw InternalFailure("no seed gives the name index short runs");
    }
    if (index.size() != h.index_slots) throw InternalFailure("name index of an unexpected size");
    h.seed = seed;
    out.array(std::span<const std::uint64_t>(index));
  }
  h.section_sum[2] = out.end_section();
  out.array(graph.out_begin());
  h.section_sum[3] = out.end_section();
  out.array(graph.out_targets());
  h.section_sum[4] = out.end_section();
  out.array(graph.out_edge_ids());
  h.section_sum[5] = out.end_section();
  out.array(graph.in_begin());
  h.section_sum[6] = out.end_section();
  out.array(graph.in_sources());
  h.section_sum[7] = out.end_section();
  h.header_sum = header_sum(h);
  std::memcpy(header_bytes, &h, sizeof h);
}

namespace {

// Discards what it is given: the first pass of a snapshot written to where
// no header can be written again afterwards.
class NullSink : public SnapshotSink {
 public:
  void write(const void*, std::size_t) override {}
};

// Passes a snapshot on with its placeholder header swapped for the final
// one, known from a pass before.
class HeaderFirstSink : public SnapshotSink {
 public:
  HeaderFirstSink(FileSink& out, const char (&header)[kSnapshotHeaderBytes]) : out_(out), header_(header) {}
  void write(const void* bytes, std::size_t size) override {
    const auto* p = static_cast<const char*>(bytes);
    while (size > 0 && seen_ < kSnapshotHeaderBytes) {
      const std::size_t take = std::min(size, kSnapshotHeaderBytes - seen_);
      out_.write(header_ + seen_, take);
      seen_ += take;
      p += take;
      size -= take;
    }
    if (size > 0) out_.write(p, size);
  }

 private:
  FileSink& out_;
  const char (&header_)[kSnapshotHeaderBytes];
  std::size_t seen_ = 0;
};

// A device or a pipe (/dev/stdout, a FIFO) is written in place, front to
// back: it cannot be replaced, nor its start written again.
void write_in_place(const Graph& graph, const std::string& path) {
  char header[kSnapshotHeaderBytes];
  NullSink discard;
  write_snapshot(graph, discard, header);
  FileDescriptor fd(open_file(path, O_WRONLY | O_CLOEXEC));
  FileSink sink(fd.get(), path);
  HeaderFirstSink first(sink, header);
  char again[kSnapshotHeaderBytes];
  write_snapshot(graph, first, again);
  sink.flush();
  if (fd.close() != 0 && errno != EINTR) throw FileFailure(errno, path);
}

}  // namespace

namespace {

// Where a save's bytes go for `path`: the path itself, or, when it is a
// symbolic link (a chain of them, dangling or not), the path the last one
// names, so that the link stays and leads to the new file.
std::string link_target(const std::string& path) {
  std::string at = path;
  for (int hops = 0; hops < 40; ++hops) {
    struct stat info;
    if (::lstat(at.c_str(), &info) != 0 || !S_ISLNK(info.st_mode)) return at;
    std::string next(static_cast<std::size_t>(info.st_size > 0 ? info.st_size : 4096), '\0');
    const ssize_t got = ::readlink(at.c_str(), next.data(), next.size());
    if (got < 0) return at;
    next.resize(static_cast<std::size_t>(got));
    if (next.empty() || next.front() != '/') {
      const std::size_t slash = at.rfind('/');
      if (slash != std::string::npos) next = at.substr(0, slash + 1) + next;
    }
    at = std::move(next);
  }
  throw FileFailure(ELOOP, path);
}

}  // namespace

void save_snapshot(const Graph& graph, const std::string& path) {
  // A regular file is replaced whole where it lies, keeping its
  // permissions, through any symbolic links to it; anything else that
  // exists is written in place.
  const std::string target = link_target(path);
  struct stat info;
  const bool exists = ::stat(target.c_str(), &info) == 0;
  if (exists && S_ISDIR(info.st_mode)) throw FileFailure(EISDIR, path);
  if (exists && !S_ISREG(info.st_mode)) return write_in_place(graph, path);
  TemporaryFile file(target, path);
  if (exists && ::fchmod(file.fd(), info.st_mode & 07777) != 0) throw FileFailure(errno, path);
  FileSink sink(file.fd(), path);
  char header[kSnapshotHeaderBytes];
  write_snapshot(graph, sink, header);
  sink.flush();
  if (::lseek(file.fd(), 0, SEEK_SET) != 0) throw FileFailure(errno, path);
  sink.write_all(header, sizeof header);
  if (::fsync(file.fd()) != 0 && errno != EINVAL && errno != EROFS) throw FileFailure(errno, path);
  file.close(path);
  file.rename_to(target, path);
}

namespace {

// A snapshot's header and the layout it gives.
struct Outline {
  Header h;
  Layout layout;
};

// The header at `data` (its first kSnapshotHeaderBytes bytes) of a file of
// `size` bytes, checked, with its counts checked against that size: all
// that can be known of a file before reading more than its header.
Outline checked_outline(const char* data, std::size_t size) {
  Header h;
  std::memcpy(&h, data, sizeof h);
  if (std::memcmp(h.magic, kSnapshotMagic, sizeof h.magic) != 0) {
    throw SnapshotError("not a snapshot (no snapshot header)");
  }
  if (h.byte_order != kByteOrderMark) {
    throw SnapshotError(h.byte_order == __builtin_bswap32(kByteOrderMark)
                            ? "snapshot written in the other byte order, which this build does not read"
                            : "damaged snapshot: bad byte-order mark");
  }
  // The version before the header's sum: another version's header may be
  // summed another way, and its file is then of that version, not damaged.
  if (h.version != kFormatVersion) {
    throw SnapshotError("snapshot of format version " + std::to_string(h.version) + "; this build reads version " +
                        std::to_string(kFormatVersion));
  }
  if (header_sum(h) != h.header_sum) throw SnapshotError("damaged snapshot: the header's checksum does not match");
  const std::uint64_t n = h.node_count;
  const std::uint64_t m = h.edge_count;
  // Bounds before any arithmetic: node and edge numbers are below the end
  // marker, and no section is longer than the whole.
  if (n >= kEndMarker) unsound("node count " + std::to_string(n) + " out of range");
  if (m >= kEndMarker) unsound("edge count " + std::to_string(m) + " out of range");
  if (h.name_bytes > size) unsound("name bytes larger than the file");
  if (h.index_slots != index_slots_for(n)) unsound("name index of the wrong size");
  const Layout layout = layout_of(n, m, h.name_bytes, h.index_slots);
  if (layout.total != size) {
    throw SnapshotError(layout.total > size
                            ? "truncated snapshot: " + std::to_string(size) + " bytes where its header says " +
                                  std::to_string(layout.total)
                            : "damaged snapshot: " + std::to_string(size - layout.total) +
                                  " bytes beyond its end");
  }
  return {h, layout};
}

}  // namespace

Graph read_snapshot(SnapshotBytes bytes, Threads threads) {
  if (bytes.size < kSnapshotHeaderBytes) {
    if (looks_like_snapshot({bytes.data, bytes.size}) || bytes.size == 0) {
      throw SnapshotError("truncated snapshot: " + std::to_string(bytes.size) + " bytes, shorter than its header");
    }
    throw SnapshotError("not a snapshot (no snapshot header)");
  }
  if (reinterpret_cast<std::uintptr_t>(bytes.data) % kAlign != 0) throw InternalFailure("snapshot bytes not aligned");
  const Outline outline = checked_outline(bytes.data, bytes.size);
  const Header& h = outline.h;
  const Layout& layout = outline.layout;
  const std::uint64_t n = h.node_count;
  const std::uint64_t m = h.edge_count;
  // Each section is summed and checked on its own, the largest first, by
  // as many threads as the call may use; the verdicts are read in section
  // order afterwards, so the error reported never depends on which thread
  // found what.
  const auto ends = section<std::uint64_t>(bytes, layout, 0);
  const auto* name_data = reinterpret_cast<const unsigned char*>(bytes.data + layout.offset[1]);
  const auto index = section<std::uint64_t>(bytes, layout, 2);
  const Graph::Rows rows{section<EdgeId>(bytes, layout, 3), section<NodeId>(bytes, layout, 4),
                         section<EdgeId>(bytes, layout, 5), section<EdgeId>(bytes, layout, 6),
                         section<NodeId>(bytes, layout, 7)};
  struct Verdict {
    bool sum_ok = false;
    const char* unsound = nullptr;  // what is wrong with its content, if anything
  };
  Verdict verdict[kSections];
  // Each section's content is checked a piece at a time, right after the
  // piece is summed and while it is still in the nearer caches: a second
  // pass over a section would read it from memory again. The verdict on the
  // content counts only where the sum matches.
  auto check_section = [&](std::size_t s, Poller& poller) {
    // Whether a section of node or edge numbers holds only numbers below
    // its bound. Its padding is zeros, which pass any bound but 0: an empty
    // graph's sections hold none.
    const std::uint64_t bound = s == 5 ? m : n;
    bool in_range = true;
    // Name ends (section 0) and row offsets (3, 6): any element below the
    // one before; a name starting inside a character.
    bool falling = false;
    bool split = false;
    // Name bytes (1): valid UTF-8 up to `valid`, less a character that may
    // go on in the next piece.
    std::uint64_t valid = 0;
    bool bad_utf8 = false;
    NameTable::IndexCheck index_check(s == 2 ? index.size() : 0, n, kMaxIndexRun);
    const std::span<const EdgeId> offsets = s == 3 ? rows.out_begin : rows.in_begin;
    const char* const start = bytes.data + layout.offset[s];
    const std::uint64_t sum =
        checksum_of(start, padded(layout.bytes[s]), poller, [&](const char* at, std::size_t size) {
          // The elements of the section that begin in this piece.
          const auto elements = [&](std::size_t width, std::size_t total) {
            const auto from = static_cast<std::size_t>(at - start) / width;
            return std::pair{std::min(from, total), std::min(from + size / width, total)};
          };
          switch (s) {
            case 0: {
              // k runs over the names: ends[k] against the end before it,
              // and the byte it points at.
              const auto [lo, hi] = elements(8, n);
              bool any_falling = false;
              bool any_split = false;
              for (std::size_t k = lo; k < hi; ++k) {
                any_falling |= ends[k + 1] < ends[k];
                any_split |= ends[k] < h.name_bytes && (name_data[ends[k]] & 0xC0) == 0x80;
              }
              falling |= any_falling;
              split |= any_split;
              return;
            }
            case 1: {
              // Up to the end of this piece's name bytes, from where the
              // last piece's valid characters ended. A character cut by the
              // piece's end is taken up again with the next piece.
              const std::uint64_t end = std::min<std::uint64_t>(static_cast<std::uint64_t>(at - start) + size,
                                                                h.name_bytes);
              if (bad_utf8 || end <= valid) return;
              const std::uint64_t length = end - valid;
              const std::size_t ok =
                  valid_utf8_prefix({reinterpret_cast<const char*>(name_data + valid), static_cast<std::size_t>(length)});
              if (ok < length && (end == h.name_bytes || length - ok >= 4)) bad_utf8 = true;
              valid += ok;
              return;
            }
            case 2: {
              const auto [lo, hi] = elements(8, index.size());
              index_check.feed(index.data() + lo, hi - lo);
              return;
            }
            case 3:
            case 6: {
              const auto [lo, hi] = elements(4, n);
              bool any = false;
              for (std::size_t v = lo; v < hi; ++v) any |= offsets[v + 1] < offsets[v];
              falling |= any;
              return;
            }
            case 4:
            case 5:
            case 7:
              in_range &= all_below(at, size, bound);
              return;
            default:
              return;
          }
        });
    Verdict& v = verdict[s];
    v.sum_ok = sum == h.section_sum[s];
    if (!v.sum_ok) return;
    switch (s) {
      case 0:
        // Ends rising within the name bytes; no name starting inside a
        // character (with the whole valid, each name then is).
        if (ends.front() != 0 || ends.back() != h.name_bytes) {
          v.unsound = "name ends do not span the name bytes";
        } else if (falling) {
          v.unsound = "name ends out of order";
        } else if (split) {
          v.unsound = "a name is not valid UTF-8";
        }
        return;
      case 1:
        if (bad_utf8 || valid != h.name_bytes) v.unsound = "a name is not valid UTF-8";
        return;
      case 2:
        if (!index_check.passed()) v.unsound = "bad name index";
        return;
      case 3:
      case 6:
        if (offsets.empty() || offsets.front() != 0 || offsets.back() != m || falling) v.unsound = "rows out of order";
        return;
      default:
        if (m > 0 && !in_range) v.unsound = "an edge names a node or an edge out of range";
        return;
    }
  };
  std::size_t order[kSections];
  for (std::size_t s = 0; s < kSections; ++s) order[s] = s;
  std::stable_sort(order, order + kSections, [&](std::size_t a, std::size_t b) { return layout.bytes[a] > layout.bytes[b]; });
  std::atomic<std::size_t> next{0};
  run_workers(workers_for(threads, static_cast<std::size_t>(layout.total / 64)), [&](unsigned) {
    Poller poller;
    for (std::size_t k; (k = next.fetch_add(1, std::memory_order_relaxed)) < kSections;) check_section(order[k], poller);
  });
  for (std::size_t s = 0; s < kSections; ++s) {
    if (!verdict[s].sum_ok) {
      throw SnapshotError(std::string("damaged snapshot: the checksum of section '") + kSectionNames[s] +
                          "' does not match");
    }
  }
  // The content's faults in the order a reader meets them: names, index,
  // rows.
  for (const std::size_t s : {0, 1, 2, 3, 6, 4, 5, 7}) {
    if (verdict[s].unsound != nullptr) unsound(verdict[s].unsound);
  }
  std::vector<std::string_view> names;
  names.reserve(n);
  const char* name_bytes = bytes.data + layout.offset[1];
  {
    Poller poller;
    for (std::size_t v = 0; v < n; ++v) {
      names.emplace_back(name_bytes + ends[v], ends[v + 1] - ends[v]);
      poller.tick();
    }
  }
  NameTable table = NameTable::adopt(std::move(names), index, h.seed);
  return Graph::adopt(std::move(table), rows, std::move(bytes.owner));
}

namespace {

// The pages of a mapping read in and mapped ahead of the checks, which
// would otherwise take a fault per page, a piece at a time between polls:
// mapping them all in one call (MAP_POPULATE) leaves Ctrl-C unanswered for
// as long as a file of gigabytes takes to come from the page cache, or from
// the disk. Only a hint: where the kernel cannot do it, the pages come in
// as they are read. Pieces of 4 MiB: a piece read from the disk keeps
// Ctrl-C waiting about 10 ms, where one of 32 MiB kept it 22 to 33 ms, and
// the whole came in sooner (a 640 MiB file in 0.47 to 0.60 s against 0.86
// to 1.04 s); from the page cache the two cost the same.
#ifndef MADV_POPULATE_READ
#define MADV_POPULATE_READ 22
#endif
void populate(char* address, std::size_t size) {
  constexpr std::size_t kPiece = std::size_t{1} << 22;
  Poller poller;
  for (std::size_t at = 0; at < size; at += kPiece) {
    if (::madvise(address + at, std::min(kPiece, size - at), MADV_POPULATE_READ) != 0) return;
    poller.tick(kPiece / 16);
  }
}

}  // namespace

Graph load_snapshot(const std::string& path, Threads threads) {
  // Without blocking: a pipe's open would wait for a writer, deaf to
  // Ctrl-C, and a pipe is refused just after anyway.
  FileDescriptor fd(open_file(path, O_RDONLY | O_CLOEXEC | O_NONBLOCK));
  struct stat info;
  if (::fstat(fd.get(), &info) != 0) throw FileFailure(errno, path);
  if (S_ISDIR(info.st_mode)) throw FileFailure(EISDIR, path);
  if (!S_ISREG(info.st_mode)) throw SnapshotError("not a snapshot: not a regular file");
  const auto size = static_cast<std::size_t>(info.st_size);
  if (size < kSnapshotHeaderBytes) {
    char head[kSnapshotHeaderBytes];
    const ssize_t got = ::pread(fd.get(), head, size, 0);
    if (got < 0) throw FileFailure(errno, path);
    // Aligned for the reader's sake: it refuses these few bytes anyway.
    return read_snapshot(copy_snapshot_bytes(head, static_cast<std::size_t>(got)), threads);
  }
  // A file that is not a snapshot of its own length is refused on its
  // header, before any more of it is read.
  {
    alignas(kAlign) char head[kSnapshotHeaderBytes];
    const ssize_t got = ::pread(fd.get(), head, sizeof head, 0);
    if (got < 0) throw FileFailure(errno, path);
    if (static_cast<std::size_t>(got) == sizeof head) checked_outline(head, size);
  }
  void* address = ::mmap(nullptr, size, PROT_READ, MAP_PRIVATE, fd.get(), 0);
  if (address == MAP_FAILED) throw FileFailure(errno, path);
  auto mapping = std::make_shared<Mapping>(address, size);
  populate(static_cast<char*>(address), size);
  return read_snapshot({static_cast<const char*>(address), size, std::move(mapping)}, threads);
}

SnapshotBytes copy_snapshot_bytes(const char* data, std::size_t size) {
  const std::size_t words = (size + kAlign - 1) / kAlign * (kAlign / 8);
  struct alignas(kAlign) Block {
    std::uint64_t words[kAlign / 8];
  };
  std::shared_ptr<Block[]> copy(new Block[std::max<std::size_t>(words / (kAlign / 8), 1)]);
  auto* at_copy = reinterpret_cast<char*>(copy.get());
  Poller poller;
  constexpr std::size_t kPiece = std::size_t{1} << 20;
  for (std::size_t at = 0; at < size; at += kPiece) {
    const std::size_t piece = std::min(kPiece, size - at);
    std::memcpy(at_copy + at, data + at, piece);
    poller.tick(piece / 16);
  }
  const char* at = reinterpret_cast<const char*>(copy.get());
  return {at, size, std::move(copy)};
}

}  // namespace lhg
