"""Graph.from_arrow against Graph(list) of the same pairs.

    python -m bench --only arrow                   # synthetic, 4 million edges
    python -m bench.arrow --nodes 200000 --rounds 5

Every contender starts from data already in memory: Graph(list) from the
Python list of (str, str) tuples, from_arrow from a pyarrow Table of the
same rows (one chunk, or chunks of 64Ki rows), with utf8, large_utf8 and
string_view columns, from a dictionary-encoded source column, and from a
polars DataFrame. One call of each per round, in alternating rounds, so
that the machine's drift falls on all alike; each figure is the best of its
rounds, the median beside it, and its ratio to Graph(list) is of those
best times. Every graph built is checked equal to Graph(list)'s.
"""

import argparse
import gc
import statistics
import sys
import time

from bench.data import synthetic_edges

CHUNK = 1 << 16


def contenders(edges):
    import pyarrow as pa
    import pyarrow.compute as pc

    from lanternhollow_graph_store import Graph

    sources = pa.array([s for s, _ in edges], pa.string())
    targets = pa.array([t for _, t in edges], pa.string())
    table = pa.table({"source": sources, "target": targets})
    rows = [
        ("Graph(list)", lambda: Graph(edges)),
        ("from_arrow, utf8", lambda: Graph.from_arrow(table)),
        ("from_arrow, utf8, 64Ki-row chunks",
         (lambda t: lambda: Graph.from_arrow(t))(pa.Table.from_batches(table.to_batches(max_chunksize=CHUNK)))),
        ("from_arrow, large_utf8", (lambda t: lambda: Graph.from_arrow(t))(
            table.cast(pa.schema([("source", pa.large_string()), ("target", pa.large_string())])))),
        ("from_arrow, string_view", (lambda t: lambda: Graph.from_arrow(t))(
            table.cast(pa.schema([("source", pa.string_view()), ("target", pa.string_view())])))),
        ("from_arrow, dictionary source", (lambda t: lambda: Graph.from_arrow(t))(
            pa.table({"source": pc.dictionary_encode(sources), "target": targets}))),
    ]
    try:
        import polars as pl
    except ImportError:
        pass
    else:
        frame = pl.from_arrow(table)
        rows.append(("from_arrow, polars DataFrame", lambda: Graph.from_arrow(frame)))
    return rows


def run(edges, rounds):
    rows = contenders(edges)
    reference = rows[0][1]()
    for label, call in rows[1:]:
        if call() != reference:
            raise AssertionError(f"{label}: not the graph of the list")
    del reference
    times = {label: [] for label, _ in rows}
    for _ in range(rounds):
        for label, call in rows:
            gc.collect()
            start = time.perf_counter()
            graph = call()
            times[label].append(time.perf_counter() - start)
            del graph
    base = min(times[rows[0][0]])
    lines = [f"{len(edges):,} edges, {rounds} alternating rounds; best (median), ratio of best to Graph(list)",
             "",
             "| call | best | median | ratio |",
             "|---|---:|---:|---:|"]
    for label, _ in rows:
        best = min(times[label])
        lines.append(f"| {label} | {best * 1e3:.0f} ms | {statistics.median(times[label]) * 1e3:.0f} ms "
                     f"| {best / base:.2f}× |")
    return "\n".join(lines)


def main(argv=None):
    parser = argparse.ArgumentParser(prog="python -m bench.arrow", description=__doc__.split("\n\n")[0])
    parser.add_argument("--nodes", type=int, default=800_000,
                        help="nodes of the synthetic graph (800,000: about 4 million edges)")
    parser.add_argument("--rounds", type=int, default=7)
    args = parser.parse_args(argv)
    edges = synthetic_edges(nodes=args.nodes)
    print(run(edges, args.rounds))
    return 0


if __name__ == "__main__":
    sys.exit(main())
