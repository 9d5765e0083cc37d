#include "graph/parallel.h"

#include <sys/resource.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>

namespace lhg {
namespace {

std::atomic<std::size_t> g_min_work{ParallelTuning{}.min_work};
std::atomic<unsigned> g_block_shift{ParallelTuning{}.pagerank_block_shift};
std::atomic<std::size_t> g_window{ParallelTuning{}.betweenness_window};
std::atomic<std::size_t> g_slot{ParallelTuning{}.betweenness_slot};
std::atomic<unsigned> g_failing_worker{0};
std::atomic<std::size_t> g_closure_block{0};
std::atomic<std::size_t> g_in_order_nodes{ParallelTuning{}.pagerank_in_order_nodes};

}  // namespace

ParallelTuning parallel_tuning() noexcept {
  return {g_min_work.load(std::memory_order_relaxed), g_block_shift.load(std::memory_order_relaxed),
          g_window.load(std::memory_order_relaxed), g_slot.load(std::memory_order_relaxed),
          g_failing_worker.load(std::memory_order_relaxed), g_closure_block.load(std::memory_order_relaxed),
          g_in_order_nodes.load(std::memory_order_relaxed)};
}

void set_parallel_tuning(const ParallelTuning& tuning) noexcept {
  g_min_work.store(std::max<std::size_t>(tuning.min_work, 1), std::memory_order_relaxed);
  g_block_shift.store(std::clamp(tuning.pagerank_block_shift, 1u, 16u), std::memory_order_relaxed);
  g_window.store(tuning.betweenness_window, std::memory_order_relaxed);
  g_slot.store(tuning.betweenness_slot, std::memory_order_relaxed);
  g_failing_worker.store(tuning.failing_worker, std::memory_order_relaxed);
  g_closure_block.store(tuning.closure_block, std::memory_order_relaxed);
  g_in_order_nodes.store(tuning.pagerank_in_order_nodes, std::memory_order_relaxed);
}

unsigned affordable_workers(unsigned count) noexcept {
  rlimit limit{};
  if (count <= 1 || getrlimit(RLIMIT_AS, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY) return count;
  // The size of the address space in use, in pages.
  unsigned long pages = 0;
  if (std::FILE* statm = std::fopen("/proc/self/statm", "r")) {
    if (std::fscanf(statm, "%lu", &pages) != 1) pages = 0;
    std::fclose(statm);
  }
  if (pages == 0) return 1;
  const std::uint64_t used = static_cast<std::uint64_t>(pages) * 4096;
  const std::uint64_t left = limit.rlim_cur > used ? limit.rlim_cur - used : 0;
  // A stack of 8 MiB, an arena reservation of 64 MiB and room to work make
  // about 160 MiB; twice that leaves the calling thread its share too.
  constexpr std::uint64_t kPerWorker = std::uint64_t{320} << 20;
  return static_cast<unsigned>(std::min<std::uint64_t>(count, 1 + left / kPerWorker));
}

unsigned workers_for(Threads threads, std::size_t work) noexcept {
  const std::size_t worth = work / g_min_work.load(std::memory_order_relaxed);
  return affordable_workers(static_cast<unsigned>(std::clamp<std::size_t>(worth, 1, std::max(threads.count, 1u))));
}

}  // namespace lhg
