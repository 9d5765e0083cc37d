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
// (A + P[hi] - P[lo]) * u, computed on the integers of the bit pattern (the
// bit pattern of A * u is (g << 52) + A, so adding to the integer sum adds to
// the bit pattern). The halfway cases are marked as stops and taken by a
// true floating-point addition. An element whose r alone reaches 2^53 is
// counted as 2^53: whichever run reaches it leaves the binade there or
// before. The element at which the integer sum first reaches the top of the
// binade is found by a search and taken by a true addition, after which acc
// is on another grid and the run goes on with that grid's table.
//
// y / u is exact in binary floating point (u is a power of two) except where
// it underflows, and then it is below 2^-1022: it rounds to 0 and is no tie,
// as the true quotient would. Where it overflows it is far above 2^53.
//
// Callers keep an accumulator's place in its grid's table (a Cursor: the
// prefix sum and the first stop at or after its position), so that a run is
// checked and added with one read of the table, at the run's end; `entries`
// and `binade_top` are public for that.
#pragma once

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace lhg {

class BinadeSums {
 public:
  // An accumulator's place in the table of its grid at its position k:
  // sum, the sum of r over the current segment before k (a segment ends at
  // each stop, so sums are only differenced inside one), and bound, one past
  // the first stop at or after k. A run from k to hi < bound adds
  // sums[hi] - sum, and leaves the bound as it is. Bound 0 marks a cursor
  // that describes nothing (no run is below it).
  struct Cursor {
    std::uint64_t sum = 0;
    std::uint32_t bound = 0;
  };

  // A table entry: the cursor at its position. Both halves share a cache
  // line, so that taking a cursor costs one memory access.
  struct Entry {
    std::uint64_t sum;
    std::uint64_t bound;
  };

  // Runs this short are simply added when their grid has no table yet.
  static constexpr std::size_t kShortRun = 6;

  BinadeSums() = default;

  // New values, all finite and >= 0 (or -0), indexed 0..count-1 (count below
  // 2^32 - 1); the object reads them until the next `restart`. Every table
  // built so far is stale.
  void restart(const double* values, std::size_t count) {
    values_ = values;
    count_ = count;
    ready_.fill(nullptr);
    if (none_.size() != count + 1) none_.assign(count + 1, Entry{0, 0});
    ready_entries_.fill(none_.data());
    plain_work_.fill(0);
    used_ = 0;
    next_victim_ = 0;
    if (slots_.empty()) {
      // Tables are built on demand, for the grids that the accumulators
      // actually pass through; their memory is bounded, the oldest table
      // giving way once the bound is reached. A cursor may outlive its
      // table: it stays good for a later table of the same grid, which is
      // the same table again, and until then the grid reads as one without
      // a table.
      const std::size_t per_table = count + 1;
      slot_limit_ = std::clamp<std::size_t>((std::size_t{1} << 23) / per_table, 4, 64);
      // Tables are referred to by address: the slots never move.
      slots_.reserve(slot_limit_);
    }
  }

  // The entries of the grid of a double >= 0 whose bit pattern has this
  // biased exponent. A grid without a table (or no grid: an infinity) reads
  // as a table of cursors that describe nothing (bound 0, sum 0), so that the
  // callers may read an entry before they know whether the grid has a table;
  // an entry of a real table has bound > its position.
  const Entry* entries(std::uint64_t biased) const noexcept { return ready_entries_[biased]; }

  // The cursor at position k of the grid of a double whose bit pattern has
  // this biased exponent; bound 0 if that grid has no table.
  Cursor cursor(std::uint64_t biased, std::size_t k) const noexcept {
    const Entry& e = ready_entries_[biased][k];
    return Cursor{e.sum, static_cast<std::uint32_t>(e.bound)};
  }

  // Builds the table of the grid of a double >= 0 whose bit pattern has
  // this biased exponent ahead of its first run, if it has none and one can
  // be built without another giving way.
  void prepare(std::uint64_t biased) {
    if (biased < kBiasedLimit && ready_[biased] == nullptr && used_ < slot_limit_) {
      build(static_cast<unsigned>(biased == 0 ? 0 : biased - 1));
    }
  }

  // The top of the binade of a double >= 0 with this bit pattern, as a bit
  // pattern; for zero and subnormals it is one binade too low, which only
  // makes the callers' check stricter.
  static std::uint64_t binade_top(std::uint64_t bits) noexcept { return ((bits >> 52) + 1) << 52; }

  // acc followed by the additions of values[lo], ..., values[hi - 1], in
  // that order, each rounded as a floating-point addition would round it.
  // acc must be a double >= 0 (not -0). On entry `cursor` describes acc at
  // lo if its bound is not 0; on return it describes the result at hi, or
  // has bound 0.
  [[gnu::noinline]] double add_run(double acc, std::size_t lo, std::size_t hi, Cursor& cursor) {
    while (lo < hi) {
      const std::uint64_t bits = std::bit_cast<std::uint64_t>(acc);
      const std::uint64_t biased = bits >> 52;
      const Table* table = biased < kBiasedLimit ? ready_[biased] : nullptr;
      if (table == nullptr) {
        // Past the top binade (an infinity) there is no grid to sum on. A
        // table costs about count_ additions to build: runs are added one
        // by one until that much work has been spent on the grid.
        const std::size_t grid = biased == 0 ? 0 : biased - 1;
        if (biased >= kBiasedLimit || hi - lo <= kShortRun || plain_work_[grid] + (hi - lo) <= count_ / kBuildRatio) {
          if (biased < kBiasedLimit) plain_work_[grid] += hi - lo;
          for (; lo < hi; ++lo) acc += values_[lo];
          cursor.bound = 0;
          return acc;
        }
        table = build(static_cast<unsigned>(grid));
      }
      const Entry* sums = table->entries.data();
      if (cursor.bound == 0) cursor = Cursor{sums[lo].sum, static_cast<std::uint32_t>(sums[lo].bound)};
      // The fast part ends at the first stop in the run, if any.
      const std::size_t end = std::min<std::size_t>(hi, cursor.bound - 1);
      const std::uint64_t p_lo = cursor.sum;
      const std::uint64_t top = (std::max<std::uint64_t>(biased, 1) + 1) << 52;
      const std::uint64_t sum = sums[end].sum - p_lo;
      if (bits + sum < top) {
        acc = std::bit_cast<double>(bits + sum);
        lo = end;
        if (end < hi) {
          acc += values_[lo++];
          cursor.bound = 0;
        } else {
          cursor.sum = sums[end].sum;
        }
      } else {
        const std::size_t first = crossing(*table, lo, end, p_lo + (top - bits));
        acc = std::bit_cast<double>(bits + (sums[first - 1].sum - p_lo));
        acc += values_[first - 1];
        lo = first;
        cursor.bound = 0;
      }
    }
    return acc;
  }

 private:
  static constexpr std::size_t kBiasedLimit = 2047;  // infinities and NaN have no grid
  static constexpr std::size_t kGrids = kBiasedLimit - 1;
  static constexpr std::uint64_t kSaturated = std::uint64_t{1} << 53;
  // A segment is cut before its sum reaches this; any difference of two
  // sums of one segment stays exact, and a run over a cut leaves its binade.
  static constexpr std::uint64_t kSegmentLimit = std::uint64_t{1} << 63;
  static constexpr std::size_t kBuildRatio = 8;

  struct Table {
    std::vector<Entry> entries;
    std::vector<std::uint64_t> coarse;  // every kCoarse-th sum
  };
  static constexpr std::size_t kNear = 4;
  static constexpr std::size_t kCoarseShift = 6;
  static constexpr std::size_t kCoarse = std::size_t{1} << kCoarseShift;

  // The first k in (lo, end] with sums[k] >= target, sums being ascending
  // there and sums[end] >= target; values[k - 1] crosses the binade top.
  // An accumulator that has just left a low binade crosses the next one
  // soon, so the entries next to lo are tried first; otherwise the crossing
  // is located among every kCoarse-th sum, which stay in the nearest
  // caches, and then among kCoarse entries.
  static std::size_t crossing(const Table& table, std::size_t lo, std::size_t end, std::uint64_t target) {
    const Entry* sums = table.entries.data();
    const std::size_t near = std::min(end, lo + kNear);
    for (std::size_t k = lo + 1; k <= near; ++k) {
      if (sums[k].sum >= target) return k;
    }
    std::size_t first = near + 1;
    std::size_t last = end;
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
      // sums[c_last * kCoarse] might be the first at or above target, unless
      // c_last is the last candidate and it is not.
      const std::size_t at = c_last << kCoarseShift;
      if (sums[at].sum >= target) {
        last = at;
        if (at >= kCoarse && at - kCoarse + 1 > first) first = at - kCoarse + 1;
      } else {
        first = at + 1;
      }
    }
    while (first < last) {
      const std::size_t mid = first + (last - first) / 2;
      if (sums[mid].sum >= target) {
        last = mid;
      } else {
        first = mid + 1;
      }
    }
    return first;
  }


  [[gnu::noinline]] const Table* build(unsigned grid) {
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
      unpublish(slot_grids_[victim]);
      slot_grids_[victim] = grid;
      table = &slots_[victim];
    }
    table->entries.resize(count_ + 1);
    Entry* entries = table->entries.data();

    // y / u = y * 2^(1074 - grid), as one or two exact multiplications.
    const int shift = 1074 - static_cast<int>(grid);
    const double scale_high = std::ldexp(1.0, std::min(shift, 1023));
    const double scale_low = std::ldexp(1.0, shift - std::min(shift, 1023));
    const std::uint64_t no_stop = count_ + 1;

    // Forward: the segment sums, stops marked by bound = their position + 1.
    std::uint64_t segment = 0;
    for (std::size_t k = 0; k < count_; ++k) {
      entries[k] = Entry{segment, no_stop};
      const double q = (values_[k] * scale_high) * scale_low;
      std::uint64_t r = kSaturated;
      if (q < 0x1p53) {
        // Round to nearest by the magic constant; only ties are in doubt,
        // and they are stops whichever way they round.
        const double whole = q < 0x1p52 ? (q + 0x1p52) - 0x1p52 : q;
        if (std::fabs(q - whole) == 0.5) {
          entries[k].bound = k + 1;
          segment = 0;
          continue;
        }
        r = static_cast<std::uint64_t>(whole);
      }
      if (segment + r >= kSegmentLimit) {
        entries[k].bound = k + 1;
        segment = 0;
        continue;
      }
      segment += r;
    }
    entries[count_] = Entry{segment, no_stop};
    // Backward: every position learns the first stop at or after it.
    std::uint64_t bound = no_stop;
    for (std::size_t k = count_; k-- > 0;) {
      if (entries[k].bound != no_stop) bound = entries[k].bound;
      entries[k].bound = bound;
    }
    table->coarse.resize((count_ >> kCoarseShift) + 1);
    for (std::size_t c = 0; c < table->coarse.size(); ++c) table->coarse[c] = entries[c << kCoarseShift].sum;
    publish(grid, table);
    return table;
  }

  // Grid 0 serves the biased exponents 0 and 1, grid g > 0 the exponent g + 1.
  void publish(unsigned grid, const Table* table) {
    ready_[grid + 1] = table;
    ready_entries_[grid + 1] = table->entries.data();
    if (grid == 0) {
      ready_[0] = table;
      ready_entries_[0] = table->entries.data();
    }
  }

  void unpublish(unsigned grid) {
    ready_[grid + 1] = nullptr;
    ready_entries_[grid + 1] = none_.data();
    if (grid == 0) {
      ready_[0] = nullptr;
      ready_entries_[0] = none_.data();
    }
  }

  const double* values_ = nullptr;
  std::size_t count_ = 0;
  std::array<const Table*, kBiasedLimit + 1> ready_{};  // by biased exponent
  std::array<const Entry*, kBiasedLimit + 1> ready_entries_{};  // their entries, or none_
  std::vector<Entry> none_;  // the entries of every grid without a table
  std::array<std::size_t, kGrids> plain_work_{};        // by grid
  std::vector<Table> slots_;
  std::size_t slot_limit_ = 0;
  std::vector<unsigned> slot_grids_;
  std::size_t used_ = 0;  // slots holding a table of the current values
  std::size_t next_victim_ = 0;
};

}  // namespace lhg
