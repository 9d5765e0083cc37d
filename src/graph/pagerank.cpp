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
// the shares and the run tables are read front to back. Each node keeps its
// sum as a bit pattern together with a cursor into the table of its grid
// (the prefix sum at its position), so that the usual run, one that holds
// nothing to round by hand and stays in its binade, costs one table read and
// an integer addition; after an edge share the cursor is read afresh at the
// share's rank, one read without a branch whether or not the sum changed
// binade. Every node starts where its first source finds it (the head term
// at that source's rank), so no edge asks whether its node was reached
// before. The block is walked edge by edge (most sources have one or two
// edges into a block).
//
// On one thread, a graph too large for the blocks' random reads to stay in
// the caches is swept in the defining order itself, source after source
// (sweep_in_order): the shares and the tables are then read front to back,
// and each edge reads one node's sum at random, asked for well ahead.
#include "graph/pagerank.h"

#include "graph/binade_sums.h"
#include "graph/interrupt.h"
#include "graph/parallel.h"
#include "graph/raw_vector.h"

#include <algorithm>
#include <atomic>
#include <bit>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <optional>
#include <span>
#include <utility>
#include <vector>

namespace lhg {

namespace {

constexpr double kInfinity = std::numeric_limits<double>::infinity();

// What both versions start from and end with: the graph, every score at
// 1 / N, the out-degrees and the teleport term, computed once per call.
struct PowerIteration {
  PowerIteration(const Graph& g, double alpha)
      : graph(g), n(g.node_count()), count(static_cast<double>(n)), teleport((1.0 - alpha) / count) {
    Poller poller;
    fill_polled(score, n, 1.0 / count, poller);
    fill_polled(next, n, 0.0, poller);
    out_degree.reserve(n);
    for (NodeId v = 0; v < n; ++v) {
      poller.tick();
      out_degree.push_back(g.out_degree(v));
    }
  }

  ScoreMap finish() && { return std::move(score); }

  const Graph& graph;
  std::size_t n;
  double count;  // N, the node count as a double
  std::vector<Score> score;
  std::vector<Score> next;
  std::vector<std::size_t> out_degree;
  double teleport;
};

}  // namespace

ScoreMap pagerank_literal(const Graph& g, double alpha, std::uint64_t max_iter) {
  PowerIteration state(g, alpha);
  if (state.n == 0) return {};
  auto& [graph, n, count, score, next, out_degree, teleport] = state;

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
  return std::move(state).finish();
}

namespace {

// The edges by blocks of receiving nodes; within a block, by source in
// ascending order (parallel edges repeat their target), each edge with its
// source and that source's rank. Walking a block's edges in order is the
// push loop restricted to the block: every node of the block sees its
// sources in ascending order, and the working state of the block's nodes
// stays in cache while the tables and the shares are read front to back.
// The order of one source's targets does not matter: each of them takes
// the share once per edge, independently of the others.
class TargetBlocks {
 public:
  // Targets are stored relative to their block, in 16 bits; blocks hold
  // 2^shift nodes (shift at most 16).
  using Target = std::uint16_t;

  TargetBlocks(const Graph& graph, const std::vector<std::size_t>& out_degree, unsigned shift) : shift_(shift) {
    const std::size_t n = graph.node_count();
    const std::size_t m = graph.edge_count();
    // A handful of passes over the edges: each polls as the iterations do.
    Poller poller;
    // The targets by source: the graph's outgoing rows.
    const std::span<const EdgeId> start = graph.out_begin();
    const std::span<const NodeId> by_source = graph.out_targets();
    const std::size_t blocks = (n + block_size() - 1) >> shift_;
    std::vector<std::size_t> target_fill(blocks + 1, 0);
    for (const NodeId j : by_source) {
      poller.tick();
      ++target_fill[(j >> shift_) + 1];
    }
    for (std::size_t b = 0; b < blocks; ++b) target_fill[b + 1] += target_fill[b];
    target_begin_.assign(target_fill.begin(), target_fill.end());
    // Each edge's entries are written below, once.
    targets_.resize(m);
    ranks_.resize(m);
    sources_.resize(m);
    fill_polled(first_rank_, n, kNoRank, poller);
    std::uint32_t rank = 0;
    for (NodeId i = 0; i < n; ++i) {
      poller.tick(1 + out_degree[i]);
      if (out_degree[i] == 0) {
        dangling_.push_back(i);
        ++rank;
        continue;
      }
      for (EdgeId e = start[i]; e < start[i + 1]; ++e) {
        const NodeId j = by_source[e];
        if (first_rank_[j] == kNoRank) first_rank_[j] = rank;
        const std::size_t b = j >> shift_;
        ranks_[target_fill[b]] = rank;
        sources_[target_fill[b]] = i;
        targets_[target_fill[b]++] = static_cast<Target>(j & (block_size() - 1));
      }
    }
    for (std::uint32_t& r : first_rank_) {
      if (r == kNoRank) r = rank;
    }
  }

