"""Exact and sampled betweenness against the literal model, bit for bit."""

import math

import pytest
from hypothesis import given
from hypothesis import strategies as st

import lanternhollow_graph as lg
from model import betweenness as model
from strategies import edge_lists

# Few names and many edges: long, branching shortest paths with many ties.
dense_names = st.sampled_from("abcdefg")
dense_edge_lists = st.lists(st.tuples(dense_names, dense_names), min_size=8, max_size=60)
any_edge_lists = st.one_of(edge_lists(), dense_edge_lists)
seeds = st.one_of(st.integers(0, 2**64 - 1), st.sampled_from([0, 1, 42, 2**63, 2**64 - 1]))
sample_sizes = st.one_of(st.integers(0, 12), st.sampled_from([100, 2**64 - 1]))


def bits(scores):
    """Scores with each float as its exact hex text, so equal means equal bits."""
    return {k: v.hex() for k, v in scores.items()}


def chain(n):
    return [(str(i), str(i + 1)) for i in range(n - 1)]


@given(any_edge_lists, st.booleans())
def test_betweenness_matches_model(edges, normalized):
    assert bits(lg.betweenness(edges, normalized)) == bits(model.betweenness(edges, normalized))


@given(any_edge_lists, sample_sizes, seeds, st.booleans())
def test_sampled_betweenness_matches_model(edges, sample_size, seed, normalized):
    expected = model.sampled_betweenness(edges, sample_size, seed, normalized)
    assert bits(lg.sampled_betweenness(edges, sample_size, seed, normalized)) == bits(expected)


DIAMOND = [("a", "b"), ("a", "c"), ("b", "d"), ("c", "d")]

# (edges, normalized, expected scores)
KNOWN = [
    ([], True, {}),
    ([("a", "b"), ("b", "c")], True, {"a": 0.0, "b": 0.5, "c": 0.0}),
    ([("a", "b"), ("b", "c")], False, {"a": 0.0, "b": 1.0, "c": 0.0}),
    ([("a", "b")], True, {"a": 0.0, "b": 0.0}),
    ([("a", "b")], False, {"a": 0.0, "b": 0.0}),
    ([("a", "a")], True, {"a": 0.0}),
    (DIAMOND, False, {"a": 0.0, "b": 0.5, "c": 0.5, "d": 0.0}),
    (DIAMOND, True, {"a": 0.0, "b": 0.08333333333333333, "c": 0.08333333333333333, "d": 0.0}),
    ([("a", "b")] + DIAMOND, False, {"a": 0.0, "b": 0.6666666666666666, "c": 0.3333333333333333, "d": 0.0}),
    ([("a", "b"), ("b", "c"), ("c", "a")], True, {"a": 0.5, "b": 0.5, "c": 0.5}),
    # A self loop adds no path, but its node still counts in the normalisation.
    ([("a", "b"), ("b", "b"), ("b", "c")], False, {"a": 0.0, "b": 1.0, "c": 0.0}),
    ([("a", "b"), ("b", "c"), ("z", "z")], True, {"a": 0.0, "b": 1 / 6, "c": 0.0, "z": 0.0}),
    # Order dependence: with y leaving the queue first, m's dependency gets 1
    # before three times 1/3; with the x copies first, after them.
    ([("s", "m"), ("m", "x"), ("m", "x"), ("m", "x"), ("m", "y")], False, {"s": 0.0, "m": 2.0, "x": 0.0, "y": 0.0}),
    ([("s", "m"), ("m", "x"), ("m", "x"), ("m", "x"), ("m", "y")], True,
     {"s": 0.0, "m": 0.3333333333333333, "x": 0.0, "y": 0.0}),
    ([("s", "m"), ("m", "y"), ("m", "x"), ("m", "x"), ("m", "x")], False,
     {"s": 0.0, "m": 1.9999999999999998, "x": 0.0, "y": 0.0}),
    ([("s", "m"), ("m", "y"), ("m", "x"), ("m", "x"), ("m", "x")], True,
     {"s": 0.0, "m": 0.33333333333333326, "x": 0.0, "y": 0.0}),
]


