"""The lanternhollow-graph command: reading, reports, JSON, the picture, bad input."""

import gzip
import importlib.metadata
import json
import os
import random
import re
import shutil
import signal
import subprocess
import sys

import pytest

import lanternhollow_graph as lg
from lanternhollow_graph_cli import command, picture
from lanternhollow_graph_store import Graph
from model import betweenness as model_betweenness
from model import chains as model_chains

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
        "Most depended on, transitively",
        "Bottlenecks by exact betweenness",
        "Totals for web",
        "What web depends on, by depth",
        "What depends on web, by depth",
        "Neighbourhood of web (within 1 step)",
    ):
        assert heading in text
    assert re.search(r"1\s+2\s+web, http\n\s+cycle: web -> http -> web\n", text)
    assert re.search(r"1\s+libc\s+4\s+2\n", text)  # libc: 4 dependents, 2 of them direct
    assert "2 nodes depend on web directly, 2 transitively" in text
    assert "web depends on 1 node directly, 2 transitively" in text
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
    assert data["graph"] == {
        "source": str(path), "nodes": 5, "edges": 6, "distinct_edges": 6, "excluded": [], "excluded_edges": 0
    }
    rank = lg.pagerank(EDGES)
    # JSON floats round-trip, so the scores must match to the last bit.
    assert {e["node"]: e["score"] for e in data["pagerank"]["top"]} == rank
    assert [e["score"] for e in data["pagerank"]["top"]] == sorted(rank.values(), reverse=True)
    assert data["strongly_connected"] == {"count": 1, "top": [["web", "http"]], "cycles": [["web", "http"]]}
    assert data["betweenness"]["method"] == "exact"
    between = lg.betweenness(EDGES)
    assert {e["node"]: e["score"] for e in data["betweenness"]["top"]} == {n: s for n, s in between.items() if s > 0}
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


def reach(adjacent, start, dropped=None):
    """The nodes start reaches by one or more edges, never passing through dropped (a literal search)."""
    seen, todo = set(), [start]
    while todo:
        for m in adjacent.get(todo.pop(), ()):
            if m not in seen and m != dropped:
                seen.add(m)
                todo.append(m)
    return seen


def adjacency(edges):
    succ, pred = {}, {}
    for s, t in edges:
        succ.setdefault(s, []).append(t)
        pred.setdefault(t, []).append(s)
    return succ, pred


def random_multigraph(rng):
    """Parallel edges, self loops, names with quotes, commas, spaces and characters beyond Latin-1."""
    names = ["a", "ü", "日本", "x y", 'say "hi"', "back\\slash", "a,b", "😀"]
    names += [f"n{i}" for i in range(rng.randint(3, 30))]
    edges = [(rng.choice(names), rng.choice(names)) for _ in range(rng.randint(20, 150))]
    return edges + edges[:7] + [(names[0], names[0])]


def write_edges(path, edges):
    path.write_text("".join(f"{s}\t{t}\n" for s, t in edges), encoding="utf-8")
    return str(path)


