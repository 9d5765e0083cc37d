// Node names held in one byte arena, and the interning table built on it.
//
// A name is an arbitrary byte string (empty strings and NUL bytes included),
// compared by exact bytes. Every name arrives with a 64-bit hash; within one
// table all hashes come from the same function of the bytes. There are two:
//  - the caller's: the boundary passes the interpreter's own string hash,
//    which is keyed per process, so crafted names cannot drive the table
//    into long probe chains, and is usually cached in the string object
//    already; the strings made from the names get it back as their cache;
//  - the table's own (`hash_bytes` with the table's seed), for names that
//    come from no interpreter string (files, Arrow buffers, snapshots). A
//    table of this kind computes the hash of a name it is asked to find
//    itself, whatever hash came with it.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <span>
#include <string_view>
#include <utility>
#include <vector>

#include "graph/types.h"

namespace lhg {
class Poller;
}

namespace lhg {

struct NameKey {
  std::string_view bytes;
  std::uint64_t hash;
};

// Never an interpreter's string hash: what a table of its own hashes gives
// as a name's hash, so that no string made from the name takes it as its
// cached hash.
inline constexpr std::uint64_t kNoCallerHash = ~std::uint64_t{0};

namespace name_bytes {

inline std::uint64_t load8(const char* p) noexcept {
  std::uint64_t word;
  std::memcpy(&word, p, 8);
  return word;
}

inline std::uint32_t load4(const char* p) noexcept {
  std::uint32_t word;
  std::memcpy(&word, p, 4);
  return word;
}

inline std::uint64_t fold(std::uint64_t a, std::uint64_t b) noexcept {
  __extension__ using Wide = unsigned __int128;
  const Wide product = static_cast<Wide>(a) * b;
  return static_cast<std::uint64_t>(product) ^ static_cast<std::uint64_t>(product >> 64);
}

// The last 1 to 7 bytes, read as at most two overlapping loads.
inline std::uint64_t load_tail(const char* p, std::size_t n) noexcept {
  if (n >= 4) return (std::uint64_t{load4(p + n - 4)} << 32) | load4(p);
  const auto b = [&](std::size_t i) { return std::uint64_t{static_cast<unsigned char>(p[i])}; };
  return (b(0) << 16) | (b(n >> 1) << 8) | b(n - 1);
}

inline constexpr std::uint64_t kMix0 = 0xa0761d6478bd642fu;
inline constexpr std::uint64_t kMix1 = 0xe7037ed1a0b428dbu;
inline constexpr std::uint64_t kMix2 = 0x8ebc6af09c88c6e3u;

}  // namespace name_bytes

// A seeded 64-bit hash of bytes, fast on short names: 8 bytes at a time,
// each folded in by a 64x64->128-bit multiply. Little-endian loads
// everywhere, so that a hash is the same on every machine this builds for;
// the result is written to snapshots. `seen` gets every byte ORed into one
// of its eight (the loads cover each byte at least once), so that a reader
// that must check its names' UTF-8 learns whether they are all ASCII from
// the loads the hash makes anyway. Inline: it runs once for nearly every
// name read, and a call costs a good part of hashing a package name.
inline std::uint64_t hash_bytes(std::string_view bytes, std::uint64_t seed, std::uint64_t& seen) noexcept {
  using namespace name_bytes;
  static_assert(std::endian::native == std::endian::little);
  const char* p = bytes.data();
  std::size_t n = bytes.size();
  std::uint64_t h = fold(seed ^ kMix0, n ^ kMix1);
  std::uint64_t all = 0;
  while (n > 8) {
    const std::uint64_t word = load8(p);
    all |= word;
    h = fold(h ^ word, kMix2);
    p += 8;
    n -= 8;
  }
  const std::uint64_t tail = n == 8 ? load8(p) : (n > 0 ? load_tail(p, n) : 0);
  seen = all | tail;
  h = fold(h ^ tail, kMix1 ^ n);
  return fold(h, kMix0);
}

inline std::uint64_t hash_bytes(std::string_view bytes, std::uint64_t seed) noexcept {
  std::uint64_t seen;
  return hash_bytes(bytes, seed, seen);
}

// Whether the bytes ORed into `seen` were all ASCII.
inline bool all_ascii(std::uint64_t seen) noexcept { return (seen & 0x8080808080808080u) == 0; }

// Whether two runs of n bytes are equal: inline, in words, for the short
// names that a table compares at nearly every hit, where the library's
// comparison costs a call and a dispatch on the length. Every load lies
// within the n bytes of both.
inline bool same_bytes(const char* a, const char* b, std::size_t n) noexcept {
  using namespace name_bytes;
  if (n >= 8) {
    if (n > 64) return std::memcmp(a, b, n) == 0;
    std::uint64_t differ = 0;
    for (std::size_t i = 0; i + 8 < n; i += 8) differ |= load8(a + i) ^ load8(b + i);
    return (differ | (load8(a + n - 8) ^ load8(b + n - 8))) == 0;
  }
  if (n >= 4) return ((load4(a) ^ load4(b)) | (load4(a + n - 4) ^ load4(b + n - 4))) == 0;
  if (n == 0) return true;
  // Bytes 0, n / 2 and n - 1 are every byte of a run of 1 to 3.
  return a[0] == b[0] && a[n >> 1] == b[n >> 1] && a[n - 1] == b[n - 1];
}

inline bool same_name(std::string_view a, std::string_view b) noexcept {
  return a.size() == b.size() && same_bytes(a.data(), b.data(), a.size());
}

// A seed drawn once per process from the system's entropy: names read from
// outside cannot be chosen to collide in a table keyed by it.
std::uint64_t process_seed() noexcept;

// Bytes of many names in blocks that never move: a name's bytes stay where
// they were first copied, so no growth ever copies the names again or holds
// two copies at once. Blocks grow geometrically up to a cap; a name longer
// than the cap gets a block of its own.
class NameArena {
 public:
  NameArena() = default;
  // An arena moved from is an empty one.
  NameArena(NameArena&& other) noexcept { *this = std::move(other); }
  NameArena& operator=(NameArena&& other) noexcept {
    blocks_ = std::move(other.blocks_);
    other.blocks_.clear();
    reserved_ = std::exchange(other.reserved_, 0);
    free_ = std::exchange(other.free_, nullptr);
    left_ = std::exchange(other.left_, 0);
    next_block_ = std::exchange(other.next_block_, kFirstBlock);
    return *this;
  }
  NameArena(const NameArena&) = delete;
  NameArena& operator=(const NameArena&) = delete;

