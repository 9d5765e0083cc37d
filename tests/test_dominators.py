"""dominators, falls_away and sole_providers against their literal model on
random graphs (keys, values and orders), against networkx's immediate
dominators, and on paths and cycles long enough to overflow any call stack
that a recursive search would use."""

import pytest
from hypothesis import given, settings
from hypothesis import strategies as st

import model.dominators
from lanternhollow_graph_store import Graph
from strategies import NAME_POOL, edge_lists


# Few names and many edges: graphs where chains cross often enough that a
# node's semidominator is not its immediate dominator.
dense = st.sampled_from(NAME_POOL[4:11])


@st.composite
def graphs_with_root(draw, max_size=40):
    crossing = st.lists(st.tuples(dense, dense), min_size=10, max_size=max_size)
    edges = draw(st.one_of(edge_lists(max_size).filter(bool), crossing))
    nodes = list(dict.fromkeys(x for pair in edges for x in pair))
    return edges, draw(st.sampled_from(nodes)), nodes


@settings(max_examples=300)
@given(case=graphs_with_root(), top=st.integers(0, 12), threads=st.sampled_from([None, 1, 2]))
def test_all_three_match_the_model(case, top, threads):
    edges, root, nodes = case
    g = Graph(edges)
    doms = g.dominators(root, threads=threads)
    assert list(doms.items()) == list(model.dominators.dominators(edges, root).items())
    for name in nodes:
        assert g.falls_away(root, name) == model.dominators.falls_away(edges, root, name)
    assert g.falls_away(root, root) == [root, *doms]
    assert g.sole_providers(root, top, threads=threads) == model.dominators.sole_providers(edges, root, top)
    assert g.sole_providers(root) == model.dominators.sole_providers(edges, root, 10)


@settings(max_examples=200)
@given(case=graphs_with_root(max_size=60))
def test_networkx_agrees(case):
    nx = pytest.importorskip("networkx")
    edges, root, _ = case
    multi = nx.MultiDiGraph()
    multi.add_edges_from(edges)
    expected = nx.immediate_dominators(multi, root)
    expected.pop(root, None)  # some versions map the root to itself
    assert Graph(edges).dominators(root) == expected


def test_names_that_are_not_nodes_and_bad_counts():
    g = Graph([("a", "b"), ("c", "a")])
    for call in (
        lambda: g.dominators("z"),
        lambda: g.falls_away("a", "z"),
        lambda: g.falls_away("", "a"),
        lambda: g.sole_providers("\x00"),
    ):
        with pytest.raises(KeyError):
            call()
    # A bad argument is reported before a name that is not a node.
    for call, error in (
        (lambda: g.dominators(b"a"), TypeError),
        (lambda: g.falls_away("zz", 3), TypeError),
        (lambda: g.sole_providers("zz", -1), OverflowError),
        (lambda: g.dominators("zz", threads=-1), ValueError),
    ):
        with pytest.raises(error):
            call()
    # Reached or not, a node is a node: what "a" does not reach falls away empty.
    assert g.falls_away("a", "c") == [] and g.dominators("b") == {} and g.sole_providers("a", 0) == []
    assert g.falls_away("b", "b") == ["b"] and g.sole_providers("b") == []


def test_long_paths_and_cycles_use_no_call_stack():
    n = 100_000
    path = [(f"n{i}", f"n{i + 1}") for i in range(n - 1)]
    for edges in (path, path + [(f"n{n - 1}", "n0")]):
        g = Graph(edges)
        doms = g.dominators("n0")
        assert len(doms) == n - 1 and list(doms.items())[:2] == [("n1", "n0"), ("n2", "n1")]
        assert doms[f"n{n - 1}"] == f"n{n - 2}"
        assert g.falls_away("n0", f"n{n // 2}") == [f"n{i}" for i in range(n // 2, n)]
        assert g.sole_providers("n0", 2) == [("n1", n - 1), ("n2", n - 2)]
    # Every node also leads back to n1 and is led to from the root: the depth
    # first search runs the whole path deep, and path compression climbs it.
    edges = path + [(f"n{i}", "n1") for i in range(2, n)] + [("n0", f"n{i}") for i in range(n - 1, 1, -1)]
    g = Graph(edges)
    doms = g.dominators("n0")
    # The root's newest edge, to n2, is walked first and its oldest, to n1, last.
    assert set(doms.values()) == {"n0"} and list(doms)[:2] == ["n2", "n3"] and list(doms)[-1] == "n1"
    assert g.sole_providers("n0", 3) == [("n2", 1), ("n3", 1), ("n4", 1)]