@pytest.mark.parametrize(("edges", "normalized", "expected"), KNOWN)
def test_known_scores(edges, normalized, expected):
    assert bits(model.betweenness(edges, normalized)) == bits(expected)
    assert bits(lg.betweenness(edges, normalized)) == bits(expected)


def test_generator_worked_states():
    assert model.lcg_states(42, 4) == [0x7D720F6E9086DD63, 0x7800FEC18E280768, 0x8F6ADA53083DE549, 0x06619F9C471D84D6]
    assert [s % (i + 1) for s, i in zip(model.lcg_states(42, 4), [4, 3, 2, 1])] == [2, 0, 0, 0]
    assert model.shuffled(5, 42) == [1, 4, 3, 0, 2]
    assert model.shuffled(10, 42)[:3] == [4, 3, 6]
    assert model.lcg_states(0, 1) == [1]
    assert model.shuffled(1, 2**64 - 1) == [0]


SAMPLED_CHAIN = [
    # seed 42 on five nodes draws b then e: raw c 2 and d 1, times 5/2.
    (2, 42, False, {"a": 0.0, "b": 0.0, "c": 5.0, "d": 2.5, "e": 0.0}),
    (2, 42, True, {"a": 0.0, "b": 0.0, "c": 0.41666666666666663, "d": 0.20833333333333331, "e": 0.0}),
    (5, 42, True, {"a": 0.0, "b": 0.25, "c": 0.3333333333333333, "d": 0.25, "e": 0.0}),
    (6, 7, True, {"a": 0.0, "b": 0.25, "c": 0.3333333333333333, "d": 0.25, "e": 0.0}),
    (0, 42, True, {"a": 0.0, "b": 0.0, "c": 0.0, "d": 0.0, "e": 0.0}),
]


@pytest.mark.parametrize(("sample_size", "seed", "normalized", "expected"), SAMPLED_CHAIN)
def test_sampled_chain(sample_size, seed, normalized, expected):
    edges = [("a", "b"), ("b", "c"), ("c", "d"), ("d", "e")]
    assert bits(model.sampled_betweenness(edges, sample_size, seed, normalized)) == bits(expected)
    assert bits(lg.sampled_betweenness(edges, sample_size, seed, normalized)) == bits(expected)


def test_sampled_defaults_and_seed():
    edges = chain(300)
    default = lg.sampled_betweenness(edges)
    assert default == lg.sampled_betweenness(edges, 100, 42, True)
    assert bits(default) == bits(model.sampled_betweenness(edges))
    assert lg.sampled_betweenness(edges, 100, 43) != default
    assert lg.sampled_betweenness([]) == {} and lg.sampled_betweenness([], 0, 2**64 - 1) == {}


def test_path_counts_beyond_double_range_turn_scores_nan():
    # Each diamond doubles the number of shortest paths; past 1024 of them
    # the count is infinite and inf / inf poisons the dependencies.
    edges = []
    for i in range(1100):
        edges += [(f"j{i}", f"u{i}"), (f"j{i}", f"l{i}"), (f"u{i}", f"j{i + 1}"), (f"l{i}", f"j{i + 1}")]
    # The seed is chosen so that a source lies far enough upstream.
    native = lg.sampled_betweenness(edges, 3, 5, False)
    assert bits(native) == bits(model.sampled_betweenness(edges, 3, 5, False))
    assert any(math.isnan(v) for v in native.values())


def test_long_chain_without_deep_recursion():
    # The slowest test here (about two seconds): 20,000 sources, each a
    # search down a 20,000-node chain. Every count is an exact integer.
    n = 20_000
    scores = lg.betweenness(chain(n), False)
    assert all(scores[str(i)] == float(i * (n - 1 - i)) for i in range(n))


# --- argument binding and conversion ---

def test_keywords_and_defaults():
    edges = [("a", "b"), ("b", "c")]
    assert lg.betweenness(edges=edges) == lg.betweenness(edges, True)
    assert lg.betweenness(edges, normalized=False) == {"a": 0.0, "b": 1.0, "c": 0.0}
    assert lg.sampled_betweenness(edges, normalized=False, seed=1, sample_size=3) == {"a": 0.0, "b": 1.0, "c": 0.0}


