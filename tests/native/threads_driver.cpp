// The parallel cores driven directly, for ThreadSanitizer: random graphs
// through PageRank, both betweenness cores and the closure sizes at one to
// four threads, with the thresholds lowered so that every graph takes the
// parallel paths. Each result must match the one-thread result bit for bit
// (and PageRank the literal order); a worker that fails must bring its
// failure to the caller.
// Edge lists are also filled by an interning thread, drained at random
// points, and must come out as when filled in place. Several threads query
// one built graph at once, borrowing marks from its pool, and must each get
// what one thread gets.
// Exits non-zero on a mismatch; the sanitizer reports any race itself.
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <functional>
#include <new>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "graph/betweenness.h"
#include "graph/closure.h"
#include "graph/chains.h"
#include "graph/dominators.h"
#include "graph/failure.h"
#include "graph/interning.h"
#include "graph/pagerank.h"
#include "graph/parallel.h"
#include "graph/reachability.h"
#include "graph/scratch.h"
#include "graph/subgraph.h"

namespace {

using lhg::EdgeList;
using lhg::NameKey;
using lhg::ScoreMap;
using lhg::Threads;

struct Rng {
  std::uint64_t state;
  std::uint64_t next(std::uint64_t bound) {
    state = state * 6364136223846793005ULL + 1442695040888963407ULL;
    return (state >> 33) % bound;
  }
};

std::vector<std::pair<std::string, std::string>> random_pairs(std::uint64_t seed) {
  Rng rng{seed};
  const std::uint64_t n = 2 + rng.next(300);
  const std::uint64_t m = rng.next(4 * n);
  const std::uint64_t sources = 1 + rng.next(n);
  std::vector<std::pair<std::string, std::string>> pairs;
  for (std::uint64_t k = 0; k < m; ++k) {
    pairs.emplace_back("v" + std::to_string(rng.next(sources)), "v" + std::to_string(rng.next(n)));
  }
  return pairs;
}

EdgeList edge_list(const std::vector<std::pair<std::string, std::string>>& pairs) {
  EdgeList edges;
  const std::hash<std::string> hash;
  for (const auto& [s, t] : pairs) edges.add(NameKey{s, hash(s)}, NameKey{t, hash(t)});
  return edges;
}

bool same_bits(const ScoreMap& a, const ScoreMap& b) {
  return a.size() == b.size() && (a.empty() || std::memcmp(a.data(), b.data(), a.size() * sizeof(double)) == 0);
}

lhg::Graph built(const std::vector<std::pair<std::string, std::string>>& pairs) {
  return lhg::build_graph(edge_list(pairs));
}

int checks = 0;
int failures = 0;

void expect(bool ok, const char* what, std::uint64_t seed, unsigned threads) {
  ++checks;
  if (!ok) {
    std::fprintf(stderr, "mismatch: %s, graph %llu, %u threads\n", what, static_cast<unsigned long long>(seed), threads);
    ++failures;
  }
}

// The pairs handed to an interning thread, drained now and then; the limit
// on names, if any, lowered to `limit`.
lhg::Graph interned_apart(const std::vector<std::pair<std::string, std::string>>& pairs, Rng& rng,
                          std::uint32_t limit = lhg::kEndMarker) {
  EdgeList edges;
  if (limit != lhg::kEndMarker) edges.set_index_limit(limit);
  const std::hash<std::string> hash;
  {
    lhg::InterningThread interner(edges);
    if (!interner.start()) throw std::runtime_error("no interning thread");
    for (const auto& [s, t] : pairs) {
      interner.add(NameKey{s, hash(s)}, NameKey{t, hash(t)});
      if (rng.next(500) == 0) interner.drain();
    }
    interner.drain();
  }
  return lhg::build_graph(std::move(edges));
}

void check_interning_thread(std::uint64_t seed) {
  Rng rng{seed};
  auto pairs = random_pairs(seed);
  // Now and then more pairs than the batches in flight hold.
  if (seed % 4 == 0) {
    for (std::uint64_t k = 0; k < 6000; ++k) pairs.emplace_back("w" + std::to_string(rng.next(4000)), "v1");
  }
  expect(interned_apart(pairs, rng) == built(pairs), "interning thread", seed, 2);
  const auto names = static_cast<std::uint32_t>(lhg::build_graph(edge_list(pairs)).node_count());
  if (names < 2) return;
  bool thrown = false;
  try {
    interned_apart(pairs, rng, names - 1);
  } catch (const lhg::InternalFailure&) {
    thrown = true;
  }
  expect(thrown, "interning thread at the limit", seed, 2);
}

// Every node's descendants and ancestors to depth 2, and its subgraph at
// depth 1, flattened into one list of numbers.
std::vector<std::size_t> queries(const lhg::Graph& graph, lhg::MarksPool& pool, std::size_t first) {
  std::vector<std::size_t> out;
  for (std::size_t k = 0; k < graph.node_count(); ++k) {
    const auto v = static_cast<lhg::NodeId>((first + k) % graph.node_count());
    auto marks = pool.lend();
    for (const auto& map : {lhg::descendants_at_depth(graph, v, 2, *marks), lhg::ancestors_at_depth(graph, v, 2, *marks)}) {
      out.insert(out.end(), map.found.begin(), map.found.end());
      out.insert(out.end(), map.level_end.begin(), map.level_end.end());
    }
    lhg::NameList seeds;
    seeds.push_back(graph.key(v));
    const auto other = static_cast<lhg::NodeId>((v + 7) % graph.node_count());
    for (const auto& chain : {lhg::shortest_chain(graph, v, other, *marks), lhg::shortest_cycle(graph, v, *marks)}) {
      if (chain) out.insert(out.end(), chain->begin(), chain->end());
      out.push_back(chain ? chain->size() : 0);
    }
    const lhg::DominatorTree tree = lhg::dominator_tree(graph, v, *marks);
    out.insert(out.end(), tree.order.begin(), tree.order.end());
    out.insert(out.end(), tree.idom.begin(), tree.idom.end());
    const lhg::ChainList all = lhg::shortest_chains(graph, v, other, 3, *marks);
    out.insert(out.end(), all.count.begin(), all.count.end());
    for (const auto& chain : all.chains) out.insert(out.end(), chain.begin(), chain.end());
    const lhg::SubgraphResult sub = lhg::subgraph(graph, seeds, 1, true, true, *marks);
    out.insert(out.end(), sub.nodes.begin(), sub.nodes.end());
    for (const auto& [s, t] : sub.edges) {
      out.push_back(s);
      out.push_back(t);
    }
  }
  return out;
}

// Four threads, each starting at a different node, against one.
void check_shared_graph(const std::vector<std::pair<std::string, std::string>>& pairs, std::uint64_t seed) {
  // Hashes that share their high bits: lookups probe past each other.
  EdgeList edges;
  const std::hash<std::string> hash;
  for (const auto& [s, t] : pairs) edges.add(NameKey{s, hash(s) % 7}, NameKey{t, hash(t) % 7});
  const lhg::Graph graph = lhg::build_graph(std::move(edges));
  if (graph.node_count() == 0) return;
  lhg::MarksPool pool(graph.node_count());
  const auto alone = queries(graph, pool, 0);
  std::vector<std::vector<std::size_t>> each(4);
  {
    std::vector<std::thread> threads;
    for (std::size_t t = 0; t < each.size(); ++t) {
      threads.emplace_back([&, t] { each[t] = queries(graph, pool, 0); });
    }
    for (auto& thread : threads) thread.join();
  }
  for (const auto& result : each) expect(result == alone, "queries on a shared graph", seed, 4);

  // Batches of every name, their keys split among threads.
  lhg::NameList starts;
  for (lhg::NodeId v = 0; v < graph.node_count(); ++v) starts.push_back(graph.key(v));
  auto flat = [](const lhg::BatchDepths& b) {
    std::vector<std::size_t> out(b.keys);
    out.insert(out.end(), b.found_begin.begin(), b.found_begin.end());
    out.insert(out.end(), b.level_begin.begin(), b.level_begin.end());
    out.insert(out.end(), b.found.begin(), b.found.end());
    out.insert(out.end(), b.level_end.begin(), b.level_end.end());
    return out;
  };
  const auto down = flat(lhg::batch_descendants(graph, starts, 3, pool));
  const auto up = flat(lhg::batch_ancestors(graph, starts, lhg::Depth(-1), pool));
  for (unsigned threads = 2; threads <= 4; ++threads) {
    expect(flat(lhg::batch_descendants(graph, starts, 3, pool, Threads{threads})) == down, "batch descendants", seed,
           threads);
    expect(flat(lhg::batch_ancestors(graph, starts, lhg::Depth(-1), pool, Threads{threads})) == up,
           "batch ancestors", seed, threads);
  }
}

}  // namespace

