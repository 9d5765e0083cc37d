"""Dominators by their definition, the slow way: d dominates v when v is out
of the root's reach once d is dropped; v's immediate dominator is the one
of its other dominators that all the rest dominate. Orders are those of a
breadth-first search from the root along the edges in walk order."""

from collections import deque

from .graph import Graph


def _reach(g, root, dropped=None):
    """The nodes root reaches without passing through `dropped`, in the
    order a breadth-first search discovers them, root first."""
    if root == dropped:
        return []
    order = [root]
    seen = {root}
    queue = deque([root])
    while queue:
        v = queue.popleft()
        for w in g.successors(v):
            if w not in seen and w != dropped:
                seen.add(w)
                order.append(w)
                queue.append(w)
    return order


def _dominators(g, root):
    """Each reached node's set of dominators, itself included."""
    order = _reach(g, root)
    doms = {v: {v} for v in order}
    for d in order:
        still = set(_reach(g, root, dropped=d))
        for v in order:
            if v not in still:
                doms[v].add(d)
    return order, doms


def dominators(edges, root):
    g = Graph(edges)
    order, doms = _dominators(g, g.index[root])
    result = {}
    for v in order[1:]:
        strict = doms[v] - {v}
        (idom,) = [d for d in strict if strict <= doms[d]]
        result[g.names[v]] = g.names[idom]
    return result


def falls_away(edges, root, name):
    g = Graph(edges)
    r, x = g.index[root], g.index[name]
    still = set(_reach(g, r, dropped=x))
    return [g.names[v] for v in _reach(g, r) if v not in still]


def sole_providers(edges, root, top):
    g = Graph(edges)
    order = _reach(g, g.index[root])
    counts = [(g.names[v], len(falls_away(edges, root, g.names[v]))) for v in order[1:]]
    # sorted() is stable: equal counts keep the search's order.
    return sorted(counts, key=lambda item: -item[1])[:top]
