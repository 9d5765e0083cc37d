"""Concurrent mode: LANTERNHOLLOW_GRAPH_THREADS set, the core of each call
runs with the interpreter lock released, on up to that many threads. Every
result keeps its bits at every thread count; other Python threads run
meanwhile; Ctrl-C still ends a long call; a failure in a worker reaches the
caller; no thread outlives a call. Unset, nothing of this happens."""

import math
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

import lanternhollow_graph as lg
import model.betweenness
import model.pagerank
from strategies import NAME_POOL, edge_lists

testing = pytest.importorskip("_lanternhollow_graph_testing")

VARIABLE = "LANTERNHOLLOW_GRAPH_THREADS"
MAX = 2**64 - 1


def set_threads(value):
    if value is None:
        os.environ.pop(VARIABLE, None)
    else:
        os.environ[VARIABLE] = value


@pytest.fixture
def mode():
    """Sets the variable for the test and restores it afterwards."""
    before = os.environ.get(VARIABLE)
    yield set_threads
    set_threads(before)


@pytest.fixture
def fine_grained():
    """Parallel paths for any graph: threads for the least work, PageRank
    blocks of four nodes, betweenness windows of three chunks that are
    added so far once they hold seven entries."""
    before = testing.set_parallel_tuning(1, 2, 3, 7, 0)
    yield
    testing.set_parallel_tuning(*before)


def bits(value):
    """Results with every float as its exact bits, for == comparisons."""
    if isinstance(value, float):
        return value.hex() if not math.isnan(value) else "nan"
    if isinstance(value, dict):
        return {k: bits(v) for k, v in value.items()}
    if isinstance(value, (list, tuple)):
        return type(value)(bits(v) for v in value)
    return value


def all_nine(edges, names, m=lg):
    """Every function on one graph; m=testing runs the same boundary and
    cores with the testing module's (lowered) thresholds."""
    return [
        m.pagerank(edges, 0.85, 12),
        m.pagerank(edges, 1.0, 30),
        m.betweenness(edges),
        m.betweenness(edges, False),
        m.sampled_betweenness(edges, 5, 11),
        m.strongly_connected(edges),
        m.ancestors_at_depth(edges, names[0], MAX),
        m.descendants_at_depth(edges, names[0], 2),
        m.batch_ancestors(edges, names, 3),
        m.batch_descendants(edges, names, MAX),
        m.subgraph(edges, names[:2], 1),
    ]


THREAD_COUNTS = [None, "1", "2", "3", "7"]


@settings(max_examples=60)
@given(edges=edge_lists(max_size=80), names=st.lists(st.sampled_from(NAME_POOL), min_size=1, max_size=4))
def test_every_thread_count_gives_the_same_bits(edges, names):
    before = os.environ.get(VARIABLE)
    tuning = testing.set_parallel_tuning(1, 2, 3, 5, 0)
    try:
        set_threads(None)
        default = bits(all_nine(edges, names))
        for threads in THREAD_COUNTS:
            set_threads(threads)
            assert bits(all_nine(edges, names, testing)) == default, threads
        results = {None: default}
        # And the default mode is the literal order.
        assert results[None][0] == bits(model.pagerank.pagerank(edges, 0.85, 12))
        assert results[None][2] == bits(model.betweenness.betweenness(edges))
        assert results[None][4] == bits(model.betweenness.sampled_betweenness(edges, 5, 11))
    finally:
        testing.set_parallel_tuning(*tuning)
        set_threads(before)


class Name(str):
    pass


class Pair(tuple):
    pass


def mixed_pairs(count):
    """Pairs that a long conversion hands to its interning thread (tuples of
    ASCII strs, most with no hash cached yet, a few empty or kilobytes long,
    some longer than a batch holds) among pairs that it converts only once
    that thread is idle: non-ASCII names, str and tuple subclasses."""
    pairs = []
    for i in range(count):
        source, target = f"n{i % 3001}", f"n{(i * 7) % 2999}"
        if i % 389 == 1:
            source = str(i % 5) * (3000 + 5000 * (i % 5))
        if i % 1201 == 2:
            target = ""
        if i % 997 == 5:
            source = f"\u00fc{i % 11}"
        if i % 1499 == 7:
            target = Name(target)
        pair = (source, target)
        if i % 1777 == 9:
            pair = Pair(pair)
        pairs.append(pair)
    return pairs


