// The parallel cores driven directly, for ThreadSanitizer: random graphs
// through PageRank and both betweenness cores at one to four threads, with
// the thresholds lowered so that every graph takes the parallel paths. Each
// result must match the one-thread result bit for bit (and PageRank the
// literal order); a worker that fails must bring its failure to the caller.
// Exits non-zero on a mismatch; the sanitizer reports any race itself.
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <functional>
#include <new>
#include <string>
#include <vector>

#include "graph/betweenness.h"
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
