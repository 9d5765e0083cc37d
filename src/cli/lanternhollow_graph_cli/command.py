"""lanternhollow-graph: the analyses of an edge-list file, printed or as JSON."""

import argparse
import difflib
import errno
import json
import os
import stat
import sys
import time

from lanternhollow_graph_store import Graph

from . import outputs, picture, stdlib_imports
from .edges import InputError
from .outputs import OutputError, printable

PROG = "lanternhollow-graph"
# The standard library's default focus: a module with a small import cycle of
# its own, whose neighbourhood still fits in one readable picture.
STDLIB_FOCUS = "urllib.request"
BETWEENNESS_SAMPLE = 100
BETWEENNESS_SEED = 42
# Exact betweenness runs when it is expected to take less than this.
EXACT_BUDGET_SECONDS = 1.0
# The cost model of an exact betweenness on one thread: a search from every
# node, each step (a node reached, an edge walked) taking about STEP_SECONDS,
# and NODE_SECONDS a node for the arrays and the result. Measured on random,
# layered and real dependency graphs, where a step took 4 to 21 ns.
STEP_SECONDS = 20e-9
NODE_SECONDS = 300e-9
# Shortest chains that --why prints; the count is always exact.
WHY_CHAINS = 5
# The first bytes of every snapshot (Graph.save): a FILE that starts with
# them is loaded, whatever its name.
SNAPSHOT_MAGIC = b"\x89LHG\r\n\x1a\n"

DESCRIPTION = """\
Analyse a dependency graph given as an edge list: one (source, target) pair a
line, the source depending on the target, the two names separated by a tab or
a comma (a line with a tab is split at its tabs), gzipped or not; '-' reads
standard input. FILE may also be a snapshot written by --save (or
Graph.save), recognised by its first bytes, which loads in an instant. Prints the most central nodes by PageRank, the most
depended-on nodes, the cycles with a shortest chain closing each, the
bottlenecks by betweenness (exact when that is expected to take under a
second, otherwise sampled), and for one focus node its totals and what lies
upstream and downstream of it, by depth; on request, why one node depends on
another, the build order, what falls away from the focus without a node, and
a picture of the focus's neighbourhood."""