@pytest.mark.parametrize("seed", range(4))
def test_json_matches_the_functions_on_a_multigraph(tmp_path, seed):
    """The report's one built graph answers as the functions and the literal models do on the list."""
    rng = random.Random(seed)
    edges = random_multigraph(rng)
    path = write_edges(tmp_path / "edges.tsv", edges)
    nodes = list(dict.fromkeys(x for pair in edges for x in pair))
    focus, a, b, dropped = (rng.choice(nodes) for _ in range(4))
    args = ["--json", "--top", "0", "--depth", "2", "--focus", focus, "--why", a, b, "--falls-away", dropped]
    data = json.loads(ok(run(path, *args, "--build-order")))

    counts = {"nodes": len(nodes), "edges": len(edges), "distinct_edges": len(set(edges))}
    assert data["graph"] == {"source": path, **counts, "excluded": [], "excluded_edges": 0}
    rank = lg.pagerank(edges)
    by_rank = sorted(rank.items(), key=lambda kv: (-kv[1], kv[0]))
    assert [(e["node"], e["score"]) for e in data["pagerank"]["top"]] == by_rank
    components = lg.strongly_connected(edges)
    assert data["strongly_connected"] == {
        "count": len(components),
        "top": components,
        "cycles": [model_chains.cycle(edges, c[0]) for c in components],
    }
    # Small graphs get the exact betweenness; JSON floats read back to the same bits.
    assert data["betweenness"]["method"] == "exact"
    exact = model_betweenness.betweenness(edges)
    assert [(e["node"], e["score"]) for e in data["betweenness"]["top"]] == [
        kv for kv in sorted(exact.items(), key=lambda kv: (-kv[1], kv[0])) if kv[1] > 0
    ]

    succ, pred = adjacency(edges)
    dependents = {n: len(reach(pred, n) - {n}) for n in nodes}
    direct = {n: len(set(pred.get(n, ())) - {n}) for n in nodes}
    used = sorted((n for n in nodes if dependents[n]), key=lambda n: -dependents[n])  # stable: node order
    assert data["most_depended_on"]["top"] == [
        {"node": n, "dependents": dependents[n], "direct": direct[n]} for n in used
    ]

    chains, count = model_chains.why_all(edges, a, b, command.WHY_CHAINS)
    steps = len(chains[0]) - 1 if chains else None
    assert data["why"] == {"source": a, "target": b, "count": count, "steps": steps, "chains": chains}
    layers = data["build_order"]
    assert layers["layers"] == model_chains.build_order(edges)
    assert (layers["layer_count"], layers["unit_count"]) == (len(layers["layers"]), sum(map(len, layers["layers"])))

    deps = reach(succ, focus) - {focus}
    assert data["focus"] == {
        "node": focus,
        "pagerank": rank[focus],
        "cycle": next((c for c in components if focus in c), []),
        "shortest_cycle": model_chains.cycle(edges, focus),
        "totals": {
            "dependents": {"direct": direct[focus], "transitive": dependents[focus]},
            "dependencies": {"direct": len(set(succ.get(focus, ())) - {focus}), "transitive": len(deps)},
        },
        "descendants": lg.descendants_at_depth(edges, focus, 2**64 - 1),
        "ancestors": lg.ancestors_at_depth(edges, focus, 2**64 - 1),
    }

    def lost(name):
        everything = reach(succ, focus) | {focus}
        if name == focus:
            return everything
        return set() if name not in everything else everything - reach(succ, focus, dropped=name) - {focus}

    falls = data["falls_away"]
    assert (falls["root"], falls["name"]) == (focus, dropped)
    assert set(falls["nodes"]) == lost(dropped) and len(falls["nodes"]) == len(lost(dropped))
    counts = [(e["node"], e["count"]) for e in falls["sole_providers"]]
    assert sorted(counts) == sorted((n, len(lost(n))) for n in deps)
    assert [c for _, c in counts] == sorted((c for _, c in counts), reverse=True)

    hood_nodes, hood_edges = lg.subgraph(edges, [focus], 2)
    hood = data["neighbourhood"]
    assert (hood["nodes"], hood["edges"]) == (len(hood_nodes), len(hood_edges))
    view = picture.View(focus, hood_nodes, hood_edges, rank, data["focus"]["cycle"])
    assert hood["drawn"] == view.drawn_names() and hood["collapsed"] == (view.box.members if view.box else [])
    if len(data["focus"]["cycle"]) <= picture.COLLAPSE_ABOVE:
        assert hood["drawn"] == picture.choose_nodes(focus, hood_nodes, hood_edges, rank)
        drawn = set(hood["drawn"])
        among = dict.fromkeys((s, t) for s, t in hood_edges if s in drawn and t in drawn)
        assert hood["drawn_edges"] == [list(edge) for edge in among]


@pytest.mark.parametrize("seed", range(3))
def test_exclude_is_the_report_on_the_edges_left(tmp_path, seed):
    rng = random.Random(seed)
    edges = random_multigraph(rng)
    nodes = list(dict.fromkeys(x for pair in edges for x in pair))
    gone = rng.sample(nodes, 2)
    kept = [(s, t) for s, t in edges if s not in gone and t not in gone]
    kept_nodes = set(x for pair in kept for x in pair)
    focus = rng.choice(sorted(kept_nodes))
    args = ["--json", "--top", "0", "--focus", focus, "--build-order"]
    path = write_edges(tmp_path / "all.tsv", edges)
    excluded = json.loads(ok(run(path, *args, "--exclude", gone[0], "--exclude", gone[1], "--exclude", gone[0])))
    expected = json.loads(ok(run(write_edges(tmp_path / "kept.tsv", kept), *args)))
    assert excluded["graph"]["excluded"] == gone and excluded["graph"]["excluded_edges"] == len(edges) - len(kept)
    for data in (excluded, expected):
        for key in ("source", "excluded", "excluded_edges"):
            data["graph"].pop(key, None)
    assert excluded == expected

    text = ok(run(path, "--focus", focus, "--exclude", gone[1]))
    left_out = sum(1 for s, t in edges if gone[1] in (s, t))
    assert f"  excluded: {gone[1]} ({left_out:,} edge{'s' * (left_out != 1)} touching them left out)\n" in text


