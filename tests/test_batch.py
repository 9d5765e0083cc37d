import lanternhollow_graph as lg
import pytest
from hypothesis import given
from hypothesis import strategies as st

from model import batch as model
from start_names import graphs_with_names
from strategies import depths

BATCHES = [
    (lg.batch_ancestors, lg.ancestors_at_depth, model.batch_ancestors, "targets"),
    (lg.batch_descendants, lg.descendants_at_depth, model.batch_descendants, "sources"),
]


@pytest.mark.parametrize("batch, single, modelled, _", BATCHES)
@given(case=graphs_with_names(), max_depth=depths)
def test_matches_model_and_single_queries(batch, single, modelled, _, case, max_depth):
    edges, starts = case
    result = batch(edges, starts, max_depth)
    assert result == modelled(edges, starts, max_depth)
    assert result == {name: single(edges, name, max_depth) for name in starts}
    assert list(result) == list(dict.fromkeys(starts))


CHAIN = [("a", "b"), ("b", "c")]


@pytest.mark.parametrize(
    "batch, edges, starts, max_depth, expected",
    [
        (lg.batch_descendants, CHAIN, [], 5, {}),
        (lg.batch_descendants, [], [], 5, {}),
        (lg.batch_descendants, CHAIN, ["a", "b", "z"], 5, {"a": {"b": 1, "c": 2}, "b": {"c": 1}, "z": {}}),
        (lg.batch_ancestors, CHAIN, ["c", "c"], 1, {"c": {"b": 1}}),
        (lg.batch_ancestors, CHAIN, ["c", "a", "c"], 2**64 - 1, {"c": {"b": 1, "a": 2}, "a": {}}),
        (lg.batch_descendants, CHAIN, ["a", "b", "z"], 0, {"a": {}, "b": {}, "z": {}}),
        (lg.batch_ancestors, [], ["a"], 3, {"a": {}}),
        (lg.batch_descendants, [("a", "b"), ("b", "a")], ["a", "b"], 3, {"a": {"b": 1}, "b": {"a": 1}}),
        (lg.batch_descendants, [("a", "a"), ("a", "b"), ("a", "b")], ["a", "b"], 3, {"a": {"b": 1}, "b": {}}),
        # Exact bytes: "A" names no node of these edges.
        (lg.batch_descendants, [("a", "b")], ["A", "a"], 1, {"A": {}, "a": {"b": 1}}),
    ],
)
def test_cases(batch, edges, starts, max_depth, expected):
    assert batch(edges, starts, max_depth) == expected


def test_every_inner_dict_is_its_own_object():
    edges = [("a", "c"), ("b", "c")]
    result = lg.batch_descendants(edges, ["a", "b", "x", "y"], 1)
    assert result == {"a": {"c": 1}, "b": {"c": 1}, "x": {}, "y": {}}
    inner = list(result.values())
    assert len({id(d) for d in inner}) == 4
    assert all(type(k) is str and type(v) is int for d in inner for k, v in d.items())


@given(starts=st.lists(st.sampled_from(["a", "b", "z"]), max_size=5))
def test_start_names_from_any_sequence(starts):
    edges = [("a", "b")]
    expected = lg.batch_descendants(edges, starts, 1)
    assert lg.batch_descendants(edges, tuple(starts), 1) == expected
    assert lg.batch_descendants(edges, Names(starts), 1) == expected


class Names:
    """A sequence that is neither a list nor a tuple."""

    def __init__(self, items):
        self.items = items

    def __len__(self):
        return len(self.items)

    def __getitem__(self, i):
        return self.items[i]


@pytest.mark.parametrize("batch, _single, _model, param", BATCHES)
@pytest.mark.parametrize(
    "starts, message",
    [
        ("abc", "Can't extract `str` to `Vec`"),
        ({"a"}, "'set' object cannot be converted to 'Sequence'"),
        (iter(["a"]), "'list_iterator' object cannot be converted to 'Sequence'"),
        (["a", None], "'NoneType' object cannot be converted to 'PyString'"),
        ([b"a"], "'bytes' object cannot be converted to 'PyString'"),
    ],
)
def test_start_name_conversion_errors(batch, _single, _model, param, starts, message):
    with pytest.raises(TypeError) as info:
        batch([("a", "b")], starts, 1)
    assert str(info.value) == f"argument '{param}': {message}"


def test_binding_and_other_arguments():
    with pytest.raises(TypeError, match=r"^batch_ancestors\(\) missing 1 required positional argument: 'max_depth'$"):
        lg.batch_ancestors([], [])
    with pytest.raises(TypeError, match=r"^batch_descendants\(\) got an unexpected keyword argument 'targets'$"):
        lg.batch_descendants([], targets=[], max_depth=1)
    assert lg.batch_descendants(edges=[("a", "b")], sources=["a"], max_depth=1) == {"a": {"b": 1}}
    with pytest.raises(UnicodeEncodeError):
        lg.batch_ancestors([("a", "b")], ["\ud800"], 1)
    with pytest.raises(OverflowError):
        lg.batch_ancestors([("a", "b")], ["a"], -1)
    # The edge list converts first.
    with pytest.raises(TypeError, match=r"^argument 'edges': "):
        lg.batch_ancestors(None, None, None)


def test_million_node_chain():
    n = 1_000_000
    edges = [(f"n{i}", f"n{i + 1}") for i in range(n - 1)]
    result = lg.batch_descendants(edges, ["n0", "n999998", "n0"], 2**64 - 1)
    assert len(result["n0"]) == n - 1 and result["n0"]["n999999"] == n - 1
    assert result["n999998"] == {"n999999": 1}
    up = lg.batch_ancestors(edges, ["n999999"], 10)
    assert up == {"n999999": {f"n{n - 1 - d}": d for d in range(1, 11)}}
