"""The questions of lanternhollow_graph_store.Graph (why, why_all, cycle,
build_order, dominators, falls_away, sole_providers, weakly_connected,
closure_sizes), each asked of a graph built once, against networkx, igraph
and networkit asked the same on their own graphs, also built once.

    python -m bench.questions                     # Debian, 1M, and 4M (closure_sizes only)
    python -m bench.questions --graph debian --quick
    python -m bench.questions --graph 4m

Only the question is timed, answer mapped back to names included on both
sides. A per-name question is asked for a list of names or pairs drawn with
random.Random(42), and its figure is the time of the whole list divided by
its length. Every contender of a row runs in the same rounds, one call of
each per round (a warm-up call first, whose answer is the one checked), and
the figure is the median of the rounds; a peer whose warm-up took more than
--once-after seconds runs only that once (¹). closure_sizes is also set
against one 100-iteration PageRank of ours on the same graph, and its peak
memory is measured in a child process per graph and contender (VmHWM after
resetting it through /proc/self/clear_refs), since tracemalloc cannot see
C++ allocations. The table goes to bench/questions.md; a run rewrites the
sections of the graphs it ran on and keeps the others.
"""

import argparse
import ctypes
import gc
import heapq
import itertools
import json
import os
import random
import statistics
import subprocess
import sys
import time
import warnings

from bench import data

SEED = 42
TARGET = 0.3  # ours ÷ fastest peer should come to at most this
OUTPUT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "questions.md")
GRAPHS = {
    "debian": ("Debian bookworm", data.debian_edges),
    "1m": ("synthetic, 1M edges", data.synthetic_edges),
    "4m": ("synthetic, 4M edges", lambda: data.synthetic_edges(nodes=800_000)),
}
PEERS = ("networkx", "igraph", "networkit")
CPUS = len(os.sched_getaffinity(0))


# ----------------------------------------------------------------------------
# The peers' graphs and their answers, by name


