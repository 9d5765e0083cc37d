#include "graph/names.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <random>

#include "graph/failure.h"
#include "graph/interrupt.h"

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

NodeId NameTable::insert(std::size_t i, NameKey key, std::uint64_t tag) {
  const std::size_t id = names_.size();
  if (id >= limit_) throw InternalFailure("node index space exhausted: too many distinct names");
  const std::string_view stored = arena_.store(key.bytes, prefix(), &key.hash);
  names_.push_back(stored);
  probes_[i] = {tag | id, where_of(stored)};
  return static_cast<NodeId>(id);
}

NodeId NameTable::find(NameKey key) const noexcept {
  if (slot_count_ == 0) return kNoNode;
  if (own_hashes_) key.hash = hash(key.bytes);
  const std::uint64_t tag = tag_of(key.hash);
  const std::size_t mask = slot_count_ - 1;
  if (!probes_.empty()) {
    for (std::size_t i = home(tag, shift_);; i = (i + 1) & mask) {
      const Probe& probe = probes_[i];
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
  probes_ = {};
  slots_ = {};
  slot_data_ = nullptr;
  slot_count_ = 0;
  shift_ = 64;
}

void NameTable::shrink_to_fit() {
  // The slots alone, in the places they hold: a slot's place depends on
  // its tag and on the slots before it, not on where its name lies.
  if (!probes_.empty()) {
    std::vector<std::uint64_t> slots(probes_.size());
    for (std::size_t i = 0; i < probes_.size(); ++i) slots[i] = probes_[i].slot;
    slots_ = std::move(slots);
    slot_data_ = slots_.data();
    probes_ = {};
  }
  names_.shrink_to_fit();
  arena_.compact(names_, prefix());
}

std::size_t NameTable::nbytes() const noexcept {
  const std::size_t index = probes_.empty() ? slot_count_ * sizeof(std::uint64_t) : probes_.size() * sizeof(Probe);
  return arena_.nbytes() + names_.capacity() * sizeof(std::string_view) + index;
}

// Keeps the load factor at or below one half; linear probing stays short.
void NameTable::grow() {
  std::size_t capacity = std::max(kFirstCapacity, slot_count_);
  while (capacity < 2 * (names_.size() + 1)) capacity *= 2;
  const auto shift = static_cast<unsigned>(64 - std::countr_zero(capacity));
  BigVector<Probe> probes(capacity, Probe{kEmptySlot, 0});
  const std::size_t mask = capacity - 1;
  const auto place = [&](std::uint64_t slot, std::uint64_t where) {
    std::size_t i = home(tag_of(slot), shift);
    while (probes[i].slot != kEmptySlot) i = (i + 1) & mask;
    probes[i] = {slot, where};
  };
  if (!probes_.empty()) {
    for (const Probe& probe : probes_) {
      if (probe.slot != kEmptySlot) place(probe.slot, probe.where);
    }
  } else {
    // A complete table, or one adopted, interned into again.
    for (std::size_t i = 0; i < slot_count_; ++i) {
      const std::uint64_t slot = slot_data_[i];
      if (slot != kEmptySlot) place(slot, where_of(names_[static_cast<NodeId>(slot)]));
    }
  }
  probes_ = std::move(probes);
  slots_ = {};
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

bool NameTable::check_index(std::span<const std::uint64_t> index, std::size_t count, std::size_t max_run) {
  if (index.empty()) return count == 0;
  if (!std::has_single_bit(index.size()) || index.size() <= count) return false;
  // One pass, without a branch per slot: half the slots are empty, in no
  // pattern a predictor could follow. A run that reaches the end goes on
  // at the start, so the run before the first empty slot is kept apart.
  std::uint64_t out_of_range = 0;
  std::uint64_t run = 0;
  std::uint64_t longest = 0;
  std::uint64_t leading = 0;  // occupied slots before the first empty one
  std::uint64_t seen_empty = 0;
  for (const std::uint64_t slot : index) {
    const std::uint64_t empty = slot == kEmptySlot;
    const std::uint64_t id = slot & 0xFFFFFFFFu;
    out_of_range |= (1 - empty) & static_cast<std::uint64_t>(id >= count);
    run = (run + 1) & (empty - 1);  // 0 at an empty slot
    longest = longest > run ? longest : run;
    seen_empty |= empty;
    leading += 1 - seen_empty;
  }
  if (seen_empty == 0 || out_of_range != 0) return false;
  // `run` is now the run at the end, which the leading run continues.
  return longest <= max_run && run + leading <= max_run;
}

}  // namespace lhg
