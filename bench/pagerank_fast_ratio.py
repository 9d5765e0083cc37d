"""pagerank(edges) with its defaults against the floor, on the Debian graph
and on the benchmark's synthetic graph (about five edges per node): the time
without iterating and per iteration, the time of one literal iteration
(every dangling share added node by node) and, where scipy is installed, a
100-iteration power iteration over a sparse matrix (names mapped to indices
included) and one bare sparse matrix-vector product.

    python -m bench.pagerank_fast_ratio                      # Debian, then 200,000 nodes
    python -m bench.pagerank_fast_ratio --nodes 800000       # the synthetic graph only
    python -m bench.pagerank_fast_ratio --nodes 50000 200000 800000
"""

import argparse
import time

import lanternhollow_graph as lg

from bench.data import debian_edges, floor, median_time, synthetic_edges

try:
    import _lanternhollow_graph_testing as testing
except ImportError:  # built without the testing module
    testing = None


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


def bare_product_time(edges, rounds=100):
    """One CSR matrix-vector product over the edges, nothing else: what an
    iteration costs without dangling nodes, teleport or a fixed order."""
    import numpy as np
    import scipy.sparse as sp

    index = {}
    src = np.fromiter((index.setdefault(s, len(index)) for s, _ in edges), dtype=np.int64, count=len(edges))
    dst = np.fromiter((index.setdefault(t, len(index)) for _, t in edges), dtype=np.int64, count=len(edges))
    n = len(index)
    m = sp.csr_matrix((np.ones(len(edges)), (dst, src)), shape=(n, n))
    x = np.full(n, 1.0 / n)

    def products():
        for _ in range(rounds):
            m @ x

    return median_time(products, 5) / rounds


def report(label, edges, repeat=5):
    floor(edges)  # warm the str hash caches
    t_floor = median_time(lambda: floor(edges), 11)
    t_pagerank = median_time(lambda: lg.pagerank(edges), repeat)
    sources = {s for s, _ in edges}
    nodes = len(floor(edges))
    print(f"{label}: edges {len(edges)}  nodes {nodes}  dangling {nodes - len(sources)}")
    print(f"  floor {t_floor * 1e3:.1f} ms")
    print(f"  pagerank (100 iterations) {t_pagerank * 1e3:.1f} ms  ratio {t_pagerank / t_floor:.2f}x")
    t_setup = median_time(lambda: lg.pagerank(edges, 0.85, 0), repeat)
    per_iteration = (t_pagerank - t_setup) / 100
    print(f"  of which {t_setup * 1e3:.1f} ms without iterating, then {per_iteration * 1e3:.2f} ms per iteration")
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
        t_product = bare_product_time(edges)
        print(
            f"  one bare sparse matrix-vector product {t_product * 1e3:.2f} ms;"
            f" a pagerank iteration costs {per_iteration / t_product:.1f} of them"
        )


def main(argv=None):
    parser = argparse.ArgumentParser(prog="python -m bench.pagerank_fast_ratio", description=__doc__.split("\n\n")[0])
    parser.add_argument("--nodes", type=int, nargs="+", default=None,
                        help="synthetic graphs of these node counts only (default: Debian, then 200000)")
    args = parser.parse_args(argv)
    if args.nodes is None:
        report("debian", debian_edges())
        args.nodes = [200_000]
    for nodes in args.nodes:
        t0 = time.perf_counter()
        edges = synthetic_edges(nodes=nodes)
        print(f"(synthetic graph of {nodes} nodes generated in {time.perf_counter() - t0:.1f} s)")
        report(f"synthetic {nodes}", edges, repeat=3)
        del edges


if __name__ == "__main__":
    main()
