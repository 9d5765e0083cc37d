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


# Pieces of synthetic package names. Only rng.random() is drawn from the
# generator: its sequence for a given integer seed is the one part of the
# random module that is promised to stay the same across Python versions
# (randrange, choice and shuffle have changed before).
_PREFIXES = ("", "", "", "lib", "lib", "python3-", "node-", "r-cran-", "golang-", "ruby-", "fonts-", "texlive-")
_SYLLABLES = ("ab", "ar", "bel", "cor", "da", "el", "fi", "gen", "hor", "ix", "jo", "ka", "lu", "mer",
              "no", "om", "pa", "qu", "ros", "si", "tor", "ul", "ver", "wo", "xen", "yo", "zed")
_SUFFIXES = ("", "", "", "", "-dev", "-dev", "-common", "-data", "-utils", "-doc", "-bin", "-tools")


def _pick(rng, seq):
    return seq[int(rng.random() * len(seq))]


def _synthetic_name(rng, i):
    stem = "".join(_pick(rng, _SYLLABLES) for _ in range(1 + int(rng.random() * 5)))
    # The number keeps every name distinct; the rest varies the length
    # (roughly 5 to 40 characters) and the shared prefixes a package index has.
    return f"{_pick(rng, _PREFIXES)}{stem}{i}{_pick(rng, _SUFFIXES)}"


def synthetic_edges(seed=20240607, nodes=200_000, leaf_share=0.2, mean_out=6.1, back_share=0.02):
    """A dependency-shaped edge list of about 5 * nodes edges over `nodes` names.

    Packages arrive one at a time. About leaf_share of them depend on nothing
    (data, fonts, base packages); each of the others depends on every leaf
    that arrived since the previous one (as foo depends on foo-data, so that
    no leaf is left out of the edge list) and on a geometric number (mean
    mean_out) of distinct earlier packages, each chosen with probability
    proportional to 1 + its in-degree so far (preferential attachment: a few
    base libraries end up with most of the reverse dependencies). Then
    back_share * (forward edge count) back edges close small cycles: each
    runs from a rarely used dependency of a random package (in-degree at
    most 4, and itself depending on something) back to that package. The
    edges are listed grouped by source, the sources in a shuffled order, as
    a package index sorted by name lists them; no pair occurs twice and
    there are no self loops. The same arguments give the same list on every
    run and every Python version.
    """
    import random

    rng = random.Random(seed)
    keep_going = 1.0 - 1.0 / mean_out
    names = [_synthetic_name(rng, i) for i in range(nodes)]
    deps = [[] for _ in range(nodes)]
    weight = [1] * nodes
    pool = []  # node i appears weight[i] = 1 + in-degree(i) times
    waiting = []  # leaves that no package depends on yet
    for i in range(nodes):
        if not pool or rng.random() < leaf_share:
            waiting.append(i)
        else:
            # Geometric with mean mean_out: comparisons only, so no libm
            # rounding can change the list between platforms.
            want = 1
            while rng.random() < keep_going:
                want += 1
            want = min(want, i)
            chosen = set(waiting)
            waiting.clear()
            tries = 0
            while len(chosen) < want and tries < 4 * want:
                chosen.add(pool[int(rng.random() * len(pool))])
                tries += 1
            deps[i] = sorted(chosen)
            pool.extend(deps[i])
            for t in deps[i]:
                weight[t] += 1
        pool.append(i)
    owner = next((i for i in range(nodes - 1, -1, -1) if deps[i]), None)
    if waiting and owner is not None:  # leaves after the last package with dependencies
        deps[owner].extend(waiting)
    forward = sum(map(len, deps))
    with_deps = [i for i in range(nodes) if deps[i]]
    back = set()
    attempts = 0
    while len(back) < int(forward * back_share) and attempts < 10 * forward:
        attempts += 1
        start = with_deps[int(rng.random() * len(with_deps))]
        v = deps[start][int(rng.random() * len(deps[start]))]
        if weight[v] <= 5 and v < start and deps[v]:
            back.add((v, start))
    for v, start in sorted(back):
        deps[v].append(start)
    order = list(range(nodes))
    for i in range(nodes - 1, 0, -1):
        j = int(rng.random() * (i + 1))
        order[i], order[j] = order[j], order[i]
    return [(names[s], names[t]) for s in order for t in deps[s]]
