"""Depth-limited breadth-first search from one start node."""

from collections import deque

from .graph import Graph


def _depth_search(edges, start, max_depth, neighbours):
    g = Graph(edges)
    if start not in g.index:
        return {}
    s = g.index[start]
    result = {}
    discovered = {s}
    queue = deque([(s, 0)])
    while queue:
        v, d = queue.popleft()
        if d >= max_depth:
            continue
        for u in neighbours(g, v):
            if u in discovered:
                continue
            discovered.add(u)
            result[g.names[u]] = d + 1
            queue.append((u, d + 1))
    return result


def ancestors_at_depth(edges, target, max_depth):
    return _depth_search(edges, target, max_depth, Graph.predecessors)


def descendants_at_depth(edges, source, max_depth):
    return _depth_search(edges, source, max_depth, Graph.successors)
