"""Questions asked of a graph built once: lanternhollow_graph_store.Graph
against the peers' own graphs, every one built before its clock starts.

    python -m bench --only built                   # Debian and synthetic 1M
    python -m bench --only built --graph debian --quick

The rows: a depth-2 query (descendants, then ancestors) from each of 100
names, per query; construction from the Python list, against one call of a
function of lanternhollow_graph (which builds its graph, answers and frees
it) and against each peer's construction; PageRank and exact betweenness on
the built graphs, ours with threads=1 and threads=2; the bytes the graph
holds. Every contender of a row runs in the same rounds, one call of each
per round, so that the machine's drift falls on all of them alike; a call is
left to rest a moment after anything that ran on several threads, whose idle
workers spin before they sleep. The table goes into bench/results.md as a
section of its own: a run of this table alone rewrites that section (the
part of each graph it ran on) and keeps the rest of the file.
"""

import gc
import os
import statistics
import sys
import time

import lanternhollow_graph as lg

from bench import suite
from bench.peers import BUILT

DEPTH = 2
THREADS = 2  # threads= of the second column of ours
PAUSE = 0.03  # seconds of rest after a call on several threads
HEADING = "## Questions on a built graph"
MULTI_THREADED = ("networkit-mt", "graphblas-mt")


def load_graph_type():
    try:
        from lanternhollow_graph_store import Graph
    except ImportError:
        return None
    return Graph


# ----------------------------------------------------------------------------
# Timing


class Figure:
    """A contender's times in one row, or its single warm-up run when that
    took longer than once_after. Its figure is the best of its runs: on a
    machine whose cores other work shares, a run is slowed by whatever ran
    beside it, never sped up, so the fastest run is the nearest to the
    call's own cost; the median is printed beside it."""

    def __init__(self, times=(), single=None, error=None, per=1):
        self.times = sorted(t / per for t in times)
        if single is not None:
            self.times = [single / per]
        self.single = single is not None
        self.error = error

    @property
    def seconds(self):
        return self.times[0] if self.times else None

    @property
    def median(self):
        return statistics.median(self.times) if self.times else None

    @property
    def runs(self):
        return len(self.times)


class Contender:
    """fn, called once to warm up and then `repeats` times; with repeats 0,
    its first call is its figure. A peer's call that takes longer than
    once_after is not repeated; ours always are, as they are what the table
    is about and their ratios to one another (threads=2 ÷ threads=1) want
    more than one run."""

    def __init__(self, fn, repeats, threaded=False, ours=False):
        self.fn = fn
        self.repeats = repeats
        self.threaded = threaded
        self.ours = ours


def alternate(contenders, *, once_after, per=1, resident=False):
    """contenders: key -> Contender. One warm-up call of each, whose answer
    is kept; then rounds of one timed call of each in turn (each returned
    object is held until its clock stops, so that no timing includes freeing
    the answer). Returns (key -> Figure, key -> warm-up answer, key -> bytes
    of resident memory the warm-up's answer kept, with resident=True)."""
    figures, answers, kept, timed = {}, {}, {}, []
    for key, c in contenders.items():
        if resident:
            # Every object alive now is set aside for the collections around
            # the call, which then look at what the call made, not at the
            # whole input again.
            gc.freeze()
            suite._settle()
            before = suite._status("VmRSS")
        try:
            t0 = time.perf_counter()
            answers[key] = c.fn()
            first = time.perf_counter() - t0
        except Exception as e:  # noqa: BLE001 - a contender that fails is reported, not fatal
            figures[key] = Figure(error=f"{type(e).__name__}: {e}")
            if resident:
                gc.unfreeze()
            continue
        if resident:
            suite._settle()
            kept[key] = suite._status("VmRSS") - before
            gc.unfreeze()
        if c.threaded:
            time.sleep(PAUSE)
        if not c.repeats or (first > once_after and not c.ours):
            figures[key] = Figure(single=first, per=per)
        else:
            timed.append((key, c, []))
    for round_ in range(max((c.repeats for _, c, _ in timed), default=0)):
        for _, c, times in timed:
            if round_ < c.repeats:
                t0 = time.perf_counter()
                answer = c.fn()
                times.append(time.perf_counter() - t0)
                del answer  # freed once the clock has stopped
                if c.threaded:
                    time.sleep(PAUSE)
    for key, _, times in timed:
        figures[key] = Figure(times, per=per)
    return {key: figures[key] for key in contenders if key in figures}, answers, kept


