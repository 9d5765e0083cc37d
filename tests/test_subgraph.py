import lanternhollow_graph as lg
import numpy as np
import pytest
from hypothesis import given
from hypothesis import strategies as st

from model.subgraph import subgraph as model_subgraph
from start_names import graphs_with_names
from strategies import depths


@given(case=graphs_with_names(), max_depth=depths, incoming=st.booleans(), outgoing=st.booleans())
def test_matches_model(case, max_depth, incoming, outgoing):
    edges, seeds = case
    nodes, kept = lg.subgraph(edges, seeds, max_depth, incoming, outgoing)
    # The node list is compared in order: seeds first, then discovery order.
    assert (nodes, kept) == model_subgraph(edges, seeds, max_depth, incoming, outgoing)
    assert len(set(nodes)) == len(nodes)

    # One direction only: the members are the seeds found and what a single
    # depth query from any of them finds.
    if incoming != outgoing:
        single = lg.descendants_at_depth if outgoing else lg.ancestors_at_depth
        present = {x for pair in edges for x in pair}
        expected = {s for s in seeds if s in present}
        for s in seeds:
            expected.update(single(edges, s, max_depth))
        assert set(nodes) == expected


E = [("a", "b"), ("a", "c"), ("c", "d"), ("d", "e"), ("x", "y")]
CYCLE = [("a", "b"), ("b", "c"), ("c", "a")]


@pytest.mark.parametrize(
    "edges, seeds, kwargs, nodes, kept",
    [
        (E, ["b"], {}, ["b", "a", "c"], [("a", "b"), ("a", "c")]),
        (E, ["b"], {"include_outgoing": False}, ["b", "a"], [("a", "b")]),
        (E, ["b"], {"include_incoming": False}, ["b"], []),
        (E, ["b"], {"max_depth": 0}, ["b"], []),
        (E, ["a"], {"include_incoming": False, "include_outgoing": False}, ["a"], []),
        (E, ["b", "z"], {"max_depth": 1}, ["b", "a"], [("a", "b")]),
        (E, ["b", "b"], {"max_depth": 1}, ["b", "a"], [("a", "b")]),
        (E, ["a"], {"max_depth": 1, "include_incoming": False}, ["a", "c", "b"], [("a", "b"), ("a", "c")]),
        # A seed reached from another seed is still listed as a seed.
        (E, ["e", "a", "c"], {"max_depth": 1}, ["e", "a", "c", "d", "b"], E[:4]),
        ([("a", "b")], ["a", "b"], {"max_depth": 0}, ["a", "b"], [("a", "b")]),
        (CYCLE, ["a"], {"max_depth": 1, "include_incoming": False}, ["a", "b"], [("a", "b")]),
        (CYCLE, ["a"], {"max_depth": 2, "include_incoming": False}, ["a", "b", "c"], CYCLE),
        (CYCLE + [("a", "b")], ["a"], {"max_depth": 1, "include_incoming": False}, ["a", "b"], [("a", "b")] * 2),
        ([("a", "a"), ("a", "b")], ["a"], {"max_depth": 0}, ["a"], [("a", "a")]),
        # Outgoing neighbours are discovered before incoming ones.
        ([("p", "m"), ("m", "c")], ["m"], {"max_depth": 1}, ["m", "c", "p"], [("p", "m"), ("m", "c")]),
        ([], ["a"], {}, [], []),
        (E, [], {}, [], []),
        (E, ["z"], {}, [], []),
    ],
)
def test_cases(edges, seeds, kwargs, nodes, kept):
    assert lg.subgraph(edges, seeds, **kwargs) == (nodes, kept)


def test_result_objects():
    edges = [("a", "b"), ("b", "a")]
    first = lg.subgraph(edges, ["a"])
    second = lg.subgraph(edges, ("a",))
    assert first == second == (["a", "b"], [("a", "b"), ("b", "a")])
    assert type(first) is tuple and type(first[0]) is list and type(first[1]) is list
    assert all(type(e) is tuple and len(e) == 2 and all(type(x) is str for x in e) for e in first[1])
    assert first[0] is not second[0] and first[1][0] is not second[1][0]
    assert lg.subgraph([], []) == ([], [])


def test_defaults_and_keywords():
    edges = [("a", "b"), ("b", "c"), ("c", "d")]
    assert lg.subgraph(edges, ["d"]) == lg.subgraph(edges, ["d"], 2, True, True) == (["d", "c", "b"], edges[1:])
    assert lg.subgraph(edges=edges, seed_nodes=["a"], include_outgoing=False) == (["a"], [])
    assert lg.subgraph(edges, ["a"], 5, include_incoming=np.False_, include_outgoing=np.True_)[0] == list("abcd")


@pytest.mark.parametrize(
    "args, kwargs, message",
    [
        (("abc",), {}, "argument 'seed_nodes': Can't extract `str` to `Vec`"),
        (({"a"},), {}, "argument 'seed_nodes': 'set' object cannot be converted to 'Sequence'"),
        (([None],), {}, "argument 'seed_nodes': 'NoneType' object cannot be converted to 'PyString'"),
        ((["a"], 2, 1), {}, "argument 'include_incoming': 'int' object cannot be converted to 'PyBool'"),
        ((["a"],), {"include_outgoing": None}, "argument 'include_outgoing': 'NoneType' object cannot be converted to 'PyBool'"),
        ((["a"], 2, True, []), {}, "argument 'include_outgoing': 'list' object cannot be converted to 'PyBool'"),
        ((["a"], "2"), {}, "argument 'max_depth': 'str' object cannot be interpreted as an integer"),
        ((), {}, "subgraph() missing 1 required positional argument: 'seed_nodes'"),
        ((["a"], 2, True, True, 1), {}, "subgraph() takes from 2 to 5 positional arguments but 6 were given"),
        ((["a"],), {"depth": 1}, "subgraph() got an unexpected keyword argument 'depth'"),
        ((["a"], 2), {"max_depth": 1}, "subgraph() got multiple values for argument 'max_depth'"),
    ],
)
def test_argument_errors(args, kwargs, message):
    with pytest.raises(TypeError) as info:
        lg.subgraph([("a", "b")], *args, **kwargs)
    assert str(info.value) == message


def test_million_node_cycle():
    n = 1_000_000
    edges = [(f"n{i}", f"n{(i + 1) % n}") for i in range(n)]
    nodes, kept = lg.subgraph(edges, ["n0"], 2**64 - 1, include_incoming=False)
    assert nodes == [f"n{i}" for i in range(n)]
    assert kept == edges
    nodes, kept = lg.subgraph(edges, ["n0"], 3)
    assert nodes == ["n0", "n1", "n999999", "n2", "n999998", "n3", "n999997"]
    assert kept == [edges[0], edges[1], edges[2], edges[n - 3], edges[n - 2], edges[n - 1]]
