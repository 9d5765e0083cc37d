// Betweenness centrality by Brandes' algorithm, exact or from sampled sources.
//
// For each source: a breadth-first search along outgoing edges counts the
// shortest paths to every node (sigma, as doubles so that huge counts
// saturate instead of wrapping) and lists each node's predecessors, once per
// shortest-path edge, so parallel edges repeat; then the nodes are taken back
// in reverse order of leaving the queue and each passes its dependency
// (delta) on to its predecessors. The floating-point operations run in one
// fixed order, which fixes the bits of every score:
//   - sources in list order; per source, nodes in reverse queue order;
//   - each node's predecessors in the order they were recorded, each adding
//     (delta[w] + 1) * (sigma[v] / sigma[w]) to delta[v]: quotient, product,
//     then the sum;
//   - a node's own delta joins its score once per source, in source order
//     (after the accumulation, which leaves it as it was after its
//     predecessor loop);
//   - one factor (normalisation times sample scale) applied once at the end.
//
// The per-source state is allocated once per call and only the entries a
// search touched are reset, so a source that reaches few nodes costs little.
// The queue doubles as the stack: nodes leave the queue in the order they
// entered it, so walking it backwards pops them. Predecessor entries live in
// one flat array where node w owns a slot range as long as its in-degree:
// every entry stands for a distinct incoming edge, so the range never
// overflows, and entries keep the order in which they were appended.
#include "graph/betweenness.h"

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <span>
#include <thread>
#include <utility>

#include "graph/failure.h"
#include "graph/interrupt.h"
#include "graph/parallel.h"

namespace lhg {
namespace {

inline constexpr std::uint32_t kUnreached = kEndMarker;

// What every search reads and none writes: the graph's outgoing rows, and
// the start of each node's incoming row, which sizes its range of
// predecessor slots.
struct Successors {
  std::span<const EdgeId> begin;  // node_count() + 1 offsets into target
  std::span<const NodeId> target;
};

struct Layout {
  explicit Layout(const Graph& graph) : succ{graph.out_begin(), graph.out_targets()}, pred_begin(graph.in_begin()) {}
  Successors succ;
  std::span<const EdgeId> pred_begin;
};

// What one search knows about a node; kept together because the search and
// the accumulation touch these fields of the same node at the same time.
struct NodeState {
  PathCount sigma = 0.0;
  Score delta = 0.0;
  std::uint32_t dist = kUnreached;
  std::uint32_t pred_end = 0;  // one past w's last predecessor entry
};

// The per-source state of one thread's searches, allocated once.
class Searcher {
 public:
  Searcher(const Layout& layout, std::size_t node_count, std::size_t edge_count)
      : layout_(layout), pred_(edge_count), state_(node_count), order_(node_count) {
    for (std::size_t v = 0; v < state_.size(); ++v) state_[v].pred_end = layout_.pred_begin[v];
  }

  // The search and the accumulation from s; returns how many nodes s
  // reaches. Their dependencies wait in the state until `drain`.
  std::size_t run(NodeId s, Poller& poller) {
    const std::size_t reached = search(s, poller);
    accumulate(reached, poller);
    return reached;
  }

  // Calls f(w, delta) for every node w != s that the last search reached,
  // and resets what that search touched. A node's delta is final once it
  // has been taken from the stack (its successors on shortest paths were
  // taken before it), and each node gets one addition per source, so its
  // score may take the addition here instead of in the stack loop.
  template <class F>
  void drain(NodeId s, std::size_t reached, Poller& poller, F&& f) {
    for (std::size_t i = 0; i < reached; ++i) {
      poller.tick();
      const NodeId w = order_[i];
      if (w != s) f(w, state_[w].delta);
      state_[w] = NodeState{0.0, 0.0, kUnreached, layout_.pred_begin[w]};
    }
  }

 private:
  // Fills order_ with the nodes s reaches, in queue order; returns how many.
  std::size_t search(NodeId s, Poller& poller) {
    const Successors& succ = layout_.succ;
    state_[s].sigma = 1.0;
    state_[s].dist = 0;
    order_[0] = s;
    std::size_t tail = 1;
    for (std::size_t head = 0; head < tail; ++head) {
      const NodeId v = order_[head];
      // One search can take tens of milliseconds on a large graph: it polls
      // as it goes, and so do the accumulation and the drain after it.
      poller.tick(1 + (succ.begin[v + 1] - succ.begin[v]));
      // A self loop never lies on a shortest path, so v's own count stays
      // fixed while its edges are walked.
      const PathCount sigma_v = state_[v].sigma;
      const std::uint32_t next = state_[v].dist + 1;
      for (std::uint32_t e = succ.begin[v]; e < succ.begin[v + 1]; ++e) {
        const NodeId w = succ.target[e];
        NodeState& sw = state_[w];
        if (sw.dist == kUnreached) {
          sw.dist = next;
          order_[tail++] = w;
        }
        if (sw.dist == next) {
          sw.sigma = sigma_v + sw.sigma;
          pred_[sw.pred_end++] = v;
        }
      }
    }
    return tail;
  }

