"""A signal handler that raises can end a call at any stage: while the
arguments are converted, while the graph is built, inside an analysis, and
while a large result is built. Wherever it lands, the exception reaches the
caller, nothing half built escapes, and the next call gives the same answer
as before."""

import gc
import pickle
import random
import signal
import time

import pytest

import lanternhollow_graph as lg
from lanternhollow_graph_store import Graph

MAX = 2**64 - 1


class Stop(BaseException):
    pass


def graph(n=25_000, seed=3):
    rng = random.Random(seed)
    names = [f"m{i}" for i in range(n)]
    edges = [(names[i], names[rng.randrange(i)]) for i in range(1, n) for _ in range(3)]
    edges += [(names[rng.randrange(n)], names[rng.randrange(n)]) for _ in range(n // 4)]
    return names, edges


NAMES, EDGES = graph()
STARTS = NAMES[-60:] + NAMES[:40]
CALLS = {
    "pagerank": lambda: lg.pagerank(EDGES, 0.85, 20),
    "strongly_connected": lambda: lg.strongly_connected(EDGES),
    "ancestors_at_depth": lambda: lg.ancestors_at_depth(EDGES, NAMES[0], MAX),
    "descendants_at_depth": lambda: lg.descendants_at_depth(EDGES, NAMES[-1], MAX),
    "betweenness": lambda: lg.betweenness(EDGES[:20_000]),
    "sampled_betweenness": lambda: lg.sampled_betweenness(EDGES, 20, 7),
    "batch_ancestors": lambda: lg.batch_ancestors(EDGES, STARTS, MAX),
    "batch_descendants": lambda: lg.batch_descendants(EDGES, STARTS, MAX),
    "subgraph": lambda: lg.subgraph(EDGES, STARTS, 3),
}
# A built graph's methods run their cores with the interpreter lock
# released, and poll for the handlers by taking it back.
G = Graph(EDGES)
G_SMALL = Graph(EDGES[:20_000])
CALLS.update({
    "Graph": lambda: Graph(EDGES),
    "Graph.pagerank": lambda: G.pagerank(0.85, 20),
    "Graph.strongly_connected": lambda: G.strongly_connected(),
    "Graph.ancestors_at_depth": lambda: G.ancestors_at_depth(NAMES[0]),
    "Graph.betweenness": lambda: G_SMALL.betweenness(threads=2),
    "Graph.batch_descendants": lambda: G.batch_descendants(STARTS),
    "Graph.subgraph": lambda: G.subgraph(STARTS, 3),
    "Graph.names": lambda: G.names(),
    "Graph pickled": lambda: len(pickle.dumps(G)),
})


def interrupted_at(call, delay):
    def handler(signum, frame):
        raise Stop

    previous = signal.signal(signal.SIGALRM, handler)
    # A collection started meanwhile runs the callbacks of gc.callbacks, and a
    # signal landing in one of those is reported as unraisable instead of
    # reaching the caller.
    gc.disable()
    try:
        signal.setitimer(signal.ITIMER_REAL, delay)
        try:
            call()
            # The call may have won the race: let the signal land here.
            time.sleep(delay + 0.05)
        except Stop:
            return True
        return False
    except Stop:
        return False
    finally:
        signal.setitimer(signal.ITIMER_REAL, 0)
        signal.signal(signal.SIGALRM, previous)
        gc.enable()


@pytest.mark.skipif(not hasattr(signal, "setitimer"), reason="needs interval timers")
@pytest.mark.parametrize("threads", [None, "2"], ids=["default", "concurrent"])
@pytest.mark.parametrize("name", list(CALLS))
def test_interrupted_at_every_stage(name, threads, monkeypatch):
    # In concurrent mode the edge list, long enough, is interned on a thread
    # of its own while this one reads it, and the core runs on threads.
    if threads is None:
        monkeypatch.delenv("LANTERNHOLLOW_GRAPH_THREADS", raising=False)
    else:
        monkeypatch.setenv("LANTERNHOLLOW_GRAPH_THREADS", threads)
    call = CALLS[name]
    t0 = time.perf_counter()
    expected = call()
    span = time.perf_counter() - t0
    stopped = 0
    for k in range(8):
        stopped += interrupted_at(call, span * (k + 0.5) / 8)
        gc.collect()
    assert stopped > 0
    assert call() == expected