class Peers:
    """Each peer's graph built from the list the way a caller would build it:
    names numbered in order of first appearance, igraph and networkit from the
    two index arrays (every pair an edge), networkx a DiGraph of the names.
    networkit gets the graph and its reverse, and every CPU the process may use."""

    def __init__(self, edges, which=PEERS):
        import numpy as np

        self.names = list(dict.fromkeys(itertools.chain.from_iterable(edges)))
        self.index = dict(zip(self.names, range(len(self.names))))
        flat = np.fromiter(map(self.index.__getitem__, itertools.chain.from_iterable(edges)),
                           dtype=np.int64, count=2 * len(edges))
        src, dst = flat[0::2], flat[1::2]
        self.which = which
        if "igraph" in which:
            import igraph
            self.ig = igraph.Graph(n=len(self.names), edges=np.column_stack((src, dst)), directed=True)
        if "networkx" in which:
            import networkx as nx
            self.nx = nx.DiGraph()
            self.nx.add_nodes_from(self.names)
            self.nx.add_edges_from(edges)
        if "networkit" in which:
            import networkit as nk
            nk.setNumberOfThreads(CPUS)
            n = len(self.names)
            self.nk = nk.graph.GraphFromCoo((src.astype(np.uint64), dst.astype(np.uint64)), n=n, directed=True)
            self.nk_reverse = nk.graph.GraphFromCoo((dst.astype(np.uint64), src.astype(np.uint64)), n=n,
                                                    directed=True)

    # why: one shortest chain, as names, None when there is none.
    def ig_why(self, s, t):
        with warnings.catch_warnings():
            warnings.simplefilter("ignore", RuntimeWarning)  # "Couldn't reach some vertices"
            path = self.ig.get_shortest_path(self.index[s], to=self.index[t], mode="out", output="vpath")
        return [self.names[v] for v in path] or None

    def nx_why(self, s, t):
        import networkx as nx
        try:
            return nx.shortest_path(self.nx, s, t)
        except nx.NetworkXNoPath:
            return None

    # why_all: the number of shortest chains (all of them enumerated).
    def ig_why_count(self, s, t):
        with warnings.catch_warnings():
            warnings.simplefilter("ignore", RuntimeWarning)
            paths = self.ig.get_all_shortest_paths(self.index[s], to=self.index[t], mode="out")
        return [[self.names[v] for v in p] for p in paths[:10]], len(paths)

    def nx_why_count(self, s, t):
        import networkx as nx
        try:
            paths = list(nx.all_shortest_paths(self.nx, s, t))
        except nx.NetworkXNoPath:
            return [], 0
        return paths[:10], len(paths)

    # build_order: layers of strongly connected components, dependencies first.
    def nx_build_order(self):
        import networkx as nx
        c = nx.condensation(self.nx)
        members = nx.get_node_attributes(c, "members")
        return [[list(members[u]) for u in layer]
                for layer in nx.topological_generations(c.reverse(copy=False))]

    def ig_build_order(self):
        clusters = self.ig.connected_components(mode="strong")
        cg = clusters.cluster_graph(combine_edges=False)
        cg.simplify(multiple=True, loops=True)
        out = cg.get_adjlist("out")
        layer = [0] * cg.vcount()
        for u in cg.topological_sorting(mode="in"):  # units with no dependency first
            if out[u]:
                layer[u] = 1 + max(layer[w] for w in out[u])
        layers = [[] for _ in range(max(layer, default=-1) + 1)]
        names = self.names
        for u, members in enumerate(clusters):
            layers[layer[u]].append([names[v] for v in members])
        return layers

    # dominators: {name: immediate dominator} over what root reaches, root excepted.
    def nx_dominators(self, root):
        import networkx as nx
        found = nx.immediate_dominators(self.nx, root)
        found.pop(root, None)  # networkx before 3.5 maps the root to itself
        return found

    def ig_dominators(self, root):
        r = self.index[root]
        names = self.names
        return {names[v]: names[d] for v, d in enumerate(self.ig.dominator(r, mode="out"))
                if d == d and d >= 0 and v != r}

    def _ig_tree(self, root):
        """igraph's dominator tree over root's reach: children lists, and the
        reached nodes in breadth-first order (a dominator before what it dominates)."""
        r = self.index[root]
        idom = self.ig.dominator(r, mode="out")
        order = self.ig.bfs(r, mode="out")[0]
        children = {}
        for v in order[1:]:
            children.setdefault(int(idom[v]), []).append(v)
        return r, order, children

    def ig_falls_away(self, root, name):
        _, _, children = self._ig_tree(root)
        stack, found = [self.index[name]], []
        while stack:
            v = stack.pop()
            found.append(self.names[v])
            stack.extend(children.get(v, ()))
        return found

    def ig_sole_providers(self, root, top=10):
        r, order, children = self._ig_tree(root)
        size = {}
        for v in reversed(order):
            size[v] = 1 + sum(size[c] for c in children.get(v, ()))
        del size[r]
        return [(self.names[v], k) for v, k in heapq.nlargest(top, size.items(), key=lambda item: item[1])]

    # weakly_connected: the islands as lists of names.
    def nx_weak(self):
        import networkx as nx
        return [list(c) for c in nx.weakly_connected_components(self.nx)]

    def ig_weak(self):
        names = self.names
        return [[names[v] for v in c] for c in self.ig.connected_components(mode="weak")]

    def nk_weak(self):
        import networkit as nk
        wcc = nk.components.WeaklyConnectedComponents(self.nk)
        wcc.run()
        names = self.names
        return [[names[v] for v in c] for c in wcc.getComponents()]

    # closure_sizes: {name: (reached, reached from)}, the node itself not counted.
    def nk_reach_runs(self):
        import networkit as nk
        out = nk.reachability.ReachableNodes(self.nk, exact=True)
        out.run()
        back = nk.reachability.ReachableNodes(self.nk_reverse, exact=True)
        back.run()
        return out, back

    def nk_closure(self):
        out, back = self.nk_reach_runs()
        f, b = out.numberOfReachableNodes, back.numberOfReachableNodes
        # networkit counts the node itself among what it reaches.
        return {name: (f(v) - 1, b(v) - 1) for v, name in enumerate(self.names)}


