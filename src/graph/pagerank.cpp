// The order of floating-point operations is part of the result: each share
// is a product then a quotient, and each next[j] starts at the teleport term
// and takes its additions one at a time in ascending order of the source
// node, edge shares and dangling shares interleaved by that order. A push
// loop over the sources in ascending order is exactly that order for every
// next[j] at once; several edges from one source to j add the same share
// one after another, so their order among themselves cannot matter.
//
// pagerank_literal is that loop, n additions per dangling node. pagerank_impl
// keeps every addition's rounding but not its cost. Numbering the dangling
// nodes by rank, node j's additions are teleport, the dangling shares of
// ranks below its first source, that source's shares, the dangling shares up
// to its next source, and so on. The part before the first source is the same
// for every node and is computed once (`head`). Each later stretch of
// dangling shares is a run, summed by BinadeSums (binade_sums.h) on the
// integer grid of the accumulator's binade: exact, because within one binade
// a rounded addition of y >= 0 adds y rounded to that binade's spacing, except
// at halfway cases and at the binade's top, which are taken by true
// additions. That premise needs every share and the teleport term >= 0 and
// finite, which holds for alpha in [0, 1]; otherwise (and for any iteration
// where a share is not finite) the runs are added one share at a time.
//
// The edges are walked per block of receiving nodes, in ascending order of
// source within a block, so that the nodes' running sums stay in cache while
// the shares and the run tables are read front to back.
#include "graph/pagerank.h"

#include "graph/binade_sums.h"
#include "graph/interrupt.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <cstddef>
#include <utility>
#include <vector>

namespace lhg {

namespace {
constexpr double kInfinity = std::numeric_limits<double>::infinity();
}  // namespace

ScoreMap pagerank_literal(EdgeList edges, double alpha, std::uint64_t max_iter) {
  Graph graph = build_graph(std::move(edges));
  const std::size_t n = graph.node_count();
  ScoreMap result;
  if (n == 0) return result;

  const double count = static_cast<double>(n);
  std::vector<Score> score(n, 1.0 / count);
  std::vector<Score> next(n);
  // Counting over the edge array gives the lengths of the outgoing lists
  // without walking them.
  std::vector<std::size_t> out_degree(n, 0);
  for (const Edge& e : graph.edges()) ++out_degree[e.source];
  const double teleport = (1.0 - alpha) / count;

  Poller poller;
  for (std::uint64_t iteration = 0; iteration < max_iter; ++iteration) {
    poller.tick(n + graph.edge_count());
    std::fill(next.begin(), next.end(), teleport);
    for (NodeId i = 0; i < n; ++i) {
      if (out_degree[i] > 0) {
        const double share = (score[i] * alpha) / static_cast<double>(out_degree[i]);
        graph.for_each_successor(i, [&](NodeId j) { next[j] += share; });
      } else {
        const double share = (score[i] * alpha) / count;
        for (double& x : next) x += share;
        poller.tick(n);
      }
    }
    score.swap(next);
  }

  result.scores = std::move(score);
  result.names = std::move(graph).take_names();
  return result;
}

namespace {

// The edges grouped by blocks of receiving nodes, each block's edges in
// ascending order of their source (one entry per edge, so parallel edges sit
// next to each other). Walking a block's edges in that order is the push
// loop restricted to the block: every node of the block sees its sources in
// ascending order, and the working state of the block's nodes stays in cache
// while the tables and the shares are read front to back.
class TargetBlocks {
 public:
  static constexpr std::size_t kBlockShift = 14;
  static constexpr std::size_t kBlock = std::size_t{1} << kBlockShift;

  struct Entry {
    NodeId target;
    NodeId source;
  };

  TargetBlocks(const Graph& graph, const std::vector<std::size_t>& out_degree) {
    const std::size_t n = graph.node_count();
    rank_.resize(n);
    const std::size_t blocks = (n + kBlock - 1) >> kBlockShift;
    begin_.assign(blocks + 1, 0);
    for (const Edge& e : graph.edges()) ++begin_[(e.target >> kBlockShift) + 1];
    for (std::size_t b = 0; b < blocks; ++b) begin_[b + 1] += begin_[b];
    entries_.resize(graph.edge_count());
    std::vector<std::size_t> fill(begin_.begin(), begin_.end() - 1);
    std::uint32_t rank = 0;
    for (NodeId i = 0; i < n; ++i) {
      rank_[i] = rank;
      if (out_degree[i] == 0) {
        dangling_.push_back(i);
        ++rank;
        continue;
      }
      graph.for_each_successor(i, [&](NodeId j) { entries_[fill[j >> kBlockShift]++] = Entry{j, i}; });
    }
  }

  std::size_t block_count() const noexcept { return begin_.size() - 1; }
  const Entry* begin(std::size_t b) const noexcept { return entries_.data() + begin_[b]; }
  const Entry* end(std::size_t b) const noexcept { return entries_.data() + begin_[b + 1]; }
  // The number of dangling nodes numbered below i.
  std::uint32_t rank(NodeId i) const noexcept { return rank_[i]; }
  const std::vector<NodeId>& dangling() const noexcept { return dangling_; }

