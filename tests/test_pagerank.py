import math

import pytest
from hypothesis import given, settings
from hypothesis import strategies as st

import lanternhollow_graph as lg
from model.pagerank import pagerank as model_pagerank
from strategies_pagerank_scc import alphas, pagerank_graphs


def assert_same_scores(got, expected):
    """Equal keys, and every float equal to the last bit (NaN matching NaN)."""
    assert got.keys() == expected.keys()
    for name, value in expected.items():
        assert type(got[name]) is float
        if math.isnan(value):
            assert math.isnan(got[name]), name
        else:
            assert got[name].hex() == value.hex(), name


# --- worked numbers --------------------------------------------------------

A, B, C, D = "a", "b", "c", "d"


@pytest.mark.parametrize(
    "edges, kwargs, expected",
    [
        ([], {}, {}),
        ([(A, B)], {"max_iter": 1}, {A: 0.2875, B: 0.7125}),
        ([(A, B)], {}, {A: 0.3508771929824562, B: 0.6491228070175439}),
        ([(A, B), (B, C), (C, A)], {}, {A: 1 / 3, B: 1 / 3, C: 1 / 3}),
        ([(A, B), (A, B), (A, C)], {"max_iter": 1}, {A: 0.2388888888888889, B: 0.4277777777777778, C: 0.33333333333333337}),
        ([(A, B), (B, C)], {"alpha": 1.0, "max_iter": 1}, {A: 0.1111111111111111, B: 0.4444444444444444, C: 0.4444444444444444}),
        # The last digits here hold only if each dangling share is added on
        # its own, in source order; one summed dangling term gives ...597
        # and ...701.
        ([(A, C), (A, D)], {}, {A: 0.2597402597402598, C: 0.3701298701298702, D: 0.3701298701298702}),
    ],
)
def test_worked_numbers(edges, kwargs, expected):
    assert_same_scores(lg.pagerank(edges, **kwargs), expected)


@pytest.mark.parametrize("max_iter", [0, 1, 2, 7, 100])
def test_self_loop_keeps_everything(max_iter):
    assert_same_scores(lg.pagerank([(A, A)], max_iter=max_iter), {A: 1.0})


def test_no_iteration_gives_the_initial_scores():
    edges = [(A, B), (B, C), (C, A), (D, A), ("e", "e")]
    assert_same_scores(lg.pagerank(edges, max_iter=0), dict.fromkeys("abcde", 1.0 / 5))
    assert_same_scores(lg.pagerank(edges, alpha=float("nan"), max_iter=0), dict.fromkeys("abcde", 0.2))


def test_nan_alpha_poisons_every_score():
    result = lg.pagerank([(A, B), (B, C)], alpha=float("nan"), max_iter=1)
    assert len(result) == 3 and all(math.isnan(v) for v in result.values())


def test_defaults_and_keywords():
    edges = [(A, B), (B, C), (C, A), (A, D)]
    default = lg.pagerank(edges)
    assert_same_scores(lg.pagerank(edges, 0.85, 100), default)
    assert_same_scores(lg.pagerank(max_iter=100, alpha=0.85, edges=edges), default)
    assert_same_scores(lg.pagerank(edges, alpha=0.5), model_pagerank(edges, 0.5, 100))


# --- against the model -----------------------------------------------------


@given(pagerank_graphs(), alphas, st.integers(0, 12))
def test_matches_model(edges, alpha, max_iter):
    assert_same_scores(lg.pagerank(edges, alpha, max_iter), model_pagerank(edges, alpha, max_iter))


@settings(max_examples=40)
@given(pagerank_graphs())
def test_matches_model_with_defaults(edges):
    assert_same_scores(lg.pagerank(edges), model_pagerank(edges))


# --- the literal reference in the testing module ---------------------------


@given(pagerank_graphs(), alphas, st.integers(0, 30))
def test_literal_reference_matches_public(edges, alpha, max_iter):
    testing = pytest.importorskip("_lanternhollow_graph_testing")
    assert_same_scores(lg.pagerank(edges, alpha, max_iter), testing.pagerank_literal(edges, alpha, max_iter))


