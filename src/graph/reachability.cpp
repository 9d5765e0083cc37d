// Breadth-first searches from start nodes, stopping at a depth limit.
//
// The queue is the result list itself: nodes enter it once, in order of
// discovery, and each level's slice is expanded in turn, so depths leave the
// queue in non-decreasing order and every recorded depth is a shortest
// distance. Nodes at depth max_depth are recorded but not expanded. The start
// node is marked before the search begins, so cycles and self loops never
// bring it into its own result, and parallel edges find nothing new.
#include "graph/reachability.h"

#include "graph/interrupt.h"

#include <algorithm>
#include <cstdint>
#include <optional>

namespace lhg {
namespace {

// The discovered sets of one search after another over the same graph. A
// node counts as discovered when its stamp equals the current generation, so
// a new search starts by bumping the generation instead of clearing an array
// over all nodes: a batch of k searches costs what they reach, not k * n.
class Discovered {
 public:
  explicit Discovered(std::size_t node_count) : stamp_(node_count, 0) {}

  void next_search() {
    if (++generation_ == 0) {
      // After 2**32 - 1 searches old stamps would match again; clearing once
      // per 2**32 searches keeps the amortised cost nil.
      std::fill(stamp_.begin(), stamp_.end(), 0);
      generation_ = 1;
    }
  }
  // Marks v; true when v was not yet discovered in the current search.
  bool mark(NodeId v) noexcept {
    if (stamp_[v] == generation_) return false;
    stamp_[v] = generation_;
    return true;
  }

 private:
  std::vector<std::uint32_t> stamp_;
  std::uint32_t generation_ = 0;
};

// Appends the nodes within max_depth of s (s excluded) to `found`, in order of
// discovery, and the end of each level (absolute offsets into `found`, depth
// 1 first) to `level_end`. Appending lets one pair of arrays hold a whole
// batch. Requires max_depth > 0.
template <Direction dir>
void search(const Graph& graph, Discovered& discovered, NodeId s, Depth max_depth, std::vector<NodeId>& found,
            std::vector<std::size_t>& level_end, Poller& poller) {
  discovered.next_search();
  discovered.mark(s);
  auto visit = [&](NodeId u) {
    poller.tick();
    if (discovered.mark(u)) found.push_back(u);
  };
  std::size_t head = found.size();
  graph.for_each_neighbor<dir>(s, visit);
  level_end.push_back(found.size());
  // Nodes of depth d are expanded only while d < max_depth; d + 1 cannot wrap.
  for (Depth d = 1; d < max_depth && head < found.size(); ++d) {
    const std::size_t end = found.size();
    for (; head < end; ++head) {
      poller.tick();
      graph.for_each_neighbor<dir>(found[head], visit);
    }
    level_end.push_back(found.size());
  }
}

template <Direction dir>
DepthMap depth_search(EdgeList edges, NameKey start, Depth max_depth) {
  Graph graph = build_graph(std::move(edges));
  DepthMap result;
  const NodeId s = graph.find(start);
  if (s == kNoNode || max_depth == 0) return result;

  Discovered discovered(graph.node_count());
  Poller poller;
  search<dir>(graph, discovered, s, max_depth, result.found, result.level_end, poller);
  if (!result.found.empty()) result.names = std::move(graph).take_names();
  return result;
}

// Positions of the first listing of each distinct name, in list order.
std::vector<std::size_t> first_listings(const NameList& names) {
  std::vector<std::size_t> firsts;
  if (names.empty()) return firsts;
  constexpr std::size_t kEmpty = ~std::size_t{0};
  std::size_t capacity = 16;
  while (capacity < 2 * names.size()) capacity *= 2;  // load at most one half
  const std::size_t mask = capacity - 1;
  std::vector<std::size_t> slots(capacity, kEmpty);
  for (std::size_t i = 0; i < names.size(); ++i) {
    const NameKey key = names.key(i);
    for (std::size_t j = key.hash & mask;; j = (j + 1) & mask) {
      if (slots[j] == kEmpty) {
        slots[j] = i;
        firsts.push_back(i);
        break;
      }
      const NameKey seen = names.key(slots[j]);
      if (seen.hash == key.hash && seen.bytes == key.bytes) break;
    }
  }
  return firsts;
}

// A repeated start name is searched once: its search would find the same
// nodes at the same depths every time.
template <Direction dir>
BatchDepths batch_search(EdgeList edges, NameList starts, Depth max_depth) {
  Graph graph = build_graph(std::move(edges));
  BatchDepths result;
  result.keys = first_listings(starts);
  result.found_begin.reserve(result.keys.size() + 1);
  result.level_begin.reserve(result.keys.size() + 1);

  std::optional<Discovered> discovered;  // made when the first start name is found
  Poller poller;
  for (const std::size_t k : result.keys) {
    poller.tick();
    result.found_begin.push_back(result.found.size());
    result.level_begin.push_back(result.level_end.size());
    if (max_depth == 0) continue;
    const NodeId s = graph.find(starts.key(k));
    if (s == kNoNode) continue;
    if (!discovered) discovered.emplace(graph.node_count());
    search<dir>(graph, *discovered, s, max_depth, result.found, result.level_end, poller);
  }
  result.found_begin.push_back(result.found.size());
  result.level_begin.push_back(result.level_end.size());

  if (!result.found.empty()) result.names = std::move(graph).take_names();
  result.starts = std::move(starts);
  return result;
}

}  // namespace

DepthMap ancestors_at_depth_impl(EdgeList edges, NameKey target, Depth max_depth) {
  return depth_search<Direction::kBackward>(std::move(edges), target, max_depth);
}

DepthMap descendants_at_depth_impl(EdgeList edges, NameKey source, Depth max_depth) {
  return depth_search<Direction::kForward>(std::move(edges), source, max_depth);
}

BatchDepths batch_ancestors_impl(EdgeList edges, NameList targets, Depth max_depth) {
  return batch_search<Direction::kBackward>(std::move(edges), std::move(targets), max_depth);
}

BatchDepths batch_descendants_impl(EdgeList edges, NameList sources, Depth max_depth) {
  return batch_search<Direction::kForward>(std::move(edges), std::move(sources), max_depth);
}

}  // namespace lhg
