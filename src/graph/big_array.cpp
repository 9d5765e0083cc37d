#include "graph/big_array.h"

#include <sys/mman.h>

#include <cstdint>

namespace lhg {
namespace {

constexpr std::size_t kHugePage = std::size_t{2} << 20;

std::size_t whole_pages(std::size_t bytes) noexcept { return (bytes + kHugePage - 1) & ~(kHugePage - 1); }

}  // namespace

void* map_big(std::size_t bytes) {
  const std::size_t size = whole_pages(bytes);
  if (size < bytes || size + kHugePage < size) throw std::bad_alloc();
  // One huge page more than asked for, so that an aligned start lies
  // within; the ends beyond the aligned part go back at once.
  void* mapped = ::mmap(nullptr, size + kHugePage, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (mapped == MAP_FAILED) throw std::bad_alloc();
  const auto start = reinterpret_cast<std::uintptr_t>(mapped);
  const std::uintptr_t aligned = (start + kHugePage - 1) & ~std::uintptr_t{kHugePage - 1};
  if (aligned > start) ::munmap(mapped, aligned - start);
  const std::uintptr_t end = start + size + kHugePage;
  if (end > aligned + size) ::munmap(reinterpret_cast<void*>(aligned + size), end - (aligned + size));
  void* memory = reinterpret_cast<void*>(aligned);
#ifdef MADV_HUGEPAGE
  // Only advice: a system without huge pages, or with them turned off,
  // refuses it, and the memory serves as it is.
  static_cast<void>(::madvise(memory, size, MADV_HUGEPAGE));
#endif
  return memory;
}

void unmap_big(void* memory, std::size_t bytes) noexcept { ::munmap(memory, whole_pages(bytes)); }

}  // namespace lhg