EPILOG = """\
examples:
  lanternhollow-graph deps.tsv.gz --focus python3 --svg python3.svg
  lanternhollow-graph deps.tsv.gz --why python3 libc6 --exclude dpkg
  lanternhollow-graph deps.tsv.gz --focus python3 --falls-away libpython3.11-stdlib
  zcat deps.tsv.gz | lanternhollow-graph - --json | jq '.pagerank.top[0]'
  lanternhollow-graph --stdlib --png stdlib.png
  lanternhollow-graph deps.csv --header --exclude libc6 --save deps.lhg
  lanternhollow-graph deps.lhg --focus python3

Counts are of distinct nodes, a node never counting as its own dependent:
"N nodes depend on X directly, M transitively". The most depended-on nodes
rank by transitive dependents (equal counts in order of first appearance),
their direct dependents beside. Betweenness is exact when the steps of a
search from every node, counted from each node's transitive dependents and
out-degree, come to under a second at 20 ns a step; otherwise it is sampled
from 100 sources (seed 42). A focus on a cycle of more than 8 nodes is drawn
with the others of that cycle as one box that gives their count.

--exclude NAME leaves out every edge with NAME at either end before the graph
is built, so that a node everything depends on (libc6) stops dominating the
rankings; a node whose every edge touches an excluded name goes with them.
The report's header lists what was left out.

Bad input (a missing file, a line that is not a pair of names, a damaged
gzip stream or snapshot, an unknown focus, or an unknown name given to --why,
--falls-away or --exclude) and an output that cannot be written (a file
given to --save, --dot, --svg or --png, checked before any analysis runs, or
standard output) are reported in one line on standard error with exit status
2; Ctrl-C ends the command with status 130. A file the command writes is
replaced whole or not at all."""


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
    p.add_argument(
        "file", nargs="?", metavar="FILE", help="the edge list ('-' for standard input), or a snapshot (--save)"
    )
    p.add_argument("--header", action="store_true", help="skip the first line of the edge list, whatever it holds")
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
    p.add_argument(
        "--exclude",
        action="append",
        default=[],
        metavar="NAME",
        help="leave out every edge touching NAME before building the graph (repeatable; an unknown NAME is an error)",
    )
    p.add_argument(
        "--why",
        nargs=2,
        metavar=("A", "B"),
        help=f"why A depends on B: shortest chains from A to B (up to {WHY_CHAINS}) and how many there are",
    )
    p.add_argument(
        "--build-order",
        action="store_true",
        help="the strongly connected components in layers, each depending only on earlier layers",
    )
    p.add_argument(
        "--falls-away",
        metavar="NAME",
        help="what the focus would no longer depend on without NAME; the nodes whose loss takes most with them",
    )
    p.add_argument(
        "--betweenness",
        choices=("auto", "exact", "sampled"),
        default="auto",
        help=f"exact, or sampled from {BETWEENNESS_SAMPLE} sources; auto (the default) runs exact when it is expected "
        f"to take under {EXACT_BUDGET_SECONDS:g} s",
    )
    p.add_argument("--json", action="store_true", help="print every analysis as one JSON object instead of text")
    p.add_argument("--dot", metavar="OUT", help="write the picture of the neighbourhood as Graphviz DOT text")
    p.add_argument("--svg", metavar="OUT", help="draw the picture as SVG (needs Graphviz)")
    p.add_argument("--png", metavar="OUT", help="draw the picture as PNG (needs Graphviz)")
    p.add_argument(
        "--save",
        metavar="OUT",
        help="write the graph analysed (after --exclude) as a snapshot, which FILE can name next time",
    )
    return p


def ranked(scores, top):
    """(name, score) by score, highest first, ties by name; top 0 keeps all."""
    items = sorted(scores.items(), key=lambda kv: (-kv[1], kv[0]))
    return items[:top] if top else items


def by_depth_order(depths):
    return dict(sorted(depths.items(), key=lambda kv: (kv[1], kv[0])))


def most_depended_on(sizes, top):
    """(name, transitive dependents) of the nodes with any, most first, ties in node order; top 0 keeps all."""
    items = [(name, dependents) for name, (_, dependents) in sizes.items() if dependents]
    items.sort(key=lambda kv: -kv[1])
    return items[:top] if top else items


def exact_betweenness_seconds(sizes, out_degree):
    """The expected time of an exact betweenness on one thread, from the graph's closure sizes.

    The search from a source reaches each node that the source depends on, and
    walks each of that node's edges; so a node v is reached from itself and
    from each of its dependents, and the steps of all the searches together
    are the sum over v of (1 + v's dependents) * (1 + v's out-degree), parallel
    edges and self loops counted, which is exact.
    """
    steps = sum((1 + dependents) * (1 + out_degree.get(name, 0)) for name, (_, dependents) in sizes.items())
    return steps * STEP_SECONDS + len(sizes) * NODE_SECONDS


def duration(seconds):
    return f"{seconds * 1e3:,.1f} ms" if seconds < 1 else f"{seconds:,.1f} s"


def plural(count, noun):
    return f"{count:,} {noun if count == 1 else noun + 's'}"


def suggest(name, names):
    close = difflib.get_close_matches(name, names, n=3) if len(names) <= 200_000 else []
    return f" (close: {', '.join(repr(c) for c in close)})" if close else ""


