"""Graphs bigger than a list: an edge file of 4 million and of 100 million
edges read with Graph.read, saved, loaded, and asked for PageRank, the
strongly connected components and the reach of the top-ranked node; each
step in a process of its own, so that its peak memory is its own. The
peers read the same file into their own graphs at every size they reach
within the memory and time allowed.

    python -m bench.scale                      # 4M and 100M edges (an hour or more)
    python -m bench.scale --quick              # 1M edges, a minute or two
    python -m bench.scale --sizes 4M --no-peers
    make bench-scale BENCH_SCALE_ARGS="--sizes 4M"

The files go to --dir (a temporary folder by default; 100M edges take about
6 GB of text and 2.5 GB of snapshot) and are removed at the end unless
--keep. The tables go into bench/results.md, in the section "Graphs bigger
than a list", which a run rewrites whole.
"""

import argparse
import ctypes
import gc
import importlib
import importlib.util
import json
import os
import platform
import shutil
import subprocess
import sys
import tempfile
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
RESULTS = os.path.join(ROOT, "bench", "results.md")
SECTION = "## Graphs bigger than a list"
GIB = 1 << 30
PEERS = ("igraph", "networkit", "polars", "pyarrow")


# ---------------------------------------------------------------------------
# In the child: one step, its time and its peak resident memory.

def _status_bytes(field):
    with open("/proc/self/status") as f:
        for line in f:
            if line.startswith(field + ":"):
                return int(line.split()[1]) * 1024
    raise RuntimeError(f"no {field} in /proc/self/status")


class Peak:
    """Times a step and reads the process's peak resident set over it.

    Before the step, freed heap goes back to the system and writing 5 to
    /proc/self/clear_refs brings the peak (VmHWM) down to the resident set
    (VmRSS), so that what came before the step (imports, the load a query
    needs) counts only as far as it is still resident. Mapped snapshot
    pages the step touches count as resident, as they are."""

    def __enter__(self):
        gc.collect()
        try:
            ctypes.CDLL("libc.so.6").malloc_trim(0)
        except OSError:
            pass
        with open("/proc/self/clear_refs", "w") as f:
            f.write("5")
        self.before = _status_bytes("VmRSS")
        self.start = time.perf_counter()
        return self

    def __exit__(self, *exc):
        self.seconds = time.perf_counter() - self.start
        self.peak = _status_bytes("VmHWM")

    def figures(self):
        return {"seconds": self.seconds, "peak": self.peak, "added": self.peak - self.before}


def _result_bytes(scores):
    """What a {name: float} dict holds: the dict, its strs and its floats."""
    return sys.getsizeof(scores) + sum(sys.getsizeof(k) + sys.getsizeof(v) for k, v in scores.items())


def _ours(step, args):
    from lanternhollow_graph_store import Graph

    out = {}
    if step == "read":
        with Peak() as p:
            g = Graph.read(args.file)
        out["read"] = p.figures()
        out.update(nodes=g.node_count, edges=g.edge_count, nbytes=g.nbytes)
        with Peak() as p:
            g.save(args.snapshot)
        out["save"] = p.figures()
        return out
    with Peak() as p:
        g = Graph.load(args.snapshot)
    out["load"] = p.figures()
    kw = {} if args.threads is None else {"threads": args.threads}
    if step == "pagerank":
        with Peak() as p:
            scores = g.pagerank(**kw)
        out["pagerank"] = p.figures()
        out["top"] = max(scores, key=scores.__getitem__)
        out["result_bytes"] = _result_bytes(scores)
    elif step == "scc":
        with Peak() as p:
            components = g.strongly_connected(**kw)
        out["scc"] = p.figures()
        out["components"] = len(components)
        out["largest"] = len(components[0]) if components else 0
    elif step == "reach":
        with Peak() as p:
            reached = g.descendants_at_depth(args.top, **kw)
        out["descendants"] = p.figures()
        out["descendants_found"] = len(reached)
        del reached
        with Peak() as p:
            reached = g.ancestors_at_depth(args.top, **kw)
        out["ancestors"] = p.figures()
        out["ancestors_found"] = len(reached)
    return out


def read_igraph(path):
    import igraph as ig

    return ig.Graph.Read_Ncol(path, names=True, weights=False, directed=True)


