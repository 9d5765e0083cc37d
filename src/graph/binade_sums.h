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
// round-half-even look at acc) and the result stays below the top of the
// binade. A run of such additions is therefore an integer sum: with
// r_k = round(y_k / u) and T the prefix sums of r over all values, the run
// over lo..hi-1 gives acc + (T[hi] - T[lo]) * u, computed on the integers of
// the bit pattern (the bit pattern of acc is (g << 52) + A up to the
// subnormal case, so adding to A adds to the bit pattern).
//
// A table holds T for one grid, one 64-bit word per position, and needs no
// other field: every value that a run cannot simply sum is given the weight
// 2^52, at least the room any accumulator has left in its binade. The room
// is always taken to the top of the accumulator's binade, (biased + 1) << 52
// as a bit pattern, so it is at most 2^52 on every grid: from 1 up to 2^52
// for the subnormals and zero (whose "binade" ends at the smallest normal,
// although their grid, grid 0, goes on through biased exponent 1), and
// likewise for the topmost binade, whose top is the pattern of infinity. A
// sum that reaches the room is always taken by the search below, so an
// accumulator moves from the subnormals to biased exponent 1, and from the
// topmost binade to infinity, only by a true addition. A halfway value
// and a value whose r alone reaches 2^52 are such values. So a run whose sum
// stays below the room contains none of them and stays in its binade; any
// other run contains the element at which the sum first reaches the room,
// and that element, found by a search over the table, is taken by a true
// floating-point addition, after which acc may be on another grid and the
// run goes on with that grid's table.
//
// y / u is exact in binary floating point (u is a power of two) except where
// it underflows, and then it is below 2^-1022: it rounds to 0 and is no tie,
// as the true quotient would. Where it overflows it is far above 2^52.
//
// Accumulators carry a cursor: the word T[p] of their grid's table at their
// position p. A run to r then costs one read, T[r] - cursor. Positions with
// equal words are interchangeable (the values between them have weight 0 and
// leave acc as it is), so a cursor needs no position. Three kinds of word
// share that one subtraction, and every mix of them but the one a run may
// simply add comes out far above any room:
//   - a sum, at most kLimit (2^62);
//   - past the limit, kPast - k: the prefix sums exceed 2^62 from there on,
//     and runs from there are added one at a time (at that size every
//     accumulator of the grid leaves its binade within a few values);
//   - no table for the grid, kNone - k.
// The last two carry their position k, and two of them of the same kind
// differ by the run's length, so that a run of length 0 costs nothing and
// any longer one is taken by `advance`.
#pragma once

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace lhg {

class BinadeSums {
 public:
  // The words of one grid, and every kCoarse-th, every kSparse-th and
  // every (kSparse * kTopStep)-th of them for the search.
  struct Table {
    std::vector<std::uint64_t> entries;
    std::vector<std::uint64_t> coarse;
    std::vector<std::uint64_t> sparse;
    std::vector<std::uint64_t> top;
  };

  BinadeSums() = default;

  // At most `tables` tables at once (0: sized by the value count), and, if
  // `at_once`, a grid's table built on its first run rather than after the
  // runs it would pay for. Only tests shrink these, to reach the turnover of
  // tables and the runs of grids without one; call before the first restart.
  void set_budget(std::size_t tables, bool at_once) noexcept {
    requested_slots_ = std::min(tables, kGrids);  // no more tables than grids
    at_once_ = at_once;
  }

  // New values, all finite and >= 0 (or -0), indexed 0..count-1 (count below
  // 2^32 - 1); the object reads them until the next `restart`. Every table
  // built so far is stale.
  void restart(const double* values, std::size_t count) {
    values_ = values;
    count_ = count;
    if (none_.size() != count + 1) {
      none_.resize(count + 1);
      for (std::size_t k = 0; k <= count; ++k) none_[k] = kNone - k;
    }
    table_.fill(nullptr);
    entries_.fill(none_.data());
    plain_work_.fill(0);
    built_.clear();
    used_ = 0;
    next_victim_ = 0;
    if (slots_.empty()) {
      // Tables are built on demand, for the grids that the accumulators
      // actually pass through; their memory is bounded, the oldest table
      // giving way once the bound is reached. A cursor may outlive its
      // table: the table built again for its grid is the same table.
      slot_limit_ = requested_slots_ != 0 ? requested_slots_ : default_tables(count);
      // Tables are referred to by address: the slots never move, even
      // when more are kept (see build).
      slots_.reserve(requested_slots_ != 0 ? slot_limit_ : most_tables(count));
    }
  }

  // The words of the grid of a double >= 0 whose bit pattern has this
  // biased exponent (up to 2047: infinities have no table).
  const std::uint64_t* entries(std::uint64_t biased) const noexcept { return entries_[biased]; }

  // The top of the binade of a double >= 0 with this bit pattern, as a bit
  // pattern: for zero and the subnormals, the smallest normal. The room
  // top - bits is then at most 2^52, the heavy weight, on every grid.
  static std::uint64_t binade_top(std::uint64_t bits) noexcept { return ((bits >> 52) + 1) << 52; }

  // The cursor of an accumulator with bit pattern `bits` at position p.
  std::uint64_t cursor(std::uint64_t bits, std::size_t p) const noexcept { return entries(bits >> 52)[p]; }

  // Asks for the word that a run of an accumulator with bit pattern `bits`
  // to position p will read, ahead of the run. Only a hint: the accumulator
  // may be on another grid by then, and any pattern is accepted.
  void prefetch(std::uint64_t bits, std::size_t p) const noexcept {
    __builtin_prefetch(entries_[(bits >> 52) & 0x7FF] + p);
  }

  // The accumulator with bit pattern `bits` and cursor `cursor` at position
  // p <= r brought to position r: values[p], ..., values[r - 1] added in
  // that order. The common case is one table read, a run that holds nothing
  // to round by hand and stays in its binade.
  std::uint64_t run(std::uint64_t bits, std::uint64_t cursor, std::size_t r) {
    const std::uint64_t sum = entries(bits >> 52)[r] - cursor;
    if (sum < binade_top(bits) - bits) [[likely]] return bits + sum;
    return advance(bits, cursor, r);
  }

  // Builds the table of the grid of a double >= 0 whose bit pattern has
  // this biased exponent ahead of its first run, if it has none and one can
  // be built without another giving way.
  void prepare(std::uint64_t biased) {
    if (biased < kBiasedLimit && table_[biased] == nullptr && used_ < slot_limit_) build(grid_of(biased));
  }

  // How many tables at once an object restarted on `count` values keeps by
  // default: about 128 MiB of them, from 4 to 64.
  static std::size_t default_tables(std::size_t count) noexcept {
    return std::clamp<std::size_t>((std::size_t{1} << 24) / (count + 1), 4, 64);
  }
  // How many it may come to keep when the accumulators pass through more
  // grids than that: about 1 GiB of them. On a graph of millions of dangling
  // nodes, four tables of them are a few of the grids that every block's
  // sums pass through, and a table given way is built again block after
  // block: each build costs a pass over every value, and a sweep whose
  // blocks each rebuild their tables costs the blocks times the values.
  static std::size_t most_tables(std::size_t count) noexcept {
    return std::clamp<std::size_t>((std::size_t{1} << 27) / (count + 1), default_tables(count), kGrids);
  }

  // The grid of a double >= 0 whose bit pattern has this biased exponent
  // (below 2047).
  static unsigned grid_of(std::uint64_t biased) noexcept { return static_cast<unsigned>(biased == 0 ? 0 : biased - 1); }

  // Fills `table` with the words of `grid` for values[0], ...,
  // values[count - 1] (all finite and >= 0, or -0): the table that an object
  // restarted on those values would build for the grid itself.
  static void fill(Table& table, unsigned grid, const double* values, std::size_t count) {
    table.entries.resize(count + 1);
    std::uint64_t* sums = table.entries.data();
    // y / u = y * 2^(1074 - grid), as one or two exact multiplications.
    const int shift = 1074 - static_cast<int>(grid);
    const Scale scale{std::ldexp(1.0, std::min(shift, 1023)), std::ldexp(1.0, shift - std::min(shift, 1023))};
    // The weights of a block at a time, then their sums. The sum passes the
    // limit at most once, and only after a thousand heavy values: a block
    // that takes it past is summed again to find the value that did.
    std::uint64_t total = 0;
    std::size_t k = 0;
    while (k < count) {
      std::uint64_t r[kFillBlock];
      const std::size_t length = std::min(kFillBlock, count - k);
      if (length == kFillBlock) {
        block_weights(values + k, r, scale);
      } else {
        for (std::size_t i = 0; i < length; ++i) r[i] = weight(values[k + i], scale);
      }
      const std::uint64_t start = total;
      for (std::size_t i = 0; i < length; ++i) {
        sums[k + i] = total;
        total += r[i];
      }
      if (total > kLimit) {
        total = start;
        std::size_t i = 0;
        while ((total += r[i]) <= kLimit) ++i;
        k += i;  // the value whose weight took the sum past the limit, below count
        break;
      }
      k += length;
    }
    if (k == count) {
      sums[count] = total;
    } else {
      for (++k; k <= count; ++k) sums[k] = kPast - k;
    }
    table.coarse.resize((count >> kCoarseShift) + 1);
    for (std::size_t c = 0; c < table.coarse.size(); ++c) table.coarse[c] = sums[c << kCoarseShift];
    table.sparse.resize((count >> kSparseShift) + 1);
    for (std::size_t c = 0; c < table.sparse.size(); ++c) table.sparse[c] = sums[c << kSparseShift];
    table.top.resize(((table.sparse.size() - 1) >> kTopShift) + 1);
    for (std::size_t c = 0; c < table.top.size(); ++c) table.top[c] = table.sparse[c << kTopShift];
  }

  // Reads the grid's words from `table` until the next restart: a table
  // that `fill` built for the values of the last restart, shared with other
  // objects and read only. Call before any run; it takes no slot and never
  // gives way.
  void adopt(unsigned grid, const Table* table) { publish(grid, table); }

  // The grids whose tables this object has built itself since the last
  // restart, in the order it built them.
  const std::vector<unsigned>& built() const noexcept { return built_; }

  // The accumulator with bit pattern `bits` (a double >= 0, not -0) and the
  // cursor `cursor` at position p <= r, followed by the additions of
  // values[p], ..., values[r - 1] in that order, each rounded as a
  // floating-point addition would round it; returns the result's bit
  // pattern. The caller has tried the run as one read and found that it
  // cannot simply be added.
  [[gnu::noinline]] std::uint64_t advance(std::uint64_t bits, std::uint64_t cursor, std::size_t r) {
    // p is known when the cursor carries it; a sum leaves it unknown, and
    // then the search below starts at 0 (no earlier position has a sum above
    // the cursor's, so the search cannot stop before p).
    std::size_t p = kUnknown;
    if (cursor > kLimit) {
      p = static_cast<std::size_t>(cursor > kNone ? kPast - cursor : kNone - cursor);
    }
    for (;;) {
      if (p == r) return bits;
      const std::uint64_t biased = bits >> 52;
      if (biased >= kBiasedLimit) return bits;  // an infinity stays one
      const unsigned grid = grid_of(biased);
      const Table* table = table_[biased];
      if (table == nullptr) {
        // A table costs about count_ additions to build, but a grid that one
        // accumulator reaches is mostly reached by many: runs are added one
        // by one only until a small share of that work has been spent on
        // the grid. A sum cursor belongs to a table given way to, built
        // again here.
        if (p != kUnknown && !at_once_ &&
            (r - p <= kShortRun || plain_work_[grid] + (r - p) <= count_ / kBuildRatio)) {
          plain_work_[grid] += r - p;
          p = add_in_binade(bits, p, r);
          continue;
        }
        table = build(grid);
      }
      const std::uint64_t* sums = table->entries.data();
      if (p != kUnknown) {
        cursor = sums[p];
        if (cursor > kLimit) {
          p = add_in_binade(bits, p, r);
          continue;
        }
      }
      // The room is measured to the top of the accumulator's binade, never
      // of its grid: grid 0 spans two binades, and a subnormal accumulator
      // would have up to 2^53 of room there, more than a heavy weight.
      const std::uint64_t target = cursor + (binade_top(bits) - bits);
      if (sums[r] < target) return bits + (sums[r] - cursor);
      // The element before the first word at or above target either leaves
      // the binade or must be rounded by a true addition.
      // The accumulator usually goes on in the next binade: the next round
      // reads that binade's words at k and at r.
      const std::uint64_t* next = entries_[std::min<std::size_t>(biased + 1, kBiasedLimit)];
      const std::size_t k = first_at_least(*table, p == kUnknown ? 0 : p + 1, r, target, values_, next);
      bits += sums[k - 1] - cursor;
      bits = std::bit_cast<std::uint64_t>(std::bit_cast<double>(bits) + values_[k - 1]);
      p = k;
    }
  }

 private:
  static constexpr std::size_t kBiasedLimit = 2047;  // infinities and NaN have no grid
  static constexpr std::size_t kGrids = kBiasedLimit - 1;
  static constexpr std::uint64_t kLimit = std::uint64_t{1} << 62;
  static constexpr std::uint64_t kPast = (std::uint64_t{1} << 63) + (std::uint64_t{1} << 62);
  static constexpr std::uint64_t kNone = std::uint64_t{1} << 63;
  static constexpr std::uint64_t kHeavy = std::uint64_t{1} << 52;
  static constexpr std::size_t kUnknown = ~std::size_t{0};
  // Runs this short are simply added when their grid has no table yet.
  static constexpr std::size_t kShortRun = 6;
  // The share of a table's cost spent on runs added one by one before it is
  // built: with an eighth, PageRank's iterations took about 2 % longer.
  static constexpr std::size_t kBuildRatio = 32;
  // Every kCoarse-th and every kSparse-th word, for the search: the sparse
  // words narrow a search to kSparse words, whose coarse words lie
  // together. The sparse words of a table of a few hundred thousand values
  // stay in the nearest cache; past that, every kTopStep-th of them does.
  static constexpr std::size_t kCoarseShift = 4;
  static constexpr std::size_t kCoarse = std::size_t{1} << kCoarseShift;
  static constexpr std::size_t kSparseShift = 8;
  static constexpr std::size_t kSparse = std::size_t{1} << kSparseShift;
  // Every kTopStep-th sparse word, for the searches of large tables.
  static constexpr std::size_t kTopShift = 4;
  static constexpr std::size_t kTopStep = std::size_t{1} << kTopShift;

  // 1 / u for a grid, as two factors: y * high * low is y / u, exactly
  // unless it underflows (see above).
  struct Scale {
    double high;
    double low;
  };

  // The weight of a value on the grid: round(y / u), or kHeavy for a value
  // that a run cannot simply sum (y / u halfway between two integers, or at
  // least 2^52). Only ties are in doubt when rounding by the magic constant,
  // and they are heavy whichever way they round.
  static std::uint64_t weight(double y, Scale scale) noexcept {
    const double q = (y * scale.high) * scale.low;
    if (!(q < 0x1p52)) return kHeavy;
    const double whole = (q + 0x1p52) - 0x1p52;
    return std::fabs(q - whole) != 0.5 ? static_cast<std::uint64_t>(whole) : kHeavy;
  }

  // The weights of kFillBlock values. With SSE2, two at a time and without
  // a branch: q + 2^52 holds round(q) in its low bits for 0 <= q < 2^52
  // (round(q) = 2^52 carries into the exponent, which is the same integer),
  // and -0 gives 0 as it does above.
  static constexpr std::size_t kFillBlock = 16;
  static void block_weights(const double* y, std::uint64_t* r, Scale scale) noexcept {
#if defined(__SSE2__)
    const __m128d high = _mm_set1_pd(scale.high);
    const __m128d low = _mm_set1_pd(scale.low);
    const __m128d magic = _mm_set1_pd(0x1p52);
    const __m128d half = _mm_set1_pd(0.5);
    const __m128d magnitude = _mm_castsi128_pd(_mm_set1_epi64x(0x7FFFFFFFFFFFFFFF));
    const __m128i heavy = _mm_set1_epi64x(static_cast<long long>(kHeavy));
    for (std::size_t i = 0; i < kFillBlock; i += 2) {
      const __m128d q = _mm_mul_pd(_mm_mul_pd(_mm_loadu_pd(y + i), high), low);
      const __m128d small = _mm_cmplt_pd(q, magic);  // false for an infinity
      const __m128d kept = _mm_and_pd(q, small);
      const __m128d shifted = _mm_add_pd(kept, magic);
      const __m128d off = _mm_and_pd(_mm_sub_pd(kept, _mm_sub_pd(shifted, magic)), magnitude);
      const __m128i plain = _mm_castpd_si128(_mm_and_pd(small, _mm_cmpneq_pd(off, half)));
      const __m128i whole = _mm_sub_epi64(_mm_castpd_si128(shifted), _mm_castpd_si128(magic));
      _mm_storeu_si128(reinterpret_cast<__m128i*>(r + i),
                       _mm_or_si128(_mm_and_si128(plain, whole), _mm_andnot_si128(plain, heavy)));
    }
#else
    for (std::size_t i = 0; i < kFillBlock; ++i) r[i] = weight(y[i], scale);
#endif
  }

  // Grid 0 serves the biased exponents 0 and 1, grid g > 0 the exponent g + 1
  // (grid_of, above).

  // Adds values[p], values[p + 1], ... one at a time while the sum stays in
  // its binade, up to r; returns the position reached.
  std::size_t add_in_binade(std::uint64_t& bits, std::size_t p, std::size_t r) const {
    const std::uint64_t biased = bits >> 52;
    while (p < r) {
      bits = std::bit_cast<std::uint64_t>(std::bit_cast<double>(bits) + values_[p++]);
      if ((bits >> 52) != biased) break;
    }
    return p;
  }

  // The first i in [lo, hi) with words[i] >= target, or hi: a binary search
  // without a branch on the words (the predicate is monotone, see below).
  static std::size_t first_in(const std::uint64_t* words, std::size_t lo, std::size_t hi,
                              std::uint64_t target) noexcept {
    if (lo >= hi) return hi;
    std::size_t first = lo;
    std::size_t len = hi - lo;
    while (len > 1) {
      const std::size_t half = len / 2;
      first = words[first + half - 1] < target ? first + half : first;
      len -= half;
    }
    return words[first] < target ? first + 1 : first;
  }

  // How many of words[lo], ..., words[hi - 1] lie below the target, without
  // a branch per word: over a range where the predicate is monotone, the
  // offset of the first at or above it.
  static std::size_t count_below(const std::uint64_t* words, std::size_t lo, std::size_t hi,
                                 std::uint64_t target) noexcept {
    std::size_t below = 0;
    for (std::size_t k = lo; k < hi; ++k) below += words[k] < target;
    return below;
  }

  // The first k in [lo, hi] with sums[k] >= target, given sums[hi] >= target.
  // Words are not ascending (positions past the limit count down), but all
  // of those lie above any target, so the predicate is. An accumulator that
  // has just left a low binade leaves the next one soon, so when its
  // position is known (lo > 0) the words next to it are tried first. Then a
  // binary search among the sparse words (over a long range, among the top
  // words, then a count among the sparse) narrows the range to kSparse
  // words, and counting among its coarse words to kCoarse: each count is the
  // number of words below the target, without a branch per word.
  static std::size_t first_at_least(const Table& table, std::size_t lo, std::size_t hi, std::uint64_t target,
                                    const double* values, const std::uint64_t* next) {
    const std::size_t end = hi;
    const std::uint64_t* sums = table.entries.data();
    if (lo > 0) {
      const std::size_t near = std::min(hi, lo + 3);
      for (std::size_t k = lo; k < near; ++k) {
        if (sums[k] >= target) return k;
      }
      lo = near;
    }
    // The sparse words at s * kSparse in [lo, hi]: s in [s_lo, s_hi).
    const std::size_t s_lo = (lo + kSparse - 1) >> kSparseShift;
    const std::size_t s_hi = (hi >> kSparseShift) + 1;
    if (s_lo < s_hi) {
      const std::uint64_t* sparse = table.sparse.data();
      // The first s in [s_lo, s_hi) with sparse[s] >= target, or s_hi. A
      // long range is first narrowed among the top words, every kTopStep-th
      // sparse word, which lie in the nearest cache even where the sparse
      // words of a large table do not, to the kTopStep sparse words after
      // the last top word below the target; those are counted.
      std::size_t a = s_lo;
      std::size_t b = s_hi;
      if (b - a > 2 * kTopStep) {
        const std::size_t t_lo = (a + kTopStep - 1) >> kTopShift;
        const std::size_t t_hi = ((b - 1) >> kTopShift) + 1;
        const std::size_t t = first_in(table.top.data(), t_lo, t_hi, target);
        if (t > t_lo) a = std::max(a, ((t - 1) << kTopShift) + 1);
        if (t < t_hi) b = std::min(b, t << kTopShift);
        a += count_below(sparse, a, b, target);
      } else {
        a = first_in(sparse, a, b, target);
      }
      const std::size_t first = a;
      if (first < s_hi) {
        // The answer is at first * kSparse or among the words just before.
        if (first > s_lo) lo = (first << kSparseShift) - kSparse + 1;
        hi = first << kSparseShift;
      } else {
        lo = ((s_hi - 1) << kSparseShift) + 1;
      }
    }
    // At most kSparse words: the coarse words at c * kCoarse in [lo, hi],
    // c in [c_lo, c_hi), at most kSparse / kCoarse + 1 of them.
    const std::size_t c_lo = (lo + kCoarse - 1) >> kCoarseShift;
    const std::size_t c_hi = (hi >> kCoarseShift) + 1;
    if (c_lo < c_hi) {
      const std::size_t first = c_lo + count_below(table.coarse.data(), c_lo, c_hi, target);
      if (first < c_hi) {
        if (first > c_lo) lo = (first << kCoarseShift) - kCoarse + 1;
        hi = first << kCoarseShift;
      } else {
        lo = ((c_hi - 1) << kCoarseShift) + 1;
      }
    }
    // At most kCoarse words. While they are counted, what the caller reads
    // next is asked for: the value before the answer, which it adds (among
    // values[lo - 1 .. hi - 1]), and the words of `next`, the binade above,
    // at the answer and at the end of the search, where it goes on from.
    if (hi > 0) {
      const std::size_t first = lo > 0 ? lo - 1 : 0;
      __builtin_prefetch(values + first);
      __builtin_prefetch(values + std::min(first + 8, hi - 1));
      __builtin_prefetch(values + hi - 1);
    }
    __builtin_prefetch(next + lo);
    __builtin_prefetch(next + std::min(lo + 8, hi));
    __builtin_prefetch(next + hi);
    __builtin_prefetch(next + end);
    return lo + count_below(sums, lo, hi, target);
  }

  [[gnu::noinline]] const Table* build(unsigned grid) {
    Table* table;
    // Every table is in use: rather than one give way, keep one more, while
    // the memory allows (never where a test set the budget).
    if (used_ == slot_limit_ && requested_slots_ == 0 && slot_limit_ < slots_.capacity()) ++slot_limit_;
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
    fill(*table, grid, values_, count_);
    built_.push_back(grid);
    publish(grid, table);
    return table;
  }

  void publish(unsigned grid, const Table* table) {
    table_[grid + 1] = table;
    entries_[grid + 1] = table->entries.data();
    if (grid == 0) {
      table_[0] = table;
      entries_[0] = table->entries.data();
    }
  }

  void unpublish(unsigned grid) {
    table_[grid + 1] = nullptr;
    entries_[grid + 1] = none_.data();
    if (grid == 0) {
      table_[0] = nullptr;
      entries_[0] = none_.data();
    }
  }

  const double* values_ = nullptr;
  std::size_t count_ = 0;
  std::array<const Table*, kBiasedLimit + 1> table_{};            // by biased exponent
  std::array<const std::uint64_t*, kBiasedLimit + 1> entries_{};  // their words, or none_
  std::vector<std::uint64_t> none_;  // the words of every grid without a table
  std::array<std::size_t, kGrids> plain_work_{};  // by grid
  std::vector<Table> slots_;
  std::size_t slot_limit_ = 0;
  std::vector<unsigned> slot_grids_;
  std::vector<unsigned> built_;
  std::size_t used_ = 0;  // slots holding a table of the current values
  std::size_t next_victim_ = 0;
  std::size_t requested_slots_ = 0;
  bool at_once_ = false;
};

}  // namespace lhg
