#include "graph/utf8.h"

#include <cstdint>
#include <cstring>

namespace lhg {
namespace {

std::uint64_t load8(const unsigned char* p) noexcept {
  std::uint64_t word;
  std::memcpy(&word, p, sizeof word);
  return word;
}

}  // namespace

std::size_t valid_utf8_prefix(std::string_view bytes) noexcept {
  const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
  const std::size_t n = bytes.size();
  const auto continuation = [&](std::size_t k) { return (p[k] & 0xC0) == 0x80; };
  std::size_t i = 0;
  while (i < n) {
    // Most names are ASCII: 64 bytes at a time with no branch per word,
    // then 8.
    if (n - i >= 64) {
      std::uint64_t any = 0;
      for (std::size_t k = 0; k < 64; k += 8) any |= load8(p + i + k);
      if ((any & 0x8080808080808080u) == 0) {
        i += 64;
        continue;
      }
    }
    if (n - i >= 8 && (load8(p + i) & 0x8080808080808080u) == 0) {
      i += 8;
      continue;
    }
    const unsigned c = p[i];
    if (c < 0x80) {
      ++i;
    } else if (c < 0xC2) {  // a continuation byte, or the lead of an overlong pair
      return i;
    } else if (c < 0xE0) {
      if (n - i < 2 || !continuation(i + 1)) return i;
      i += 2;
    } else if (c < 0xF0) {
      if (n - i < 3) return i;
      const unsigned c1 = p[i + 1];
      // Not overlong (E0 needs A0 or above), not a surrogate (ED below A0).
      if ((c == 0xE0 && c1 < 0xA0) || (c == 0xED && c1 > 0x9F)) return i;
      if (!continuation(i + 1) || !continuation(i + 2)) return i;
      i += 3;
    } else if (c < 0xF5) {
      if (n - i < 4) return i;
      const unsigned c1 = p[i + 1];
      // Not overlong (F0 needs 90 or above), not past U+10FFFF (F4 below 90).
      if ((c == 0xF0 && c1 < 0x90) || (c == 0xF4 && c1 > 0x8F)) return i;
      if (!continuation(i + 1) || !continuation(i + 2) || !continuation(i + 3)) return i;
      i += 4;
    } else {
      return i;
    }
  }
  return n;
}

}  // namespace lhg