def read_networkit(path):
    """The graph and the reader's map from name to node."""
    import networkit as nk

    # continuous=False: node ids are any tokens, kept in the reader's map
    # from token to node, rather than integers counted from firstNode.
    reader = nk.graphio.EdgeListReader("\t", 0, commentPrefix="#", continuous=False, directed=True)
    graph = reader.read(path)
    return graph, reader.getNodeMap()


def _csr(ids, m, n):
    import numpy as np
    import scipy.sparse as sp

    return sp.csr_matrix((np.ones(m, dtype=np.float32), (ids[:m], ids[m:])), shape=(n, n))


def read_polars(path):
    """The names and a CSR matrix with a 1 at (source, target) for every
    edge, the names numbered by a join with the unique ones."""
    import polars as pl

    frame = pl.read_csv(path, separator="\t", has_header=False, new_columns=["source", "target"],
                        schema_overrides={"source": pl.String, "target": pl.String}, quote_char=None)
    m = frame.height
    both = pl.concat([frame["source"], frame["target"]])
    del frame
    names = both.unique(maintain_order=True)
    index = pl.DataFrame({"name": names, "id": pl.arange(0, len(names), dtype=pl.UInt32, eager=True)})
    ids = pl.DataFrame({"name": both}).join(index, on="name", how="left", maintain_order="left")["id"]
    del both, index
    return names, _csr(ids.to_numpy(), m, len(names))


def read_pyarrow(path):
    """As read_polars, the names in the order `unique` gives them."""
    import pyarrow as pa
    import pyarrow.compute as pc
    import pyarrow.csv as pcsv

    table = pcsv.read_csv(
        path,
        read_options=pcsv.ReadOptions(column_names=["source", "target"]),
        parse_options=pcsv.ParseOptions(delimiter="\t", quote_char=False),
        convert_options=pcsv.ConvertOptions(column_types={"source": pa.string(), "target": pa.string()}),
    )
    m = table.num_rows
    both = pa.chunked_array(table["source"].chunks + table["target"].chunks)
    del table
    names = pc.unique(both)
    ids = pc.index_in(both, value_set=names).to_numpy()
    del both
    return names, _csr(ids, m, len(names))


def _peer(step, args):
    """A peer's read of the file into its graph with the names kept: igraph
    and networkit by their own readers, polars and pyarrow as a CSV read,
    each name numbered and a scipy CSR matrix over the numbers."""
    reader = {"igraph": read_igraph, "networkit": read_networkit, "polars": read_polars,
              "pyarrow": read_pyarrow}[step]
    # Imported before the clock starts, as ours is.
    for module in {"igraph": ["igraph"], "networkit": ["networkit"], "polars": ["polars", "scipy.sparse"],
                   "pyarrow": ["pyarrow.csv", "pyarrow.compute", "scipy.sparse"]}[step]:
        importlib.import_module(module)
    with Peak() as p:
        out = reader(args.file)
    if step == "igraph":
        nodes, edges = out.vcount(), out.ecount()
    elif step == "networkit":
        nodes, edges = out[0].numberOfNodes(), out[0].numberOfEdges()
    else:
        nodes, edges = out[1].shape[0], int(out[1].nnz)
    return {"read": p.figures(), "nodes": nodes, "edges": edges}


def child(args):
    step = args.child
    out = _peer(step, args) if step in PEERS else _ours(step, args)
    print(json.dumps(out))


# ---------------------------------------------------------------------------
# In the parent: the children, under a watch on their memory and time.

def run_child(step, args, file, snapshot, top=None, limit=None, timeout=None):
    """Runs one step in a fresh interpreter. A child whose resident set
    passes `limit` bytes or that runs past `timeout` seconds is killed:
    returns {"stopped": why} then."""
    cmd = [sys.executable, "-m", "bench.scale", "--child", step, "--file", file, "--snapshot", snapshot]
    if top is not None:
        cmd += ["--top", top]
    if args.threads is not None:
        cmd += ["--threads", str(args.threads)]
    env = dict(os.environ, PYTHONPATH=ROOT + os.pathsep + os.environ.get("PYTHONPATH", ""))
    start = time.monotonic()
    proc = subprocess.Popen(cmd, stdout=subprocess.PIPE, env=env, cwd=ROOT)
    stopped = None
    seen = 0
    while proc.poll() is None:
        try:
            with open(f"/proc/{proc.pid}/status") as f:
                rss = next(int(line.split()[1]) * 1024 for line in f if line.startswith("VmRSS:"))
            seen = max(seen, rss)
        except (OSError, StopIteration):
            rss = 0
        if limit is not None and rss > limit:
            stopped = f"> {limit / GIB:.0f} GiB"
        elif timeout is not None and time.monotonic() - start > timeout:
            stopped = f"> {timeout:.0f} s"
        if stopped:
            proc.kill()
            proc.wait()
            return {"stopped": stopped, "seen": seen}
        time.sleep(0.1)
    output = proc.stdout.read().decode()
    if proc.returncode != 0:
        return {"stopped": f"failed (exit {proc.returncode})", "seen": seen}
    result = json.loads(output.strip().splitlines()[-1])
    result["wall"] = time.monotonic() - start
    return result


