"""PageRank by power iteration, dangling scores spread over all nodes.

Written per receiving node j, so that it states the order of the additions
directly: next[j] starts at the teleport term and takes one addition per
edge i -> j and one per dangling node i, in ascending order of i; shares are
a product first and a quotient second. The native core is written per source
node instead, so agreement bit for bit checks that it keeps this order.
"""

from .graph import Graph


def pagerank(edges, alpha=0.85, max_iter=100):
    g = Graph(edges)
    n = g.n
    if n == 0:
        return {}
    count = float(n)
    out_degree = [g.out_degree(i) for i in range(n)]
    # multiplicity[i][j]: the number of edges i -> j, parallel edges counted.
    multiplicity = [[0] * n for _ in range(n)]
    for i in range(n):
        for j in g.successors(i):
            multiplicity[i][j] += 1
    teleport = (1.0 - alpha) / count

    score = [1.0 / count] * n
    for _ in range(max_iter):
        share = [
            (score[i] * alpha) / float(out_degree[i]) if out_degree[i] > 0 else (score[i] * alpha) / count
            for i in range(n)
        ]
        nxt = []
        for j in range(n):
            total = teleport
            for i in range(n):
                if out_degree[i] == 0:
                    total += share[i]
                else:
                    for _ in range(multiplicity[i][j]):
                        total += share[i]
            nxt.append(total)
        score = nxt
    return {g.names[i]: score[i] for i in range(n)}