  std::size_t block_count() const noexcept { return target_begin_.size() - 1; }
  std::size_t block_size() const noexcept { return std::size_t{1} << shift_; }
  // Block b's nodes are first_node(b) .. first_node(b) + nodes_in(b, n) - 1.
  std::size_t first_node(std::size_t b) const noexcept { return b << shift_; }
  std::size_t nodes_in(std::size_t b, std::size_t n) const noexcept { return std::min(n - first_node(b), block_size()); }
  // Block b's edges are first_target(b) .. last_target(b) - 1.
  std::size_t first_target(std::size_t b) const noexcept { return target_begin_[b]; }
  std::size_t last_target(std::size_t b) const noexcept { return target_begin_[b + 1]; }
  const Target* targets() const noexcept { return targets_.data(); }
  // The source of each edge and its rank: the number of dangling nodes
  // numbered below the source.
  const NodeId* sources() const noexcept { return sources_.data(); }
  const std::uint32_t* ranks() const noexcept { return ranks_.data(); }
  const std::vector<NodeId>& dangling() const noexcept { return dangling_; }
  // The rank of node j's first source, or the number of dangling nodes if
  // it has none.
  const std::uint32_t* first_rank() const noexcept { return first_rank_.data(); }

 private:
  unsigned shift_;
  std::vector<std::size_t> target_begin_;
  RawVector<Target> targets_;
  RawVector<std::uint32_t> ranks_;
  RawVector<NodeId> sources_;
  std::vector<NodeId> dangling_;  // ascending
  std::vector<std::uint32_t> first_rank_;
  static constexpr std::uint32_t kNoRank = 0xFFFFFFFFu;
};

// The edges of a block between two polls.
constexpr std::size_t kEdgesPerPoll = std::size_t{1} << 14;

// How far ahead of the edge being added a sweep asks for the share of its
// source and for the table word of its run. A block's sources ascend, but
// sparsely: once the shares and the tables outgrow the last-level cache
// (about a million nodes), each edge waits on two reads from memory that no
// hardware prefetcher foresees, and the sweep then costs three times as
// much per edge as on a graph a quarter of the size. The table word depends
// on the grid of the node's sum, which is read early too and may still
// change before the edge is reached: that only wastes the hint.
// On smaller graphs, whose shares and tables stay in the nearer caches, the
// hints cost more than they save (about 8 % at 250,000 edges and 50,000
// nodes; at 200,000 nodes they save about as much): the sweep asks for them
// from this many nodes on.
constexpr std::size_t kShareAhead = 32;
constexpr std::size_t kTableAhead = 16;
constexpr std::size_t kPrefetchNodes = std::size_t{1} << 17;

// A node's sum while its block is swept: the additions so far, as a bit
// pattern, and its cursor in the table of its grid at the position of its
// last addition (see binade_sums.h).
struct Partial {
  std::uint64_t bits;
  std::uint64_t cursor;
};

// The same for the sweep that adds one share at a time: the position is the
// number of dangling shares added so far, kUntouched for a node not yet
// reached (no rank reaches it: there are fewer than 2^32 - 1 dangling nodes,
// as some node has an edge).
struct Single {
  std::uint64_t bits;
  std::uint32_t position;
};
constexpr std::uint32_t kUntouched = 0xFFFFFFFFu;

// The per-iteration values a sweep reads. head[k]: teleport followed by the
// dangling shares of ranks below k, in order, which is where every node's
// additions stand before its first edge of rank k.
struct Iteration {
  const double* head;
  const double* share;
  const double* dangling_share;
  std::uint32_t dangling_count;
};

// One iteration over one block by run sums, in the defining order for each
// node: teleport, then for each source in ascending order its edge shares
// or, for a dangling source, its dangling share. Every node starts where
// its first source finds it, at the head term of that source's rank, so
// that no addition has to ask whether its node was reached before.
template <bool kPrefetch>
void sweep_runs(const TargetBlocks& blocks, std::size_t b, std::size_t n, const Iteration& it, Partial* partial,
                double* next, BinadeSums& sums, Poller& poller) {
  const std::size_t first_node = blocks.first_node(b);
  const std::size_t size = blocks.nodes_in(b, n);
  const std::uint32_t* first_rank = blocks.first_rank() + first_node;
  for (std::size_t j = 0; j < size; ++j) {
    if constexpr (kPrefetch) {
      // The head term of a node further on, then the table word at it.
      if (j + 2 * kTableAhead < size) __builtin_prefetch(it.head + first_rank[j + 2 * kTableAhead]);
      if (j + kTableAhead < size) {
        const std::uint32_t ahead = first_rank[j + kTableAhead];
        sums.prefetch(std::bit_cast<std::uint64_t>(it.head[ahead]), ahead);
      }
    }
    const std::uint32_t r = first_rank[j];
    const std::uint64_t bits = std::bit_cast<std::uint64_t>(it.head[r]);
    partial[j] = Partial{bits, sums.cursor(bits, r)};
  }
  const TargetBlocks::Target* targets = blocks.targets();
  const std::uint32_t* ranks = blocks.ranks();
  const NodeId* sources = blocks.sources();
  const std::size_t t_end = blocks.last_target(b);
  // Edge by edge rather than source by source: most sources have one or two
  // edges into a block, and a loop per source would guess its end wrong
  // half the time. A block can hold most of the edges: it polls per chunk.
  for (std::size_t t = blocks.first_target(b); t < t_end;) {
    const std::size_t chunk_end = std::min(t_end, t + kEdgesPerPoll);
    poller.tick(chunk_end - t);
    for (; t < chunk_end; ++t) {
      if constexpr (kPrefetch) {
        // Near the block's end the hints fall on its last edge.
        __builtin_prefetch(it.share + sources[std::min(t + kShareAhead, t_end - 1)]);
        const std::size_t ahead = std::min(t + kTableAhead, t_end - 1);
        const std::uint64_t ahead_bits = partial[targets[ahead]].bits;
        sums.prefetch(ahead_bits, ranks[ahead]);
        // A share that takes the sum into the next binade reads its
        // cursor from that binade's table: guessed from the sum as it
        // stands and the share, whose line was asked for earlier.
        const std::uint64_t guess =
            std::bit_cast<std::uint64_t>(std::bit_cast<double>(ahead_bits) + it.share[sources[ahead]]);
        if ((guess >> 52) != (ahead_bits >> 52)) sums.prefetch(guess, ranks[ahead]);
      }
      const std::uint32_t r = ranks[t];
      Partial& p = partial[targets[t]];
      const std::uint64_t bits =
          std::bit_cast<std::uint64_t>(std::bit_cast<double>(sums.run(p.bits, p.cursor, r)) + it.share[sources[t]]);
      // The cursor at r, read whether or not the share changed the grid: if
      // it did not, this is the word the run has just read.
      p = Partial{bits, sums.cursor(bits, r)};
    }
  }
  poller.tick(size);
  for (std::size_t j = 0; j < size; ++j) {
    next[first_node + j] = std::bit_cast<double>(sums.run(partial[j].bits, partial[j].cursor, it.dangling_count));
  }
}

// The sum of a node brought to position r by adding the dangling shares one
// at a time; a node not reached before starts at the head term of r.
double advance_each(Single& p, std::uint32_t r, const Iteration& it, Poller& poller) {
  double acc;
  if (p.position == kUntouched) {
    acc = it.head[r];
  } else {
    acc = std::bit_cast<double>(p.bits);
    poller.tick(r - p.position);
    for (std::uint32_t k = p.position; k < r; ++k) acc += it.dangling_share[k];
  }
  p.position = r;
  return acc;
}

// The same sweep with every addition on its own, for iterations outside the
// premises of the run sums.
void sweep_each(const TargetBlocks& blocks, std::size_t b, std::size_t n, const Iteration& it, Single* partial,
                double* next, Poller& poller) {
  const std::size_t first_node = blocks.first_node(b);
  const std::size_t size = blocks.nodes_in(b, n);
  for (std::size_t j = 0; j < size; ++j) partial[j].position = kUntouched;
  const TargetBlocks::Target* targets = blocks.targets();
  const NodeId* sources = blocks.sources();
  const std::uint32_t* ranks = blocks.ranks();
  const std::size_t t_end = blocks.last_target(b);
  for (std::size_t t = blocks.first_target(b); t < t_end; ++t) {
    poller.tick();
    Single& p = partial[targets[t]];
    p.bits = std::bit_cast<std::uint64_t>(advance_each(p, ranks[t], it, poller) + it.share[sources[t]]);
  }
  poller.tick(size);
  for (std::size_t j = 0; j < size; ++j) next[first_node + j] = advance_each(partial[j], it.dangling_count, it, poller);
}

// The sweeps of a graph whose nodes' sums outgrow the caches, on one thread.
// Blocks of receiving nodes keep the sums in cache but read each edge's
// share and table word at random: two reads from memory an edge once the
// shares and the tables outgrow the last-level cache. Taking the edges in
// the defining order itself, source after source, reads the shares, the
// head terms and the tables' words near the source's rank in order, and
// leaves one read at random an edge, the receiving node's sum, which is
// asked for well ahead. Each node's sum stays unreached until its first
// source finds it, at the head term of that source's rank, and the last
// pass brings every sum to the end of the dangling shares and marks it
// unreached again for the next iteration.
constexpr std::uint64_t kUnreached = ~std::uint64_t{0};  // never a sum's pattern: sums are >= 0 and finite
// How far ahead of the edge being added the sweep asks for its node's sum.
constexpr std::size_t kSumAhead = 64;
// How many ranks ahead of the source's the sweep asks for the tables' words,
// a line of each built table every eight ranks. Each edge reads the word at
// its source's rank in the table of its node's grid: front to back in every
// table, but interleaved with the sums' reads at random, which leave the
// hardware's own prefetchers no stream to follow (about a tenth of the sweep
// at 25M edges).
constexpr std::size_t kRankAhead = 64;

// Calls add(i, rank, first, last) for every node i with outgoing edges, in
// ascending order: its rank (the dangling nodes numbered below it) and its
// edges first .. last - 1 in the graph's outgoing rows.
template <class Add>
void for_each_source(const Graph& graph, Poller& poller, Add&& add) {
  const std::size_t n = graph.node_count();
  const EdgeId* begin = graph.out_begin().data();
  std::uint32_t rank = 0;
  for (NodeId i = 0; i < n; ++i) {
    const EdgeId first = begin[i];
    const EdgeId last = begin[i + 1];
    poller.tick(1 + (last - first));
    if (first == last) {
      ++rank;
    } else {
      add(i, rank, first, last);
    }
  }
}

void sweep_in_order(const Graph& graph, const Iteration& it, Partial* partial, double* next, BinadeSums& sums,
                    Poller& poller) {
  const std::size_t n = graph.node_count();
  const std::size_t m = graph.edge_count();
  const NodeId* targets = graph.out_targets().data();
  std::uint32_t hinted = 0;
  for_each_source(graph, poller, [&](NodeId i, std::uint32_t rank, EdgeId first, EdgeId last) {
    const double share = it.share[i];
    const std::uint64_t head = std::bit_cast<std::uint64_t>(it.head[rank]);
    if (rank >= hinted) {
      hinted = rank + 8;  // a line of words
      const std::size_t ahead = std::min<std::size_t>(rank + kRankAhead, it.dangling_count);
      for (const unsigned grid : sums.built()) sums.prefetch(std::uint64_t{grid + 1} << 52, ahead);
    }
    for (EdgeId e = first; e < last; ++e) {
      __builtin_prefetch(partial + targets[std::min<std::size_t>(e + kSumAhead, m - 1)], 1);
      Partial& p = partial[targets[e]];
      const std::uint64_t sum = p.bits == kUnreached ? head : sums.run(p.bits, p.cursor, rank);
      const std::uint64_t bits = std::bit_cast<std::uint64_t>(std::bit_cast<double>(sum) + share);
      p = Partial{bits, sums.cursor(bits, rank)};
    }
  });
  // A node that no edge reaches stands at the last head term.
  const double end = it.head[it.dangling_count];
  for (std::size_t j = 0; j < n; ++j) {
    poller.tick();
    Partial& p = partial[j];
    next[j] = p.bits == kUnreached ? end : std::bit_cast<double>(sums.run(p.bits, p.cursor, it.dangling_count));
    p.bits = kUnreached;
  }
}

// The same with every addition on its own.
void sweep_in_order_each(const Graph& graph, const Iteration& it, Single* partial, double* next, Poller& poller) {
  const std::size_t n = graph.node_count();
  const NodeId* targets = graph.out_targets().data();
  for (std::size_t j = 0; j < n; ++j) partial[j].position = kUntouched;
  for_each_source(graph, poller, [&](NodeId i, std::uint32_t rank, EdgeId first, EdgeId last) {
    const double share = it.share[i];
    for (EdgeId e = first; e < last; ++e) {
      Single& p = partial[targets[e]];
      p.bits = std::bit_cast<std::uint64_t>(advance_each(p, rank, it, poller) + share);
    }
  });
  for (std::size_t j = 0; j < n; ++j) {
    poller.tick();
    next[j] = advance_each(partial[j], it.dangling_count, it, poller);
  }
}

// What one thread needs to sweep blocks: its own tables of run sums (a
// table is built lazily by the sweep that first needs it, so tables are
// never shared between threads) and its own per-block working state.
// A BinadeSums object holds tables of a few tens of kilobytes indexed by
// exponent, so it lives on the heap: a call may be nested in a signal
// handler of another on the same stack.
struct Sweeper {
  Sweeper(std::size_t tables, bool at_once, std::size_t block) : partial(block), single(block) {
    sums.set_budget(tables, at_once);
  }
  // Readies the run sums for an iteration on these dangling shares and head
  // terms, reading the given shared tables (built by BinadeSums::fill for
  // the same shares) for their grids. Every node starts on a head term; the
  // grids that the head terms pass through get their tables first, so that
  // a node's first edge finds its cursor.
  void start(const std::vector<double>& dangling_share, const std::vector<double>& head,
             const std::vector<unsigned>& shared_grids, const std::vector<BinadeSums::Table>& shared_tables) {
    sums.restart(dangling_share.data(), dangling_share.size());
    for (std::size_t t = 0; t < shared_grids.size(); ++t) sums.adopt(shared_grids[t], &shared_tables[t]);
    for (const double h : head) sums.prepare(std::bit_cast<std::uint64_t>(h) >> 52);
  }

