"""Names in results are new strs owned by the caller: equal to the names of
the edge list, sharing no object with it or with another call's result,
whatever the conversion went through (one thread or two, a list changed or
freed by a signal handler halfway). A name that came as an instance of a str
subclass comes back as a plain str. Every call lets go of what it held."""

import gc
import signal
import sys

import pytest

import lanternhollow_graph as lg
from model.subgraph import subgraph as model_subgraph
from test_concurrent import interned_apart, mode  # noqa: F401 - fixtures, requested by name
from test_mutation import TimerMutation

testing = pytest.importorskip("_lanternhollow_graph_testing")

VARIABLE = "LANTERNHOLLOW_GRAPH_THREADS"


class Name(str):
    pass


def fresh(text):
    """A str of its own, equal to text but no other object."""
    return "".join(list(text))


def result_names(value):
    """Every str in a result, in order (dict keys included)."""
    if isinstance(value, str):
        yield value
    elif isinstance(value, dict):
        for key, item in value.items():
            yield key
            yield from result_names(item)
    elif isinstance(value, (list, tuple)):
        for item in value:
            yield from result_names(item)


def all_calls(m, edges, start):
    return [
        m.pagerank(edges, 0.85, 3),
        m.betweenness(edges),
        m.sampled_betweenness(edges, 2, 7),
        m.strongly_connected(edges),
        m.descendants_at_depth(edges, start, 9),
        m.ancestors_at_depth(edges, start, 9),
        m.batch_descendants(edges, [start], 9),
        m.batch_ancestors(edges, [start], 9),
        m.subgraph(edges, [start], 9),
    ]


def two_threads_apart(request):
    """Concurrent mode with two threads, and every edge list of the testing
    module's calls interned on a thread of its own, however short (the
    fixtures of test_concurrent, which restore both afterwards)."""
    request.getfixturevalue("interned_apart")
    request.getfixturevalue("mode")("2")


def cycle_edges(count):
    """A cycle through `count` names of their own, every name mentioned
    twice by distinct but equal strs; a few names are subclass instances,
    some not ASCII."""
    def name(i):
        text = f"n{i}" if i % 5 else f"ñ{i}"
        return Name(text) if i % 7 == 3 else fresh(text)

    return [(name(i), name((i + 1) % count)) for i in range(count)]


@pytest.mark.parametrize("path", ["one thread", "interned apart"])
def test_result_names_are_new_strs(path, request):
    if path == "interned apart":
        two_threads_apart(request)
    edges = cycle_edges(600)
    start = edges[0][0]
    given = {id(name) for pair in edges for name in pair} | {id(start)}
    names = {pair[0] for pair in edges}
    kept = [name for pair in edges for name in pair]
    before = [sys.getrefcount(name) for name in kept]
    for m in (lg, testing):
        first = all_calls(m, edges, start)
        second = all_calls(m, edges, start)
        assert first == second
        ids = []
        for results in (first, second):
            ids.append({id(name) for result in results for name in result_names(result)})
            for result in results:
                for name in result_names(result):
                    assert type(name) is str and name in names
        # No result shares a str with the edge list, nor with another call's
        # result (a subgraph's edges do share the strs of its node list).
        assert not ids[0] & given and not ids[1] & given
        assert not ids[0] & ids[1]
    del first, second
    gc.collect()
    assert [sys.getrefcount(name) for name in kept] == before


@pytest.mark.parametrize("path", ["one thread", "interned apart"])
def test_a_failed_call_lets_go_of_the_names(path, request):
    if path == "interned apart":
        two_threads_apart(request)
    edges = cycle_edges(3000)
    kept = [name for pair in edges for name in pair]
    before = [sys.getrefcount(name) for name in kept]
    for bad in [("a",), ("a", 1), 5]:
        with pytest.raises((TypeError, ValueError)):
            testing.pagerank(edges + [bad], 0.85, 1)
    with pytest.raises(TypeError):
        testing.pagerank(edges, "alpha", 1)  # after the edges were converted
    gc.collect()
    assert [sys.getrefcount(name) for name in kept] == before


