#include "graph/edge_file.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <bit>
#include <cerrno>
#include <cstring>
#include <memory>
#include <optional>

#include "graph/inflate.h"
#include "graph/interning.h"
#include "graph/interrupt.h"

namespace lhg {
namespace {

constexpr std::size_t kChunk = std::size_t{1} << 20;
// How long a read waits for a pipe's or a terminal's next bytes before it
// runs the interrupt check again.
constexpr int kWaitMillis = 20;
// The first read, which tells gzip from text, is small: its bytes must
// all reach the decoder before anything decoded is written.
constexpr std::size_t kProbeBytes = 4096;

constexpr std::uint64_t kOnes = 0x0101010101010101u;
constexpr std::uint64_t kHighs = 0x8080808080808080u;

std::uint64_t load64(const char* p) noexcept {
  std::uint64_t word;
  std::memcpy(&word, p, 8);
  return word;
}

// Non-zero if any of the eight bytes is NUL or not ASCII.
std::uint64_t unusual_bytes(std::uint64_t w) noexcept { return (w | ((w - kOnes) & ~w)) & kHighs; }

// The first `c` in [p, end), or nullptr: eight bytes a step, inline. The
// spans searched are a line or a field, a few dozen bytes, for which a call
// of the library's search costs more than the search.
[[gnu::always_inline]] inline const char* find_byte(const char* p, const char* end, char c) noexcept {
  const std::uint64_t pattern = kOnes * static_cast<unsigned char>(c);
  while (end - p >= 8) {
    const std::uint64_t w = load64(p) ^ pattern;
    // The lowest byte flagged is the first zero byte exactly: a borrow
    // only ever flags bytes above a zero one.
    const std::uint64_t zero = (w - kOnes) & ~w & kHighs;
    if (zero != 0) return p + (std::countr_zero(zero) >> 3);
    p += 8;
  }
  for (; p < end; ++p) {
    if (*p == c) return p;
  }
  return nullptr;
}

// The first byte of [p, end) that is NUL or not ASCII, or end. Lines before
// it need no check of their text.
const char* find_unusual(const char* p, const char* end) noexcept {
  while (end - p >= 32) {
    const std::uint64_t any = unusual_bytes(load64(p)) | unusual_bytes(load64(p + 8)) | unusual_bytes(load64(p + 16)) |
                              unusual_bytes(load64(p + 24));
    if (any != 0) break;
    p += 32;
  }
  while (p < end && *p != 0 && static_cast<unsigned char>(*p) < 0x80) ++p;
  return p;
}

bool ascii_space(unsigned char c) noexcept { return (c >= 0x09 && c <= 0x0D) || (c >= 0x1C && c <= 0x20); }

// The bytes of the whitespace character at the start of [p, end), 0 if it
// starts with none. Besides ASCII's: U+0085, U+00A0, U+1680, U+2000 to
// U+200A, U+2028, U+2029, U+202F, U+205F and U+3000.
std::size_t space_at(const unsigned char* p, const unsigned char* end) noexcept {
  const unsigned char c = p[0];
  if (c < 0x80) return ascii_space(c) ? 1 : 0;
  const std::ptrdiff_t n = end - p;
  if (c == 0xC2) return n >= 2 && (p[1] == 0x85 || p[1] == 0xA0) ? 2 : 0;
  if (n < 3) return 0;
  switch (c) {
    case 0xE1:
      return p[1] == 0x9A && p[2] == 0x80 ? 3 : 0;
    case 0xE2:
      if (p[1] == 0x80) return p[2] <= 0x8A || p[2] == 0xA8 || p[2] == 0xA9 || p[2] == 0xAF ? 3 : 0;
      return p[1] == 0x81 && p[2] == 0x9F ? 3 : 0;
    case 0xE3:
      return p[1] == 0x80 && p[2] == 0x80 ? 3 : 0;
    default:
      return 0;
  }
}

// The same for the character that ends at `end`. In valid UTF-8 a lead
// byte found two or three places back starts the character that ends there.
std::size_t space_before(const unsigned char* begin, const unsigned char* end) noexcept {
  const unsigned char c = end[-1];
  if (c < 0x80) return ascii_space(c) ? 1 : 0;
  const std::ptrdiff_t n = end - begin;
  if (n >= 2 && end[-2] == 0xC2) return c == 0x85 || c == 0xA0 ? 2 : 0;
  if (n < 3) return 0;
  return space_at(end - 3, end) == 3 ? 3 : 0;
}

// A byte that is neither whitespace nor part of a character outside ASCII:
// a name that starts and ends with one has nothing to strip.
bool solid(char c) noexcept { return c > 0x20 && c < 0x7F; }

void trim(const char*& begin, const char*& end) noexcept {
  if (begin < end && solid(*begin) && solid(end[-1])) return;
  strip_whitespace(begin, end);
}

// The text of a delimiter for the message of a line without one.
std::string delimiter_text(const std::string& delimiter) {
  if (delimiter.empty()) return "a tab or a comma";
  if (delimiter == "\t") return "a tab";
  if (delimiter == ",") return "a comma";
  if (delimiter == " ") return "a space";
  const auto c = static_cast<unsigned char>(delimiter[0]);
  if (delimiter.size() == 1 && (c < 0x20 || c == 0x7F)) {
    static constexpr char kHex[] = "0123456789abcdef";
    return std::string("'\\x") + kHex[c >> 4] + kHex[c & 15] + "'";
  }
  return "'" + delimiter + "'";
}

// An open descriptor, closed with its owner.
class Descriptor {
 public:
  explicit Descriptor(int fd) noexcept : fd_(fd) {}
  ~Descriptor() { ::close(fd_); }
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;

