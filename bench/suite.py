"""Every function of lanternhollow_graph against the floor and against the
graph libraries that do the same work, end to end, in one process.

    python -m bench                      # Debian, synthetic 1M and 4M edges, full
    python -m bench --quick              # the Debian graph, in under a minute
    python -m bench --graph synthetic --repeats 3
    python -m bench --graph synthetic-250k synthetic synthetic-4m --only pagerank --threads 2

Each contender gets the same edge list (a list of (str, str) tuples) and
returns its answer keyed by node name: graph construction, name mapping and
the conversion of the result are part of every timing. The floor,
dict.fromkeys(itertools.chain.from_iterable(edges), 0.0), is timed in the
same run, and every time is also given as a multiple of it.

Times are medians over --repeats runs after one warm-up run; our calls in
the default mode and with each --threads count take turns, a run of each per
round, so that the machine's drift in speed does not fall on one mode alone.
A call that may
run for minutes (our PageRank while it still adds dangling shares one node at
a time, exact betweenness, anything of networkx on the large graph) is first
run once in a forked child under a deadline: a child that overruns it is
killed and the cell says so; a child run longer than --once-after seconds is
the figure itself (one run). See bench/README.md for the memory method.
"""

import argparse
import ctypes
import gc
import itertools
import hashlib
import json
import os
import random
import select
import signal
import sys
import time

import lanternhollow_graph as lg

from bench.data import debian_edges, synthetic_edges
from bench.peers import PEERS

HERE = os.path.dirname(os.path.abspath(__file__))
UNLIMITED = 2**64 - 1
SAMPLE_SIZE = 100
SEED = 42
SUBGRAPH_SEEDS = 10
SUBGRAPH_DEPTH = 2
PEER_ORDER = ("networkx", "igraph", "rustworkx", "scipy", "networkit", "networkit-mt", "graphblas", "graphblas-mt")
THREADS_VARIABLE = "LANTERNHOLLOW_GRAPH_THREADS"

# The graphs by name: how to make each, and the tasks it runs unless --only
# says otherwise (None: all). At four million edges the all-pairs and batch
# tasks would take hours for several contenders.
GRAPHS = {
    "debian": ("Debian bookworm", debian_edges, None),
    "synthetic-250k": ("synthetic, 50,000 nodes", lambda: synthetic_edges(nodes=50_000), None),
    "synthetic": ("synthetic", synthetic_edges, None),
    "synthetic-4m": ("synthetic, 800,000 nodes", lambda: synthetic_edges(nodes=800_000),
                     ("pagerank", "strongly_connected", "descendants_at_depth", "ancestors_at_depth", "subgraph")),
}
ALL_GRAPHS = ("debian", "synthetic", "synthetic-4m")


# ----------------------------------------------------------------------------
# Memory: peak resident set size of the process around one call.


def _status(field):
    with open("/proc/self/status") as f:
        for line in f:
            if line.startswith(field + ":"):
                return int(line.split()[1]) * 1024
    return None


def _reset_peak():
    """Resets VmHWM to the current VmRSS; False where the kernel lacks it."""
    try:
        with open("/proc/self/clear_refs", "w") as f:
            f.write("5")
        return True
    except OSError:
        return False


try:
    _malloc_trim = ctypes.CDLL("libc.so.6").malloc_trim
except (OSError, AttributeError):
    _malloc_trim = None


def _settle():
    """Frees what can be freed, so the baseline holds only live objects."""
    gc.collect()
    if _malloc_trim is not None:
        _malloc_trim(0)


def deep_size(obj, skip=frozenset()):
    """Bytes of obj and every container, str, int and float it holds, each
    distinct object once; objects whose id is in skip (the input's) are
    shared, not new, and are not counted."""
    seen = set(skip)
    total = 0
    stack = [obj]
    while stack:
        o = stack.pop()
        if id(o) in seen:
            continue
        seen.add(id(o))
        total += sys.getsizeof(o)
        if isinstance(o, dict):
            stack.extend(o.keys())
            stack.extend(o.values())
        elif isinstance(o, (list, tuple, set, frozenset)):
            stack.extend(o)
    return total


def input_ids(edges):
    ids = {id(edges)}
    for pair in edges:
        ids.add(id(pair))
        ids.add(id(pair[0]))
        ids.add(id(pair[1]))
    return frozenset(ids)


