"""Reading an edge-list file: Graph.read of lanternhollow_graph_store against
the command's own reader (read_edges, then Graph of the list) and the peers'
readers, each from the file on disk to a graph whose nodes can be found by
name.

    python -m bench.read                        # Debian and synthetic 4M, plain and gzipped
    python -m bench --only read                 # the same
    python -m bench.read --files debian --rounds 3

The files: the Debian list as shipped (gzip) and decompressed, and the
synthetic graph of 4 million edges (bench.data.synthetic_edges(nodes=800_000))
written once into build/bench-data/, plain and gzipped at level 6. The
peers: igraph's Graph.Read_Ncol and networkit's EdgeListReader on the plain
files (neither reads gzip), polars' and pyarrow's CSV readers on both (each
decompresses gzip itself), their two name columns numbered into a dict from
name to index and a scipy CSR matrix built from the index arrays. Every
contender runs in the same rounds, one call of each per round, so that a
machine whose speed drifts slows them all alike; the figure is the best of
the rounds (on shared cores a run is only ever slowed by what runs beside
it), the median printed beside it. A call longer than --once-after seconds
runs once (¹). Every contender's node count is checked against ours. The
section "Reading an edge-list file" of bench/results.md is rewritten, the
rest of the file kept.
"""

import argparse
import gc
import gzip
import os
import shutil
import statistics
import sys
import time

from bench import data

HERE = os.path.dirname(os.path.abspath(__file__))
RESULTS = os.path.join(HERE, "results.md")
CACHE = os.path.join(data.ROOT, "build", "bench-data")
HEADING = "## Reading an edge-list file"
CONTENDERS = ("ours", "ours, 2 threads", "command", "igraph", "networkit", "polars", "pyarrow")
OURS = ("ours", "ours, 2 threads", "command")


def files(which):
    """(label, path) of each file to read, made on first use."""
    os.makedirs(CACHE, exist_ok=True)
    out = []
    if "debian" in which:
        plain = os.path.join(CACHE, "debian-bookworm-depends.tsv")
        if not os.path.exists(plain):
            with gzip.open(data.DEBIAN, "rb") as src, open(plain + ".part", "wb") as dst:
                shutil.copyfileobj(src, dst)
            os.replace(plain + ".part", plain)
        out += [("Debian, gzip (as shipped)", data.DEBIAN), ("Debian, plain", plain)]
    if "4m" in which:
        plain = os.path.join(CACHE, "synthetic-4m.tsv")
        packed = plain + ".gz"
        if not os.path.exists(packed):
            edges = data.synthetic_edges(nodes=800_000)
            text = "".join(f"{s}\t{t}\n" for s, t in edges).encode()
            del edges
            with open(plain + ".part", "wb") as f:
                f.write(text)
            with gzip.open(packed + ".part", "wb", compresslevel=6) as f:
                f.write(text)
            os.replace(plain + ".part", plain)
            os.replace(packed + ".part", packed)
        out += [("synthetic 4M, gzip", packed), ("synthetic 4M, plain", plain)]
    return out


# ----------------------------------------------------------------------------
# The contenders: each returns its node count


def ours(path):
    from lanternhollow_graph_store import Graph

    return Graph.read(path).node_count


def ours_two_threads(path):
    from lanternhollow_graph_store import Graph

    return Graph.read(path, threads=2).node_count


def command(path):
    from lanternhollow_graph_cli.edges import read_edges
    from lanternhollow_graph_store import Graph

    return Graph(read_edges(path)).node_count


def igraph_ncol(path):
    import igraph

    return igraph.Graph.Read_Ncol(path, names=True, weights=False, directed=True).vcount()


def networkit_reader(path):
    import networkit

    reader = networkit.graphio.EdgeListReader("\t", 0, continuous=False, directed=True)
    reader.read(path)
    return len(reader.getNodeMap())


def _csr(sources, targets, n):
    import numpy
    import scipy.sparse

    return scipy.sparse.csr_matrix((numpy.ones(len(sources), dtype=numpy.float32), (sources, targets)), shape=(n, n))