def test_exact_betweenness_when_expected_under_a_second(tmp_path):
    rng = random.Random(7)
    edges = random_multigraph(rng)
    path = write_edges(tmp_path / "edges.tsv", edges)
    data = json.loads(ok(run(path, "--json", "--top", "0")))["betweenness"]
    # The estimate counts the steps of a search from every node: each node reached and each edge walked.
    succ, _ = adjacency(edges)
    nodes = list(dict.fromkeys(x for pair in edges for x in pair))
    steps = sum(len(r) + sum(len(succ.get(v, ())) for v in r) for r in ({s} | reach(succ, s) for s in nodes))
    assert data["estimated_exact_seconds"] == steps * command.STEP_SECONDS + len(nodes) * command.NODE_SECONDS
    assert data["method"] == "exact" and data["sample_size"] is None

    sampled = json.loads(ok(run(path, "--json", "--top", "0", "--betweenness", "sampled")))["betweenness"]
    assert sampled["estimated_exact_seconds"] is None
    assert (sampled["method"], sampled["sample_size"], sampled["seed"]) == ("sampled", 100, 42)
    model = model_betweenness.sampled_betweenness(edges, 100, 42)
    assert {e["node"]: e["score"] for e in sampled["top"]} == {n: s for n, s in model.items() if s > 0}

    # A ring of 8,000: every search walks the whole ring, about 2.6 s of work.
    ring = write_edges(tmp_path / "ring.tsv", [(f"r{i}", f"r{(i + 1) % 8000}") for i in range(8000)])
    text = ok(run(ring, "--top", "2"))
    assert "Bottlenecks by sampled betweenness (100 sources)" in text
    # Its cycle, cut to a line: the start, how many are left out, the closing step.
    kept, left_out = re.search(r"cycle: (r0 -> .*) -> \.\.\. \(\+(\d+)\) -> r7999 -> r0\n", text).groups()
    assert kept.split(" -> ") == [f"r{i}" for i in range(len(kept.split(" -> ")))]
    assert len(kept.split(" -> ")) + int(left_out) == 7999
    assert re.search(r"sampled: exact would take about 2\.\d s \(--betweenness exact runs it\)", text)
    assert "Bottlenecks by exact betweenness" in ok(run(ring, "--top", "2", "--betweenness", "exact"))


def test_why_counts_every_shortest_chain(tmp_path):
    # A ladder of 70 diamonds: 2**70 shortest chains from top to bottom.
    edges = [(f"v{i}", f"{side}{i}") for i in range(70) for side in "lr"]
    edges += [(f"{side}{i}", f"v{i + 1}") for i in range(70) for side in "lr"]
    path = write_edges(tmp_path / "ladder.tsv", edges + [("x", "v3")])
    g = Graph(edges + [("x", "v3")])
    data = json.loads(ok(run(path, "--json", "--why", "v0", "v70")))["why"]
    assert data["count"] == 2**70 and data["steps"] == 140
    assert data["chains"] == g.why_all("v0", "v70", command.WHY_CHAINS)[0]
    text = ok(run(path, "--why", "v0", "v70"))
    first = " -> ".join(data["chains"][0])
    assert f"  {2**70:,} shortest chains of 140 steps; the first 5:\n  {first}\n" in text
    back = " -> ".join(g.why("v0", "v3"))
    assert f"  none: v3 does not depend on v0\n  but v0 depends on v3: {back}\n" in ok(run(path, "--why", "v3", "v0"))
    assert "  none: x does not depend on v0\n\n" in ok(run(path, "--why", "x", "v0"))
    assert "  1 shortest chain of 0 steps:\n  x\n" in ok(run(path, "--why", "x", "x"))


