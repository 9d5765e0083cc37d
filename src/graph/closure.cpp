// The sizes of every node's descendants and ancestors, exactly, on graphs of
// millions of edges.
//
// The nodes of one strongly connected component reach the same nodes: the
// other members, and everything reached from the component. So the count is
// taken on the condensation (components as units, an edge between two of
// them once), weighted by the components' sizes: a node's dependencies are
// its component's size less one, plus the sizes of the components that its
// component reaches. Dependents are the same count against the edges.
//
// Per direction, components are numbered by the post-order of a depth-first
// search along it (their positions): every component comes after all it
// reaches, and what its own search found lies just below it, so that reach
// sets gather in runs of positions. Reach sets are rows of bits over a block
// of target positions [lo, hi) at a time, a block as wide as a budget of row
// memory allows for the positions at lo or above, the only ones that can
// reach it: memory stays bounded whatever the graph, and n components take
// about n^2 / (2 * budget in bits) blocks.
//
// A block costs what reaches it, not the size of the graph. Its positions
// are visited in ascending order from lo: each takes its row (the union of
// the rows of the successors handed to it, and their own bits), then hands
// itself to the positions with an edge to it. So only the block's targets
// and what reaches them are visited, only those handed anything get a row
// (one handed a single successor from above the block shares that one's),
// and rows are mostly empty: each keeps a summary bit per word that is not
// zero, and unions, counts and the clearing after a block visit those words
// only. The row memory is zeroed pages from the system, touched only as far
// as rows are used.
//
// A row takes its successors highest first. A successor whose bit is in the
// row already is reached through a higher one, and so is all it reaches:
// its edge is redundant, and is marked and handed along no more in any block
// below. Blocks are taken from the highest down, so that the low blocks,
// which the most positions reach, run with most such edges gone.
//
// On several threads, workers claim blocks from a shared counter, each with
// rows and counts of its own, added up at the end. Counts are integers:
// neither the order of the blocks nor which worker ran one can change them.
// The redundancy marks are shared; they decide only how much work a later
// block is spared.
#include "graph/closure.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <bit>
#include <cstdint>
#include <cstddef>
#include <cstdlib>
#include <memory>
#include <new>
#include <span>

#include "graph/components.h"
#include "graph/interrupt.h"

namespace lhg {
namespace {

using Unit = std::uint32_t;  // a component, by number or by position

// Row memory for the blocks of all workers together: enough for the lowest
// block to hold kLeastWidth targets, within kLeastBudget and kMostBudget
// (in bits). Wider blocks are fewer, but every page of rows costs its first
// touch, when the system zeroes it: on a graph whose reach sets are small,
// that costs more than the blocks it saves.
constexpr std::size_t kLeastWidth = 1024;
constexpr std::size_t kLeastBudget = std::size_t{16} << 23;  // 16 MiB
constexpr std::size_t kMostBudget = std::size_t{256} << 23;
// The widest block: a union reads the other row's whole summary, which
// stays within 16 words.
constexpr std::size_t kMaxBlock = std::size_t{1} << 16;
// On several threads, at least this many blocks per worker, so that one
// slow block leaves no worker idle for long.
constexpr std::size_t kBlocksPerWorker = 4;

constexpr std::uint64_t kAllWords = ~std::uint64_t{0};

// Packed rows of units.
struct Links {
  std::vector<std::size_t> begin;  // units + 1 offsets
  std::vector<Unit> to;