  // A copy of `bytes`, valid as long as the arena, with `prefix` bytes
  // copied from `head` just before it. `one_line`: bytes that fit in a
  // cache line are placed within one, where a search that compares them
  // reads a single line.
  std::string_view store(std::string_view bytes, std::size_t prefix = 0, const void* head = nullptr,
                         bool one_line = false);
  static constexpr std::size_t kLine = 64;
  // Bytes of the blocks, used or not.
  std::size_t nbytes() const noexcept { return reserved_; }
  // Moves every name in `views` (all the arena holds, each stored with
  // `prefix` bytes before it) into one block of their exact size, and
  // points the views there, unless the room left in the blocks is at most
  // a quarter of what they hold: a complete table keeps little room for
  // names to come.
  void compact(std::vector<std::string_view>& views, std::size_t prefix);

 private:
  std::vector<std::unique_ptr<char[]>> blocks_;
  std::size_t reserved_ = 0;
  char* free_ = nullptr;  // the unused end of the last block
  std::size_t left_ = 0;
  static constexpr std::size_t kFirstBlock = 4096;
  std::size_t next_block_ = kFirstBlock;
};

// An ordered sequence of names, duplicates kept. No allocation per name.
class NameList {
 public:
  NameList() = default;
  NameList(NameList&&) noexcept = default;
  NameList& operator=(NameList&&) noexcept = default;
  NameList(const NameList&) = delete;  // potentially megabytes of text
  NameList& operator=(const NameList&) = delete;

  void reserve(std::size_t names);
  void push_back(NameKey key);

