"""The same work as each function of lanternhollow_graph, done with the graph
libraries a Python program would otherwise use.

Every function here takes the edge list of (str, str) pairs and returns its
answer keyed by node name, so that a timing covers what a caller pays: the
library's graph construction, the mapping of names to the library's vertex
numbers and back, the analysis itself. A library that is not installed is
simply absent from PEERS.

networkx keeps one edge per ordered pair (DiGraph), the others keep every
pair; the notes that the suite prints say where that changes the work.
networkit and graphblas run on threads: each appears twice, pinned to one
thread, and with the suffix -mt on as many threads as the process may use.

BUILT holds the same libraries split in two, for questions asked of a graph
built once: BUILT[peer]["build"](edges) returns the library's graph with the
names and their numbers, and each other entry answers on that, by name, as
the end-to-end functions do: "descendants_at_depth" and "ancestors_at_depth"
(built, name, depth), "pagerank" and "betweenness" (built). The end-to-end
functions are these two halves called one after the other.
"""

import itertools
import os

PAGERANK_ITERATIONS = 100
ALPHA = 0.85


def _index(edges):
    """Names in order of first appearance and the two endpoint arrays."""
    import numpy as np

    names = list(dict.fromkeys(itertools.chain.from_iterable(edges)))
    index = dict(zip(names, range(len(names))))
    flat = np.fromiter(map(index.__getitem__, itertools.chain.from_iterable(edges)),
                       dtype=np.int64, count=2 * len(edges))
    return names, index, flat[0::2], flat[1::2]


def _levels(neighbours, start, depth, names):
    """{name: distance} of every node 1 to depth steps from start, one level
    at a time; neighbours(v) lists v's neighbours (repeats allowed)."""
    distance = {start: 0}
    frontier = [start]
    for d in range(1, depth + 1):
        step = []
        for v in frontier:
            for u in neighbours(v):
                if u not in distance:
                    distance[u] = d
                    step.append(u)
        if not step:
            break
        frontier = step
    del distance[start]
    return {names[u]: d for u, d in distance.items()}


def _components_of(labels_to_members):
    """Components of two or more names, largest first."""
    found = [members for members in labels_to_members if len(members) >= 2]
    found.sort(key=len, reverse=True)
    return found


# ----------------------------------------------------------------------------
# networkx


def _networkx():
    import networkx as nx

    def graph(edges):
        g = nx.DiGraph()
        g.add_edges_from(edges)
        return g

    def pagerank_of(g):
        try:
            return nx.pagerank(g, alpha=ALPHA, max_iter=PAGERANK_ITERATIONS, tol=0.0)
        except nx.PowerIterationFailedConvergence:
            # tol=0 forces all 100 iterations; networkx then raises instead
            # of returning, so the result dict is never built.
            return None

    def pagerank(edges):
        return pagerank_of(graph(edges))

    def strongly_connected(edges):
        return _components_of([list(c) for c in nx.strongly_connected_components(graph(edges))])

    def descendants(edges, source):
        g = graph(edges)
        return nx.descendants(g, source) if source in g else set()

    def ancestors(edges, target):
        g = graph(edges)
        return nx.ancestors(g, target) if target in g else set()

    def batch_descendants(edges, sources):
        g = graph(edges)
        return {s: nx.descendants(g, s) if s in g else set() for s in sources}

    def batch_ancestors(edges, targets):
        g = graph(edges)
        return {t: nx.ancestors(g, t) if t in g else set() for t in targets}

    def sampled_betweenness(edges, sample_size, seed):
        g = graph(edges)
        return nx.betweenness_centrality(g, k=min(sample_size, len(g)), seed=seed)

    def subgraph(edges, seeds, depth):
        g = graph(edges)
        both = g.to_undirected(as_view=True)
        members = {}
        for s in seeds:
            if s in g:
                members.update(nx.single_source_shortest_path_length(both, s, cutoff=depth))
        kept = g.subgraph(members)
        return list(kept.nodes), list(kept.edges)

    def build(edges):
        g = graph(edges)
        return g, g.reverse(copy=False)

    def within(g, name, depth):
        found = nx.single_source_shortest_path_length(g, name, cutoff=depth)
        del found[name]
        return found

    return {
        "pagerank": pagerank,
        "strongly_connected": strongly_connected,
        "descendants_at_depth": descendants,
        "ancestors_at_depth": ancestors,
        "batch_descendants": batch_descendants,
        "batch_ancestors": batch_ancestors,
        "sampled_betweenness": sampled_betweenness,
        "subgraph": subgraph,
    }, {
        "build": build,
        "descendants_at_depth": lambda b, name, depth: within(b[0], name, depth),
        "ancestors_at_depth": lambda b, name, depth: within(b[1], name, depth),
    }