def polars_csv(path):
    import polars

    frame = polars.read_csv(path, separator="\t", has_header=False, new_columns=["s", "t"], quote_char=None,
                            schema_overrides={"s": polars.String, "t": polars.String})
    names = polars.concat([frame["s"], frame["t"]]).unique(maintain_order=True)
    index = dict(zip(names.to_list(), range(len(names))))
    kind = polars.Enum(names)
    sources = frame["s"].cast(kind).to_physical().to_numpy()
    targets = frame["t"].cast(kind).to_physical().to_numpy()
    _csr(sources, targets, len(index))
    return len(index)


def pyarrow_csv(path):
    import pyarrow
    import pyarrow.csv

    table = pyarrow.csv.read_csv(
        path,
        read_options=pyarrow.csv.ReadOptions(column_names=["s", "t"]),
        parse_options=pyarrow.csv.ParseOptions(delimiter="\t", quote_char=False),
        convert_options=pyarrow.csv.ConvertOptions(column_types={"s": pyarrow.string(), "t": pyarrow.string()}))
    both = pyarrow.chunked_array(table["s"].chunks + table["t"].chunks).dictionary_encode().combine_chunks()
    index = dict(zip(both.dictionary.to_pylist(), range(len(both.dictionary))))
    codes = both.indices.to_numpy()
    m = table.num_rows
    _csr(codes[:m], codes[m:], len(index))
    return len(index)


def contenders(path):
    """name -> call, for those that are installed and read this file."""
    calls = {"ours": ours, "ours, 2 threads": ours_two_threads, "command": command}
    plain = not path.endswith(".gz")
    for name, module, call, gz in [("igraph", "igraph", igraph_ncol, False),
                                   ("networkit", "networkit", networkit_reader, False),
                                   ("polars", "polars", polars_csv, True),
                                   ("pyarrow", "pyarrow", pyarrow_csv, True)]:
        try:
            __import__(module)
        except ImportError:
            continue
        if plain or gz:
            calls[name] = call
    return calls


def version(name):
    module = {"igraph": "igraph", "networkit": "networkit", "polars": "polars", "pyarrow": "pyarrow"}.get(name)
    return getattr(sys.modules.get(module), "__version__", "?") if module else ""


# ----------------------------------------------------------------------------


def measure(path, rounds, once_after):
    calls = contenders(path)
    times = {name: [] for name in calls}
    counts = {}
    for name, call in calls.items():  # warm-up, and the answer checked
        gc.collect()
        t0 = time.perf_counter()
        counts[name] = call(path)
        times[name].append(time.perf_counter() - t0)
    once = {name for name, t in times.items() if t[0] > once_after and not name.startswith("ours")}
    for name in calls:
        if name not in once:
            times[name] = []
    for _ in range(rounds):
        for name, call in calls.items():
            if name in once:
                continue
            gc.collect()
            t0 = time.perf_counter()
            call(path)
            times[name].append(time.perf_counter() - t0)
    return times, once, counts


def cell(seconds, once=False):
    text = f"{seconds * 1000:.0f} ms" if seconds < 10 else f"{seconds:.1f} s"
    return text + ("¹" if once else "")


