"""Depth-limited ancestors and descendants, and the graph store beneath them."""

import pytest
from hypothesis import given

import lanternhollow_graph as lg
from model import reachability as model
from model.graph import Graph
from strategies import depths, graphs_with_node

anc = lg.ancestors_at_depth
desc = lg.descendants_at_depth
MAX = 2**64 - 1


class TestModelStore:
    """The model's store must keep the orders the native store keeps; the
    differential tests of every core rely on it."""

    def test_numbering_is_first_appearance_source_first(self):
        g = Graph([("b", "a"), ("a", "c"), ("c", "b")])
        assert g.names == ["b", "a", "c"]

    def test_lists_visit_newest_edge_first(self):
        g = Graph([("a", "b"), ("a", "c"), ("a", "d")])
        assert [g.names[v] for v in g.successors(g.index["a"])] == ["d", "c", "b"]
        g = Graph([("x", "y"), ("z", "y"), ("x", "w")])
        assert [g.names[v] for v in g.predecessors(g.index["y"])] == ["z", "x"]
        assert [g.names[v] for v in g.successors(g.index["x"])] == ["w", "y"]

    def test_parallel_edges_and_self_loops_stay(self):
        g = Graph([("a", "b"), ("a", "b"), ("a", "a")])
        assert len(g.edges) == 3 and g.n == 2
        assert list(g.successors(0)) == [0, 1, 1]
        assert list(g.predecessors(0)) == [0]
        assert g.out_degree(0) == 3


CHAIN = [("a", "b"), ("b", "c"), ("c", "d")]


@pytest.mark.parametrize(
    "fn, edges, start, depth, expected",
    [
        (desc, CHAIN, "a", 2, {"b": 1, "c": 2}),
        (anc, CHAIN, "d", 2, {"c": 1, "b": 2}),
        (anc, CHAIN, "d", 3, {"c": 1, "b": 2, "a": 3}),
        (desc, CHAIN, "a", MAX, {"b": 1, "c": 2, "d": 3}),
        (desc, CHAIN, "a", 0, {}),
        (desc, CHAIN, "zzz", 0, {}),
        (desc, CHAIN, "zzz", 5, {}),
        (desc, [], "a", 5, {}),
        (desc, [("a", "b"), ("b", "a")], "a", 5, {"b": 1}),
        (desc, [("a", "a"), ("a", "b")], "a", 1, {"b": 1}),
        (anc, [("a", "a")], "a", 5, {}),
        (desc, [("a", "b"), ("b", "c"), ("a", "c")], "a", 2, {"b": 1, "c": 1}),
        (desc, [("a", "b"), ("a", "b")], "a", 1, {"b": 1}),
        (desc, CHAIN, "d", 5, {}),
        (anc, [("x", "t"), ("y", "t"), ("x", "t")], "t", 5, {"x": 1, "y": 1}),
        (desc, [("A", "b")], "a", 5, {}),
        (desc, [("\u00e9", "x"), ("e\u0301", "y")], "\u00e9", 5, {"x": 1}),
        (desc, [("a\x00b", "x"), ("a", "y")], "a\x00b", 5, {"x": 1}),
        (desc, [("", "x"), ("x", "")], "", 5, {"x": 1}),
        (anc, [("", "\x00"), ("\x00", "")], "\x00", 1, {"": 1}),
    ],
)
def test_examples(fn, edges, start, depth, expected):
    result = fn(edges, start, depth)
    assert type(result) is dict
    assert result == expected
    assert all(type(k) is str and type(v) is int for k, v in result.items())


def test_depth_is_shortest_distance_through_a_diamond_of_levels():
    edges = [("s", "a"), ("a", "b"), ("b", "c"), ("c", "t"), ("s", "t"), ("t", "u")]
    assert desc(edges, "s", MAX) == {"a": 1, "b": 2, "c": 3, "t": 1, "u": 2}
    assert anc(edges, "u", 2) == {"t": 1, "c": 2, "s": 2}


@given(graphs_with_node(), depths)
def test_descendants_match_model(case, max_depth):
    edges, start = case
    assert desc(edges, start, max_depth) == model.descendants_at_depth(edges, start, max_depth)


@given(graphs_with_node(), depths)
def test_ancestors_match_model(case, max_depth):
    edges, start = case
    assert anc(edges, start, max_depth) == model.ancestors_at_depth(edges, start, max_depth)


def test_million_node_chain_and_cycle():
    n = 1_000_000
    names = [str(i) for i in range(n)]
    chain = list(zip(names, names[1:]))
    result = desc(chain, "0", MAX)
    assert len(result) == n - 1 and result[names[-1]] == n - 1
    cycle = chain + [(names[-1], "0")]
    result = anc(cycle, "0", MAX)
    assert len(result) == n - 1 and result["1"] == n - 1 and result[names[-1]] == 1
