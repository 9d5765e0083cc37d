"""A call must never crash, leak from or hang the process that makes it:
hostile arguments, repeated calls, very long paths, Ctrl-C and threads."""

import gc
import os
import random
import signal
import subprocess
import sys
import threading
import time

import pytest
from hypothesis import given, settings
from hypothesis import strategies as st

import hostile
import lanternhollow_graph as lg

MAX = 2**64 - 1


def test_hostile_arguments():
    calls = int(os.environ.get("LHG_FUZZ_CALLS", "3000"))
    outcomes = hostile.soak(calls, seed=random.randrange(2**32))
    assert outcomes.get("ok", 0) > calls // 10


@settings(max_examples=500)
@given(st.randoms(use_true_random=False))
def test_hostile_arguments_explored(rng):
    fn, args, kwargs = hostile.random_call(rng)
    hostile.check_call(fn, args, kwargs)


# --- leaks ------------------------------------------------------------------

NAMES = [f"n{i}" for i in range(40)]
EDGES = [(NAMES[i], NAMES[(i * 7 + 3) % 40]) for i in range(40)] + [(NAMES[i], NAMES[i + 1]) for i in range(39)]
SEEDS = [NAMES[0], NAMES[5], "absent"]

VALID = [
    (lg.pagerank, (EDGES,), {"max_iter": 5}),
    (lg.strongly_connected, (EDGES,), {}),
    (lg.ancestors_at_depth, (EDGES, NAMES[3], 3), {}),
    (lg.descendants_at_depth, (EDGES, NAMES[3], MAX), {}),
    (lg.betweenness, (EDGES,), {"normalized": False}),
    (lg.sampled_betweenness, (EDGES,), {"sample_size": 5, "seed": 7}),
    (lg.batch_ancestors, (EDGES, SEEDS, 2), {}),
    (lg.batch_descendants, (EDGES, SEEDS, MAX), {}),
    (lg.subgraph, (EDGES, SEEDS), {"max_depth": 1}),
]
BAD_EDGES = EDGES[:10] + [("a", 1)]
FAILING = [
    (lg.pagerank, (EDGES,), {"alpha": "x"}),
    (lg.strongly_connected, (BAD_EDGES,), {}),
    (lg.ancestors_at_depth, (EDGES, None, 3), {}),
    (lg.descendants_at_depth, (EDGES, NAMES[3], -1), {}),
    (lg.betweenness, (EDGES,), {"normalized": 1}),
    (lg.sampled_betweenness, (EDGES, 2**64), {}),
    (lg.batch_ancestors, (EDGES, SEEDS + [None], 2), {}),
    (lg.batch_descendants, (EDGES, "abc", 2), {}),
    (lg.subgraph, (EDGES, SEEDS, 1, True, None), {}),
    (lg.subgraph, (EDGES,), {"bogus": 1}),
    (lg.descendants_at_depth, (EDGES[:5] + [("a", "b", "c")], "a", 1), {}),
]


def run_calls(rounds):
    for _ in range(rounds):
        for fn, args, kwargs in VALID:
            fn(*args, **kwargs)
        for fn, args, kwargs in FAILING:
            try:
                fn(*args, **kwargs)
            except (TypeError, ValueError, OverflowError):
                pass


def rss_bytes():
    with open("/proc/self/statm") as f:
        return int(f.read().split()[1]) * os.sysconf("SC_PAGE_SIZE")


def test_no_leaks():
    watched = [EDGES, SEEDS, *EDGES, *NAMES, *SEEDS]
    run_calls(50)  # warm caches: str UTF-8 forms, interned names, free lists
    gc.collect()
    refcounts = [sys.getrefcount(o) for o in watched]
    objects = len(gc.get_objects())
    rss = rss_bytes()
    rounds = 10_000 // (len(VALID) + len(FAILING)) + 1
    run_calls(rounds)
    gc.collect()
    assert [sys.getrefcount(o) for o in watched] == refcounts
    assert len(gc.get_objects()) - objects < 100
    # Every call above allocates and frees native memory; none of it stays.
    # (The sanitizer runtime holds freed memory in quarantine on purpose.)
    if "asan" not in os.environ.get("LD_PRELOAD", ""):
        assert rss_bytes() - rss < 4 * 2**20


# --- long paths ---------------------------------------------------------------


@pytest.fixture(scope="module")
def million():
    n = 1_000_000
    names = [str(i) for i in range(n)]
    chain = list(zip(names, names[1:]))
    cycle = chain + [(names[-1], names[0])]
    return names, chain, cycle


