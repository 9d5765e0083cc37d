"""Graph.load of a snapshot against Graph.read of the text file it was saved
from: the snapshot's whole point is to cost a small share of reading.

    python -m bench.load                          # 4 million edges
    python -m bench.load --sizes 4M 100M --rounds 3

The file is the scale benchmark's synthetic one (bench/scale_data.py), kept
in --dir with its snapshot; both are made when missing. Each round reads the
text once and loads the snapshot --loads times, in one process, so that a
machine whose speed drifts slows both alike; the figures are the best of
the rounds, the median beside them, and the share is of those bests. The
snapshot's pages are read in from the disk once before the rounds, as for a
file saved in an earlier session, and stay in the page cache between
rounds, as the text's do.
"""

import argparse
import os
import platform
import statistics
import sys
import time

from bench.scale import RESULTS, parse_size, size_label, write_section
from bench.scale_data import nodes_for, write_edge_file

HEADING = "## Loading a snapshot"


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


def read_back(path):
    """Drops the file's pages from the page cache and reads them in again by
    loading it once: the state of a snapshot saved in an earlier session.
    Right after `save`, the pages the writing left behind take longer to
    map (about 18 ms against 13 ms at 4M edges on the machine of
    bench/results.md)."""
    from lanternhollow_graph_store import Graph

    fd = os.open(path, os.O_RDONLY)
    try:
        os.fsync(fd)
        os.posix_fadvise(fd, 0, 0, os.POSIX_FADV_DONTNEED)
    finally:
        os.close(fd)
    Graph.load(path)


def measure(text, snapshot, rounds, loads):
    from lanternhollow_graph_store import Graph

    read_back(snapshot)
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
    parser.add_argument("--output", default=RESULTS, help="the results file whose section is rewritten ('-': none)")
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
    command = "python -m bench.load " + " ".join(argv if argv is not None else sys.argv[1:])
    text = "\n".join([
        HEADING, "",
        f"Command: `{command.strip()}`; Python {platform.python_version()}, {os.cpu_count()} cores, load average "
        f"{os.getloadavg()[0]:.2f} at the end. Each round reads the text file once and loads its snapshot "
        f"{args.loads} times; best of {args.rounds} rounds (median in brackets), the share of the bests. Both "
        "files in the page cache (the snapshot's read back from the disk once before the rounds), the snapshot "
        "mapped read-only and every section summed and checked.", "",
        *lines, ""])
    print(text)
    if args.output != "-":
        write_section(text, args.output, HEADING)
    return 0


if __name__ == "__main__":
    sys.exit(main())
