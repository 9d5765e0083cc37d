// Breadth-first searches from start nodes, stopping at a depth limit.
//
// The queue is the result list itself: nodes enter it once, in order of
// discovery, and each level's slice is expanded in turn, so depths leave the
// queue in non-decreasing order and every recorded depth is a shortest
// distance. Nodes at depth max_depth are recorded but not expanded. The start
// node is marked before the search begins, so cycles and self loops never
// bring it into its own result, and parallel edges find nothing new. A
// search touches the nodes and edges it reaches and nothing else: its marks
// are cleared node by node afterwards, not array-wide.
#include "graph/reachability.h"

#include "graph/interrupt.h"

#include <algorithm>
#include <atomic>
#include <cstdint>

namespace lhg {
namespace {

// Appends the nodes within max_depth of s (s excluded) to `found`, in order of
// discovery, and the end of each level (absolute offsets into `found`, depth
// 1 first) to `level_end`. Appending lets one pair of arrays hold a whole
// batch. Requires max_depth > 0.
template <Direction dir>
void search(const Graph& graph, NodeMarks& marks, NodeId s, Depth max_depth, std::vector<NodeId>& found,
            std::vector<std::size_t>& level_end, Poller& poller) {
  const ClearAfter clear(marks);
  marks.mark(s, 0);
  auto visit = [&](NodeId u) {
    poller.tick();
    if (marks.mark(u, 0)) found.push_back(u);
  };
  std::size_t head = found.size();
  graph.for_each_neighbor<dir>(s, visit);
  level_end.push_back(found.size());
  // Nodes of depth d are expanded only while d < max_depth; d + 1 cannot wrap.
  for (Depth d = 1; d < max_depth && head < found.size(); ++d) {
    const std::size_t end = found.size();
    for (; head < end; ++head) {
      poller.tick();
      // The rows of a level lie all over the graph: asked for a few nodes
      // ahead, they arrive while the nodes before them are expanded.
      if (head + 8 < end) graph.prefetch_row_start<dir>(found[head + 8]);
      if (head + 4 < end) graph.prefetch_row<dir>(found[head + 4]);
      graph.for_each_neighbor<dir>(found[head], visit);
    }
    level_end.push_back(found.size());
  }
}

template <Direction dir>
DepthMap depth_search(const Graph& graph, NodeId s, Depth max_depth, NodeMarks& marks) {
  DepthMap result;
  if (s == kNoNode || max_depth == 0) return result;
  Poller poller;
  search<dir>(graph, marks, s, max_depth, result.found, result.level_end, poller);
  return result;
}

// The searches of keys[begin, end), appended to `out` as one batch of
// those keys would hold them.
template <Direction dir>
void search_keys(const Graph& graph, const std::vector<NodeId>& start_nodes, std::size_t begin, std::size_t end,
                 Depth max_depth, NodeMarks& marks, BatchDepths& out, Poller& poller) {
  for (std::size_t k = begin; k < end; ++k) {
    poller.tick();
    out.found_begin.push_back(out.found.size());
    out.level_begin.push_back(out.level_end.size());
    const NodeId s = start_nodes[k];
    if (max_depth == 0 || s == kNoNode) continue;
    search<dir>(graph, marks, s, max_depth, out.found, out.level_end, poller);
  }
}

// Keys a worker claims at a time.
constexpr std::size_t kKeysPerChunk = 8;

// A repeated start name is searched once: its search would find the same
// nodes at the same depths every time. On several threads, workers claim
// chunks of keys in turn and search them into arrays of the chunk's own;
// the chunks are then joined in key order, their offsets moved by what
// came before, so the arrays are those of one thread.
template <Direction dir>
BatchDepths batch_search(const Graph& graph, const NameList& starts, Depth max_depth, MarksPool& pool,
                         Threads threads) {
  BatchDepths result;
  result.keys = first_listings(starts);
  const std::size_t keys = result.keys.size();
  std::vector<NodeId> start_nodes(keys);
  for (std::size_t k = 0; k < keys; ++k) start_nodes[k] = graph.find(starts.key(result.keys[k]));

  const std::size_t chunks = (keys + kKeysPerChunk - 1) / kKeysPerChunk;
  // Each search is taken to reach a thousand nodes and edges or the whole
  // graph, whichever is less: enough to keep threads off small batches.
  const std::size_t per_key = std::min<std::size_t>(graph.node_count() + graph.edge_count(), 1024);
  const unsigned workers = static_cast<unsigned>(
      std::min<std::size_t>(workers_for(threads, keys * per_key), std::max<std::size_t>(chunks, 1)));
  if (workers <= 1 || max_depth == 0) {
    auto marks = pool.lend();
    Poller poller;
    result.found_begin.reserve(keys + 1);
    result.level_begin.reserve(keys + 1);
    search_keys<dir>(graph, start_nodes, 0, keys, max_depth, *marks, result, poller);
  } else {
    std::vector<BatchDepths> parts(chunks);
    std::atomic<std::size_t> next{0};
    run_workers(workers, [&](unsigned) {
      auto marks = pool.lend();
      Poller poller;
      for (std::size_t c; (c = next.fetch_add(1, std::memory_order_relaxed)) < chunks;) {
        const std::size_t begin = c * kKeysPerChunk;
        search_keys<dir>(graph, start_nodes, begin, std::min(keys, begin + kKeysPerChunk), max_depth, *marks,
                         parts[c], poller);
      }
    });
    std::size_t found = 0;
    std::size_t levels = 0;
    for (const BatchDepths& part : parts) {
      found += part.found.size();
      levels += part.level_end.size();
    }
    result.found.reserve(found);
    result.level_end.reserve(levels);
    result.found_begin.reserve(keys + 1);
    result.level_begin.reserve(keys + 1);
    for (BatchDepths& part : parts) {
      const std::size_t found_shift = result.found.size();
      const std::size_t level_shift = result.level_end.size();
      for (const std::size_t f : part.found_begin) result.found_begin.push_back(f + found_shift);
      for (const std::size_t l : part.level_begin) result.level_begin.push_back(l + level_shift);
      for (const std::size_t e : part.level_end) result.level_end.push_back(e + found_shift);
      result.found.insert(result.found.end(), part.found.begin(), part.found.end());
      part = BatchDepths{};
    }
  }
  result.found_begin.push_back(result.found.size());
  result.level_begin.push_back(result.level_end.size());
  return result;
}

}  // namespace

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

DepthMap ancestors_at_depth(const Graph& graph, NodeId target, Depth max_depth, NodeMarks& marks) {
  return depth_search<Direction::kBackward>(graph, target, max_depth, marks);
}

DepthMap descendants_at_depth(const Graph& graph, NodeId source, Depth max_depth, NodeMarks& marks) {
  return depth_search<Direction::kForward>(graph, source, max_depth, marks);
}

BatchDepths batch_ancestors(const Graph& graph, const NameList& targets, Depth max_depth, MarksPool& pool,
                            Threads threads) {
  return batch_search<Direction::kBackward>(graph, targets, max_depth, pool, threads);
}

BatchDepths batch_descendants(const Graph& graph, const NameList& sources, Depth max_depth, MarksPool& pool,
                              Threads threads) {
  return batch_search<Direction::kForward>(graph, sources, max_depth, pool, threads);
}

}  // namespace lhg
