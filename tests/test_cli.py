"""The lanternhollow-graph command: reading, reports, JSON, the picture, bad input."""

import gzip
import importlib.metadata
import json
import os
import random
import re
import shutil
import subprocess
import sys

import pytest

import lanternhollow_graph as lg
from lanternhollow_graph_cli import picture

DEBIAN = os.path.join(os.path.dirname(__file__), "..", "..", "shared", "data", "debian-bookworm-depends.tsv.gz")

EDGES_CSV = "app,web\nweb,http\nhttp,web\napp,db\n# a comment\n\ndb,libc\nhttp,libc\n"
EDGES = [("app", "web"), ("web", "http"), ("http", "web"), ("app", "db"), ("db", "libc"), ("http", "libc")]


def run(*args, stdin=None, cwd=None, env=None):
    return subprocess.run(
        [sys.executable, "-m", "lanternhollow_graph_cli", *args],
        input=stdin,
        capture_output=True,
        timeout=300,
        cwd=cwd,
        env=env,
    )


def ok(result):
    assert result.returncode == 0, result.stderr.decode()
    return result.stdout.decode()


def test_console_script_is_declared():
    scripts = importlib.metadata.entry_points(group="console_scripts", name="lanternhollow-graph")
    assert scripts and all(script.value == "lanternhollow_graph_cli:main" for script in scripts)
    installed = os.path.join(os.path.dirname(sys.executable), "lanternhollow-graph")
    if os.path.exists(installed):
        assert subprocess.run([installed, "--help"], capture_output=True, timeout=60).returncode == 0


def test_file_text_report(tmp_path):
    path = tmp_path / "edges.csv"
    path.write_text(EDGES_CSV)
    text = ok(run(str(path), "--focus", "web"))
    assert "5 nodes, 6 edges (6 distinct)" in text
    for heading in (
        "Most central by PageRank",
        "Cycles (strongly connected components)",
        "Bottlenecks by sampled betweenness",
        "What web depends on, by depth",
        "What depends on web, by depth",
        "Neighbourhood of web (within 1 step)",
    ):
        assert heading in text
    assert re.search(r"1\s+2\s+web, http", text)
    top = max(lg.pagerank(EDGES).items(), key=lambda kv: (kv[1], kv[0]))
    assert re.search(rf"1\s+{top[0]}\s+{top[1]:.6f}", text)


def test_standard_input_plain_and_gzipped(tmp_path):
    path = tmp_path / "edges.tsv"
    path.write_text(EDGES_CSV.replace(",", "\t"))
    from_file = ok(run(str(path), "--json"))
    assert json.loads(ok(run("-", "--json", stdin=path.read_bytes())))["graph"]["source"] == "standard input"
    packed = gzip.compress(path.read_bytes())
    from_gzip_stdin = json.loads(ok(run("-", "--json", stdin=packed)))
    (tmp_path / "edges.gz").write_bytes(packed)
    from_gzip_file = json.loads(ok(run(str(tmp_path / "edges.gz"), "--json")))
    # Windows line ends and a byte-order mark change nothing.
    windows = json.loads(ok(run("-", "--json", stdin=b"\xef\xbb\xbf" + path.read_bytes().replace(b"\n", b"\r\n"))))
    for other in (from_gzip_stdin, from_gzip_file, windows):
        del other["graph"]["source"]
    expected = json.loads(from_file)
    del expected["graph"]["source"]
    assert from_gzip_stdin == expected == from_gzip_file == windows


def test_json_carries_every_analysis_exactly(tmp_path):
    path = tmp_path / "edges.csv"
    path.write_text(EDGES_CSV)
    data = json.loads(ok(run(str(path), "--json", "--focus", "http", "--top", "0")))
    assert data["graph"] == {"source": str(path), "nodes": 5, "edges": 6, "distinct_edges": 6}
    rank = lg.pagerank(EDGES)
    # JSON floats round-trip, so the scores must match to the last bit.
    assert {e["node"]: e["score"] for e in data["pagerank"]["top"]} == rank
    assert [e["score"] for e in data["pagerank"]["top"]] == sorted(rank.values(), reverse=True)
    assert data["strongly_connected"] == {"count": 1, "top": lg.strongly_connected(EDGES)}
    between = lg.sampled_betweenness(EDGES, 100, 42)
    assert {e["node"]: e["score"] for e in data["sampled_betweenness"]["top"]} == {
        n: s for n, s in between.items() if s > 0
    }
    focus = data["focus"]
    assert focus["node"] == "http" and focus["pagerank"] == rank["http"]
    assert sorted(focus["cycle"]) == ["http", "web"]
    assert focus["descendants"] == lg.descendants_at_depth(EDGES, "http", 2**64 - 1)
    assert list(focus["descendants"].values()) == sorted(focus["descendants"].values())
    assert focus["ancestors"] == lg.ancestors_at_depth(EDGES, "http", 2**64 - 1)
    hood = data["neighbourhood"]
    nodes, edges = lg.subgraph(EDGES, ["http"], 1)
    assert (hood["nodes"], hood["edges"]) == (len(nodes), len(edges))
    assert hood["drawn"][0] == "http" and sorted(hood["drawn"]) == sorted(nodes)


