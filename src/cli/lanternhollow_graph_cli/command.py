"""lanternhollow-graph: the analyses of an edge-list file, printed or as JSON."""

import argparse
import difflib
import json
import os
import sys
import time

from lanternhollow_graph_store import Graph

from . import picture, stdlib_imports
from .edges import InputError, read_edges

PROG = "lanternhollow-graph"
# The standard library's default focus: a module with a small import cycle of
# its own, whose neighbourhood still fits in one readable picture.
STDLIB_FOCUS = "urllib.request"
BETWEENNESS_SAMPLE = 100
BETWEENNESS_SEED = 42

DESCRIPTION = """\
Analyse a dependency graph given as an edge list: one (source, target) pair a
line, the two names separated by a tab or a comma (a line with a tab is split
at its tabs), gzipped or not; '-' reads standard input. Prints the most
central nodes by PageRank, the cycles, the bottlenecks by sampled
betweenness, and what lies upstream and downstream of one focus node; draws
the focus's neighbourhood on request."""

EPILOG = """\
examples:
  lanternhollow-graph deps.tsv.gz --focus python3 --svg python3.svg
  zcat deps.tsv.gz | lanternhollow-graph - --json | jq '.pagerank.top[0]'
  lanternhollow-graph --stdlib --png stdlib.png

Bad input (a missing file, a line that is not a pair of names, an unknown
focus) is reported in one line on standard error with exit status 2."""


class _Parser(argparse.ArgumentParser):
    def error(self, message):
        raise InputError(f"{message} (see {PROG} --help)")


def _count(text):
    try:
        value = int(text)
    except ValueError:
        raise argparse.ArgumentTypeError(f"not a whole number: {text!r}") from None
    if value < 0:
        raise argparse.ArgumentTypeError(f"must not be negative: {text}")
    if value >= 2**64:
        raise argparse.ArgumentTypeError(f"too large: {text}")
    return value


def parser():
    p = _Parser(prog=PROG, description=DESCRIPTION, epilog=EPILOG, formatter_class=argparse.RawDescriptionHelpFormatter)
    p.add_argument("file", nargs="?", metavar="FILE", help="the edge list ('-' for standard input)")
    p.add_argument(
        "--stdlib",
        action="store_true",
        help=f"analyse the import graph of this Python's standard library instead of FILE (default focus: {STDLIB_FOCUS})",
    )
    p.add_argument("--focus", metavar="NAME", help="node to look at closely (default: the top-ranked one)")
    p.add_argument("--top", type=_count, default=10, metavar="N", help="entries in each ranking (default 10; 0 for all)")
    p.add_argument(
        "--depth", type=_count, default=1, metavar="N", help="steps from the focus for its neighbourhood (default 1)"
    )
    p.add_argument("--json", action="store_true", help="print every analysis as one JSON object instead of text")
    p.add_argument("--dot", metavar="OUT", help="write the picture of the neighbourhood as Graphviz DOT text")
    p.add_argument("--svg", metavar="OUT", help="draw the picture as SVG (needs Graphviz)")
    p.add_argument("--png", metavar="OUT", help="draw the picture as PNG (needs Graphviz)")
    return p


def ranked(scores, top):
    """(name, score) by score, highest first, ties by name; top 0 keeps all."""
    items = sorted(scores.items(), key=lambda kv: (-kv[1], kv[0]))
    return items[:top] if top else items


def by_depth_order(depths):
    return dict(sorted(depths.items(), key=lambda kv: (kv[1], kv[0])))


def unknown_focus(focus, names):
    close = difflib.get_close_matches(focus, names, n=3) if len(names) <= 200_000 else []
    hint = f" (close: {', '.join(repr(c) for c in close)})" if close else ""
    return InputError(f"unknown focus: {focus!r} is not a name in the graph{hint}")


