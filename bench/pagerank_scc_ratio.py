"""pagerank(edges) and strongly_connected(edges) on the Debian graph, each as
a multiple of the floor timed in the same process.

    python -m bench.pagerank_scc_ratio

pagerank with its defaults runs 100 iterations, each adding every dangling
node's share to every node one at a time, so it is timed fewer times.
"""

import lanternhollow_graph as lg

from bench.data import debian_edges, floor, median_time


def main():
    edges = debian_edges()
    floor(edges)  # warm the str hash caches for all
    t_floor = median_time(lambda: floor(edges), 15)
    t_scc = median_time(lambda: lg.strongly_connected(edges), 15)
    t_pagerank = median_time(lambda: lg.pagerank(edges), 3)
    components = lg.strongly_connected(edges)
    scores = lg.pagerank(edges)
    dangling = len(scores) - len({s for s, _ in edges})
    print(f"edges {len(edges)}  nodes {len(scores)}  dangling {dangling}  "
          f"components {len(components)}  largest {len(components[0]) if components else 0}")
    print(f"floor {t_floor * 1e3:.2f} ms")
    print(f"pagerank {t_pagerank * 1e3:.2f} ms  ratio {t_pagerank / t_floor:.2f}x")
    print(f"strongly_connected {t_scc * 1e3:.2f} ms  ratio {t_scc / t_floor:.2f}x")


if __name__ == "__main__":
    main()
