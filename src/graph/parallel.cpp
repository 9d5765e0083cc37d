#include "graph/parallel.h"

#include <algorithm>

namespace lhg {
namespace {

std::atomic<std::size_t> g_min_work{ParallelTuning{}.min_work};
std::atomic<unsigned> g_block_shift{ParallelTuning{}.pagerank_block_shift};
std::atomic<std::size_t> g_window{ParallelTuning{}.betweenness_window};
std::atomic<unsigned> g_failing_worker{0};

}  // namespace

ParallelTuning parallel_tuning() noexcept {
  return {g_min_work.load(std::memory_order_relaxed), g_block_shift.load(std::memory_order_relaxed),
          g_window.load(std::memory_order_relaxed), g_failing_worker.load(std::memory_order_relaxed)};
}

void set_parallel_tuning(const ParallelTuning& tuning) noexcept {
  g_min_work.store(std::max<std::size_t>(tuning.min_work, 1), std::memory_order_relaxed);
  g_block_shift.store(std::clamp(tuning.pagerank_block_shift, 1u, 16u), std::memory_order_relaxed);
  g_window.store(tuning.betweenness_window, std::memory_order_relaxed);
  g_failing_worker.store(tuning.failing_worker, std::memory_order_relaxed);
}

unsigned workers_for(Threads threads, std::size_t work) noexcept {
  const std::size_t worth = work / g_min_work.load(std::memory_order_relaxed);
  return static_cast<unsigned>(std::clamp<std::size_t>(worth, 1, std::max(threads.count, 1u)));
}

}  // namespace lhg
