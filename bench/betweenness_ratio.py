"""betweenness(edges) and sampled_betweenness(edges) on the Debian graph,
as multiples of the floor timed in the same process. Exact betweenness runs
a search from every one of the 63,597 nodes, so it is timed once.

    python -m bench.betweenness_ratio

With igraph installed, its directed betweenness is timed once as well, end
to end: building its graph from the same edge list is included.
"""

import time

import lanternhollow_graph as lg

from bench.data import debian_edges, floor, median_time


def once(fn):
    t0 = time.perf_counter()
    result = fn()
    return time.perf_counter() - t0, result


def main():
    edges = debian_edges()
    floor(edges)  # warm the str hash caches for both
    t_floor = median_time(lambda: floor(edges), 15)
    t_sampled = median_time(lambda: lg.sampled_betweenness(edges), 7)
    t_exact, exact = once(lambda: lg.betweenness(edges))
    print(f"edges {len(edges)}  nodes {len(exact)}")
    print(f"floor {t_floor * 1e3:.2f} ms")
    print(f"sampled_betweenness {t_sampled * 1e3:.2f} ms  ratio {t_sampled / t_floor:.1f}x")
    print(f"betweenness {t_exact:.2f} s  ratio {t_exact / t_floor:.0f}x")

    try:
        import igraph
    except ImportError:
        return

    def peer():
        g = igraph.Graph.TupleList(edges, directed=True)
        return g.vs["name"], g.betweenness(directed=True)

    t_peer, (peer_names, peer_scores) = once(peer)
    raw = lg.betweenness(edges, False)
    worst = max(abs(raw[name] - score) / max(1.0, abs(score)) for name, score in zip(peer_names, peer_scores))
    print(f"igraph betweenness {t_peer:.2f} s  (ours / igraph {t_exact / t_peer:.2f}; "
          f"largest relative difference of raw scores {worst:.1e})")


if __name__ == "__main__":
    main()
