"""Arguments that change while they are converted. Python code can run in
the middle of a conversion: signal handlers (run by the interrupt check that
long conversions make), other threads while a handler waits, the caller's
__len__ and __index__. Whatever it does to the lists being read, the call
returns a result or raises, and the process lives on. A list that shrank is
read as far as it still goes, as its iterator would read it."""

import gc
import signal
import subprocess
import sys
import threading

import pytest

import lanternhollow_graph as lg

# Long enough that its conversion runs the interrupt check many times.
LENGTH = 1 << 20
PAIR = ("a", "b")
OTHER_PAIR = ("x", "y")

# (function, the call's arguments with the list to mutate in place of LIST)
LIST = object()
EDGE_CALLS = [
    (lg.pagerank, (LIST, 0.85, 2)),
    (lg.strongly_connected, (LIST,)),
    (lg.ancestors_at_depth, (LIST, "b", 2)),
    (lg.descendants_at_depth, (LIST, "a", 2)),
    (lg.betweenness, (LIST,)),
    (lg.sampled_betweenness, (LIST, 3, 1)),
    (lg.batch_ancestors, (LIST, ["b", "y"], 2)),
    (lg.batch_descendants, (LIST, ["a", "x"], 2)),
    (lg.subgraph, (LIST, ["a"], 1)),
]
NAME_CALLS = [
    (lg.batch_ancestors, ([PAIR, OTHER_PAIR], LIST, 2)),
    (lg.batch_descendants, ([PAIR, OTHER_PAIR], LIST, 2)),
    (lg.subgraph, ([PAIR, OTHER_PAIR], LIST, 1)),
]
CALLS = [("edges", fn, args) for fn, args in EDGE_CALLS] + [("names", fn, args) for fn, args in NAME_CALLS]