@pytest.mark.parametrize(("call", "message"), [
    (lambda: lg.betweenness([], True, 3), "betweenness() takes from 1 to 2 positional arguments but 3 were given"),
    (lambda: lg.betweenness(), "betweenness() missing 1 required positional argument: 'edges'"),
    (lambda: lg.betweenness([], normalised=True), "betweenness() got an unexpected keyword argument 'normalised'"),
    (lambda: lg.betweenness([], True, normalized=True), "betweenness() got multiple values for argument 'normalized'"),
    (lambda: lg.sampled_betweenness([], 1, 2, True, 5),
     "sampled_betweenness() takes from 1 to 4 positional arguments but 5 were given"),
    (lambda: lg.sampled_betweenness(seed=1), "sampled_betweenness() missing 1 required positional argument: 'edges'"),
    (lambda: lg.betweenness([], 1), "argument 'normalized': 'int' object cannot be converted to 'PyBool'"),
    (lambda: lg.betweenness([], None), "argument 'normalized': 'NoneType' object cannot be converted to 'PyBool'"),
    (lambda: lg.betweenness([], []), "argument 'normalized': 'list' object cannot be converted to 'PyBool'"),
    (lambda: lg.sampled_betweenness([], normalized=0),
     "argument 'normalized': 'int' object cannot be converted to 'PyBool'"),
    (lambda: lg.sampled_betweenness([], 1.0), "argument 'sample_size': 'float' object cannot be interpreted as an integer"),
    (lambda: lg.sampled_betweenness([], 1, "42"), "argument 'seed': 'str' object cannot be interpreted as an integer"),
    # Parameters convert in order: the edge list fails before the flag is looked at.
    (lambda: lg.betweenness("ab", 1), "argument 'edges': Can't extract `str` to `Vec`"),
])
def test_type_errors(call, message):
    with pytest.raises(TypeError) as info:
        call()
    assert str(info.value) == message


def test_unsigned_arguments_reject_negative_and_oversized():
    with pytest.raises(OverflowError):
        lg.sampled_betweenness([("a", "b")], -1)
    with pytest.raises(OverflowError):
        lg.sampled_betweenness([("a", "b")], 1, 2**64)


def test_numpy_bools_are_accepted():
    numpy = pytest.importorskip("numpy")
    edges = [("a", "b"), ("b", "c")]
    assert lg.betweenness(edges, numpy.bool_(True)) == {"a": 0.0, "b": 0.5, "c": 0.0}
    assert lg.betweenness(edges, numpy.bool_(False)) == {"a": 0.0, "b": 1.0, "c": 0.0}
    assert lg.sampled_betweenness(edges, normalized=numpy.bool_(False)) == {"a": 0.0, "b": 1.0, "c": 0.0}
    with pytest.raises(TypeError, match="^argument 'normalized': 'int64' object cannot be converted to 'PyBool'$"):
        lg.betweenness(edges, numpy.int64(1))


def _fake_numpy_bool(name, body):
    return type(name, (), {"__module__": "numpy", **body})


def test_numpy_bool_lookalikes_use_their_own_truth_function():
    edges = [("a", "b"), ("b", "c")]
    falsy = _fake_numpy_bool("bool", {"__bool__": lambda self: False})
    assert lg.betweenness(edges, falsy()) == {"a": 0.0, "b": 1.0, "c": 0.0}

    def refuse(self):
        raise ValueError("no truth here")

    with pytest.raises(ValueError, match="no truth here"):
        lg.betweenness(edges, _fake_numpy_bool("bool_", {"__bool__": refuse})())
    truthless = _fake_numpy_bool("bool_", {})
    with pytest.raises(AttributeError) as info:
        lg.betweenness(edges, truthless())
    assert str(info.value) == "object of type '<class 'numpy.bool_'>' does not define a '__bool__' conversion"
    # The same name outside numpy is just another object.
    elsewhere = type("bool_", (), {"__module__": "mylib", "__bool__": lambda self: True})
    with pytest.raises(TypeError, match="'bool_' object cannot be converted to 'PyBool'"):
        lg.betweenness(edges, elsewhere())
