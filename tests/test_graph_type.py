"""The Graph type: a graph built once, whose methods return exactly what the
functions return on the same list, at every thread count, from many Python
threads at once; and the object protocol a person expects of it."""

import copy
import gc
import pickle
import random
import sys
import threading
import weakref

import pytest
from hypothesis import given, settings
from hypothesis import strategies as st

import lanternhollow_graph as lg
import model.graph
from exact import bits
from lanternhollow_graph_store import Graph
from strategies import NAME_POOL, edge_lists

testing = pytest.importorskip("_lanternhollow_graph_testing")

MAX = 2**64 - 1


def functions(edges, names):
    return [
        lg.pagerank(edges),
        lg.pagerank(edges, 1.0, 30),
        lg.pagerank(edges, 0.0, 3),
        lg.betweenness(edges),
        lg.betweenness(edges, False),
        lg.sampled_betweenness(edges, 5, 11),
        lg.sampled_betweenness(edges),
        lg.strongly_connected(edges),
        lg.ancestors_at_depth(edges, names[0], MAX),
        lg.ancestors_at_depth(edges, names[0], 0),
        lg.descendants_at_depth(edges, names[0], 2),
        lg.descendants_at_depth(edges, names[-1], MAX),
        lg.batch_ancestors(edges, names, 3),
        lg.batch_descendants(edges, names, MAX),
        lg.batch_descendants(edges, [], MAX),
        lg.subgraph(edges, names[:2]),
        lg.subgraph(edges, names, 1, False, True),
        lg.subgraph(edges, names, MAX, True, False),
        lg.subgraph(edges, names, 0),
    ]


def methods(g, names, threads):
    t = {"threads": threads}
    return [
        g.pagerank(**t),
        g.pagerank(1.0, 30, **t),
        g.pagerank(alpha=0.0, max_iter=3, **t),
        g.betweenness(**t),
        g.betweenness(False, **t),
        g.sampled_betweenness(5, 11, **t),
        g.sampled_betweenness(**t),
        g.strongly_connected(**t),
        g.ancestors_at_depth(names[0], **t),
        g.ancestors_at_depth(names[0], 0, **t),
        g.descendants_at_depth(names[0], 2, **t),
        g.descendants_at_depth(names[-1], None, **t),
        g.batch_ancestors(names, 3, **t),
        g.batch_descendants(names, **t),
        g.batch_descendants([], **t),
        g.subgraph(names[:2], **t),
        g.subgraph(names, 1, False, True, **t),
        g.subgraph(names, None, include_outgoing=False, **t),
        g.subgraph(names, 0, **t),
    ]


@pytest.fixture
def fine_grained():
    """Parallel paths for any graph in the testing module's copy of the type."""
    before = testing.set_parallel_tuning(1, 2, 3, 7, 0)
    yield
    testing.set_parallel_tuning(*before)


@settings(max_examples=150)
@given(edges=edge_lists(max_size=80), data=st.data())
def test_methods_return_what_the_functions_return(edges, data):
    nodes = list(dict.fromkeys(x for pair in edges for x in pair))
    if not nodes:
        return
    names = data.draw(st.lists(st.sampled_from(nodes), min_size=1, max_size=4))
    expected = bits(functions(edges, names))
    g = Graph(edges)
    assert bits(methods(g, names, None)) == expected
    before = testing.set_parallel_tuning(1, 2, 3, 5, 0)
    try:
        tg = testing.Graph(edges)
        for threads in (1, 2, 3):
            assert bits(methods(tg, names, threads)) == expected, threads
    finally:
        testing.set_parallel_tuning(*before)


@settings(max_examples=100)
@given(edges=edge_lists(max_size=60))
def test_the_graph_as_an_object_matches_the_store_model(edges):
    g = Graph(edges)
    m = model.graph.Graph(edges)
    assert g.names() == m.names
    assert len(g) == g.node_count == m.n
    assert g.edge_count == len(edges)
    for v, name in enumerate(m.names):
        assert name in g
        assert g.successors(name) == [m.names[t] for t in m.successors(v)]
        assert g.predecessors(name) == [m.names[s] for s in m.predecessors(v)]
        assert g.out_degree(name) == len(g.successors(name))
        assert g.in_degree(name) == len(g.predecessors(name))
    # Equal lists, equal graphs, however they were given.
    same = Graph(iter([list(pair) for pair in edges]))
    assert same == g and not (same != g) and hash(same) == hash(g)
    assert pickle.loads(pickle.dumps(g)) == g
    if edges:
        assert Graph(edges[:-1]) != g
        assert Graph(edges[::-1]) != g or edges == edges[::-1]