def test_build_order_and_falls_away_text(tmp_path):
    path = write_edges(tmp_path / "e.tsv", EDGES)
    text = ok(run(path, "--build-order", "--focus", "app", "--falls-away", "http"))
    assert "3 layers, each depending only on earlier ones; 4 units" in text
    assert re.search(r"\n\s+0\s+1\s+1\s+libc\n\s+1\s+2\s+3\s+\{web, http\}, db\n\s+2\s+1\s+1\s+app\n", text)
    # app still reaches libc through db.
    assert "What app would no longer depend on without http" in text and "  1 node, http included: http\n" in text
    providers = r"\s+1\s+web\s+2\n\s+2\s+db\s+1\n\s+3\s+libc\s+1\n\s+4\s+http\s+1\n"
    assert re.search(r"Sole providers for app.*\n.*\n.*\n" + providers, text)
    assert "  nothing: libc does not depend on app\n" in ok(run(path, "--focus", "libc", "--falls-away", "app"))
    text = ok(run(path, "--focus", "db", "--falls-away", "db"))
    assert "  everything: db itself and the 1 node it depends on\n" in text


def test_a_focus_in_a_large_cycle_draws_the_rest_as_one_box(tmp_path):
    # The focus c0 on a ring of 20 with chords, and nodes off the ring on both sides.
    ring = [(f"c{i}", f"c{(i + 1) % 20}") for i in range(20)] + [(f"c{i}", f"c{(i + 7) % 20}") for i in range(0, 20, 3)]
    edges = ring + [("user", "c0"), ("c0", "lib"), ("c5", "lib"), ("app", "c14"), ("c0", "c0")]
    path = write_edges(tmp_path / "ring.tsv", edges)
    data = json.loads(ok(run(path, "--json", "--focus", "c0", "--depth", "2", "--dot", str(tmp_path / "c0.dot"))))
    hood_nodes, hood_edges = lg.subgraph(edges, ["c0"], 2)
    members = [n for n in hood_nodes if n.startswith("c") and n != "c0"]
    hood = data["neighbourhood"]
    assert hood["collapsed"] == members and len(members) < 19
    assert sorted(hood["drawn"]) == sorted(set(hood_nodes) - set(members))
    shown = set(members) | set(hood["drawn"])
    assert sorted(map(tuple, hood["drawn_edges"])) == sorted(
        {(s, t) for s, t in hood_edges if not (s in members and t in members) and {s, t} <= shown}
    )

    text = (tmp_path / "c0.dot").read_text()
    nodes = dot_nodes(text)
    box = f"{len(members)} others on a cycle with c0"
    assert set(nodes) == {box} | set(hood["drawn"])
    assert 'class="cycle collapsed"' in nodes[box] and f"of 19; the rest beyond 2 steps" in nodes[box]
    red = {(s, t) for s, t, attrs in dot_edges(text) if picture.CYCLE_RED in attrs}
    assert red == {("c0", box), (box, "c0")}
    assert (box, "lib") in {(s, t) for s, t, _ in dot_edges(text)}

    # A component of COLLAPSE_ABOVE members is still drawn member by member.
    small = [(f"c{i}", f"c{(i + 1) % picture.COLLAPSE_ABOVE}") for i in range(picture.COLLAPSE_ABOVE)]
    path = write_edges(tmp_path / "small.tsv", small)
    data = json.loads(ok(run(path, "--json", "--focus", "c0", "--depth", "9")))
    assert data["neighbourhood"]["collapsed"] == [] and len(data["neighbourhood"]["drawn"]) == picture.COLLAPSE_ABOVE


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

    assert data["betweenness"]["method"] == "exact"
    assert data["focus"]["totals"]["dependents"] == {"direct": 6_338, "transitive": 8_694}

    text = ok(run(DEBIAN, "--top", "3", "--why", "python3", "libc6"))
    assert "63,597 nodes, 279,232 edges" in text and "What libc6 depends on" in text
    assert "21,808 nodes depend on libc6 directly, 48,657 transitively" in text
    assert "  5 shortest chains of 3 steps:\n" in text
    text = ok(run(DEBIAN, "--top", "3", "--exclude", "libc6", "--exclude", "libgcc-s1"))
    assert "  excluded: libc6, libgcc-s1 (28,071 edges touching them left out)" in text


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
    (lambda tmp: [bad(tmp, "e.tsv", "a\tb\n"), "--why", "a", "zz"], "unknown name in --why: 'zz' is not a name"),
    (lambda tmp: [bad(tmp, "e.tsv", "a\tb\n"), "--why", "a"], "--why: expected 2 arguments"),
    (lambda tmp: [bad(tmp, "e.tsv", "a\tb\n"), "--falls-away", "zz"], "unknown name in --falls-away: 'zz'"),
    (lambda tmp: [bad(tmp, "e.tsv", "a\tb\n"), "--exclude", "zz"], "unknown name in --exclude: 'zz' is not a name"),
    (lambda tmp: [bad(tmp, "e.tsv", "a\tb\nb\tc\n"), "--exclude", "a", "--focus", "a"], "focus: 'a' is excluded"),
    (
        lambda tmp: [bad(tmp, "e.tsv", "a\tb\nc\td\n"), "--exclude", "a", "--why", "c", "b"],
        "unknown name in --why: 'b' has no edges left once the excluded names are left out",
    ),
    (lambda tmp: [bad(tmp, "e.tsv", "a\tb\nb\ta\n"), "--exclude", "b"], "e.tsv touches an excluded name"),
    (lambda tmp: [bad(tmp, "e.tsv", "a\tb\n"), "--betweenness", "fast"], "invalid choice: 'fast'"),
]


