"""What lanternhollow_graph is for, shown on a real dependency graph.

With no arguments it analyses the import graph of this interpreter's own
standard library (module -> imported module, read from the source files), so
it needs no data. With --edges FILE it reads any edge list instead: one
(source, target) pair a line, tab- or comma-separated, optionally gzipped.

    python examples/demo.py
    python examples/demo.py --edges ../shared/data/debian-bookworm-depends.tsv.gz --focus python3
"""

import argparse
import ast
import gzip
import os
import shutil
import subprocess
import sys
import sysconfig
import time

import lanternhollow_graph as lg

SKIP_DIRS = {"site-packages", "dist-packages", "__pycache__", "test", "tests", "idle_test"}


class DemoError(Exception):
    """A problem with the input that the user can fix; printed without a traceback."""


# --- reading graphs ---------------------------------------------------------


def stdlib_modules(root):
    """Dotted module name -> source path, for every .py file under root."""
    modules = {}
    for dirpath, dirnames, filenames in os.walk(root):
        dirnames[:] = sorted(d for d in dirnames if d not in SKIP_DIRS and not d.startswith("."))
        rel = os.path.relpath(dirpath, root)
        package = [] if rel == "." else rel.split(os.sep)
        if package and not os.path.exists(os.path.join(dirpath, "__init__.py")):
            dirnames[:] = []
            continue
        for filename in sorted(filenames):
            if not filename.endswith(".py"):
                continue
            stem = filename[:-3]
            parts = package if stem == "__init__" else package + [stem]
            if parts and all(p.isidentifier() for p in parts):
                modules[".".join(parts)] = os.path.join(dirpath, filename)
    return modules


def import_edges(modules):
    """(importer, imported) for every import statement, relative ones resolved."""
    edges = []
    for name, path in modules.items():
        try:
            with open(path, "rb") as f:
                tree = ast.parse(f.read(), path)
        except (SyntaxError, ValueError, OSError):
            continue
        is_package = path.endswith("__init__.py")
        package = name if is_package else name.rpartition(".")[0]
        for node in ast.walk(tree):
            if isinstance(node, ast.Import):
                edges.extend((name, alias.name) for alias in node.names)
            elif isinstance(node, ast.ImportFrom):
                if node.level:
                    base = package.split(".") if package else []
                    base = base[: len(base) - (node.level - 1)] if node.level > 1 else base
                    target = ".".join(base + ([node.module] if node.module else []))
                else:
                    target = node.module or ""
                if not target:
                    continue
                edges.append((name, target))
                for alias in node.names:
                    if f"{target}.{alias.name}" in modules:
                        edges.append((name, f"{target}.{alias.name}"))
    return edges


def read_edge_file(path):
    if not os.path.exists(path):
        raise DemoError(f"no such file: {path}")
    opener = gzip.open if path.endswith(".gz") else open
    edges = []
    try:
        with opener(path, "rt", encoding="utf-8") as f:
            for number, line in enumerate(f, 1):
                line = line.rstrip("\r\n")
                if not line or line.startswith("#"):
                    continue
                sep = "\t" if "\t" in line else ","
                fields = line.split(sep)
                if len(fields) < 2:
                    raise DemoError(f"{path}:{number}: expected two names separated by a tab or a comma")
                edges.append((fields[0].strip(), fields[1].strip()))
    except (OSError, UnicodeDecodeError, EOFError) as exc:
        raise DemoError(f"cannot read {path}: {exc}") from None
    return edges


# --- output -----------------------------------------------------------------


def timed(label, fn, *args, **kwargs):
    t0 = time.perf_counter()
    result = fn(*args, **kwargs)
    elapsed = time.perf_counter() - t0
    print(f"\n== {label}  ({elapsed * 1e3:,.1f} ms)")
    return result


def table(rows, headers, aligns):
    rows = [[str(c) for c in row] for row in rows]
    widths = [max([len(h)] + [len(r[i]) for r in rows]) for i, h in enumerate(headers)]

    def fmt(cells):
        return "  ".join(c.rjust(w) if a == ">" else c.ljust(w) for c, w, a in zip(cells, widths, aligns)).rstrip()

    print("  " + fmt(headers))
    print("  " + "  ".join("-" * w for w in widths))
    for row in rows:
        print("  " + fmt(row))


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