def test_the_object_protocol():
    edges = [("app", "web"), ("web", "http"), ("app", "db"), ("db", "db"), ("app", "web")]
    g = Graph(edges)
    assert repr(g) == "<Graph: 4 nodes, 5 edges>"
    assert g.successors("app") == ["web", "db", "web"]
    assert g.predecessors("db") == ["db", "app"]
    assert 3 not in g and "nope" not in g and "\ud800" not in g and None not in g
    assert g != [("app", "web")] and g != 3
    names_bytes = sum(len(n.encode()) for n in g.names())
    assert names_bytes < g.nbytes < names_bytes + 8192
    assert sys.getsizeof(g) > g.nbytes
    assert copy.copy(g) is g and copy.deepcopy(g) is g
    r = weakref.ref(g)
    assert r() is g
    del g
    gc.collect()
    assert r() is None
    empty = Graph([])
    assert len(empty) == 0 and empty.names() == [] and empty.pagerank() == {} and empty.strongly_connected() == []
    with pytest.raises(TypeError):
        Graph.pagerank = None
    with pytest.raises(AttributeError):
        empty.node_count = 3


class Tagged(Graph):
    def __init__(self, edges, tag=None):
        self.tag = tag

    def __new__(cls, edges, tag=None):
        return super().__new__(cls, edges)


class Slotted(Graph):
    __slots__ = ("x",)


def test_subclasses_keep_their_type_and_state():
    t = Tagged([("a", "b")], tag="x")
    assert t.tag == "x" and isinstance(t, Graph) and t == Graph([("a", "b")])
    assert repr(t) == "<Tagged: 2 nodes, 1 edges>"
    assert t.descendants_at_depth("a") == {"b": 1}
    # Copies and pickles keep the instance's own state, and share nothing
    # mutable with it; the graph itself is shared, never copied.
    t.seen = []
    t.me = t
    clone = pickle.loads(pickle.dumps(t))
    assert type(clone) is Tagged and clone.tag == "x" and clone.me is clone and clone == t
    deep = copy.deepcopy(t)
    assert deep.seen == [] and deep.seen is not t.seen and deep.me is deep and deep == t
    assert copy.copy(t).seen is t.seen
    # A cycle through the instance's dict is collected.
    r = weakref.ref(t)
    del t, clone, deep
    gc.collect()
    assert r() is None

    s = Slotted([("a", "b")])
    s.x = [1]
    assert pickle.loads(pickle.dumps(s)).x == [1] and copy.deepcopy(s).x is not s.x


def test_names_that_are_not_nodes_raise_key_error_with_the_nearest():
    g = Graph([("libc6", "gcc"), ("libc6-dev", "libc6"), ("python3", "libc6")])
    with pytest.raises(KeyError, match=r"'libc7' is not a node of this graph; did you mean 'libc6'\?"):
        g.ancestors_at_depth("libc7")
    with pytest.raises(KeyError, match=r"'zzz' is not a node of this graph\""):
        g.descendants_at_depth("zzz", 2)
    with pytest.raises(KeyError, match="'pyhton3'"):
        g.batch_descendants(["libc6", "pyhton3"])
    with pytest.raises(KeyError, match="'nope'"):
        g.subgraph(["gcc", "nope"])
    with pytest.raises(KeyError) as error:
        g.successors("li\nbc6")
    assert error.value.args[0] == "'li\\nbc6' is not a node of this graph; did you mean 'libc6'?"
    for call in (g.out_degree, g.in_degree, g.predecessors):
        with pytest.raises(KeyError):
            call("")

    class Loud(str):
        def __repr__(self):
            raise RuntimeError("a str's own repr ran")

    with pytest.raises(KeyError, match="'zz' is not a node of this graph"):
        g.descendants_at_depth(Loud("zz"))
    # Suggestions count characters, not bytes.
    with pytest.raises(KeyError, match="did you mean '日本'"):
        Graph([("日本", "x")]).ancestors_at_depth("日本語")