@pytest.mark.parametrize("args, message", BAD_INPUT)
def test_bad_input_is_one_line_and_status_2(tmp_path, args, message):
    out = run(*args(tmp_path), cwd=tmp_path)
    err = out.stderr.decode()
    assert out.returncode == 2, err
    assert "Traceback" not in err
    assert err.count("\n") == 1 and err.startswith("lanternhollow-graph: "), err
    assert message in err


@pytest.mark.parametrize(
    "option", [["--focus", "wbe"], ["--why", "app", "wbe"], ["--falls-away", "wbe"], ["--exclude", "wbe"]]
)
def test_unknown_names_get_close_names(tmp_path, option):
    out = run(bad(tmp_path, "e.tsv", "web\tapp\n"), *option)
    assert "'wbe' is not a name in the graph (close: 'web')" in out.stderr.decode()
    assert out.stdout == b""


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


# --- snapshots, --header, the native reading path ----------------------------------


def report(*args, **kwargs):
    """The JSON report, its source left out: what differs between two forms of one graph."""
    data = json.loads(ok(run(*args, "--json", **kwargs)))
    del data["graph"]["source"]
    return data


def test_snapshot_round_trip(tmp_path):
    rng = random.Random(11)
    edges = random_multigraph(rng)
    path = write_edges(tmp_path / "edges.tsv", edges)
    focus = edges[0][1]
    args = ["--top", "0", "--focus", focus, "--build-order", "--why", edges[3][0], edges[5][1]]
    snapshot = str(tmp_path / "graph")  # no suffix: recognised by its first bytes
    text = ok(run(path, *args, "--save", snapshot))
    assert f"  saved the graph as a snapshot to {snapshot} (" in text
    assert Graph.load(snapshot) == Graph(edges)
    assert report(snapshot, *args) == report(path, *args)
    loaded = ok(run(snapshot, "--focus", focus))
    assert loaded.startswith(f"Graph: {snapshot} (loaded in ") and f"({len(set(edges)):,} distinct)" in loaded

    # --save after --exclude holds the graph analysed, which a snapshot can exclude from again.
    gone = edges[0][0]
    kept = [(s, t) for s, t in edges if gone not in (s, t)]
    ok(run(path, "--exclude", gone, "--save", snapshot, "--json"))
    assert Graph.load(snapshot) == Graph(kept)
    again = [(s, t) for s, t in kept if focus not in (s, t)]
    data = report(snapshot, "--exclude", focus, "--top", "0")
    assert data == report(write_edges(tmp_path / "again.tsv", again), "--top", "0") | {
        "graph": data["graph"] | {"excluded": [focus], "excluded_edges": len(kept) - len(again)}
    } and data["graph"]["excluded"] == [focus]

    # A snapshot saved over the snapshot being read, through a symbolic link that stays one.
    os.symlink(snapshot, tmp_path / "link")
    ok(run(snapshot, "--save", str(tmp_path / "link")))
    assert os.path.islink(tmp_path / "link") and Graph.load(tmp_path / "link") == Graph(kept)
    assert sorted(os.listdir(tmp_path)) == ["again.tsv", "edges.tsv", "graph", "link"]