def parse_size(text):
    scale = {"K": 10**3, "M": 10**6, "G": 10**9}
    text = text.strip().upper()
    if text[-1] in scale:
        return int(float(text[:-1]) * scale[text[-1]])
    return int(text)


def size_label(edges):
    return f"{edges // 10**6}M" if edges % 10**6 == 0 else f"{edges:,}"


def machine_state():
    with open("/proc/meminfo") as f:
        mem = {line.split(":")[0]: int(line.split()[1]) * 1024 for line in f}
    model = platform.processor() or "?"
    try:
        with open("/proc/cpuinfo") as f:
            model = next(line.split(":", 1)[1].strip() for line in f if line.startswith("model name"))
    except (OSError, StopIteration):
        pass
    return {
        "cpu": model,
        "cpus": os.cpu_count(),
        "usable": len(os.sched_getaffinity(0)),
        "memory": mem.get("MemTotal", 0),
        "available": mem.get("MemAvailable", 0),
        "load": os.getloadavg(),
        "disk_free": shutil.disk_usage(tempfile.gettempdir()).free,
    }


def versions():
    from importlib import metadata

    out = {"python": platform.python_version()}
    for name in ("lanternhollow_graph", "numpy", "igraph", "networkit", "polars", "pyarrow", "scipy"):
        try:
            out[name] = metadata.version(name)
        except metadata.PackageNotFoundError:
            pass
    return out


def measure_size(edges, args, workdir, peers, log):
    from bench.scale_data import nodes_for, write_edge_file

    file = os.path.join(workdir, f"edges-{edges}.tsv")
    snapshot = os.path.join(workdir, f"graph-{edges}.lhg")
    nodes = nodes_for(edges)
    info = None
    if os.path.exists(file + ".json"):
        with open(file + ".json") as f:
            info = json.load(f)
        if info.get("nodes") != nodes or not os.path.exists(file):
            info = None
    if info is None:
        log(f"writing {file} ({nodes:,} nodes)")
        t0 = time.perf_counter()
        info = write_edge_file(file, nodes)
        info["write_seconds"] = time.perf_counter() - t0
    log(f"  {info['edges']:,} edges, {info['file_bytes'] / GIB:.2f} GiB of text")
    result = {"size": edges, "file": info, "ours": {}, "peers": {}}
    limit = args.limit_gib * GIB
    for step in () if args.no_ours else ("read", "pagerank", "scc", "reach"):
        top = result["ours"].get("pagerank", {}).get("top")
        if step == "reach" and top is None:
            continue
        log(f"  ours: {step}")
        r = run_child(step, args, file, snapshot, top=top)
        result["ours"][step] = r
        if "stopped" in r:
            log(f"    stopped: {r['stopped']}")
            if step == "read":
                break
        else:
            log("    " + ", ".join(f"{k} {v['seconds']:.2f} s, peak {v['peak'] / GIB:.2f} GiB"
                                  for k, v in r.items() if isinstance(v, dict) and "seconds" in v))
    if os.path.exists(snapshot):
        result["snapshot_bytes"] = os.path.getsize(snapshot)
    for peer in peers:
        if peer in args.stopped_peers:
            result["peers"][peer] = {"stopped": f"not run (stopped at {args.stopped_peers[peer]})"}
            continue
        log(f"  {peer}: read")
        r = run_child(peer, args, file, snapshot, limit=limit, timeout=args.peer_timeout)
        result["peers"][peer] = r
        if "stopped" in r:
            args.stopped_peers[peer] = size_label(edges)
            log(f"    stopped: {r['stopped']}")
        else:
            log(f"    {r['read']['seconds']:.2f} s, peak {r['read']['peak'] / GIB:.2f} GiB")
    if not args.keep:
        for path in (file, file + ".json", snapshot):
            if os.path.exists(path):
                os.remove(path)
    return result


