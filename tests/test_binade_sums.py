"""The run sums under PageRank, taken on their own: one accumulator brought
through a sequence of values a run at a time, with true additions between
runs, against the same additions made one by one. The values are drawn from
the ends of the double range, where the premises of the integer grid are
tightest: zero and negative zero, subnormals and the smallest normals (grid
0 spans both), halfway cases, and values next to the largest double, where a
sum overflows to infinity."""

import itertools
import math
import random
import struct

import pytest
from hypothesis import given, settings
from hypothesis import strategies as st

testing = pytest.importorskip("_lanternhollow_graph_testing")

MAX = 1.7976931348623157e308
TINY = 5e-324
MIN_NORMAL = 2.2250738585072014e-308


def bits_to_float(b):
    return struct.unpack("<d", struct.pack("<Q", b))[0]


def one_by_one(values, start, events):
    acc = start
    p = 0
    for r, y in events:
        for k in range(p, r):
            acc += values[k]
        acc += y
        p = r
    for k in range(p, len(values)):
        acc += values[k]
    return acc


def same_bits(a, b):
    return struct.pack("<d", a) == struct.pack("<d", b)


def check(values, start, events, tables, at_once):
    got = testing.binade_runs(values, start, events, tables, at_once)
    expected = one_by_one(values, start, events)
    assert same_bits(got, expected), (got.hex(), expected.hex() if math.isfinite(expected) else expected)


def near(x, spread):
    """Doubles within `spread` steps of x (>= 0)."""
    b = struct.unpack("<Q", struct.pack("<d", x))[0]
    return st.integers(max(0, b - spread), min(0x7FEFFFFFFFFFFFFF, b + spread)).map(bits_to_float)


def ladder(base):
    """base times small dyadic and odd factors: long runs of ties and of
    values just above and below the spacing of a grid."""
    return st.builds(lambda k, e: k * base * 2.0**e, st.integers(0, 9), st.integers(-3, 3)).filter(math.isfinite)


LOW = st.one_of(
    st.sampled_from([0.0, -0.0, TINY, 2 * TINY, MIN_NORMAL, MIN_NORMAL / 2, 2 * MIN_NORMAL, 4 * MIN_NORMAL]),
    near(MIN_NORMAL, 1 << 20),
    near(0.0, 1 << 10),
    st.integers(0, (1 << 53) - 1).map(lambda m: m * TINY),
    ladder(MIN_NORMAL),
    ladder(TINY),
)
HIGH = st.one_of(
    st.sampled_from([0.0, -0.0, MAX, MAX / 2, 2.0**1023, 2.0**1022, 2.0**970, 2.0**969, 3 * 2.0**969]),
    near(MAX, 1 << 12),
    near(2.0**1023, 1 << 12),
    near(2.0**970, 8),
    ladder(2.0**969),
)
ORDINARY = st.one_of(st.floats(0.0, 4.0), ladder(2.0**-60), near(1.0, 64), st.just(0.0), st.just(-0.0))


def scenario(values_st, start_st):
    @st.composite
    def build(draw):
        values = draw(st.lists(values_st, min_size=0, max_size=60))
        start = abs(draw(start_st))
        n_events = draw(st.integers(0, 6))
        positions = sorted(draw(st.lists(st.integers(0, len(values)), min_size=n_events, max_size=n_events)))
        events = [(r, abs(draw(values_st))) for r in positions]
        return values, start, events

    return build()


budgets = st.sampled_from([(1, True), (2, True), (3, True), (0, True), (0, False), (1, False)])


@given(case=scenario(LOW, LOW), budget=budgets)
def test_subnormals_and_smallest_normals(case, budget):
    check(*case, *budget)


@given(case=scenario(HIGH, HIGH), budget=budgets)
def test_next_to_the_largest_double(case, budget):
    check(*case, *budget)


@settings(max_examples=150)
@given(case=scenario(st.one_of(LOW, HIGH, ORDINARY), st.one_of(LOW, HIGH, ORDINARY)), budget=budgets)
def test_values_from_every_range(case, budget):
    check(*case, *budget)