@pytest.mark.skipif(not hasattr(signal, "setitimer"), reason="needs interval timers")
@pytest.mark.parametrize("threads", [None, "2"], ids=["one thread", "interned apart"])
@pytest.mark.parametrize("mutation", ["clear", "replace"])
@pytest.mark.parametrize("text", ["ascii", "not ascii"])
def test_names_freed_by_a_handler_stay_in_the_result(threads, mutation, text, monkeypatch):
    # The handler frees pairs whose strs nothing else holds, after their
    # names were numbered: the result still has them, unchanged. In
    # concurrent mode a list this long is interned on a thread of its own,
    # whether its names are ASCII or not (whose UTF-8 form the reading
    # thread makes as it goes).
    if threads is None:
        monkeypatch.delenv(VARIABLE, raising=False)
    else:
        monkeypatch.setenv(VARIABLE, threads)
    count = 300_000
    seq = [(f"s{i}", f"t{i % 5000}") for i in range(count)]
    if text == "not ascii":
        seq = [(f"s{i}é" if i % 2 else s, f"€{t}") for i, (s, t) in enumerate(seq)]
    change = {
        "clear": lambda s: s.clear(),
        "replace": lambda s: s.__setitem__(slice(None), [(f"r{i}", "q") for i in range(len(s) // 2)]),
    }[mutation]
    filler = []

    def mutate(s):
        # Then strs of the same size, kept to the end of the call, take the
        # memory of the freed ones: a name read from a freed str would read
        # as one of them.
        change(s)
        filler.extend(f"x{i}" for i in range(2 * count))

    with TimerMutation(seq, mutate, False) as timer:
        scores = lg.pagerank(seq, max_iter=0)
    assert timer.handled > 0
    names = list(scores)
    possible = {f"s{i}" for i in range(count)} | {f"t{i}" for i in range(5000)}
    possible |= {f"s{i}é" for i in range(count)} | {f"€t{i}" for i in range(5000)}
    possible |= {f"r{i}" for i in range(count)} | {"q"}
    assert len(set(names)) == len(names)
    assert all(type(name) is str and name in possible for name in names)
    if mutation == "clear":
        assert 0 < len(names) < count  # changed halfway through the conversion


def test_names_of_every_length_and_kind_come_back_exactly():
    # ASCII names are copied into their strs byte for byte and the others
    # decoded: a name that is ASCII but for one character, wherever that
    # character is, comes back as given, as do NULs and the empty name.
    names = ["", "\0", "a\0b", "x" * 64]
    names += ["a" * n for n in range(1, 20)]
    for n in range(1, 20):
        for odd in ("\x80", "é", "\u20ac", "\U0001f600"):
            names += ["a" * i + odd + "a" * (n - 1 - i) for i in range(n)]
    edges = [(names[i], names[(i + 1) % len(names)]) for i in range(len(names))]
    assert set(lg.pagerank(edges, max_iter=1)) == set(names)
    assert set(lg.descendants_at_depth(edges, "", len(names))) == set(names) - {""}
    batch = lg.batch_ancestors(edges, names[:50], len(names))
    assert list(batch) == list(dict.fromkeys(names[:50]))
    assert all(set(found) == set(names) - {start} for start, found in batch.items())
    (component,) = lg.strongly_connected(edges)
    assert sorted(component) == sorted(names)


@pytest.mark.parametrize("threads", [None, "2"], ids=["one thread", "interned apart"])
def test_runs_of_one_source_among_sources_alike(threads, mode, interned_apart):  # noqa: F811
    # Pairs grouped by source, as dependency lists come, where each source is
    # like the one before: same length, a prefix, one byte apart, a NUL
    # more, a subclass instance of an equal str. Every source is its own
    # node, or the same node as its equal, as the model has it.
    mode(threads)
    alike = ["", "\0", "a", "a\0", "ab", "b", "ba", "é", Name("a"), "a" * 40, "a" * 39 + "b", "a" * 40]
    edges = [(fresh(s) if type(s) is str else s, t) for s in alike for t in ("a", "", "ba", "q", "q")]
    assert lg.subgraph(edges, ["q"], 2) == model_subgraph(edges, ["q"], 2)
    assert lg.subgraph(edges, [""], 1) == model_subgraph(edges, [""], 1)


class OwnHash(str):
    """A str whose own hash differs from str's: a result holds str's."""

    def __hash__(self):
        return 7


@pytest.mark.parametrize("path", ["one thread", "interned apart"])
def test_result_names_hash_as_strs_of_their_text(path, request):
    # Result strs come with their hash cached, taken from the names they were
    # made from: it must be the hash that str gives their text anew, for
    # every kind of text and whatever the names came as.
    if path == "interned apart":
        two_threads_apart(request)
    texts = ["", "\0", "a", "pkg-1.2", "é", "ÿx", "\u20ac", "\U0001f600", "a" * 300, "é" * 300]
    edges = []
    for i, text in enumerate(texts):
        made = OwnHash(text) if i % 3 == 0 else fresh(text)
        edges.append((made, fresh(texts[(i + 1) % len(texts)])))
        edges.append((f"x{i}", made))
    start = edges[0][0]
    for m in (lg, testing):
        for result in all_calls(m, edges, start):
            for name in result_names(result):
                assert type(name) is str
                assert hash(name) == hash(fresh(name)), repr(name)
        scores = m.pagerank(edges, 0.85, 2)
        assert all(fresh(text) in scores for text in texts)


def too_wide(text, kind):
    """A str of `kind` bytes per character holding `text`, whose characters
    would fit a narrower one: the C API allows it (PyUnicode_New with its
    maximum rounded up), and str hashes such a str differently."""
    import ctypes

    new = ctypes.pythonapi.PyUnicode_New
    new.restype = ctypes.py_object
    new.argtypes = [ctypes.c_ssize_t, ctypes.c_uint32]
    made = new(len(text), 0xFFFF if kind == 2 else 0x10FFFF)
    units = text.encode("utf-16-le" if kind == 2 else "utf-32-le")
    # A compact str's characters end its object, followed by one more unit.
    offset = sys.getsizeof(made) - (len(text) + 1) * kind
    ctypes.memmove(id(made) + offset, units, len(units))
    return made


@pytest.mark.skipif(sys.implementation.name != "cpython", reason="builds strs through the C API")
@pytest.mark.parametrize("path", ["one thread", "interned apart"])
def test_strs_wider_than_their_text_are_their_text(path, request):
    # A name is its UTF-8 bytes: a too-wide str is the same name as the
    # str Python makes of its text, and the results' strs hash as that one.
    # The interpreter's shared one-character strs are left untouched.
    if path == "interned apart":
        two_threads_apart(request)
    before = {"é": 1, "€": 2, "": 3}
    wide = {text: too_wide(text, kind) for text, kind in [("abc", 2), ("é", 2), ("€x", 4), ("é", 4), ("", 2)]}
    assert wide["abc"] != "abc" and hash(wide["abc"]) != hash("abc")  # as the interpreter has them
    edges = [(wide["abc"], "b"), ("abc", "b"), (wide["é"], "é"), ("b", wide["€x"]), (wide[""], "€x"),
             ("z", too_wide("é", 4))]
    for m in (lg, testing):
        scores = m.pagerank(edges, 0.85, 2)
        assert sorted(scores) == sorted(["abc", "b", "é", "€x", "", "z"])
        for name in scores:
            assert hash(name) == hash(fresh(name)) and fresh(name) in scores
        assert m.descendants_at_depth(edges, "abc", 1) == {"b": 1}
        assert m.descendants_at_depth(edges, wide["abc"], 1) == {"b": 1}
        assert m.batch_descendants(edges, [wide["é"], "é"], 1) == {"é": {}}
    assert all(fresh(text) in before for text in before) and "é" in before and "" in before
    assert hash("é") == hash(fresh("é"))
