"""The public PageRank sums runs of dangling shares a binade at a time; the
literal core in the testing module adds them one by one. Every score must
agree to the last bit, on random graphs and on graphs built to hit the
delicate cases of the run sums: halfway ties, binade crossings, zero and
subnormal accumulators, shares larger than the accumulator."""

import contextlib
import math
import os
import random

import pytest
from hypothesis import given, settings
from hypothesis import strategies as st

import lanternhollow_graph as lg

testing = pytest.importorskip("_lanternhollow_graph_testing")

DEBIAN_DATA = os.path.join(os.path.dirname(os.path.dirname(os.path.abspath(__file__))), "..", "shared", "data")


@contextlib.contextmanager
def sources_in_order():
    """The testing module's PageRank sweeps every edge source after source,
    as it does on one thread from a million and a half nodes on, rather than
    by blocks of receiving nodes."""
    before = testing.set_parallel_tuning(1 << 17, 13, 0, 0, 0, 0, 1)
    try:
        yield
    finally:
        testing.set_parallel_tuning(*before)


def assert_matches_literal(edges, alpha, max_iter, tables=None):
    """pagerank against the literal order, swept by blocks and swept in
    order; with `tables`, the run sums limited to that many tables at once,
    each built on its grid's first run (0: the usual number), so that small
    graphs reach what only large ones reach otherwise: every run through a
    table, tables given way to and built again within an iteration."""
    if tables is None:
        got = lg.pagerank(edges, alpha, max_iter)
        with sources_in_order():
            in_order = testing.pagerank(edges, alpha, max_iter)
    else:
        got = testing.pagerank_with_tables(edges, alpha, max_iter, tables)
        with sources_in_order():
            in_order = testing.pagerank_with_tables(edges, alpha, max_iter, tables)
    expected = testing.pagerank_literal(edges, alpha, max_iter)
    for sweep, result in (("blocks", got), ("in order", in_order)):
        assert result.keys() == expected.keys()
        for name, value in expected.items():
            if math.isnan(value):
                assert math.isnan(result[name]), (sweep, name)
            else:
                assert result[name].hex() == value.hex(), (sweep, name, alpha, max_iter)


def random_graph(seed, n, source_share, extra, parallel=0.1, loops=0.05):
    """n nodes of which about source_share have outgoing edges; every node
    appears (the others as targets only), then `extra` random edges, some
    doubled, some self loops; the pairs shuffled, so that the numbering and
    the dangling ranks interleave."""
    rng = random.Random(seed)
    names = [f"v{i}" for i in range(n)]
    sources = [v for v in names if rng.random() < source_share] or [names[0]]
    edges = [(rng.choice(sources), v) for v in names]
    for _ in range(extra):
        s = rng.choice(sources)
        t = s if rng.random() < loops else rng.choice(names)
        edges.append((s, t))
        if rng.random() < parallel:
            edges.append((s, t))
    rng.shuffle(edges)
    return edges


fast_alphas = st.one_of(
    st.sampled_from([0.85, 0.0, 1.0, 0.5, 0.15, 0.999999, 1e-300, 5e-324, -0.0, 1 - 2**-53]),
    st.floats(0.0, 1.0),
)
# Outside [0, 1] (and NaN, infinities) the additions go one by one.
other_alphas = st.sampled_from([-0.5, 1.5, -1e-300, 2.0, float("nan"), float("inf"), -float("inf"), 1e308])


@given(
    seed=st.integers(0, 2**32),
    n=st.integers(1, 160),
    source_share=st.sampled_from([0.02, 0.1, 0.3, 0.7, 1.0]),
    extra=st.integers(0, 300),
    alpha=fast_alphas,
    max_iter=st.integers(0, 30),
)
def test_random_graphs(seed, n, source_share, extra, alpha, max_iter):
    assert_matches_literal(random_graph(seed, n, source_share, extra), alpha, max_iter)


@settings(max_examples=30)
@given(seed=st.integers(0, 2**32), n=st.integers(1, 60), alpha=other_alphas, max_iter=st.integers(0, 8))
def test_alpha_outside_the_unit_interval(seed, n, alpha, max_iter):
    assert_matches_literal(random_graph(seed, n, 0.3, n), alpha, max_iter)