 private:
  int fd_;
};

// Reads a descriptor. A regular file is read straight; anything else (a
// pipe, a terminal) is first waited on in steps that run the interrupt
// check between them, so that a read waiting for a writer still answers
// Ctrl-C.
class FdSource final : public ByteSource {
 public:
  explicit FdSource(int fd) : fd_(fd) {
    struct stat st;
    if (::fstat(fd, &st) != 0) throw FileFailure(errno, {});
    if (S_ISDIR(st.st_mode)) throw FileFailure(EISDIR, {});
    waits_ = !S_ISREG(st.st_mode);
  }

  std::size_t read(unsigned char* buffer, std::size_t capacity) override {
    for (;;) {
      if (waits_) wait_for_bytes();
      const ssize_t n = ::read(fd_, buffer, capacity);
      if (n >= 0) return static_cast<std::size_t>(n);
      if (errno == EINTR) {
        check_interrupt();
      } else if (errno == EAGAIN || errno == EWOULDBLOCK) {
        waits_ = true;  // a descriptor left non-blocking
      } else {
        throw FileFailure(errno, {});
      }
    }
  }

 private:
  void wait_for_bytes() {
    for (;;) {
      pollfd request{fd_, POLLIN, 0};
      const int ready = ::poll(&request, 1, kWaitMillis);
      // Ready, at its end or failed: the read says which.
      if (ready > 0 || (ready < 0 && errno != EINTR)) return;
      check_interrupt();
    }
  }

  int fd_;
  bool waits_ = false;
};

// The bytes of the first read, then the rest of the descriptor's.
class ProbedSource final : public ByteSource {
 public:
  ProbedSource(const unsigned char* first, std::size_t size, FdSource& rest) : first_(first), left_(size), rest_(rest) {}

  std::size_t read(unsigned char* buffer, std::size_t capacity) override {
    if (left_ == 0) return rest_.read(buffer, capacity);
    const std::size_t n = std::min(left_, capacity);
    std::memcpy(buffer, first_, n);
    first_ += n;
    left_ -= n;
    return n;
  }

 private:
  const unsigned char* first_;
  std::size_t left_;
  FdSource& rest_;
};

// The lines of the file, parsed as they arrive, their pairs added to the
// edge list (or handed to the interning thread). Text arrives at the end of
// one buffer; complete lines are parsed where they lie, and the incomplete
// last one moves to the front when the room behind it runs short, so only a
// line that spans two reads is ever copied. The names handed over are views
// of the buffer: the interning thread is drained before the buffer moves.
class EdgeLines final : public ByteSink {
 public:
  EdgeLines(EdgeList& edges, std::uint64_t seed, InterningThread* interner, const EdgeFileFormat& format)
      : edges_(edges),
        seed_(seed),
        interner_(interner),
        delimiter_(format.delimiter),
        comment_(format.comment),
        header_(format.header),
        buffer_(std::make_unique_for_overwrite<char[]>(kCapacity)),
        begin_(buffer_.get()),
        end_(buffer_.get()),
        unusual_(buffer_.get()) {}