  std::span<const Unit> operator[](std::size_t u) const noexcept {
    return {to.data() + begin[u], to.data() + begin[u + 1]};
  }
};

// The rows turned around: t's row lists every u whose row holds t.
Links transposed(const Links& links, Poller& poller) {
  const std::size_t units = links.begin.size() - 1;
  Links result;
  result.begin.assign(units + 1, 0);
  for (const Unit t : links.to) ++result.begin[t + 1];
  for (std::size_t u = 0; u < units; ++u) result.begin[u + 1] += result.begin[u];
  std::vector<std::size_t> fill(result.begin.begin(), result.begin.end() - 1);
  result.to.resize(links.to.size());
  for (std::size_t u = 0; u < units; ++u) {
    poller.tick(1 + links[u].size());
    for (const Unit t : links[u]) result.to[fill[t]++] = static_cast<Unit>(u);
  }
  return result;
}

struct Condensation {
  std::vector<Unit> component;      // of each node
  std::vector<std::uint32_t> size;  // nodes of each component
  Links out;                        // the other components a component's edges reach, once each
  Links in;                         // out turned around
};

Condensation condense(const Graph& graph, Poller& poller) {
  const Components found = component_search(graph);
  const std::size_t units = found.size();
  Condensation k;
  k.component.resize(graph.node_count());
  k.size.resize(units);
  std::size_t begin = 0;
  for (std::size_t c = 0; c < units; ++c) {
    for (std::size_t i = begin; i < found.ends[c]; ++i) k.component[found.members[i]] = static_cast<Unit>(c);
    k.size[c] = static_cast<std::uint32_t>(found.ends[c] - begin);
    begin = found.ends[c];
  }
  // A component's row is complete before the next one's starts, so the
  // last component to take a target in its row is enough to skip repeats.
  std::vector<Unit> last(units, kEndMarker);
  k.out.begin.reserve(units + 1);
  k.out.begin.push_back(0);
  begin = 0;
  for (std::size_t c = 0; c < units; ++c) {
    for (std::size_t i = begin; i < found.ends[c]; ++i) {
      const std::span<const NodeId> row = graph.successors(found.members[i]);
      poller.tick(1 + row.size());
      for (const NodeId t : row) {
        const Unit d = k.component[t];
        if (d == c || last[d] == c) continue;
        last[d] = static_cast<Unit>(c);
        k.out.to.push_back(d);
      }
    }
    k.out.begin.push_back(k.out.to.size());
    begin = found.ends[c];
  }
  k.in = transposed(k.out, poller);
  return k;
}

// One direction of the condensation, by positions.
struct Dag {
  std::vector<Unit> position;         // of each component
  std::vector<std::uint32_t> weight;  // nodes of the component at each position
  Links prev;                         // the positions that reach each one by a single edge
  std::vector<std::size_t> room;      // for the successors handed to each position: [room[q], room[q + 1])
};

// Positions by the post-order of a depth-first search along `along`
// (`against` is the same edges turned around). Searches start from the
// components in the order given; upstream ones first make the searches
// long, and their post-order the most gathered.
Dag positions(const Condensation& k, const Links& along, const Links& against, bool from_top, Poller& poller) {
  const std::size_t units = k.size.size();
  Dag dag;
  dag.position.assign(units, 0);
  std::vector<Unit> at(units);  // the component at each position
  std::vector<std::uint8_t> seen(units, 0);
  struct Frame {
    Unit unit;
    std::size_t edge;  // the next of its row to try
  };
  std::vector<Frame> stack;
  Unit placed = 0;
  for (std::size_t i = 0; i < units; ++i) {
    const auto root = static_cast<Unit>(from_top ? units - 1 - i : i);
    if (seen[root] != 0) continue;
    seen[root] = 1;
    stack.push_back({root, along.begin[root]});
    while (!stack.empty()) {
      poller.tick();
      const Unit u = stack.back().unit;
      const std::size_t e = stack.back().edge;
      if (e == along.begin[u + 1]) {
        at[placed] = u;
        dag.position[u] = placed++;
        stack.pop_back();
        continue;
      }
      stack.back().edge = e + 1;
      const Unit t = along.to[e];
      if (seen[t] == 0) {
        seen[t] = 1;
        stack.push_back({t, along.begin[t]});
      }
    }
  }

  dag.weight.resize(units);
  dag.prev.begin.assign(units + 1, 0);
  dag.room.assign(units + 1, 0);
  for (std::size_t q = 0; q < units; ++q) {
    dag.weight[q] = k.size[at[q]];
    dag.prev.begin[q + 1] = dag.prev.begin[q] + against[at[q]].size();
    dag.room[q + 1] = dag.room[q] + along[at[q]].size();
  }
  dag.prev.to.resize(against.to.size());
  for (std::size_t q = 0; q < units; ++q) {
    const std::span<const Unit> sources = against[at[q]];
    poller.tick(1 + sources.size());
    Unit* into = dag.prev.to.data() + dag.prev.begin[q];
    for (const Unit p : sources) *into++ = dag.position[p];
  }
  return dag;
}

// Block b covers positions [start[b], start[b + 1]). A row is its summary
// (a bit per word of the row that is not zero) followed by its words; a
// worker's rows need at most `row_words` words in all.
struct Blocks {
  std::vector<Unit> start;
  std::size_t row_words = 0;