class Source:
    """Where the edges came from and what --exclude left out of them."""

    def __init__(self, description, label, excluded=(), excluded_edges=0, known=None):
        self.description = description
        self.label = label
        self.excluded = list(excluded)
        self.excluded_edges = excluded_edges
        # The graph before exclusion, when anything was excluded: it knows every name.
        self.known = known

    def unknown(self, what, name, g):
        """The InputError for a name that is not a node of g; what says where the name was given."""
        if name in self.excluded:
            return InputError(f"{what}: {name!r} is excluded (--exclude)")
        if self.known is not None and name in self.known:
            return InputError(f"{what}: {name!r} has no edges left once the excluded names are left out")
        return InputError(f"{what}: {name!r} is not a name in the graph{suggest(name, g.names())}")


class Report:
    """Runs the analyses in order, printing each as text unless quiet."""

    def __init__(self, quiet, stdout=None):
        self.quiet = quiet
        self.stdout = stdout

    def say(self, *lines):
        """Prints each line, a name's control characters escaped; a line may
        start with newlines, which set it apart."""
        if not self.quiet:
            for line in lines:
                text = line.lstrip("\n")
                print("\n" * (len(line) - len(text)) + printable(text), file=self.stdout)

    def timed(self, label, fn, *args):
        t0 = time.perf_counter()
        result = fn(*args)
        self.say(f"\n== {label}  ({(time.perf_counter() - t0) * 1e3:,.1f} ms)")
        return result

    def table(self, rows, headers, aligns, notes=None):
        """Rows under headers, each column aligned left ('<') or right ('>').

        notes, when given, holds a line (or None) for each row, printed under it
        in the last column.
        """
        rows = [[printable(str(c)) for c in row] for row in rows]
        widths = [max([len(h)] + [len(r[i]) for r in rows]) for i, h in enumerate(headers)]

        def fmt(cells):
            return "  ".join(c.rjust(w) if a == ">" else c.ljust(w) for c, w, a in zip(cells, widths, aligns)).rstrip()

        self.say("  " + fmt(headers), "  " + "  ".join("-" * w for w in widths))
        indent = " " * (2 + sum(w + 2 for w in widths[:-1]))
        for i, row in enumerate(rows):
            self.say("  " + fmt(row))
            if notes and notes[i]:
                self.say(indent + notes[i])


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


def chain_text(names, closed=False, width=None):
    """names joined by ' -> ', back round to the first when closed.

    Beyond width characters the chain keeps as much of its start as fits with
    its last step, and says how many names it leaves out between them (never
    fewer than two, which would take no less room than the names).
    """
    steps = list(names) + [names[0]] if closed else list(names)
    text = " -> ".join(steps)
    if width is None or len(text) <= width or len(steps) < 5:
        return text
    for keep in range(len(steps) - 4, 0, -1):
        shortened = " -> ".join(steps[:keep] + [f"... (+{len(steps) - keep - 2})"] + steps[-2:])
        if len(shortened) <= width or keep == 1:
            return shortened


def unit_text(unit):
    """A unit of the build order: its name, or the names of a cycle in braces."""
    return unit[0] if len(unit) == 1 else "{" + shorten(unit, 40) + "}"


def by_depth(depths):
    levels = {}
    for name, d in depths.items():
        levels.setdefault(d, []).append(name)
    return [(d, len(levels[d]), shorten(sorted(levels[d]))) for d in sorted(levels)]


def is_snapshot(path):
    """Whether the regular file at path starts as a snapshot does. Anything else
    (a pipe, a device, /dev/stdin) is read as an edge list, unpeeked: the bytes
    a peek took from it would be gone."""
    try:
        if not stat.S_ISREG(os.stat(path).st_mode):
            return False
        with open(path, "rb") as f:
            return f.read(len(SNAPSHOT_MAGIC)) == SNAPSHOT_MAGIC
    except OSError:
        # Graph.read meets the same failure and reports it.
        return False


def file_error(exc, label):
    """The InputError for an OSError met opening or reading the input."""
    if exc.errno == errno.ENOENT and label != "standard input":
        return InputError(f"no such file: {label}")
    if exc.errno == errno.EISDIR:
        return InputError(f"{label} is a directory, not an edge list")
    return InputError(f"cannot read {label}: {exc.strerror or exc}")