# ----------------------------------------------------------------------------
# Rows


class Row:
    def __init__(self, label, ours, ours_threads=None, peers=None, also="", returned="", note=""):
        self.label = label
        self.ours = ours  # Figure, or a str for a row of sizes
        self.ours_threads = ours_threads
        self.peers = peers or {}  # peer -> Figure (or str)
        self.also = also
        self.returned = returned
        self.note = note


def _mismatch(ours, theirs):
    """Starts on which a peer's answer (a dict of depths, or a set of names)
    differs from ours."""
    return sum(1 for a, b in zip(ours, theirs) if (a != b if isinstance(b, dict) else set(a) != b))


def _score_gap(ours, theirs):
    """The largest difference between our scores and a peer's, over our names."""
    if theirs is None:
        return None
    return max((abs(s - theirs.get(name, float("nan"))) for name, s in ours.items()), default=0.0)


def _same_bits(a, b):
    return list(a.items()) == list(b.items()) and all(
        x.hex() == y.hex() for x, y in zip(a.values(), b.values()))


def _peers(question, args):
    # networkx takes seconds to build the larger graphs; a quick run leaves it out.
    order = [p for p in suite.PEER_ORDER if p in BUILT and p not in args.skip_peer
             and not (args.quick and p == "networkx")]
    return [p for p in order if question in BUILT[p]]


def run_built(label, edges, ctx, args, Graph):
    """The rows of the table for one graph; Graph is the type under test."""
    saved = os.environ.pop(suite.THREADS_VARIABLE, None)  # ours in the default mode
    try:
        return _run(label, edges, ctx, args, Graph)
    finally:
        if saved is not None:
            os.environ[suite.THREADS_VARIABLE] = saved