def measure_peak(fn, skip):
    """(peak bytes above the baseline, bytes of the returned objects)."""
    _settle()
    if not _reset_peak():
        return None
    before = _status("VmRSS")
    result = fn()
    peak = _status("VmHWM")
    return peak - before, deep_size(result, skip)


# ----------------------------------------------------------------------------
# Timing


class Timing:
    def __init__(self, seconds=None, runs=0, stopped_after=None, memory=None, result=None, error=None):
        self.seconds = seconds
        self.runs = runs
        self.stopped_after = stopped_after
        self.memory = memory  # (peak, result bytes) or None
        self.result = result  # short description of the answer
        self.error = error
        self.estimated = False
        self.single = False  # one run with no warm-up before it


def _run_in_child(fn, deadline, skip, describe):
    """Runs fn once in a forked child; returns a Timing, or one with
    stopped_after set when the child overran the deadline."""
    read_end, write_end = os.pipe()
    pid = os.fork()
    if pid == 0:
        os.close(read_end)
        try:
            _settle()
            peaked = _reset_peak()
            before = _status("VmRSS")
            t0 = time.perf_counter()
            result = fn()
            seconds = time.perf_counter() - t0
            peak = _status("VmHWM") - before if peaked else None
            report = {"seconds": seconds, "describe": describe(result),
                      "memory": None if peak is None else [peak, deep_size(result, skip)]}
        except BaseException as e:  # noqa: BLE001 - reported to the parent
            report = {"error": f"{type(e).__name__}: {e}"}
        os.write(write_end, json.dumps(report).encode())
        os._exit(0)
    os.close(write_end)
    chunks = []
    stop_at = time.monotonic() + deadline
    try:
        while True:
            left = stop_at - time.monotonic()
            if left <= 0:
                os.kill(pid, signal.SIGKILL)
                return Timing(stopped_after=deadline)
            ready, _, _ = select.select([read_end], [], [], left)
            if ready:
                chunk = os.read(read_end, 1 << 16)
                if not chunk:
                    break
                chunks.append(chunk)
    finally:
        os.close(read_end)
        os.waitpid(pid, 0)
    if not chunks:
        return Timing(error="the child ended without a report")
    report = json.loads(b"".join(chunks))
    if "error" in report:
        return Timing(error=report["error"])
    memory = tuple(report["memory"]) if report["memory"] else None
    timing = Timing(report["seconds"], 1, memory=memory, result=report["describe"])
    timing.single = True
    return timing


def _warm_up(fn, describe, *, guarded, deadline, once_after, skip):
    """The probe in a child (for a guarded call) and the warm-up run. Returns
    (timing, None) for a call that is not repeated: it failed, overran the
    deadline or ran longer than once_after; otherwise (None, what it
    returned, in a few words)."""
    if guarded:
        probe = _run_in_child(fn, deadline, skip, describe)
        if probe.stopped_after is not None or probe.error or probe.seconds > once_after:
            return probe, None
    try:
        t0 = time.perf_counter()
        result = fn()  # warm-up
        first = time.perf_counter() - t0
    except Exception as e:  # noqa: BLE001 - a peer that fails is reported, not fatal
        return Timing(error=f"{type(e).__name__}: {e}"), None
    summary = describe(result)
    del result
    if first > once_after:
        timing = Timing(first, 1, result=summary)
        timing.single = True
        return timing, None
    return None, summary