def read_graph(path, header):
    """The graph of the edge list or the snapshot at path ('-': standard input), and the verb for how it came."""
    label = "standard input" if path == "-" else printable(path)
    if path != "-" and is_snapshot(path):
        if header:
            raise InputError(f"--header: {label} is a snapshot, which has no header line")
        try:
            return Graph.load(path), "loaded"
        except ValueError as exc:
            raise InputError(f"{label}: {exc}") from None
        except OSError as exc:
            raise file_error(exc, label) from None
    try:
        return Graph.read(path, header=header), "read"
    except ValueError as exc:
        # "FILE, line N: ..." names its line; a damaged stream is a failure to read the file.
        message = str(exc)
        raise InputError(message if f", line " in message.partition(": ")[0] else f"cannot read {message}") from None
    except OSError as exc:
        raise file_error(exc, label) from None


def without(g, excluded, label):
    """The graph of g's edges that touch no excluded name, and a Source's account of what went."""
    for name in excluded:
        if name not in g:
            raise InputError(f"unknown name in --exclude: {name!r} is not a name in the graph{suggest(name, g.names())}")
    names = list(dict.fromkeys(excluded))
    kept = g.without(names)
    if kept.edge_count == 0:
        raise InputError(f"the graph is empty: every edge in {label} touches an excluded name")
    return kept, {"excluded": names, "excluded_edges": g.edge_count - kept.edge_count, "known": g}


def load(args):
    """The graph that every analysis runs on, and a Source.

    The graph is built once, here; the time given in the source's description
    covers reading the edges, leaving out the excluded ones and building it.
    """
    t0 = time.perf_counter()
    if args.stdlib:
        root = stdlib_imports.stdlib_root()
        graph = Graph(stdlib_imports.stdlib_import_edges(root))
        description, label, verb = stdlib_imports.describe(root), printable(root), "parsed"
    else:
        graph, verb = read_graph(args.file, args.header)
        label = "standard input" if args.file == "-" else printable(args.file)
        description = label
        if graph.edge_count == 0:
            raise InputError(f"the graph is empty: no edges in {label}")
    excluded = {}
    if args.exclude:
        graph, excluded = without(graph, args.exclude, label)
    return graph, Source(f"{description} ({verb} in {time.perf_counter() - t0:.2f} s)", label, **excluded)


def save(g, path, note):
    t0 = time.perf_counter()

    def write(name):
        g.save(name)

    # Graph.save writes beside its path and renames too; through replace, a
    # symbolic link keeps naming the file it named.
    outputs.replace(path, write)
    note(f"  saved the graph as a snapshot to {printable(path)} ({(time.perf_counter() - t0) * 1e3:,.1f} ms)")


