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

#include <memory>
#include <new>
#include <type_traits>
#include <utility>
#include <vector>

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

}  // namespace lhg
