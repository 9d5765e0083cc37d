"""why, why_all, cycle, build_order and weakly_connected against their
literal models on random graphs, and against networkx where it answers the
same question (lengths, sets and counts: its ties are its own)."""

import pytest
from hypothesis import given, settings
from hypothesis import strategies as st

import model.chains
from lanternhollow_graph_store import Graph
from strategies import edge_lists


@st.composite
def graphs_with_nodes(draw, count=2, max_size=40):
    edges = draw(edge_lists(max_size).filter(bool))
    nodes = list(dict.fromkeys(x for pair in edges for x in pair))
    return edges, [draw(st.sampled_from(nodes)) for _ in range(count)]


@settings(max_examples=300)
@given(case=graphs_with_nodes(), limit=st.integers(0, 5))
def test_chains_and_cycles_match_the_model(case, limit):
    edges, (a, b) = case
    g = Graph(edges)
    assert g.why(a, b) == model.chains.why(edges, a, b)
    assert g.why_all(a, b, limit) == model.chains.why_all(edges, a, b, limit)
    chains, count = g.why_all(a, b)
    assert chains[:1] == ([g.why(a, b)] if count else [])
    assert g.cycle(a) == model.chains.cycle(edges, a)


@settings(max_examples=200)
@given(edges=edge_lists(max_size=50))
def test_layers_and_islands_match_the_model(edges):
    g = Graph(edges)
    assert g.build_order() == model.chains.build_order(edges)
    assert g.weakly_connected() == model.chains.weakly_connected(edges)


def test_counts_past_every_machine_word():
    # 300 diamonds in a row: 2**300 shortest chains.
    edges = []
    for i in range(300):
        edges += [(f"a{i}", f"b{i}"), (f"a{i}", f"c{i}"), (f"b{i}", f"a{i + 1}"), (f"c{i}", f"a{i + 1}")]
    edges.append(("a0", "b0"))  # a parallel edge makes no second chain
    g = Graph(edges)
    chains, count = g.why_all("a0", "a300", 4)
    assert count == 2**300
    assert len(chains) == 4 and all(len(c) == 601 for c in chains) and len(set(map(tuple, chains))) == 4
    assert chains[0] == g.why("a0", "a300")
    assert g.why_all("a300", "a0") == ([], 0)
    assert g.why_all("a5", "a5", 0) == ([], 1)


def test_counts_of_long_searches():
    # 20,000 diamonds: counts of hundreds of limbs, summed level by level.
    k = 20_000
    edges = [p for i in range(k) for p in ((f"h{i}", f"a{i}"), (f"h{i}", f"b{i}"), (f"a{i}", f"h{i + 1}"), (f"b{i}", f"h{i + 1}"))]
    chains, count = Graph(edges).why_all("h0", f"h{k}", 1)
    assert count == 2**k and chains[0][:3] == ["h0", "b0", "h1"]


def test_long_chains_and_cycles_use_no_call_stack():
    n = 200_000
    edges = [(f"n{i}", f"n{i + 1}") for i in range(n)] + [(f"n{n}", "n0")]
    g = Graph(edges)
    assert len(g.why("n0", f"n{n}")) == n + 1
    assert len(g.cycle("n7")) == n + 1 and g.cycle("n7")[:2] == ["n7", "n8"]
    assert len(g.build_order()) == 1 and len(g.build_order()[0][0]) == n + 1
    assert g.weakly_connected()[0][:3] == ["n0", "n1", "n2"]


def test_names_that_are_not_nodes():
    g = Graph([("a", "b")])
    for call in (lambda: g.why("a", "c"), lambda: g.why_all("z", "b"), lambda: g.cycle("")):
        with pytest.raises(KeyError):
            call()
    with pytest.raises(OverflowError):
        g.why_all("a", "b", -1)
    assert Graph([]).build_order() == [] and Graph([]).weakly_connected() == []


@settings(max_examples=100)
@given(case=graphs_with_nodes())
def test_what_networkx_agrees_on(case):
    nx = pytest.importorskip("networkx")
    edges, (a, b) = case
    g = Graph(edges)
    d = nx.MultiDiGraph(edges)
    chains, count = g.why_all(a, b, 10**6)
    if nx.has_path(d, a, b):
        expected = {tuple(p) for p in nx.all_shortest_paths(nx.DiGraph(d), a, b)}
        assert set(map(tuple, chains)) == expected and count == len(expected)
    else:
        assert count == 0
    c = nx.condensation(nx.DiGraph(d))
    generations = [
        sorted(sorted(m for u in layer for m in c.nodes[u]["members"]))
        for layer in nx.topological_generations(c.reverse())
    ]
    assert [sorted(n for unit in layer for n in unit) for layer in g.build_order()] == generations
    assert sorted(map(sorted, g.weakly_connected())) == sorted(map(sorted, nx.weakly_connected_components(d)))