@pytest.mark.parametrize(
    "call, function",
    [
        (lambda g: g.pagerank("x"), lambda e: lg.pagerank(e, "x")),
        (lambda g: g.pagerank(max_iter=-1), lambda e: lg.pagerank(e, max_iter=-1)),
        (lambda g: g.betweenness(normalized=1), lambda e: lg.betweenness(e, normalized=1)),
        (lambda g: g.sampled_betweenness(1.5), lambda e: lg.sampled_betweenness(e, 1.5)),
        (lambda g: g.descendants_at_depth(3), lambda e: lg.descendants_at_depth(e, 3, 1)),
        (lambda g: g.descendants_at_depth("a", -1), lambda e: lg.descendants_at_depth(e, "a", -1)),
        (lambda g: g.ancestors_at_depth("a", "2"), lambda e: lg.ancestors_at_depth(e, "a", "2")),
        (lambda g: g.batch_ancestors("ab"), lambda e: lg.batch_ancestors(e, "ab", 1)),
        (lambda g: g.batch_ancestors([1]), lambda e: lg.batch_ancestors(e, [1], 1)),
        (lambda g: g.subgraph(["a"], include_incoming=None), lambda e: lg.subgraph(e, ["a"], include_incoming=None)),
        (lambda g: g.subgraph(["a"], 2**64), lambda e: lg.subgraph(e, ["a"], 2**64)),
    ],
)
def test_bad_arguments_raise_what_the_function_raises(call, function):
    edges = [("a", "b")]
    with pytest.raises(Exception) as method_error:
        call(Graph(edges))
    with pytest.raises(Exception) as function_error:
        function(edges)
    assert type(method_error.value) is type(function_error.value)
    assert str(method_error.value) == str(function_error.value)


def test_bad_arguments_are_reported_before_names_that_are_not_nodes():
    g = Graph([("a", "b")])
    with pytest.raises(OverflowError):
        g.descendants_at_depth("zz", -1)
    with pytest.raises(ValueError):
        g.ancestors_at_depth("zz", threads=-1)
    with pytest.raises(TypeError, match="include_incoming"):
        g.subgraph(["zz"], 1, "no")
    with pytest.raises(OverflowError):
        g.batch_ancestors(["zz"], -2)
    with pytest.raises(OverflowError):
        g.why_all("zz", "a", -1)


def test_bad_calls_and_thread_counts():
    g = Graph([("a", "b")])
    with pytest.raises(TypeError, match=r"Graph.pagerank\(\) takes from 0 to 2 positional arguments but 3 were given"):
        g.pagerank(0.85, 10, 2)
    with pytest.raises(TypeError, match="unexpected keyword argument 'edges'"):
        g.strongly_connected(edges=[])
    with pytest.raises(TypeError, match="missing 1 required positional argument: 'source'"):
        g.descendants_at_depth()
    for bad, error in ((-1, ValueError), (-(2**70), ValueError), ("2", TypeError), (1.0, TypeError)):
        with pytest.raises(error, match="threads must be None"):
            g.pagerank(threads=bad)
    assert g.pagerank(threads=2**70) == g.pagerank(threads=0) == g.pagerank(threads=True)


@pytest.mark.parametrize(
    "edges, message",
    [
        ([("a", "b"), ("c",)], r"edges\[1\] is not a \(source, target\) pair of str: too few items, got \('c',\) \(tuple\)"),
        ([("a", "b", "c")], r"edges\[0\] is not a \(source, target\) pair of str: too many items"),
        ([("a", "b"), ("c", "d"), 7], r"edges\[2\] is not .*not a tuple or list, got 7 \(int\)"),
        ([["a", 1]], r"edges\[0\] is not .*a name that is not a str, got \['a', 1\] \(list\)"),
        ((p for p in [("a", "b"), "ab"]), r"edges\[1\] is not .*got 'ab' \(str\)"),
        ([("x" * 500, 1)], r"got \('xxxx+\.\.\. \(tuple\)"),
        ("ab", "edges must be an iterable of .* not str"),
        (5, "edges must be an iterable of .* not int"),
    ],
)
def test_bad_pairs_name_their_index_and_what_they_were(edges, message):
    with pytest.raises(TypeError, match=message):
        Graph(edges)