def _run(label, edges, ctx, args, Graph):
    starts = ctx["starts"]
    names = ctx["names"]
    peer_repeats = 0 if args.quick else args.repeats  # quick: a peer's first call is its figure
    suite.floor_fn(edges)()  # every str's hash cached, as for the other tables
    print(f"\n## questions on a built graph, {label}: {len(edges):,} edges, {len(names):,} nodes", flush=True)
    notes = []

    # Construction. The warm-up's answers are the graphs every later row asks.
    builders = _peers("build", args)
    contenders = {
        "ours": Contender(lambda: Graph(edges), args.repeats, ours=True),
        "one call": Contender(lambda: lg.descendants_at_depth(edges, starts[0], DEPTH), args.repeats, ours=True),
        THREADS: Contender(suite.with_threads(lambda: Graph(edges), THREADS), args.repeats, threaded=True, ours=True),
    }
    for p in builders:
        contenders[p] = Contender(lambda p=p: BUILT[p]["build"](edges), peer_repeats, threaded=p in MULTI_THREADED)
    figures, built, kept = alternate(contenders, once_after=args.once_after, resident=True)
    _report("construction", figures)
    g = built.get("ours")
    if g is None:
        raise RuntimeError(f"Graph(edges) failed: {figures['ours'].error}")
    one_call = figures["one call"]
    construction = Row(
        "construction from the list", figures["ours"], figures.get(THREADS),
        {p: figures[p] for p in builders if p in figures},
        also=_ratio_text("÷ one call", figures["ours"], one_call)
        + f" (one call {_time(one_call)})",
        returned=f"{g.node_count:,} nodes, {g.edge_count:,} edges",
        note="`Graph(edges)` against one call of `descendants_at_depth(edges, name, 2)`, which builds its "
             f"graph, answers and frees it; `ours, {THREADS} threads`: Graph(edges) with "
             f"{suite.THREADS_VARIABLE}={THREADS}. The peers number the names with a dict and build their "
             "graph from the two index arrays, as in the end-to-end tables; scipy builds the CSR matrix and "
             "its transpose (a node's targets and its sources); networkx a DiGraph and its reversed view; "
             "graphblas the matrix its PageRank multiplies by.")
    resident = Row("resident memory the built graph keeps", _mib(kept.get("ours")), None,
                   {p: _mib(kept[p]) for p in builders if p in kept},
                   also=_smallest_text(kept, builders),
                   note="growth of the process's resident set size from before a construction to after "
                        "it, with the garbage collected and freed heap handed back both times: the graph "
                        "and everything the library keeps beside it, to the page (the peers' names list "
                        "and dict share the input's strs).")
    del figures, contenders

    # Depth-2 queries from 100 names.
    rows = []
    for question, batch in (("descendants_at_depth", lg.batch_descendants),
                            ("ancestors_at_depth", lg.batch_ancestors)):
        method = getattr(g, question)
        contenders = {"ours": Contender(lambda: [method(name, DEPTH) for name in starts], args.repeats, ours=True)}
        peers = [p for p in _peers(question, args) if p in built]
        for p in peers:
            ask, b = BUILT[p][question], built[p]
            contenders[p] = Contender(lambda ask=ask, b=b: [ask(b, name, DEPTH) for name in starts], args.repeats)
        figures, answers, _ = alternate(contenders, once_after=args.once_after, per=len(starts))
        _report(question, figures, "per query")
        ours = answers["ours"]
        expected = batch(edges, starts, DEPTH)
        wrong = sum(1 for name, found in zip(starts, ours) if found != expected[name])
        if wrong:
            notes.append(f"{question}: ours differs from `{batch.__name__}(edges, names, 2)` on {wrong} of "
                         f"{len(starts)} names")
        differ = [(p, off) for p in peers if p in answers and (off := _mismatch(ours, answers[p]))]
        notes += [f"{question}: {p} differs from ours on {off} of {len(starts)} names" for p, off in differ]
        if not wrong and not differ:
            notes.append(f"{question}: every peer's answers equal ours on all {len(starts)} names (igraph's "
                         f"as sets of names), and ours equal `{batch.__name__}(edges, names, 2)`.")
        total = sum(map(len, ours))
        deepest = sum(1 for found in ours for d in found.values() if d == DEPTH)
        note = ("the same names, against the edges." if rows else
                f"from each of {len(starts)} names drawn with random.Random({suite.SEED}), the time of all "
                "of them ÷ their number. Ours, networkx, rustworkx, networkit and scipy return "
                "{name: depth}; igraph (`neighborhood(v, order=2, mindist=1)`, one call) the set of names. "
                "rustworkx and networkit expand two levels in Python over their neighbour lists, scipy with "
                "numpy over the CSR arrays: their own searches have no depth limit.")
        rows.append(Row(f"`{question}(name, 2)`, per query", figures["ours"], None,
                        {p: figures[p] for p in peers if p in figures},
                        returned=f"{total:,} names, {deepest:,} at depth 2", note=note))
        del contenders, answers, figures
    rows.append(construction)

    # PageRank and betweenness on the built graphs, ours on 1 and THREADS threads.
    for question, label_, note in (
            ("pagerank", "PageRank, 100 iterations",
             "as in the end-to-end tables (rustworkx raises at tol=0 after its iterations; igraph solves with "
             "PRPACK), on the graphs built above; networkx is left out, at seconds a call. Ours with threads=1 "
             f"and threads={THREADS}."),
            ("betweenness", "betweenness, exact",
             f"normalised; ours with threads=1 and threads={THREADS}, igraph `betweenness(directed=True)` on "
             "its built graph (rustworkx takes minutes).")):
        method = getattr(g, question)
        contenders = {"ours": Contender(lambda: method(threads=1), args.repeats, ours=True),
                      THREADS: Contender(lambda: method(threads=THREADS), args.repeats, threaded=True, ours=True)}
        peers = [p for p in _peers(question, args) if p in built]
        for p in peers:
            ask, b = BUILT[p][question], built[p]
            contenders[p] = Contender(lambda ask=ask, b=b: ask(b), peer_repeats, threaded=p in MULTI_THREADED)
        figures, answers, _ = alternate(contenders, once_after=args.once_after)
        _report(question, figures)
        ours = answers.get("ours")
        if ours is not None and THREADS in answers:
            same = _same_bits(ours, answers[THREADS])
            notes.append(f"{question}: threads={THREADS} gives "
                         + ("the same bits as threads=1." if same else "other bits than threads=1."))
        gaps = []
        for p in peers:
            if ours is not None and p in answers:
                gap = _score_gap(ours, answers[p])
                gaps.append(f"{p} {'no result (raises at tol=0)' if gap is None else f'{gap:.1e}'}")
        if gaps:
            notes.append(f"{question}: largest difference from our scores: " + ", ".join(gaps))
        also = _ratio_text(f"{THREADS} thr. ÷ 1", figures.get(THREADS), figures["ours"])
        if question == "pagerank":
            # igraph's PRPACK solves the system directly; the others iterate 100 times, as ours does.
            iterating = [(figures[p].seconds, p) for p in peers
                         if p != "igraph" and p in figures and figures[p].seconds is not None]
            if iterating and figures["ours"].seconds is not None:
                seconds, who = min(iterating)
                also += f"; ÷ fastest peer of 100 iterations: {figures['ours'].seconds / seconds:.2f} ({who})"
        rows.append(Row(label_, figures["ours"], figures.get(THREADS),
                        {p: figures[p] for p in peers if p in figures}, also=also,
                        returned=f"{len(ours):,} scores" if ours is not None else "", note=note))
        del contenders, answers, figures

    # Bytes held.
    name_bytes = sum(len(name.encode("utf-8", "surrogatepass")) for name in names)
    beyond = (g.nbytes - name_bytes) / g.edge_count if g.edge_count else 0.0
    rows.append(Row("bytes held, `g.nbytes`", _mib(g.nbytes),
                    also=f"{beyond:.1f} B per edge beyond the names",
                    returned=f"names {_mib(name_bytes)}",
                    note="`g.nbytes`, and (g.nbytes − the names' UTF-8 bytes) ÷ the edge count; every "
                         "distinct name's bytes counted once."))
    rows.append(resident)
    print(f"  nbytes {g.nbytes:,} ({beyond:.1f} B per edge beyond {name_bytes:,} bytes of names); resident "
          f"added {_mib(kept.get('ours'))}", flush=True)
    return {"label": label, "edges": len(edges), "nodes": len(names), "rows": rows, "notes": notes,
            "repeats": args.repeats, "peer_repeats": peer_repeats}