# ----------------------------------------------------------------------------
# Timing


class Figure:
    def __init__(self, times, per, single=False):
        self.seconds = statistics.median(times) / per
        self.single = single
        self.runs = len(times)


def alternate(contenders, repeats, once_after, per=1):
    """contenders: key -> (fn, ours). A warm-up call of each (its answer kept),
    then `repeats` rounds of one call of each; a peer whose warm-up took longer
    than once_after is not repeated. Returns (key -> Figure, key -> answer)."""
    answers, firsts, timed = {}, {}, []
    for key, (fn, ours) in contenders.items():
        t0 = time.perf_counter()
        answers[key] = fn()
        firsts[key] = time.perf_counter() - t0
        if repeats and (ours or firsts[key] <= once_after):
            timed.append((key, fn, []))
    for _ in range(repeats):
        for key, fn, times in timed:
            t0 = time.perf_counter()
            answer = fn()
            times.append(time.perf_counter() - t0)
            del answer
    figures = {key: Figure([firsts[key]], per, single=True) for key in contenders}
    for key, _, times in timed:
        figures[key] = Figure(times, per)
    return figures, answers


class Row:
    def __init__(self, label, figures, returned="", ours_only=False, fastest_of=None):
        self.label = label
        self.figures = figures
        self.returned = returned
        self.ours_only = ours_only
        self.fastest_of = fastest_of  # peers that count for the ratio (None: all)

    def fastest(self):
        peers = [(f.seconds, p) for p, f in self.figures.items()
                 if p in PEERS and (self.fastest_of is None or p in self.fastest_of)]
        return min(peers) if peers else None


# ----------------------------------------------------------------------------
# The names asked about


def pairs_with_paths(g, names, count, rng):
    """(source, target) pairs: a source with dependencies and, 9 times in 10, a
    target among what it reaches; otherwise any name (often no path)."""
    sources = [n for n in names if g.out_degree(n)]
    pairs = []
    while len(pairs) < count:
        s = sources[int(rng.random() * len(sources))]
        if rng.random() < 0.9:
            reach = list(g.descendants_at_depth(s))
            t = reach[int(rng.random() * len(reach))]
        else:
            t = names[int(rng.random() * len(names))]
        pairs.append((s, t))
    return pairs


def roots(g, names, count, rng):
    sources = [n for n in names if g.out_degree(n)]
    return [sources[int(rng.random() * len(sources))] for _ in range(count)]


# ----------------------------------------------------------------------------
# Agreement


def _as_sets(groups):
    return {frozenset(group) for group in groups}


def _layers(order):
    return [_as_sets(layer) for layer in order]


def _length(chain):
    return None if chain is None else len(chain)


def _is_chain(g, chain, s, t):
    return (chain[0] == s and chain[-1] == t
            and all(b in set(g.successors(a)) for a, b in zip(chain, chain[1:])))


# ----------------------------------------------------------------------------
# One graph