  // Where the next bytes of the file go, and how many fit: at least kChunk.
  char* room() const noexcept { return end_; }
  std::size_t room_size() const noexcept { return static_cast<std::size_t>(buffer_.get() + kCapacity - end_); }
  // Parses the lines that `n` more bytes at room() complete.
  void commit(std::size_t n);
  void write(const unsigned char* bytes, std::size_t size) override;
  // The end of the file: its last line, if no newline ends it.
  void finish();
  // Lines complete so far.
  std::uint64_t lines() const noexcept { return lines_; }

 private:
  static constexpr std::size_t kCapacity = kMaxLineBytes + 1 + kChunk;
  // Pairs are added this many behind the one parsed, which gives the hints
  // for the names ahead (names.h) time to arrive.
  static constexpr std::size_t kLag = 8;
  static constexpr std::size_t kRing = 16;

  void line(const char* begin, const char* end, bool plain);
  void check_text(const char* begin, const char* end);
  void push(NameKey source, NameKey target);
  void add_oldest() {
    const Pair& pair = ring_[added_++ % kRing];
    edges_.add(pair.source, pair.target);
  }
  void add_pending() {
    if (interner_ != nullptr) {
      interner_->drain();
      return;
    }
    while (added_ < pushed_) add_oldest();
  }
  NameKey key(const char* begin, const char* end) const noexcept {
    const std::string_view bytes(begin, static_cast<std::size_t>(end - begin));
    return {bytes, hash_bytes(bytes, seed_)};
  }
  [[noreturn]] void bad_line(const char* what) const {
    throw BadEdgeFile("line " + std::to_string(lines_) + ": " + what, true);
  }

  struct Pair {
    NameKey source;
    NameKey target;
  };