def test_header(tmp_path):
    text = "source,target\n" + EDGES_CSV
    path = bad(tmp_path, "e.csv", text)
    assert report(path, "--header") == report(bad(tmp_path, "plain.csv", EDGES_CSV))
    out = run(path)  # the header is read as an edge without --header
    assert json.loads(ok(run(path, "--json")))["graph"]["nodes"] == 7
    gz = bad(tmp_path, "e.gz", gzip.compress(b"\xff no pair, not even text\n" + EDGES_CSV.encode()))
    assert report(gz, "--header") == report(bad(tmp_path, "plain.csv", EDGES_CSV))
    assert report("-", "--header", stdin=text.encode()) == report(path, "--header")
    assert out.returncode == 0


NATIVE_NAMES = ["a", "b", "libc6", "x y", "é", "日本語", "😀", "a\u200bb", "#x", "q\x01r", "'q'", '"dq"', "\\", "a\rb"]


def messy_file(rng):
    """An edge-list file in every form the command reads: tabs and commas,
    padding, comments, blank lines, Windows line ends, a byte order mark."""
    lines = []
    for _ in range(rng.randint(1, 120)):
        kind = rng.random()
        if kind < 0.05:
            lines.append(rng.choice(["", "  ", "\t", "\u3000"]))
        elif kind < 0.1:
            lines.append("# " + rng.choice(NATIVE_NAMES))
        else:
            s, t = rng.choice(NATIVE_NAMES), rng.choice(NATIVE_NAMES)
            pad = lambda name: rng.choice(["", " ", "\u00a0"]) + name + rng.choice(["", " ", "\u2003"])
            line = f"{pad(s)}\t{pad(t)}" if rng.random() < 0.6 else f"{pad(s)},{pad(t)}"
            lines.append(line + rng.choice(["", "\textra", ",x"]))
    text = "".join(line + rng.choice(["\n", "\r\n"]) for line in lines)
    return ("\ufeff" if rng.random() < 0.3 else "") + text


@pytest.mark.parametrize("seed", range(6))
def test_native_reading_agrees_with_the_list_path(tmp_path, seed, monkeypatch, capsys):
    """The report on Graph.read's graph is the report on Graph(read_edges(...)),
    the command's reading before it read natively."""
    from lanternhollow_graph_cli.edges import read_edges

    rng = random.Random(seed)
    data = messy_file(rng).encode()
    header = rng.random() < 0.5
    if header:
        data = b"from\tto\n" + data.removeprefix(b"\xef\xbb\xbf")
    path = bad(tmp_path, "e.tsv", data if rng.random() < 0.5 else gzip.compress(data))
    edges = read_edges(path, header=header)
    if not edges:
        return
    names = list(dict.fromkeys(x for pair in edges for x in pair))
    args = ["--json", "--top", "0", "--build-order"] + ["--header"] * header
    gone = rng.choice(names)
    kept = [x for s, t in edges if gone not in (s, t) for x in (s, t)]
    if kept:
        args += ["--exclude", gone]
    args += ["--focus", rng.choice(kept or names)]
    native = ok(run(path, *args))

    class ListRead(Graph):
        @classmethod
        def read(cls, p, header=False):
            return Graph(read_edges(p, header=header))

    monkeypatch.setattr(command, "Graph", ListRead)
    assert command.main([path, *args]) == 0
    from_list = json.loads(capsys.readouterr().out)
    native = json.loads(native)
    for data in (native, from_list):
        data["graph"].pop("source")
    assert native == from_list


# --- hostile input and a hostile environment -----------------------------------------


def one_line_failure(out, status=2):
    err = out.stderr.decode()
    assert out.returncode == status, err
    assert "Traceback" not in err and err.count("\n") == 1 and err.startswith("lanternhollow-graph: "), err
    return err