def run_graph(key, args):
    import lanternhollow_graph_store as store

    label, load = GRAPHS[key]
    t0 = time.perf_counter()
    edges = load()
    print(f"\n## {label}: {len(edges):,} edges (loaded in {time.perf_counter() - t0:.1f} s)", flush=True)
    closure_only = key == "4m"
    which = ("networkit",) if closure_only else tuple(p for p in PEERS if not (args.quick and p == "networkx"))
    g = store.Graph(edges)
    peers = Peers(edges, which)
    names = g.names()
    rng = random.Random(SEED)
    repeats = 1 if args.quick else args.repeats
    rows, notes = [], []

    def row(label_, contenders, per=1, returned="", **kw):
        figures, answers = alternate(contenders, repeats, args.once_after, per)
        shown = ", ".join(f"{k} {_seconds(f.seconds)}{'¹' if f.single else ''}" for k, f in figures.items())
        print(f"  {label_}: {shown}", flush=True)
        rows.append(Row(label_, figures, returned, **kw))
        return answers

    if not closure_only:
        count = 20 if args.quick else 100
        pairs = pairs_with_paths(g, names, count, rng)

        # why
        contenders = {"ours": (lambda: [g.why(s, t) for s, t in pairs], True)}
        if "networkx" in which:
            contenders["networkx"] = (lambda: [peers.nx_why(s, t) for s, t in pairs], False)
        contenders["igraph"] = (lambda: [peers.ig_why(s, t) for s, t in pairs], False)
        answers = row("`why(source, target)`, per pair", contenders, per=len(pairs))
        ours = answers["ours"]
        found = sum(c is not None for c in ours)
        rows[-1].returned = f"{found} of {len(pairs)} pairs joined, {sum(len(c) for c in ours if c):,} names"
        bad = sum(1 for c, (s, t) in zip(ours, pairs) if c is not None and not _is_chain(g, c, s, t))
        if bad:
            notes.append(f"why: {bad} of our chains are not chains of edges from source to target")
        for p in contenders:
            if p != "ours":
                off = sum(_length(a) != _length(b) for a, b in zip(ours, answers[p]))
                if off:
                    notes.append(f"why: {p}'s shortest chain has another length on {off} of {len(pairs)} pairs")

        # why_all, on the pairs whose count stays small enough to enumerate
        counts = [g.why_all(s, t, 10)[1] for s, t in pairs]
        cheap = [pq for pq, c in zip(pairs, counts) if 0 < c <= 1000]
        if cheap:
            contenders = {"ours": (lambda: [g.why_all(s, t, 10) for s, t in cheap], True)}
            if "networkx" in which:
                contenders["networkx"] = (lambda: [peers.nx_why_count(s, t) for s, t in cheap], False)
            contenders["igraph"] = (lambda: [peers.ig_why_count(s, t) for s, t in cheap], False)
            answers = row("`why_all(source, target)` count, per pair", contenders, per=len(cheap))
            ours = answers["ours"]
            rows[-1].returned = (f"{len(cheap)} pairs of ≤ 1,000 chains, {sum(c for _, c in ours):,} chains "
                                 "in all")
            for p in contenders:
                if p != "ours":
                    off = sum(a[1] != b[1] for a, b in zip(ours, answers[p]))
                    if off:
                        notes.append(f"why_all: {p} counts other numbers of chains on {off} of {len(cheap)} "
                                     "pairs" + (" (it lists a chain once per parallel edge along it; ours "
                                                "counts chains of names, as networkx does)"
                                                if p == "igraph" else ""))

        # cycle: ours alone (no peer has a shortest cycle through a given node).
        on_cycles = [n for comp in g.strongly_connected() for n in comp]
        picked = [on_cycles[int(rng.random() * len(on_cycles))] for _ in range(count)] if on_cycles else []
        if picked:
            answers = row("`cycle(name)`, per name, no peer", {"ours": (lambda: [g.cycle(n) for n in picked], True)},
                          per=len(picked), ours_only=True)
            ours = answers["ours"]
            rows[-1].returned = f"{len(picked)} names on cycles, mean length {statistics.mean(map(len, ours)):.1f}"
            # A shortest cycle through v: 1 + the least distance from v to one of v's sources.
            wrong = 0
            for n, c in zip(picked, ours):
                preds = [peers.index[u] for u in set(g.predecessors(n))]
                with warnings.catch_warnings():
                    warnings.simplefilter("ignore", RuntimeWarning)
                    d = peers.ig.distances(source=[peers.index[n]], target=preds, mode="out")[0]
                if c is None or c[0] != n or len(c) != 1 + min(d) or not _is_chain(g, c + [n], n, n):
                    wrong += 1
            if wrong:
                notes.append(f"cycle: {wrong} of {len(picked)} cycles are not shortest cycles through their "
                             "name (igraph distances)")

        # build_order
        contenders = {"ours": (g.build_order, True)}
        if "networkx" in which:
            contenders["networkx"] = (peers.nx_build_order, False)
        contenders["igraph"] = (peers.ig_build_order, False)
        answers = row("`build_order()`", contenders)
        ours = _layers(answers["ours"])
        rows[-1].returned = f"{len(ours)} layers, {sum(map(len, ours)):,} units"
        for p in contenders:
            if p != "ours" and _layers(answers[p]) != ours:
                notes.append(f"build_order: {p}'s layers differ from ours")

        # dominators
        doms = roots(g, names, 10 if args.quick else (50 if key == "debian" else 20), rng)
        contenders = {"ours": (lambda: [g.dominators(r) for r in doms], True)}
        if "networkx" in which:
            contenders["networkx"] = (lambda: [peers.nx_dominators(r) for r in doms], False)
        contenders["igraph"] = (lambda: [peers.ig_dominators(r) for r in doms], False)
        answers = row("`dominators(root)`, per root", contenders, per=len(doms))
        ours = answers["ours"]
        rows[-1].returned = f"{len(doms)} roots, {sum(map(len, ours)):,} names dominated"
        for p in contenders:
            if p != "ours":
                off = sum(a != b for a, b in zip(ours, answers[p]))
                if off:
                    notes.append(f"dominators: {p} differs from ours on {off} of {len(doms)} roots")

        # falls_away and sole_providers, against igraph's dominator tree walked in Python
        asks = []
        for r, found in zip(doms, ours):
            if found:
                reached = list(found)
                asks.append((r, found[reached[int(rng.random() * len(reached))]]))
        asks = [(r, n) for r, n in asks if n != r] or asks
        if asks:
            answers = row("`falls_away(root, name)`, per pair",
                          {"ours": (lambda: [g.falls_away(r, n) for r, n in asks], True),
                           "igraph": (lambda: [peers.ig_falls_away(r, n) for r, n in asks], False)},
                          per=len(asks))
            rows[-1].returned = f"{len(asks)} pairs, {sum(map(len, answers['ours'])):,} names fall away"
            off = sum(set(a) != set(b) for a, b in zip(answers["ours"], answers["igraph"]))
            if off:
                notes.append(f"falls_away: igraph's dominator subtree differs on {off} of {len(asks)} pairs")
        answers = row("`sole_providers(root)`, per root",
                      {"ours": (lambda: [g.sole_providers(r) for r in doms], True),
                       "igraph": (lambda: [peers.ig_sole_providers(r) for r in doms], False)}, per=len(doms))
        rows[-1].returned = f"top 10 of {len(doms)} roots"
        off = sum([k for _, k in a] != [k for _, k in b] for a, b in zip(answers["ours"], answers["igraph"]))
        if off:
            notes.append(f"sole_providers: the top counts differ from igraph's dominator tree on {off} roots")

        # weakly_connected
        contenders = {"ours": (g.weakly_connected, True)}
        if "networkx" in which:
            contenders["networkx"] = (peers.nx_weak, False)
        contenders["igraph"] = (peers.ig_weak, False)
        contenders["networkit"] = (peers.nk_weak, False)
        answers = row("`weakly_connected()`", contenders)
        ours = _as_sets(answers["ours"])
        rows[-1].returned = f"{len(ours):,} islands, largest {max(map(len, ours)):,}"
        for p in contenders:
            if p != "ours" and _as_sets(answers[p]) != ours:
                notes.append(f"weakly_connected: {p}'s islands differ from ours")

    # closure_sizes, against networkit both ways and against our PageRank
    answers = row("`closure_sizes()`",
                  {"ours": (g.closure_sizes, True),
                   "networkit": (peers.nk_closure, False),
                   "networkit, runs only": (peers.nk_reach_runs, False),
                   "ours, pagerank()": (g.pagerank, True)})
    ours = answers["ours"]
    rows[-1].returned = f"{len(ours):,} names, most reached {max(d for d, _ in ours.values()):,}"
    off = sum(1 for n, v in answers["networkit"].items() if ours.get(n) != v)
    if off:
        notes.append(f"closure_sizes: networkit's counts differ from ours on {off:,} names")

    memory = [] if args.no_memory else [measure(key, who) for who in ("ours", "networkit")]
    return {"key": key, "label": label, "edges": len(edges), "nodes": len(names), "rows": rows,
            "notes": notes, "memory": memory, "repeats": repeats, "versions": _versions(which)}