@settings(max_examples=150)
@given(
    seed=st.integers(0, 2**32),
    n=st.integers(1, 400),
    source_share=st.sampled_from([0.05, 0.3, 0.7]),
    alpha=fast_alphas,
    max_iter=st.integers(1, 12),
    tables=st.sampled_from([0, 1, 2, 3]),
)
def test_tables_given_way_to(seed, n, source_share, alpha, max_iter, tables):
    assert_matches_literal(random_graph(seed, n, source_share, 2 * n), alpha, max_iter, tables)


def power_of_two_graph(k, seed):
    """2**k nodes, out-degrees powers of two, most nodes dangling: with alpha
    0.5 every share is a short dyadic fraction, so halfway cases abound."""
    rng = random.Random(seed)
    n = 2**k
    names = [f"p{i}" for i in range(n)]
    # The first node reaches every node, itself included: out-degree n.
    edges = [(names[0], v) for v in names]
    for s in rng.sample(names[1:], max(1, n // 8)):
        for _ in range(2 ** rng.randint(0, 3)):
            edges.append((s, rng.choice(names)))
    rng.shuffle(edges)
    return edges


@pytest.mark.parametrize("k", [1, 3, 6, 9, 11])
@pytest.mark.parametrize("alpha", [0.5, 0.25, 1.0, 0.75])
def test_dyadic_shares(k, alpha):
    assert_matches_literal(power_of_two_graph(k, k), alpha, 25)


def star_and_chains(n_leaves, chain_length, chains):
    """A hub fed by many leaves, and long chains whose scores fall off along
    their length: accumulators and shares spread over many binades."""
    edges = [(f"leaf{i}", "hub") for i in range(n_leaves)]
    edges += [("hub", f"out{i}") for i in range(n_leaves // 2)]
    for c in range(chains):
        edges += [(f"c{c}_{i}", f"c{c}_{i + 1}") for i in range(chain_length)]
        edges.append(("hub", f"c{c}_0"))
    return edges


@pytest.mark.parametrize("alpha", [1.0, 0.999, 0.5, 0.01, 1e-12])
def test_scores_over_many_binades(alpha):
    assert_matches_literal(star_and_chains(300, 120, 4), alpha, 30)
    # Far more grids than tables: each iteration builds and drops them.
    assert_matches_literal(star_and_chains(300, 120, 4), alpha, 10, tables=2)


@pytest.mark.parametrize("k", [9, 12])
def test_dyadic_shares_with_few_tables(k):
    # Halfway cases by the thousand, past the point where a grid's sums
    # would leave 64 bits.
    for alpha in [0.5, 1.0]:
        assert_matches_literal(power_of_two_graph(k, k), alpha, 8, tables=1)


def test_single_huge_dangling_share():
    # Nearly all the mass flows into one dangling node; the others are tiny.
    edges = [(f"s{i}", "sink") for i in range(400)] + [("s0", f"d{i}") for i in range(300)]
    for alpha in [0.85, 1.0, 0.999999]:
        assert_matches_literal(edges, alpha, 20)


@pytest.mark.parametrize("n", [1, 2, 3, 50, 700])
def test_every_node_dangling_but_one(n):
    edges = [("hub", f"x{i}") for i in range(n)]
    for alpha in [0.85, 1.0, 0.5, 0.0]:
        assert_matches_literal(edges, alpha, 15)


@pytest.mark.parametrize(
    "edges",
    [[("a", "a")], [("a", "b")], [("b", "a"), ("a", "b")], [("a", "b"), ("a", "b"), ("b", "b")], [("a", "b"), ("b", "a"), ("b", "b")]],
)
@pytest.mark.parametrize("alpha", [0.85, 1.0, 0.0, 0.5, 5e-324, 2.0])
def test_one_and_two_nodes(edges, alpha):
    assert_matches_literal(edges, alpha, 30)


@pytest.mark.slow
@settings(max_examples=8)
@given(seed=st.integers(0, 2**32), alpha=st.sampled_from([0.85, 1.0, 0.5, 0.3]))
def test_larger_random_graphs(seed, alpha):
    # Long dangling runs between in-edges, and many nodes sharing a binade.
    assert_matches_literal(random_graph(seed, 3000, 0.3, 6000), alpha, 6)


@pytest.mark.slow
def test_debian_graph():
    if not os.path.isdir(DEBIAN_DATA):
        pytest.skip("no shared benchmark data")
    import sys

    sys.path.insert(0, os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
    from bench.data import debian_edges

    assert_matches_literal(debian_edges(), 0.85, 5)


def test_subnormal_sums_with_a_normal_dangling_share():
    # alpha 1 leaves no teleport term, so sums start from what drains away:
    # after ~900 iterations j's sum is subnormal while B's dangling share is
    # still normal. That share must not be summed as the smallest normal.
    edges = [("i", "j")] + [("i", "W")] * 15 + [("j", "X"), ("W", "X"), ("X", "Y"), ("Y", "X"), ("Z", "B")]
    assert lg.pagerank(edges, 1.0, 897)["j"].hex() == "0x1.92b56169f8b0ap-1020"
    for max_iter in [890, 897, 898, 899, 1000, 1100]:
        assert_matches_literal(edges, 1.0, max_iter)
        assert_matches_literal(edges, 1.0, max_iter, tables=1)


def draining_graph(seed, n, cycle, dangling, fan):
    """Random trees that all lead into a small sink cycle, some nodes with
    `fan` out-edges, and dangling nodes fed by nodes of their own or by the
    trees: with alpha 1 every score outside the cycle falls towards zero at
    its own rate, into the subnormals, while some dangling shares are still
    normal."""
    rng = random.Random(seed)
    ring = [f"c{i}" for i in range(cycle)]
    edges = [(ring[i], ring[(i + 1) % cycle]) for i in range(cycle)]
    names = list(ring)
    for i in range(n):
        v = f"t{i}"
        for _ in range(rng.choice([1, 2, 3, fan])):
            edges.append((v, rng.choice(names)))
        names.append(v)
    for i in range(dangling):
        edges.append((f"z{i}" if rng.random() < 0.5 else rng.choice(names), f"d{i}"))
    rng.shuffle(edges)
    return edges


SMALLEST_NORMAL = 2.2250738585072014e-308


def first_subnormal_iteration(edges, limit=4000):
    """The first iteration count at which some score is subnormal or zero,
    or None."""

    def reached(k):
        return any(v < SMALLEST_NORMAL for v in testing.pagerank_literal(edges, 1.0, k).values())

    if not reached(limit):
        return None
    lo, hi = 0, limit
    while lo < hi:
        mid = (lo + hi) // 2
        lo, hi = (lo, mid) if reached(mid) else (mid + 1, hi)
    return lo


@settings(max_examples=15)
@given(
    seed=st.integers(0, 2**32),
    n=st.integers(1, 30),
    cycle=st.integers(1, 4),
    dangling=st.integers(1, 5),
    fan=st.sampled_from([8, 16, 32]),
)
def test_mass_draining_into_a_sink_cycle(seed, n, cycle, dangling, fan):
    # Every iteration count across the stretch where sums enter the
    # subnormals, with the usual tables and with one table built at once.
    edges = draining_graph(seed, n, cycle, dangling, fan)
    first = first_subnormal_iteration(edges)
    if first is None:
        return
    for max_iter in range(max(0, first - 5), first + 40):
        assert_matches_literal(edges, 1.0, max_iter)
        assert_matches_literal(edges, 1.0, max_iter, tables=1)


@settings(max_examples=40)
@given(
    seed=st.integers(0, 2**32),
    n=st.integers(1, 80),
    alpha=st.sampled_from([5e-324, 1e-310, 2.2250738585072014e-308, 1e-300, 2**-1000, 1e-160]),
    max_iter=st.integers(1, 40),
    tables=st.sampled_from([None, 1, 2]),
)
def test_tiny_alphas(seed, n, alpha, max_iter, tables):
    # Shares far below the teleport term, many of them subnormal or zero.
    assert_matches_literal(random_graph(seed, n, 0.3, 2 * n), alpha, max_iter, tables)