def dot_text(nodes, edges, focus):
    def q(s):
        return '"' + s.replace("\\", "\\\\").replace('"', '\\"') + '"'

    lines = ["digraph neighbourhood {", "  rankdir=LR;", "  node [shape=box, fontsize=10];"]
    for n in nodes:
        style = ", style=filled, fillcolor=gold" if n == focus else ""
        lines.append(f"  {q(n)} [label={q(n)}{style}];")
    lines.extend(f"  {q(s)} -> {q(t)};" for s, t in edges)
    lines.append("}")
    return "\n".join(lines) + "\n"


# --- the demo ---------------------------------------------------------------


def main(argv=None):
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--edges", metavar="FILE", help="edge list to analyse (default: the standard library's imports)")
    parser.add_argument("--focus", metavar="NAME", help="node to look at closely (default: the top-ranked one)")
    parser.add_argument("--top", type=int, default=10, help="rows in each ranking (default 10)")
    parser.add_argument("--out", default="neighbourhood", help="basename of the .dot/.svg files (default: neighbourhood)")
    args = parser.parse_args(argv)

    if args.edges:
        t0 = time.perf_counter()
        edges = read_edge_file(args.edges)
        source = f"{args.edges} (read in {time.perf_counter() - t0:.2f} s)"
    else:
        root = sysconfig.get_paths()["stdlib"]
        t0 = time.perf_counter()
        edges = import_edges(stdlib_modules(root))
        source = (
            f"imports of the standard library of Python {sys.version.split()[0]} in {root}"
            f" (parsed in {time.perf_counter() - t0:.2f} s)"
        )
    if not edges:
        raise DemoError("the graph is empty: no edges to analyse")

    nodes = {x for pair in edges for x in pair}
    if args.focus is not None and args.focus not in nodes:
        raise DemoError(f"unknown focus node: {args.focus!r} is not a name in the graph")
    print(f"Graph: {source}")
    print(f"  {len(nodes):,} nodes, {len(edges):,} edges ({len(set(edges)):,} distinct)")

    rank = timed("Most central by PageRank", lg.pagerank, edges)
    top = sorted(rank.items(), key=lambda kv: (-kv[1], kv[0]))[: args.top]
    table([(i + 1, name, f"{score:.6f}") for i, (name, score) in enumerate(top)], ["#", "node", "score"], "><>")

    components = timed("Cycles (strongly connected components), largest first", lg.strongly_connected, edges)
    if components:
        rows = [(i + 1, len(c), shorten(c)) for i, c in enumerate(components[: args.top])]
        table(rows, ["#", "size", "members"], "><<")
        if len(components) > args.top:
            print(f"  ... and {len(components) - args.top} more")
    else:
        print("  none: the graph is acyclic")

    between = timed("Bottlenecks by sampled betweenness (100 sources)", lg.sampled_betweenness, edges)
    top_b = [kv for kv in sorted(between.items(), key=lambda kv: (-kv[1], kv[0]))[: args.top] if kv[1] > 0]
    if top_b:
        table([(i + 1, name, f"{score:.6f}") for i, (name, score) in enumerate(top_b)], ["#", "node", "score"], "><>")
    else:
        print("  none: no sampled shortest path passes through any node")

    focus = args.focus if args.focus is not None else top[0][0]
    deps = timed(f"What {focus} depends on, by depth", lg.descendants_at_depth, edges, focus, 2**64 - 1)
    if deps:
        table(by_depth(deps), ["depth", "count", "nodes"], "><<")
    else:
        print("  nothing")
    users = timed(f"What depends on {focus}, by depth", lg.ancestors_at_depth, edges, focus, 2**64 - 1)
    if users:
        table(by_depth(users), ["depth", "count", "nodes"], "><<")
    else:
        print("  nothing")

    sub_nodes, sub_edges = timed(f"Neighbourhood of {focus} (within 1 step)", lg.subgraph, edges, [focus], 1)
    print(f"  {len(sub_nodes)} nodes, {len(sub_edges)} edges")
    dot_path = args.out + ".dot"
    with open(dot_path, "w", encoding="utf-8") as f:
        f.write(dot_text(sub_nodes, sub_edges, focus))
    print(f"  wrote {dot_path}")
    dot = shutil.which("dot")
    if dot:
        svg_path = args.out + ".svg"
        subprocess.run([dot, "-Tsvg", dot_path, "-o", svg_path], check=True)
        print(f"  rendered {svg_path}")
    else:
        print("  (install Graphviz to render it as SVG)")


if __name__ == "__main__":
    try:
        main()
    except DemoError as exc:
        print(f"demo: {exc}", file=sys.stderr)
        sys.exit(2)
    except KeyboardInterrupt:
        sys.exit(130)
