"""The module object: import, re-import, attributes, signatures, docstrings,
and the refusal of a second interpreter."""

import importlib
import inspect
import os
import subprocess
import sys

import pytest

import lanternhollow_graph as lg

TABLE = [
    "pagerank",
    "strongly_connected",
    "ancestors_at_depth",
    "descendants_at_depth",
    "betweenness",
    "sampled_betweenness",
    "batch_ancestors",
    "batch_descendants",
    "subgraph",
]
SIGNATURES = {
    "pagerank": "(edges, alpha=0.85, max_iter=100)",
    "strongly_connected": "(edges)",
    "ancestors_at_depth": "(edges, target, max_depth)",
    "descendants_at_depth": "(edges, source, max_depth)",
    "betweenness": "(edges, normalized=True)",
    "sampled_betweenness": "(edges, sample_size=100, seed=42, normalized=True)",
    "batch_ancestors": "(edges, targets, max_depth)",
    "batch_descendants": "(edges, sources, max_depth)",
    "subgraph": "(edges, seed_nodes, max_depth=2, include_incoming=True, include_outgoing=True)",
}
STANDARD = {"__doc__", "__file__", "__loader__", "__name__", "__package__", "__spec__"}


def registered():
    return [name for name in TABLE if hasattr(lg, name)]


def test_all_lists_the_registered_functions_in_table_order():
    assert isinstance(lg.__all__, list)
    assert lg.__all__ == registered()
    assert {"ancestors_at_depth", "descendants_at_depth"} <= set(lg.__all__)


def test_public_attributes_are_exactly_the_functions_and_all():
    assert set(vars(lg)) - STANDARD == set(lg.__all__) | {"__all__"}
    assert lg.__doc__ == "Python module definition for lanternhollow_graph."


@pytest.mark.parametrize("name", TABLE)
def test_function_objects(name):
    if not hasattr(lg, name):
        pytest.skip(f"{name} not built yet")
    fn = getattr(lg, name)
    assert fn.__module__ == "lanternhollow_graph"
    assert fn.__self__ is lg
    assert fn.__name__ == name
    assert str(inspect.signature(fn)) == SIGNATURES[name]
    assert fn.__text_signature__ == SIGNATURES[name]
    assert not fn.__doc__.startswith(name)  # the signature is split off the docstring


def test_depth_docstrings():
    assert lg.descendants_at_depth.__doc__ == (
        "Find all descendants up to a maximum depth using BFS.\n\n# Arguments\n"
        "* `edges` - List of (source, target) edge tuples\n* `source` - Starting node ID\n"
        "* `max_depth` - Maximum traversal depth\n\n# Returns\n"
        "HashMap mapping descendant node ID to its depth from the source"
    )
    assert lg.ancestors_at_depth.__doc__.endswith("HashMap mapping ancestor node ID to its depth from the target")


def test_reimport_returns_the_identical_module():
    first = sys.modules.pop("lanternhollow_graph")
    try:
        second = importlib.import_module("lanternhollow_graph")
        assert second is first
        assert second.__all__ is first.__all__
    finally:
        sys.modules["lanternhollow_graph"] = first


def test_every_function_can_be_called_by_keyword_only():
    edges = [("a", "b")]
    assert lg.descendants_at_depth(edges=edges, source="a", max_depth=1) == {"b": 1}
    assert lg.ancestors_at_depth(max_depth=1, target="b", edges=edges) == {"a": 1}


INNER = """
import os
try:
    import lanternhollow_graph
    msg = "imported"
except ImportError as e:
    msg = "ImportError: " + str(e)
except BaseException as e:
    msg = "other: " + repr(e)
os.write(%d, msg.encode())
"""

SUBINTERPRETER = f"""
import os, _testcapi
import lanternhollow_graph
r, w = os.pipe()
status = _testcapi.run_in_subinterp({INNER!r} % w)
os.close(w)
print(status, os.read(r, 4096).decode())
# The main interpreter keeps working.
print(lanternhollow_graph.descendants_at_depth([("a", "b")], "a", 1))
"""


def test_second_interpreter_is_refused():
    pytest.importorskip("_testcapi")
    out = subprocess.run([sys.executable, "-c", SUBINTERPRETER], capture_output=True, text=True, timeout=60)
    assert out.returncode == 0, out.stderr
    first, second = out.stdout.splitlines()
    assert first.startswith("0 ImportError: ")
    assert "sub-interpreters" in first
    assert second == "{'b': 1}"
