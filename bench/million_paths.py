"""Chains and cycles of a million nodes through every traversal, and a
20,000-node chain through exact betweenness, end to end (building the
result objects included).

    python -m bench.million_paths
"""

import time

import lanternhollow_graph as lg

MAX = 2**64 - 1


def timed(label, call):
    start = time.perf_counter()
    call()
    print(f"{label:45s} {(time.perf_counter() - start) * 1e3:8.1f} ms")


def main():
    n = 1_000_000
    names = [str(i) for i in range(n)]
    chain = list(zip(names, names[1:]))
    cycle = chain + [(names[-1], names[0])]
    for kind, edges in (("chain", chain), ("cycle", cycle)):
        timed(f"{kind}: descendants_at_depth", lambda: lg.descendants_at_depth(edges, "0", MAX))
        timed(f"{kind}: ancestors_at_depth", lambda: lg.ancestors_at_depth(edges, names[-1], MAX))
        timed(f"{kind}: batch_descendants [first]", lambda: lg.batch_descendants(edges, ["0"], MAX))
        timed(f"{kind}: batch_ancestors [last]", lambda: lg.batch_ancestors(edges, [names[-1]], MAX))
        timed(f"{kind}: subgraph [first], no depth limit", lambda: lg.subgraph(edges, ["0"], MAX))
        timed(f"{kind}: strongly_connected", lambda: lg.strongly_connected(edges))
    short = [(str(i), str(i + 1)) for i in range(19_999)]
    timed("20,000-node chain: betweenness", lambda: lg.betweenness(short))


if __name__ == "__main__":
    main()
