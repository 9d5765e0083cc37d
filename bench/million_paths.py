"""Chains and cycles of a million nodes through every traversal, and a
20,000-node chain through exact betweenness, end to end.

    python -m bench.million_paths
"""

import time

import lanternhollow_graph as lg

n = 1_000_000
names = [str(i) for i in range(n)]
chain = list(zip(names, names[1:])); cycle = chain + [(names[-1], names[0])]
M = 2**64 - 1
def t(label, f):
    t0 = time.perf_counter(); f(); print(f"{label:45s} {(time.perf_counter()-t0)*1e3:8.1f} ms")
for g, e in (("chain", chain), ("cycle", cycle)):
    t(f"{g}: descendants_at_depth", lambda: lg.descendants_at_depth(e, "0", M))
    t(f"{g}: ancestors_at_depth", lambda: lg.ancestors_at_depth(e, names[-1], M))
    t(f"{g}: batch_descendants [0]", lambda: lg.batch_descendants(e, ["0"], M))
    t(f"{g}: batch_ancestors [last]", lambda: lg.batch_ancestors(e, [names[-1]], M))
    t(f"{g}: subgraph [0], unlimited", lambda: lg.subgraph(e, ["0"], M))
    t(f"{g}: strongly_connected", lambda: lg.strongly_connected(e))
c = [(str(i), str(i+1)) for i in range(19_999)]
t("20,000-node chain: betweenness", lambda: lg.betweenness(c))