@pytest.mark.parametrize("seed", range(3))
def test_json_matches_the_functions_on_a_multigraph(tmp_path, seed):
    """The report's one built graph answers as the functions do on the list: parallel edges, loops, any names."""
    rng = random.Random(seed)
    names = ["a", "ü", "日本", "x y", 'say "hi"', "back\\slash", "a,b", "😀"]
    names += [f"n{i}" for i in range(rng.randint(3, 30))]
    edges = [(rng.choice(names), rng.choice(names)) for _ in range(rng.randint(20, 150))]
    edges += edges[:7] + [(names[0], names[0])]
    path = tmp_path / "edges.tsv"
    path.write_text("".join(f"{s}\t{t}\n" for s, t in edges), encoding="utf-8")
    focus = rng.choice(sorted({x for pair in edges for x in pair}))
    data = json.loads(ok(run(str(path), "--json", "--top", "0", "--depth", "2", "--focus", focus)))

    nodes = list(dict.fromkeys(x for pair in edges for x in pair))
    counts = {"nodes": len(nodes), "edges": len(edges), "distinct_edges": len(set(edges))}
    assert data["graph"] == {"source": str(path), **counts}
    rank = lg.pagerank(edges)
    by_rank = sorted(rank.items(), key=lambda kv: (-kv[1], kv[0]))
    assert [(e["node"], e["score"]) for e in data["pagerank"]["top"]] == by_rank
    components = lg.strongly_connected(edges)
    assert data["strongly_connected"] == {"count": len(components), "top": components}
    between = lg.sampled_betweenness(edges, 100, 42)
    on_paths = {n: s for n, s in between.items() if s > 0}
    assert {e["node"]: e["score"] for e in data["sampled_betweenness"]["top"]} == on_paths
    assert data["focus"] == {
        "node": focus,
        "pagerank": rank[focus],
        "cycle": next((c for c in components if focus in c), []),
        "descendants": lg.descendants_at_depth(edges, focus, 2**64 - 1),
        "ancestors": lg.ancestors_at_depth(edges, focus, 2**64 - 1),
    }
    hood_nodes, hood_edges = lg.subgraph(edges, [focus], 2)
    assert (data["neighbourhood"]["nodes"], data["neighbourhood"]["edges"]) == (len(hood_nodes), len(hood_edges))
    assert data["neighbourhood"]["drawn"] == picture.choose_nodes(focus, hood_nodes, hood_edges, rank)


def test_default_focus_is_the_top_ranked_node(tmp_path):
    path = tmp_path / "edges.csv"
    path.write_text(EDGES_CSV)
    data = json.loads(ok(run(str(path), "--json", "--top", "2")))
    assert data["focus"]["node"] == data["pagerank"]["top"][0]["node"]
    assert len(data["pagerank"]["top"]) == 2


@pytest.mark.skipif(not os.path.exists(DEBIAN), reason="the Debian edge list is not beside the project")
def test_debian_dependencies(tmp_path):
    data = json.loads(ok(run(DEBIAN, "--json", "--focus", "python3", "--top", "5", "--dot", str(tmp_path / "p.dot"))))
    assert data["graph"]["nodes"] == 63_597 and data["graph"]["edges"] == 279_232
    assert [e["node"] for e in data["pagerank"]["top"][:2]] == ["libc6", "libgcc-s1"]
    assert data["focus"]["descendants"]["python3-minimal"] == 1
    assert data["focus"]["cycle"] == []
    assert data["neighbourhood"]["nodes"] > 1000 and len(data["neighbourhood"]["drawn"]) == picture.MAX_NODES
    assert len(dot_nodes((tmp_path / "p.dot").read_text())) == picture.MAX_NODES

    text = ok(run(DEBIAN, "--top", "3"))
    assert "63,597 nodes, 279,232 edges" in text and "What libc6 depends on" in text


@pytest.mark.slow
def test_standard_library_imports():
    text = ok(run("--stdlib", "--top", "3"))
    assert "imports of the standard library" in text
    assert "Neighbourhood of urllib.request" in text