def run(argv=None):
    args = parser().parse_args(argv)
    if args.stdlib == (args.file is not None):
        raise InputError(f"give either an edge-list FILE or --stdlib (see {PROG} --help)")
    if args.stdlib and args.header:
        raise InputError("--header: --stdlib reads no edge list")
    stdout = outputs.Stdout(sys.stdout, json=args.json)
    # Every output is known writable before anything is read or analysed.
    for option in ("save", "dot", "svg", "png"):
        if getattr(args, option) is not None:
            outputs.check_writable(option, getattr(args, option))

    g, source = load(args)
    # With --json, standard output carries only the JSON object.
    note = (lambda text: print(printable(text), file=outputs.note_stream())) if args.json else (
        lambda text: print(printable(text), file=stdout)
    )
    distinct = g.distinct_edge_count()
    focus = args.focus
    if focus is None and args.stdlib and STDLIB_FOCUS in g:
        focus = STDLIB_FOCUS
    if focus is not None and focus not in g:
        raise source.unknown("unknown focus", focus, g)
    for what, name in [("--why", n) for n in args.why or ()] + [("--falls-away", args.falls_away)]:
        if name is not None and name not in g:
            raise source.unknown(f"unknown name in {what}", name, g)

    out = Report(quiet=args.json, stdout=stdout)
    out.say(f"Graph: {source.description}", f"  {g.node_count:,} nodes, {g.edge_count:,} edges ({distinct:,} distinct)")
    if source.excluded:
        out.say(
            f"  excluded: {shorten(source.excluded)} ({plural(source.excluded_edges, 'edge')} touching them left out)"
        )
    if args.save is not None:
        save(g, args.save, note)
    result = {
        "graph": {
            "source": source.label,
            "nodes": g.node_count,
            "edges": g.edge_count,
            "distinct_edges": distinct,
            "excluded": source.excluded,
            "excluded_edges": source.excluded_edges,
        }
    }

    rank = out.timed("Most central by PageRank", g.pagerank)
    top_rank = ranked(rank, args.top)
    out.table([(i + 1, n, f"{s:.6f}") for i, (n, s) in enumerate(top_rank)], ["#", "node", "score"], "><>")
    result["pagerank"] = {"alpha": 0.85, "max_iter": 100, "top": [{"node": n, "score": s} for n, s in top_rank]}

    sizes = out.timed("Most depended on, transitively", g.closure_sizes)
    top_used = [(n, count, len(g.ancestors_at_depth(n, 1))) for n, count in most_depended_on(sizes, args.top)]
    if top_used:
        out.table(
            [(i + 1, n, f"{count:,}", f"{direct:,}") for i, (n, count, direct) in enumerate(top_used)],
            ["#", "node", "dependents", "direct"],
            "><>>",
        )
    else:
        out.say("  none: the graph has no edges but self loops")
    result["most_depended_on"] = {
        "top": [{"node": n, "dependents": count, "direct": direct} for n, count, direct in top_used]
    }

    components = out.timed("Cycles (strongly connected components), largest first", g.strongly_connected)
    top_components = components[: args.top] if args.top else components
    closing = [g.cycle(c[0]) for c in top_components]
    if components:
        out.table(
            [(i + 1, len(c), shorten(c)) for i, c in enumerate(top_components)],
            ["#", "size", "members"],
            "><<",
            notes=["cycle: " + chain_text(chain, closed=True, width=72) for chain in closing],
        )
        if len(components) > len(top_components):
            out.say(f"  ... and {len(components) - len(top_components)} more")
    else:
        out.say("  none: the graph is acyclic")
    result["strongly_connected"] = {"count": len(components), "top": top_components, "cycles": closing}

    result["betweenness"] = betweenness_section(out, g, sizes, args)

    if args.build_order:
        result["build_order"] = build_order_section(out, g)
    if args.why:
        result["why"] = why_section(out, g, *args.why)

    if focus is None:
        focus = ranked(rank, 1)[0][0]
    cycle = next((c for c in components if focus in c), [])
    totals, shortest_cycle = totals_section(out, g, focus, sizes, cycle)
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
    result["focus"] = {
        "node": focus,
        "pagerank": rank[focus],
        "cycle": cycle,
        "shortest_cycle": shortest_cycle,
        "totals": totals,
        "descendants": by_depth_order(deps),
        "ancestors": by_depth_order(users),
    }
    if args.falls_away is not None:
        result["falls_away"] = falls_away_section(out, g, focus, args.falls_away, args.top)

    steps = "1 step" if args.depth == 1 else f"{args.depth:,} steps"
    hood_nodes, hood_edges = out.timed(
        f"Neighbourhood of {focus} (within {steps})", g.subgraph, [focus], args.depth
    )
    view = picture.View(focus, hood_nodes, hood_edges, rank, cycle)
    shown = (
        f"the {len(view.drawn)} most central" if len(view.drawn) < len(view.nodes) else f"all {len(view.drawn)}"
    )
    if view.box:
        shown += f", the {len(view.box.members):,} others on its cycle in one box"
    out.say(f"  {len(hood_nodes):,} nodes, {len(hood_edges):,} edges; the picture shows {shown}")
    result["neighbourhood"] = {
        "depth": args.depth,
        "nodes": len(hood_nodes),
        "edges": len(hood_edges),
        "drawn": view.drawn_names(),
        "collapsed": view.box.members if view.box else [],
        "drawn_edges": view.drawn_edges(),
    }

    if args.json:
        json.dump(result, stdout, ensure_ascii=False, indent=1)
        stdout.write("\n")
    stdout.flush()

    if args.dot or args.svg or args.png:
        draw(args, view, len(hood_nodes), note)
        stdout.flush()
    return 0


