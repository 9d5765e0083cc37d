import itertools

import pytest
from hypothesis import given

import lanternhollow_graph as lg
from model.components import strongly_connected as model_strongly_connected
from strategies_pagerank_scc import cyclic_edge_lists


def arrows(text):
    """'a>b b>a' -> [('a', 'b'), ('b', 'a')]"""
    return [tuple(pair.split(">")) for pair in text.split()]


@pytest.mark.parametrize(
    "edges, expected",
    [
        ("", []),
        ("a>a", []),
        ("a>b b>a a>b", [["a", "b"]]),
        # Equal sizes: the component holding the last finisher comes first.
        ("p>q q>p r>s s>r", [["r", "s"], ["p", "q"]]),
        # A component reachable from another comes before it.
        ("a>b b>a b>c c>d d>c", [["c", "d"], ["a", "b"]]),
        ("a>b b>c c>a x>y y>x", [["a", "b", "c"], ["x", "y"]]),
        # {a, b} starts at b, which finished last in the first pass.
        ("c>d d>c a>b b>a b>c", [["c", "d"], ["b", "a"]]),
        # Member order follows the order of the edges in the list.
        ("a>b b>c c>a a>c", [["a", "b", "c"]]),
        ("a>c a>b b>c c>a", [["a", "c", "b"]]),
        ("x>a a>b b>c c>a", [["a", "b", "c"]]),
    ],
)
def test_worked_cases(edges, expected):
    assert lg.strongly_connected(arrows(edges)) == expected


def components_by_reachability(edges):
    """The components of two or more nodes as a set of frozensets, from the
    transitive closure: an order-free check that does not share the search."""
    nodes = list(dict.fromkeys(itertools.chain.from_iterable(edges)))
    reach = {v: {v} for v in nodes}
    for s, t in edges:
        reach[s].add(t)
    changed = True
    while changed:
        changed = False
        for v in nodes:
            extended = set().union(*(reach[u] for u in reach[v]))
            if extended != reach[v]:
                reach[v] = extended
                changed = True
    groups = {frozenset(u for u in reach[v] if v in reach[u]) for v in nodes}
    return {g for g in groups if len(g) >= 2}


@given(cyclic_edge_lists)
def test_matches_model(edges):
    got = lg.strongly_connected(edges)
    assert got == model_strongly_connected(edges)
    assert {frozenset(c) for c in got} == components_by_reachability(edges)
    assert sum(len(c) for c in got) == len({v for c in got for v in c})
    assert [len(c) for c in got] == sorted((len(c) for c in got), reverse=True)


def test_result_objects_are_fresh_lists_of_str():
    class Name(str):
        pass

    result = lg.strongly_connected([(Name("a"), "b"), ("b", "a"), ("c", "d"), ("d", "c")])
    assert type(result) is list and all(type(c) is list for c in result)
    assert all(type(v) is str for c in result for v in c)
    assert result[0] is not result[1]


def test_million_node_cycle():
    n = 1_000_000
    names = [str(i) for i in range(n)]
    edges = list(zip(names, names[1:] + names[:1]))
    result = lg.strongly_connected(edges)
    assert len(result) == 1
    assert result[0] == names


def test_long_path_has_no_component():
    names = [str(i) for i in range(300_000)]
    assert lg.strongly_connected(list(zip(names, names[1:]))) == []


@pytest.mark.parametrize(
    "args, kwargs, error, message",
    [
        ((), {}, TypeError, "strongly_connected() missing 1 required positional argument: 'edges'"),
        (([], []), {}, TypeError, "strongly_connected() takes 1 positional arguments but 2 were given"),
        (([],), {"edges": []}, TypeError, "strongly_connected() got multiple values for argument 'edges'"),
        ((), {"nodes": []}, TypeError, "strongly_connected() got an unexpected keyword argument 'nodes'"),
        (("ab",), {}, TypeError, "argument 'edges': Can't extract `str` to `Vec`"),
        (([("a", "b", "c")],), {}, ValueError, "expected tuple of length 2, but got tuple of length 3"),
    ],
)
def test_argument_errors(args, kwargs, error, message):
    with pytest.raises(error) as info:
        lg.strongly_connected(*args, **kwargs)
    assert type(info.value) is error and str(info.value) == message


def test_edges_by_keyword():
    assert lg.strongly_connected(edges=(("a", "b"), ("b", "a"))) == [["a", "b"]]
