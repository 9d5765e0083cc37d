"""Brandes' accumulation, exact and from a seeded sample of sources.

Per source every array is made fresh at full length and every predecessor
list is a Python list, so nothing here depends on the reuse and packing that
the native core does for speed.
"""

from collections import deque

from .graph import Graph

MASK = 2**64 - 1
MULTIPLIER = 6364136223846793005


def betweenness_on_graph(g, normalized, sources=None):
    n = g.n
    if n == 0:
        return {}
    score = [0.0] * n
    source_list = list(range(n)) if sources is None else list(sources)
    for s in source_list:
        sigma = [0.0] * n
        dist = [-1] * n
        preds = [[] for _ in range(n)]
        delta = [0.0] * n
        queue = deque()
        stack = []
        sigma[s] = 1.0
        dist[s] = 0
        queue.append(s)
        while queue:
            v = queue.popleft()
            stack.append(v)
            for w in g.successors(v):
                if dist[w] < 0:
                    dist[w] = dist[v] + 1
                    queue.append(w)
                if dist[w] == dist[v] + 1:
                    sigma[w] = sigma[v] + sigma[w]
                    preds[w].append(v)
        while stack:
            w = stack.pop()
            for v in preds[w]:
                delta[v] = (delta[w] + 1.0) * (sigma[v] / sigma[w]) + delta[v]
            if w != s:
                score[w] = delta[w] + score[w]
    N = float(n)
    norm = 1.0 / ((N - 2.0) * (N - 1.0)) if normalized and n >= 3 else 1.0
    k = len(source_list)
    sample_scale = N / float(k) if sources is not None and k >= 1 else 1.0
    factor = norm * sample_scale
    return {g.names[i]: score[i] * factor for i in range(n)}


def betweenness(edges, normalized=True):
    return betweenness_on_graph(Graph(edges), normalized)


def lcg_states(seed, steps):
    """The generator's states in order of use (it advances before each use)."""
    state = seed
    out = []
    for _ in range(steps):
        state = (state * MULTIPLIER + 1) & MASK
        out.append(state)
    return out


def shuffled(n, seed):
    """0 .. n - 1 shuffled by a Fisher-Yates pass from the back."""
    order = list(range(n))
    state = seed
    for i in range(n - 1, 0, -1):
        state = (state * MULTIPLIER + 1) & MASK
        j = state % (i + 1)
        order[i], order[j] = order[j], order[i]
    return order


def sampled_betweenness(edges, sample_size=100, seed=42, normalized=True):
    g = Graph(edges)
    n = g.n
    if n == 0:
        return {}
    if sample_size >= n:
        return betweenness_on_graph(g, normalized)
    return betweenness_on_graph(g, normalized, shuffled(n, seed)[:sample_size])