# ----------------------------------------------------------------------------
# Peak memory, in a child process per measurement


def _status(field):
    with open("/proc/self/status") as f:
        for line in f:
            if line.startswith(field + ":"):
                return int(line.split()[1]) * 1024
    raise KeyError(field)


def _settle():
    gc.collect()
    try:
        ctypes.CDLL("libc.so.6").malloc_trim(0)
    except OSError:
        pass


def _held(obj):
    """Bytes of a closure_sizes answer: the dict, its tuples and the ints not cached."""
    total = sys.getsizeof(obj)
    for v in obj.values():
        total += sys.getsizeof(v) + sum(sys.getsizeof(i) for i in v if i > 256)
    return total


def child(key, who):
    """Runs in the child: builds the graph, resets the peak, asks closure sizes once."""
    edges = GRAPHS[key][1]()
    if who == "ours":
        import lanternhollow_graph_store as store
        g = store.Graph(edges)
        ask = g.closure_sizes
        nbytes = g.nbytes
    else:
        peers = Peers(edges, ("networkit",))
        ask = peers.nk_closure
        nbytes = None
    _settle()
    with open("/proc/self/clear_refs", "w") as f:
        f.write("5")
    before = _status("VmRSS")
    t0 = time.perf_counter()
    answer = ask()
    seconds = time.perf_counter() - t0
    peak = _status("VmHWM")
    print(json.dumps({"who": who, "graph": key, "seconds": seconds, "peak_added": peak - before,
                      "answer": _held(answer), "nbytes": nbytes, "edges": len(edges)}))


