// Memory for the large arrays that building a graph reads and writes at
// random: the name index, the names' bytes, the pairs and the rows.
//
// A build of millions of edges touches each of them all over, tens of
// megabytes apiece: with pages of 4 KiB nearly every touch misses the
// address cache as well as the data cache, and the first touch of every
// page is a fault of its own. Arrays from a few megabytes up are mapped on
// their own, aligned to 2 MiB and offered the system's huge pages, where
// it has them (on Linux, transparent huge pages in "madvise" or "always"
// mode); anywhere else they are ordinary memory. Smaller arrays come from
// the ordinary allocator, as do all of them under AddressSanitizer, which
// checks only the memory it hands out itself.
#pragma once

#include <cstddef>
#include <limits>
#include <memory>
#include <new>
#include <vector>

namespace lhg {

// Bytes from which an array is mapped on its own.
inline constexpr std::size_t kBigArrayBytes = std::size_t{4} << 20;

// `bytes` (at least kBigArrayBytes) of zeroed memory on pages of their
// own; throws std::bad_alloc when the system has none to give.
void* map_big(std::size_t bytes);
// Returns what map_big(bytes) gave.
void unmap_big(void* memory, std::size_t bytes) noexcept;

#if defined(__SANITIZE_ADDRESS__)
inline constexpr bool kBigArraysMapped = false;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
inline constexpr bool kBigArraysMapped = false;
#else
inline constexpr bool kBigArraysMapped = true;
#endif
#else
inline constexpr bool kBigArraysMapped = true;
#endif

template <class T>
class BigAllocator {
 public:
  using value_type = T;

  BigAllocator() noexcept = default;
  template <class U>
  BigAllocator(const BigAllocator<U>&) noexcept {}

  T* allocate(std::size_t n) {
    if (n > std::numeric_limits<std::size_t>::max() / sizeof(T)) throw std::bad_array_new_length();
    if (!mapped(n)) return std::allocator<T>().allocate(n);
    return static_cast<T*>(map_big(n * sizeof(T)));
  }
  void deallocate(T* p, std::size_t n) noexcept {
    if (!mapped(n)) {
      std::allocator<T>().deallocate(p, n);
      return;
    }
    unmap_big(p, n * sizeof(T));
  }

  template <class U>
  bool operator==(const BigAllocator<U>&) const noexcept {
    return true;
  }

 private:
  static bool mapped(std::size_t n) noexcept { return kBigArraysMapped && n * sizeof(T) >= kBigArrayBytes; }
};

template <class T>
using BigVector = std::vector<T, BigAllocator<T>>;

}  // namespace lhg
