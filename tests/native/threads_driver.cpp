// The parallel cores driven directly, for ThreadSanitizer: random graphs
// through PageRank and both betweenness cores at one to four threads, with
// the thresholds lowered so that every graph takes the parallel paths. Each
// result must match the one-thread result bit for bit (and PageRank the
// literal order); a worker that fails must bring its failure to the caller.
// Edge lists are also filled by an interning thread, drained at random
// points, and must come out as when filled in place.
// Exits non-zero on a mismatch; the sanitizer reports any race itself.
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <functional>
#include <new>
#include <stdexcept>
#include <string>
#include <vector>

#include "graph/betweenness.h"
#include "graph/failure.h"
#include "graph/interning.h"
#include "graph/pagerank.h"
#include "graph/parallel.h"

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
  return a.scores.size() == b.scores.size() &&
         (a.scores.empty() || std::memcmp(a.scores.data(), b.scores.data(), a.scores.size() * sizeof(double)) == 0);
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

bool same_graph(const lhg::Graph& a, const lhg::Graph& b) {
  if (a.node_count() != b.node_count() || a.edge_count() != b.edge_count()) return false;
  for (lhg::NodeId v = 0; v < a.node_count(); ++v) {
    if (a.name(v) != b.name(v)) return false;
  }
  for (std::size_t e = 0; e < a.edge_count(); ++e) {
    if (a.edges()[e].source != b.edges()[e].source || a.edges()[e].target != b.edges()[e].target) return false;
  }
  return true;
}

void check_interning_thread(std::uint64_t seed) {
  Rng rng{seed};
  auto pairs = random_pairs(seed);
  // Now and then more pairs than the batches in flight hold.
  if (seed % 4 == 0) {
    for (std::uint64_t k = 0; k < 6000; ++k) pairs.emplace_back("w" + std::to_string(rng.next(4000)), "v1");
  }
  expect(same_graph(interned_apart(pairs, rng), lhg::build_graph(edge_list(pairs))), "interning thread", seed, 2);
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
    lhg::set_parallel_tuning(tuning);
    const double alpha = seed % 3 == 0 ? 1.0 : 0.85;
    const ScoreMap literal = lhg::pagerank_literal(edge_list(pairs), alpha, 40);
    const ScoreMap exact = lhg::betweenness_impl(edge_list(pairs), true, Threads{1});
    const ScoreMap sampled = lhg::sampled_betweenness_impl(edge_list(pairs), 7, seed, false, Threads{1});
    check_interning_thread(seed);
    for (unsigned threads = 1; threads <= 4; ++threads) {
      expect(same_bits(lhg::pagerank_impl(edge_list(pairs), alpha, 40, Threads{threads}), literal), "pagerank", seed,
             threads);
      expect(same_bits(lhg::pagerank_impl(edge_list(pairs), alpha, 40, std::size_t{1}, Threads{threads}), literal),
             "pagerank with one table", seed, threads);
      expect(same_bits(lhg::betweenness_impl(edge_list(pairs), true, Threads{threads}), exact), "betweenness", seed,
             threads);
      expect(same_bits(lhg::sampled_betweenness_impl(edge_list(pairs), 7, seed, false, Threads{threads}), sampled),
             "sampled betweenness", seed, threads);
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
      lhg::betweenness_impl(edge_list(pairs), true, Threads{3});
    } catch (const std::bad_alloc&) {
      thrown = true;
    }
    expect(thrown, "failure in a worker", 99 + k, 3);
  }
  std::printf("threads: %d passed, %d failed\n", checks - failures, failures);
  return failures == 0 ? 0 : 1;
}