def _report(what, figures, unit=""):
    for key, f in figures.items():
        who = "ours" if key == "ours" else f"ours, {key} thr." if isinstance(key, int) else key
        print(f"  {what}: {who} {_time(f)}{' ' + unit if unit else ''}"
              + (f" (median {_seconds(f.median)})" if f.runs > 1 else ""), flush=True)


# ----------------------------------------------------------------------------
# Output


def _seconds(s):
    if s < 1e-3:
        return f"{s * 1e6:.1f} µs"
    return f"{s * 1e3:.1f} ms" if s < 1 else f"{s:.2f} s"


def _time(f):
    if f is None:
        return "—"
    if isinstance(f, str):
        return f
    if f.error:
        return "failed"
    return _seconds(f.seconds) + ("¹" if f.single else "")


def _mib(b):
    return "—" if b is None else f"{b / 2**20:.1f} MiB"


def _ratio_text(what, a, b):
    if a is None or b is None or a.seconds is None or b.seconds is None:
        return ""
    return f"{what}: {a.seconds / b.seconds:.2f}"


def _smallest_text(kept, peers):
    present = [(kept[p], p) for p in peers if kept.get(p)]
    if "ours" not in kept or not present:
        return ""
    least, who = min(present)
    return f"÷ smallest peer: {kept['ours'] / least:.2f} ({who})"