  void accumulate(std::size_t reached, Poller& poller) {
    for (std::size_t i = reached; i-- > 0;) {
      const NodeId w = order_[i];
      // w is never its own predecessor, so its delta holds still in the loop.
      const NodeState& sw = state_[w];
      poller.tick(1 + (sw.pred_end - layout_.pred_begin[w]));
      const Score weight = sw.delta + 1.0;
      for (std::uint32_t p = layout_.pred_begin[w]; p < sw.pred_end; ++p) {
        NodeState& sv = state_[pred_[p]];
        sv.delta = weight * (sv.sigma / sw.sigma) + sv.delta;
      }
    }
  }

  const Layout& layout_;
  std::vector<NodeId> pred_;
  std::vector<NodeState> state_;
  std::vector<NodeId> order_;
};

// A condition variable that a forked child leaves behind rather than
// destroys: destroying one waits until the threads waiting on it have left,
// and in a child forked by a signal handler while another worker waited,
// that thread is not there to leave.
class ChildSafeCondition {
 public:
  ChildSafeCondition() : condition_(new std::condition_variable), process_(getpid()) {}
  ~ChildSafeCondition() {
    if (getpid() == process_) delete condition_;
  }
  ChildSafeCondition(const ChildSafeCondition&) = delete;
  ChildSafeCondition& operator=(const ChildSafeCondition&) = delete;
  std::condition_variable& get() noexcept { return *condition_; }