  std::size_t count() const noexcept { return start.size() - 1; }
};

std::size_t words_for(std::size_t bits) noexcept { return (bits + 63) / 64; }

// Blocks as wide as `budget` bits of rows allow (a multiple of 64, at most
// `widest`), or `fixed` wide when that is not 0.
Blocks lay_out(std::size_t units, std::size_t budget, std::size_t widest, std::size_t fixed) {
  Blocks blocks;
  blocks.start.push_back(0);
  for (std::size_t lo = 0; lo < units;) {
    std::size_t width = fixed;
    if (width == 0) width = std::min(std::max<std::size_t>(budget / (units - lo) / 64 * 64, 64), widest);
    width = std::min(std::max<std::size_t>(width, 1), units - lo);
    const std::size_t words = words_for(width);
    blocks.row_words = std::max(blocks.row_words, (units - lo) * (words_for(words) + words));
    lo += width;
    blocks.start.push_back(static_cast<Unit>(lo));
  }
  return blocks;
}

// Words that start at zero without being written: a large allocation of
// zeroed memory takes fresh pages, which the system zeroes as they are
// first touched, so rows that no block reaches cost nothing.
class ZeroedWords {
 public:
  explicit ZeroedWords(std::size_t count)
      : words_(static_cast<std::uint64_t*>(std::calloc(std::max<std::size_t>(count, 1), sizeof(std::uint64_t)))) {
    if (!words_) throw std::bad_alloc();
  }
  std::uint64_t* data() const noexcept { return words_.get(); }

 private:
  struct Free {
    void operator()(std::uint64_t* p) const noexcept { std::free(p); }
  };
  std::unique_ptr<std::uint64_t[], Free> words_;
};

// row |= other, over the words that other's summary marks; both rows hold
// `marks` summary words, then their words.
inline void unite(std::uint64_t* row, const std::uint64_t* other, std::size_t marks) {
  std::uint64_t* const words = row + marks;
  const std::uint64_t* const other_words = other + marks;
  for (std::size_t s = 0; s < marks; ++s) {
    std::uint64_t m = other[s];
    if (m == 0) continue;
    row[s] |= m;
    std::uint64_t* into = words + s * 64;
    const std::uint64_t* from = other_words + s * 64;
    if (m == kAllWords) {
      for (std::size_t w = 0; w < 64; ++w) into[w] |= from[w];
      continue;
    }
    do {
      const int w = std::countr_zero(m);
      into[w] |= from[w];
      m &= m - 1;
    } while (m != 0);
  }
}

// The rows of one worker, with the lists and marks of a sweep, kept from
// block to block and from one direction to the other.
class Sweeper {
 public:
  Sweeper(std::size_t units, std::size_t edges, std::size_t row_words)
      : rows_(row_words), cursor_(units), pending_(words_for(units), 0), entries_(edges) {}

  // Adds to reached[q] the number of nodes in block [lo, hi) of `dag`
  // that position q reaches, and marks the redundant edges it finds.
  //
  // The positions that reach the block are its targets and those with an
  // edge to one that does. Visited in ascending order, each hands itself
  // on along its incoming edges, so that by its turn a position has been
  // handed every successor that reaches the block and no other, in
  // ascending order, into room of its own. Rows go to the positions handed
  // anything, in order of visit; no other position's is touched.
  void sweep(const Dag& dag, Unit lo, Unit hi, std::uint8_t* redundant, std::uint64_t* reached, Poller& poller) {
    if (dag_ != &dag) {
      for (std::size_t q = 0; q < cursor_.size(); ++q) cursor_[q] = static_cast<std::uint32_t>(dag.room[q]);
    }
    dag_ = &dag;
    redundant_ = redundant;
    reached_ = reached;
    lo_ = lo;
    hi_ = hi;
    words_ = words_for(hi - lo);
    marks_ = words_for(words_);
    used_ = 0;
    counted_.clear();
    // The block's targets of more than one node, whose bits weigh more.
    heavy_.assign(words_, 0);
    for (Unit q = lo; q < hi; ++q) {
      if (dag.weight[q] > 1) heavy_[(q - lo) >> 6] |= std::uint64_t{1} << ((q - lo) & 63);
    }
    for (Unit q = lo; q < hi; ++q) visit(q, poller);
    // Above the block, the positions handed anything, in ascending order:
    // a visit marks only higher ones, so the scan meets them all, and
    // leaves every mark cleared.
    for (std::size_t w = hi >> 6; w < pending_.size();) {
      const std::uint64_t m = pending_[w];
      if (m == 0) {
        ++w;
        continue;
      }
      pending_[w] = m & (m - 1);
      visit(static_cast<Unit>(w * 64 + static_cast<std::size_t>(std::countr_zero(m))), poller);
    }
    // The rows back to zero for the next block, their words that are not
    // zero only.
    const std::size_t stride = marks_ + words_;
    for (std::size_t r = 0; r < used_; ++r) {
      std::uint64_t* const row = rows_.data() + r * stride;
      poller.tick(marks_);
      for (std::size_t s = 0; s < marks_; ++s) {
        for (std::uint64_t m = row[s]; m != 0; m &= m - 1) {
          row[marks_ + s * 64 + static_cast<std::size_t>(std::countr_zero(m))] = 0;
        }
        row[s] = 0;
      }
    }
  }