  std::size_t size() const noexcept { return hashes_.size(); }
  bool empty() const noexcept { return hashes_.empty(); }
  std::string_view operator[](std::size_t i) const noexcept { return names_[i]; }
  NameKey key(std::size_t i) const noexcept { return {names_[i], hashes_[i]}; }

 private:
  NameArena arena_;
  std::vector<std::string_view> names_;
  std::vector<std::uint64_t> hashes_;
};

// The name count from which interning a long list is worth the hints of
// NameTable ahead of it: below it, the table stays in the nearer caches and
// the hints cost more than the waits they save.
inline constexpr std::size_t kNamesWorthHints = std::size_t{1} << 17;

// Distinct names numbered 0, 1, 2, ... in order of first insertion, with a
// flat open-addressing index over them.
//
// A table that names are being interned into keeps, beside each slot of its
// index, where the bytes of the slot's name lie and how many there are: a
// search goes from the slot straight to the bytes. Reaching them through
// the name's record instead would be a third wait on memory for every name
// of a long list, none of whose three lie in the nearer caches. A complete
// table (shrink_to_fit) and one adopted keep the slots alone, at half the
// size; interning into one of those puts the places back first.
class NameTable {
 public:
  NameTable() = default;
  // A table moved from is an empty one: its index is the other's now.
  NameTable(NameTable&& other) noexcept { *this = std::move(other); }
  NameTable& operator=(NameTable&& other) noexcept {
    arena_ = std::move(other.arena_);
    names_ = std::move(other.names_);
    index_ = std::move(other.index_);
    probe_count_ = std::exchange(other.probe_count_, 0);
    slot_data_ = std::exchange(other.slot_data_, nullptr);
    slot_count_ = std::exchange(other.slot_count_, 0);
    shift_ = std::exchange(other.shift_, 64);
    limit_ = other.limit_;
    own_hashes_ = other.own_hashes_;
    seed_ = other.seed_;
    return *this;
  }
  NameTable(const NameTable&) = delete;
  NameTable& operator=(const NameTable&) = delete;

  // The number of `key`, numbering it next when it is new. Fails once the
  // number would reach the limit (the end marker, unless a test lowers it).
  // Inline: it runs for nearly every name of an edge list.
  NodeId intern(NameKey key) {
    if (2 * (names_.size() + 1) > probe_count_) [[unlikely]] grow();
    const std::uint64_t tag = tag_of(key.hash);
    const std::size_t mask = probe_count_ - 1;
    const Probe* probes = this->probes();
    for (std::size_t i = home(tag, shift_);; i = (i + 1) & mask) {
      const Probe& probe = probes[i];
      if (probe.slot == kEmptySlot) return insert(i, key, tag);
      if (tag_of(probe.slot) == tag && holds(probe, key.bytes)) return static_cast<NodeId>(probe.slot);
    }
  }
  void set_limit(std::uint32_t limit) noexcept { limit_ = limit; }
  // The number of `key`, or kNoNode. A table of its own hashes ignores
  // key.hash.
  NodeId find(NameKey key) const noexcept;

  // Makes an empty table one of its own hashes, keyed by `seed`: every name
  // interned from then on must come with hash(bytes).
  void use_own_hashes(std::uint64_t seed) noexcept {
    own_hashes_ = true;
    seed_ = seed;
  }
  bool own_hashes() const noexcept { return own_hashes_; }
  std::uint64_t seed() const noexcept { return seed_; }
  // The hash this table files `bytes` under, for a table of its own hashes.
  std::uint64_t hash(std::string_view bytes) const noexcept { return hash_bytes(bytes, seed_); }

