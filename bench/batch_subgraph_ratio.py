"""batch_descendants for 1,000 start names with max_depth 2**64 - 1, and
subgraph around 10 seeds with the default depth, on the Debian graph, each as
a multiple of the floor timed in the same process.

The start names are the first 1,000 distinct names of the edge list, in order
of first appearance; the seeds are 10 node names drawn with random.Random(42).

    python -m bench.batch_subgraph_ratio
"""

import itertools
import random

import lanternhollow_graph as lg

from bench.data import debian_edges, floor, median_time


def main():
    edges = debian_edges()
    names = list(dict.fromkeys(itertools.chain.from_iterable(edges)))
    starts = names[:1000]
    seeds = random.Random(42).sample(names, 10)
    floor(edges)  # warm the str hash caches for all
    t_floor = median_time(lambda: floor(edges), 15)
    t_batch = median_time(lambda: lg.batch_descendants(edges, starts, 2**64 - 1), 7)
    t_sub = median_time(lambda: lg.subgraph(edges, seeds), 15)
    batch = lg.batch_descendants(edges, starts, 2**64 - 1)
    nodes, kept = lg.subgraph(edges, seeds)
    print(f"edges {len(edges)}  nodes {len(names)}")
    print(f"batch_descendants: {len(starts)} start names, {sum(map(len, batch.values()))} (name, depth) entries")
    print(f"subgraph: {len(seeds)} seeds, {len(nodes)} nodes, {len(kept)} edges")
    print(f"floor {t_floor * 1e3:.2f} ms")
    print(f"batch_descendants {t_batch * 1e3:.2f} ms  ratio {t_batch / t_floor:.2f}x")
    print(f"subgraph {t_sub * 1e3:.2f} ms  ratio {t_sub / t_floor:.2f}x")


if __name__ == "__main__":
    main()