def test_million_node_paths_through_every_traversal(million):
    names, chain, cycle = million
    n = len(names)
    assert len(lg.descendants_at_depth(chain, "0", MAX)) == n - 1
    assert len(lg.ancestors_at_depth(cycle, "0", MAX)) == n - 1
    batch = lg.batch_descendants(chain, ["0", names[n // 2]], MAX)
    assert len(batch["0"]) == n - 1 and len(batch[names[n // 2]]) == n - 1 - n // 2
    batch = lg.batch_ancestors(cycle, [names[-1]], MAX)
    assert len(batch[names[-1]]) == n - 1
    nodes, edges = lg.subgraph(chain, ["0"], MAX)
    assert len(nodes) == n and len(edges) == n - 1
    nodes, edges = lg.subgraph(cycle, [names[n // 2]], MAX, include_outgoing=False)
    assert len(nodes) == n and len(edges) == n
    assert lg.strongly_connected(chain) == []
    (component,) = lg.strongly_connected(cycle)
    assert component == names


def test_lying_lengths_never_end_the_process():
    class Huge:
        def __len__(self):
            return 2**62

        def __getitem__(self, i):
            if i < 3:
                return (str(i), str(i + 1))
            raise IndexError

    assert lg.descendants_at_depth(Huge(), "0", MAX) == {"1": 1, "2": 2, "3": 3}
    with pytest.raises(TypeError, match="argument 'edges': 'int' object cannot be converted to 'PyTuple'"):
        lg.strongly_connected(range(10**16))
    with pytest.raises(TypeError, match="argument 'sources': 'int' object cannot be converted to 'PyString'"):
        lg.batch_descendants([], range(10**16), 1)


# --- Ctrl-C ---------------------------------------------------------------------

INTERRUPTED_CHILD = r"""
import signal, sys, time
import lanternhollow_graph as lg
# A parent that ignores SIGINT (a shell's background job does) leaves the
# interpreter without its handler; Ctrl-C is what this child is about.
signal.signal(signal.SIGINT, signal.default_int_handler)
which = sys.argv[1]
names = [f"node{i}" for i in range(200_000)]
edges = [(names[i], names[(i * 31 + 7) % len(names)]) for i in range(len(names))]
edges += [(names[i], names[(i * 17 + 1) % len(names)]) for i in range(len(names))]
calls = {
    "pagerank": lambda: lg.pagerank(edges, max_iter=10**15),
    "betweenness": lambda: lg.betweenness(edges),
}
print("ready", flush=True)
try:
    calls[which]()
    print("finished")
except KeyboardInterrupt:
    print("interrupted", time.time())
print(lg.descendants_at_depth([("a", "b")], "a", 1))
"""


def interrupt_child(which, env=None):
    """Runs the child's long call, sends SIGINT a second into it, checks that
    the call ended with KeyboardInterrupt and that the module still works;
    returns the latency in seconds."""
    child = subprocess.Popen(
        [sys.executable, "-c", INTERRUPTED_CHILD, which],
        stdout=subprocess.PIPE,
        stderr=subprocess.PIPE,
        text=True,
        env=env,
    )
    try:
        assert child.stdout.readline().strip() == "ready"
        time.sleep(1.0)  # well inside the call
        sent = time.time()
        child.send_signal(signal.SIGINT)
        out, err = child.communicate(timeout=60)
    finally:
        child.kill()
    lines = out.splitlines()
    assert lines[0].startswith("interrupted"), (out, err)
    assert lines[1] == "{'b': 1}"
    return float(lines[0].split()[1]) - sent


@pytest.mark.parametrize("which", ["pagerank", "betweenness"])
def test_long_calls_answer_ctrl_c(which):
    print(f"{which}: interrupted {interrupt_child(which) * 1e3:.1f} ms after SIGINT")


# --- threads ------------------------------------------------------------------


def test_threads_get_the_sequential_results():
    seconds = float(os.environ.get("LHG_THREAD_SECONDS", "10"))
    rng = random.Random(5)
    cases = []
    for _ in range(12):
        edges = [(rng.choice(NAMES[:15]), rng.choice(NAMES[:15])) for _ in range(rng.randint(1, 60))]
        cases.extend((fn, (edges,) + args[1:], kwargs) for fn, args, kwargs in VALID)
    expected = [fn(*args, **kwargs) for fn, args, kwargs in cases]
    failures = []
    stop = time.monotonic() + seconds
    counts = [0] * 8

    def worker(k):
        order = list(range(len(cases)))
        random.Random(k).shuffle(order)
        while time.monotonic() < stop:
            for i in order:
                fn, args, kwargs = cases[i]
                if fn(*args, **kwargs) != expected[i]:
                    failures.append((k, i))
                counts[k] += 1

    threads = [threading.Thread(target=worker, args=(k,)) for k in range(8)]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    assert not failures
    assert all(counts)