 private:
  std::condition_variable* condition_;
  pid_t process_;
};

// The dependencies of a chunk of consecutive sources, in source order,
// waiting for their turn to join the scores. Slots are written by one thread
// and merged by another: each has cache lines of its own.
struct alignas(64) Pending {
  std::vector<NodeId> nodes;
  std::vector<Score> deltas;
  std::atomic<bool> ready{false};
};

// The sources' searches on several threads. A thread claims a chunk of
// consecutive sources, runs their searches and accumulations on a state of
// its own and leaves their dependencies, one source after another, in the
// chunk's slot of a ring of `window`; the slots join the scores strictly in
// chunk order, by whichever thread finds the next one ready and the merge
// free. Adding a slot's entries in order is adding its sources' dependencies
// in source order, so every score takes the same additions in the same order
// as on one thread.
//
// Everything the threads share is touched once per chunk, not per source:
// on a graph whose searches take a microsecond each, a shared counter or a
// lock per source costs more than the search. Chunks grow to hold about
// kChunkEntries entries, as measured on the sources done so far, and shrink
// towards the end so that no thread is left with a long chunk alone.
//
// The earliest unmerged chunk has nothing to wait for: once every earlier
// chunk has joined the scores, and no later one can join before it, its
// thread adds what its slot holds so far and then each further source's
// dependencies straight to the scores, as the one-thread loop does, and
// counts the chunk merged when it ends. Only chunks that run ahead of the
// merge leave their entries in a slot.
//
// Memory: a thread waits for a free slot when its chunk is `window` ahead of
// the merge, and a chunk whose slot would pass `slot_entries` entries waits
// until every earlier chunk has been merged and goes on as the earliest (the
// earliest unmerged chunk never waits, so neither can wait forever). A slot
// thus holds at most max(slot_entries, n) entries.
void accumulate_in_parallel(const Layout& layout, const Graph& graph, std::size_t source_count,
                            const NodeId* sources, unsigned workers, std::vector<Score>& score) {
  const std::size_t n = graph.node_count();
  const ParallelTuning tuning = parallel_tuning();
  const std::size_t window = tuning.betweenness_window != 0 ? tuning.betweenness_window : 3 * std::size_t{workers};
  // About 64 MiB of waiting entries in all, 12 bytes each.
  constexpr std::size_t kBudget = std::size_t{64} << 20;
  constexpr std::size_t kEntryBytes = sizeof(NodeId) + sizeof(Score);
  const std::size_t slot_entries =
      tuning.betweenness_slot != 0 ? tuning.betweenness_slot : std::max<std::size_t>(kBudget / kEntryBytes / window, 1);
  constexpr std::size_t kChunkEntries = std::size_t{1} << 14;
  constexpr std::size_t kMaxChunk = 256;

  std::unique_ptr<Pending[]> ring(new Pending[window]);
  std::vector<std::unique_ptr<Searcher>> searchers(workers);

  // Claims: chunk numbers and their sources advance together.
  std::mutex claiming;
  std::size_t next_chunk = 0;
  std::size_t next_source = 0;
  std::size_t done_sources = 0;  // and their entries, for the chunk length
  std::size_t done_entries = 0;

  std::atomic<std::size_t> merged{0};  // chunks merged so far
  std::mutex merging;
  // A thread that must wait sleeps rather than spin: other threads (those of
  // a call nested in a signal handler, say) may need the core.
  std::mutex waiting;
  ChildSafeCondition advanced_holder;
  std::condition_variable& advanced = advanced_holder.get();
  std::atomic<unsigned> sleepers{0};

  auto add_to_scores = [&](const Pending& slot) {
    for (std::size_t j = 0; j < slot.nodes.size(); ++j) {
      const NodeId w = slot.nodes[j];
      score[w] = slot.deltas[j] + score[w];
    }
  };
  auto wake_sleepers = [&] {
    if (sleepers.load(std::memory_order_seq_cst) != 0) {
      const std::lock_guard<std::mutex> wake(waiting);
      advanced.notify_all();
    }
  };
  // Merges the ready slots that follow the merged chunks. `merged` changes
  // only under `merging`: here, and when the earliest chunk ends.
  auto merge_ready = [&] {
    const std::unique_lock<std::mutex> lock(merging, std::try_to_lock);
    if (!lock.owns_lock()) return;
    const std::size_t start = merged.load(std::memory_order_relaxed);
    std::size_t k = start;
    while (ring[k % window].ready.load(std::memory_order_acquire)) {
      Pending& slot = ring[k % window];
      add_to_scores(slot);
      slot.ready.store(false, std::memory_order_relaxed);
      ++k;
    }
    if (k != start) {
      merged.store(k, std::memory_order_seq_cst);
      wake_sleepers();
    }
  };
  auto wait_for = [&](auto&& done) {
    while (!done()) {
      merge_ready();
      check_interrupt();
      std::unique_lock<std::mutex> lock(waiting);
      sleepers.fetch_add(1, std::memory_order_seq_cst);
      // The timeout bounds a wake-up lost to the race with the merge.
      advanced.wait_for(lock, std::chrono::milliseconds(1), done);
      sleepers.fetch_sub(1, std::memory_order_seq_cst);
    }
  };

  run_workers(workers, [&](unsigned w) {
    searchers[w] = std::make_unique<Searcher>(layout, n, graph.edge_count());
    Searcher& searcher = *searchers[w];
    Poller poller;
    for (;;) {
      std::size_t chunk;
      std::size_t first;
      std::size_t last;
      {
        const std::lock_guard<std::mutex> lock(claiming);
        if (next_source >= source_count) break;
        const std::size_t per_source = done_sources == 0 ? kChunkEntries : done_entries / done_sources + 1;
        const std::size_t left = source_count - next_source;
        const std::size_t length = std::clamp<std::size_t>(
            std::min(kChunkEntries / per_source, left / (4 * std::size_t{workers})), 1, kMaxChunk);
        chunk = next_chunk++;
        first = next_source;
        last = first + std::min(length, left);
        next_source = last;
      }
      wait_for([&] { return chunk < merged.load(std::memory_order_seq_cst) + window; });
      Pending& slot = ring[chunk % window];
      slot.nodes.clear();
      slot.deltas.clear();
      std::size_t entries = 0;
      bool earliest = false;  // every earlier chunk merged: add straight to the scores
      for (std::size_t i = first; i < last; ++i) {
        const NodeId s = sources != nullptr ? sources[i] : static_cast<NodeId>(i);
        const std::size_t reached = searcher.run(s, poller);
        if (!earliest) {
          if (slot.nodes.size() + reached > slot_entries && !slot.nodes.empty()) {
            // Full: the chunk waits for its turn.
            wait_for([&] { return merged.load(std::memory_order_seq_cst) == chunk; });
          }
          if (merged.load(std::memory_order_acquire) == chunk) {
            // Nobody else writes the scores until this chunk counts as merged.
            add_to_scores(slot);
            slot.nodes.clear();
            slot.deltas.clear();
            earliest = true;
          }
        }
        if (earliest) {
          searcher.drain(s, reached, poller, [&](NodeId v, Score delta) { score[v] = delta + score[v]; });
        } else {
          searcher.drain(s, reached, poller, [&](NodeId v, Score delta) {
            slot.nodes.push_back(v);
            slot.deltas.push_back(delta);
          });
        }
        entries += reached;
      }
      {
        const std::lock_guard<std::mutex> lock(claiming);
        done_sources += last - first;
        done_entries += entries;
      }
      if (earliest) {
        {
          const std::lock_guard<std::mutex> lock(merging);
          merged.store(chunk + 1, std::memory_order_seq_cst);
        }
        wake_sleepers();
      } else {
        slot.ready.store(true, std::memory_order_release);
      }
      merge_ready();
    }
  });
  // Every slot is ready now; the last ones may still wait for their turn.
  merge_ready();
  if (merged.load() != next_chunk) throw InternalFailure("betweenness sources left unmerged");
}

// Saturating: the work of all searches, in poller units.
std::size_t search_work(std::size_t sources, const Graph& graph) {
  const std::size_t per_source = 1 + graph.node_count() + graph.edge_count();
  return sources > SIZE_MAX / per_source ? SIZE_MAX : sources * per_source;
}

}  // namespace

ScoreMap betweenness_from(const Graph& graph, bool normalized, const std::vector<NodeId>* sources, Threads threads) {
  if (!graph.rows_match()) throw InputError("unsound snapshot: incoming rows do not match outgoing rows");
  const std::size_t n = graph.node_count();
  if (n == 0) return {};
  if (sources) {
    for (const NodeId s : *sources) {
      if (s >= n) throw InternalFailure("betweenness source outside the graph");
    }
  }
  const std::size_t source_count = sources ? sources->size() : n;
  const NodeId* source_list = sources ? sources->data() : nullptr;

  std::vector<Score> score(n, 0.0);
  {
    const Layout layout(graph);
    const unsigned workers =
        static_cast<unsigned>(std::min<std::size_t>(workers_for(threads, search_work(source_count, graph)),
                                                     std::max<std::size_t>(source_count, 1)));
    if (workers <= 1) {
      Searcher searcher(layout, n, graph.edge_count());
      Poller poller;
      for (std::size_t i = 0; i < source_count; ++i) {
        const NodeId s = source_list != nullptr ? source_list[i] : static_cast<NodeId>(i);
        const std::size_t reached = searcher.run(s, poller);
        searcher.drain(s, reached, poller, [&](NodeId w, Score delta) { score[w] = delta + score[w]; });
      }
    } else {
      accumulate_in_parallel(layout, graph, source_count, source_list, workers, score);
    }
  }

  const double count = static_cast<double>(n);
  const double norm = normalized && n >= 3 ? 1.0 / ((count - 2.0) * (count - 1.0)) : 1.0;
  const double sample_scale =
      sources && !sources->empty() ? count / static_cast<double>(sources->size()) : 1.0;
  const double factor = norm * sample_scale;

  for (Score& value : score) value = value * factor;
  return score;
}

ScoreMap betweenness(const Graph& graph, bool normalized, Threads threads) {
  return betweenness_from(graph, normalized, nullptr, threads);
}

ScoreMap sampled_betweenness(const Graph& graph, std::uint64_t sample_size, std::uint64_t seed, bool normalized,
                             Threads threads) {
  const std::size_t n = graph.node_count();
  if (n == 0) return {};
  if (sample_size >= n) return betweenness_from(graph, normalized, nullptr, threads);

  // Fisher-Yates from the back, driven by a 64-bit linear congruential
  // generator (multiplier 0x5851F42D4C957F2D, increment 1) seeded with `seed`
  // unchanged and advanced before each use. j is the plain remainder of the
  // whole state: the draw must be reproducible, not unbiased. The pass always
  // runs to the end, however few sources are taken.
  std::vector<NodeId> order(n);
  for (std::size_t i = 0; i < n; ++i) order[i] = static_cast<NodeId>(i);
  std::uint64_t state = seed;
  for (std::uint64_t i = n - 1; i >= 1; --i) {
    state = state * 6364136223846793005ULL + 1;
    const std::uint64_t j = state % (i + 1);
    std::swap(order[i], order[j]);
  }
  order.resize(sample_size);
  return betweenness_from(graph, normalized, &order, threads);
}

}  // namespace lhg