@pytest.fixture
def interned_apart():
    """Every edge list of a call in concurrent mode with two threads or more
    is interned on a thread of its own, however short."""
    before = testing.set_parallel_tuning(1, 13, 0, 0, 0)
    yield
    testing.set_parallel_tuning(*before)


@pytest.mark.parametrize("threads", ["2", "3"])
def test_edge_lists_interned_apart_give_the_same_graph(mode, interned_apart, threads):
    pairs = mixed_pairs(20_000)
    calls = [
        lambda m: bits(m.pagerank(pairs, 0.85, 5)),
        lambda m: m.subgraph(pairs, ["n1"], 2),  # nodes in the order of their first mention
        lambda m: m.strongly_connected(pairs),
        lambda m: m.descendants_at_depth(pairs[:3000], "n5", 3),
    ]
    mode(None)
    expected = [call(lg) for call in calls]
    mode(threads)
    assert [call(testing) for call in calls] == expected


@pytest.mark.parametrize("threads", ["2", "3"])
def test_edge_lists_interned_apart_fail_at_the_first_failing_item(mode, interned_apart, threads):
    mode(threads)
    pairs = [(f"a{i}", f"b{i}") for i in range(10_000)]
    limited = testing.descendants_with_index_limit
    # The name limit is reached at pair 2,500, on the interning thread; the
    # bad pair after it is never the error, the bad pair before it always is.
    pairs[9_000] = ("x", 5)
    with pytest.raises(BaseException, match="^node index space exhausted: too many distinct names$") as caught:
        limited(pairs, "a0", 5, 5_000)
    assert type(caught.value).__name__ == "PanicException"
    pairs[1_000] = ("y", 7)
    with pytest.raises(TypeError, match="'int' object cannot be converted to 'PyString'"):
        limited(pairs, "a0", 5, 5_000)
    loops = [("a", "b")] * 10_000
    loops[9_000] = ("a",)
    with pytest.raises(BaseException, match="^edge index space exhausted: too many edges$"):
        limited(loops, "a", 5, 5_000)
    loops[4_000] = ("a",)
    with pytest.raises(ValueError, match="expected tuple of length 2"):
        limited(loops, "a", 5, 5_000)
    # Below the limits, the answer of the default mode.
    assert limited(pairs[:900], "a0", 5, 5_000) == {"b0": 1}