def _fastest(row, peers):
    timed = [(row.peers[p].seconds, p) for p in peers
             if isinstance(row.peers.get(p), Figure) and row.peers[p].seconds is not None]
    return min(timed) if timed else None


def render_section(results, args):
    """The section for results.md: a heading, the method, a table per graph."""
    lines = [HEADING, ""]
    lines.append("`Graph(edges)` of `lanternhollow_graph_store`, built once, against each peer's graph built "
                 "once from the same list; only the question asked is timed. Every contender of a row runs in "
                 "the same rounds, one call of each per round; the figure is the best of its runs after a "
                 f"warm-up (¹: one run, a peer's warm-up that took longer than {args.once_after:g} s, or with "
                 "--quick a peer's only call). `ours` runs in the default mode for the queries and "
                 f"construction, with threads=1 for PageRank and betweenness; `ours, {THREADS} threads` with "
                 f"threads={THREADS}, or for construction with {suite.THREADS_VARIABLE}={THREADS}. "
                 "`python -m bench --only built` reruns this section alone; see bench/README.md.")
    for r in results:
        lines += [""] + render_graph(r, args)
    return "\n".join(lines) + "\n"


def render_graph(r, args):
    present = [p for p in suite.PEER_ORDER if any(p in row.peers for row in r["rows"])]
    lines = [f"### {r['label']}: {r['edges']:,} edges, {r['nodes']:,} nodes", ""]
    lines.append(f"Command: `{' '.join(['python -m bench'] + sys.argv[1:])}`; Python {sys.version.split()[0]}, "
                 f"{os.cpu_count()} cores; ours {r['repeats']} runs after a warm-up, peers "
                 + (f"{r['peer_repeats']}" if r["peer_repeats"] else "one run without a warm-up (--quick)")
                 + "; peers: "
                 + ", ".join(f"{p} {suite._version(p)}" for p in present) + ".")
    lines.append("")
    head = (["question", "ours", f"ours, {THREADS} threads"] + present
            + ["ours ÷ fastest peer", f"{THREADS} threads ÷ fastest peer", "also", "ours returned"])
    lines.append("| " + " | ".join(head) + " |")
    lines.append("|" + "|".join("---" if i in (0, len(head) - 1) else "---:" for i in range(len(head))) + "|")
    for row in r["rows"]:
        cells = [row.label, _time(row.ours), _time(row.ours_threads)]
        cells += [_time(row.peers.get(p)) for p in present]
        fastest = _fastest(row, present)
        for mine in (row.ours, row.ours_threads):
            if fastest and isinstance(mine, Figure) and mine.seconds is not None:
                cells.append(f"{mine.seconds / fastest[0]:.2f} ({fastest[1]})" if mine is row.ours
                             else f"{mine.seconds / fastest[0]:.2f}")
            else:
                cells.append("—")
        cells += [row.also or "—", row.returned]
        lines.append("| " + " | ".join(cells) + " |")
    lines += ["", "Notes:", ""]
    lines += [f"- {row.label}: {row.note}" for row in r["rows"] if row.note]
    lines += [f"- {n}" for n in r["notes"]]
    return lines


def splice(existing, results, args):
    """existing results.md with the section of this table replaced: the
    graphs of this run take the place of their old tables, the others stay."""
    head, _, old = existing.partition("\n" + HEADING + "\n")
    kept = {}
    for part in old.split("\n### ")[1:]:
        kept[part.split(":", 1)[0]] = "### " + part.rstrip("\n")
    fresh = {r["label"]: r for r in results}
    merged = []
    for label, text in kept.items():
        merged.append("\n".join(render_graph(fresh.pop(label), args)) if label in fresh else text)
    merged += ["\n".join(render_graph(r, args)) for r in fresh.values()]
    section = render_section([], args).rstrip("\n")
    return head.rstrip("\n") + "\n\n" + section + "\n\n" + "\n\n".join(merged) + "\n"