def render(results, args):
    present = [c for c in CONTENDERS if any(c in r["times"] for r in results)]
    lines = [HEADING, "",
             f"Command: `python -m bench.read {' '.join(sys.argv[1:])}`".rstrip() + f"; Python "
             f"{sys.version.split()[0]}, {os.cpu_count()} cores; best of {args.rounds} alternating rounds after a "
             f"warm-up (median in brackets); ¹ one run, longer than {args.once_after:g} s. "
             + "; ".join(f"{p} {version(p)}" for p in present if version(p)) + ".",
             "",
             "`ours` is `Graph.read(path)` (one thread, the default), `ours, 2 threads` "
             "`Graph.read(path, threads=2)`; `command` the command's reader, `read_edges(path)` then "
             "`Graph(list)`; igraph `Graph.Read_Ncol(path, names=True, directed=True)`; networkit "
             "`EdgeListReader('\\t', 0, continuous=False, directed=True)` with its node map; polars and "
             "pyarrow their CSV readers, the names numbered into a dict and a scipy CSR matrix built; "
             "igraph and networkit read no gzip (—). Every contender found the same number of nodes unless "
             "a note says otherwise.", "",
             "| file | " + " | ".join(present) + " | command ÷ ours | fastest peer ÷ ours | fastest peer ÷ ours, 2 threads |",
             "|---|" + "---:|" * (len(present) + 3)]
    notes = []
    for r in results:
        best = {n: min(t) for n, t in r["times"].items()}
        row = [f"{r['label']} ({r['size'] / 1e6:.0f} MB)"]
        for name in present:
            if name not in r["times"]:
                row.append("—")
                continue
            t = r["times"][name]
            text = cell(best[name], name in r["once"])
            if len(t) > 1:
                text += f" ({cell(statistics.median(t))})"
            row.append(text)
        peers = {n: b for n, b in best.items() if n not in OURS}
        fastest = min(peers, key=peers.get) if peers else None
        row.append(f"{best['command'] / best['ours']:.1f}×")
        row.append(f"{peers[fastest] / best['ours']:.1f}× ({fastest})" if fastest else "—")
        row.append(f"{peers[fastest] / best['ours, 2 threads']:.1f}×" if fastest else "—")
        lines.append("| " + " | ".join(row) + " |")
        for name, count in r["counts"].items():
            if count != r["counts"]["ours"]:
                notes.append(f"{r['label']}: {name} found {count:,} nodes, ours {r['counts']['ours']:,}.")
    if notes:
        lines += [""] + [f"- {n}" for n in notes]
    return "\n".join(lines) + "\n"


BEFORE = "## Questions on a built graph"  # bench.built rewrites everything after its heading


def splice(existing, section):
    """results.md with this section in place of its old one, or else just
    before the section of questions on a built graph (or at the end)."""
    head, found, rest = existing.partition(HEADING + "\n")
    if found:
        after = rest.find("\n## ")
        tail = rest[after + 1:] if after >= 0 else ""
        return head + section + ("\n" + tail if tail else "")
    head, found, rest = existing.partition(BEFORE + "\n")
    if found:
        return head + section + "\n" + BEFORE + "\n" + rest
    return existing.rstrip("\n") + "\n\n" + section


def keep_section(path, text):
    """`text`, a results.md about to replace the one at `path`, with the
    reading section of the old one, which only bench.read writes."""
    try:
        with open(path) as f:
            old = f.read()
    except FileNotFoundError:
        return text
    _, found, rest = old.partition(HEADING + "\n")
    if not found or HEADING in text:
        return text
    after = rest.find("\n## ")
    return splice(text, HEADING + "\n" + (rest[:after] if after >= 0 else rest).rstrip("\n") + "\n")


def main(argv=None):
    parser = argparse.ArgumentParser(prog="python -m bench.read", description=__doc__.split("\n\n")[0])
    parser.add_argument("--files", nargs="+", choices=("debian", "4m"), default=["debian", "4m"])
    parser.add_argument("--rounds", type=int, default=5)
    parser.add_argument("--once-after", type=float, default=3.0)
    parser.add_argument("--output", default=RESULTS)
    args = parser.parse_args(argv)
    results = []
    for label, path in files(args.files):
        print(f"{label}: {path}", flush=True)
        times, once, counts = measure(path, args.rounds, args.once_after)
        results.append({"label": label, "size": os.path.getsize(path), "times": times, "once": once, "counts": counts})
    section = render(results, args)
    print()
    print(section)
    try:
        with open(args.output) as f:
            text = splice(f.read(), section)
    except FileNotFoundError:
        text = section
    with open(args.output, "w") as f:
        f.write(text)
    return 0


if __name__ == "__main__":
    sys.exit(main())