# ----------------------------------------------------------------------------
# python-igraph


def _igraph():
    import igraph
    import numpy as np

    def graph(edges):
        names, index, src, dst = _index(edges)
        g = igraph.Graph(n=len(names), edges=np.column_stack((src, dst)), directed=True)
        return g, names, index

    def pagerank_of(built):
        g, names, _ = built
        return dict(zip(names, g.pagerank(damping=ALPHA, directed=True)))

    def pagerank(edges):
        return pagerank_of(graph(edges))

    def strongly_connected(edges):
        g, names, _ = graph(edges)
        clusters = g.connected_components(mode="strong")
        return _components_of([[names[v] for v in c] for c in clusters if len(c) >= 2])

    def reach(g, names, index, start, mode):
        v = index.get(start)
        if v is None:
            return set()
        return {names[u] for u in g.subcomponent(v, mode=mode) if u != v}

    def within(built, name, depth, mode):
        # One call of igraph's own: the set of names, without their depths.
        g, names, index = built
        if not depth:  # igraph refuses a minimum distance beyond the order
            return set()
        return {names[u] for u in g.neighborhood(index[name], order=depth, mode=mode, mindist=1)}

    def descendants(edges, source):
        g, names, index = graph(edges)
        return reach(g, names, index, source, "out")

    def ancestors(edges, target):
        g, names, index = graph(edges)
        return reach(g, names, index, target, "in")

    def batch_descendants(edges, sources):
        g, names, index = graph(edges)
        return {s: reach(g, names, index, s, "out") for s in sources}

    def batch_ancestors(edges, targets):
        g, names, index = graph(edges)
        return {t: reach(g, names, index, t, "in") for t in targets}

    def betweenness_of(built):
        g, names, _ = built
        n = len(names)
        scale = 1.0 / ((n - 1) * (n - 2)) if n >= 3 else 1.0
        return {name: b * scale for name, b in zip(names, g.betweenness(directed=True))}

    def betweenness(edges):
        return betweenness_of(graph(edges))

    def sampled_betweenness(edges, sample_size, seed):
        import random

        g, names, _ = graph(edges)
        n = len(names)
        k = min(sample_size, n)
        sources = random.Random(seed).sample(range(n), k)
        scale = (1.0 / ((n - 1) * (n - 2)) if n >= 3 else 1.0) * (n / k if k else 1.0)
        raw = g.betweenness(directed=True, sources=sources)
        return {name: b * scale for name, b in zip(names, raw)}

    def subgraph(edges, seeds, depth):
        g, names, index = graph(edges)
        found = [index[s] for s in seeds if s in index]
        members = sorted(set(itertools.chain.from_iterable(
            g.neighborhood(found, order=depth, mode="all")))) if found else []
        kept = g.es.select(_within=members)
        return [names[v] for v in members], [(names[e.source], names[e.target]) for e in kept]

    return {
        "pagerank": pagerank,
        "strongly_connected": strongly_connected,
        "descendants_at_depth": descendants,
        "ancestors_at_depth": ancestors,
        "batch_descendants": batch_descendants,
        "batch_ancestors": batch_ancestors,
        "betweenness": betweenness,
        "sampled_betweenness": sampled_betweenness,
        "subgraph": subgraph,
    }, {
        "build": graph,
        "descendants_at_depth": lambda b, name, depth: within(b, name, depth, "out"),
        "ancestors_at_depth": lambda b, name, depth: within(b, name, depth, "in"),
        "pagerank": pagerank_of,
        "betweenness": betweenness_of,
    }


# ----------------------------------------------------------------------------
# rustworkx