 private:
  static constexpr Unit kNoRow = kEndMarker;

  // A successor handed to a position: its position and its row (kNoRow
  // for a target that reaches nothing in the block), and the edge's index
  // in the rows of `prev`, for its redundancy mark.
  struct Entry {
    Unit target;
    Unit row;
    std::uint32_t edge;
  };

  // q's row from those of the successors handed to it, highest first, and
  // its count; then q handed on along the edges into it.
  void visit(Unit q, Poller& poller) {
    Unit slot = kNoRow;
    const std::size_t room = dag_->room[q];
    if (cursor_[q] == room + 1 && entries_[room].target >= hi_) {
      // All that q reaches in the block it reaches through one successor,
      // itself outside the block: q's row is that successor's.
      slot = entries_[room].row;
      cursor_[q] = static_cast<std::uint32_t>(room);
      reached_[q] += counted_[slot];
    } else if (cursor_[q] != room) {
      slot = static_cast<Unit>(used_++);
      std::uint64_t* const row = rows_.data() + slot * (marks_ + words_);
      std::uint64_t* const words = row + marks_;
      const Entry* const first = entries_.data() + room;
      for (const Entry* e = entries_.data() + cursor_[q]; e-- != first;) {
        const Entry entry = *e;
        if (entry.target < hi_) {
          const std::size_t i = entry.target - lo_;
          const std::uint64_t bit = std::uint64_t{1} << (i & 63);
          if ((words[i >> 6] & bit) != 0) {
            std::atomic_ref<std::uint8_t>(redundant_[entry.edge]).store(1, std::memory_order_relaxed);
            continue;
          }
          words[i >> 6] |= bit;
          row[i >> 12] |= std::uint64_t{1} << ((i >> 6) & 63);
        }
        if (entry.row == kNoRow) continue;
        poller.tick(marks_);
        unite(row, rows_.data() + entry.row * (marks_ + words_), marks_);
      }
      cursor_[q] = static_cast<std::uint32_t>(room);
      counted_.push_back(count(row));
      reached_[q] += counted_.back();
    }

    const std::span<const Unit> sources = dag_->prev[q];
    const std::size_t first = dag_->prev.begin[q];
    poller.tick(1 + sources.size());
    for (std::size_t j = 0; j < sources.size(); ++j) {
      const std::size_t edge = first + j;
      if (std::atomic_ref<std::uint8_t>(redundant_[edge]).load(std::memory_order_relaxed) != 0) continue;
      const Unit p = sources[j];
      if (p >= hi_) pending_[p >> 6] |= std::uint64_t{1} << (p & 63);
      entries_[cursor_[p]++] = {q, slot, static_cast<std::uint32_t>(edge)};
    }
  }

  // The nodes of the block's targets whose bits a row holds.
  std::uint64_t count(const std::uint64_t* row) const noexcept {
    const std::uint32_t* const weight = dag_->weight.data() + lo_;
    const std::uint64_t* const words = row + marks_;
    std::uint64_t total = 0;
    for (std::size_t s = 0; s < marks_; ++s) {
      for (std::uint64_t m = row[s]; m != 0; m &= m - 1) {
        const std::size_t w = s * 64 + static_cast<std::size_t>(std::countr_zero(m));
        total += static_cast<std::uint64_t>(std::popcount(words[w]));
        for (std::uint64_t h = words[w] & heavy_[w]; h != 0; h &= h - 1) {
          total += weight[w * 64 + static_cast<std::size_t>(std::countr_zero(h))] - 1;
        }
      }
    }
    return total;
  }

