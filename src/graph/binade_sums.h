// Running sums of non-negative doubles, added one at a time to a per-node
// accumulator, done a whole run at a time without changing a single bit.
//
// Why it is exact: every double acc >= 0 below 2^1024 lies on a grid. Write
// g for the grid of acc (g = biased exponent - 1, or 0 for subnormals and
// zero); then acc = A * 2^(g - 1074) for an integer A below 2^53, and every
// double from acc up to the top of its binade is a multiple of the same
// spacing u = 2^(g - 1074). Adding y >= 0 rounds the exact sum acc + y to the
// nearest multiple of u, so
//
//     fl(acc + y) = acc + u * round(y / u)
//
// whenever y / u is not exactly halfway between two integers (only then does
// round-half-even look at acc) and the result stays below 2^53 * u, the top
// of the binade. A run of such additions is therefore an integer sum: with
// r_k = round(y_k / u) and prefix sums P over the run, the result is
// (A + P[hi] - P[lo]) * u, computed on the integers of the bit pattern. The
// elements that break a premise, the halfway cases and those whose rounded
// value alone reaches 2^53, are marked as stops and taken by a true
// floating-point addition; the element at which the integer sum first
// reaches the top of the binade is found by binary search and also taken by
// a true addition, after which acc is on another grid and the run goes on
// with that grid's table.
//
// y / u is exact in binary floating point (u is a power of two) except where
// it underflows, and then it is below 2^-1022: it rounds to 0 and is no tie,
// as the true quotient would. Where it overflows it is far above 2^53: a stop.
#pragma once

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace lhg {

// Where an accumulator stands: the prefix sum at its position in the table of
// its grid, remembered so that the next run need not read it again (by then
// that entry has usually left the cache).
struct RunCursor {
  static constexpr std::uint32_t kNoGrid = 2046;
  std::uint64_t sum = 0;
  std::uint32_t grid = kNoGrid;
};

class BinadeSums {
 public:
  // Grids 0 (zero and subnormals, and the binade [2^-1022, 2^-1021)) up to
  // 2045 (the top binade); infinities and NaN are never accumulated here.
  static constexpr unsigned kGrids = RunCursor::kNoGrid;
  // Runs this short are simply added: cheaper than two table reads.
  static constexpr std::size_t kShortRun = 6;

  // `values` are the y_k, all finite and >= 0 (or -0), indexed 0..count-1;
  // the object reads them until the next `restart`.
  BinadeSums() = default;

  // New values: every table built so far is stale.
  void restart(const double* values, std::size_t count) {
    values_ = values;
    count_ = count;
    ready_.fill(nullptr);
    used_ = 0;
    next_victim_ = 0;
    if (slots_.empty()) {
      // Tables are built on demand, for the grids that the accumulators
      // actually pass through; their memory is bounded, the oldest table
      // giving way once the bound is reached.
      const std::size_t per_table = count + 1;
      slot_limit_ = std::clamp<std::size_t>((std::size_t{1} << 24) / per_table, 4, 64);
      // Tables are referred to by address: the slots never move.
      slots_.reserve(slot_limit_);
    }
  }

  using Cursor = RunCursor;
  static constexpr std::uint32_t kNoGrid = RunCursor::kNoGrid;

  // acc followed by the additions of values[lo], ..., values[hi - 1], in
  // that order, each rounded as a floating-point addition would round it.
  // acc must be a double >= 0 (not -0) below 2^1024. `at_lo` is used if it
  // describes acc's grid at lo.
  double add_run(double acc, std::size_t lo, std::size_t hi, const Cursor& at_lo) {
    Cursor cursor = at_lo;
    while (lo < hi) {
      const std::uint64_t bits = std::bit_cast<std::uint64_t>(acc);
      const std::uint64_t biased = bits >> 52;
      // Past the top binade (an infinity) there is no grid to sum on.
      if (hi - lo <= kShortRun || biased > kGrids) {
        for (; lo < hi; ++lo) acc += values_[lo];
        break;
      }
      const std::uint64_t grid = biased == 0 ? 0 : biased - 1;
      // acc = A * u; (grid << 52) + A is acc's bit pattern again, and stays
      // the bit pattern of (A + s) * u for every A + s up to 2^53.
      const std::uint64_t a = biased == 0 ? bits : (bits & kMantissaMask) | kHidden;
      const std::uint64_t base = grid << 52;
      const std::uint64_t room = kGridTop - a;
      const Table& table = table_for(static_cast<unsigned>(grid));
      const std::uint64_t* sums = table.sums.data();
      // The fast part ends at the first stop in the run, if any.
      std::size_t end = hi;
      bool stopped = false;
      if (!table.stops.empty() && table.stops.back() >= lo) {
        const std::size_t stop = *std::lower_bound(table.stops.begin(), table.stops.end(), lo);
        if (stop < hi) {
          end = stop;
          stopped = true;
        }
      }
      const std::uint64_t p_lo = cursor.grid == grid ? cursor.sum : sums[lo];
      cursor.grid = kNoGrid;
      const std::uint64_t sum = sums[end] - p_lo;
      if (sum < room) {
        acc = std::bit_cast<double>(base + a + sum);
        lo = end;
        if (stopped) acc += values_[lo++];
      } else {
        const std::size_t first = crossing(table, lo, end, p_lo + room);
        acc = std::bit_cast<double>(base + a + (sums[first - 1] - p_lo));
        acc += values_[first - 1];
        lo = first;
      }
    }
    return acc;
  }

  // The cursor of acc at position `at`, if acc's grid has a table already;
  // tables are not built for it (the accumulator may never run on it).
  Cursor cursor_at(double acc, std::size_t at) const {
    const std::uint64_t biased = std::bit_cast<std::uint64_t>(acc) >> 52;
    const std::uint64_t grid = biased == 0 ? 0 : biased - 1;
    if (grid >= kGrids || ready_[grid] == nullptr) return Cursor{};
    return Cursor{ready_[grid]->sums[at], static_cast<std::uint32_t>(grid)};
  }

 private:
  static constexpr std::uint64_t kHidden = std::uint64_t{1} << 52;
  static constexpr std::uint64_t kMantissaMask = kHidden - 1;
  static constexpr std::uint64_t kGridTop = std::uint64_t{1} << 53;

  // sums[k]: the sum of r over the current segment before k. A segment ends
  // at each stop, so sums are only ever differenced inside one segment. A
  // segment whose sum would reach 2^53 is cut by a stop as well: any run over
  // it leaves the binade anyway, and the cut keeps every sum below 2^53.
  // Stops are rare outside contrived inputs, so they are kept as a list.
  struct Table {
    std::vector<std::uint64_t> sums;
    std::vector<std::uint32_t> stops;  // ascending
    // Every kCoarse-th sum, small enough to stay in the nearest cache: a
    // crossing is first located among these, then among kCoarse entries.
    std::vector<std::uint64_t> coarse;
  };
  static constexpr std::size_t kCoarseShift = 6;
  static constexpr std::size_t kCoarse = std::size_t{1} << kCoarseShift;

  // The first k in (lo, end] with sums[k] >= target, sums being ascending
  // there and sums[end] >= target; values[k - 1] crosses the binade top.
  static std::size_t crossing(const Table& table, std::size_t lo, std::size_t end, std::uint64_t target) {
    const std::uint64_t* sums = table.sums.data();
    std::size_t first = lo + 1;
    std::size_t last = end;
    // Narrow [first, last] by the coarse sums strictly inside it.
    const std::uint64_t* coarse = table.coarse.data();
    std::size_t c_first = (first + kCoarse - 1) >> kCoarseShift;
    std::size_t c_last = last >> kCoarseShift;
    if (c_first < c_last) {
      // coarse[c] = sums[c * kCoarse], within [first, last] for c in [c_first, c_last].
      while (c_first < c_last) {
        const std::size_t mid = c_first + (c_last - c_first) / 2;
        if (coarse[mid] >= target) {
          c_last = mid;
        } else {
          c_first = mid + 1;
        }
      }
      // coarse[c_last] = sums[c_last * kCoarse] might be the first at or
      // above target, unless c_last is the last candidate and it is not.
      const std::size_t at = c_last << kCoarseShift;
      if (sums[at] >= target) {
        last = at;
        if (at >= kCoarse && at - kCoarse + 1 > first) first = at - kCoarse + 1;
      } else {
        first = at + 1;
      }
    }
    while (first < last) {
      const std::size_t mid = first + (last - first) / 2;
      if (sums[mid] >= target) {
        last = mid;
      } else {
        first = mid + 1;
      }
    }
    return first;
  }

  const Table& table_for(unsigned grid) {
    const Table* table = ready_[grid];
    return table != nullptr ? *table : build(grid);
  }

  const Table& build(unsigned grid) {
    Table* table;
    if (used_ < slot_limit_) {
      if (used_ == slots_.size()) {
        slots_.emplace_back();
        slot_grids_.push_back(grid);
      }
      slot_grids_[used_] = grid;
      table = &slots_[used_++];
    } else {
      const std::size_t victim = next_victim_;
      next_victim_ = (next_victim_ + 1) % slots_.size();
      ready_[slot_grids_[victim]] = nullptr;
      slot_grids_[victim] = grid;
      table = &slots_[victim];
    }
    table->sums.resize(count_ + 1);
    table->stops.clear();
    std::uint64_t* sums = table->sums.data();

    // y / u = y * 2^(1074 - grid), as one or two exact multiplications.
    const int shift = 1074 - static_cast<int>(grid);
    const double scale_high = std::ldexp(1.0, std::min(shift, 1023));
    const double scale_low = std::ldexp(1.0, shift - std::min(shift, 1023));
    const double top = 0x1p53;

    std::uint64_t segment = 0;
    for (std::size_t k = 0; k < count_; ++k) {
      sums[k] = segment;
      const double q = (values_[k] * scale_high) * scale_low;
      if (q < top) {
        const double whole = std::floor(q);
        const double fraction = q - whole;
        const std::uint64_t r = static_cast<std::uint64_t>(whole) + (fraction > 0.5 ? 1 : 0);
        if (fraction != 0.5 && segment + r < kGridTop) {
          segment += r;
          continue;
        }
      }
      table->stops.push_back(static_cast<std::uint32_t>(k));
      segment = 0;
    }
    sums[count_] = segment;
    table->coarse.resize((count_ >> kCoarseShift) + 1);
    for (std::size_t c = 0; c < table->coarse.size(); ++c) table->coarse[c] = sums[c << kCoarseShift];
    ready_[grid] = table;
    return *table;
  }

  const double* values_ = nullptr;
  std::size_t count_ = 0;
  std::array<const Table*, kGrids> ready_{};
  std::vector<Table> slots_;
  std::vector<unsigned> slot_grids_;
  std::size_t slot_limit_ = 0;
  std::size_t used_ = 0;  // slots holding a table of the current values
  std::size_t next_victim_ = 0;
};

}  // namespace lhg