def test_damaged_gzip_and_long_lines(tmp_path):
    packed = gzip.compress(b"".join(b"a%d\tb\n" % i for i in range(5000)))
    flipped = bytearray(packed)
    flipped[len(packed) // 2] ^= 0xFF
    for blob in (packed[: len(packed) // 2], bytes(flipped), packed[:15]):
        err = one_line_failure(run(bad(tmp_path, "e.gz", blob)))
        assert "cannot read" in err and "damaged gzip stream" in err
    # A line of 64 MiB: refused at 1 MiB, its line number given, in bounded memory.
    huge = tmp_path / "huge.tsv"
    with open(huge, "wb") as f:
        f.write(b"a\tb\n")
        for _ in range(64):
            f.write(b"x" * (1 << 20))
    # The peak of this process's own memory (VmHWM), not ru_maxrss, which
    # also counts what the test process held when it forked the child.
    script = (
        "import re, sys; from lanternhollow_graph_cli import main; s = main(sys.argv[1:]); "
        "peak = re.search(r'VmHWM:\\s+(\\d+)', open('/proc/self/status').read()).group(1); "
        "print(peak, file=sys.stderr); sys.exit(s)"
    )
    out = subprocess.run([sys.executable, "-c", script, str(huge)], capture_output=True, timeout=120)
    message, peak = out.stderr.decode().splitlines()
    assert out.returncode == 2 and message.endswith("huge.tsv, line 2: longer than 1 MiB")
    assert int(peak) < 200_000  # KiB: the interpreter, the module and a few buffers of 1 MiB


def test_snapshot_errors(tmp_path):
    g = Graph(EDGES)
    g.save(tmp_path / "g.lhg")
    whole = (tmp_path / "g.lhg").read_bytes()
    for name, blob in [("cut", whole[:100]), ("short", whole[:-8]), ("flip", whole[:200] + b"\0" + whole[201:])]:
        err = one_line_failure(run(bad(tmp_path, name, blob)))
        assert err.startswith(f"lanternhollow-graph: {tmp_path / name}: ")
    err = one_line_failure(run(str(tmp_path / "g.lhg"), "--header"))
    assert "is a snapshot, which has no header line" in err
    # Standard input is always an edge list: a snapshot there is no text.
    assert "standard input, line 1" in one_line_failure(run("-", stdin=whole))


def test_outputs_checked_before_any_analysis(tmp_path):
    path = bad(tmp_path, "e.csv", EDGES_CSV)
    (tmp_path / "dir").mkdir()
    cases = [
        (["--save", str(tmp_path / "no" / "g.lhg")], "cannot write"),
        (["--save", str(tmp_path / "dir")], "is not a file name"),
        (["--save", "/dev/null"], "/dev/null is not a regular file"),
        (["--dot", str(tmp_path / "e.csv" / "x.dot")], "cannot write"),
        (["--svg", str(tmp_path / "no" / "x.svg")], "cannot write"),
        (["--png", ""], "is not a file name"),
        (["--dot", "/proc/version/x"], "cannot write"),
    ]
    for option, message in cases:
        out = run(path, *option)
        assert message in one_line_failure(out) and out.stdout == b""
    assert sorted(os.listdir(tmp_path)) == ["dir", "e.csv"]
    assert os.path.exists("/dev/null") and not os.path.isfile("/dev/null")


def test_full_disk_and_closed_standard_output(tmp_path):
    path = bad(tmp_path, "e.csv", EDGES_CSV)
    with open("/dev/full", "wb") as full:
        for args in ([path], [path, "--json"]):
            out = subprocess.run([sys.executable, "-m", "lanternhollow_graph_cli", *args], stdout=full,
                                 stderr=subprocess.PIPE, timeout=60)
            assert "cannot write standard output: No space left on device" in one_line_failure(out)
    # --dot to a full disk, its report elsewhere; a regular file keeps what it held.
    err = one_line_failure(run(path, "--dot", "/dev/full"))
    assert "cannot write /dev/full: No space left on device" in err
    closed = subprocess.run([sys.executable, "-m", "lanternhollow_graph_cli", path, "--save", str(tmp_path / "g")],
                            stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, timeout=60,
                            preexec_fn=lambda: os.close(1))
    assert "standard output: it is closed" in one_line_failure(closed) and not (tmp_path / "g").exists()
    # A reader that goes away after the first line: one line, and nothing more.
    ring = write_edges(tmp_path / "ring.tsv", [(f"r{i}", f"r{(i + 1) % 3000}") for i in range(3000)])
    with subprocess.Popen([sys.executable, "-m", "lanternhollow_graph_cli", str(ring), "--top", "0", "--build-order"],
                          stdout=subprocess.PIPE, stderr=subprocess.PIPE) as reader:
        first = reader.stdout.readline()
        reader.stdout.close()
        err = reader.stderr.read()
        assert reader.wait(timeout=120) != 0
    assert first.decode().startswith("Graph: ")
    assert err.decode() == "lanternhollow-graph: cannot write standard output: Broken pipe\n"


def test_control_characters_are_escaped(tmp_path):
    name = "e\x1b[31m\nx\u2028.tsv"
    out = run(name, cwd=tmp_path)
    assert one_line_failure(out) == "lanternhollow-graph: no such file: e\\x1b[31m\\nx\\u2028.tsv\n"
    (tmp_path / name).write_text("a\tb\x07\nb\x07\tc\n")
    text = ok(run(name, "--focus", "b\x07", cwd=tmp_path))
    assert text.startswith("Graph: e\\x1b[31m\\nx\\u2028.tsv (read") and "Totals for b\\x07" in text
    assert "\x1b" not in text and "\x07" not in text
    # JSON holds the names exactly; the path as the report shows it.
    data = json.loads(ok(run(name, "--json", "--focus", "b\x07", cwd=tmp_path)))
    assert data["focus"]["node"] == "b\x07" and data["graph"]["source"] == "e\\x1b[31m\\nx\\u2028.tsv"
    # Names from arguments that are not UTF-8, and a locale that cannot show the names.
    undecodable = run(str(tmp_path / name), "--focus", os.fsdecode(b"\xff\n"))
    assert "unknown focus: '\\udcff\\n' is not a name" in one_line_failure(undecodable)
    env = dict(os.environ, PYTHONIOENCODING="ascii", LC_ALL="C")
    path = write_edges(tmp_path / "u.tsv", [("日本", "😀"), ("😀", "ü")])
    assert "\\u65e5\\u672c" in ok(run(path, env=env))
    assert {e["node"] for e in json.loads(ok(run(path, "--json", env=env)))["pagerank"]["top"]} == {"日本", "😀", "ü"}


def interrupted(args, delay, stdin=None):
    """The command run with SIGINT delivered after delay seconds."""
    import time

    child = subprocess.Popen(
        [sys.executable, "-m", "lanternhollow_graph_cli", *args],
        stdin=stdin, stdout=subprocess.PIPE, stderr=subprocess.PIPE,
        preexec_fn=lambda: signal.signal(signal.SIGINT, signal.SIG_DFL),
    )
    time.sleep(delay)
    child.send_signal(signal.SIGINT)
    out, err = child.communicate(timeout=60)
    return child.returncode, out, err.decode()


def test_ctrl_c(tmp_path):
    # While reading: standard input a pipe that never ends.
    reader, writer = os.pipe()
    try:
        status, out, err = interrupted(["-"], 1.0, stdin=reader)
    finally:
        os.close(reader)
        os.close(writer)
    assert (status, out, err) == (130, b"", "")
    # While the command's modules load: an import made to stop as Ctrl-C stops it.
    script = (
        "import sys\n"
        "def hook(event, args):\n"
        "    if event == 'import' and args[0] == 'lanternhollow_graph_store': raise KeyboardInterrupt\n"
        "sys.addaudithook(hook)\n"
        "from lanternhollow_graph_cli import main\n"
        "sys.exit(main(sys.argv[1:]))\n"
    )
    out = subprocess.run([sys.executable, "-c", script, bad(tmp_path, "e.csv", EDGES_CSV)], capture_output=True,
                         timeout=60)
    assert (out.returncode, out.stdout, out.stderr) == (130, b"", b"")
    # At any moment of a run once the interpreter has started: exit 130, no traceback, no file left.
    if os.path.exists(DEBIAN):
        for delay in (0.15, 0.3, 0.6, 1.0):
            status, out, err = interrupted([DEBIAN, "--save", str(tmp_path / "d.lhg")], delay)
            # Killed by the signal itself: it came before the interpreter had
            # installed its handler, which a busy machine can take longer than
            # the delay to do. Again a little later, until it has started.
            for later in (0.2, 0.4, 0.8, 1.6):
                if status != -signal.SIGINT:
                    break
                status, out, err = interrupted([DEBIAN, "--save", str(tmp_path / "d.lhg")], delay + later)
            if status == 0:
                break
            assert status == 130 and err == "", err
        assert not [n for n in os.listdir(tmp_path) if n.startswith(".d.lhg") or ".tmp" in n]
