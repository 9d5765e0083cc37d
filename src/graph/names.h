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

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <span>
#include <string_view>
#include <vector>

#include "graph/types.h"

namespace lhg {

struct NameKey {
  std::string_view bytes;
  std::uint64_t hash;
};

// Never an interpreter's string hash: what a table of its own hashes gives
// as a name's hash, so that no string made from the name takes it as its
// cached hash.
inline constexpr std::uint64_t kNoCallerHash = ~std::uint64_t{0};

// A seeded 64-bit hash of bytes, fast on short names: 8 bytes at a time,
// each folded in by a 64x64->128-bit multiply.
std::uint64_t hash_bytes(std::string_view bytes, std::uint64_t seed) noexcept;
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
  NameArena(NameArena&&) noexcept = default;
  NameArena& operator=(NameArena&&) noexcept = default;
  NameArena(const NameArena&) = delete;
  NameArena& operator=(const NameArena&) = delete;

  // A copy of `bytes`, valid as long as the arena, with `prefix` bytes
  // copied from `head` just before it.
  std::string_view store(std::string_view bytes, std::size_t prefix = 0, const void* head = nullptr);
  // Bytes of the blocks, used or not.
  std::size_t nbytes() const noexcept { return reserved_; }
  // Moves every name in `views` (all the arena holds, each stored with
  // `prefix` bytes before it) into one block of their exact size, and
  // points the views there: a complete table keeps no room for names to
  // come.
  void compact(std::vector<std::string_view>& views, std::size_t prefix);

 private:
  std::vector<std::unique_ptr<char[]>> blocks_;
  std::size_t reserved_ = 0;
  char* free_ = nullptr;  // the unused end of the last block
  std::size_t left_ = 0;
  std::size_t next_block_ = 4096;
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
class NameTable {
 public:
  NameTable() = default;
  NameTable(NameTable&&) noexcept = default;
  NameTable& operator=(NameTable&&) noexcept = default;
  NameTable(const NameTable&) = delete;
  NameTable& operator=(const NameTable&) = delete;

  // The number of `key`, numbering it next when it is new. Fails once the
  // number would reach the limit (the end marker, unless a test lowers it).
  NodeId intern(NameKey key);
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
  // below `count`, no run of occupied slots longer than `max_run`. Searches
  // in an index that passes end within max_run slots and find only names in
  // range, whatever else its slots hold: a slot out of its place or naming
  // the wrong name only makes a search miss.
  static bool check_index(std::span<const std::uint64_t> index, std::size_t count, std::size_t max_run);
  std::span<const std::uint64_t> index() const noexcept { return {slot_data_, slot_count_}; }

  // Hints for a name with this hash that is about to be interned, given in
  // turn a few names ahead, each reading only what the one before asked
  // for: the slot where its search starts, the record of the name found
  // there, that name's bytes. A long edge list's names miss every cache,
  // and an intern that waits for each of the three in turn spends most of
  // its time waiting.
  void prefetch_slot(std::uint64_t hash) const noexcept;
  void prefetch_record(std::uint64_t hash) const noexcept;
  void prefetch_bytes(std::uint64_t hash) const noexcept;

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
  // Frees the room that growing left in the per-name arrays, for a table
  // that is complete.
  void shrink_to_fit();
  // Bytes held: the names' bytes, the per-name arrays and the index.
  std::size_t nbytes() const noexcept;

 private:
  void grow();
  // The name in the slot where the search for `hash` starts, if its tag
  // matches, or kNoNode.
  NodeId first_candidate(std::uint64_t hash) const noexcept;

  // In a table of the caller's hashes, each name's full hash lies in the
  // arena just before its bytes, kept for the results: the strings made
  // from the names get it as their cached hash, so a dict of them hashes
  // nothing. Beside the bytes, it comes with the same cache line as they
  // do, where an array of its own would cost a miss of its own.
  static constexpr std::size_t kHashPrefix = sizeof(std::uint64_t);
  std::size_t prefix() const noexcept { return own_hashes_ ? 0 : kHashPrefix; }

  NameArena arena_;
  std::vector<std::string_view> names_;
  // Each slot holds the high 32 bits of the name's hash (its tag) above its
  // number, or kEmptySlot. Comparing tags first skips most byte comparisons,
  // and a slot's place is derived from its tag alone, so the table can grow
  // without keeping every name's hash.
  // The table reads its slots through slot_data_: slots_ while it is built,
  // or an index lying elsewhere that it adopted.
  std::vector<std::uint64_t> slots_;
  const std::uint64_t* slot_data_ = nullptr;
  std::size_t slot_count_ = 0;
  unsigned shift_ = 64;  // 64 - log2(slot count)
  std::uint32_t limit_ = kEndMarker;
  bool own_hashes_ = false;
  std::uint64_t seed_ = 0;
};

}  // namespace lhg
