"""The demo runs end to end and turns bad input into one clear line."""

import os
import subprocess
import sys

import pytest

DEMO = os.path.join(os.path.dirname(os.path.dirname(os.path.abspath(__file__))), "examples", "demo.py")
pytestmark = pytest.mark.skipif(not os.path.exists(DEMO), reason="the examples are not beside the tests")


def run(tmp_path, *args):
    return subprocess.run(
        [sys.executable, DEMO, "--out", str(tmp_path / "hood"), *args],
        capture_output=True,
        text=True,
        timeout=300,
        cwd=tmp_path,
    )


def test_edge_file(tmp_path):
    edges = tmp_path / "edges.csv"
    edges.write_text("app,web\nweb,http\nhttp,web\napp,db\n# a comment\n\ndb,libc\nhttp,libc\n")
    out = run(tmp_path, "--edges", str(edges), "--focus", "web")
    assert out.returncode == 0, out.stderr
    text = out.stdout
    assert "5 nodes, 6 edges" in text
    for heading in ("Most central by PageRank", "Cycles (strongly connected", "Bottlenecks", "What web depends on"):
        assert heading in text
    assert "http, web" in text or "web, http" in text
    dot = (tmp_path / "hood.dot").read_text()
    assert dot.startswith("digraph") and '"web" -> "http";' in dot


def test_standard_library(tmp_path):
    out = run(tmp_path)
    assert out.returncode == 0, out.stderr
    assert "imports of the standard library" in out.stdout


@pytest.mark.parametrize(
    "content, args, message",
    [
        (None, ["--edges", "missing.tsv"], "no such file"),
        ("", [], "the graph is empty"),
        ("a\tb\n", ["--focus", "zzz"], "unknown focus node: 'zzz'"),
        ("just-one-name\n", [], "expected two names"),
    ],
)
def test_bad_input_is_one_line_without_traceback(tmp_path, content, args, message):
    if content is not None:
        (tmp_path / "edges.tsv").write_text(content)
        args = ["--edges", str(tmp_path / "edges.tsv"), *args]
    out = run(tmp_path, *args)
    assert out.returncode == 2
    assert "Traceback" not in out.stderr
    assert out.stderr.startswith("demo: ") and message in out.stderr