 private:
  std::vector<std::size_t> begin_;
  std::vector<Entry> entries_;
  std::vector<std::uint32_t> rank_;
  std::vector<NodeId> dangling_;  // ascending
};

// A node's sum while its block is swept: the additions so far, the number
// of dangling shares among them, and where that leaves it in its grid's
// table. A node not yet reached has position kUntouched.
struct Partial {
  double acc;
  BinadeSums::Cursor cursor;
  std::uint32_t position;
};
constexpr std::uint32_t kUntouched = 0xFFFFFFFFu;

// One iteration over one block, in the defining order for each node:
// teleport, then for each source in ascending order its edge shares or, for
// a dangling source, its dangling share. Up to a node's first incoming edge
// every node takes the same additions, so head[k] (teleport followed by the
// dangling shares of ranks below k) is where its own additions begin; the
// dangling shares between two edges, and after the last, are one run.
// `add_run(acc, lo, hi, cursor)` adds those of ranks lo..hi-1; `settle`
// gives the cursor of a sum at a position.
template <class AddRun, class Settle>
void sweep_block(const TargetBlocks& blocks, std::size_t b, std::size_t n, const double* head, const double* share,
                 std::size_t dangling_count, std::vector<Partial>& partial, double* next, Poller& poller,
                 AddRun&& add_run, Settle&& settle) {
  const std::size_t first_node = b << TargetBlocks::kBlockShift;
  const std::size_t size = std::min(n - first_node, TargetBlocks::kBlock);
  for (std::size_t j = 0; j < size; ++j) partial[j].position = kUntouched;
  std::size_t since_poll = 0;
  for (const TargetBlocks::Entry* e = blocks.begin(b); e != blocks.end(b); ++e) {
    Partial& p = partial[e->target - first_node];
    const std::uint32_t rank = blocks.rank(e->source);
    if (p.position == kUntouched) {
      p.acc = head[rank];
    } else if (p.position != rank) {
      p.acc = add_run(p.acc, p.position, rank, p.cursor);
    }
    p.acc += share[e->source];
    p.position = rank;
    p.cursor = settle(p.acc, rank);
    if (++since_poll == 4096) {
      poller.tick(since_poll);
      since_poll = 0;
    }
  }
  poller.tick(since_poll + size);
  for (std::size_t j = 0; j < size; ++j) {
    const Partial& p = partial[j];
    next[first_node + j] =
        p.position == kUntouched ? head[dangling_count] : add_run(p.acc, p.position, dangling_count, p.cursor);
  }
}

}  // namespace

ScoreMap pagerank_impl(EdgeList edges, double alpha, std::uint64_t max_iter) {
  Graph graph = build_graph(std::move(edges));
  const std::size_t n = graph.node_count();
  ScoreMap result;
  if (n == 0) return result;

  const double count = static_cast<double>(n);
  std::vector<Score> score(n, 1.0 / count);
  std::vector<Score> next(n);
  std::vector<std::size_t> out_degree(n, 0);
  for (const Edge& e : graph.edges()) ++out_degree[e.source];
  const double teleport = (1.0 - alpha) / count;

  const TargetBlocks blocks(graph, out_degree);
  const std::vector<NodeId>& dangling = blocks.dangling();
  const std::size_t dangling_count = dangling.size();
  // share[i]: what node i adds along each of its edges; dangling_share[k]:
  // what the dangling node of rank k adds to every node.
  std::vector<double> share(n);
  std::vector<double> dangling_share(dangling_count);
  std::vector<double> head(dangling_count + 1);
  std::vector<Partial> partial(std::min(n, TargetBlocks::kBlock));
  BinadeSums sums;

  // For alpha in [0, 1] the teleport term and every share are >= 0, which is
  // what the run sums need; any other alpha takes the additions one by one.
  const bool runs_allowed = alpha >= 0.0 && alpha <= 1.0 && !std::signbit(teleport);

  Poller poller;
  for (std::uint64_t iteration = 0; iteration < max_iter; ++iteration) {
    poller.tick(n + graph.edge_count());
    bool fast = runs_allowed;
    for (NodeId i = 0; i < n; ++i) {
      if (out_degree[i] > 0) {
        share[i] = (score[i] * alpha) / static_cast<double>(out_degree[i]);
        fast = fast && share[i] >= 0.0 && share[i] < kInfinity;
      }
    }
    for (std::size_t k = 0; k < dangling_count; ++k) {
      const double s = (score[dangling[k]] * alpha) / count;
      dangling_share[k] = s;
      fast = fast && s >= 0.0 && s < kInfinity;
    }
    head[0] = teleport;
    for (std::size_t k = 0; k < dangling_count; ++k) head[k + 1] = head[k] + dangling_share[k];

    if (fast) {
      sums.restart(dangling_share.data(), dangling_count);
      auto add_run = [&](double acc, std::size_t lo, std::size_t hi, const BinadeSums::Cursor& cursor) {
        return sums.add_run(acc, lo, hi, cursor);
      };
      auto settle = [&](double acc, std::size_t at) { return sums.cursor_at(acc, at); };
      for (std::size_t b = 0; b < blocks.block_count(); ++b) {
        sweep_block(blocks, b, n, head.data(), share.data(), dangling_count, partial, next.data(), poller, add_run,
                    settle);
      }
    } else {
      // Outside the premises of the run sums: every addition on its own.
      auto add_each = [&](double acc, std::size_t lo, std::size_t hi, const BinadeSums::Cursor&) {
        poller.tick(hi - lo);
        for (std::size_t k = lo; k < hi; ++k) acc += dangling_share[k];
        return acc;
      };
      auto no_cursor = [](double, std::size_t) { return BinadeSums::Cursor{}; };
      for (std::size_t b = 0; b < blocks.block_count(); ++b) {
        sweep_block(blocks, b, n, head.data(), share.data(), dangling_count, partial, next.data(), poller, add_each,
                    no_cursor);
      }
    }
    score.swap(next);
  }

  result.scores = std::move(score);
  result.names = std::move(graph).take_names();
  return result;
}

}  // namespace lhg
