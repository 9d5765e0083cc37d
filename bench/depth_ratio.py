"""descendants_at_depth(edges, "libc6", 2**64 - 1) on the Debian graph, as a
multiple of the floor timed in the same process.

    python -m bench.depth_ratio
"""

import lanternhollow_graph as lg

from bench.data import debian_edges, floor, median_time


def main():
    edges = debian_edges()
    floor(edges)  # warm the str hash caches for both
    t_floor = median_time(lambda: floor(edges), 15)
    t_call = median_time(lambda: lg.descendants_at_depth(edges, "libc6", 2**64 - 1), 15)
    found = len(lg.descendants_at_depth(edges, "libc6", 2**64 - 1))
    print(f"edges {len(edges)}  found {found}")
    print(f"floor {t_floor * 1e3:.2f} ms  descendants_at_depth {t_call * 1e3:.2f} ms  ratio {t_call / t_floor:.2f}x")


if __name__ == "__main__":
    main()