class Report:
    """Runs the analyses in order, printing each as text unless quiet."""

    def __init__(self, quiet):
        self.quiet = quiet

    def say(self, *lines):
        if not self.quiet:
            for line in lines:
                print(line)

    def timed(self, label, fn, *args):
        t0 = time.perf_counter()
        result = fn(*args)
        self.say(f"\n== {label}  ({(time.perf_counter() - t0) * 1e3:,.1f} ms)")
        return result

    def table(self, rows, headers, aligns):
        rows = [[str(c) for c in row] for row in rows]
        widths = [max([len(h)] + [len(r[i]) for r in rows]) for i, h in enumerate(headers)]

        def fmt(cells):
            return "  ".join(c.rjust(w) if a == ">" else c.ljust(w) for c, w, a in zip(cells, widths, aligns)).rstrip()

        self.say("  " + fmt(headers), "  " + "  ".join("-" * w for w in widths), *("  " + fmt(r) for r in rows))


def shorten(names, width=72):
    """As many names as fit in width characters, then how many more there are."""
    shown = []
    used = 0
    for name in names:
        more = f", ... (+{len(names) - len(shown)})"
        if shown and used + 2 + len(name) + len(more) > width:
            return ", ".join(shown) + more
        shown.append(name)
        used += len(name) + 2
    return ", ".join(shown)


def by_depth(depths):
    levels = {}
    for name, d in depths.items():
        levels.setdefault(d, []).append(name)
    return [(d, len(levels[d]), shorten(sorted(levels[d]))) for d in sorted(levels)]


def load(args):
    """The graph that every analysis runs on, its count of distinct edges, and its source described and named.

    The graph is built once, here; the time given with the source covers
    reading the edges and building it.
    """
    if args.stdlib:
        root = stdlib_imports.stdlib_root()
        t0 = time.perf_counter()
        edges = stdlib_imports.stdlib_import_edges(root)
        graph = Graph(edges)
        source = f"{stdlib_imports.describe(root)} (parsed in {time.perf_counter() - t0:.2f} s)"
        return graph, len(set(edges)), source, root
    t0 = time.perf_counter()
    edges = read_edges(args.file)
    label = "standard input" if args.file == "-" else args.file
    if not edges:
        raise InputError(f"the graph is empty: no edges in {label}")
    graph = Graph(edges)
    return graph, len(set(edges)), f"{label} (read in {time.perf_counter() - t0:.2f} s)", label


