"""The nodes within max_depth steps of a set of seeds, and the edges among them.

The node list is ordered: the seeds found, each once in the order given, then
every other node in the order the first-in first-out search discovers it.
"""

from collections import deque

from .graph import Graph


def subgraph(edges, seed_nodes, max_depth=2, include_incoming=True, include_outgoing=True):
    g = Graph(edges)
    discovered = set()
    order = []
    queue = deque()

    def reach(v, d):
        if v not in discovered:
            discovered.add(v)
            order.append(v)
            queue.append((v, d))

    if seed_nodes and g.n:
        for name in seed_nodes:
            if name not in g.index:
                continue
            s = g.index[name]
            if s not in discovered:
                discovered.add(s)
                order.append(s)
            queue.append((s, 0))  # on every mention
    while queue:
        x, d = queue.popleft()
        if d >= max_depth:
            continue
        if include_outgoing:
            for t in g.successors(x):
                reach(t, d + 1)
        if include_incoming:
            for s in g.predecessors(x):
                reach(s, d + 1)
    nodes = [g.names[v] for v in order]
    kept = [(g.names[s], g.names[t]) for _, _, s, t in g.edges if s in discovered and t in discovered]
    return nodes, kept
