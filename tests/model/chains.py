"""Shortest chains, shortest cycles, build layers and islands, the slow way:
every shortest chain listed, then sorted by the defined order."""

from collections import deque

from .graph import Graph


def _queue(g, s):
    """Breadth-first search from node s along the edges in walk order:
    each reached node's place in the queue, and its distance."""
    place, dist = {s: 0}, {s: 0}
    queue = deque([s])
    while queue:
        v = queue.popleft()
        for w in g.successors(v):
            if w not in place:
                place[w] = len(place)
                dist[w] = dist[v] + 1
                queue.append(w)
    return place, dist


def _all_shortest(g, s, t):
    """Every shortest chain from s to t as a tuple of nodes, in the defined
    order: from the target back, by queue place."""
    place, dist = _queue(g, s)
    if t not in place:
        return []
    chains = []

    def back(path):
        w = path[-1]
        if w == s:
            chains.append(tuple(reversed(path)))
            return
        for x in sorted({x for x in g.predecessors(w) if x in dist and dist[x] == dist[w] - 1}, key=place.get):
            back(path + [x])

    back([t])
    return chains


def why_all(edges, source, target, limit):
    g = Graph(edges)
    s, t = g.index[source], g.index[target]
    chains = _all_shortest(g, s, t)
    return [[g.names[v] for v in c] for c in chains[:limit]], len(chains)


def why(edges, source, target):
    chains, count = why_all(edges, source, target, 1)
    return chains[0] if count else None


def cycle(edges, name):
    g = Graph(edges)
    v = g.index[name]
    place, _ = _queue(g, v)
    closing = [u for u in place if v in set(g.successors(u))]
    if not closing:
        return None
    u = min(closing, key=place.get)
    return why(edges, name, g.names[u])


def _reach(g, v):
    seen, todo = {v}, [v]
    while todo:
        for w in g.successors(todo.pop()):
            if w not in seen:
                seen.add(w)
                todo.append(w)
    return seen


def build_order(edges):
    g = Graph(edges)
    reach = [_reach(g, v) for v in range(g.n)]
    unit = {}
    for v in range(g.n):
        unit[v] = min(u for u in range(g.n) if v in reach[u] and u in reach[v])
    members = {}
    for v in range(g.n):
        members.setdefault(unit[v], []).append(v)
    layer = {}
    for u in sorted(members, key=lambda u: len(reach[u])):
        # Everything a unit reaches outside itself reaches less.
        deps = {unit[w] for v in members[u] for w in g.successors(v)} - {u}
        layer[u] = 1 + max((layer[d] for d in deps), default=-1)
    layers = [[] for _ in range(1 + max(layer.values(), default=-1))]
    for u in sorted(members, key=lambda u: members[u][0]):
        layers[layer[u]].append([g.names[v] for v in members[u]])
    return layers


def weakly_connected(edges):
    g = Graph(edges)
    island = {}
    for v in range(g.n):
        if v in island:
            continue
        island[v] = v
        todo = [v]
        while todo:
            x = todo.pop()
            for w in list(g.successors(x)) + list(g.predecessors(x)):
                if w not in island:
                    island[w] = v
                    todo.append(w)
    groups = {}
    for v in range(g.n):
        groups.setdefault(island[v], []).append(g.names[v])
    return sorted(groups.values(), key=len, reverse=True)
