"""Graph.edges, Graph.distinct_edge_count and Graph.without against the
edge list itself: random multigraphs built from lists, read from files and
loaded from snapshots, each answer compared with what the plain list gives."""

import random

import pytest

from lanternhollow_graph_store import Graph

NAMES = ["a", "b", "", "ü", "日本", "😀", "x y", "a\tb", "n\x00ul", "libc6"]


def random_edges(rng):
    names = NAMES + [f"n{i}" for i in range(rng.randint(0, 40))]
    edges = [(rng.choice(names), rng.choice(names)) for _ in range(rng.randint(0, 200))]
    # Parallel edges and self loops, some of them.
    edges += rng.sample(edges, min(len(edges), 10)) + [(n, n) for n in rng.sample(names, 3)]
    rng.shuffle(edges)
    return edges


def file_text(edges):
    """The edge list as a file Graph.read gives the same graph for: names that
    a line cannot hold (tabs, NULs, the empty name, padding) left out."""
    readable = [(s, t) for s, t in edges if all(n and "\t" not in n and "\x00" not in n and n == n.strip()
                                                for n in (s, t))]
    return readable, "".join(f"{s}\t{t}\n" for s, t in readable)


def forms(tmp_path, edges):
    """The graph of `edges` built from the list, read from a file (names
    hashed by the table) and loaded from a snapshot of each."""
    readable, text = file_text(edges)
    path = tmp_path / "edges.tsv"
    path.write_text(text, encoding="utf-8")
    built, read = Graph(edges), Graph.read(path)
    built.save(tmp_path / "built.lhg")
    read.save(tmp_path / "read.lhg")
    return [(edges, built), (readable, read), (edges, Graph.load(tmp_path / "built.lhg")),
            (readable, Graph.load(tmp_path / "read.lhg"))]


@pytest.mark.parametrize("seed", range(12))
def test_against_the_edge_list(tmp_path, seed):
    rng = random.Random(seed)
    for edges, g in forms(tmp_path, random_edges(rng)):
        assert g.edges() == edges
        assert all(type(pair) is tuple for pair in g.edges())
        assert Graph(g.edges()) == g
        assert g.distinct_edge_count() == len(set(edges))
        names = list(dict.fromkeys(x for pair in edges for x in pair))
        for dropped in ([], rng.sample(names, min(len(names), 1)), rng.sample(names, min(len(names), 3)), names):
            kept = [(s, t) for s, t in edges if s not in dropped and t not in dropped]
            rest = g.without(dropped + dropped[:1])
            model = Graph(kept)
            assert rest == model and rest.names() == model.names() and hash(rest) == hash(model)
            assert rest.edges() == kept and rest.distinct_edge_count() == len(set(kept))
            # Lookups in the new graph's table find every name it kept, and no other.
            for name in names:
                assert (name in rest) == (name in model)
                if name in model:
                    assert rest.successors(name) == model.successors(name)
            assert [x.hex() for x in rest.pagerank().values()] == [x.hex() for x in model.pagerank().values()]


def test_arguments_and_types():
    class Sub(Graph):
        pass

    g = Sub([("a", "b"), ("b", "c"), ("a", "b")])
    assert type(g.without(["c"])) is Sub and g.without(("c",)) == Graph([("a", "b"), ("a", "b")])
    assert g.without(["a", "b", "c"]).edge_count == 0 and g.without([]) == g
    with pytest.raises(KeyError, match="'zz' is not a node"):
        g.without(["a", "zz"])
    with pytest.raises(TypeError):
        g.without(["a", 1])
    with pytest.raises(TypeError):
        g.without("a", "b")
    with pytest.raises(TypeError):
        g.edges(1)
    assert Graph([]).edges() == [] and Graph([]).distinct_edge_count() == 0
    assert g.without(names=["a"]).edges() == [("b", "c")]
