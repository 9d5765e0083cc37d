#include "graph/names.h"

#include <algorithm>
#include <cstring>

#include "graph/failure.h"

namespace lhg {
namespace {

constexpr std::uint64_t kEmptySlot = ~std::uint64_t{0};
constexpr std::size_t kFirstCapacity = 64;

std::uint64_t slot_value(std::uint64_t hash, NodeId id) {
  return (hash & 0xFFFFFFFF00000000u) | id;
}

bool same_bytes(std::string_view a, std::string_view b) {
  return a.size() == b.size() && (a.empty() || std::memcmp(a.data(), b.data(), a.size()) == 0);
}

}  // namespace

void NameList::reserve(std::size_t names, std::size_t bytes) {
  arena_.reserve(bytes);
  starts_.reserve(names + 1);
  hashes_.reserve(names);
}

void NameList::push_back(NameKey key) {
  arena_.insert(arena_.end(), key.bytes.begin(), key.bytes.end());
  starts_.push_back(arena_.size());
  hashes_.push_back(key.hash);
}

NodeId NameTable::intern(NameKey key) {
  if (slots_.empty() || 2 * (names_.size() + 1) > slots_.size()) grow();
  const std::uint64_t high = key.hash & 0xFFFFFFFF00000000u;
  for (std::size_t i = key.hash & mask_;; i = (i + 1) & mask_) {
    const std::uint64_t slot = slots_[i];
    if (slot == kEmptySlot) {
      const std::size_t id = names_.size();
      if (id >= limit_) throw InternalFailure("node index space exhausted: too many distinct names");
      names_.push_back(key);
      slots_[i] = slot_value(key.hash, static_cast<NodeId>(id));
      return static_cast<NodeId>(id);
    }
    if ((slot & 0xFFFFFFFF00000000u) == high) {
      const auto id = static_cast<NodeId>(slot);
      if (same_bytes(names_[id], key.bytes)) return id;
    }
  }
}

NodeId NameTable::find(NameKey key) const noexcept {
  if (slots_.empty()) return kNoNode;
  const std::uint64_t high = key.hash & 0xFFFFFFFF00000000u;
  for (std::size_t i = key.hash & mask_;; i = (i + 1) & mask_) {
    const std::uint64_t slot = slots_[i];
    if (slot == kEmptySlot) return kNoNode;
    if ((slot & 0xFFFFFFFF00000000u) == high) {
      const auto id = static_cast<NodeId>(slot);
      if (same_bytes(names_[id], key.bytes)) return id;
    }
  }
}

void NameTable::drop_index() noexcept {
  slots_ = {};
  mask_ = 0;
}

// Keeps the load factor at or below one half; linear probing stays short.
void NameTable::grow() {
  const std::size_t capacity = std::max(kFirstCapacity, 2 * slots_.size());
  std::vector<std::uint64_t> slots(capacity, kEmptySlot);
  const std::size_t mask = capacity - 1;
  for (std::size_t id = 0; id < names_.size(); ++id) {
    const std::uint64_t hash = names_.key(id).hash;
    std::size_t i = hash & mask;
    while (slots[i] != kEmptySlot) i = (i + 1) & mask;
    slots[i] = slot_value(hash, static_cast<NodeId>(id));
  }
  slots_ = std::move(slots);
  mask_ = mask;
}

}  // namespace lhg