def run(argv=None):
    args = parser().parse_args(argv)
    if args.stdlib == (args.file is not None):
        raise InputError(f"give either an edge-list FILE or --stdlib (see {PROG} --help)")
    for option in ("dot", "svg", "png"):
        out = getattr(args, option)
        if out is not None and (out == "" or os.path.isdir(out)):
            raise InputError(f"--{option}: {out!r} is not a file name")

    g, distinct, source, label = load(args)
    focus = args.focus
    if focus is None and args.stdlib and STDLIB_FOCUS in g:
        focus = STDLIB_FOCUS
    if focus is not None and focus not in g:
        raise unknown_focus(focus, g.names())

    out = Report(quiet=args.json)
    out.say(f"Graph: {source}", f"  {g.node_count:,} nodes, {g.edge_count:,} edges ({distinct:,} distinct)")

    rank = out.timed("Most central by PageRank", g.pagerank)
    top_rank = ranked(rank, args.top)
    out.table([(i + 1, n, f"{s:.6f}") for i, (n, s) in enumerate(top_rank)], ["#", "node", "score"], "><>")

    components = out.timed("Cycles (strongly connected components), largest first", g.strongly_connected)
    top_components = components[: args.top] if args.top else components
    if components:
        out.table([(i + 1, len(c), shorten(c)) for i, c in enumerate(top_components)], ["#", "size", "members"], "><<")
        if len(components) > len(top_components):
            out.say(f"  ... and {len(components) - len(top_components)} more")
    else:
        out.say("  none: the graph is acyclic")

    between = out.timed(
        f"Bottlenecks by sampled betweenness ({BETWEENNESS_SAMPLE} sources)",
        g.sampled_betweenness,
        BETWEENNESS_SAMPLE,
        BETWEENNESS_SEED,
    )
    top_between = [kv for kv in ranked(between, args.top) if kv[1] > 0]
    if top_between:
        out.table([(i + 1, n, f"{s:.6f}") for i, (n, s) in enumerate(top_between)], ["#", "node", "score"], "><>")
    else:
        out.say("  none: no sampled shortest path passes through any node")

    if focus is None:
        focus = ranked(rank, 1)[0][0]
    deps = out.timed(f"What {focus} depends on, by depth", g.descendants_at_depth, focus)
    if deps:
        out.table(by_depth(deps), ["depth", "count", "nodes"], "><<")
    else:
        out.say("  nothing")
    users = out.timed(f"What depends on {focus}, by depth", g.ancestors_at_depth, focus)
    if users:
        out.table(by_depth(users), ["depth", "count", "nodes"], "><<")
    else:
        out.say("  nothing")

    steps = "1 step" if args.depth == 1 else f"{args.depth:,} steps"
    hood_nodes, hood_edges = out.timed(
        f"Neighbourhood of {focus} (within {steps})", g.subgraph, [focus], args.depth
    )
    drawn = picture.choose_nodes(focus, hood_nodes, hood_edges, rank)
    out.say(
        f"  {len(hood_nodes):,} nodes, {len(hood_edges):,} edges; the picture shows "
        + (f"the {len(drawn)} most central" if len(drawn) < len(hood_nodes) else f"all {len(drawn)}")
    )
    cycle = next((c for c in components if focus in c), [])

    if args.json:
        drawn_set = set(drawn)
        result = {
            "graph": {"source": label, "nodes": g.node_count, "edges": g.edge_count, "distinct_edges": distinct},
            "pagerank": {"alpha": 0.85, "max_iter": 100, "top": [{"node": n, "score": s} for n, s in top_rank]},
            "strongly_connected": {"count": len(components), "top": top_components},
            "sampled_betweenness": {
                "sample_size": BETWEENNESS_SAMPLE,
                "seed": BETWEENNESS_SEED,
                "top": [{"node": n, "score": s} for n, s in top_between],
            },
            "focus": {
                "node": focus,
                "pagerank": rank[focus],
                "cycle": cycle,
                "descendants": by_depth_order(deps),
                "ancestors": by_depth_order(users),
            },
            "neighbourhood": {
                "depth": args.depth,
                "nodes": len(hood_nodes),
                "edges": len(hood_edges),
                "drawn": drawn,
                "drawn_edges": list(dict.fromkeys((s, t) for s, t in hood_edges if s in drawn_set and t in drawn_set)),
            },
        }
        json.dump(result, sys.stdout, ensure_ascii=False, indent=1)
        sys.stdout.write("\n")

    if args.dot or args.svg or args.png:
        draw(args, focus, drawn, hood_edges, rank, cycle, len(hood_nodes))
    return 0


def draw(args, focus, drawn, hood_edges, rank, cycle, total):
    # With --json, standard output carries only the JSON object.
    note = (lambda text: print(text, file=sys.stderr)) if args.json else print
    text = picture.neighbourhood_dot(focus, drawn, hood_edges, rank, cycle, args.depth, total)
    if args.dot:
        try:
            with open(args.dot, "w", encoding="utf-8") as f:
                f.write(text)
        except OSError as exc:
            raise InputError(f"cannot write {args.dot}: {exc.strerror or exc}") from None
        note(f"  wrote {args.dot}")
    wanted = [(fmt, path) for fmt, path in (("svg", args.svg), ("png", args.png)) if path]
    if not wanted:
        return
    if picture.graphviz() is None:
        names = " and ".join(path for _, path in wanted)
        print(f"{PROG}: {names} not drawn: Graphviz's dot is not on PATH; {picture.GRAPHVIZ_HINT}", file=sys.stderr)
        return
    for fmt, path in wanted:
        picture.render(text, path, fmt)
        note(f"  drew {path}")


def main(argv=None):
    try:
        status = run(argv)
        sys.stdout.flush()
    except InputError as exc:
        print(f"{PROG}: {exc}", file=sys.stderr)
        status = 2
    except picture.RenderError as exc:
        print(f"{PROG}: {exc}", file=sys.stderr)
        status = 1
    except KeyboardInterrupt:
        status = 130
    except BrokenPipeError:
        # The reader went away (| head): say nothing more, and keep the
        # interpreter's final flush from complaining about it.
        devnull = os.open(os.devnull, os.O_WRONLY)
        os.dup2(devnull, sys.stdout.fileno())
        status = 1
    return status