def _rustworkx():
    import rustworkx as rx

    # Its betweenness runs on a thread pool above this many nodes; every
    # other contender uses one thread, so it does too.
    one_thread = 1 << 62

    def graph(edges):
        names, index, src, dst = _index(edges)
        g = rx.PyDiGraph()
        g.add_nodes_from(names)
        g.add_edges_from_no_data(list(zip(src.tolist(), dst.tolist())))
        return g, names, index

    def pagerank_of(built):
        g, names, _ = built
        try:
            scores = rx.pagerank(g, alpha=ALPHA, max_iter=PAGERANK_ITERATIONS, tol=0.0)
        except rx.FailedToConverge:
            return None  # as networkx: 100 iterations, then an exception
        return {names[v]: s for v, s in scores.items()}

    def pagerank(edges):
        return pagerank_of(graph(edges))

    def strongly_connected(edges):
        g, names, _ = graph(edges)
        return _components_of([[names[v] for v in c] for c in rx.strongly_connected_components(g)])

    def reach(g, names, index, start, find):
        v = index.get(start)
        return set() if v is None else {names[u] for u in find(g, v)}

    def descendants(edges, source):
        g, names, index = graph(edges)
        return reach(g, names, index, source, rx.descendants)

    def ancestors(edges, target):
        g, names, index = graph(edges)
        return reach(g, names, index, target, rx.ancestors)

    def batch_descendants(edges, sources):
        g, names, index = graph(edges)
        return {s: reach(g, names, index, s, rx.descendants) for s in sources}

    def batch_ancestors(edges, targets):
        g, names, index = graph(edges)
        return {t: reach(g, names, index, t, rx.ancestors) for t in targets}

    def betweenness(edges):
        g, names, _ = graph(edges)
        scores = rx.digraph_betweenness_centrality(g, normalized=True, parallel_threshold=one_thread)
        return {names[v]: s for v, s in scores.items()}

    def within(built, name, depth, neighbours):
        g, names, index = built
        # Its own searches (descendants, bfs_successors) have no depth limit.
        return _levels(getattr(g, neighbours), index[name], depth, names)

    def subgraph(edges, seeds, depth):
        g, names, index = graph(edges)
        members = dict.fromkeys(index[s] for s in seeds if s in index)
        frontier = list(members)
        for _ in range(depth):
            step = []
            for v in frontier:
                for u in g.neighbors_undirected(v):
                    if u not in members:
                        members[u] = None
                        step.append(u)
            frontier = step
        kept = g.subgraph(list(members))
        return [kept[v] for v in kept.node_indices()], [(kept[a], kept[b]) for a, b in kept.edge_list()]

    return {
        "pagerank": pagerank,
        "strongly_connected": strongly_connected,
        "descendants_at_depth": descendants,
        "ancestors_at_depth": ancestors,
        "batch_descendants": batch_descendants,
        "batch_ancestors": batch_ancestors,
        "betweenness": betweenness,
        "subgraph": subgraph,
    }, {
        "build": graph,
        "descendants_at_depth": lambda b, name, depth: within(b, name, depth, "successor_indices"),
        "ancestors_at_depth": lambda b, name, depth: within(b, name, depth, "predecessor_indices"),
        "pagerank": pagerank_of,
    }


# ----------------------------------------------------------------------------
# scipy.sparse.csgraph (with numpy)