def test_literal_reference_on_a_larger_graph():
    testing = pytest.importorskip("_lanternhollow_graph_testing")
    # 600 nodes, a third of them dangling, with parallel edges and self loops.
    edges = [(f"n{i}", f"n{(i * 7 + k) % 600}") for i in range(400) for k in range(i % 5)]
    edges += [(f"n{i}", f"n{i}") for i in range(0, 400, 9)] + [(f"n{i}", f"n{i + 1}") for i in range(400, 599)]
    for alpha, max_iter in [(0.85, 100), (0.3, 5)]:
        assert_same_scores(lg.pagerank(edges, alpha, max_iter), testing.pagerank_literal(edges, alpha, max_iter))


def test_main_module_does_not_carry_the_reference():
    assert not hasattr(lg, "pagerank_literal")
    assert lg.__all__[:2] == ["pagerank", "strongly_connected"]


# --- arguments ---------------------------------------------------------------


class FloatLike:
    def __float__(self):
        return 0.5


class IndexLike:
    def __index__(self):
        return 1


class SubFloat(float):
    pass


@pytest.mark.parametrize("alpha, as_float", [(1, 1.0), (True, 1.0), (FloatLike(), 0.5), (IndexLike(), 1.0), (SubFloat(0.25), 0.25), (-1.0, -1.0), (-1, -1.0)])
def test_alpha_conversion(alpha, as_float):
    edges = [(A, B), (B, C), (C, C)]
    assert_same_scores(lg.pagerank(edges, alpha, 3), model_pagerank(edges, as_float, 3))


@pytest.mark.parametrize("alpha", [None, "0.85", [0.85]])
def test_alpha_not_a_number(alpha):
    with pytest.raises(TypeError, match=r"^argument 'alpha': "):
        lg.pagerank([(A, B)], alpha)


def test_alpha_errors_other_than_type_error_pass_unchanged():
    with pytest.raises(OverflowError) as info:
        lg.pagerank([(A, B)], alpha=10**400)
    assert not str(info.value).startswith("argument")

    class Broken:
        def __float__(self):
            raise ValueError("no float here")

    with pytest.raises(ValueError, match=r"^no float here$"):
        lg.pagerank([(A, B)], alpha=Broken())


def test_max_iter_conversion():
    with pytest.raises(OverflowError):
        lg.pagerank([(A, B)], max_iter=-1)
    with pytest.raises(TypeError, match=r"^argument 'max_iter': "):
        lg.pagerank([(A, B)], max_iter=2.0)
    assert_same_scores(lg.pagerank([(A, B)], max_iter=True), {A: 0.2875, B: 0.7125})


def test_conversion_goes_in_parameter_order():
    with pytest.raises(TypeError, match=r"^argument 'edges': "):
        lg.pagerank("ab", None, -1)
    with pytest.raises(TypeError, match=r"^argument 'alpha': "):
        lg.pagerank([], None, -1)


@pytest.mark.parametrize(
    "args, kwargs, message",
    [
        ((), {}, "pagerank() missing 1 required positional argument: 'edges'"),
        (([], 0.85, 100, 4), {}, "pagerank() takes from 1 to 3 positional arguments but 4 were given"),
        (([], 0.85, 100, 4), {"beta": 1}, "pagerank() takes from 1 to 3 positional arguments but 4 were given"),
        (([],), {"beta": 1}, "pagerank() got an unexpected keyword argument 'beta'"),
        (([], 0.5), {"alpha": 0.5}, "pagerank() got multiple values for argument 'alpha'"),
        ((), {"alpha": 0.5}, "pagerank() missing 1 required positional argument: 'edges'"),
    ],
)
def test_binding_messages(args, kwargs, message):
    with pytest.raises(TypeError) as info:
        lg.pagerank(*args, **kwargs)
    assert str(info.value) == message