  BinadeSums sums;
  std::vector<Partial> partial;
  std::vector<Single> single;
};

// Block b swept into next: by run sums in a fast iteration, one addition at
// a time otherwise.
void sweep_block(const TargetBlocks& blocks, std::size_t b, std::size_t n, const Iteration& it, bool fast,
                 Sweeper& sweeper, double* next, Poller& poller) {
  if (!fast) {
    sweep_each(blocks, b, n, it, sweeper.single.data(), next, poller);
  } else if (n >= kPrefetchNodes) {
    sweep_runs<true>(blocks, b, n, it, sweeper.partial.data(), next, sweeper.sums, poller);
  } else {
    sweep_runs<false>(blocks, b, n, it, sweeper.partial.data(), next, sweeper.sums, poller);
  }
}

// share[i] = (score[i] * alpha) / out_degree[i] for i in [begin, end), with
// `divisor` the out-degrees as doubles (1 for a dangling node, whose entry is
// never read: its share goes to every node through the dangling shares).
// Returns whether every one is >= 0 and finite; a dangling node's entry
// passes when its dangling share does, so it may be checked with the rest.
// Written without a branch, so that the compiler vectorises it.
bool make_shares(const double* score, const double* divisor, double alpha, double* share, std::size_t begin,
                 std::size_t end) {
  bool fit = true;
  for (std::size_t i = begin; i < end; ++i) {
    const double s = (score[i] * alpha) / divisor[i];
    share[i] = s;
    fit &= (s >= 0.0) & (s < kInfinity);
  }
  return fit;
}

// dangling_share[k] = (score[dangling[k]] * alpha) / count for k in
// [begin, end); returns whether every one is >= 0 and finite.
bool make_dangling_shares(const double* score, const std::vector<NodeId>& dangling, double alpha, double count,
                          double* dangling_share, std::size_t begin, std::size_t end) {
  bool fit = true;
  for (std::size_t k = begin; k < end; ++k) {
    const double s = (score[dangling[k]] * alpha) / count;
    dangling_share[k] = s;
    fit = fit && s >= 0.0 && s < kInfinity;
  }
  return fit;
}

// head[k]: teleport followed by the dangling shares of ranks below k, in
// order, which is where every node's additions stand before its first edge
// of rank k.
void make_head(double teleport, const std::vector<double>& dangling_share, std::vector<double>& head) {
  head[0] = teleport;
  for (std::size_t k = 0; k < dangling_share.size(); ++k) head[k + 1] = head[k] + dangling_share[k];
}

// The iterations on several threads, which run them all together and meet
// three times in each: once every share is made (each worker makes those of
// a range of nodes and of dangling ranks), once the shared tables are built,
// and once every block is swept. Every worker sums its own copy of the head
// terms, the same additions in the same order, rather than wait for one to
// do it.
//
// Tables of run sums cost about as much to build as a pass over the
// dangling shares, and every worker needs those of the grids that most nodes
// pass through: built by each worker for itself, they would be built once
// per worker. So the grids that any worker had to build for itself in an
// iteration are built once in the next, shared by all, read only and built
// before any block is swept (each by one worker, taken from a counter);
// a worker builds for itself only what the shared tables do not hold. Which
// worker builds which table, and whether it is shared, changes no word of
// it.
//
// Every counter and flag that an iteration uses comes in two, one per parity
// of the iteration: the one the next iteration needs is reset by worker 0
// while nobody uses it.
struct ParallelIteration {
  const TargetBlocks& blocks;
  const std::vector<double>& divisor;
  double alpha;
  double count;  // N, the node count as a double
  double teleport;
  bool runs_allowed;
  std::size_t table_budget;  // 0: as many shared tables as BinadeSums allows per object