def _scipy():
    import numpy as np
    import scipy.sparse as sp
    from scipy.sparse import csgraph

    def matrix(edges, transpose=False):
        names, index, src, dst = _index(edges)
        n = len(names)
        rows, cols = (dst, src) if transpose else (src, dst)
        # Parallel pairs add up to an entry of 2, 3, ...: one entry, with the
        # multiplicity as its weight.
        a = sp.csr_array((np.ones(len(src)), (rows, cols)), shape=(n, n))
        return a, names, index

    def pagerank_of(at, names):
        # The power iteration written out: 100 rounds, no convergence test,
        # dangling nodes handing their share to every node evenly.
        n = len(names)
        if n == 0:
            return {}
        out_degree = np.asarray(at.sum(axis=0)).ravel()
        dangling = out_degree == 0
        inverse = np.zeros(n)
        inverse[~dangling] = 1.0 / out_degree[~dangling]
        x = np.full(n, 1.0 / n)
        teleport = (1.0 - ALPHA) / n
        for _ in range(PAGERANK_ITERATIONS):
            spread = ALPHA * x[dangling].sum() / n
            x = ALPHA * (at @ (x * inverse)) + (teleport + spread)
        return dict(zip(names, x.tolist()))

    def pagerank(edges):
        at, names, _ = matrix(edges, transpose=True)
        return pagerank_of(at, names)

    def strongly_connected(edges):
        a, names, _ = matrix(edges)
        _, labels = csgraph.connected_components(a, directed=True, connection="strong")
        sizes = np.bincount(labels)
        members = np.flatnonzero(sizes[labels] >= 2)
        members = members[np.argsort(labels[members], kind="stable")]
        cuts = np.flatnonzero(np.diff(labels[members])) + 1
        return _components_of([[names[v] for v in group] for group in np.split(members, cuts)]
                              if len(members) else [])

    def reach(a, names, index, start):
        v = index.get(start)
        if v is None:
            return set()
        order = csgraph.breadth_first_order(a, v, directed=True, return_predecessors=False)
        return {names[u] for u in order[1:].tolist()}

    def descendants(edges, source):
        a, names, index = matrix(edges)
        return reach(a, names, index, source)

    def ancestors(edges, target):
        a, names, index = matrix(edges, transpose=True)
        return reach(a, names, index, target)

    def batch_descendants(edges, sources):
        a, names, index = matrix(edges)
        return {s: reach(a, names, index, s) for s in sources}

    def batch_ancestors(edges, targets):
        a, names, index = matrix(edges, transpose=True)
        return {t: reach(a, names, index, t) for t in targets}

    def build(edges):
        # Both directions, as the other libraries' graphs answer both: the
        # rows of A list each node's targets, the rows of its transpose each
        # node's sources.
        names, index, src, dst = _index(edges)
        n = len(names)
        ones = np.ones(len(src))
        return (sp.csr_array((ones, (src, dst)), shape=(n, n)),
                sp.csr_array((ones, (dst, src)), shape=(n, n)), names, index)

    def within(m, names, start, depth):
        # Level by level: the next level is the union of the frontier's rows
        # of the CSR matrix (gathered with one index array), less every node
        # seen. csgraph's breadth_first_order has no depth limit.
        indptr, indices = m.indptr, m.indices
        seen = np.array([start], dtype=indices.dtype)
        frontier = seen
        found = {}
        for d in range(1, depth + 1):
            begin = indptr[frontier]
            counts = indptr[frontier + 1] - begin
            total = int(counts.sum())
            if not total:
                break
            if len(frontier) == 1:
                step = indices[begin[0]:begin[0] + total]
            else:
                step = indices[np.repeat(begin - (np.cumsum(counts) - counts), counts) + np.arange(total)]
            step = np.setdiff1d(step, seen)
            if not len(step):
                break
            found.update(dict.fromkeys(map(names.__getitem__, step.tolist()), d))
            seen = np.concatenate((seen, step))
            frontier = step
        return found

    def subgraph(edges, seeds, depth):
        names, index, src, dst = _index(edges)
        n = len(names)
        a = sp.csr_array((np.ones(len(src)), (src, dst)), shape=(n, n))
        both = (a + a.T).tocsr()
        inside = np.zeros(n, dtype=bool)
        order = [index[s] for s in dict.fromkeys(seeds) if s in index]
        frontier = np.array(order, dtype=np.int64)
        inside[frontier] = True
        for _ in range(depth):
            if not len(frontier):
                break
            step = np.unique(both[frontier].indices)
            step = step[~inside[step]]
            inside[step] = True
            frontier = step
            order.extend(step.tolist())
        keep = np.flatnonzero(inside[src] & inside[dst])
        return [names[v] for v in order], [edges[k] for k in keep.tolist()]

    return {
        "pagerank": pagerank,
        "strongly_connected": strongly_connected,
        "descendants_at_depth": descendants,
        "ancestors_at_depth": ancestors,
        "batch_descendants": batch_descendants,
        "batch_ancestors": batch_ancestors,
        "subgraph": subgraph,
    }, {
        "build": build,
        "descendants_at_depth": lambda b, name, depth: within(b[0], b[2], b[3][name], depth),
        "ancestors_at_depth": lambda b, name, depth: within(b[1], b[2], b[3][name], depth),
        "pagerank": lambda b: pagerank_of(b[1], b[2]),
    }


# ----------------------------------------------------------------------------
# networkit: OpenMP threads, their number process-wide. Each call sets it, so
# that the one-thread and the all-threads entries can alternate in one run.