int main(int argc, char** argv) {
  const std::uint64_t graphs = argc > 1 ? std::strtoull(argv[1], nullptr, 10) : 40;
  lhg::ParallelTuning tuning;
  tuning.min_work = 1;
  tuning.pagerank_block_shift = 2;
  for (std::uint64_t seed = 0; seed < graphs; ++seed) {
    const auto pairs = random_pairs(seed);
    tuning.betweenness_window = seed % 4;
    // Chunks that fill up and are merged before they end, now and then.
    tuning.betweenness_slot = seed % 3 == 0 ? 0 : 1 + seed % 50;
    // Closure blocks of a few targets, so that workers share many of them.
    tuning.closure_block = seed % 5 == 0 ? 0 : 1 + seed % 40;
    lhg::set_parallel_tuning(tuning);
    const double alpha = seed % 3 == 0 ? 1.0 : 0.85;
    const lhg::Graph graph = built(pairs);
    const ScoreMap literal = lhg::pagerank_literal(graph, alpha, 40);
    const ScoreMap exact = lhg::betweenness(graph, true, Threads{1});
    const ScoreMap sampled = lhg::sampled_betweenness(graph, 7, seed, false, Threads{1});
    const lhg::ClosureSizes closure = lhg::closure_sizes(graph, Threads{1});
    check_interning_thread(seed);
    check_shared_graph(pairs, seed);
    for (unsigned threads = 1; threads <= 4; ++threads) {
      expect(same_bits(lhg::pagerank(graph, alpha, 40, Threads{threads}), literal), "pagerank", seed, threads);
      expect(same_bits(lhg::pagerank(graph, alpha, 40, std::size_t{1}, Threads{threads}), literal),
             "pagerank with one table", seed, threads);
      expect(same_bits(lhg::betweenness(graph, true, Threads{threads}), exact), "betweenness", seed, threads);
      expect(same_bits(lhg::sampled_betweenness(graph, 7, seed, false, Threads{threads}), sampled),
             "sampled betweenness", seed, threads);
      const lhg::ClosureSizes sizes = lhg::closure_sizes(graph, Threads{threads});
      expect(sizes.dependencies == closure.dependencies && sizes.dependents == closure.dependents, "closure sizes",
             seed, threads);
    }
  }
  // A worker that fails stops the others, and its failure reaches the caller.
  tuning.failing_worker = 2;
  lhg::set_parallel_tuning(tuning);
  for (int k = 0; k < 4; ++k) {
    bool thrown = false;
    auto pairs = random_pairs(99 + k);
    pairs.emplace_back("a", "b");
    try {
      lhg::betweenness(built(pairs), true, Threads{3});
    } catch (const std::bad_alloc&) {
      thrown = true;
    }
    expect(thrown, "failure in a worker", 99 + k, 3);
  }
  std::printf("threads: %d passed, %d failed\n", checks - failures, failures);
  return failures == 0 ? 0 : 1;
}
