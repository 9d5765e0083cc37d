// The gzip decoder: table-driven inflate over a 64-bit bit buffer.
//
// Bits are read least significant first from a 64-bit buffer that a refill
// tops up to at least 56 bits, eight bytes at a time while eight remain in
// the input buffer: enough for a literal/length code with its extra bits
// and a distance code with its extra bits (15 + 5 + 15 + 13 = 48), so a
// whole match is decoded on one refill. Near the end of the input the
// refill takes one byte at a time and, past the end, adds zero bytes that
// are counted: a stream that turns out to need them was cut short, and no
// more than eight are ever added, so decoding that runs on past the end
// stops within a few symbols.
//
// A code is looked up by its first bits in a table whose entries say what
// the code stands for and how long it is; codes longer than the table's
// index lead to a second-level table. Tables are checked as zlib checks
// them: an over-subscribed set of lengths is refused, and an incomplete one
// too, except a single code of one bit (which a stream whose block uses one
// symbol may carry) and no distance codes at all (for a block of literals
// only); the bit patterns that no code covers decode as invalid.
#include "graph/inflate.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <memory>

#include "graph/interrupt.h"

namespace lhg {
namespace {

constexpr std::uint32_t kCrcPolynomial = 0xEDB88320u;

// Table k gives the CRC contribution of a byte followed by k zero bytes,
// so that eight bytes fold in with eight lookups and no dependency between
// them.
constexpr std::array<std::array<std::uint32_t, 256>, 8> make_crc_tables() {
  std::array<std::array<std::uint32_t, 256>, 8> tables{};
  for (std::uint32_t i = 0; i < 256; ++i) {
    std::uint32_t c = i;
    for (int k = 0; k < 8; ++k) c = (c & 1) != 0 ? kCrcPolynomial ^ (c >> 1) : c >> 1;
    tables[0][i] = c;
  }
  for (std::size_t k = 1; k < 8; ++k) {
    for (std::size_t i = 0; i < 256; ++i) tables[k][i] = (tables[k - 1][i] >> 8) ^ tables[0][tables[k - 1][i] & 0xFF];
  }
  return tables;
}

constexpr auto kCrcTables = make_crc_tables();

std::uint64_t load64(const unsigned char* p) noexcept {
  std::uint64_t word;
  std::memcpy(&word, p, 8);
  return word;
}

}  // namespace

std::uint32_t crc32(std::uint32_t crc, const unsigned char* bytes, std::size_t size) noexcept {
  const auto& t = kCrcTables;
  std::uint32_t c = ~crc;
  while (size >= 8) {
    const std::uint64_t w = load64(bytes) ^ c;
    c = t[7][w & 0xFF] ^ t[6][(w >> 8) & 0xFF] ^ t[5][(w >> 16) & 0xFF] ^ t[4][(w >> 24) & 0xFF] ^
        t[3][(w >> 32) & 0xFF] ^ t[2][(w >> 40) & 0xFF] ^ t[1][(w >> 48) & 0xFF] ^ t[0][w >> 56];
    bytes += 8;
    size -= 8;
  }
  while (size-- > 0) c = t[0][(c ^ *bytes++) & 0xFF] ^ (c >> 8);
  return ~c;
}

namespace {

constexpr std::size_t kWindow = std::size_t{1} << 15;  // how far back a match may reach
constexpr std::size_t kOutChunk = 224 * 1024;          // decoded bytes handed over at a time
constexpr std::size_t kInputSize = 256 * 1024;
constexpr std::size_t kMaxMatch = 258;
// A match is copied eight bytes at a time and may write up to seven bytes
// past its end.
constexpr std::size_t kCopySlack = 16;
// A unit of polling work (interrupt.h) per this many bytes handed over,
// and per block for its tables.
constexpr std::size_t kBytesPerUnit = 8;
constexpr std::uint64_t kUnitsPerBlock = 1024;

// What a table entry stands for: a literal byte, a length or distance base
// with `op & kExtraMask` extra bits to add, the end of the block, an invalid
// code, or (kLink) a second-level table of 2^(op & kExtraMask) entries
// starting at `value`, indexed by the bits after the first level's.
struct Entry {
  std::uint16_t value;
  std::uint8_t op;
  std::uint8_t bits;  // the code's whole length; the first level's index for a link
};
constexpr std::uint8_t kLiteral = 0x80;
constexpr std::uint8_t kLink = 0x40;
constexpr std::uint8_t kEndOfBlock = 0x20;
constexpr std::uint8_t kInvalid = 0x10;
constexpr std::uint8_t kExtraMask = 0x0F;
constexpr Entry kInvalidEntry{0, kInvalid, 1};

constexpr unsigned kLiteralRoot = 10;
constexpr unsigned kDistanceRoot = 8;
constexpr unsigned kLengthsRoot = 7;
constexpr unsigned kMaxCodeLength = 15;
// Room for the first level and a second-level table for every symbol whose
// code is longer than the first level's index: more than any set needs.
constexpr std::size_t kLiteralTableSize = (std::size_t{1} << kLiteralRoot) + 288 * (std::size_t{1} << (kMaxCodeLength - kLiteralRoot));
constexpr std::size_t kDistanceTableSize = (std::size_t{1} << kDistanceRoot) + 32 * (std::size_t{1} << (kMaxCodeLength - kDistanceRoot));
constexpr std::size_t kLengthsTableSize = std::size_t{1} << kLengthsRoot;

constexpr std::uint16_t kLengthBase[29] = {3,  4,  5,  6,  7,  8,  9,  10, 11,  13,  15,  17,  19,  23, 27,
                                           31, 35, 43, 51, 59, 67, 83, 99, 115, 131, 163, 195, 227, 258};
constexpr std::uint8_t kLengthExtra[29] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2,
                                           2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
constexpr std::uint16_t kDistanceBase[30] = {1,   2,   3,   4,   5,   7,    9,    13,   17,   25,   33,   49,    65,    97,    129,
                                             193, 257, 385, 513, 769, 1025, 1537, 2049, 3073, 4097, 6145, 8193, 12289, 16385, 24577};
constexpr std::uint8_t kDistanceExtra[30] = {0, 0, 0, 0, 1, 1, 2, 2,  3,  3,  4,  4,  5,  5,  6,
                                             6, 7, 7, 8, 8, 9, 9, 10, 10, 11, 11, 12, 12, 13, 13};
// The order in which a dynamic block lists the code lengths of its code
// length alphabet.
constexpr std::uint8_t kLengthsOrder[19] = {16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1, 15};

enum class Alphabet { kCodeLengths, kLiterals, kDistances };

Entry entry_for(Alphabet alphabet, unsigned symbol, unsigned bits) {
  const auto length = static_cast<std::uint8_t>(bits);
  switch (alphabet) {
    case Alphabet::kCodeLengths:
      return {static_cast<std::uint16_t>(symbol), 0, length};
    case Alphabet::kLiterals:
      if (symbol < 256) return {static_cast<std::uint16_t>(symbol), kLiteral, length};
      if (symbol == 256) return {0, kEndOfBlock, length};
      if (symbol < 286) return {kLengthBase[symbol - 257], kLengthExtra[symbol - 257], length};
      return {0, kInvalid, length};
    case Alphabet::kDistances:
      if (symbol < 30) return {kDistanceBase[symbol], kDistanceExtra[symbol], length};
      return {0, kInvalid, length};
  }
  return kInvalidEntry;
}

unsigned reversed(unsigned code, unsigned length) {
  unsigned r = 0;
  for (unsigned i = 0; i < length; ++i) {
    r = (r << 1) | (code & 1);
    code >>= 1;
  }
  return r;
}

// Fills `table` (first level indexed by `root` bits) with the canonical
// code of `lengths[0, count)`; false for a set of lengths that is refused.
bool build_table(Alphabet alphabet, const std::uint8_t* lengths, unsigned count, unsigned root, Entry* table,
                 std::size_t capacity) {
  unsigned counts[kMaxCodeLength + 1] = {};
  for (unsigned s = 0; s < count; ++s) ++counts[lengths[s]];
  unsigned longest = kMaxCodeLength;
  while (longest > 0 && counts[longest] == 0) --longest;
  const std::size_t first_level = std::size_t{1} << root;
  std::fill(table, table + first_level, kInvalidEntry);
  if (longest == 0) return alphabet == Alphabet::kDistances;
  int left = 1;
  for (unsigned len = 1; len <= kMaxCodeLength; ++len) {
    left = 2 * left - static_cast<int>(counts[len]);
    if (left < 0) return false;  // over-subscribed
  }
  if (left > 0 && (alphabet == Alphabet::kCodeLengths || longest != 1)) return false;  // incomplete

  unsigned offsets[kMaxCodeLength + 2] = {};
  for (unsigned len = 1; len <= kMaxCodeLength; ++len) offsets[len + 1] = offsets[len] + counts[len];
  const unsigned total = offsets[kMaxCodeLength + 1];
  std::uint16_t sorted[288];
  for (unsigned s = 0; s < count; ++s) {
    if (lengths[s] != 0) sorted[offsets[lengths[s]]++] = static_cast<std::uint16_t>(s);
  }

  unsigned remaining[kMaxCodeLength + 1];
  std::copy(counts, counts + kMaxCodeLength + 1, remaining);
  std::size_t next_free = first_level;
  unsigned group = ~0u;  // the first-level index of the second-level table being filled
  Entry* second = nullptr;
  unsigned second_bits = 0;
  unsigned code = 0;
  unsigned previous = lengths[sorted[0]];
  for (unsigned i = 0; i < total; ++i) {
    const unsigned symbol = sorted[i];
    const unsigned len = lengths[symbol];
    if (i > 0) code = (code + 1) << (len - previous);
    previous = len;
    const unsigned rev = reversed(code, len);
    const Entry e = entry_for(alphabet, symbol, len);
    if (len <= root) {
      for (std::size_t k = rev; k < first_level; k += std::size_t{1} << len) table[k] = e;
    } else {
      const unsigned prefix = rev & static_cast<unsigned>(first_level - 1);
      if (prefix != group) {
        // As large as the codes under this prefix need: the longest of
        // them, unless a shorter length already fills the subtree.
        unsigned bits = len - root;
        int room = 1 << bits;
        while (bits + root < longest) {
          room -= static_cast<int>(remaining[bits + root]);
          if (room <= 0) break;
          ++bits;
          room <<= 1;
        }
        const std::size_t size = std::size_t{1} << bits;
        if (next_free + size > capacity) return false;
        second = table + next_free;
        std::fill(second, second + size, kInvalidEntry);
        table[prefix] = {static_cast<std::uint16_t>(next_free), static_cast<std::uint8_t>(kLink | bits),
                         static_cast<std::uint8_t>(root)};
        next_free += size;
        group = prefix;
        second_bits = bits;
      }
      for (std::size_t k = rev >> root; k < (std::size_t{1} << second_bits); k += std::size_t{1} << (len - root)) {
        second[k] = e;
      }
    }
    --remaining[len];
  }
  return true;
}

class Inflater {
 public:
  Inflater(ByteSource& source, ByteSink& sink);
  void run();