def betweenness_section(out, g, sizes, args):
    """Exact betweenness when it is asked for or expected to be cheap, otherwise sampled; its JSON."""
    estimate = None
    exact = args.betweenness == "exact"
    if args.betweenness == "auto":
        estimate = exact_betweenness_seconds(sizes, {name: g.out_degree(name) for name in sizes})
        exact = estimate < EXACT_BUDGET_SECONDS
    if exact:
        between = out.timed("Bottlenecks by exact betweenness", g.betweenness)
    else:
        between = out.timed(
            f"Bottlenecks by sampled betweenness ({BETWEENNESS_SAMPLE} sources)",
            g.sampled_betweenness,
            BETWEENNESS_SAMPLE,
            BETWEENNESS_SEED,
        )
    if estimate is not None:
        if exact:
            out.say(f"  exact: expected to take {duration(estimate)}, under {EXACT_BUDGET_SECONDS:g} s")
        else:
            out.say(f"  sampled: exact would take about {duration(estimate)} (--betweenness exact runs it)")
    top_between = [kv for kv in ranked(between, args.top) if kv[1] > 0]
    if top_between:
        out.table([(i + 1, n, f"{s:.6f}") for i, (n, s) in enumerate(top_between)], ["#", "node", "score"], "><>")
    else:
        out.say(f"  none: no {'' if exact else 'sampled '}shortest path passes through any node")
    return {
        "method": "exact" if exact else "sampled",
        "sample_size": None if exact else BETWEENNESS_SAMPLE,
        "seed": None if exact else BETWEENNESS_SEED,
        "estimated_exact_seconds": estimate,
        "top": [{"node": n, "score": s} for n, s in top_between],
    }


def build_order_section(out, g):
    layers = out.timed("Build order (strongly connected components in layers)", g.build_order)
    units = sum(len(layer) for layer in layers)
    out.say(
        f"  {plural(len(layers), 'layer')}, each depending only on earlier ones; {plural(units, 'unit')}, "
        "a cycle's members in braces"
    )
    out.table(
        [
            (i, f"{len(layer):,}", f"{sum(len(u) for u in layer):,}", shorten([unit_text(u) for u in layer]))
            for i, layer in enumerate(layers)
        ],
        ["layer", "units", "nodes", "members"],
        ">>><",
    )
    return {"layers": layers, "layer_count": len(layers), "unit_count": units}


def why_section(out, g, source, target):
    chains, count = out.timed(f"Why {source} depends on {target}", g.why_all, source, target, WHY_CHAINS)
    if chains:
        steps = len(chains[0]) - 1
        which = "" if count <= len(chains) else f"; the first {len(chains)}"
        out.say(f"  {plural(count, 'shortest chain')} of {plural(steps, 'step')}{which}:")
        out.say(*("  " + chain_text(chain) for chain in chains))
    else:
        steps = None
        back = g.why(target, source)
        out.say(f"  none: {source} does not depend on {target}")
        if back:
            out.say(f"  but {target} depends on {source}: {chain_text(back)}")
    return {"source": source, "target": target, "count": count, "steps": steps, "chains": chains}