# ---------------------------------------------------------------------------
# The section of bench/results.md.

def _time(s):
    return f"{s * 1e3:.0f} ms" if s < 1 else f"{s:.2f} s" if s < 100 else f"{s:.0f} s"


def _mem(b):
    return f"{b / GIB:.2f} GiB" if b >= GIB else f"{b / (1 << 20):.0f} MiB"


def render(results, args, state, vers, command, note=None):
    lines = [SECTION, ""]
    lines.append(
        "An edge file of a dependency-shaped synthetic graph (bench/scale_data.py: names of versioned packages, "
        "about 28 bytes each; five edges a node; a fifth of the nodes without dependencies; about 2 % back "
        "edges), read with `Graph.read`, saved as a snapshot, and each question asked in a process of its own "
        "that loads the snapshot. *Peak* is the process's peak resident set over the step (VmHWM, reset before "
        "it), the interpreter and what the process already held included: the graph, for the questions (its "
        "mapped pages as they are touched). *Added* is the peak less the resident set before the step."
    )
    lines.append("")
    lines.append(f"Command: `{command}`" + (f" {note}" if note else ""))
    lines.append("")
    threads = "the calling thread alone" if args.threads is None else f"threads={args.threads}"
    lines.append(
        f"Machine: {state['cpu']}, {state['cpus']} CPUs ({state['usable']} usable), "
        f"{state['memory'] / GIB:.1f} GiB memory of which {state['available'] / GIB:.1f} GiB available at the "
        f"start, load average {state['load'][0]:.2f} at the start (the cores are shared with other work); "
        f"our calls on {threads}. "
        + ", ".join(f"{k} {v}" for k, v in vers.items()) + "."
    )
    lines.append("")
    for r in results:
        info = r["file"]
        ours = r["ours"]
        lines.append(f"### {info['edges']:,} edges, {info['nodes']:,} nodes")
        lines.append("")
        lines.append(
            f"File {info['file_bytes'] / GIB:.2f} GiB ({info['file_bytes'] / info['edges']:.1f} bytes an edge), "
            f"names {info['name_bytes'] / (1 << 20):.0f} MiB; written in {_time(info.get('write_seconds', 0))}."
        )
        lines.append("")
        rows = []
        read = ours.get("read", {})
        if "stopped" in read:
            rows.append(("Graph.read", None, read["stopped"]))
        elif read:
            held = read["nbytes"]
            rows.append(("Graph.read", read["read"],
                         f"holds {_mem(held)}: {held / read['edges']:.1f} bytes an edge, "
                         f"{(held - info['name_bytes']) / read['edges']:.1f} without the names' bytes"))
            snap = r.get("snapshot_bytes")
            rows.append(("save", read["save"], f"snapshot {_mem(snap)}" if snap else ""))
        pr = ours.get("pagerank", {})
        if "load" in pr:
            rows.append(("Graph.load", pr["load"], "mapped read-only, checked"))
        if "pagerank" in pr:
            rows.append(("pagerank (100 iterations)", pr["pagerank"],
                         f"top `{pr['top']}`; the peak holds the result, {_mem(pr['result_bytes'])}"))
        elif pr:
            rows.append(("pagerank (100 iterations)", None, pr.get("stopped", "")))
        scc = ours.get("scc", {})
        if "scc" in scc:
            rows.append(("strongly_connected", scc["scc"],
                         f"{scc['components']:,} components, largest {scc['largest']:,}"))
        reach = ours.get("reach", {})
        if "descendants" in reach:
            rows.append(("descendants_at_depth(top)", reach["descendants"], f"{reach['descendants_found']:,} names"))
            rows.append(("ancestors_at_depth(top)", reach["ancestors"], f"{reach['ancestors_found']:,} names"))
        if rows:
            lines.append("| step | time | per edge | peak | added | notes |")
            lines.append("|---|---:|---:|---:|---:|---|")
        for label, fig, note in rows:
            if fig is None:
                lines.append(f"| {label} | — | — | — | — | {note} |")
            else:
                per_edge = fig["seconds"] / info["edges"] * 1e9
                lines.append(f"| {label} | {_time(fig['seconds'])} | {per_edge:.1f} ns | {_mem(fig['peak'])} | "
                             f"{_mem(fig['added'])} | {note} |")
        lines.append("")
    if any(r["peers"] for r in results):
        lines.append("### Reading the file, the peers")
        lines.append("")
        lines.append(
            "Each reads the same file into a graph that keeps the names: igraph `Graph.Read_Ncol(names=True, "
            "directed=True)`; networkit `graphio.EdgeListReader('\\t', 0, continuous=False, directed=True)` "
            "(names as tokens in the reader's map); polars `read_csv` and pyarrow `csv.read_csv` into two string "
            "columns, the names numbered in one pass (polars: `unique` and a join; pyarrow: `unique` and `index_in`) and a scipy CSR matrix over the numbers. networkit, polars and pyarrow use "
            f"every CPU; a peer is stopped past {args.limit_gib:g} GiB resident or {args.peer_timeout:.0f} s, and "
            "not run at larger sizes. Ours is `Graph.read`, from the table above."
        )
        lines.append("")
        sizes = [r for r in results]
        lines.append("| reader | " + " | ".join(f"{r['file']['edges']:,} edges: time, peak" for r in sizes) + " |")
        lines.append("|---|" + "---:|" * len(sizes))
        row = ["ours (Graph.read)"]
        for r in sizes:
            read = r["ours"].get("read", {})
            row.append(read.get("stopped") or (f"{_time(read['read']['seconds'])}, {_mem(read['read']['peak'])}"
                                               if read else "—"))
        lines.append("| " + " | ".join(row) + " |")
        for peer in PEERS:
            if not any(peer in r["peers"] for r in sizes):
                continue
            row = [peer]
            for r in sizes:
                p = r["peers"].get(peer)
                if p is None:
                    row.append("—")
                elif "stopped" in p:
                    row.append(p["stopped"])
                else:
                    check = "" if (p["nodes"], p["edges"]) == (r["file"]["nodes"], r["file"]["edges"]) else \
                        f" (found {p['nodes']:,} nodes, {p['edges']:,} edges)"
                    row.append(f"{_time(p['read']['seconds'])}, {_mem(p['read']['peak'])}{check}")
            lines.append("| " + " | ".join(row) + " |")
        lines.append("")
    lines += summary(results)
    return "\n".join(lines).rstrip() + "\n"


