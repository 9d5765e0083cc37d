"""closure_sizes against its literal model on random multigraphs, at one to
three threads and with blocks of a few targets, so that every graph takes
the paths of many blocks; against networkx's descendants and ancestors on
graphs wide enough for rows of many words; and stopped by a signal."""

import random
import time

import pytest
from hypothesis import given, settings
from hypothesis import strategies as st

import model.closure
from lanternhollow_graph_store import Graph
from strategies import edge_lists
from test_interrupt import interrupted_at

testing = pytest.importorskip("_lanternhollow_graph_testing")


def items(result):
    return list(result.items())


@pytest.fixture
def tuning():
    """Sets the testing module's thresholds (the closure block last) for
    one test, and puts them back afterwards."""
    before = testing.set_parallel_tuning(1, 2, 3, 5, 0)
    yield lambda block: testing.set_parallel_tuning(1, 2, 3, 5, 0, block)
    testing.set_parallel_tuning(*before)


@settings(max_examples=300)
@given(edges=edge_lists(max_size=60), block=st.sampled_from([0, 1, 2, 3, 7, 64]))
def test_counts_match_the_model(edges, block):
    expected = items(model.closure.closure_sizes(edges))
    g = Graph(edges)
    result = g.closure_sizes()
    assert list(result) == g.names()
    assert items(result) == expected
    before = testing.set_parallel_tuning(1, 2, 3, 5, 0, block)
    try:
        tg = testing.Graph(edges)
        for threads in (1, 2, 3):
            assert items(tg.closure_sizes(threads=threads)) == expected, threads
    finally:
        testing.set_parallel_tuning(*before)


def dependency_graph(n, seed, back=0.02):
    """Each node depends on a few earlier ones, the early ones most; a few
    edges back close cycles; parallel edges and self loops now and then."""
    rng = random.Random(seed)
    edges = []
    for i in range(1, n):
        for _ in range(rng.randrange(4)):
            edges.append((f"p{i}", f"p{int(i * rng.random() ** 2)}"))
    for _ in range(int(n * back)):
        a, b = sorted(rng.sample(range(n), 2))
        edges.append((f"p{a}", f"p{b}"))
    edges += [(f"p{i}", f"p{i}") for i in rng.sample(range(n), 5)]
    edges += rng.sample(edges, 20)
    return edges


@pytest.mark.parametrize("block", [0, 100, 4096])
@pytest.mark.parametrize("n", [3000, 9000])
def test_counts_match_networkx(n, block, tuning):
    nx = pytest.importorskip("networkx")
    edges = dependency_graph(n, seed=n + block)
    G = nx.MultiDiGraph(edges)
    tuning(block)
    tg = testing.Graph(edges)
    result = tg.closure_sizes(threads=1)
    assert items(Graph(edges).closure_sizes()) == items(result)
    for threads in (2, 3):
        assert tg.closure_sizes(threads=threads) == result
    for name in random.Random(n).sample(list(result), 150):
        assert result[name] == (len(nx.descendants(G, name)), len(nx.ancestors(G, name))), name


def test_chains_cycles_and_loops(tuning):
    # A chain fills whole summary words of its rows; one cycle through
    # everything makes one component; self loops count nothing.
    n = 6000
    chain = [(f"c{i}", f"c{i + 1}") for i in range(n - 1)]
    for block in (0, 1000):
        tuning(block)
        for threads in (1, 2):
            assert testing.Graph(chain).closure_sizes(threads=threads) == {
                f"c{i}": (n - 1 - i, i) for i in range(n)
            }
            ring = testing.Graph(chain + [(f"c{n - 1}", "c0")]).closure_sizes(threads=threads)
            assert set(ring.values()) == {(n - 1, n - 1)}
    assert Graph([("a", "a"), ("a", "a"), ("b", "b")]).closure_sizes() == {"a": (0, 0), "b": (0, 0)}
    assert Graph([]).closure_sizes() == {}


def test_arguments():
    g = Graph([("a", "b")])
    assert g.closure_sizes(threads=0) == g.closure_sizes(threads=None) == {"a": (1, 0), "b": (0, 1)}
    with pytest.raises(TypeError):
        g.closure_sizes(2)
    with pytest.raises(TypeError):
        g.closure_sizes(depth=2)


def test_interrupted_and_asked_again():
    g = Graph(dependency_graph(60_000, seed=7))
    t0 = time.perf_counter()
    expected = g.closure_sizes(threads=2)
    span = time.perf_counter() - t0
    stopped = sum(interrupted_at(lambda: g.closure_sizes(threads=2), span * (k + 0.5) / 6) for k in range(6))
    assert stopped > 0
    assert g.closure_sizes() == expected
