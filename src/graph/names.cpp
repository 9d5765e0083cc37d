#include "graph/names.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <new>
#include <random>

#include "graph/failure.h"
#include "graph/interrupt.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace lhg {
namespace {

constexpr std::size_t kFirstCapacity = 64;
constexpr std::size_t kMaxBlock = std::size_t{1} << 20;

}  // namespace

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

std::string_view NameArena::store(std::string_view bytes, std::size_t prefix, const void* head, bool one_line) {
  const std::size_t size = prefix + bytes.size();
  if (size == 0) return {};
  // Room for the padding that may keep the bytes within one line.
  const bool pad = one_line && bytes.size() <= kLine && bytes.size() > 1;
  const std::size_t room = size + (pad ? kLine - 1 : 0);
  if (room > left_) {
    const std::size_t block = std::max(next_block_, room);
    blocks_.push_back(std::make_unique_for_overwrite<char[]>(block));
    free_ = blocks_.back().get();
    left_ = block;
    reserved_ += block;
    next_block_ = std::min(2 * next_block_, kMaxBlock);
  }
  if (pad) {
    const std::size_t into = (reinterpret_cast<std::uintptr_t>(free_) + prefix) & (kLine - 1);
    const std::size_t skip = into + bytes.size() > kLine ? kLine - into : 0;
    free_ += skip;
    left_ -= skip;
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
  // Blocks that are mostly full stay: moving them would copy every name
  // into memory as large again, to save at most a quarter (the padding
  // that keeps names within a line, and the last block's end).
  if (reserved_ - total <= total / 4) return;
  std::vector<std::unique_ptr<char[]>> blocks;
  if (total > 0) blocks.push_back(std::make_unique_for_overwrite<char[]>(total));
  char* const first = total > 0 ? blocks.back().get() : nullptr;
  // The copy polls (it reads the names at random, a good part of a second
  // for tens of millions of them); the views move to the copy only once it
  // is complete, so a stop leaves them where they were.
  Poller poller;
  char* at = first;
  for (const std::string_view v : views) {
    poller.tick();
    const std::size_t size = prefix + v.size();
    if (size == 0) continue;
    std::memcpy(at, v.data() - prefix, size);
    at += size;
  }
  at = first;
  for (std::string_view& v : views) {
    const std::size_t size = prefix + v.size();
    if (size == 0) continue;
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

NodeId NameTable::insert(std::size_t i, NameKey key, std::uint64_t tag) {
  const std::size_t id = names_.size();
  if (id >= limit_) throw InternalFailure("node index space exhausted: too many distinct names");
  const std::string_view stored = arena_.store(key.bytes, prefix(), &key.hash, true);
  names_.push_back(stored);
  probes()[i] = {tag | id, where_of(stored)};
  return static_cast<NodeId>(id);
}

NodeId NameTable::find(NameKey key) const noexcept {
  if (slot_count_ == 0) return kNoNode;
  if (own_hashes_) key.hash = hash(key.bytes);
  const std::uint64_t tag = tag_of(key.hash);
  const std::size_t mask = slot_count_ - 1;
  if (probe_count_ != 0) {
    const Probe* probes = this->probes();
    for (std::size_t i = home(tag, shift_);; i = (i + 1) & mask) {
      const Probe& probe = probes[i];
      if (probe.slot == kEmptySlot) return kNoNode;
      if (tag_of(probe.slot) == tag && holds(probe, key.bytes)) return static_cast<NodeId>(probe.slot);
    }
  }
  for (std::size_t i = home(tag, shift_);; i = (i + 1) & mask) {
    const std::uint64_t slot = slot_data_[i];
    if (slot == kEmptySlot) return kNoNode;
    if (tag_of(slot) == tag) {
      const auto id = static_cast<NodeId>(slot);
      if (same_name(names_[id], key.bytes)) return id;
    }
  }
}

void NameTable::drop_index() noexcept {
  index_.reset();
  probe_count_ = 0;
  slot_data_ = nullptr;
  slot_count_ = 0;
  shift_ = 64;
}

void NameTable::shrink_to_fit() {
  if (probe_count_ != 0) {
    // Each slot word to the front, in the place it holds: slot i lands on
    // bytes 8i to 8i + 7, which belong to probe i / 2, read already. A
    // slot's place depends on its tag and the slots before it, not on
    // where its name lies.
    Probe* probes = this->probes();
    auto* slots = static_cast<std::uint64_t*>(index_.get());
    for (std::size_t i = 0; i < probe_count_; ++i) slots[i] = probes[i].slot;
    // Shrinking gives the second half back where it lies; should it move
    // the memory instead and fail, the slots stay where they are.
    if (void* shrunk = std::realloc(index_.get(), slot_count_ * sizeof(std::uint64_t))) {
      static_cast<void>(index_.release());
      index_.reset(shrunk);
    }
    slot_data_ = static_cast<const std::uint64_t*>(index_.get());
    probe_count_ = 0;
  }
  // The per-name array keeps room to grow into only when the room is a
  // small part of it: copying it to its exact size costs a pass over every
  // name, and a fresh array as large, to save a quarter of it at most.
  if (names_.capacity() - names_.size() > names_.size() / 4) names_.shrink_to_fit();
  arena_.compact(names_, prefix());
}

std::size_t NameTable::nbytes() const noexcept {
  const std::size_t index = probe_count_ != 0 ? probe_count_ * sizeof(Probe) : slot_count_ * sizeof(std::uint64_t);
  return arena_.nbytes() + names_.capacity() * sizeof(std::string_view) + index;
}

// Keeps the load factor at or below one half; linear probing stays short.
void NameTable::grow() {
  std::size_t capacity = std::max(kFirstCapacity, slot_count_);
  while (capacity < 2 * (names_.size() + 1)) capacity *= 2;
  const auto shift = static_cast<unsigned>(64 - std::countr_zero(capacity));
  std::unique_ptr<void, Free> memory(std::malloc(capacity * sizeof(Probe)));
  if (!memory) throw std::bad_alloc();
  auto* probes = static_cast<Probe*>(memory.get());
  // Doubling a table of millions of names takes a good part of a second:
  // it polls like any long loop. The table is left as it was until the new
  // one is complete, so a stop here leaves nothing half-moved.
  Poller poller;
  for (std::size_t i = 0; i < capacity; ++i) {
    poller.tick();
    probes[i] = {kEmptySlot, 0};
  }
  const std::size_t mask = capacity - 1;
  const auto place = [&](std::uint64_t slot, std::uint64_t where) {
    std::size_t i = home(tag_of(slot), shift);
    while (probes[i].slot != kEmptySlot) i = (i + 1) & mask;
    probes[i] = {slot, where};
  };
  if (probe_count_ != 0) {
    const Probe* old = this->probes();
    for (std::size_t i = 0; i < probe_count_; ++i) {
      poller.tick();
      if (old[i].slot != kEmptySlot) place(old[i].slot, old[i].where);
    }
  } else {
    // A complete table, or one adopted, interned into again.
    for (std::size_t i = 0; i < slot_count_; ++i) {
      poller.tick();
      const std::uint64_t slot = slot_data_[i];
      if (slot != kEmptySlot) place(slot, where_of(names_[static_cast<NodeId>(slot)]));
    }
  }
  index_ = std::move(memory);
  probe_count_ = capacity;
  slot_data_ = nullptr;
  slot_count_ = capacity;
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
  Poller poller;
  for (std::size_t id = 0; id < names.size(); ++id) {
    poller.tick();
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

bool NameTable::check_index(std::span<const std::uint64_t> index, std::size_t count, std::size_t max_run,
                            Poller& poller) {
  IndexCheck check(index.size(), count, max_run);
  // A piece at a time between polls: an index of a hundred million names
  // takes a tenth of a second to read.
  constexpr auto kPiece = static_cast<std::size_t>(Poller::kUnitsPerCheck);  // a check a piece
  static_assert(kPiece % IndexCheck::kWord == 0);
  for (std::size_t begin = 0; begin < index.size(); begin += kPiece) {
    const std::size_t end = std::min(index.size(), begin + kPiece);
    poller.tick(end - begin);
    check.feed(index.data() + begin, end - begin);
  }
  return check.passed();
}

NameTable::IndexCheck::IndexCheck(std::size_t size, std::size_t count, std::size_t max_run)
    : size_(size),
      count_(count),
      max_run_(max_run),
      width_(std::min(size, kWord)),
      full_(width_ == kWord ? ~std::uint64_t{0} : (std::uint64_t{1} << width_) - 1),
      // The numbers of an index of the wrong size are never marked. One bit
      // more, at `count`, takes the marks of numbers out of range.
      named_(std::has_single_bit(size) && size > count ? count / 64 + 1 : 0, 0) {}

// Slots are taken a word at a time, each word's occupied slots as the bits
// of a mask, without a branch per slot: half the slots are empty, in no
// pattern a predictor could follow. The occupied slots are then visited bit
// by bit, and runs counted in masks: only a run that crosses words can be
// longer than a word. The run that reaches the end goes on at the start, so
// the run before the first empty slot is kept apart.
void NameTable::IndexCheck::feed(const std::uint64_t* slots, std::size_t n) noexcept {
  // An index of the wrong size fails anyway.
  if (width_ == 0 || named_.size() != count_ / 64 + 1) return;
  std::size_t b = 0;
  for (; b + width_ <= n; b += width_) {
    const std::uint64_t* word_slots = slots + b;
    std::uint64_t occupied = 0;
#if defined(__SSE2__)
    if (width_ == kWord) {
      // Two slots to a register: a slot is empty when both its halves
      // are all ones.
      const __m128i ones = _mm_set1_epi32(-1);
      std::uint64_t empty = 0;
      for (std::size_t i = 0; i < kWord; i += 2) {
        const __m128i halves = _mm_cmpeq_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(word_slots + i)), ones);
        const __m128i both = _mm_and_si128(halves, _mm_shuffle_epi32(halves, 0xB1));
        empty |= static_cast<std::uint64_t>(_mm_movemask_pd(_mm_castsi128_pd(both))) << i;
      }
      occupied = ~empty;
    } else
#endif
    {
      for (std::size_t i = 0; i < width_; ++i) occupied |= static_cast<std::uint64_t>(word_slots[i] != kEmptySlot) << i;
    }
    // Each number named marked, once the slots are in the nearest cache:
    // a number named twice would let a search compare one name's bytes
    // once per slot that names it, and a run of slots naming one long name
    // would make a lookup read it thousands of times over.
    // In locals: the words of `named` might be these members, as far as
    // the compiler knows, and each would go through memory at every slot.
    std::uint64_t* const named = named_.data();
    const std::uint64_t count = count_;
    std::uint64_t outside = 0;
    std::uint64_t twice = 0;
    for (std::uint64_t left = occupied; left != 0; left &= left - 1) {
      const std::uint64_t id = word_slots[std::countr_zero(left)] & 0xFFFFFFFFu;
      const bool out = id >= count;
      outside |= static_cast<std::uint64_t>(out);
      const std::uint64_t kept = out ? count : id;
      std::uint64_t& word = named[kept >> 6];
      const std::uint64_t bit = std::uint64_t{1} << (kept & 63);
      twice |= word & bit;
      word |= bit;
    }
    outside_ |= outside;
    twice_ |= twice;
    if (occupied == full_) {
      run_ += width_;
      continue;
    }
    const auto low = static_cast<std::uint64_t>(std::countr_one(occupied));
    if (!seen_empty_) {
      seen_empty_ = true;
      leading_ = fed_ + b + low;
    }
    longest_ = std::max(longest_, run_ + low);
    run_ = static_cast<std::uint64_t>(std::countl_one(occupied << (kWord - width_)));
    // A bound below a word's width must see the runs inside it too: a run
    // of more than max_run slots leaves a bit after max_run shifts.
    if (max_run_ < width_) {
      std::uint64_t inside = occupied;
      for (std::size_t k = 1; k <= max_run_ && inside != 0; ++k) inside &= occupied >> k;
      if (inside != 0) longest_ = max_run_ + 1;
    }
  }
  // Only whole words count as fed: a stretch that ends inside a word leaves
  // the index short of its size, and it fails.
  fed_ += b;
}

bool NameTable::IndexCheck::passed() const noexcept {
  if (size_ == 0) return count_ == 0;
  if (!std::has_single_bit(size_) || size_ <= count_ || fed_ != size_ || size_ % width_ != 0) return false;
  if (!seen_empty_ || outside_ != 0 || twice_ != 0) return false;
  // `run_` is now the run at the end, which the leading run continues.
  return longest_ <= max_run_ && run_ + leading_ <= max_run_;
}

}  // namespace lhg
