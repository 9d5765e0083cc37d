"""The scale benchmark's own parts: the streamed edge file against a literal
reading of it, each peer's reader against the file's edges by name, and the
rewriting of its section of the results.

    python -m pytest bench/test_scale.py
"""

import collections
import json
import os
import re
import subprocess
import sys

import numpy as np
import pytest

from bench import scale
from bench.scale_data import NameBuffer, write_edge_file

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))


def file_edges(path):
    with open(path, "rb") as f:
        data = f.read().decode("utf-8")
    assert data.endswith("\n")
    lines = data[:-1].split("\n")
    pairs = [tuple(line.split("\t")) for line in lines]
    assert all(len(p) == 2 for p in pairs)
    return pairs


def read_text(path):
    with open(path) as f:
        return f.read()


@pytest.fixture(scope="module")
def small_file(tmp_path_factory):
    path = str(tmp_path_factory.mktemp("scale") / "edges.tsv")
    return path, write_edge_file(path, 3000, chunk_sources=700)


def test_edge_file_is_what_it_says(small_file):
    path, info = small_file
    edges = file_edges(path)
    names = {n for pair in edges for n in pair}
    assert info["edges"] == len(edges)
    assert info["nodes"] == len(names)
    assert info["name_bytes"] == sum(len(n.encode()) for n in names)
    assert info["file_bytes"] == os.path.getsize(path)
    with open(path + ".json") as f:
        assert json.load(f) == info
    assert len(set(edges)) == len(edges), "a repeated pair"
    assert all(s != t for s, t in edges), "a self loop"
    assert all(re.fullmatch(r"[a-z0-9-]+[a-z](\d+)[a-z-]*==?\d+\.\d+\.\d+(-\d+)?", n) for n in names)
    # Grouped by source: a source's edges lie together, back edges excepted
    # (about 2 %, each after its chunk's forward edges).
    runs = sum(1 for i, (s, _) in enumerate(edges) if i == 0 or edges[i - 1][0] != s)
    assert runs < 1.1 * len({s for s, _ in edges})
    # Dependency-shaped: a fifth of the nodes depend on nothing, and the
    # most depended-on node has far more than its share.
    sources = {s for s, _ in edges}
    assert 0.12 < 1 - len(sources) / len(names) < 0.3
    indegree = collections.Counter(t for _, t in edges)
    assert max(indegree.values()) > 20 * len(edges) / len(names)


def test_edge_file_is_the_same_for_the_same_seed(small_file, tmp_path):
    path, info = small_file
    again = str(tmp_path / "again.tsv")
    assert write_edge_file(again, 3000, chunk_sources=700) == info
    with open(path, "rb") as a, open(again, "rb") as b:
        assert a.read() == b.read()
    other = str(tmp_path / "other.tsv")
    write_edge_file(other, 3000, seed=1)
    assert read_text(other) != read_text(path)


def test_lines_are_the_literal_join():
    rng = np.random.Generator(np.random.PCG64(7))
    names = NameBuffer(rng, 500, chunk=97)
    literal = [names.name(v).encode() for v in range(500)]
    assert len(set(literal)) == 500
    for m in (0, 1, 2, 1000):
        s = rng.integers(0, 500, m)
        t = rng.integers(0, 500, m)
        expected = b"".join(literal[a] + b"\t" + literal[b] + b"\n" for a, b in zip(s.tolist(), t.tolist()))
        assert names.lines(s, t).tobytes() == expected


def _peer_edges(step, out):
    """The peer's edges, by name, as a Counter."""
    if step == "igraph":
        name = out.vs["name"]
        return collections.Counter((name[a], name[b]) for a, b in out.get_edgelist())
    if step == "networkit":
        graph, node_map = out
        name = {v: k for k, v in node_map.items()}
        return collections.Counter((name[a], name[b]) for a, b in graph.iterEdges())
    names, matrix = out
    names = names.to_list() if step == "polars" else names.to_pylist()
    coo = matrix.tocoo()
    return collections.Counter({(names[a], names[b]): int(w) for a, b, w in zip(coo.row, coo.col, coo.data)})


@pytest.mark.parametrize("step", scale.PEERS)
def test_peer_reads_every_edge_by_name(small_file, step):
    pytest.importorskip({"pyarrow": "pyarrow.csv"}.get(step, step))
    if step in ("polars", "pyarrow"):
        pytest.importorskip("scipy")
    path, info = small_file
    reader = getattr(scale, f"read_{step}")
    assert _peer_edges(step, reader(path)) == collections.Counter(file_edges(path))


def test_section_is_rewritten_in_place(tmp_path):
    path = str(tmp_path / "results.md")
    first = scale.SECTION + "\n\nold\n"
    scale.write_section(first, path)
    assert read_text(path) == first
    with open(path, "w") as f:
        f.write("# Results\n\n## Before\n\nx\n\n" + first + "\n## After\n\ny\n")
    scale.write_section(scale.SECTION + "\n\nnew\n\n### sub\n", path)
    assert read_text(path) == ("# Results\n\n## Before\n\nx\n\n" + scale.SECTION + "\n\nnew\n\n### sub\n"
                                 "\n## After\n\ny\n")
    with open(path, "w") as f:
        f.write("# Results\n\n## Other\n")
    scale.write_section(first, path)
    assert read_text(path) == "# Results\n\n## Other\n\n" + first


@pytest.mark.slow
def test_end_to_end_small(tmp_path):
    pytest.importorskip("lanternhollow_graph_store")
    out = str(tmp_path / "results.md")
    subprocess.run([sys.executable, "-m", "bench.scale", "--sizes", "20K", "--no-peers", "--output", out,
                    "--dir", str(tmp_path / "files")], check=True, cwd=ROOT, capture_output=True)
    text = read_text(out)
    assert text.startswith(scale.SECTION)
    for step in ("Graph.read", "save", "Graph.load", "pagerank", "strongly_connected", "descendants_at_depth",
                 "ancestors_at_depth"):
        assert f"| {step}" in text
    assert "within 16 GiB" in text
    assert os.listdir(tmp_path / "files") == []


def test_load_bench_makes_its_files_and_remakes_a_snapshot_it_cannot_load(tmp_path, capsys):
    from bench import load

    assert load.main(["--sizes", "3000", "--rounds", "1", "--loads", "2", "--dir", str(tmp_path), "--output", "-"]) == 0
    row = capsys.readouterr().out.strip().splitlines()[-1]
    assert re.fullmatch(r"\| 3,000 \| \d+ ms \(\d+ ms\) \| [\d.]+ ms \([\d.]+ ms\) \| [\d.]+ % \|", row), row
    # A snapshot that does not load (another format version, say) is saved again.
    snapshot = tmp_path / "graph-3000.lhg"
    snapshot.write_bytes(b"\x89LHG\r\n\x1a\n" + bytes(120))
    results = tmp_path / "results.md"
    results.write_text("# Results\n\n## Loading a snapshot\n\nold\n\n## Later\n\nkept\n")
    assert load.main(["--sizes", "3000", "--rounds", "1", "--loads", "1", "--dir", str(tmp_path),
                      "--output", str(results)]) == 0
    from lanternhollow_graph_store import Graph
    assert Graph.load(str(snapshot)).edge_count > 0
    text = results.read_text()
    assert text.count("## Loading a snapshot") == 1 and "old" not in text and text.endswith("## Later\n\nkept\n")