  EdgeList& edges_;  // moved into the interning thread while there is one: only its names' hints are read here
  const std::uint64_t seed_;
  InterningThread* interner_;
  const std::string delimiter_;
  const std::string comment_;
  const bool header_;
  std::unique_ptr<char[]> buffer_;
  char* begin_;     // the first byte of the line not yet complete
  char* end_;       // the end of the bytes received
  char* unusual_;   // the first byte at or after begin_ that is NUL or not ASCII, or end_
  std::uint64_t lines_ = 0;
  std::string_view last_source_;  // in the buffer: forgotten when it moves
  std::uint64_t last_source_hash_ = 0;
  Pair ring_[kRing];
  std::size_t pushed_ = 0;
  std::size_t added_ = 0;
  Poller poller_;
};

void EdgeLines::commit(std::size_t n) {
  char* const old_end = end_;
  end_ += n;
  if (unusual_ == old_end) unusual_ = const_cast<char*>(find_unusual(old_end, end_));
  char* at = begin_;
  while (char* newline = const_cast<char*>(find_byte(at, end_, '\n'))) {
    const bool plain = newline < unusual_;
    line(at, newline, plain);
    at = newline + 1;
    if (!plain) unusual_ = const_cast<char*>(find_unusual(at, end_));
  }
  begin_ = at;
  if (static_cast<std::size_t>(end_ - begin_) > kMaxLineBytes) {
    ++lines_;
    bad_line("longer than 1 MiB");
  }
  if (room_size() < kChunk) {
    // The names of pending pairs lie in the buffer, which moves now; until
    // then, bytes arrive only behind them.
    add_pending();
    last_source_ = {};
    const std::size_t tail = static_cast<std::size_t>(end_ - begin_);
    const std::size_t unusual = static_cast<std::size_t>(unusual_ - begin_);
    std::memmove(buffer_.get(), begin_, tail);
    begin_ = buffer_.get();
    end_ = begin_ + tail;
    unusual_ = begin_ + unusual;
  }
}

void EdgeLines::write(const unsigned char* bytes, std::size_t size) {
  while (size > 0) {
    const std::size_t n = std::min(size, room_size());
    std::memcpy(room(), bytes, n);
    commit(n);
    bytes += n;
    size -= n;
  }
}

void EdgeLines::finish() {
  if (end_ > begin_) {
    line(begin_, end_, end_ <= unusual_);
    begin_ = end_;
  }
  add_pending();
}

// A NUL byte, or text that is not UTF-8 as Python's strict decoder reads
// it (no overlong forms, no surrogates, nothing past U+10FFFF), whichever
// comes first.
void EdgeLines::check_text(const char* begin, const char* end) {
  const auto* p = reinterpret_cast<const unsigned char*>(begin);
  const auto* stop = reinterpret_cast<const unsigned char*>(end);
  constexpr const char* kNotUtf8 = "not valid UTF-8 text";
  while (p < stop) {
    if (stop - p >= 8 && unusual_bytes(load64(reinterpret_cast<const char*>(p))) == 0) {
      p += 8;
      continue;
    }
    const unsigned char c = *p;
    if (c == 0) bad_line("NUL byte");
    if (c < 0x80) {
      ++p;
      continue;
    }
    std::ptrdiff_t follow = 0;
    unsigned char low = 0x80;
    unsigned char high = 0xBF;
    if (c >= 0xC2 && c <= 0xDF) {
      follow = 1;
    } else if (c >= 0xE0 && c <= 0xEF) {
      follow = 2;
      if (c == 0xE0) low = 0xA0;
      if (c == 0xED) high = 0x9F;
    } else if (c >= 0xF0 && c <= 0xF4) {
      follow = 3;
      if (c == 0xF0) low = 0x90;
      if (c == 0xF4) high = 0x8F;
    } else {
      bad_line(kNotUtf8);
    }
    if (stop - p <= follow || p[1] < low || p[1] > high) bad_line(kNotUtf8);
    for (std::ptrdiff_t k = 2; k <= follow; ++k) {
      if ((p[k] & 0xC0) != 0x80) bad_line(kNotUtf8);
    }
    p += follow + 1;
  }
}

// One line, its newline excluded. `plain`: it holds no NUL byte and no
// byte outside ASCII.
void EdgeLines::line(const char* begin, const char* end, bool plain) {
  ++lines_;
  // A unit of polling work per line and per 32 bytes of it: a file of long
  // lines still answers Ctrl-C.
  poller_.tick(1 + static_cast<std::size_t>(end - begin) / 32);
  if (static_cast<std::size_t>(end - begin) > kMaxLineBytes) bad_line("longer than 1 MiB");
  if (header_ && lines_ == 1) return;
  if (!plain) {
    check_text(begin, end);
    if (lines_ == 1 && end - begin >= 3 && std::memcmp(begin, "\xEF\xBB\xBF", 3) == 0) begin += 3;
  }
  while (end > begin && end[-1] == '\r') --end;
  // Blank: nothing but whitespace.
  if (begin == end || !solid(*begin)) {
    const char* first = begin;
    const char* last = end;
    strip_whitespace(first, last);
    if (first == last) return;
  }
  if (!comment_.empty() && static_cast<std::size_t>(end - begin) >= comment_.size() &&
      std::memcmp(begin, comment_.data(), comment_.size()) == 0) {
    return;
  }
  const char* split = nullptr;
  const char* field_end = nullptr;
  const auto size = static_cast<std::size_t>(end - begin);
  if (delimiter_.empty()) {
    char separator = '\t';
    split = find_byte(begin, end, '\t');
    if (split == nullptr) {
      separator = ',';
      split = find_byte(begin, end, ',');
    }
    if (split != nullptr) {
      field_end = find_byte(split + 1, end, separator);
    }
    if (split == nullptr) {
      bad_line("expected two names separated by a tab or a comma");
    }
    ++split;
  } else if (delimiter_.size() == 1) {
    split = find_byte(begin, end, delimiter_[0]);
    if (split == nullptr) bad_line(("expected two names separated by " + delimiter_text(delimiter_)).c_str());
    ++split;
    field_end = find_byte(split, end, delimiter_[0]);
  } else {
    split = static_cast<const char*>(::memmem(begin, size, delimiter_.data(), delimiter_.size()));
    if (split == nullptr) bad_line(("expected two names separated by " + delimiter_text(delimiter_)).c_str());
    split += delimiter_.size();
    field_end = static_cast<const char*>(
        ::memmem(split, static_cast<std::size_t>(end - split), delimiter_.data(), delimiter_.size()));
  }
  const char* source_begin = begin;
  const char* source_end = split - (delimiter_.empty() ? 1 : delimiter_.size());
  const char* target_begin = split;
  const char* target_end = field_end != nullptr ? field_end : end;
  trim(source_begin, source_end);
  trim(target_begin, target_end);
  if (source_begin == source_end || target_begin == target_end) bad_line("empty name");
  // A list names a source's targets one line after another: the source
  // that the line before named keeps its hash.
  const std::string_view source(source_begin, static_cast<std::size_t>(source_end - source_begin));
  if (source != last_source_) {
    last_source_ = source;
    last_source_hash_ = hash_bytes(source, seed_);
  }
  push({source, last_source_hash_}, key(target_begin, target_end));
}

void EdgeLines::push(NameKey source, NameKey target) {
  if (interner_ != nullptr) {
    interner_->add(source, target);
    return;
  }
  const std::size_t k = pushed_++;
  ring_[k % kRing] = {source, target};
  const NameTable& names = edges_.names();
  if (names.size() >= kNamesWorthHints) {
    names.prefetch_slot(source.hash);
    names.prefetch_slot(target.hash);
    if (k >= added_ + 4) {
      const Pair& p = ring_[(k - 4) % kRing];
      names.prefetch_bytes(p.source.hash);
      names.prefetch_bytes(p.target.hash);
    }
  }
  if (pushed_ - added_ > kLag) add_oldest();
}

// Reads the file through, gzip or text.
EdgeList read_edges_from(FdSource& source, const EdgeFileFormat& format, Threads threads) {
  EdgeList edges;
  const std::uint64_t seed = process_seed();
  edges.use_own_hashes(seed);
  {
    std::optional<InterningThread> interner;
    if (threads.count > 1) {
      interner.emplace(edges);
      if (!interner->start()) interner.reset();
    }
    DrainFirst drain_first{interner ? &*interner : nullptr, nullptr};
    std::optional<ThreadCheck> check;
    if (interner) {
      check.emplace(&DrainFirst::poll, &drain_first);
      drain_first.check = &*check;
    }
    EdgeLines lines(edges, seed, interner ? &*interner : nullptr, format);
    // On the way out with a failure too, the interning thread finishes
    // with the views of the lines' buffer before the buffer goes.
    struct Drained {
      InterningThread* interner;
      ~Drained() {
        if (interner == nullptr) return;
        try {
          interner->drain();
        } catch (...) {
          // The failure already on its way out is the one reported.
        }
      }
    } const drained{interner ? &*interner : nullptr};
    unsigned char probe[kProbeBytes];
    std::size_t probed = 0;
    while (probed < 2) {
      const std::size_t n = source.read(probe + probed, kProbeBytes - probed);
      if (n == 0) break;
      probed += n;
    }
    if (probed >= 2 && probe[0] == 0x1F && probe[1] == 0x8B) {
      ProbedSource stream(probe, probed, source);
      try {
        gunzip(stream, lines);
      } catch (const DamagedGzip& damage) {
        const std::string where = lines.lines() > 0 ? " after line " + std::to_string(lines.lines()) : "";
        throw BadEdgeFile("damaged gzip stream" + where + ": " + damage.what(), false);
      }
    } else {
      lines.write(probe, probed);
      for (;;) {
        const std::size_t n = source.read(reinterpret_cast<unsigned char*>(lines.room()), lines.room_size());
        if (n == 0) break;
        lines.commit(n);
      }
    }
    lines.finish();
  }
  return edges;
}

}  // namespace

void strip_whitespace(const char*& begin, const char*& end) noexcept {
  auto* b = reinterpret_cast<const unsigned char*>(begin);
  auto* e = reinterpret_cast<const unsigned char*>(end);
  while (b < e) {
    const std::size_t n = space_at(b, e);
    if (n == 0) break;
    b += n;
  }
  while (e > b) {
    const std::size_t n = space_before(b, e);
    if (n == 0) break;
    e -= n;
  }
  begin = reinterpret_cast<const char*>(b);
  end = reinterpret_cast<const char*>(e);
}

EdgeList read_edge_file(const char* path, const EdgeFileFormat& format, Threads threads) {
  int fd = -1;
  for (;;) {
    fd = ::open(path, O_RDONLY | O_CLOEXEC);
    if (fd >= 0) break;
    if (errno != EINTR) throw FileFailure(errno, path);
    check_interrupt();
  }
  const Descriptor owner(fd);
  FdSource source(fd);
  return read_edges_from(source, format, threads);
}

EdgeList read_edge_stream(int fd, const EdgeFileFormat& format, Threads threads) {
  FdSource source(fd);
  return read_edges_from(source, format, threads);
}

}  // namespace lhg