  // A table of its own hashes over names held elsewhere (a snapshot): the
  // names in number order, and an index as `own_index` makes it, which the
  // table reads where it lies. Both must outlive the table; the index must
  // have been checked with `check_index`.
  static NameTable adopt(std::vector<std::string_view> names, std::span<const std::uint64_t> index,
                         std::uint64_t seed);
  // The index that a table of its own hashes with `seed` holds over these
  // names, at the smallest power-of-two size that keeps it at most half
  // full (and at least 64 slots); `longest_run` gets its longest run of
  // occupied slots, which bounds every search in it.
  static std::vector<std::uint64_t> own_index(const NameTable& names, std::uint64_t seed, std::size_t& longest_run);
  // Whether `index` (of a power-of-two size, larger than `count`) can serve
  // as an index over `count` names: every slot empty or naming a number
  // below `count`, no number named twice, no run of occupied slots longer
  // than `max_run`. Searches in an index that passes end within max_run
  // slots, compare at most the bytes of max_run distinct names and find
  // only names in range, whatever else its slots hold: a slot out of its
  // place or naming the wrong name only makes a search miss. Polls as it
  // goes.
  static bool check_index(std::span<const std::uint64_t> index, std::size_t count, std::size_t max_run,
                          Poller& poller);

  // The check of `check_index` fed the index a stretch at a time, in order,
  // for a reader that has its slots in the nearer caches for a while: each
  // stretch a whole number of words (`kWord` slots, or the whole of an
  // index of fewer), the stretches together the whole index.
  class IndexCheck {
   public:
    static constexpr std::size_t kWord = 64;
    IndexCheck(std::size_t size, std::size_t count, std::size_t max_run);
    void feed(const std::uint64_t* slots, std::size_t n) noexcept;
    // Whether the index passes; call once every slot is fed.
    bool passed() const noexcept;

   private:
    std::size_t size_;
    std::size_t count_;
    std::size_t max_run_;
    std::size_t width_;  // slots a word
    std::uint64_t full_;  // the mask of a word of occupied slots
    std::size_t fed_ = 0;
    // The numbers named so far, one bit each.
    std::vector<std::uint64_t> named_;
    std::uint64_t outside_ = 0;
    std::uint64_t twice_ = 0;
    std::uint64_t run_ = 0;  // occupied slots up to the end of the last word
    std::uint64_t longest_ = 0;
    std::uint64_t leading_ = 0;  // occupied slots before the first empty one
    bool seen_empty_ = false;
  };

  // Hints for a name with this hash that is about to be interned, given in
  // turn a few names ahead, the second reading only what the first asked
  // for: the slot where its search starts, then the bytes of the name
  // found there. A long edge list's names miss every cache, and an intern
  // that waits for each in turn spends most of its time waiting. Only a
  // table that names are being interned into takes them. Always inlined:
  // the compiler takes a function that only hints for one without effects,
  // and drops the calls of one it did not inline.
  [[gnu::always_inline]] void prefetch_slot(std::uint64_t hash) const noexcept {
    if (probe_count_ == 0) return;
    __builtin_prefetch(&probes()[home(tag_of(hash), shift_)]);
  }
  [[gnu::always_inline]] void prefetch_bytes(std::uint64_t hash) const noexcept {
    if (probe_count_ == 0) return;
    const Probe& probe = probes()[home(tag_of(hash), shift_)];
    if (probe.slot == kEmptySlot || tag_of(probe.slot) != tag_of(hash) || probe.where == 0) return;
    // A name longer than a line lies across two or more; the first two
    // are asked for.
    const char* bytes = reinterpret_cast<const char*>(probe.where >> 16);
    __builtin_prefetch(bytes);
    if ((probe.where & kWhereSize) > NameArena::kLine) __builtin_prefetch(bytes + NameArena::kLine);
  }

  // Hints for names about to be read by number: first the name's record
  // and hash, then, once those have come, its bytes.
  void prefetch_name(NodeId id) const noexcept { __builtin_prefetch(&names_[id]); }
  void prefetch_name_bytes(NodeId id) const noexcept { __builtin_prefetch(names_[id].data() - kHashPrefix); }

  std::size_t size() const noexcept { return names_.size(); }
  bool empty() const noexcept { return names_.empty(); }
  std::string_view name(NodeId id) const noexcept { return names_[id]; }
  // The name with the caller's hash it was first interned with; in a table
  // of its own hashes, with kNoCallerHash.
  NameKey key(NodeId id) const noexcept {
    const std::string_view name = names_[id];
    if (own_hashes_) return {name, kNoCallerHash};
    std::uint64_t hash;
    std::memcpy(&hash, name.data() - kHashPrefix, sizeof hash);
    return {name, hash};
  }

