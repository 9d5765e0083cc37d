"""pagerank(edges) with its defaults against the floor, on the Debian graph
and on a synthetic graph of about a million edges, with the time of one
literal iteration (every dangling share added node by node) and, where
scipy is installed, a 100-iteration power iteration over a sparse matrix,
names mapped to indices included.

    python -m bench.pagerank_fast_ratio
"""

import random
import time

import lanternhollow_graph as lg

from bench.data import debian_edges, floor, median_time

try:
    import _lanternhollow_graph_testing as testing
except ImportError:  # built without the testing module
    testing = None


def synthetic_edges(nodes=200_000, edges_per_source=6.0, dangling=0.2, back=0.03, seed=20240611):
    """Preferential attachment: each node with outgoing edges points mostly at
    earlier nodes picked in proportion to the edges they already have; a few
    edges point forward instead, closing cycles. A fifth of the nodes have no
    outgoing edges; each of them is the target of at least one edge, so that
    every node is named in the list."""
    rng = random.Random(seed)
    names = [f"pkg{i}" for i in range(nodes)]
    is_dangling = [rng.random() < dangling for _ in range(nodes)]
    is_dangling[0] = False
    sources = [v for v in range(nodes) if not is_dangling[v]]
    ends = [0]
    edges = []
    for v in range(1, nodes):
        if is_dangling[v]:
            u = rng.choice(sources)
            edges.append((names[u], names[v]))
            ends.append(v)
            continue
        for _ in range(max(1, round(rng.expovariate(1 / edges_per_source)))):
            if rng.random() < back:
                t = rng.randrange(v + 1, nodes) if v + 1 < nodes else v
            elif rng.random() < 0.8:
                t = rng.choice(ends)
            else:
                t = rng.randrange(v)
            edges.append((names[v], names[t]))
            ends.append(t)
    return edges


def scipy_pagerank(edges, alpha=0.85, max_iter=100):
    import numpy as np
    import scipy.sparse as sp

    index = {}
    src = np.fromiter((index.setdefault(s, len(index)) for s, _ in edges), dtype=np.int64, count=len(edges))
    dst = np.fromiter((index.setdefault(t, len(index)) for _, t in edges), dtype=np.int64, count=len(edges))
    n = len(index)
    out = np.bincount(src, minlength=n).astype(float)
    m = sp.csr_matrix((np.ones(len(edges)), (dst, src)), shape=(n, n))
    dangling = out == 0
    inv = np.where(dangling, 0.0, 1.0 / np.where(dangling, 1.0, out))
    x = np.full(n, 1.0 / n)
    for _ in range(max_iter):
        x = alpha * (m @ (x * inv)) + (alpha * x[dangling].sum() + 1.0 - alpha) / n
    return dict(zip(index, x))


def report(label, edges, repeat=5):
    floor(edges)  # warm the str hash caches
    t_floor = median_time(lambda: floor(edges), 11)
    t_pagerank = median_time(lambda: lg.pagerank(edges), repeat)
    sources = {s for s, _ in edges}
    nodes = len(floor(edges))
    print(f"{label}: edges {len(edges)}  nodes {nodes}  dangling {nodes - len(sources)}")
    print(f"  floor {t_floor * 1e3:.1f} ms")
    print(f"  pagerank (100 iterations) {t_pagerank * 1e3:.1f} ms  ratio {t_pagerank / t_floor:.2f}x")
    if testing is not None:
        t_one = median_time(lambda: testing.pagerank_literal(edges, 0.85, 1), 3)
        t_zero = median_time(lambda: testing.pagerank_literal(edges, 0.85, 0), 3)
        print(f"  literal order: {(t_one - t_zero) * 1e3:.1f} ms per iteration")
    try:
        import scipy  # noqa: F401
    except ImportError:
        print("  scipy not installed")
    else:
        t_scipy = median_time(lambda: scipy_pagerank(edges), 3)
        print(f"  scipy sparse power iteration (100) {t_scipy * 1e3:.1f} ms  ratio {t_scipy / t_floor:.2f}x")


def main():
    report("debian", debian_edges())
    t0 = time.perf_counter()
    edges = synthetic_edges()
    print(f"(synthetic graph generated in {time.perf_counter() - t0:.1f} s)")
    report("synthetic", edges, repeat=3)


if __name__ == "__main__":
    main()