def mutations(kind):
    item = PAIR if kind == "edges" else "a"
    other = OTHER_PAIR if kind == "edges" else "x"
    return {
        "shrink": lambda seq: seq.__delitem__(slice(100, None)),
        "clear": lambda seq: seq.clear(),
        "extend": lambda seq: seq.extend([other] * 1000),
        "replace": lambda seq: seq.__setitem__(slice(None), [other] * (len(seq) // 2)),
        "grow_and_replace": lambda seq: seq.__setitem__(slice(None), [item, other] * len(seq)),
    }


def call_with(fn, args, seq):
    return fn(*[seq if a is LIST else a for a in args])


class TimerMutation:
    """Mutates the list once, from a signal handler that the interrupt
    check runs; with `thread`, the handler only waits while another Python
    thread does it."""

    def __init__(self, seq, mutate, thread):
        self.seq = seq
        self.mutate = mutate
        self.thread = thread
        self.done = False
        self.handled = 0
        if thread:
            self.go = threading.Event()
            self.finished = threading.Event()
            self.worker = threading.Thread(target=self.work, daemon=True)
            self.worker.start()

    def work(self):
        if self.go.wait(10):
            self.mutate(self.seq)
            self.finished.set()

    def handler(self, signum, frame):
        self.handled += 1
        if self.done:
            return
        self.done = True
        if self.thread:
            self.go.set()
            self.finished.wait(10)
        else:
            self.mutate(self.seq)

    def __enter__(self):
        # A signal that lands in a collector callback (a weakref's) is
        # reported there as unraisable, which the warning filters turn into
        # a failure: no collection runs while the timer is armed.
        self.gc_was_enabled = gc.isenabled()
        gc.disable()
        self.previous = signal.signal(signal.SIGALRM, self.handler)
        signal.setitimer(signal.ITIMER_REAL, 0.001, 0.001)
        return self

    def __exit__(self, *exc):
        signal.setitimer(signal.ITIMER_REAL, 0)
        signal.signal(signal.SIGALRM, self.previous)
        if self.thread:
            self.go.set()
            self.worker.join(10)
        if self.gc_was_enabled:
            gc.enable()


@pytest.mark.skipif(not hasattr(signal, "setitimer"), reason="needs interval timers")
@pytest.mark.parametrize("thread", [False, True], ids=["handler", "thread"])
@pytest.mark.parametrize("mutation", ["shrink", "clear", "extend", "replace", "grow_and_replace"])
@pytest.mark.parametrize("kind,fn,args", CALLS, ids=[f"{fn.__name__}-{kind}" for kind, fn, _ in CALLS])
def test_list_changed_during_conversion(kind, fn, args, mutation, thread):
    seq = [PAIR if kind == "edges" else "a"] * LENGTH
    expected_type = type(call_with(fn, args, [PAIR] if kind == "edges" else ["a"]))
    with TimerMutation(seq, mutations(kind)[mutation], thread) as timer:
        result = call_with(fn, args, seq)
    assert type(result) is expected_type
    assert timer.handled > 0


def run_script(code):
    return subprocess.run([sys.executable, "-c", code], capture_output=True, text=True, timeout=120)


@pytest.mark.skipif(not hasattr(signal, "setitimer"), reason="needs interval timers")
@pytest.mark.parametrize(
    "call",
    ["lg.strongly_connected(seq)", "lg.batch_descendants([('a', 'b')], seq, 1)"],
)
def test_cleared_by_a_one_shot_timer(call):
    # The form in which the fault was first seen, in a process of its own.
    item = "('a', 'b')" if call.startswith("lg.strongly") else "'a'"
    code = f"""
import signal, lanternhollow_graph as lg
seq = [{item}] * 3_000_000
signal.signal(signal.SIGALRM, lambda s, f: seq.clear())
signal.setitimer(signal.ITIMER_REAL, 0.02)
r = {call}
print(type(r).__name__)
"""
    done = run_script(code)
    assert done.returncode == 0, done.stderr
    assert done.stdout.strip() in ("list", "dict")


class ShrinkingLen(list):
    """A list subclass whose __len__ empties the list it reports on."""

    def __len__(self):
        n = super().__len__()
        self.clear()
        return n


class ClearingIndex:
    """A depth whose __index__ empties the lists converted before it."""

    def __init__(self, *lists):
        self.lists = lists

    def __index__(self):
        for seq in self.lists:
            seq.clear()
        return 2


def test_caller_code_that_empties_the_lists():
    edges = ShrinkingLen([PAIR, OTHER_PAIR])
    assert lg.descendants_at_depth(edges, "a", 1) == {}
    edges = [PAIR, OTHER_PAIR, ("b", "c")]
    names = ["a", "x"]
    # The lists were converted before the depth: the call sees them whole.
    assert lg.batch_descendants(edges, names, ClearingIndex(edges, names)) == {"a": {"b": 1, "c": 2}, "x": {"y": 1}}
    edges = [PAIR, ("b", "c")]
    seeds = ["a"]
    nodes, sub_edges = lg.subgraph(edges, seeds, ClearingIndex(edges, seeds))
    assert sorted(nodes) == ["a", "b", "c"] and len(sub_edges) == 2


@pytest.mark.skipif(not hasattr(signal, "setitimer"), reason="needs interval timers")
@pytest.mark.parametrize("threads", [None, "2"], ids=["default", "concurrent"])
@pytest.mark.parametrize("mutation", ["shrink", "clear", "replace", "grow_and_replace"])
def test_many_names_changed_during_conversion(mutation, threads, monkeypatch):
    # Past some 130,000 names the conversion reads the pairs ahead of the one
    # it converts, and their strs' cached hashes; the handler frees pairs
    # that nothing else holds. In concurrent mode another thread interns the
    # names that this one has read: it must be done with them before the
    # handler runs.
    if threads is None:
        monkeypatch.delenv("LANTERNHOLLOW_GRAPH_THREADS", raising=False)
    else:
        monkeypatch.setenv("LANTERNHOLLOW_GRAPH_THREADS", threads)
    seq = [(f"s{i}", f"t{i % 5000}") for i in range(400_000)]
    mutate = {
        "shrink": lambda s: s.__delitem__(slice(len(s) // 2, None)),
        "clear": lambda s: s.clear(),
        "replace": lambda s: s.__setitem__(slice(None), [(f"r{i}", "q") for i in range(len(s) // 2)]),
        "grow_and_replace": lambda s: s.__setitem__(slice(None), [(f"g{i}", str(i)) for i in range(2 * len(s))]),
    }[mutation]
    with TimerMutation(seq, mutate, False) as timer:
        components = lg.strongly_connected(seq)
    assert timer.handled > 0
    names = [name for component in components for name in component]
    assert len(names) == len(set(names))


def test_many_names_read_ahead():
    # Fresh strs (no cached hash yet) among cached ones, a str subclass and
    # a non-pair far into a long list: the reading ahead only reads.
    class Name(str):
        pass

    pairs = [(f"s{i}", f"t{i % 7000}") for i in range(300_000)]
    for pair in pairs[::3]:
        hash(pair[0])
    pairs[250_000] = (Name("s250000"), "t0")
    expected = {target: 1 for _, target in pairs if _ == "s299999"}
    assert lg.descendants_at_depth(pairs, "s299999", 1) == expected
    assert len(lg.pagerank(pairs, max_iter=1)) == 307_000
    pairs[290_000] = ("lonely",)
    with pytest.raises(ValueError, match="expected tuple of length 2, but got tuple of length 1"):
        lg.strongly_connected(pairs)