def random_graph(seed, n, m, dangling_share=0.3):
    rng = random.Random(seed)
    names = [f"v{i}" for i in range(n)]
    sources = [v for v in names if rng.random() > dangling_share] or names[:1]
    edges = [(rng.choice(sources), rng.choice(names)) for _ in range(m)]
    edges += [(s, s) for s in rng.sample(sources, min(5, len(sources)))]
    edges += edges[: m // 20]
    rng.shuffle(edges)
    return edges


@pytest.mark.parametrize("threads", ["2", "3", "7"])
@pytest.mark.parametrize("alpha,max_iter", [(0.85, 20), (1.0, 300), (0.5, 8), (1e-300, 5), (1.5, 6)])
def test_pagerank_blocks_on_threads_match_the_literal_order(mode, fine_grained, threads, alpha, max_iter):
    edges = random_graph(7, 400, 900)
    expected = bits(testing.pagerank_literal(edges, alpha, max_iter))
    mode(threads)
    assert bits(testing.pagerank(edges, alpha, max_iter)) == expected
    # With one table at a time per thread, tables turn over inside blocks.
    assert bits(testing.pagerank_with_tables(edges, alpha, max_iter, 1)) == expected


@pytest.mark.parametrize("window,slot", [(1, 0), (2, 1), (5, 0), (0, 0), (1, 30), (3, 200)])
@pytest.mark.parametrize("threads", ["2", "3", "7"])
def test_betweenness_windows(mode, threads, window, slot):
    # Chunks queue up behind a slow merge when the window is small, and full
    # chunks wait for every earlier one before they are added so far.
    before = testing.set_parallel_tuning(1, 13, window, slot, 0)
    try:
        edges = random_graph(3, 150, 500)
        mode(None)
        exact = bits(lg.betweenness(edges))
        sampled = bits(lg.sampled_betweenness(edges, 40, 9, False))
        mode(threads)
        assert bits(testing.betweenness(edges)) == exact
        assert bits(testing.sampled_betweenness(edges, 40, 9, False)) == sampled
    finally:
        testing.set_parallel_tuning(*before)


@pytest.mark.slow
@pytest.mark.parametrize("threads", ["2", "0"])
def test_debian_graph(mode, threads):
    root = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
    sys.path.insert(0, root)
    from bench.data import DEBIAN, debian_edges

    if not os.path.exists(DEBIAN):
        pytest.skip("no shared benchmark data")
    edges = debian_edges()
    mode(None)
    expected = [bits(lg.pagerank(edges)), bits(lg.sampled_betweenness(edges, 300))]
    mode(threads)
    assert [bits(lg.pagerank(edges)), bits(lg.sampled_betweenness(edges, 300))] == expected


# --- the switch -----------------------------------------------------------------


def run_child(code, env_value, *args):
    env = dict(os.environ)
    env.pop(VARIABLE, None)
    if env_value is not None:
        env[VARIABLE] = env_value
    return subprocess.run([sys.executable, "-c", code, *args], capture_output=True, text=True, timeout=120, env=env)


WARN_CHILD = r"""
import warnings, lanternhollow_graph as lg
with warnings.catch_warnings(record=True) as caught:
    warnings.simplefilter("always")
    for _ in range(3):
        assert lg.pagerank([("a", "b")], 0.85, 1) == {"a": 0.2875, "b": 0.7125}
print(len(caught), caught[0].category.__name__ if caught else "-", str(caught[0].message) if caught else "")
with warnings.catch_warnings():
    warnings.simplefilter("error")
    lg.pagerank([("a", "b")])
print("ok")
"""


@pytest.mark.parametrize("value", ["two", "-1", "2.5", " 2", "1e3", "+2", "0x10"])
def test_a_value_that_is_not_a_count_warns_once(value):
    done = run_child(WARN_CHILD, value)
    assert done.returncode == 0, done.stderr
    count, category, message = done.stdout.splitlines()[0].split(" ", 2)
    assert (count, category) == ("1", "RuntimeWarning")
    assert VARIABLE in message and repr(value) in message
    assert done.stdout.splitlines()[1] == "ok"


def test_a_warning_made_an_error_does_not_fail_the_call():
    code = "import warnings, lanternhollow_graph as lg\nwarnings.simplefilter('error')\nprint(lg.strongly_connected([('a','b'),('b','a')]))"
    done = run_child(code, "many")
    assert done.returncode == 0, done.stderr
    assert done.stdout.strip() == "[['a', 'b']]"
    # Not lost either: reported as an exception that could not be raised.
    assert "RuntimeWarning" in done.stderr and VARIABLE in done.stderr


@pytest.mark.parametrize("value", ["0000000000000000002", "18446744073709551615", "300", "007"])
def test_any_decimal_count_is_a_count(value):
    done = run_child(WARN_CHILD, value)
    assert done.returncode == 0, done.stderr
    assert done.stdout.splitlines()[0].split(" ", 1)[0] == "0"


def native_threads():
    return len(os.listdir("/proc/self/task"))


THREAD_COUNT_CHILD = r"""
import lanternhollow_graph as lg
import _lanternhollow_graph_testing as t
t.set_parallel_tuning(1, 4, 0, 0, 0)
names = [f"n{i}" for i in range(3000)]
edges = [(names[i], names[(i * 7 + 1) % 3000]) for i in range(3000)] + [(names[i], names[(i * 13 + 5) % 3000]) for i in range(3000)]
seen = []
signal.signal(signal.SIGALRM, lambda s, f: seen.append(len(os.listdir("/proc/self/task"))))
before = len(os.listdir("/proc/self/task"))
signal.setitimer(signal.ITIMER_REAL, 0.005, 0.005)
t.betweenness(edges)
t.pagerank(edges, 0.85, 3000)
signal.setitimer(signal.ITIMER_REAL, 0)
print(before, max(seen), len(os.listdir("/proc/self/task")))
"""


# The fork scripts' parent and child write lines to the pipe they share:
# each line goes in one write, since a buffered print (PYTHONUNBUFFERED
# included) could be split around the other's line.
SAY = r"""
import os
def say(line):
    os.write(1, (line + "\n").encode())
"""

FORK_CORE_CHILD = SAY + r"""
import os, signal, sys, time, warnings
import lanternhollow_graph as lg
warnings.simplefilter("ignore", DeprecationWarning)
which, then = sys.argv[1], sys.argv[2]
random = __import__("random").Random(5)
if which == "pagerank":
    edges = [(f"c{i}", f"c{(i * 7919 + 1) % 60_000}") for i in range(240_000)]
    call = lambda: lg.pagerank(edges, max_iter=600)
else:
    # Through the testing module, one chunk of sources at a time: the other
    # thread is nearly always waiting for its turn when the handler forks.
    import _lanternhollow_graph_testing as testing
    testing.set_parallel_tuning(1, 13, 1, 0, 0)
    edges = [(f"c{random.randrange(5000)}", f"c{random.randrange(5000)}") for _ in range(20_000)]
    call = lambda: testing.betweenness(edges)
threads = os.environ.pop("LANTERNHOLLOW_GRAPH_THREADS")
expected = call()
os.environ["LANTERNHOLLOW_GRAPH_THREADS"] = threads
child = None
def handler(signum, frame):
    global child
    if child is None:
        child = os.fork()
        if child == 0 and then == "raise":
            raise KeyboardInterrupt
signal.signal(signal.SIGALRM, handler)
start = time.perf_counter()
call()
duration = time.perf_counter() - start
# Well inside the core, which takes nearly all of the call; a fork each time.
# A call that ends before its timer (a busy machine ran the timed call
# slowly) forked nothing: it is made again, with the timer earlier.
for when in (0.25, 0.5):
    for attempt in range(5):
        child = None
        signal.setitimer(signal.ITIMER_REAL, duration * when / 2**attempt)
        try:
            got = "same" if call() == expected else "different"
        except KeyboardInterrupt:
            got = "interrupted"
        except BaseException as e:
            got = type(e).__name__
        signal.setitimer(signal.ITIMER_REAL, 0)
        if child is not None:
            break
    if child == 0:
        say(f"child {got}")
        os._exit(0)
    say(f"parent {got}")
    if child is not None:
        deadline = time.monotonic() + 30
        while time.monotonic() < deadline:
            pid, status = os.waitpid(child, os.WNOHANG)
            if pid:
                say(f"child exit {os.waitstatus_to_exitcode(status)}")
                break
            time.sleep(0.05)
        else:
            os.kill(child, signal.SIGKILL)
            say("child hangs")
"""


@pytest.mark.skipif(not hasattr(os, "fork") or not hasattr(signal, "setitimer"), reason="needs fork and timers")
@pytest.mark.parametrize("then", ["continue", "raise"])
@pytest.mark.parametrize("which", ["pagerank", "betweenness"])
def test_a_handler_forks_while_a_core_runs_on_two_threads(which, then):
    # The child has the calling thread alone: the other workers' share of
    # the work is lost, so the call cannot finish there. It fails (or ends
    # with the handler's own exception) instead of waiting for ever.
    done = run_child(FORK_CORE_CHILD, "2", which, then)
    assert done.returncode == 0, done.stderr
    lines = [line for line in done.stdout.split("\n") if line]
    outcome = "child PanicException" if then == "continue" else "child interrupted"
    assert lines.count("parent same") == 2 and lines.count("child exit 0") == 2, lines
    # On a busy machine a fork may still fall outside the threads' part of
    # the call (conversion, result): that child finishes the call itself.
    children = [line for line in lines if line.startswith("child ") and line != "child exit 0"]
    assert len(children) == 2 and set(children) <= {outcome, "child same"} and outcome in children, lines
    if then == "continue":
        assert "the process forked during a call on several threads" in done.stderr


@pytest.mark.skipif(not os.path.isdir("/proc/self/task"), reason="counts threads in /proc")
@pytest.mark.parametrize("value", [None, "", "3"])
def test_threads_started_only_in_concurrent_mode_and_none_outlives_a_call(value):
    done = run_child("import os, signal, sys\n" + THREAD_COUNT_CHILD, value)
    assert done.returncode == 0, done.stderr
    before, during, after = map(int, done.stdout.split())
    assert after == before
    if value in (None, ""):
        assert during == before
    else:
        assert during > before


NESTED_CHILD = r"""
import os, signal, struct, sys
import lanternhollow_graph as lg
inner_name = sys.argv[1]
# Large enough for threads: the outer call spends most of its time with the
# lock released, taking it back every few milliseconds to run the handler.
outer = [(f"n{i}", f"n{(i * 7 + 1) % 60000}") for i in range(120000)]
# Long enough for its conversion to run the interrupt check.
inner_edges = [(f"s{i}", f"s{(i * 3 + 1) % 5000}") for i in range(9000)]
inner = {"strongly_connected": lambda: lg.strongly_connected(inner_edges),
         "pagerank": lambda: lg.pagerank(inner_edges, 0.85, 30),
         "betweenness": lambda: lg.betweenness(inner_edges[:3000])}[inner_name]
def bits(r):
    return [struct.pack("<d", v).hex() for v in r.values()] if isinstance(r, dict) else r
expected_inner = bits(inner())
expected_outer = bits(lg.pagerank(outer, 0.85, 60))
seen = []
running = []
def handler(signum, frame):
    # An inner call slower than the timer's interval (a sanitizer's build
    # on a busy machine) runs the next alarm's handler itself: that one
    # returns at once, or the handlers would nest without end.
    if running:
        return
    running.append(True)
    try:
        seen.append(bits(inner()) == expected_inner)
    finally:
        running.pop()
signal.signal(signal.SIGALRM, handler)
signal.setitimer(signal.ITIMER_REAL, 0.03, 0.02)
got = bits(lg.pagerank(outer, 0.85, 60))
signal.setitimer(signal.ITIMER_REAL, 0)
print(len(seen) > 0, all(seen), got == expected_outer)
"""


@pytest.mark.parametrize("threads", [None, "1", "2", "3"])
@pytest.mark.parametrize("inner", ["strongly_connected", "pagerank", "betweenness"])
def test_a_handler_calls_the_module_while_a_call_has_released_the_lock(threads, inner):
    # The handler runs while the outer call has taken the lock back to poll;
    # the inner call's own checks must not try to take it again.
    done = run_child(NESTED_CHILD, threads, inner)
    assert done.returncode == 0, done.stderr
    assert done.stdout.split() == ["True", "True", "True"]


FORK_CHILD = SAY + r"""
import os, signal, sys, warnings
import lanternhollow_graph as lg
# Forking with the interning thread running is what CPython warns about.
warnings.simplefilter("ignore", DeprecationWarning)
then = sys.argv[1]
edges = [(f"c{i}", f"c{i + 1}") for i in range(300_000)]
expected = {f"c{i}": i for i in range(1, 6)}
child = None
def handler(signum, frame):
    global child
    if child is None:
        child = os.fork()
        if child == 0 and then == "raise":
            raise KeyboardInterrupt
signal.signal(signal.SIGALRM, handler)
# Several one-shot tries, each landing in the conversion or not.
for delay in (0.002, 0.005, 0.01, 0.02, 0.04):
    signal.setitimer(signal.ITIMER_REAL, delay)
    try:
        got = "same" if lg.descendants_at_depth(edges, "c0", 5) == expected else "different"
    except KeyboardInterrupt:
        got = "interrupted"
    signal.setitimer(signal.ITIMER_REAL, 0)
    if child == 0:
        say(f"child {got}")
        os._exit(0)
    if child is not None:
        break
say(f"parent {got}")
if child is not None:
    pid, status = os.waitpid(child, 0)
    say(f"child exit {os.waitstatus_to_exitcode(status)}")
"""


@pytest.mark.skipif(not hasattr(os, "fork") or not hasattr(signal, "setitimer"), reason="needs fork and timers")
@pytest.mark.parametrize("then", ["continue", "raise"])
def test_a_handler_forks_during_a_conversion_on_two_threads(then):
    # The child has no interning thread: it must go on without it, and
    # neither wait for it nor join it.
    done = run_child(FORK_CHILD, "2", then)
    assert done.returncode == 0, done.stderr
    lines = sorted(done.stdout.split("\n"))
    assert "parent same" in lines
    assert "child exit 0" in lines
    assert ("child same" if then == "continue" else "child interrupted") in lines


@pytest.mark.skipif(not os.path.isdir("/proc/self/task"), reason="counts threads in /proc")
@pytest.mark.parametrize("cpus", [1, 2])
def test_zero_means_every_usable_cpu(cpus):
    if len(os.sched_getaffinity(0)) < cpus:
        pytest.skip(f"needs {cpus} CPUs")
    pin = f"os.sched_setaffinity(0, sorted(os.sched_getaffinity(0))[:{cpus}])\n"
    done = run_child("import os, signal, sys\n" + pin + THREAD_COUNT_CHILD, "0")
    assert done.returncode == 0, done.stderr
    before, during, after = map(int, done.stdout.split())
    assert during == before + cpus - 1 and after == before


# --- the lock, Ctrl-C and failures ------------------------------------------------


def largest_gap_during(call):
    """The longest stretch, during call(), in which another Python thread
    made no progress, and the call's duration."""
    stamps = []
    stop = threading.Event()

    def spin():
        while not stop.is_set():
            stamps.append(time.perf_counter())

    other = threading.Thread(target=spin)
    other.start()
    time.sleep(0.05)
    start = time.perf_counter()
    call()
    end = time.perf_counter()
    stop.set()
    other.join()
    inside = [start] + [t for t in stamps if start <= t <= end] + [end]
    return max(b - a for a, b in zip(inside, inside[1:])), end - start


@pytest.mark.parametrize("threads", [None, "1", "2"])
def test_other_python_threads_run_only_in_concurrent_mode(mode, threads):
    edges = random_graph(11, 3000, 12000, 0.1)
    mode(threads)
    gap, duration = largest_gap_during(lambda: lg.betweenness(edges))
    if threads is None:
        assert gap > 0.8 * duration
    else:
        assert gap < 0.5 * duration


# The default mode's Ctrl-C test, run with the variable set.
from test_reliability import interrupt_child  # noqa: E402


@pytest.mark.parametrize("which", ["pagerank", "betweenness"])
@pytest.mark.parametrize("threads", ["1", "2"])
def test_ctrl_c_in_concurrent_mode(which, threads):
    latency = interrupt_child(which, env=dict(os.environ, **{VARIABLE: threads}))
    print(f"{which} on {threads} threads: interrupted {latency * 1e3:.1f} ms after SIGINT")


@pytest.mark.parametrize("call", ["pagerank", "betweenness", "sampled"])
def test_memory_error_in_a_worker_reaches_the_caller(mode, call):
    edges = random_graph(5, 200, 600)
    calls = {
        "pagerank": lambda: testing.pagerank(edges, 0.85, 5),
        "betweenness": lambda: testing.betweenness(edges),
        "sampled": lambda: testing.sampled_betweenness(edges, 50, 1),
    }
    mode(None)
    expected = bits(calls[call]())
    mode("3")
    before = testing.set_parallel_tuning(1, 2, 0, 0, 2)
    try:
        with pytest.raises(MemoryError):
            calls[call]()
    finally:
        testing.set_parallel_tuning(*before)
    assert bits(calls[call]()) == expected


def test_eight_threads_calling_everything(mode, fine_grained):
    rng = random.Random(8)
    cases = []
    for k in range(6):
        edges = random_graph(k, rng.randint(5, 60), rng.randint(5, 150))
        names = [edges[0][0], edges[-1][1], "absent"]
        cases.append((edges, names))
    mode(None)
    expected = [bits(all_nine(e, n)) for e, n in cases]
    mode("3")
    failures = []
    stop = time.monotonic() + float(os.environ.get("LHG_THREAD_SECONDS", "5"))

    def worker(k):
        order = list(range(len(cases)))
        random.Random(k).shuffle(order)
        while time.monotonic() < stop:
            for i in order:
                if bits(all_nine(*cases[i], testing)) != expected[i]:
                    failures.append((k, i))

    threads = [threading.Thread(target=worker, args=(k,)) for k in range(8)]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    assert not failures
