"""The peers' side of the built-graph table against literal models, and the
rewriting of its section of results.md. No timing is asserted here.

    python -m pytest bench/test_built.py
"""

import math
import random
from types import SimpleNamespace

import pytest

import lanternhollow_graph as lg

from bench import built
from bench.peers import BUILT

NAMES = ["", "a", "b", "libc6", "é", "ü-dev", "日本", "\x00x", "python3-foo", "z" * 40, "🙂", "a b"]


def random_edges(rng, size):
    """Parallel edges, self loops and odd names, over a few to a dozen names."""
    names = rng.sample(NAMES, rng.randint(1, len(NAMES)))
    edges = [(rng.choice(names), rng.choice(names)) for _ in range(size)]
    for _ in range(rng.randint(0, 3)):  # a repeated pair or a self loop on purpose
        s = rng.choice(names)
        edges.append(rng.choice([(s, s), edges[0] if edges else (s, s)]))
    return edges


def model_within(edges, start, depth, backwards=False):
    """{name: fewest steps} for every node 1 to depth steps from start."""
    found = {start: 0}
    frontier = [start]
    for d in range(1, depth + 1):
        frontier = [t if not backwards else s for s, t in edges
                    if (s if not backwards else t) in frontier]
        frontier = [v for v in dict.fromkeys(frontier) if v not in found]
        for v in frontier:
            found[v] = d
    del found[start]
    return found


def graphs(count):
    rng = random.Random(20240607)
    for _ in range(count):
        edges = random_edges(rng, rng.randint(1, 30))
        if edges:
            yield edges


@pytest.mark.parametrize("peer", [p for p in BUILT if "descendants_at_depth" in BUILT[p]])
def test_depth_queries_on_built_graphs_match_the_model(peer):
    ops = BUILT[peer]
    for edges in graphs(150):
        b = ops["build"](edges)
        for start in dict.fromkeys(n for pair in edges for n in pair):
            for depth in range(4):
                for question, backwards in (("descendants_at_depth", False), ("ancestors_at_depth", True)):
                    want = model_within(edges, start, depth, backwards)
                    got = ops[question](b, start, depth)
                    if isinstance(got, dict):
                        assert got == want, (question, edges, start, depth)
                    else:  # igraph: the names alone
                        assert got == set(want), (question, edges, start, depth)


def test_graph_type_depth_queries_match_the_model():
    Graph = built.load_graph_type()
    if Graph is None:
        pytest.skip("lanternhollow_graph_store is not built")
    for edges in graphs(150):
        g = Graph(edges)
        for start in dict.fromkeys(n for pair in edges for n in pair):
            for depth in range(4):
                assert g.descendants_at_depth(start, depth) == model_within(edges, start, depth)
                assert g.ancestors_at_depth(start, depth) == model_within(edges, start, depth, True)


@pytest.mark.parametrize("peer", [p for p in BUILT if "pagerank" in BUILT[p]])
def test_pagerank_on_built_graphs_agrees_with_ours(peer):
    ops = BUILT[peer]
    for edges in graphs(60):
        if len({n for pair in edges for n in pair}) < 2:
            continue
        theirs = ops["pagerank"](ops["build"](edges))
        if theirs is None:  # rustworkx raises at tol=0
            continue
        ours = lg.pagerank(edges)
        assert theirs.keys() == ours.keys()
        for name, score in ours.items():
            assert math.isclose(theirs[name], score, rel_tol=1e-9, abs_tol=1e-12), (peer, edges, name)


def test_igraph_betweenness_on_a_built_graph_agrees_with_ours():
    if "betweenness" not in BUILT.get("igraph", {}):
        pytest.skip("igraph is not installed")
    ops = BUILT["igraph"]
    for edges in graphs(60):
        theirs = ops["betweenness"](ops["build"](edges))
        for name, score in lg.betweenness(edges).items():
            assert math.isclose(theirs[name], score, rel_tol=1e-9, abs_tol=1e-12), (edges, name)


def _result(label, text):
    figure = built.Figure([0.001])
    row = built.Row(text, figure, None, {}, returned=text)
    return {"label": label, "edges": 1, "nodes": 2, "rows": [row], "notes": [], "repeats": 1, "peer_repeats": 1}


def test_a_run_of_the_table_alone_rewrites_only_its_graphs():
    args = SimpleNamespace(once_after=2.0)
    head = "# Benchmark results\n\n## Debian bookworm: the functions\n\n| a | b |\n"
    first = head + "\n" + built.render_section([_result("Debian bookworm", "old debian"),
                                                _result("synthetic", "old synthetic")], args)
    again = built.splice(first, [_result("Debian bookworm", "new debian")], args)
    assert again.startswith(head)
    assert "new debian" in again and "old debian" not in again
    assert "old synthetic" in again
    assert again.index("### Debian bookworm") < again.index("### synthetic")
    assert again.count(built.HEADING) == 1
    # The same run twice gives the same file; a file without the section gains it.
    assert built.splice(again, [_result("Debian bookworm", "new debian")], args) == again
    fresh = built.splice(head, [_result("synthetic", "only")], args)
    assert fresh.startswith(head.rstrip("\n")) and fresh.count(built.HEADING) == 1 and "only" in fresh
