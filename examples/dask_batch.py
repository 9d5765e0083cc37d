"""A batch query answered by dask.distributed workers that share one snapshot.

A graph saved with `Graph.save` is loaded by every worker process with
`Graph.load`. Loading maps the file read-only, so on one machine the
workers' graphs are the same pages of the page cache, held once however
many workers there are (the figures printed at the end show it: each
worker's share of the mapping is its size divided among the processes that
map it); on several machines each maps its own copy of the file.
Each worker loads the graph once, when it starts, through a worker plugin,
not once per task. The start names of a batch query are split into chunks,
each worker answers its chunks with `batch_descendants` or
`batch_ancestors`, and the chunks' answers are joined in the order of the
starts: the result is the dict that one process's call on the whole batch
returns, the same keys in the same order and the same depths. The results
travel back to the client pickled, which is where the time of a large batch
goes; a query whose answers are large is better summed up on the workers.

    python examples/dask_batch.py                      # a random graph, two local workers
    python examples/dask_batch.py --snapshot FILE --workers 4 --starts 10000 --depth -1

This shares out the queries, not the graph: every worker holds all of it.
"""

import argparse
import random
import tempfile
import time

from distributed import Client, LocalCluster, WorkerPlugin, get_worker, wait

from lanternhollow_graph_store import Graph


def plugin_name(path):
    return f"lanternhollow-graph-snapshot:{path}"


class SnapshotPlugin(WorkerPlugin):
    """Loads the snapshot at `path` once in each worker, including workers
    that join the cluster later; tasks find it by the plugin's name."""

    def __init__(self, path):
        self.path = path
        self.name = plugin_name(path)
        self.graph = None

    def setup(self, worker):
        self.graph = Graph.load(self.path)


def _graph(path):
    return get_worker().plugins[plugin_name(path)].graph


def _answer(path, direction, starts, max_depth):
    graph = _graph(path)
    if direction == "descendants":
        return graph.batch_descendants(starts, max_depth, threads=1)
    return graph.batch_ancestors(starts, max_depth, threads=1)


def register(client, path):
    """Has every worker, present and future, load the snapshot at `path`.

    The workers must be able to import this module, as with any code that
    dask runs (run as a script, it travels with the tasks)."""
    client.register_plugin(SnapshotPlugin(path))


def batch_query(client, path, starts, direction="descendants", max_depth=None, chunk=256, timeout=None):
    """`batch_descendants(starts, max_depth)` (or `batch_ancestors`) of the
    graph at `path`, answered by the cluster's workers in chunks of `chunk`
    starts; `timeout` seconds at most, if given. `register(client, path)`
    must have been called first."""
    if direction not in ("descendants", "ancestors"):
        raise ValueError(f"direction must be 'descendants' or 'ancestors', not {direction!r}")
    starts = list(starts)
    chunks = [starts[i : i + chunk] for i in range(0, len(starts), chunk)]
    futures = [client.submit(_answer, path, direction, part, max_depth, pure=False) for part in chunks]
    wait(futures, timeout=timeout)
    result = {}
    # A start named twice keeps the place of its first mention, as in one
    # call: update never moves a key already present.
    for part in client.gather(futures):
        result.update(part)
    return result


def _mapping(path):
    """Resident and proportional bytes of this process's mapping of `path`."""
    rss = pss = 0
    inside = False
    with open("/proc/self/smaps") as f:
        for line in f:
            head = line.split(None, 1)[0]
            if "-" in head and not head.endswith(":"):  # the first line of a mapping
                inside = line.rstrip("\n").endswith(path)
            elif inside and head == "Rss:":
                rss += int(line.split()[1]) * 1024
            elif inside and head == "Pss:":
                pss += int(line.split()[1]) * 1024
    return rss, pss


def random_graph(nodes, edges, seed=1):
    """Dependency-like: each package depends on older ones, the oldest most."""
    rng = random.Random(seed)
    names = [f"pkg{i}" for i in range(nodes)]
    pairs = []
    for _ in range(edges):
        source = rng.randrange(1, nodes)
        pairs.append((names[source], names[int(source * rng.random() ** 3)]))
    return pairs


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--snapshot", help="a file written by Graph.save (default: a random graph)")
    parser.add_argument("--workers", type=int, default=2)
    parser.add_argument("--starts", type=int, default=2000)
    parser.add_argument("--depth", type=int, default=2, help="levels to follow (default 2; -1: no limit)")
    parser.add_argument("--chunk", type=int, default=256)
    args = parser.parse_args()
    depth = None if args.depth < 0 else args.depth
    with tempfile.TemporaryDirectory() as folder:
        path = args.snapshot
        if path is None:
            path = f"{folder}/graph.lhg"
            Graph(random_graph(200_000, 1_000_000)).save(path)
        graph = Graph.load(path)
        names = graph.names()
        starts = random.Random(42).sample(names, min(args.starts, len(names)))
        t0 = time.perf_counter()
        alone = graph.batch_descendants(starts, depth)
        t_alone = time.perf_counter() - t0
        with LocalCluster(n_workers=args.workers, processes=True, threads_per_worker=1,
                          dashboard_address=None) as cluster, Client(cluster) as client:
            register(client, path)
            t0 = time.perf_counter()
            shared = batch_query(client, path, starts, max_depth=depth, chunk=args.chunk)
            t_shared = time.perf_counter() - t0
            mappings = client.run(_mapping, path)
        print(f"{len(starts)} starts over {graph.node_count:,} nodes and {graph.edge_count:,} edges")
        print(f"one process: {t_alone:.2f} s; {args.workers} workers: {t_shared:.2f} s")
        print("the same answer, keys in the same order:", shared == alone and list(shared) == list(alone))
        for worker, (rss, pss) in sorted(mappings.items()):
            print(f"  {worker}: snapshot resident {rss / 2**20:.1f} MiB, its share {pss / 2**20:.1f} MiB")


if __name__ == "__main__":
    main()