# --- bad input ----------------------------------------------------------------


def bad(tmp_path, name, content):
    path = tmp_path / name
    if isinstance(content, str):
        content = content.encode()
    path.write_bytes(content)
    return str(path)


BAD_INPUT = [
    (lambda tmp: ["missing.tsv"], "no such file: missing.tsv"),
    (lambda tmp: [str(tmp)], "is a directory"),
    (lambda tmp: [bad(tmp, "e.tsv", "a\tb\n\njust-one-name\n")], "e.tsv, line 3: expected two names"),
    (lambda tmp: [bad(tmp, "e.tsv", b"a,b\nc,\xff\xfe\n")], "e.tsv, line 2: not valid UTF-8"),
    (lambda tmp: [bad(tmp, "e.csv", "a,b\n,b\n")], "e.csv, line 2: empty name"),
    (lambda tmp: [bad(tmp, "e.gz", gzip.compress(b"a\tb\n" * 1000)[:-30])], "cannot read"),
    (lambda tmp: [bad(tmp, "e.tsv", "# only a comment\n\n")], "the graph is empty"),
    (lambda tmp: [bad(tmp, "e.tsv", "web\tapp\n"), "--focus", "wbe"], "unknown focus: 'wbe' is not a name"),
    (lambda tmp: [bad(tmp, "e.tsv", "a\tb\n"), "--top", "-1"], "must not be negative"),
    (lambda tmp: [bad(tmp, "e.tsv", "a\tb\n"), "--depth", "two"], "not a whole number"),
    (lambda tmp: [bad(tmp, "e.tsv", "a\tb\n"), "--depth", str(2**64)], "too large"),
    (lambda tmp: [bad(tmp, "e.tsv", "a\tb\n"), "--stdlib"], "either an edge-list FILE or --stdlib"),
    (lambda tmp: [], "either an edge-list FILE or --stdlib"),
    (lambda tmp: [bad(tmp, "e.tsv", "a\tb\n"), "--dot", str(tmp)], "is not a file name"),
    (lambda tmp: [bad(tmp, "e.tsv", "a\tb\n"), "--dot", str(tmp / "no" / "x.dot")], "cannot write"),
]


@pytest.mark.parametrize("args, message", BAD_INPUT)
def test_bad_input_is_one_line_and_status_2(tmp_path, args, message):
    out = run(*args(tmp_path), cwd=tmp_path)
    err = out.stderr.decode()
    assert out.returncode == 2, err
    assert "Traceback" not in err
    assert err.count("\n") == 1 and err.startswith("lanternhollow-graph: "), err
    assert message in err


def test_unknown_focus_suggests_close_names(tmp_path):
    err = run(bad(tmp_path, "e.tsv", "web\tapp\n"), "--focus", "wbe").stderr.decode()
    assert "'web'" in err
    assert run(bad(tmp_path, "e.tsv", "web\tapp\n"), "--focus", "wbe").stdout == b""


def test_bad_standard_input(tmp_path):
    out = run("-", stdin=b"a\tb\nc\n")
    assert out.returncode == 2
    assert out.stderr.decode() == "lanternhollow-graph: standard input, line 2: expected two names separated by a tab or a comma\n"


# --- the picture ----------------------------------------------------------------


def dot_nodes(text):
    """name -> attribute text of every node statement."""
    return dict(re.findall(r'^  "((?:[^"\\]|\\.)*)" \[(.*)\];$', text, re.M))


def dot_edges(text):
    return re.findall(r'^  "((?:[^"\\]|\\.)*)" -> "((?:[^"\\]|\\.)*)"(.*);$', text, re.M)


def hub_graph():
    """A hub with 120 dependencies and 30 users; hub, c1 and c2 form a cycle."""
    edges = [("hub", f"dep{i:03}") for i in range(120)]
    edges += [(f"user{i:02}", "hub") for i in range(30)]
    edges += [("hub", "c1"), ("c1", "c2"), ("c2", "hub"), ("dep000", "dep001"), ("dep001", "dep000")]
    # Popular dependencies: many users of their own outside the neighbourhood.
    edges += [(f"other{j}", f"dep{i:03}") for i in range(0, 120, 7) for j in range(i % 5 + 1)]
    return edges