def test_pairs_from_any_iterable_number_nodes_as_the_functions_do():
    edges = [("b", "a"), ("a", "c"), ("c", "b"), ("d", "d")]
    by_list = Graph(edges)
    for given_as in (tuple(edges), iter(edges), (list(p) for p in edges), {p: 1 for p in edges}):
        g = Graph(given_as)
        assert g == by_list and g.names() == ["b", "a", "c", "d"]
        assert bits(g.pagerank()) == bits(lg.pagerank(edges))


def test_many_threads_query_one_graph():
    rng = random.Random(5)
    names = [f"n{i}" for i in range(400)] + NAME_POOL
    edges = [(rng.choice(names), rng.choice(names)) for _ in range(3000)]
    g = Graph(edges)
    starts = [rng.choice(g.names()) for _ in range(60)]

    def answers():
        return [
            (g.descendants_at_depth(s, 3), g.ancestors_at_depth(s), g.subgraph([s], 1), g.batch_ancestors(starts[:5]))
            for s in starts
        ] + [bits(g.pagerank(max_iter=20)), bits(g.sampled_betweenness(20))]

    alone = answers()
    results = [None] * 8
    errors = []

    def run(k):
        try:
            results[k] = answers()
        except BaseException as e:  # noqa: BLE001 - reported below
            errors.append(e)

    threads = [threading.Thread(target=run, args=(k,)) for k in range(8)]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    assert not errors
    assert all(r == alone for r in results)


def test_a_graph_dropped_elsewhere_lives_until_its_query_ends():
    rng = random.Random(9)
    edges = [(f"v{rng.randrange(20000)}", f"v{rng.randrange(20000)}") for _ in range(120_000)]
    holder = {"small": Graph(edges[:3000]), "big": Graph(edges)}
    result = {}
    started = threading.Event()

    def query():
        # The bound methods' references are all that is left once the
        # other thread drops the holder's.
        small, big = holder["small"].betweenness, holder["big"].descendants_at_depth
        started.set()
        result["small"] = bits(small(threads=2))
        result["big"] = big("v1")

    t = threading.Thread(target=query)
    t.start()
    started.wait()
    holder.clear()
    gc.collect()
    t.join()
    assert result["small"] == bits(lg.betweenness(edges[:3000]))
    assert result["big"] == lg.descendants_at_depth(edges, "v1", MAX)


def test_queries_leave_no_marks_behind():
    # A query that the interrupt check ends must still clear what it marked:
    # the next query on the same graph then finds everything again.
    edges = [(f"v{i}", f"v{i + 1}") for i in range(200_000)]
    g = Graph(edges)

    def interrupt():
        raise KeyboardInterrupt

    import signal

    old = signal.signal(signal.SIGALRM, lambda *a: interrupt())
    try:
        signal.setitimer(signal.ITIMER_REAL, 0.001)
        try:
            for _ in range(50):
                g.descendants_at_depth("v0")
        except KeyboardInterrupt:
            pass
    finally:
        signal.setitimer(signal.ITIMER_REAL, 0)
        signal.signal(signal.SIGALRM, old)
    assert len(g.descendants_at_depth("v0")) == 200_000
    assert g.subgraph(["v5"], 1) == (["v5", "v6", "v4"], [("v4", "v5"), ("v5", "v6")])


def test_names_kept_between_queries_outlive_the_graph():
    # A built graph hands out the same str for a name to every query that
    # returns part of it; results stay sound when the graph goes.
    g = Graph([("a", "b"), ("a", "c\u00e9"), ("b", "c\u00e9"), ("", "a")])
    first = g.descendants_at_depth("a", 2)
    again = g.descendants_at_depth("a", 2)
    assert first == again == {"b": 1, "c\u00e9": 1}
    assert [k is j for k, j in zip(first, again)] == [True, True]
    succ = g.successors("a")
    size = g.__sizeof__()
    del g
    gc.collect()
    assert succ == ["c\u00e9", "b"] and [hash(x) for x in succ] == [hash("c\u00e9"), hash("b")]
    assert size > 0 and list(first) == ["c\u00e9", "b"]
