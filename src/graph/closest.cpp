#include "graph/closest.h"

#include <algorithm>
#include <cstdint>
#include <utility>

#include "graph/interrupt.h"

namespace lhg {
namespace {

// The edit distance of a and b if it is at most `limit`, else limit + 1.
// Only cells within `limit` of the diagonal can hold a distance that small.
std::size_t bounded_distance(std::string_view a, std::string_view b, std::size_t limit,
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
  // About one edit in four bytes, at least one and at most four.
  const std::size_t limit = std::clamp<std::size_t>(wanted.size() / 4, 1, 4);
  std::vector<std::pair<std::size_t, NodeId>> near;
  std::vector<std::size_t> row;
  Poller poller;
  for (NodeId v = 0; v < names.size(); ++v) {
    const std::string_view name = names.name(v);
    poller.tick(1 + std::min(name.size(), wanted.size()));
    const std::size_t d = bounded_distance(name, wanted, limit, row);
    if (d <= limit) near.emplace_back(d, v);
  }
  const std::size_t kept = std::min(count, near.size());
  std::partial_sort(near.begin(), near.begin() + static_cast<std::ptrdiff_t>(kept), near.end());
  std::vector<NodeId> result;
  for (std::size_t k = 0; k < kept; ++k) result.push_back(near[k].second);
  return result;
}

}  // namespace lhg
