"""Edge lists for benchmarks and demos."""

import gzip
import itertools
import os
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
DEBIAN = os.path.join(ROOT, "..", "shared", "data", "debian-bookworm-depends.tsv.gz")


def read_edges(path):
    """(source, target) pairs from a tab- or comma-separated file, .gz accepted."""
    opener = gzip.open if path.endswith(".gz") else open
    edges = []
    with opener(path, "rt", encoding="utf-8") as f:
        for line in f:
            line = line.rstrip("\n")
            if not line:
                continue
            sep = "\t" if "\t" in line else ","
            source, target = line.split(sep, 1)
            edges.append((source, target))
    return edges


def debian_edges():
    return read_edges(DEBIAN)


def floor(edges):
    """What the benchmark calls the floor: one dict over every name."""
    return dict.fromkeys(itertools.chain.from_iterable(edges), 0)


def median_time(fn, repeat=7):
    times = []
    for _ in range(repeat):
        t0 = time.perf_counter()
        fn()
        times.append(time.perf_counter() - t0)
    times.sort()
    return times[len(times) // 2]