def measure(key, who):
    out = subprocess.run([sys.executable, "-m", "bench.questions", "--child", key, who],
                         capture_output=True, text=True, check=True, cwd=data.ROOT)
    found = json.loads(out.stdout.strip().splitlines()[-1])
    print(f"  peak memory of closure_sizes, {who}: {_mib(found['peak_added'])} added "
          f"(answer {_mib(found['answer'])}), one call {_seconds(found['seconds'])}", flush=True)
    return found


# ----------------------------------------------------------------------------
# Output


def _seconds(s):
    if s < 1e-3:
        return f"{s * 1e6:.1f} µs"
    return f"{s * 1e3:.2f} ms" if s < 1 else f"{s:.2f} s"


def _mib(b):
    return "—" if b is None else f"{b / 2**20:.1f} MiB"


def _versions(which):
    import importlib.metadata as md
    names = {"networkx": "networkx", "igraph": "igraph", "networkit": "networkit"}
    return ", ".join(f"{p} {md.version(names[p])}" for p in which)


def render(r, args):
    lines = [f"### {r['label']}: {r['edges']:,} edges, {r['nodes']:,} nodes", ""]
    lines.append(f"Python {sys.version.split()[0]}, {os.cpu_count()} cores (networkit on {CPUS} threads, ours "
                 f"in the default mode); {r['repeats']} rounds after a warm-up, median; {r['versions']}.")
    lines.append("")
    lines.append("| question | ours | networkx | igraph | networkit | fastest peer | ours ÷ fastest | "
                 f"≤ {TARGET}× | ours returned |")
    lines.append("|---|---:|---:|---:|---:|---|---:|:---:|---|")
    for row in r["rows"]:
        f = row.figures
        cell = (lambda k: "—" if k not in f else _seconds(f[k].seconds) + ("¹" if f[k].single else ""))
        fastest = row.fastest()
        if fastest:
            ratio = f["ours"].seconds / fastest[0]
            verdict = "yes" if ratio <= TARGET else "**no**"
            cols = [fastest[1], f"{ratio:.3f}", verdict]
        else:
            cols = ["no peer", "—", "—"]
        lines.append("| " + " | ".join([row.label, cell("ours"), cell("networkx"), cell("igraph"),
                                        cell("networkit")] + cols + [row.returned]) + " |")
    closure = next((row for row in r["rows"] if row.label == "`closure_sizes()`"), None)
    if closure:
        f = closure.figures
        pr = f["ours, pagerank()"].seconds
        runs = f["networkit, runs only"].seconds
        lines.append("")
        lines.append(f"`closure_sizes()` ÷ our `pagerank()` (100 iterations, same graph, same rounds): "
                     f"**{f['ours'].seconds / pr:.2f}** ({_seconds(f['ours'].seconds)} against {_seconds(pr)}); "
                     f"networkit's two `ReachableNodes(exact=True).run()` alone, without reading the counts "
                     f"out: {_seconds(runs)} (ours ÷ that: {f['ours'].seconds / runs:.3f}).")
    if r["memory"]:
        lines += ["", "| closure_sizes, one call in a child process | time | peak added | of it, the answer | "
                      "g.nbytes |", "|---|---:|---:|---:|---:|"]
        for m in r["memory"]:
            lines.append(f"| {m['who']} | {_seconds(m['seconds'])} | {_mib(m['peak_added'])} | "
                         f"{_mib(m['answer'])} | {_mib(m['nbytes'])} |")
    lines.append("")
    if r["notes"]:
        lines.append("Differences: " + "; ".join(r["notes"]) + ".")
        lines.append("")
    if len(r["rows"]) == 1:
        lines.append("Every closure size agrees with networkit's.")
    else:
        lines.append("Every other answer checked agrees: the lengths of the shortest chains, the chain counts, "
                     "the layers and islands as sets, the dominators, the dominator subtrees and their sizes, "
                     "every closure size against networkit.")
    return "\n".join(lines) + "\n"


