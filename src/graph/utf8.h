// Strict UTF-8, as the interpreter decodes it: no overlong forms, no
// surrogates, nothing above U+10FFFF.
#pragma once

#include <cstddef>
#include <string_view>

namespace lhg {

// The length of the longest prefix of `bytes` that is valid UTF-8 and ends
// at a character's end: bytes.size() when all of it is.
std::size_t valid_utf8_prefix(std::string_view bytes) noexcept;

}  // namespace lhg