def summary(results):
    done = [r for r in results if "pagerank" in r["ours"].get("pagerank", {})]
    if not done:
        return []
    out = ["Figures aimed at:", ""]
    largest = max(done, key=lambda r: r["file"]["edges"])
    steps = [largest["ours"]["read"].get("read"), largest["ours"]["pagerank"].get("pagerank"),
             largest["ours"].get("scc", {}).get("scc")]
    if all(steps):
        worst = max(s["peak"] for s in steps)
        held = largest["ours"]["read"]["nbytes"] / largest["file"]["edges"]
        out.append(f"- {largest['file']['edges']:,} edges: the highest peak of read, PageRank and strongly "
                   f"connected components is {_mem(worst)} ({'within' if worst <= 16 * GIB else 'over'} 16 GiB); "
                   f"the graph holds {held:.1f} bytes an edge.")
    if len(done) > 1:
        smallest = min(done, key=lambda r: r["file"]["edges"])

        def per_edge(r):
            return r["ours"]["pagerank"]["pagerank"]["seconds"] / r["file"]["edges"]

        ratio = per_edge(largest) / per_edge(smallest)
        out.append(f"- PageRank per edge: {per_edge(smallest) * 1e9:.1f} ns at {smallest['file']['edges']:,} edges, "
                   f"{per_edge(largest) * 1e9:.1f} ns at {largest['file']['edges']:,}: {ratio:.2f} times "
                   f"({'within' if ratio <= 1.5 else 'over'} 1.5).")
    out.append("")
    return out