  ZeroedWords rows_;
  std::vector<std::uint32_t> cursor_;   // where the next successor handed to each position goes
  std::vector<std::uint64_t> pending_;  // a bit per position above the block handed anything
  std::vector<Entry> entries_;          // the successors handed, in each position's room
  std::vector<std::uint64_t> heavy_;
  std::vector<std::uint64_t> counted_;  // the count of each row
  // The block being swept.
  const Dag* dag_ = nullptr;
  std::uint8_t* redundant_ = nullptr;
  std::uint64_t* reached_ = nullptr;
  Unit lo_ = 0;
  Unit hi_ = 0;
  std::size_t words_ = 0;  // per row
  std::size_t marks_ = 0;  // summary words per row
  std::size_t used_ = 0;   // rows
};

// Per direction, each position's count of the nodes it reaches, other
// components only.
using Counts = std::array<std::vector<std::uint64_t>, 2>;

Counts reached_by_blocks(const std::array<Dag, 2>& dags, Threads threads) {
  const std::size_t units = dags[0].weight.size();
  const std::size_t edges = dags[0].prev.to.size();
  const std::size_t fixed = parallel_tuning().closure_block;
  const std::size_t budget = std::clamp(units * kLeastWidth, kLeastBudget, kMostBudget);
  Blocks blocks = lay_out(units, budget, kMaxBlock, fixed);
  // Each block of each direction visits at most every position and edge.
  const std::size_t per_block = 2 * (units + edges);
  const std::size_t work = blocks.count() > SIZE_MAX / per_block ? SIZE_MAX : per_block * blocks.count();
  auto workers = static_cast<unsigned>(std::min<std::size_t>(workers_for(threads, work), units));
  if (workers > 1) {
    const std::size_t share = std::max<std::size_t>(units / (kBlocksPerWorker * workers), 1);
    blocks = lay_out(units, budget / workers, std::min(kMaxBlock, share), fixed);
  }
  const std::size_t per_direction = blocks.count();
  std::array<std::vector<std::uint8_t>, 2> redundant{std::vector<std::uint8_t>(edges, 0),
                                                     std::vector<std::uint8_t>(edges, 0)};
  auto fresh = [units] { return Counts{std::vector<std::uint64_t>(units, 0), std::vector<std::uint64_t>(units, 0)}; };
  // Task t: direction t / per_direction, its blocks from the highest down.
  auto run = [&](Sweeper& sweeper, std::size_t t, Counts& reached, Poller& poller) {
    const std::size_t d = t / per_direction;
    const std::size_t b = per_direction - 1 - t % per_direction;
    sweeper.sweep(dags[d], blocks.start[b], blocks.start[b + 1], redundant[d].data(), reached[d].data(), poller);
  };

  if (workers <= 1) {
    Counts reached = fresh();
    Sweeper sweeper(units, edges, blocks.row_words);
    Poller poller;
    for (std::size_t t = 0; t < 2 * per_direction; ++t) run(sweeper, t, reached, poller);
    return reached;
  }
  std::vector<Counts> counted(workers);
  std::atomic<std::size_t> claimed{0};
  run_workers(workers, [&](unsigned w) {
    Counts reached = fresh();
    Sweeper sweeper(units, edges, blocks.row_words);
    Poller poller;
    for (std::size_t t; (t = claimed.fetch_add(1, std::memory_order_relaxed)) < 2 * per_direction;) {
      run(sweeper, t, reached, poller);
    }
    counted[w] = std::move(reached);
  });
  // A worker whose thread could not start left its counts empty.
  Counts reached = fresh();
  for (const Counts& part : counted) {
    for (std::size_t d = 0; d < 2; ++d) {
      for (std::size_t q = 0; q < part[d].size(); ++q) reached[d][q] += part[d][q];
    }
  }
  return reached;
}

}  // namespace

ClosureSizes closure_sizes(const Graph& graph, Threads threads) {
  ClosureSizes result;
  const std::size_t n = graph.node_count();
  if (n == 0) return result;
  Poller poller;
  Condensation k = condense(graph, poller);
  // Kosaraju's search lists a component before those that reach it: the
  // last components are the most upstream along the edges, the first ones
  // against them.
  const std::array<Dag, 2> dags{positions(k, k.out, k.in, true, poller), positions(k, k.in, k.out, false, poller)};
  k.out = Links{};
  k.in = Links{};
  const Counts reached = reached_by_blocks(dags, threads);
  result.dependencies.resize(n);
  result.dependents.resize(n);
  for (std::size_t v = 0; v < n; ++v) {
    const Unit c = k.component[v];
    result.dependencies[v] = k.size[c] - 1 + reached[0][dags[0].position[c]];
    result.dependents[v] = k.size[c] - 1 + reached[1][dags[1].position[c]];
  }
  return result;
}

}  // namespace lhg
