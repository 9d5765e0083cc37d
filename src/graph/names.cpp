#include "graph/names.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <random>

#include "graph/failure.h"

namespace lhg {
namespace {

constexpr std::uint64_t kEmptySlot = ~std::uint64_t{0};
constexpr std::size_t kFirstCapacity = 64;
constexpr std::size_t kMaxBlock = std::size_t{1} << 20;

std::uint64_t tag_of(std::uint64_t hash) { return hash & 0xFFFFFFFF00000000u; }

// The tag, mixed by a multiplicative hash, picks the slot: spreading it anew
// keeps names whose tags share low bits apart.
std::size_t home(std::uint64_t tag, unsigned shift) { return (tag * 0x9E3779B97F4A7C15u) >> shift; }

bool same_bytes(std::string_view a, std::string_view b) {
  return a.size() == b.size() && (a.empty() || std::memcmp(a.data(), b.data(), a.size()) == 0);
}

std::uint64_t fold(std::uint64_t a, std::uint64_t b) noexcept {
  __extension__ using Wide = unsigned __int128;
  const Wide product = static_cast<Wide>(a) * b;
  return static_cast<std::uint64_t>(product) ^ static_cast<std::uint64_t>(product >> 64);
}

std::uint64_t load8(const char* p) noexcept {
  std::uint64_t word;
  std::memcpy(&word, p, 8);
  return word;
}

// The last 1 to 7 bytes, read as at most two overlapping loads.
std::uint64_t load_tail(const char* p, std::size_t n) noexcept {
  if (n >= 4) {
    std::uint32_t lo;
    std::uint32_t hi;
    std::memcpy(&lo, p, 4);
    std::memcpy(&hi, p + n - 4, 4);
    return (std::uint64_t{hi} << 32) | lo;
  }
  const auto b = [&](std::size_t i) { return std::uint64_t{static_cast<unsigned char>(p[i])}; };
  return (b(0) << 16) | (b(n >> 1) << 8) | b(n - 1);
}

constexpr std::uint64_t kMix0 = 0xa0761d6478bd642fu;
constexpr std::uint64_t kMix1 = 0xe7037ed1a0b428dbu;
constexpr std::uint64_t kMix2 = 0x8ebc6af09c88c6e3u;

}  // namespace

// Little-endian loads everywhere, so that a hash is the same on every
// machine this builds for; the result is written to snapshots.
std::uint64_t hash_bytes(std::string_view bytes, std::uint64_t seed) noexcept {
  static_assert(std::endian::native == std::endian::little);
  const char* p = bytes.data();
  std::size_t n = bytes.size();
  std::uint64_t h = fold(seed ^ kMix0, n ^ kMix1);
  while (n > 8) {
    h = fold(h ^ load8(p), kMix2);
    p += 8;
    n -= 8;
  }
  const std::uint64_t tail = n == 8 ? load8(p) : (n > 0 ? load_tail(p, n) : 0);
  h = fold(h ^ tail, kMix1 ^ n);
  return fold(h, kMix0);
}

std::uint64_t process_seed() noexcept {
  static const std::uint64_t seed = [] {
    std::uint64_t s = 0x243f6a8885a308d3u;
    try {
      std::random_device device;
      s ^= (std::uint64_t{device()} << 32) | device();
    } catch (...) {
      // No entropy source: the fixed seed still hashes well, only
      // predictably.
    }
    return s;
  }();
  return seed;
}

std::string_view NameArena::store(std::string_view bytes, std::size_t prefix, const void* head) {
  const std::size_t size = prefix + bytes.size();
  if (size == 0) return {};
  if (size > left_) {
    const std::size_t block = std::max(next_block_, size);
    blocks_.push_back(std::make_unique_for_overwrite<char[]>(block));
    free_ = blocks_.back().get();
    left_ = block;
    reserved_ += block;
    next_block_ = std::min(2 * next_block_, kMaxBlock);
  }
  char* copy = free_;
  if (prefix > 0) std::memcpy(copy, head, prefix);
  if (!bytes.empty()) std::memcpy(copy + prefix, bytes.data(), bytes.size());
  free_ += size;
  left_ -= size;
  return {copy + prefix, bytes.size()};
}

void NameArena::compact(std::vector<std::string_view>& views, std::size_t prefix) {
  std::size_t total = 0;
  for (const std::string_view v : views) total += prefix + v.size();
  std::vector<std::unique_ptr<char[]>> blocks;
  if (total > 0) blocks.push_back(std::make_unique_for_overwrite<char[]>(total));
  char* at = total > 0 ? blocks.back().get() : nullptr;
  for (std::string_view& v : views) {
    const std::size_t size = prefix + v.size();
    if (size == 0) continue;
    std::memcpy(at, v.data() - prefix, size);
    v = {at + prefix, v.size()};
    at += size;
  }
  blocks_ = std::move(blocks);
  free_ = at;
  left_ = 0;
  reserved_ = total;
}

void NameList::reserve(std::size_t names) {
  names_.reserve(names);
  hashes_.reserve(names);
}

void NameList::push_back(NameKey key) {
  names_.push_back(arena_.store(key.bytes));
  hashes_.push_back(key.hash);
}

NodeId NameTable::intern(NameKey key) {
  if (slots_.empty() || 2 * (names_.size() + 1) > slots_.size()) grow();
  const std::uint64_t tag = tag_of(key.hash);
  const std::size_t mask = slots_.size() - 1;
  for (std::size_t i = home(tag, shift_);; i = (i + 1) & mask) {
    const std::uint64_t slot = slots_[i];
    if (slot == kEmptySlot) {
      const std::size_t id = names_.size();
      if (id >= limit_) throw InternalFailure("node index space exhausted: too many distinct names");
      names_.push_back(arena_.store(key.bytes, prefix(), &key.hash));
      slots_[i] = tag | id;
      return static_cast<NodeId>(id);
    }
    if (tag_of(slot) == tag) {
      const auto id = static_cast<NodeId>(slot);
      if (same_bytes(names_[id], key.bytes)) return id;
    }
  }
}

NodeId NameTable::find(NameKey key) const noexcept {
  if (slot_count_ == 0) return kNoNode;
  if (own_hashes_) key.hash = hash(key.bytes);
  const std::uint64_t tag = tag_of(key.hash);
  const std::size_t mask = slot_count_ - 1;
  for (std::size_t i = home(tag, shift_);; i = (i + 1) & mask) {
    const std::uint64_t slot = slot_data_[i];
    if (slot == kEmptySlot) return kNoNode;
    if (tag_of(slot) == tag) {
      const auto id = static_cast<NodeId>(slot);
      if (same_bytes(names_[id], key.bytes)) return id;
    }
  }
}

void NameTable::prefetch_slot(std::uint64_t hash) const noexcept {
  if (slot_count_ == 0) return;
  __builtin_prefetch(&slot_data_[home(tag_of(hash), shift_)]);
}

// Only the first slot of the search is followed: most names are found there.
NodeId NameTable::first_candidate(std::uint64_t hash) const noexcept {
  if (slot_count_ == 0) return kNoNode;
  const std::uint64_t slot = slot_data_[home(tag_of(hash), shift_)];
  return slot != kEmptySlot && tag_of(slot) == tag_of(hash) ? static_cast<NodeId>(slot) : kNoNode;
}

void NameTable::prefetch_record(std::uint64_t hash) const noexcept {
  if (const NodeId id = first_candidate(hash); id != kNoNode) __builtin_prefetch(&names_[id]);
}

void NameTable::prefetch_bytes(std::uint64_t hash) const noexcept {
  if (const NodeId id = first_candidate(hash); id != kNoNode) __builtin_prefetch(names_[id].data());
}

void NameTable::drop_index() noexcept {
  slots_ = {};
  slot_data_ = nullptr;
  slot_count_ = 0;
  shift_ = 64;
}

void NameTable::shrink_to_fit() {
  names_.shrink_to_fit();
  arena_.compact(names_, prefix());
}

std::size_t NameTable::nbytes() const noexcept {
  return arena_.nbytes() + names_.capacity() * sizeof(std::string_view) + slot_count_ * sizeof(std::uint64_t);
}

// Keeps the load factor at or below one half; linear probing stays short.
void NameTable::grow() {
  const std::size_t capacity = std::max(kFirstCapacity, 2 * slots_.size());
  const auto shift = static_cast<unsigned>(64 - std::countr_zero(capacity));
  std::vector<std::uint64_t> slots(capacity, kEmptySlot);
  const std::size_t mask = capacity - 1;
  for (const std::uint64_t slot : slots_) {
    if (slot == kEmptySlot) continue;
    std::size_t i = home(tag_of(slot), shift);
    while (slots[i] != kEmptySlot) i = (i + 1) & mask;
    slots[i] = slot;
  }
  slots_ = std::move(slots);
  slot_data_ = slots_.data();
  slot_count_ = slots_.size();
  shift_ = shift;
}

namespace {

unsigned shift_for(std::size_t capacity) { return static_cast<unsigned>(64 - std::countr_zero(capacity)); }

}  // namespace

NameTable NameTable::adopt(std::vector<std::string_view> names, std::span<const std::uint64_t> index,
                           std::uint64_t seed) {
  NameTable table;
  table.use_own_hashes(seed);
  table.names_ = std::move(names);
  table.slot_data_ = index.data();
  table.slot_count_ = index.size();
  table.shift_ = index.empty() ? 64 : shift_for(index.size());
  table.limit_ = 0;  // nothing more is interned into it
  return table;
}

std::vector<std::uint64_t> NameTable::own_index(const NameTable& names, std::uint64_t seed,
                                                std::size_t& longest_run) {
  std::size_t capacity = kFirstCapacity;
  while (capacity < 2 * names.size()) capacity *= 2;
  const unsigned shift = shift_for(capacity);
  const std::size_t mask = capacity - 1;
  std::vector<std::uint64_t> slots(capacity, kEmptySlot);
  for (std::size_t id = 0; id < names.size(); ++id) {
    const std::uint64_t tag = tag_of(hash_bytes(names.name(static_cast<NodeId>(id)), seed));
    std::size_t i = home(tag, shift);
    while (slots[i] != kEmptySlot) i = (i + 1) & mask;
    slots[i] = tag | id;
  }
  // Runs may wrap around the end: measured from an empty slot, around.
  longest_run = 0;
  std::size_t start = 0;
  while (slots[start] != kEmptySlot) ++start;  // at least half are empty
  std::size_t run = 0;
  for (std::size_t k = 1; k <= capacity; ++k) {
    if (slots[(start + k) & mask] == kEmptySlot) {
      run = 0;
    } else {
      longest_run = std::max(longest_run, ++run);
    }
  }
  return slots;
}

bool NameTable::check_index(std::span<const std::uint64_t> index, std::size_t count, std::size_t max_run) {
  if (index.empty()) return count == 0;
  if (!std::has_single_bit(index.size()) || index.size() <= count) return false;
  // Runs are measured from the first empty slot, around the end and back.
  std::size_t start = 0;
  while (start < index.size() && index[start] != kEmptySlot) ++start;
  if (start == index.size() || start > max_run) return false;
  bool in_range = true;
  std::size_t run = 0;
  std::size_t longest = 0;
  const std::size_t mask = index.size() - 1;
  for (std::size_t k = 1; k <= index.size(); ++k) {
    const std::uint64_t slot = index[(start + k) & mask];
    const bool empty = slot == kEmptySlot;
    in_range &= empty || (slot & 0xFFFFFFFFu) < count;
    run = empty ? 0 : run + 1;
    longest = std::max(longest, run);
  }
  return in_range && longest <= max_run;
}

}  // namespace lhg
