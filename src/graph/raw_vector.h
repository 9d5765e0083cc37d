// Vectors for the large arrays of a build that are written in full after
// they are made: the rows, the pairs, the name index.
//
// std::vector value-initialises the elements that resize() makes: for the
// rows of a graph of millions of edges, a pass that writes zeros the fill
// then writes over. The allocator here makes an element without a value
// as `new T` would (trivial types stay uninitialised); elements made with
// a value (assign, push_back, the sized constructor with a value) are as
// they would be in any vector.
#pragma once

#include <algorithm>
#include <cstddef>
#include <memory>
#include <new>
#include <type_traits>
#include <utility>
#include <vector>

#include "graph/interrupt.h"

namespace lhg {

template <class T>
class RawAllocator : public std::allocator<T> {
 public:
  using value_type = T;
  template <class U>
  struct rebind {
    using other = RawAllocator<U>;
  };

  RawAllocator() noexcept = default;
  template <class U>
  RawAllocator(const RawAllocator<U>&) noexcept {}

  template <class U>
  void construct(U* p) noexcept(std::is_nothrow_default_constructible_v<U>) {
    ::new (static_cast<void*>(p)) U;
  }
  template <class U, class... Args>
  void construct(U* p, Args&&... args) {
    ::new (static_cast<void*>(p)) U(std::forward<Args>(args)...);
  }
};

template <class T>
using RawVector = std::vector<T, RawAllocator<T>>;

// `v` made `count` copies of `value`, a piece at a time between polls. The
// kernel hands out a large array's pages as they are first written, about a
// tenth of a second for 160 MB on a virtual machine: one fill of the whole
// would keep Ctrl-C waiting that long.
template <class V>
void fill_polled(V& v, std::size_t count, const typename V::value_type& value, Poller& poller) {
  constexpr auto kPiece = static_cast<std::size_t>(Poller::kUnitsPerCheck);  // a check a piece
  v.clear();
  v.reserve(count);
  while (v.size() < count) {
    const std::size_t piece = std::min(kPiece, count - v.size());
    v.insert(v.end(), piece, value);
    poller.tick(piece);
  }
}

}  // namespace lhg
