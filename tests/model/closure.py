"""How many nodes each node reaches and how many reach it: one breadth-first
search per node and direction, the node itself never counted."""

from collections import deque

from .graph import Graph


def _reached(start, neighbours):
    """The nodes reached from `start` by one or more edges, `start` left out
    even when a cycle leads back to it."""
    seen = {start}
    queue = deque([start])
    while queue:
        v = queue.popleft()
        for t in neighbours(v):
            if t not in seen:
                seen.add(t)
                queue.append(t)
    return len(seen) - 1


def closure_sizes(edges):
    """{name: (dependencies, dependents)} for every node, in node order."""
    g = Graph(edges)
    return {g.names[v]: (_reached(v, g.successors), _reached(v, g.predecessors)) for v in range(g.n)}