  void run(unsigned workers, std::uint64_t max_iter, std::vector<double>& score, std::vector<double>& next,
           std::vector<double>& share, std::vector<double>& dangling_share, std::vector<Sweeper>& sweepers) const {
    const std::size_t n = score.size();
    const std::vector<NodeId>& dangling = blocks.dangling();
    const std::size_t dangling_count = dangling.size();
    const std::size_t shared_limit = table_budget != 0 ? table_budget : BinadeSums::default_tables(dangling_count);

    std::atomic<bool> unfit[2] = {false, false};  // some share outside the run sums' premise
    std::atomic<std::size_t> next_block[2] = {0, 0};
    std::atomic<std::size_t> next_table[2] = {0, 0};
    std::vector<double>* buffers[2] = {&score, &next};
    std::vector<unsigned> shared_grids;
    std::vector<BinadeSums::Table> shared_tables;
    std::vector<std::vector<unsigned>> own_grids(workers);
    Barrier barrier;

    run_workers(workers, [&](unsigned w, unsigned running) {
      barrier.expect(running);
      Sweeper& sweeper = sweepers[w];
      std::vector<double> head(dangling_count + 1);
      const std::size_t node_begin = n * w / running;
      const std::size_t node_end = n * (w + 1) / running;
      const std::size_t rank_begin = dangling_count * w / running;
      const std::size_t rank_end = dangling_count * (w + 1) / running;
      Poller poller;
      for (std::uint64_t iteration = 0; iteration < max_iter; ++iteration) {
        const unsigned parity = iteration & 1;
        const std::vector<double>& current = *buffers[parity];
        std::vector<double>& result = *buffers[parity ^ 1];
        poller.tick(node_end - node_begin + rank_end - rank_begin);
        // Both kinds are made whatever the checks find.
        const bool shares_fit = make_shares(current.data(), divisor.data(), alpha, share.data(), node_begin, node_end);
        const bool dangling_fit =
            make_dangling_shares(current.data(), dangling, alpha, count, dangling_share.data(), rank_begin, rank_end);
        const bool fit = shares_fit && dangling_fit && runs_allowed;
        if (!fit) unfit[parity].store(true, std::memory_order_relaxed);
        barrier.arrive_and_wait();

        const bool fast = !unfit[parity].load(std::memory_order_relaxed);
        if (w == 0) {
          unfit[parity ^ 1].store(false, std::memory_order_relaxed);
          next_block[parity ^ 1].store(0, std::memory_order_relaxed);
          next_table[parity ^ 1].store(0, std::memory_order_relaxed);
        }
        make_head(teleport, dangling_share, head);
        if (fast && !shared_grids.empty()) {
          for (std::size_t t; (t = next_table[parity].fetch_add(1, std::memory_order_relaxed)) < shared_grids.size();) {
            poller.tick(dangling_count);
            BinadeSums::fill(shared_tables[t], shared_grids[t], dangling_share.data(), dangling_count);
          }
          barrier.arrive_and_wait();
        }

        const Iteration it{head.data(), share.data(), dangling_share.data(),
                           static_cast<std::uint32_t>(dangling_count)};
        if (fast) sweeper.start(dangling_share, head, shared_grids, shared_tables);
        for (std::size_t b; (b = next_block[parity].fetch_add(1, std::memory_order_relaxed)) < blocks.block_count();) {
          sweep_block(blocks, b, n, it, fast, sweeper, result.data(), poller);
        }
        if (fast) own_grids[w] = sweeper.sums.built();
        barrier.arrive_and_wait();

        // Worker 0 adds the grids built apart to the shared ones while the
        // others make the next shares; nobody reads the shared grids before
        // the next meeting.
        if (w == 0 && fast && shared_grids.size() < shared_limit) {
          for (const std::vector<unsigned>& grids : own_grids) {
            for (const unsigned grid : grids) {
              if (shared_grids.size() < shared_limit &&
                  std::find(shared_grids.begin(), shared_grids.end(), grid) == shared_grids.end()) {
                shared_grids.push_back(grid);
              }
            }
          }
          shared_tables.resize(shared_grids.size());
        }
      }
    });
    if (max_iter % 2 == 1) score.swap(next);
  }
};

// The dangling nodes in ascending order: rank k is the k-th of them.
std::vector<NodeId> dangling_nodes(const std::vector<std::size_t>& out_degree) {
  std::vector<NodeId> dangling;
  for (std::size_t i = 0; i < out_degree.size(); ++i) {
    if (out_degree[i] == 0) dangling.push_back(static_cast<NodeId>(i));
  }
  return dangling;
}

// pagerank_impl with the given budget of tables of run sums (0 and false:
// the usual one; see BinadeSums::set_budget), on up to threads.count
// threads. A block's nodes take all their additions within
// the block's sweep, in their defining order, so which thread sweeps which
// block changes no bit; nor does sweeping every edge in that order itself.
ScoreMap iterate(const Graph& g, double alpha, std::uint64_t max_iter, std::size_t tables, bool at_once,
                 Threads threads) {
  PowerIteration state(g, alpha);
  if (state.n == 0) return {};
  auto& [graph, n, count, score, next, out_degree, teleport] = state;

  const std::size_t edge_count = graph.edge_count();
  const ParallelTuning tuning = parallel_tuning();
  const std::size_t block_count = ((n - 1) >> tuning.pagerank_block_shift) + 1;
  const auto workers = static_cast<unsigned>(std::min<std::size_t>(workers_for(threads, n + edge_count), block_count));
  // One thread on a large graph takes the edges source after source; the
  // blocks, otherwise, hold all that the iterations read of the graph.
  const bool in_order = workers == 1 && n >= tuning.pagerank_in_order_nodes;
  std::optional<TargetBlocks> blocks;
  std::vector<NodeId> own_dangling;
  if (in_order) {
    own_dangling = dangling_nodes(out_degree);
  } else {
    blocks.emplace(graph, out_degree, tuning.pagerank_block_shift);
  }
  const std::vector<NodeId>& dangling = in_order ? own_dangling : blocks->dangling();
  const std::size_t dangling_count = dangling.size();
  // share[i]: what node i adds along each of its edges; dangling_share[k]:
  // what the dangling node of rank k adds to every node.
  Poller poller;
  std::vector<double> share;
  std::vector<double> dangling_share;
  std::vector<double> head;
  fill_polled(share, n, 0.0, poller);
  fill_polled(dangling_share, dangling_count, 0.0, poller);
  fill_polled(head, dangling_count + 1, 0.0, poller);
  // The out-degrees as doubles (exact: below 2^53), converted once.
  std::vector<double> divisor;
  divisor.reserve(n);
  for (std::size_t i = 0; i < n; ++i) {
    poller.tick();
    divisor.push_back(out_degree[i] > 0 ? static_cast<double>(out_degree[i]) : 1.0);
  }
  const Iteration it{head.data(), share.data(), dangling_share.data(), static_cast<std::uint32_t>(dangling_count)};

  std::vector<Sweeper> sweepers;
  sweepers.reserve(workers);
  for (unsigned w = 0; w < workers; ++w) {
    sweepers.emplace_back(tables, at_once, in_order ? 0 : std::min(n, blocks->block_size()));
  }

  // For alpha in [0, 1] the teleport term and every share are >= 0, which is
  // what the run sums need; any other alpha takes the additions one by one.
  const bool runs_allowed = alpha >= 0.0 && alpha <= 1.0 && !std::signbit(teleport);

  if (workers > 1) {
    const ParallelIteration parallel{*blocks, divisor, alpha, count, teleport, runs_allowed, tables};
    parallel.run(workers, max_iter, score, next, share, dangling_share, sweepers);
    return std::move(state).finish();
  }

  // Every node's sum, for the sweeps in order: unreached between iterations.
  std::vector<Partial> sums;
  std::vector<Single> singles;  // made for the first iteration that adds one share at a time
  if (in_order && runs_allowed) fill_polled(sums, n, Partial{kUnreached, 0}, poller);

  Sweeper& sweeper = sweepers[0];
  const std::vector<unsigned> no_grids;
  const std::vector<BinadeSums::Table> no_tables;
  for (std::uint64_t iteration = 0; iteration < max_iter; ++iteration) {
    poller.tick(n + edge_count);
    // Both kinds are made whatever the checks find.
    const bool shares_fit = make_shares(score.data(), divisor.data(), alpha, share.data(), 0, n);
    const bool dangling_fit =
        make_dangling_shares(score.data(), dangling, alpha, count, dangling_share.data(), 0, dangling_count);
    const bool fast = shares_fit && dangling_fit && runs_allowed;
    make_head(teleport, dangling_share, head);
    if (fast) sweeper.start(dangling_share, head, no_grids, no_tables);
    if (!in_order) {
      for (std::size_t b = 0; b < block_count; ++b) sweep_block(*blocks, b, n, it, fast, sweeper, next.data(), poller);
    } else if (fast) {
      sweep_in_order(graph, it, sums.data(), next.data(), sweeper.sums, poller);
    } else {
      if (singles.empty()) fill_polled(singles, n, Single{0, kUntouched}, poller);
      sweep_in_order_each(graph, it, singles.data(), next.data(), poller);
    }
    score.swap(next);
  }
  return std::move(state).finish();
}

}  // namespace

ScoreMap pagerank(const Graph& graph, double alpha, std::uint64_t max_iter, Threads threads) {
  return iterate(graph, alpha, max_iter, 0, false, threads);
}

ScoreMap pagerank(const Graph& graph, double alpha, std::uint64_t max_iter, std::size_t tables, Threads threads) {
  return iterate(graph, alpha, max_iter, tables, true, threads);
}

}  // namespace lhg