def measure_together(contenders, describe, *, deadline, once_after, skip):
    """contenders: name -> (fn, repeats, guarded). Every call is warmed up
    first; then the timed runs take turns, one run of each contender per
    round, so that a machine whose speed drifts over minutes (a shared
    virtual machine's does) slows every contender of the round alike and the
    ratios between them keep. Returns name -> Timing, the median of its runs."""
    timings, pending = {}, {}
    for name, (fn, repeats, guarded) in contenders.items():
        final, summary = _warm_up(fn, describe, guarded=guarded, deadline=deadline, once_after=once_after,
                                  skip=skip)
        if final is not None:
            timings[name] = final
        else:
            pending[name] = (fn, repeats, summary, [])
    for round_ in range(max((repeats for _, repeats, _, _ in pending.values()), default=0)):
        for fn, repeats, _, times in pending.values():
            if round_ < repeats:
                t0 = time.perf_counter()
                fn()
                times.append(time.perf_counter() - t0)
    for name, (_, _, summary, times) in pending.items():
        times.sort()
        timings[name] = Timing(times[len(times) // 2], len(times), result=summary)
    return {name: timings[name] for name in contenders}


def measure(fn, repeats, describe, *, guarded, deadline, once_after, skip):
    return measure_together({None: (fn, repeats, guarded)}, describe, deadline=deadline, once_after=once_after,
                            skip=skip)[None]


# ----------------------------------------------------------------------------
# What each call returned, in a few words: the same words for every
# contender that did the same work.


def _describe_scores(r):
    return "no result (raises at tol=0)" if r is None else f"{len(r):,} scores"


def _describe_components(r):
    return f"{len(r):,} components, largest {len(r[0]) if r else 0:,}"


def _describe_reach(r):
    return f"{len(r):,} names"


def _describe_batch(r):
    return f"{len(r)} starts, {sum(map(len, r.values())):,} names"


def _describe_subgraph(r):
    nodes, kept = r
    return f"{len(nodes):,} nodes, {len(kept):,} edges"


# ----------------------------------------------------------------------------
# The tasks


class Task:
    def __init__(self, name, label, ours, describe, peer_args, *, guard_ours=False, guard_peers=False,
                 note=""):
        self.name = name  # our function's name, also the key in PEERS
        self.label = label
        self.ours = ours
        self.describe = describe
        self.peer_args = peer_args  # how a peer function is called: a lambda over it
        self.guard_ours = guard_ours
        self.guard_peers = guard_peers
        self.note = note


def build_tasks(ctx):
    edges = ctx["edges"]
    starts = ctx["starts"]
    source = ctx["source"]
    target = ctx["target"]
    seeds = ctx["seeds"]
    large = len(edges) > 500_000
    return [
        Task("pagerank", "pagerank (100 iterations)",
             lambda: lg.pagerank(edges), _describe_scores,
             lambda f: lambda: f(edges), guard_ours=True, guard_peers=large,
             note="100 power iterations with alpha 0.85, no convergence test. networkx and rustworkx "
                  "run their 100 iterations at tol=0 and then raise instead of returning (caught; "
                  "their result dict is never built); igraph solves with PRPACK, not by a fixed "
                  "number of iterations; scipy is a 100-round power iteration written with a CSR "
                  "matrix, dangling nodes spread evenly; graphblas the same loop with its vector and "
                  "matrix operations; networkit PageRank(tol=0, maxIterations=100, sinks distributed)."),
        Task("strongly_connected", "strongly_connected",
             lambda: lg.strongly_connected(edges), _describe_components,
             lambda f: lambda: f(edges), guard_peers=large,
             note="components of two or more nodes as lists of names, largest first."),
        Task("descendants_at_depth", f"descendants_at_depth (1 source, no limit)",
             lambda: lg.descendants_at_depth(edges, source, UNLIMITED), _describe_reach,
             lambda f: lambda: f(edges, source), guard_peers=large,
             note=f"from `{source}` (the largest out-degree). Peers return the set of names "
                  "reached (networkx descendants, igraph subcomponent, rustworkx descendants, "
                  "scipy breadth_first_order); ours also returns each depth."),
        Task("ancestors_at_depth", f"ancestors_at_depth (1 target, no limit)",
             lambda: lg.ancestors_at_depth(edges, target, UNLIMITED), _describe_reach,
             lambda f: lambda: f(edges, target), guard_peers=large,
             note=f"to `{target}` (the largest in-degree); as above, against the edges."),
        Task("batch_descendants", f"batch_descendants ({len(starts)} sources)",
             lambda: lg.batch_descendants(edges, starts, UNLIMITED), _describe_batch,
             lambda f: lambda: f(edges, starts), guard_peers=True,
             note=f"{len(starts)} names drawn with random.Random({SEED}), no depth limit. Peers build "
                  "their graph once and run one search per name."),
        Task("batch_ancestors", f"batch_ancestors ({len(starts)} targets)",
             lambda: lg.batch_ancestors(edges, starts, UNLIMITED), _describe_batch,
             lambda f: lambda: f(edges, starts), guard_peers=True,
             note="the same names, against the edges."),
        Task("betweenness", "betweenness (exact)",
             lambda: lg.betweenness(edges), _describe_scores,
             lambda f: lambda: f(edges), guard_ours=True, guard_peers=True,
             note="all sources, normalised by 1/((n-1)(n-2)). igraph directed; rustworkx on one "
                  "thread; networkx is estimated from its sampled run: construction + (sampled time − "
                  "construction) × n/100."),
        Task("sampled_betweenness", f"sampled_betweenness ({SAMPLE_SIZE} sources)",
             lambda: lg.sampled_betweenness(edges, SAMPLE_SIZE, SEED), _describe_scores,
             lambda f: lambda: f(edges, SAMPLE_SIZE, SEED), guard_ours=large, guard_peers=True,
             note=f"{SAMPLE_SIZE} random sources, scaled by n/{SAMPLE_SIZE}: networkx "
                  f"betweenness_centrality(k={SAMPLE_SIZE}, seed={SEED}); igraph betweenness "
                  "with sources=; each draws its own sample."),
        Task("subgraph", f"subgraph ({len(seeds)} seeds, depth {SUBGRAPH_DEPTH})",
             lambda: lg.subgraph(edges, seeds, SUBGRAPH_DEPTH), _describe_subgraph,
             lambda f: lambda: f(edges, seeds, SUBGRAPH_DEPTH), guard_peers=large,
             note=f"{len(seeds)} seeds drawn with random.Random({SEED}); members within 2 steps "
                  "either way, then every edge among them (networkx lists each pair once)."),
    ]


def context(edges):
    names = list(dict.fromkeys(itertools.chain.from_iterable(edges)))
    out_degree = dict.fromkeys(names, 0)
    in_degree = dict.fromkeys(names, 0)
    for s, t in edges:
        out_degree[s] += 1
        in_degree[t] += 1
    rng = random.Random(SEED)
    return {
        "edges": edges,
        "names": names,
        "starts": rng.sample(names, SAMPLE_SIZE),
        "seeds": random.Random(SEED).sample(names, SUBGRAPH_SEEDS),
        "source": max(names, key=out_degree.__getitem__),
        "target": max(names, key=in_degree.__getitem__),
    }


def floor_fn(edges):
    return lambda: dict.fromkeys(itertools.chain.from_iterable(edges), 0.0)


def with_threads(fn, threads):
    """fn run with our module's thread variable set to `threads`, or unset
    for None (the default mode, whatever the caller's environment says)."""
    def call():
        saved = os.environ.pop(THREADS_VARIABLE, None)
        if threads is not None:
            os.environ[THREADS_VARIABLE] = str(threads)
        try:
            return fn()
        finally:
            os.environ.pop(THREADS_VARIABLE, None)
            if saved is not None:
                os.environ[THREADS_VARIABLE] = saved
    return call


def run_graph(label, edges, args, tasks=None, ctx=None):
    ctx = ctx or context(edges)
    skip = input_ids(edges)
    size = deep_size(edges)
    floor_fn(edges)()  # fills every str's cached hash, for all that follow
    print(f"\n## {label}: {len(edges):,} edges, {len(ctx['names']):,} nodes "
          f"(input list {size / 2**20:.0f} MiB)", flush=True)
    floor_repeats = max(9, 3 * args.repeats)
    floor = measure(floor_fn(edges), floor_repeats, lambda r: f"{len(r):,} names",
                    guarded=False, deadline=args.deadline, once_after=args.once_after, skip=skip)
    floor.memory = measure_peak(floor_fn(edges), skip)
    print(f"floor {floor.seconds * 1e3:.1f} ms (median of {floor.runs})", flush=True)
    rows = []
    threaded = {}  # task name -> {thread count: Timing}
    peer_repeats = 1 if args.quick else args.repeats
    for task in build_tasks(ctx):
        if args.only and task.name not in args.only:
            continue
        if not args.only and tasks is not None and task.name not in tasks:
            continue
        # Our calls in each mode take turns with each other, ahead of the
        # peers: run among the peers' calls, a short call of ours on two
        # threads was found to take up to twice its time alone (the peers'
        # thread pools and heaps stay behind them), which no user of one
        # library alone would see.
        default = with_threads(task.ours, None)
        contenders = {"ours": (default, args.repeats, task.guard_ours)}
        for n in args.threads:
            contenders[n] = (with_threads(task.ours, n), args.repeats, task.guard_ours)
        timings = measure_together(contenders, task.describe, deadline=args.deadline,
                                   once_after=args.once_after, skip=skip)
        ours = timings.pop("ours")
        if ours.memory is None and ours.seconds is not None:
            ours.memory = measure_peak(default, skip)
        print(f"  {task.label}: ours {_fmt(ours)}  [{ours.result or ours.error or ''}]", flush=True)
        for n in args.threads:
            t = threaded.setdefault(task.name, {})[n] = timings.pop(n)
            print(f"    ours, {THREADS_VARIABLE}={n}: {_fmt(t)}  [{t.result or t.error or ''}]", flush=True)
        peers = {}
        for peer in PEER_ORDER:
            impl = PEERS.get(peer, {}).get(task.name)
            if impl is None or peer in args.skip_peer:
                continue
            # An OpenMP thread pool does not survive fork(): once the parent
            # has started one, a forked child that needs it waits forever. The
            # peers on several threads therefore run in this process, unguarded.
            guarded = task.guard_peers and not peer.endswith("-mt")
            peers[peer] = measure(task.peer_args(impl), peer_repeats, task.describe,
                                  guarded=guarded, deadline=args.deadline,
                                  once_after=args.once_after, skip=skip)
            print(f"    {peer}: {_fmt(peers[peer])}  [{peers[peer].result or peers[peer].error or ''}]",
                  flush=True)
        rows.append((task, ours, peers))
    _estimate_networkx_exact(rows, ctx, args, skip)
    return {"label": label, "edges": len(edges), "nodes": len(ctx["names"]), "input_bytes": size,
            "floor": floor, "rows": rows, "threaded": threaded}


def _estimate_networkx_exact(rows, ctx, args, skip):
    """networkx's exact betweenness would take hours on these graphs. Its
    time for 100 sources (the sampled row), less its graph construction,
    times n / 100 stands in for it."""
    by_name = {task.name: (task, peers) for task, _, peers in rows}
    if "betweenness" not in by_name or "networkx" not in PEERS or "networkx" in args.skip_peer:
        return
    sampled = by_name.get("sampled_betweenness", (None, {}))[1].get("networkx")
    if sampled is None or sampled.seconds is None:
        if sampled is not None and sampled.stopped_after is not None:
            bound = Timing(stopped_after=sampled.stopped_after * len(ctx["names"]) / SAMPLE_SIZE)
            bound.estimated = True
            by_name["betweenness"][1]["networkx"] = bound
        return
    import networkx as nx

    edges = ctx["edges"]
    n = len(ctx["names"])
    t0 = time.perf_counter()
    nx.DiGraph(edges)
    built = time.perf_counter() - t0
    estimate = Timing(built + max(0.0, sampled.seconds - built) * n / SAMPLE_SIZE, 0,
                      result=f"{n:,} scores (estimated)")
    estimate.estimated = True
    by_name["betweenness"][1]["networkx"] = estimate
    print(f"    networkx exact betweenness, estimated: {_fmt(estimate)}", flush=True)


# ----------------------------------------------------------------------------
# Construction from names built to collide


def flood_names(kind, count, length=208):
    if kind == "shared prefix":
        return ["x" * (length - 8) + f"{i:08d}" for i in range(count)]
    if kind == "shared suffix":
        return [f"{i:08d}" + "x" * (length - 8) for i in range(count)]
    def scrambled(i):
        digest = hashlib.blake2b(i.to_bytes(8, "little"), digest_size=64).hexdigest()
        return (digest + hashlib.blake2b(digest.encode(), digest_size=64).hexdigest())[:length]

    return [scrambled(i) for i in range(count)]


def run_flood(label, edges, args):
    """Our graph construction (descendants_at_depth of an absent name costs
    little more than building the graph) with the same edge structure under
    three sets of equally long names."""
    names = list(dict.fromkeys(itertools.chain.from_iterable(edges)))
    index = dict(zip(names, range(len(names))))
    shape = [(index[s], index[t]) for s, t in edges]
    del index
    results = []
    for kind in ("random", "shared prefix", "shared suffix"):
        fresh = flood_names(kind, len(names))
        relabelled = [(fresh[s], fresh[t]) for s, t in shape]
        floor_fn(relabelled)()
        floor = measure(floor_fn(relabelled), max(9, 3 * args.repeats), len, guarded=False,
                        deadline=args.deadline, once_after=args.once_after, skip=frozenset())
        ours = measure(lambda: lg.descendants_at_depth(relabelled, "\x00absent", 1), args.repeats, len,
                       guarded=True, deadline=args.deadline, once_after=args.once_after, skip=frozenset())
        results.append((kind, floor, ours))
        print(f"  flood {label} {kind}: ours {_fmt(ours)} floor {_fmt(floor)}", flush=True)
        del fresh, relabelled
    return {"label": label, "names": len(names), "edges": len(edges), "results": results}


# ----------------------------------------------------------------------------
# Output


def _fmt(t):
    if t.error:
        return "failed"
    if t.stopped_after is not None:
        return f"> {t.stopped_after:.0f} s" + (" (est.)" if t.estimated else "")
    s = t.seconds
    text = f"{s * 1e3:.1f} ms" if s < 1 else f"{s:.2f} s" if s < 100 else f"{s:.0f} s"
    if t.estimated:
        return "≈ " + text
    return text + ("¹" if t.single else "")


def _mib(b):
    return f"{b / 2**20:.1f}"


def render(graphs, floods, args):
    peers = [p for p in PEER_ORDER if p in PEERS and p not in args.skip_peer]
    lines = ["# Benchmark results", ""]
    lines.append(f"Python {sys.version.split()[0]}, {os.cpu_count()} cores; "
                 f"{'quick run' if args.quick else 'full run'}, median of {args.repeats} runs after a "
                 f"warm-up; deadline {args.deadline:.0f} s; peers: "
                 + ", ".join(f"{p} {_version(p)}" for p in peers) + ".")
    lines.append("")
    lines.append("Command: `" + " ".join(["python -m bench"] + sys.argv[1:]) + "`")
    for g in graphs:
        floor = g["floor"]
        lines += ["", f"## {g['label']}: {g['edges']:,} edges, {g['nodes']:,} nodes", ""]
        lines.append(f"Floor `dict.fromkeys(chain.from_iterable(edges), 0.0)`: {_fmt(floor)} "
                     f"(median of {floor.runs}); input list {_mib(g['input_bytes'])} MiB "
                     "(list, tuples and distinct strs)."
                     + (f" Floor peak {_mib(floor.memory[0])} MiB." if floor.memory else ""))
        lines.append("")
        head = (["task", "ours", "× floor"] + [f"ours, {n} thr." for n in args.threads] + peers
                + ["ours ÷ fastest peer"] + [f"{n} thr. ÷ fastest peer" for n in args.threads]
                + ["peak added, MiB", "÷ input", "ours returned"])
        lines.append("| " + " | ".join(head) + " |")
        lines.append("|" + "|".join("---" if i == 0 or i == len(head) - 1 else "---:"
                                    for i in range(len(head))) + "|")
        notes = []
        for task, ours, peer_times in g["rows"]:
            cells = [task.label, _fmt(ours), _ratio(ours, floor)]
            threaded = [g["threaded"].get(task.name, {}).get(n) for n in args.threads]
            cells += [_fmt(t) if t else "—" for t in threaded]
            fastest = None
            for p in peers:
                t = peer_times.get(p)
                if t is None:
                    cells.append("—")
                    continue
                cells.append(_fmt(t) + (f" ({_ratio(t, floor)})" if t.seconds is not None else ""))
                if t.seconds is not None and not t.estimated and \
                        (fastest is None or t.seconds < fastest[1].seconds):
                    fastest = (p, t)
                if t.error:
                    notes.append(f"{task.name}: {p} failed: {t.error}")
                elif t.result and ours.result and t.result != ours.result and not t.estimated:
                    notes.append(f"{task.name}: {p} returned {t.result}")
            if fastest and ours.seconds is not None:
                cells.append(f"{ours.seconds / fastest[1].seconds:.2f} ({fastest[0]})")
            else:
                cells.append("—")
            for t in threaded:
                ok = fastest and t is not None and t.seconds is not None
                cells.append(f"{t.seconds / fastest[1].seconds:.2f}" if ok else "—")
            if ours.memory:
                peak, returned = ours.memory
                added = max(0, peak - returned)
                cells += [_mib(added), f"{added / g['input_bytes']:.2f}"]
            else:
                cells += ["—", "—"]
            cells.append(ours.result or ours.error or "")
            lines.append("| " + " | ".join(cells) + " |")
        lines += ["", "Notes:", ""]
        lines.append("- ¹ one run, without a warm-up (a run longer than "
                     f"{args.once_after:g} s is not repeated); `> N s`: stopped at the deadline; "
                     "`≈`: estimated, see the row's note."
                     + (" Peers: one run after the warm-up (--quick)." if args.quick else "")
                     + " networkit and graphblas run on one thread; the -mt columns on all the CPUs the "
                       "process may use."
                     + (f" `ours, N thr.`: our calls with {THREADS_VARIABLE}=N; `ours` with it unset."
                        if args.threads else ""))
        for task, _, _ in g["rows"]:
            lines.append(f"- {task.label}: {task.note}")
        lines += [f"- {n}" for n in notes]
    if floods:
        lines += ["", "## Construction from colliding names", ""]
        lines.append("`descendants_at_depth(edges, absent_name, 1)` (graph construction and little else) "
                     "on the edge structure of each graph, its names replaced by 208-character names: "
                     "random hexadecimal digits; `'x' * 200 + f'{i:08d}'`; `f'{i:08d}' + 'x' * 200`.")
        lines.append("")
        lines.append("| graph | names | ours | ÷ random | floor | floor ÷ random |")
        lines.append("|---|---|---:|---:|---:|---:|")
        for f in floods:
            base_ours = f["results"][0][2]
            base_floor = f["results"][0][1]
            for kind, floor, ours in f["results"]:
                lines.append(f"| {f['label']} | {kind} | {_fmt(ours)} | {_ratio(ours, base_ours, '')} | "
                             f"{_fmt(floor)} | {_ratio(floor, base_floor, '')} |")
    return "\n".join(lines) + "\n"


def _ratio(t, base, suffix="×"):
    if t.seconds is None or base.seconds is None:
        return "—"
    r = t.seconds / base.seconds
    return f"{r:.2f}{suffix}" if r < 10 else f"{r:.0f}{suffix}"


def _version(peer):
    module = {"scipy": "scipy", "networkx": "networkx", "igraph": "igraph", "rustworkx": "rustworkx",
              "networkit": "networkit", "networkit-mt": "networkit",
              "graphblas": "graphblas", "graphblas-mt": "graphblas"}[peer]
    return getattr(sys.modules.get(module), "__version__", "?")


def chart(graphs, path):
    try:
        import matplotlib

        matplotlib.use("Agg")
        import matplotlib.pyplot as plt
    except ImportError:
        return False
    contenders = ["ours"] + [p for p in PEER_ORDER if any(p in row[2] for g in graphs for row in g["rows"])]
    fig, axes = plt.subplots(1, len(graphs), figsize=(7 * len(graphs), 0.55 * 9 + 2.5), squeeze=False)
    for ax, g in zip(axes[0], graphs):
        floor = g["floor"].seconds
        rows = g["rows"]
        height = 0.8 / len(contenders)
        smallest = 0.5
        for k, who in enumerate(contenders):
            ys, xs, bounds = [], [], []
            for i, (task, ours, peers) in enumerate(rows):
                t = ours if who == "ours" else peers.get(who)
                if t is None or t.estimated:
                    continue
                y = i + (k - (len(contenders) - 1) / 2) * height
                if t.seconds is not None:
                    ys.append(y)
                    xs.append(t.seconds / floor)
                    smallest = min(smallest, xs[-1] / 2)
                elif t.stopped_after is not None:
                    bounds.append((y, t.stopped_after / floor))
            bar = ax.barh(ys, xs, height=height, label=who)
            if bounds:
                # Stopped at the deadline: a hatched bar up to where it was stopped.
                ax.barh([y for y, _ in bounds], [x for _, x in bounds], height=height,
                        color=bar.patches[0].get_facecolor() if bar.patches else None,
                        alpha=0.35, hatch="//", edgecolor="black", linewidth=0.3)
        ax.set_yticks(range(len(rows)))
        ax.set_yticklabels([task.label for task, _, _ in rows], fontsize=8)
        ax.invert_yaxis()
        ax.set_xscale("log")
        ax.set_xlim(left=smallest)
        ax.axvline(1.0, color="black", linewidth=0.8)
        ax.set_xlabel("time ÷ floor (log scale)\nhatched: stopped at the deadline", fontsize=8)
        ax.set_title(f"{g['label']}: {g['edges']:,} edges")
        ax.legend(fontsize=8, loc="upper center", bbox_to_anchor=(0.5, -0.12), ncol=len(contenders))
    fig.tight_layout()
    fig.savefig(path, dpi=110)
    return True


def main(argv=None):
    parser = argparse.ArgumentParser(prog="python -m bench", description=__doc__.split("\n\n")[0])
    parser.add_argument("--graph", nargs="+", choices=tuple(GRAPHS) + ("all",), default=None,
                        help="which graphs to run on: debian (279k edges), synthetic-250k, synthetic (1M), "
                             "synthetic-4m (a subset of the tasks unless --only); all = "
                             + ", ".join(ALL_GRAPHS) + " (default; debian with --quick; debian and synthetic "
                             "with --only built alone)")
    parser.add_argument("--threads", type=int, nargs="+", default=[],
                        help=f"also run our calls with {THREADS_VARIABLE} set to each N, "
                             "in columns beside the default mode's")
    parser.add_argument("--repeats", type=int, default=None, help="timed runs per call (default 5; 3 with --quick)")
    parser.add_argument("--quick", action="store_true",
                        help="the Debian graph, fewer runs (one per peer), a 2 s deadline")
    parser.add_argument("--deadline", type=float, default=None,
                        help="seconds before a guarded single run is stopped (default 300; 2 with --quick)")
    parser.add_argument("--once-after", type=float, default=2.0,
                        help="a call longer than this many seconds is run only once (default 2)")
    parser.add_argument("--only", nargs="*", default=[],
                        help="run only these functions; `arrow` alone compares Graph.from_arrow with "
                             "Graph(list) on 4 million edges; `built` names the table of questions on a built graph "
                             "(which a run of it alone writes into the output file's section of its own, "
                             "keeping the rest of the file)")
    parser.add_argument("--skip-peer", nargs="*", default=[], choices=PEER_ORDER, help="leave these peers out")
    parser.add_argument("--output", default=os.path.join(HERE, "results.md"), help="Markdown table path")
    parser.add_argument("--chart", default=os.path.join(HERE, "results.png"), help="PNG chart path")
    args = parser.parse_args(argv)
    if args.only == ["arrow"]:
        # Graph.from_arrow against Graph(list): a table of its own, printed only.
        from bench import arrow
        return arrow.main(["--rounds", str(args.repeats or 7)])
    if args.graph is None:
        args.graph = ["debian"] if args.quick else ["debian", "synthetic"] if args.only == ["built"] else ["all"]
    if "all" in args.graph:
        args.graph = [g for g in ALL_GRAPHS if g not in args.graph] + [g for g in args.graph if g != "all"]
    if args.repeats is None:
        args.repeats = 3 if args.quick else 5
    if args.deadline is None:
        args.deadline = 2.0 if args.quick else 300.0
    if args.quick:
        args.once_after = min(args.once_after, 0.5)
    missing = [p for p in PEER_ORDER if p not in PEERS]
    if missing:
        print("not installed, skipped: " + ", ".join(missing))
    from bench import built  # here: it imports this module

    # The table of questions on a built graph runs on the graphs that run
    # every task, or on any graph when --only names it.
    functions_too = not args.only or any(o != "built" for o in args.only)
    graph_type = built.load_graph_type() if not args.only or "built" in args.only else None
    if graph_type is None and (not args.only or "built" in args.only):
        print("lanternhollow_graph_store is not built: no table of questions on a built graph")

    graphs, floods, asked = [], [], []
    for name in dict.fromkeys(args.graph):
        label, load, tasks = GRAPHS[name]
        edges = load()
        ctx = context(edges)
        if functions_too:
            graphs.append(run_graph(label, edges, args, tasks, ctx))
        if not args.only and tasks is None:
            floods.append(run_flood(label, edges, args))
        if graph_type is not None and (tasks is None or "built" in args.only):
            asked.append(built.run_built(label, edges, ctx, args, graph_type))
        del edges, ctx
        gc.collect()

    if graphs:
        text = render(graphs, floods, args)
        if asked:
            text += "\n" + built.render_section(asked, args)
        print()
        print(text)
    elif asked:
        print()
        print(built.render_section(asked, args))
        try:
            with open(args.output) as f:
                text = built.splice(f.read(), asked, args)
        except FileNotFoundError:
            text = built.render_section(asked, args)
    else:
        return 1
    with open(args.output, "w") as f:
        f.write(text)
    if graphs and chart(graphs, args.chart):
        print(f"chart: {args.chart}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
