#include "graph/closest.h"

#include <algorithm>
#include <cstdint>
#include <string_view>
#include <utility>

#include "graph/interrupt.h"

namespace lhg {
namespace {

// Names are compared by characters, not bytes: one edit of a character
// outside ASCII is one edit, not two to four.
std::size_t characters(std::string_view bytes) noexcept {
  std::size_t count = 0;
  for (const char c : bytes) count += (static_cast<unsigned char>(c) & 0xC0) != 0x80;
  return count;
}

// The code points of UTF-8 text (a byte that starts no character stands
// for itself).
void decode(std::string_view bytes, std::vector<char32_t>& out) {
  out.clear();
  for (std::size_t i = 0; i < bytes.size();) {
    const auto lead = static_cast<unsigned char>(bytes[i]);
    const std::size_t length = lead < 0x80 ? 1 : lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 1;
    if (length == 1 || i + length > bytes.size()) {
      out.push_back(lead);
      ++i;
      continue;
    }
    char32_t c = lead & (0x7F >> length);
    for (std::size_t k = 1; k < length; ++k) c = (c << 6) | (static_cast<unsigned char>(bytes[i + k]) & 0x3F);
    out.push_back(c);
    i += length;
  }
}

// The edit distance of a and b if it is at most `limit`, else limit + 1.
// Only cells within `limit` of the diagonal can hold a distance that small.
std::size_t bounded_distance(std::u32string_view a, std::u32string_view b, std::size_t limit,
                             std::vector<std::size_t>& row) {
  const std::size_t gap = a.size() > b.size() ? a.size() - b.size() : b.size() - a.size();
  if (gap > limit) return limit + 1;
  const std::size_t far = limit + 1;
  row.assign(b.size() + 1, far);
  for (std::size_t j = 0; j <= std::min(b.size(), limit); ++j) row[j] = j;
  for (std::size_t i = 1; i <= a.size(); ++i) {
    const std::size_t lo = i > limit ? i - limit : 1;
    const std::size_t hi = std::min(b.size(), i + limit);
    std::size_t diagonal = row[lo - 1];
    row[lo - 1] = lo - 1 == 0 && i <= limit ? i : far;
    std::size_t best = row[lo - 1];
    for (std::size_t j = lo; j <= hi; ++j) {
      const std::size_t up = row[j];
      const std::size_t cost = diagonal + (a[i - 1] == b[j - 1] ? 0 : 1);
      const std::size_t value = std::min({cost, up + 1, row[j - 1] + 1, far});
      diagonal = up;
      row[j] = value;
      best = std::min(best, value);
    }
    if (hi < b.size()) row[hi + 1] = far;
    if (best > limit) return far;
  }
  return std::min(row[b.size()], far);
}

}  // namespace

std::vector<NodeId> closest_names(const NameTable& names, std::string_view wanted, std::size_t count) {
  std::vector<char32_t> want;
  decode(wanted, want);
  // About one edit in four characters, at least one and at most four.
  const std::size_t limit = std::clamp<std::size_t>(want.size() / 4, 1, 4);
  std::vector<std::pair<std::size_t, NodeId>> near;
  std::vector<std::size_t> row;
  std::vector<char32_t> name;
  Poller poller;
  for (NodeId v = 0; v < names.size(); ++v) {
    const std::string_view bytes = names.name(v);
    poller.tick(1 + std::min(bytes.size(), wanted.size()));
    const std::size_t length = characters(bytes);
    if ((length > want.size() ? length - want.size() : want.size() - length) > limit) continue;
    decode(bytes, name);
    const std::size_t d = bounded_distance({name.data(), name.size()}, {want.data(), want.size()}, limit, row);
    if (d <= limit) near.emplace_back(d, v);
  }
  const std::size_t kept = std::min(count, near.size());
  std::partial_sort(near.begin(), near.begin() + static_cast<std::ptrdiff_t>(kept), near.end());
  std::vector<NodeId> result;
  for (std::size_t k = 0; k < kept; ++k) result.push_back(near[k].second);
  return result;
}

}  // namespace lhg