 private:
  // --- input ---
  void refill() {
    if (in_end_ - in_next_ >= 8) {
      bitbuf_ |= load64(in_next_) << bitcount_;
      in_next_ += (63 - bitcount_) >> 3;
      bitcount_ |= 56;
    } else {
      refill_slowly();
    }
  }
  void refill_slowly();
  bool fill_input();
  std::uint32_t take(unsigned n) {
    const auto value = static_cast<std::uint32_t>(bitbuf_ & ((std::uint64_t{1} << n) - 1));
    bitbuf_ >>= n;
    bitcount_ -= n;
    return value;
  }
  std::uint32_t bits(unsigned n) {
    if (bitcount_ < n) refill();
    return take(n);
  }
  // Fails if bits past the end of the input were taken.
  void check_within_input() {
    if (bitcount_ < 8 * overrun_) fail("cut short");
  }
  // Marks the output so far as decoded from bytes of the input, while no
  // bit past its end has been taken.
  void note_good() {
    if (bitcount_ >= 8 * overrun_) good_end_ = out_next_;
  }
  bool input_exhausted() {
    if (bitcount_ < 8) refill();
    return bitcount_ <= 8 * overrun_;
  }

  // --- the stream ---
  bool member_header(bool first);
  void member();
  void stored_block();
  void dynamic_tables();
  void codes(const Entry* literals, const Entry* distances);