def write_section(text, path=RESULTS, heading=SECTION):
    """Puts the section under `heading` into the results file, in place of
    the one before it if there is one, else at the end."""
    try:
        with open(path) as f:
            old = f.read()
    except FileNotFoundError:
        old = ""
    start = old.find(heading + "\n")
    if start < 0:
        new = old.rstrip("\n") + ("\n\n" if old else "") + text
    else:
        end = old.find("\n## ", start + len(heading))
        new = old[:start] + text + ("\n" + old[end + 1:] if end >= 0 else "")
    with open(path, "w") as f:
        f.write(new)


def main(argv=None):
    parser = argparse.ArgumentParser(prog="python -m bench.scale", description=__doc__.split("\n\n")[0])
    parser.add_argument("--sizes", nargs="+", default=["4M", "100M"], help="edge counts: 4M, 100M, 250000 ...")
    parser.add_argument("--quick", action="store_true", help="1M edges only")
    parser.add_argument("--no-peers", action="store_true")
    parser.add_argument("--no-ours", action="store_true", help="the peers alone")
    parser.add_argument("--peers", nargs="+", default=list(PEERS), choices=PEERS)
    parser.add_argument("--limit-gib", type=float, default=16.0, help="a peer is stopped past this resident set")
    parser.add_argument("--peer-timeout", type=float, default=3600.0, help="a peer is stopped past this many seconds")
    parser.add_argument("--threads", type=int, default=None, help="threads= for our calls (default: not given)")
    parser.add_argument("--dir", default=None, help="where the files go (default: a temporary folder)")
    parser.add_argument("--keep", action="store_true", help="keep the files")
    parser.add_argument("--output", default=RESULTS)
    parser.add_argument("--save-json", help="also write every figure of the run to this file")
    parser.add_argument("--render", nargs="+", metavar="JSON",
                        help="run nothing: write the section from the figures of earlier runs' --save-json, "
                        "joined size by size (e.g. one run with --no-peers, one with --no-ours)")
    parser.add_argument("--child", help=argparse.SUPPRESS)
    parser.add_argument("--file", help=argparse.SUPPRESS)
    parser.add_argument("--snapshot", help=argparse.SUPPRESS)
    parser.add_argument("--top", help=argparse.SUPPRESS)
    args = parser.parse_args(argv)
    if args.child:
        child(args)
        return
    sizes = [10**6] if args.quick else [parse_size(s) for s in args.sizes]
    peers = [] if args.no_peers else [p for p in args.peers if _importable(p)]
    args.stopped_peers = {}
    if args.render:
        render_saved(args)
        return
    state = machine_state()
    vers = versions()
    workdir = args.dir or tempfile.mkdtemp(prefix="lanternhollow-scale-")
    os.makedirs(workdir, exist_ok=True)

    def log(text):
        print(text, file=sys.stderr, flush=True)

    results = []
    try:
        for edges in sorted(sizes):
            log(f"{size_label(edges)} edges")
            results.append(measure_size(edges, args, workdir, peers, log))
    finally:
        if args.dir is None and not args.keep:
            shutil.rmtree(workdir, ignore_errors=True)
    command = "python -m bench.scale " + " ".join(argv if argv is not None else sys.argv[1:])
    text = render(results, args, state, vers, command.strip())
    if args.save_json:
        with open(args.save_json, "w") as f:
            json.dump({"state": state, "versions": vers, "command": command.strip(), "results": results,
                       "limit_gib": args.limit_gib, "peer_timeout": args.peer_timeout}, f, indent=1)
    print(text)
    write_section(text, args.output)


def render_saved(args):
    runs = []
    for path in args.render:
        with open(path) as f:
            runs.append(json.load(f))
    by_size = {}
    for run in runs:
        for r in run["results"]:
            joined = by_size.setdefault(r["size"], {"size": r["size"], "file": r["file"], "ours": {}, "peers": {}})
            joined["ours"].update(r["ours"])
            joined["peers"].update(r["peers"])
            if "snapshot_bytes" in r:
                joined["snapshot_bytes"] = r["snapshot_bytes"]
    commands = " and ".join(f"`{run['command']}`" for run in runs)
    text = render([by_size[k] for k in sorted(by_size)], args, runs[0]["state"], runs[0]["versions"],
                  runs[0]["command"], note=f"Joined from the runs {commands}." if len(runs) > 1 else None)
    print(text)
    write_section(text, args.output)


def _importable(name):
    return importlib.util.find_spec(name) is not None


if __name__ == "__main__":
    main()
