"""examples/dask_batch.py on two local worker processes against the same
batch query answered in one process: the same dict, keys in the same order."""

import importlib
import os
import random
import sys

import pytest

pytest.importorskip("distributed")

from distributed import Client, LocalCluster  # noqa: E402

from lanternhollow_graph_store import Graph  # noqa: E402

EXAMPLE = os.path.join(os.path.dirname(os.path.dirname(os.path.abspath(__file__))), "examples", "dask_batch.py")


@pytest.fixture(scope="module")
def dask_batch():
    # On the path before the cluster starts: its worker processes start with
    # the path of this one, and import the example as this one does.
    sys.path.insert(0, os.path.dirname(EXAMPLE))
    try:
        yield importlib.import_module("dask_batch")
    finally:
        sys.path.remove(os.path.dirname(EXAMPLE))
        sys.modules.pop("dask_batch", None)


def random_edges(rng, n, m):
    """Parallel edges, self loops, unicode and empty names."""
    names = ["", "é", "名前", "a\tb", "x" * 300] + [f"n{i}" for i in range(n)]
    return [(rng.choice(names), rng.choice(names)) for _ in range(m)]


@pytest.fixture(scope="module")
def client(dask_batch):
    # One cluster for the module: starting one takes seconds.
    with LocalCluster(n_workers=2, processes=True, threads_per_worker=1, dashboard_address=None) as cluster:
        with Client(cluster) as c:
            yield c


@pytest.mark.slow
def test_workers_answer_as_one_process(dask_batch, client, tmp_path):
    rng = random.Random(3)
    for round_ in range(3):
        path = str(tmp_path / f"graph{round_}.lhg")
        Graph(random_edges(rng, rng.randrange(5, 200), rng.randrange(1, 600))).save(path)
        graph = Graph.load(path)
        dask_batch.register(client, path)
        names = graph.names()
        # Starts named twice, in any order, across chunk boundaries.
        starts = [rng.choice(names) for _ in range(rng.randrange(1, 60))]
        for direction in ("descendants", "ancestors"):
            alone = getattr(graph, f"batch_{direction}")
            for depth in (None, 0, 1, 3):
                for chunk in (1, 7, 1000):
                    shared = dask_batch.batch_query(client, path, starts, direction, depth, chunk=chunk, timeout=60)
                    expected = alone(starts, depth)
                    assert shared == expected
                    assert list(shared) == list(expected)
                    assert [list(v) for v in shared.values()] == [list(v) for v in expected.values()]
        # Each worker loaded the graph when the plugin came, and only then.
        loaded = client.run(lambda dask_worker: id(dask_worker.plugins[dask_batch.plugin_name(path)].graph))
        dask_batch.batch_query(client, path, starts, timeout=60)
        assert client.run(lambda dask_worker: id(dask_worker.plugins[dask_batch.plugin_name(path)].graph)) == loaded
        assert len(loaded) == 2


def test_names_not_in_the_graph_and_bad_directions(dask_batch, client, tmp_path):
    path = str(tmp_path / "small.lhg")
    Graph([("a", "b"), ("b", "c")]).save(path)
    dask_batch.register(client, path)
    assert dask_batch.batch_query(client, path, []) == {}
    with pytest.raises(KeyError, match="zz"):
        dask_batch.batch_query(client, path, ["a", "zz"], timeout=60)
    with pytest.raises(ValueError, match="direction"):
        dask_batch.batch_query(client, path, ["a"], "sideways")