  // --- output ---
  void deliver();
  void make_room();
  [[noreturn]] void fail(const char* what);

  ByteSource& source_;
  ByteSink& sink_;
  Poller poller_;

  std::unique_ptr<unsigned char[]> in_buf_;
  const unsigned char* in_next_ = nullptr;
  const unsigned char* in_end_ = nullptr;
  bool eof_ = false;
  std::uint64_t bitbuf_ = 0;  // bits above bitcount_ may hold bytes not yet counted: the same ones, in place
  unsigned bitcount_ = 0;
  unsigned overrun_ = 0;  // zero bytes added past the end of the input

  std::unique_ptr<unsigned char[]> out_buf_;
  unsigned char* out_next_ = nullptr;
  unsigned char* out_limit_ = nullptr;
  const unsigned char* out_floor_ = nullptr;   // the member's first byte, or the oldest one kept
  const unsigned char* flush_from_ = nullptr;  // the first byte not handed over yet
  unsigned char* good_end_ = nullptr;          // the end of what was decoded from the input's own bits
  std::uint32_t crc_ = 0;
  std::uint64_t size_ = 0;

  std::unique_ptr<Entry[]> literals_;
  std::unique_ptr<Entry[]> distances_;
  std::unique_ptr<Entry[]> fixed_literals_;
  std::unique_ptr<Entry[]> fixed_distances_;
};

Inflater::Inflater(ByteSource& source, ByteSink& sink)
    : source_(source),
      sink_(sink),
      in_buf_(std::make_unique_for_overwrite<unsigned char[]>(kInputSize)),
      out_buf_(std::make_unique_for_overwrite<unsigned char[]>(kWindow + kOutChunk + kCopySlack)),
      literals_(std::make_unique_for_overwrite<Entry[]>(kLiteralTableSize)),
      distances_(std::make_unique_for_overwrite<Entry[]>(kDistanceTableSize)),
      fixed_literals_(std::make_unique_for_overwrite<Entry[]>(kLiteralTableSize)),
      fixed_distances_(std::make_unique_for_overwrite<Entry[]>(kDistanceTableSize)) {
  in_next_ = in_end_ = in_buf_.get();
  out_next_ = out_buf_.get();
  out_limit_ = out_next_ + kWindow + kOutChunk;
  out_floor_ = flush_from_ = good_end_ = out_next_;
  std::uint8_t lengths[288];
  std::fill(lengths, lengths + 144, 8);
  std::fill(lengths + 144, lengths + 256, 9);
  std::fill(lengths + 256, lengths + 280, 7);
  std::fill(lengths + 280, lengths + 288, 8);
  build_table(Alphabet::kLiterals, lengths, 288, kLiteralRoot, fixed_literals_.get(), kLiteralTableSize);
  std::fill(lengths, lengths + 32, 5);
  build_table(Alphabet::kDistances, lengths, 32, kDistanceRoot, fixed_distances_.get(), kDistanceTableSize);
}

bool Inflater::fill_input() {
  if (eof_) return false;
  const std::size_t n = source_.read(in_buf_.get(), kInputSize);
  in_next_ = in_buf_.get();
  in_end_ = in_next_ + n;
  eof_ = n == 0;
  return n > 0;
}

void Inflater::refill_slowly() {
  while (bitcount_ < 56) {
    if (in_next_ == in_end_ && !fill_input()) {
      bitbuf_ &= (std::uint64_t{1} << bitcount_) - 1;
      if (++overrun_ > 8) fail("cut short");
      bitcount_ += 8;
      continue;
    }
    bitbuf_ |= std::uint64_t{*in_next_++} << bitcount_;
    bitcount_ += 8;
  }
}

void Inflater::deliver() {
  const auto n = static_cast<std::size_t>(out_next_ - flush_from_);
  if (n == 0) return;
  const unsigned char* from = flush_from_;
  crc_ = crc32(crc_, from, n);
  size_ += n;
  flush_from_ = out_next_;
  poller_.tick(n / kBytesPerUnit);
  sink_.write(from, n);
}

// Hands over what is decoded and keeps the last 32 KiB, which matches to
// come may copy from.
void Inflater::make_room() {
  check_within_input();
  deliver();
  const std::size_t history = std::min(kWindow, static_cast<std::size_t>(out_next_ - out_floor_));
  std::memmove(out_buf_.get(), out_next_ - history, history);
  out_floor_ = out_buf_.get();
  out_next_ = out_buf_.get() + history;
  flush_from_ = good_end_ = out_next_;
}

// What was decoded before the failure is handed over first, so that a bad
// line in it is reported as such, and the failure is placed after it. A
// stream that failed only once past its end was cut short, whatever the
// zero bytes added there decoded as; nothing decoded from them is handed
// over, only what came before them.
void Inflater::fail(const char* what) {
  if (bitcount_ < 8 * overrun_) {
    if (good_end_ >= flush_from_ && good_end_ <= out_next_) {
      out_next_ = good_end_;
      deliver();
    }
    throw DamagedGzip("cut short");
  }
  deliver();
  throw DamagedGzip(what);
}

void Inflater::run() {
  bool first = true;
  while (member_header(first)) {
    first = false;
    member();
  }
}

// Reads the next member's header; false when the stream has nothing left
// but zero bytes (which gzip may pad a file with).
bool Inflater::member_header(bool first) {
  if (!first) {
    for (;;) {
      if (input_exhausted()) return false;
      if ((bitbuf_ & 0xFF) != 0) break;
      take(8);
      poller_.tick();
    }
  }
  std::uint32_t header_crc = 0;
  auto next = [&] {
    const auto byte = static_cast<unsigned char>(bits(8));
    header_crc = crc32(header_crc, &byte, 1);
    return byte;
  };
  constexpr unsigned kText = 1, kHeaderCrc = 2, kExtra = 4, kName = 8, kComment = 16;
  static_cast<void>(kText);
  if (next() != 0x1F || next() != 0x8B) fail(first ? "not a gzip stream" : "bytes that are no gzip member after a member");
  if (next() != 8) fail("unknown compression method");
  const unsigned flags = next();
  if ((flags & 0xE0) != 0) fail("reserved header flags set");
  for (int i = 0; i < 6; ++i) next();  // modification time, extra flags, system
  if ((flags & kExtra) != 0) {
    unsigned size = next();
    size |= unsigned{next()} << 8;
    for (unsigned i = 0; i < size; ++i) next();
  }
  if ((flags & kName) != 0) {
    while (next() != 0) poller_.tick();
  }
  if ((flags & kComment) != 0) {
    while (next() != 0) poller_.tick();
  }
  if ((flags & kHeaderCrc) != 0) {
    const std::uint32_t expected = header_crc & 0xFFFF;
    if (bits(16) != expected) fail("header CRC mismatch");
  }
  check_within_input();
  return true;
}

void Inflater::member() {
  crc_ = 0;
  size_ = 0;
  out_floor_ = out_next_;
  bool last = false;
  while (!last) {
    note_good();
    last = bits(1) != 0;
    switch (bits(2)) {
      case 0:
        stored_block();
        break;
      case 1:
        codes(fixed_literals_.get(), fixed_distances_.get());
        break;
      case 2:
        dynamic_tables();
        codes(literals_.get(), distances_.get());
        break;
      default:
        fail("invalid block type");
    }
    poller_.tick(kUnitsPerBlock);
  }
  check_within_input();
  take(bitcount_ & 7);
  deliver();
  std::uint32_t crc = 0;
  std::uint32_t size = 0;
  for (unsigned i = 0; i < 4; ++i) crc |= bits(8) << (8 * i);
  for (unsigned i = 0; i < 4; ++i) size |= bits(8) << (8 * i);
  check_within_input();
  if (crc != crc_) fail("CRC check failed");
  if (size != static_cast<std::uint32_t>(size_)) fail("length check failed");
}

void Inflater::stored_block() {
  take(bitcount_ & 7);
  const std::uint32_t length = bits(16);
  const std::uint32_t complement = bits(16);
  if (length != (~complement & 0xFFFF)) fail("invalid stored block lengths");
  std::size_t left = length;
  note_good();
  // The bytes already in the bit buffer come first, then the input's.
  while (left > 0 && bitcount_ >= 8 * (overrun_ + 1)) {
    if (out_next_ == out_limit_) make_room();
    *out_next_++ = static_cast<unsigned char>(take(8));
    --left;
  }
  if (left == 0) return;
  note_good();
  if (overrun_ > 0) fail("cut short");
  bitbuf_ = 0;
  while (left > 0) {
    if (in_next_ == in_end_ && !fill_input()) {
      note_good();
      fail("cut short");
    }
    if (out_next_ == out_limit_) make_room();
    const std::size_t n = std::min({left, static_cast<std::size_t>(in_end_ - in_next_),
                                    static_cast<std::size_t>(out_limit_ - out_next_)});
    std::memcpy(out_next_, in_next_, n);
    out_next_ += n;
    in_next_ += n;
    left -= n;
  }
}

void Inflater::dynamic_tables() {
  const unsigned literal_count = bits(5) + 257;
  const unsigned distance_count = bits(5) + 1;
  const unsigned lengths_count = bits(4) + 4;
  if (literal_count > 286 || distance_count > 30) fail("too many length or distance symbols");
  std::uint8_t code_lengths[19] = {};
  for (unsigned i = 0; i < lengths_count; ++i) code_lengths[kLengthsOrder[i]] = static_cast<std::uint8_t>(bits(3));
  Entry lengths_table[kLengthsTableSize];
  if (!build_table(Alphabet::kCodeLengths, code_lengths, 19, kLengthsRoot, lengths_table, kLengthsTableSize)) {
    fail("invalid code lengths set");
  }
  std::uint8_t lengths[286 + 30];
  const unsigned total = literal_count + distance_count;
  unsigned n = 0;
  while (n < total) {
    if (bitcount_ < kLengthsRoot + 7) refill();
    const Entry e = lengths_table[bitbuf_ & (kLengthsTableSize - 1)];
    take(e.bits);
    if (e.value < 16) {
      lengths[n++] = static_cast<std::uint8_t>(e.value);
      continue;
    }
    std::uint8_t value = 0;
    unsigned repeat = 0;
    if (e.value == 16) {
      if (n == 0) fail("invalid bit length repeat");
      value = lengths[n - 1];
      repeat = 3 + take(2);
    } else if (e.value == 17) {
      repeat = 3 + take(3);
    } else {
      repeat = 11 + take(7);
    }
    if (repeat > total - n) fail("invalid bit length repeat");
    std::memset(lengths + n, value, repeat);
    n += repeat;
  }
  if (lengths[256] == 0) fail("invalid code -- missing end-of-block");
  if (!build_table(Alphabet::kLiterals, lengths, literal_count, kLiteralRoot, literals_.get(), kLiteralTableSize)) {
    fail("invalid literal/lengths set");
  }
  if (!build_table(Alphabet::kDistances, lengths + literal_count, distance_count, kDistanceRoot, distances_.get(),
                   kDistanceTableSize)) {
    fail("invalid distances set");
  }
}

// The block's codes up to its end-of-block code. The state lives in locals
// here, where the compiler keeps it in registers, and goes back to the
// members around every call out.
void Inflater::codes(const Entry* literals, const Entry* distances) {
  constexpr std::uint64_t kLiteralMask = (std::uint64_t{1} << kLiteralRoot) - 1;
  constexpr std::uint64_t kDistanceMask = (std::uint64_t{1} << kDistanceRoot) - 1;
  std::uint64_t bitbuf = bitbuf_;
  unsigned bitcount = bitcount_;
  const unsigned char* in = in_next_;
  const unsigned char* in_end = in_end_;
  unsigned char* out = out_next_;
  const auto save = [&] {
    bitbuf_ = bitbuf;
    bitcount_ = bitcount;
    in_next_ = in;
    out_next_ = out;
  };
  const auto load = [&] {
    bitbuf = bitbuf_;
    bitcount = bitcount_;
    in = in_next_;
    in_end = in_end_;
    out = out_next_;
  };
  for (;;) {
    if (static_cast<std::size_t>(out_limit_ - out) < kMaxMatch) [[unlikely]] {
      save();
      make_room();
      load();
    }
    if (in_end - in >= 8) [[likely]] {
      bitbuf |= load64(in) << bitcount;
      in += (63 - bitcount) >> 3;
      bitcount |= 56;
    } else {
      // Near the end of the input, where bits past it may be taken.
      save();
      refill_slowly();
      note_good();
      load();
    }
    Entry e = literals[bitbuf & kLiteralMask];
    if ((e.op & kLink) != 0) e = literals[e.value + ((bitbuf >> kLiteralRoot) & ((1u << (e.op & kExtraMask)) - 1))];
    bitbuf >>= e.bits;
    bitcount -= e.bits;
    if ((e.op & kLiteral) != 0) {
      *out++ = static_cast<unsigned char>(e.value);
      continue;
    }
    if ((e.op & (kEndOfBlock | kInvalid)) != 0) [[unlikely]] {
      save();
      if ((e.op & kEndOfBlock) != 0) return;
      fail("invalid literal/length code");
    }
    unsigned extra = e.op & kExtraMask;
    const std::size_t length = e.value + static_cast<std::size_t>(bitbuf & ((1u << extra) - 1));
    bitbuf >>= extra;
    bitcount -= extra;
    Entry d = distances[bitbuf & kDistanceMask];
    if ((d.op & kLink) != 0) d = distances[d.value + ((bitbuf >> kDistanceRoot) & ((1u << (d.op & kExtraMask)) - 1))];
    bitbuf >>= d.bits;
    bitcount -= d.bits;
    if ((d.op & kInvalid) != 0) [[unlikely]] {
      save();
      fail("invalid distance code");
    }
    extra = d.op & kExtraMask;
    const std::size_t distance = d.value + static_cast<std::size_t>(bitbuf & ((1u << extra) - 1));
    bitbuf >>= extra;
    bitcount -= extra;
    if (distance > static_cast<std::size_t>(out - out_floor_)) [[unlikely]] {
      save();
      fail("invalid distance too far back");
    }
    const unsigned char* from = out - distance;
    if (distance >= 8) {
      unsigned char* to = out;
      unsigned char* const end = out + length;
      do {
        std::memcpy(to, from, 8);
        to += 8;
        from += 8;
      } while (to < end);
    } else if (distance == 1) {
      std::memset(out, *from, length);
    } else {
      for (std::size_t k = 0; k < length; ++k) out[k] = from[k];
    }
    out += length;
  }
}

}  // namespace

void gunzip(ByteSource& source, ByteSink& sink) {
  Inflater inflater(source, sink);
  inflater.run();
}

}  // namespace lhg