def totals_section(out, g, focus, sizes, cycle):
    """How many nodes the focus depends on and depend on it, directly and in all; whether it is on a cycle."""
    t0 = time.perf_counter()
    dependencies, dependents = sizes[focus]
    direct_dependents = len(g.ancestors_at_depth(focus, 1))
    direct_dependencies = len(g.descendants_at_depth(focus, 1))
    shortest = g.cycle(focus)
    out.say(f"\n== Totals for {focus}  ({(time.perf_counter() - t0) * 1e3:,.1f} ms)")
    verb = "depends" if direct_dependents == 1 else "depend"
    out.say(
        f"  {plural(direct_dependents, 'node')} {verb} on {focus} directly, {dependents:,} transitively",
        f"  {focus} depends on {plural(direct_dependencies, 'node')} directly, {dependencies:,} transitively",
    )
    if shortest is None:
        out.say(f"  {focus} lies on no cycle")
    elif len(cycle) > 1:
        out.say(
            f"  {focus} lies on cycles, in a strongly connected component of {len(cycle):,} nodes; the shortest:",
            f"    {chain_text(shortest, closed=True, width=76)}",
        )
    else:
        out.say(f"  {focus} depends on itself: {focus} -> {focus}")
    totals = {
        "dependents": {"direct": direct_dependents, "transitive": dependents},
        "dependencies": {"direct": direct_dependencies, "transitive": dependencies},
    }
    return totals, shortest


def falls_away_section(out, g, focus, name, top):
    lost = out.timed(f"What {focus} would no longer depend on without {name}", g.falls_away, focus, name)
    if not lost:
        out.say(f"  nothing: {focus} does not depend on {name}")
    elif name == focus:
        out.say(f"  everything: {focus} itself and the {plural(len(lost) - 1, 'node')} it depends on")
    else:
        out.say(f"  {plural(len(lost), 'node')}, {name} included: {shorten(lost, 56)}")
    providers = out.timed(
        f"Sole providers for {focus}: the nodes whose loss takes the most with them",
        g.sole_providers,
        focus,
        top or g.node_count,
    )
    if providers:
        out.table(
            [(i + 1, n, f"{count:,}") for i, (n, count) in enumerate(providers)], ["#", "node", "falls away"], "><>"
        )
    else:
        out.say(f"  none: {focus} depends on nothing")
    return {
        "root": focus,
        "name": name,
        "nodes": lost,
        "sole_providers": [{"node": n, "count": count} for n, count in providers],
    }


def draw(args, view, total, note):
    text = view.dot(args.depth, total)
    if args.dot:
        outputs.write_text(args.dot, text)
        note(f"  wrote {args.dot}")
    wanted = [(fmt, path) for fmt, path in (("svg", args.svg), ("png", args.png)) if path]
    if not wanted:
        return
    if picture.graphviz() is None:
        names = " and ".join(path for _, path in wanted)
        message = f"{PROG}: {names} not drawn: Graphviz's dot is not on PATH; {picture.GRAPHVIZ_HINT}"
        print(printable(message), file=outputs.note_stream())
        return
    for fmt, path in wanted:
        outputs.replace(path, lambda name: picture.render(text, name, fmt, shown=printable(path)))
        note(f"  drew {path}")


def main(argv=None):
    """Runs the command; its exit status: 0, 1 when Graphviz failed, 2 for bad
    input or an output that cannot be written, 130 for Ctrl-C. Every failure
    is one line on standard error."""
    message = None
    try:
        status = run(argv)
    except (InputError, OutputError) as exc:
        message, status = str(exc), 2
    except picture.RenderError as exc:
        message, status = str(exc), 1
    except MemoryError:
        message, status = "out of memory: the input is too large for this machine", 2
    except KeyboardInterrupt:
        status = 130
    if message is not None:
        try:
            print(f"{PROG}: {printable(message)}", file=outputs.note_stream())
        except OSError:
            pass
    return status