def test_picture_is_bounded_and_highlights_the_focus_cycle(tmp_path):
    edges = hub_graph()
    path = tmp_path / "hub.tsv"
    path.write_text("".join(f"{s}\t{t}\n" for s, t in edges))
    ok(run(str(path), "--focus", "hub", "--dot", str(tmp_path / "hub.dot"), "--depth", "2"))
    text = (tmp_path / "hub.dot").read_text()
    assert text.startswith("digraph") and "Neighbourhood of hub" in text
    nodes = dot_nodes(text)
    assert 2 <= len(nodes) <= picture.MAX_NODES
    assert "the 40 most central of the" in text

    cycle = {"hub", "c1", "c2"}
    assert cycle <= set(nodes)
    for name, attrs in nodes.items():
        highlighted = "cycle" in re.search(r'class="([^"]*)"', attrs).group(1) if "class=" in attrs else False
        assert highlighted == (name in cycle), name
        assert (picture.CYCLE_RED in attrs) == (name in cycle), name
    assert 'class="focus cycle"' in nodes["hub"]
    # dep000 and dep001 form a cycle of their own: drawn, but not red.
    assert "dep000" in nodes and picture.CYCLE_RED not in nodes["dep000"]
    red_edges = {(s, t) for s, t, attrs in dot_edges(text) if picture.CYCLE_RED in attrs}
    assert red_edges == {("hub", "c1"), ("c1", "c2"), ("c2", "hub")}
    for s, t, _ in dot_edges(text):
        assert s in nodes and t in nodes


def test_picture_keeps_the_highest_ranked_neighbours_connected():
    edges = hub_graph()
    rank = lg.pagerank(edges)
    nodes, sub = lg.subgraph(edges, ["hub"], 2)
    drawn = picture.choose_nodes("hub", nodes, sub, rank)
    assert len(drawn) == picture.MAX_NODES and drawn[0] == "hub"
    assert len(set(drawn)) == len(drawn) and set(drawn) <= set(nodes)
    adjacent = {(s, t) for s, t in sub} | {(t, s) for s, t in sub}
    for i, n in enumerate(drawn[1:], 1):
        assert any((m, n) in adjacent for m in drawn[:i]), n
    # Every direct neighbour left out ranks no higher than any drawn one.
    direct = {t for s, t in sub if s == "hub"} | {s for s, t in sub if t == "hub"}
    lowest_drawn = min(rank[n] for n in drawn[1:] if n in direct)
    assert all(rank[n] <= lowest_drawn for n in direct - set(drawn))
    # A neighbourhood that fits is drawn whole.
    small = picture.choose_nodes("web", *lg.subgraph(EDGES, ["web"], 5), lg.pagerank(EDGES))
    assert sorted(small) == ["app", "db", "http", "libc", "web"]


def test_picture_names_are_quoted(tmp_path):
    edges = [('say "hi"', "back\\slash"), ("back\\slash", 'say "hi"'), ("<b>&", 'say "hi"')]
    rank = lg.pagerank(edges)
    nodes, sub = lg.subgraph(edges, ['say "hi"'], 1)
    text = picture.neighbourhood_dot('say "hi"', nodes, sub, rank, ['say "hi"', "back\\slash"], 1, len(nodes))
    assert set(dot_nodes(text)) == {'say \\"hi\\"', "back\\\\slash", "<b>&"}
    assert "Neighbourhood of say &quot;hi&quot;" in text
    if shutil.which("dot"):
        subprocess.run(["dot", "-Tsvg", "-o", os.devnull], input=text.encode(), check=True, timeout=60)


def test_without_graphviz_the_command_says_how_to_get_it(tmp_path):
    path = tmp_path / "edges.csv"
    path.write_text(EDGES_CSV)
    env = dict(os.environ, PATH=str(tmp_path / "empty"))
    out = run(str(path), "--svg", "web.svg", "--dot", "web.dot", cwd=tmp_path, env=env)
    assert out.returncode == 0
    err = out.stderr.decode()
    assert "web.svg not drawn" in err and "apt-get install graphviz" in err and err.count("\n") == 1
    assert (tmp_path / "web.dot").exists() and not (tmp_path / "web.svg").exists()


@pytest.mark.skipif(shutil.which("dot") is None, reason="Graphviz is not installed")
def test_svg_and_png_with_graphviz(tmp_path):
    path = tmp_path / "edges.csv"
    path.write_text(EDGES_CSV)
    text = ok(run(str(path), "--focus", "web", "--svg", "web.svg", "--png", "web.png", cwd=tmp_path))
    assert "drew web.svg" in text and "drew web.png" in text
    assert "Neighbourhood of web" in (tmp_path / "web.svg").read_text()
    assert (tmp_path / "web.png").read_bytes().startswith(b"\x89PNG")
    # With --json, standard output holds only the JSON object.
    out = run(str(path), "--json", "--focus", "web", "--svg", "web.svg", cwd=tmp_path)
    assert json.loads(ok(out))["focus"]["node"] == "web" and "drew web.svg" in out.stderr.decode()
