// Breadth-first searches from one node along the edges, in walk order,
// that stop as soon as what they look for is settled.
//
// A search numbers the nodes it reaches by their place in its queue and
// keeps its state in arrays of that length, the marks of the graph's pool
// mapping node to place: it costs what it reaches, however large the
// graph. The node that discovers another is the earliest of that node's
// predecessors on shortest chains in the queue, since the queue is
// expanded in order; that fixes which chain `shortest_chain` returns and
// makes it the first of `shortest_chains`'s order.
//
// Counting the shortest chains to every node of the search (the number to
// a node is the sum of those to its predecessors on shortest chains) runs
// in 64 bits until a sum overflows, then again in limbs of any length.
#include "graph/chains.h"

#include <algorithm>
#include <utility>

#include "graph/interrupt.h"

namespace lhg {
namespace {

constexpr std::uint32_t kNone = kEndMarker;

// The chain from the search's start to the node at `place`, by discoverers.
std::vector<NodeId> chain_to(const std::vector<NodeId>& queue, const std::vector<std::uint32_t>& parent,
                             std::uint32_t place) {
  std::vector<NodeId> chain;
  for (std::uint32_t p = place; p != kNone; p = parent[p]) chain.push_back(queue[p]);
  std::reverse(chain.begin(), chain.end());
  return chain;
}

void add_into(ChainCount& sum, const ChainCount& term) {
  if (sum.size() < term.size()) sum.resize(term.size(), 0);
  std::uint64_t carry = 0;
  for (std::size_t i = 0; i < sum.size(); ++i) {
    const std::uint64_t t = i < term.size() ? term[i] : 0;
    const std::uint64_t partial = sum[i] + t;
    const std::uint64_t next_carry = (partial < t ? 1 : 0);
    sum[i] = partial + carry;
    carry = next_carry + (sum[i] < partial ? 1 : 0);
    if (carry == 0 && i >= term.size()) break;
  }
  if (carry != 0) sum.push_back(carry);
}

}  // namespace

std::optional<std::vector<NodeId>> shortest_chain(const Graph& graph, NodeId source, NodeId target,
                                                  NodeMarks& marks) {
  if (source == target) return std::vector<NodeId>{source};
  const ClearAfter clear(marks);
  std::vector<NodeId> queue{source};
  std::vector<std::uint32_t> parent{kNone};
  marks.mark(source, 0);
  Poller poller;
  for (std::uint32_t head = 0; head < queue.size(); ++head) {
    for (const NodeId w : graph.successors(queue[head])) {
      poller.tick();
      const auto place = static_cast<std::uint32_t>(queue.size());
      if (!marks.mark(w, place)) continue;
      queue.push_back(w);
      parent.push_back(head);
      if (w == target) return chain_to(queue, parent, place);
    }
  }
  return std::nullopt;
}

ChainList shortest_chains(const Graph& graph, NodeId source, NodeId target, std::size_t limit, NodeMarks& marks) {
  ChainList result;
  if (source == target) {
    if (limit > 0) result.chains.push_back({source});
    result.count = {1};
    return result;
  }
  const ClearAfter clear(marks);
  // The search, to the end of the target's level: every predecessor of a
  // node on a shortest chain to the target is then known.
  std::vector<NodeId> queue{source};
  std::vector<std::uint32_t> dist{0};
  // (place of w, place of its predecessor) for every edge of a shortest
  // chain to w, one per pair of nodes, in the order of the predecessors.
  std::vector<std::pair<std::uint32_t, std::uint32_t>> links;
  std::vector<std::uint32_t> last_pred{kNone};
  marks.mark(source, 0);
  std::uint32_t target_place = kNone;
  Poller poller;
  for (std::uint32_t head = 0; head < queue.size(); ++head) {
    if (target_place != kNone && dist[head] >= dist[target_place]) break;
    for (const NodeId w : graph.successors(queue[head])) {
      poller.tick();
      auto place = static_cast<std::uint32_t>(queue.size());
      if (marks.mark(w, place)) {
        queue.push_back(w);
        dist.push_back(dist[head] + 1);
        last_pred.push_back(kNone);
        if (w == target) target_place = place;
      } else {
        place = marks[w];
      }
      if (dist[place] == dist[head] + 1 && last_pred[place] != head) {
        last_pred[place] = head;
        links.emplace_back(place, head);
      }
    }
  }
  if (target_place == kNone) return result;

  // Predecessors by node, each node's in the order found (queue order).
  const std::size_t reached = queue.size();
  std::vector<std::uint32_t> begin(reached + 1, 0);
  for (const auto& link : links) ++begin[link.first + 1];
  for (std::size_t p = 0; p < reached; ++p) begin[p + 1] += begin[p];
  std::vector<std::uint32_t> preds(links.size());
  {
    std::vector<std::uint32_t> fill(begin.begin(), begin.end() - 1);
    for (const auto& [w, x] : links) preds[fill[w]++] = x;
  }

  // The count, in queue order: every predecessor comes before its node.
  std::vector<std::uint64_t> narrow(reached, 0);
  narrow[0] = 1;
  bool overflow = false;
  for (std::size_t p = 1; p < reached && !overflow; ++p) {
    poller.tick(1 + begin[p + 1] - begin[p]);
    for (std::uint32_t i = begin[p]; i < begin[p + 1]; ++i) {
      const std::uint64_t before = narrow[p];
      narrow[p] += narrow[preds[i]];
      if (narrow[p] < before) {
        overflow = true;
        break;
      }
    }
  }
  if (!overflow) {
    if (narrow[target_place] != 0) result.count = {narrow[target_place]};
  } else {
    // A node's predecessors are all one level up, so the counts of the
    // levels above that are let go as the sums move down: counts grow by
    // a limb every 64 levels or so, and a long search kept whole would hold
    // memory in the square of its depth.
    std::vector<ChainCount> wide(reached);
    wide[0] = {1};
    std::size_t kept_from = 0;
    for (std::size_t p = 1; p < reached; ++p) {
      for (; dist[kept_from] + 1 < dist[p]; ++kept_from) ChainCount().swap(wide[kept_from]);
      poller.tick(1 + begin[p + 1] - begin[p]);
      for (std::uint32_t i = begin[p]; i < begin[p + 1]; ++i) add_into(wide[p], wide[preds[i]]);
    }
    result.count = std::move(wide[target_place]);
  }

  // The first `limit` chains: a walk back from the target that tries each
  // node's predecessors in queue order. Every predecessor leads back to the
  // source, so every path the walk takes ends in a chain.
  std::vector<std::uint32_t> path{target_place};
  std::vector<std::uint32_t> next{begin[target_place]};
  while (!path.empty() && result.chains.size() < limit) {
    poller.tick();
    const std::uint32_t w = path.back();
    if (w == 0) {
      std::vector<NodeId>& chain = result.chains.emplace_back();
      for (auto it = path.rbegin(); it != path.rend(); ++it) chain.push_back(queue[*it]);
      path.pop_back();
      next.pop_back();
      continue;
    }
    if (next.back() < begin[w + 1]) {
      const std::uint32_t x = preds[next.back()++];
      path.push_back(x);
      next.push_back(begin[x]);
    } else {
      path.pop_back();
      next.pop_back();
    }
  }
  return result;
}

std::optional<std::vector<NodeId>> shortest_cycle(const Graph& graph, NodeId v, NodeMarks& marks) {
  const ClearAfter clear(marks);
  std::vector<NodeId> queue{v};
  std::vector<std::uint32_t> parent{kNone};
  marks.mark(v, 0);
  Poller poller;
  for (std::uint32_t head = 0; head < queue.size(); ++head) {
    const std::span<const NodeId> row = graph.successors(queue[head]);
    poller.tick(1 + row.size());
    // The earliest node of the queue with an edge back to v closes the
    // shortest cycle: the queue holds the nodes by distance from v.
    if (std::find(row.begin(), row.end(), v) != row.end()) return chain_to(queue, parent, head);
    for (const NodeId w : row) {
      if (!marks.mark(w, static_cast<std::uint32_t>(queue.size()))) continue;
      queue.push_back(w);
      parent.push_back(head);
    }
  }
  return std::nullopt;
}

}  // namespace lhg
