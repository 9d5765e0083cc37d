"""Graph.load of a snapshot against Graph.read of the text file it was saved
from: the snapshot's whole point is to cost a small share of reading.

    python -m bench.load                          # 4 million edges
    python -m bench.load --sizes 4M 100M --rounds 3

The file is the scale benchmark's synthetic one (bench/scale_data.py), kept
in --dir with its snapshot; both are made when missing. Each round reads the
text once and loads the snapshot --loads times, in one process, so that a
machine whose speed drifts slows both alike; the figures are the best of
the rounds, the median beside them, and the share is of those bests. The
snapshot's pages stay in the page cache between rounds, as the text's do.
"""

import argparse
import os
import statistics
import sys
import time

from bench.scale import parse_size, size_label
from bench.scale_data import nodes_for, write_edge_file


def files(edges, folder, log):
    from lanternhollow_graph_store import Graph

    os.makedirs(folder, exist_ok=True)
    text = os.path.join(folder, f"edges-{edges}.tsv")
    snapshot = os.path.join(folder, f"graph-{edges}.lhg")
    if not os.path.exists(text):
        log(f"writing {text}")
        write_edge_file(text, nodes_for(edges))
    # A snapshot older than the text, or of another format version, is made again.
    fresh = os.path.exists(snapshot) and os.path.getmtime(snapshot) >= os.path.getmtime(text)
    if fresh:
        try:
            Graph.load(snapshot)
        except ValueError:
            fresh = False
    if not fresh:
        log(f"saving {snapshot}")
        Graph.read(text).save(snapshot)
    return text, snapshot


def measure(text, snapshot, rounds, loads):
    from lanternhollow_graph_store import Graph

    reads, loaded = [], []
    for _ in range(rounds):
        start = time.perf_counter()
        g = Graph.read(text)
        reads.append(time.perf_counter() - start)
        edges = g.edge_count
        del g
        for _ in range(loads):
            start = time.perf_counter()
            g = Graph.load(snapshot)
            loaded.append(time.perf_counter() - start)
            if g.edge_count != edges:
                raise AssertionError("the snapshot is not the graph of the file")
            del g
    return reads, loaded


def main(argv=None):
    parser = argparse.ArgumentParser(prog="python -m bench.load", description=__doc__.split("\n\n")[0])
    parser.add_argument("--sizes", nargs="+", default=["4M"], help="edge counts: 4M, 100M, 250000 ...")
    parser.add_argument("--rounds", type=int, default=5)
    parser.add_argument("--loads", type=int, default=10, help="loads a round")
    parser.add_argument("--dir", default="/tmp/lhg-scale-load")
    args = parser.parse_args(argv)

    def log(text):
        print(text, file=sys.stderr, flush=True)

    lines = ["| edges | Graph.read | Graph.load | load ÷ read |", "|---|---:|---:|---:|"]
    for size in args.sizes:
        edges = parse_size(size)
        text, snapshot = files(edges, args.dir, log)
        reads, loaded = measure(text, snapshot, args.rounds, args.loads)
        lines.append(f"| {size_label(edges)} | {min(reads) * 1e3:.0f} ms ({statistics.median(reads) * 1e3:.0f} ms) "
                     f"| {min(loaded) * 1e3:.1f} ms ({statistics.median(loaded) * 1e3:.1f} ms) "
                     f"| {100 * min(loaded) / min(reads):.2f} % |")
    print("\n".join(lines))
    return 0


if __name__ == "__main__":
    sys.exit(main())