@pytest.mark.parametrize("tables,at_once", [(1, True), (0, True), (0, False)])
def test_a_normal_value_inside_a_subnormal_run(tables, at_once):
    # A subnormal accumulator has more room left in its grid than a heavy
    # value's weight; the value must still be added as itself.
    for start in [0.0, TINY, MIN_NORMAL / 3]:
        for heavy in [MIN_NORMAL, MIN_NORMAL * 1.5, 1e-300, 1.0]:
            values = [TINY] * 5 + [heavy] + [TINY] * 5
            check(values, start, [], tables, at_once)
            check(values, start, [(2, TINY)], tables, at_once)


@pytest.mark.parametrize("tables,at_once", [(1, True), (0, True)])
def test_overflow_to_infinity(tables, at_once):
    top_step = 2.0**970  # half the spacing below 2**1024: a tie at the top
    for values in ([MAX / 4] * 6, [top_step] * 4, [top_step / 2] * 9, [MAX, MAX]):
        for start in [MAX, MAX - 2.0**971, 2.0**1023, 0.0]:
            check(values, start, [], tables, at_once)
            check(values, start, [(1, top_step)], tables, at_once)


@pytest.mark.parametrize("tables,at_once", [(1, True), (0, True), (0, False)])
@pytest.mark.parametrize("length", [255, 256, 257, 4097, 30_000])
def test_long_runs_cross_binades_anywhere(length, tables, at_once):
    # A run that crosses binades is searched for the value where its sum
    # reaches the top of the accumulator's binade, through every level of
    # the table's samples: long runs, crossings at any position (near the
    # ends and next to the sampled words too), ties and heavy values among
    # them, an accumulator that starts anywhere from zero to far above them.
    rng = random.Random(length)
    for _ in range(4):
        scale = 2.0 ** rng.randint(-40, 0)
        values = []
        for _ in range(length):
            kind = rng.random()
            if kind < 0.05:
                values.append(scale * rng.randint(1, 1 << 10))  # heavy: crosses on its own
            elif kind < 0.2:
                values.append(scale * 2.0 ** -rng.randint(20, 60))  # ties on coarse grids
            else:
                values.append(scale * rng.random() / length)
        for start in [0.0, scale / length, scale, scale * length, scale * 2.0**60]:
            check(values, start, [], tables, at_once)
            events = sorted((rng.randint(0, length), scale * rng.random()) for _ in range(3))
            check(values, start, events, tables, at_once)


@pytest.mark.parametrize("tables,at_once", [(1, True), (0, False)])
def test_crossings_on_every_side_of_the_searched_words(tables, at_once):
    # A long run is searched among ever finer samples of its table's words;
    # a crossing just before, at and just after a sampled word tests each
    # narrowing's ends. Values of 2^-22 add 2^30 units each to a sum in
    # [1, 2), which starts half a value short of reaching 2 after k values:
    # the value at position k takes it out of its binade. With an event at
    # position 1, the run after it starts from a cursor with no position.
    length = 40_000
    values = [2.0**-22] * length
    sampled = [256, 4096, 2 * 4096, 5 * 4096, 37 * 256, 9 * 4096 + 256]
    for k in sorted({s + d for s in sampled for d in (-2, -1, 0, 1)}):
        start = 2.0 - (k + 0.5) * 2.0**-22
        check(values, start, [], tables, at_once)
        check(values, start, [(1, 0.0)], tables, at_once)
        check(values, start - 2.0**-22, [(1, 2.0**-22)], tables, at_once)


@pytest.mark.parametrize("tables,at_once", [(1, True), (0, True), (0, False)])
def test_a_thousand_ties_take_a_table_past_its_limit(tables, at_once):
    # Every tie weighs as much as a grid's whole room, so from the 1,025th
    # on the table's prefix sums pass their limit and its words count
    # positions instead. Zeros in front move that tie through every place
    # in the table's blocks; runs end on each word around it.
    rng = random.Random(1024)
    u = 2.0**-52  # the spacing of the binade of 1.0
    for offset in range(18):
        values = [0.0] * offset + [rng.choice([u / 2, u / 2, u, 0.0]) for _ in range(2400)]
        weights = itertools.accumulate({u / 2: 1 << 52, u: 1, 0.0: 0}[y] for y in values)
        passing = next(k for k, total in enumerate(weights) if total > 1 << 62)
        check(values, 1.0, [], tables, at_once)
        check(values, 1.0, [(r, 0.0) for r in range(passing - 3, passing + 4)], tables, at_once)
        check(values, 1.0, [(passing + 1, u / 2), (passing + 2, u)], tables, at_once)