HEADER = """# Questions on a built graph, against networkx, igraph and networkit

Reproduce with `.venv-3.13/bin/python -m bench.questions` (all three graphs,
about ten minutes), or `--graph debian|1m|4m` for one (a run rewrites only
the sections of the graphs it ran on). See the docstring of
`bench/questions.py` and bench/README.md for what each row asks of each
peer. Per-name rows: the time of the whole list of names or pairs
(random.Random(42)) divided by its length. ¹: a single run (a peer's
warm-up over the --once-after limit). The 4M-edge graph runs
closure_sizes only.
"""


def write(results, args):
    kept = {}
    if os.path.exists(OUTPUT):
        with open(OUTPUT, encoding="utf-8") as f:
            text = f.read()
        for part in text.split("\n### ")[1:]:
            kept[part.split(":", 1)[0]] = "### " + part.rstrip("\n") + "\n"
    for r in results:
        kept[r["label"]] = render(r, args)
    order = [GRAPHS[k][0] for k in GRAPHS]
    body = "\n".join(kept[label] for label in order if label in kept)
    with open(OUTPUT, "w", encoding="utf-8") as f:
        f.write(HEADER + "\n" + body)
    print(f"\nwrote {OUTPUT}")


def main(argv=None):
    ap = argparse.ArgumentParser(prog="python -m bench.questions", description=__doc__.split("\n\n")[0])
    ap.add_argument("--graph", nargs="+", choices=list(GRAPHS), default=list(GRAPHS))
    ap.add_argument("--quick", action="store_true", help="fewer names, one round, no networkx")
    ap.add_argument("--repeats", type=int, default=5)
    ap.add_argument("--once-after", type=float, default=2.0)
    ap.add_argument("--no-memory", action="store_true", help="skip the peak-memory child processes")
    ap.add_argument("--output", default=None)
    ap.add_argument("--child", nargs=2, metavar=("GRAPH", "WHO"), help=argparse.SUPPRESS)
    args = ap.parse_args(argv)
    if args.child:
        return child(*args.child)
    if args.output:
        global OUTPUT
        OUTPUT = args.output
    results = [run_graph(key, args) for key in args.graph]
    write(results, args)
    for r in results:
        print("\n" + render(r, args))


if __name__ == "__main__":
    main()