def _networkit(threads):
    import networkit as nk
    import numpy as np

    def use_threads():
        nk.setNumberOfThreads(threads() if callable(threads) else threads)

    def build(edges):
        use_threads()
        names, index, src, dst = _index(edges)
        # Every pair is its own edge, parallel ones included.
        g = nk.graph.GraphFromCoo((src.astype(np.uint64), dst.astype(np.uint64)), n=len(names), directed=True)
        return g, names, index

    def graph(edges):
        g, names, _ = build(edges)
        return g, names

    def pagerank_of(built):
        use_threads()
        g, names = built[0], built[1]
        if not names:
            return {}
        # tol=0: all 100 iterations; sinks hand their score to every node evenly.
        pr = nk.centrality.PageRank(g, damp=ALPHA, tol=0.0,
                                    distributeSinks=nk.centrality.SinkHandling.DistributeSinks)
        pr.maxIterations = PAGERANK_ITERATIONS
        pr.run()
        return dict(zip(names, pr.scores()))

    def pagerank(edges):
        return pagerank_of(graph(edges))

    def within(built, name, depth, neighbours):
        g, names, index = built
        # Its traversals (Traversal.BFSfrom, distance.BFS) have no depth limit.
        return _levels(getattr(g, neighbours), index[name], depth, names)

    def strongly_connected(edges):
        g, names = graph(edges)
        scc = nk.components.StronglyConnectedComponents(g)
        scc.run()
        return _components_of([[names[v] for v in c] for c in scc.getComponents() if len(c) >= 2])

    return {"pagerank": pagerank, "strongly_connected": strongly_connected}, {
        "build": build,
        "descendants_at_depth": lambda b, name, depth: within(b, name, depth, "iterNeighbors"),
        "ancestors_at_depth": lambda b, name, depth: within(b, name, depth, "iterInNeighbors"),
        "pagerank": pagerank_of,
    }


def _all_cpus():
    return len(os.sched_getaffinity(0))


# ----------------------------------------------------------------------------
# python-graphblas (SuiteSparse:GraphBLAS): the power iteration written with
# its in-place vector operations, as graphblas-algorithms writes it, without
# the convergence test (which raises after 100 rounds at tol=0).


def _graphblas(threads):
    import graphblas as gb
    import numpy as np
    from graphblas import Matrix, Vector, binary, monoid
    from graphblas.semiring import plus_times

    def use_threads():
        gb.ss.config["nthreads"] = threads() if callable(threads) else threads

    def build(edges):
        use_threads()
        names, index, src, dst = _index(edges)
        n = len(names)
        # Parallel pairs add up to one entry with their multiplicity.
        a = Matrix.from_coo(src, dst, np.ones(len(src)), nrows=n, ncols=n, dup_op=binary.plus) if n else None
        return a, names, index

    def pagerank_of(built):
        use_threads()
        a, names, _ = built
        n = len(names)
        if n == 0:
            return {}
        out_degree = a.reduce_rowwise(monoid.plus).new()
        scale = (ALPHA / out_degree).new()  # present only for nodes with edges
        dangling = Vector(float, n)
        dangling(mask=~scale.S) << ALPHA / n
        x = Vector(float, n)
        x[:] = 1.0 / n
        previous = Vector(float, n)
        w = Vector(float, n)
        teleport = (1.0 - ALPHA) / n
        # Without a dangling node the product below is an empty scalar, which
        # graphblas refuses to add.
        any_dangling = dangling.nvals > 0
        for _ in range(PAGERANK_ITERATIONS):
            previous, x = x, previous
            x << teleport
            if any_dangling:
                x += previous @ dangling
            w << previous * scale
            x += plus_times(w @ a)
        return dict(zip(names, x.to_dense(fill_value=0.0).tolist()))

    def pagerank(edges):
        return pagerank_of(build(edges))

    return {"pagerank": pagerank}, {"build": build, "pagerank": pagerank_of}


def _load():
    peers, built = {}, {}
    for name, factory in (("networkx", _networkx), ("igraph", _igraph),
                          ("rustworkx", _rustworkx), ("scipy", _scipy),
                          ("networkit", lambda: _networkit(1)),
                          ("networkit-mt", lambda: _networkit(_all_cpus)),
                          ("graphblas", lambda: _graphblas(1)),
                          ("graphblas-mt", lambda: _graphblas(_all_cpus))):
        try:
            peers[name], built[name] = factory()
        except ImportError:
            pass
    return peers, built


PEERS, BUILT = _load()