  // Drops the lookup index, keeping the names; for results that only read them.
  void drop_index() noexcept;
  // Frees the room that growing left in the per-name arrays and the places
  // of the names beside the index, for a table that is complete.
  void shrink_to_fit();
  // Bytes held: the names' bytes, the per-name arrays and the index.
  std::size_t nbytes() const noexcept;

 private:
  // Each slot holds the high 32 bits of the name's hash (its tag) above its
  // number, or kEmptySlot. Comparing tags first skips most byte comparisons,
  // and a slot's place is derived from its tag alone, so the table can grow
  // without keeping every name's hash.
  static constexpr std::uint64_t kEmptySlot = ~std::uint64_t{0};
  static std::uint64_t tag_of(std::uint64_t hash) noexcept { return hash & 0xFFFFFFFF00000000u; }
  // The tag, mixed by a multiplicative hash, picks the slot: spreading it
  // anew keeps names whose tags share low bits apart.
  static std::size_t home(std::uint64_t tag, unsigned shift) noexcept {
    return static_cast<std::size_t>((tag * 0x9E3779B97F4A7C15u) >> shift);
  }

  // A slot of a table being interned into, with where its name lies: the
  // address of its bytes above their count, or 0 where the two do not fit
  // in one word (an address above 48 bits, a name of 64 KiB or more, an
  // empty name), when the search reads the name's record instead.
  struct Probe {
    std::uint64_t slot;
    std::uint64_t where;
  };
  static constexpr std::uint64_t kWhereSize = 0xFFFF;
  static std::uint64_t where_of(std::string_view name) noexcept {
    const auto address = static_cast<std::uint64_t>(reinterpret_cast<std::uintptr_t>(name.data()));
    if (name.empty() || name.size() > kWhereSize || (address >> 48) != 0) return 0;
    return (address << 16) | name.size();
  }
  // Whether the slot's name (its tag matched) is `bytes`.
  bool holds(const Probe& probe, std::string_view bytes) const noexcept {
    if (probe.where == 0) [[unlikely]] return same_name(names_[static_cast<NodeId>(probe.slot)], bytes);
    return (probe.where & kWhereSize) == bytes.size() &&
           same_bytes(reinterpret_cast<const char*>(probe.where >> 16), bytes.data(), bytes.size());
  }
  // Numbers a new name, filed in the empty slot i.
  NodeId insert(std::size_t i, NameKey key, std::uint64_t tag);
  // Makes room for one more name: doubles the index, or gives a complete
  // table its places back.
  void grow();

  // In a table of the caller's hashes, each name's full hash lies in the
  // arena just before its bytes, kept for the results: the strings made
  // from the names get it as their cached hash, so a dict of them hashes
  // nothing. Beside the bytes, it comes with the same cache line as they
  // do, where an array of its own would cost a miss of its own.
  static constexpr std::size_t kHashPrefix = sizeof(std::uint64_t);
  std::size_t prefix() const noexcept { return own_hashes_ ? 0 : kHashPrefix; }

  Probe* probes() const noexcept { return static_cast<Probe*>(index_.get()); }

  struct Free {
    void operator()(void* memory) const noexcept { std::free(memory); }
  };

  NameArena arena_;
  std::vector<std::string_view> names_;
  // The index's memory, from malloc: the probe_count_ probes of a table
  // being interned into, or the slots of a complete one, which its probes'
  // slot words are packed into, the memory then shrunk where it lies.
  std::unique_ptr<void, Free> index_;
  std::size_t probe_count_ = 0;  // 0 unless index_ holds probes
  // The slots of a complete table: in index_, or an index lying elsewhere
  // that it adopted. Null while index_ holds probes.
  const std::uint64_t* slot_data_ = nullptr;
  std::size_t slot_count_ = 0;  // of either
  unsigned shift_ = 64;  // 64 - log2(slot count)
  std::uint32_t limit_ = kEndMarker;
  bool own_hashes_ = false;
  std::uint64_t seed_ = 0;
};

}  // namespace lhg
