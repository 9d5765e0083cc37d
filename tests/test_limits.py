"""The process survives the ends of its resources: memory that runs out at
any point of a call, and calls nested on one stack by signal handlers that
call the module again. Each ends in a result or a Python exception."""

import os
import subprocess
import sys

import pytest

SANITIZED = "asan" in os.environ.get("LD_PRELOAD", "")

OOM_CHILD = r"""
import resource, sys
import lanternhollow_graph as lg
which, headroom = sys.argv[1], int(sys.argv[2])
n = 300_000
chain = [(f"c{i}", f"c{i + 1}") for i in range(n)]
calls = {
    "descendants": lambda: lg.descendants_at_depth(chain, "c0", 10**9),
    "subgraph": lambda: lg.subgraph(chain, ["c0"], 10**9),
    "pagerank": lambda: lg.pagerank(chain, 0.85, 2),
    "betweenness": lambda: lg.betweenness(chain[:4000] + [(f"c{i}", f"c{(i * 7) % 4000}") for i in range(4000)]),
}
with open("/proc/self/statm") as f:
    vm = int(f.read().split()[0]) * 4096
soft, hard = resource.getrlimit(resource.RLIMIT_AS)
resource.setrlimit(resource.RLIMIT_AS, (vm + headroom * 2**20, hard))
try:
    calls[which]()
    outcome = "result"
except MemoryError:
    outcome = "MemoryError"
except BaseException as e:
    outcome = type(e).__name__
resource.setrlimit(resource.RLIMIT_AS, (soft, hard))
assert lg.descendants_at_depth([("a", "b")], "a", 1) == {"b": 1}
print(outcome)
"""


@pytest.mark.slow
@pytest.mark.skipif(SANITIZED, reason="the sanitizer runtime needs its own address space")
@pytest.mark.parametrize(
    "which,threads",
    [("descendants", None), ("subgraph", None), ("pagerank", None), ("pagerank", "7"), ("betweenness", "64")],
)
def test_memory_running_out_anywhere_in_a_call(which, threads):
    # Headrooms from too little to convert the list to enough for the whole
    # call: somewhere in between, the first C++ exception of the thread is
    # a bad_alloc thrown with no memory left. In concurrent mode the worker
    # threads need memory of their own from the start.
    env = dict(os.environ)
    env.pop("LANTERNHOLLOW_GRAPH_THREADS", None)
    if threads:
        env["LANTERNHOLLOW_GRAPH_THREADS"] = threads
    outcomes = set()
    for headroom in list(range(30, 66, 3)) + [200, 380]:
        done = subprocess.run(
            [sys.executable, "-c", OOM_CHILD, which, str(headroom)], capture_output=True, text=True, timeout=120, env=env
        )
        assert done.returncode == 0, (headroom, done.stderr[-2000:])
        outcomes.add(done.stdout.strip())
    assert outcomes <= {"result", "MemoryError", "PanicException"}


NESTED_CHILD = r"""
import signal, sys
import lanternhollow_graph as lg
cycle = [(f"c{i}", f"c{(i + 1) % 3000}") for i in range(3000)]
depth = [0]

def handler(signum, frame):
    depth[0] += 1
    signal.setitimer(signal.ITIMER_REAL, 0.0005)
    getattr(lg, sys.argv[1])(cycle)

signal.signal(signal.SIGALRM, handler)
signal.setitimer(signal.ITIMER_REAL, 0.0005)
try:
    getattr(lg, sys.argv[1])(cycle)
    outcome = "returned"
except RecursionError:
    outcome = "RecursionError"
signal.signal(signal.SIGALRM, signal.SIG_IGN)
signal.setitimer(signal.ITIMER_REAL, 0)
print(outcome, depth[0])
"""


@pytest.mark.parametrize(
    "which,threads",
    # Nested betweenness in concurrent mode works too, but each of its
    # thousand levels keeps a worker busy for a while: it is left out for time.
    [("pagerank", None), ("betweenness", None), ("strongly_connected", None), ("pagerank", "2"),
     ("strongly_connected", "2")],
)
@pytest.mark.skipif(SANITIZED, reason="the sanitizer's redzones make every frame several times larger")
def test_calls_nested_by_signal_handlers(which, threads):
    # Each handler starts the same call again before the previous one ends,
    # until the interpreter's recursion limit stops it.
    env = dict(os.environ)
    env.pop("LANTERNHOLLOW_GRAPH_THREADS", None)
    if threads:
        env["LANTERNHOLLOW_GRAPH_THREADS"] = threads
    done = subprocess.run(
        [sys.executable, "-c", NESTED_CHILD, which], capture_output=True, text=True, timeout=300, env=env
    )
    assert done.returncode == 0, done.stderr[-2000:]
    assert done.stdout.split()[0] in ("returned", "RecursionError")
