"""The peers' side of bench/questions.py against ours and against a literal
breadth-first search, on small random multigraphs with self loops, parallel
edges and odd names: a table whose peers answer something else compares
nothing."""

import random

import pytest

pytest.importorskip("igraph")
pytest.importorskip("networkx")
pytest.importorskip("networkit")
store = pytest.importorskip("lanternhollow_graph_store")

from bench.questions import Peers, _as_sets, _layers, render, Row, Figure  # noqa: E402

NAMES = ["a", "b", "", "ü", "日本", "x y", "c\u0301", "z", "lib-z", "9"]


def random_edges(rng):
    names = NAMES[: rng.randint(2, len(NAMES))]
    return [(rng.choice(names), rng.choice(names)) for _ in range(rng.randint(1, 3 * len(names)))]


def reach(edges, start):
    """Every name reached from start by one or more edges: a literal search."""
    seen, todo = set(), [start]
    while todo:
        v = todo.pop()
        for s, t in edges:
            if s == v and t not in seen:
                seen.add(t)
                todo.append(t)
    return seen


@pytest.mark.parametrize("seed", range(60))
def test_peers_answer_what_we_answer(seed):
    rng = random.Random(seed)
    edges = random_edges(rng)
    g = store.Graph(edges)
    p = Peers(edges)
    names = g.names()

    for s in names:
        for t in names:
            ours = g.why(s, t)
            for theirs in (p.ig_why(s, t), p.nx_why(s, t)):
                if s != t:  # the peers answer [s] or a cycle for s == t
                    assert (ours is None) == (theirs is None)
                    assert ours is None or len(ours) == len(theirs)
            if s != t and ours is not None:
                assert p.nx_why_count(s, t)[1] == g.why_all(s, t)[1]  # chains of names, both

    for order in (p.nx_build_order(), p.ig_build_order()):
        assert _layers(order) == _layers(g.build_order())
    for islands in (p.nx_weak(), p.ig_weak(), p.nk_weak()):
        assert _as_sets(islands) == _as_sets(g.weakly_connected())

    closure = p.nk_closure()
    assert closure == g.closure_sizes()
    for name in names:
        ancestors = {s for s in names if name in reach(edges, s) and s != name}
        assert closure[name] == (len(reach(edges, name) - {name}), len(ancestors))

    for root in names:
        ours = g.dominators(root)
        assert p.ig_dominators(root) == ours == p.nx_dominators(root)
        for name in ours:
            assert set(p.ig_falls_away(root, name)) == set(g.falls_away(root, name))
        assert [k for _, k in p.ig_sole_providers(root)] == [k for _, k in g.sole_providers(root)]


def test_table_marks_what_misses_the_target():
    fast, slow = Figure([1.0], 1), Figure([2.0], 1)
    rows = [Row("met", {"ours": Figure([0.1], 1), "igraph": slow}),
            Row("missed", {"ours": fast, "networkx": slow, "igraph": Figure([1.5], 1)}),
            Row("alone", {"ours": fast}, ours_only=True)]
    text = render({"label": "t", "edges": 1, "nodes": 1, "rows": rows, "notes": [], "memory": [],
                   "repeats": 1, "versions": ""}, None)
    met, missed, alone = (line for line in text.splitlines() if line.startswith("| `") is False
                          and line.split(" | ")[0] in ("| met", "| missed", "| alone"))
    assert "| 0.050 | yes |" in met
    assert "| igraph | 0.667 | **no** |" in missed
    assert "| no peer | — | — |" in alone
