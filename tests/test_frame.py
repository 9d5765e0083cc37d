"""The call frame: argument binding, conversion and the wrapping of
conversion errors, on the depth queries."""

import collections
import sys

import pytest

import lanternhollow_graph as lg

anc = lg.ancestors_at_depth
desc = lg.descendants_at_depth


def message(excinfo):
    return str(excinfo.value)


class TestBinding:
    @pytest.mark.parametrize(
        "args, kwargs, text",
        [
            ((), {}, "ancestors_at_depth() missing 3 required positional arguments: 'edges', 'target', and 'max_depth'"),
            (([],), {}, "ancestors_at_depth() missing 2 required positional arguments: 'target' and 'max_depth'"),
            (([], "a"), {}, "ancestors_at_depth() missing 1 required positional argument: 'max_depth'"),
            (([],), {"max_depth": 1}, "ancestors_at_depth() missing 1 required positional argument: 'target'"),
            ((), {"target": "a"}, "ancestors_at_depth() missing 2 required positional arguments: 'edges' and 'max_depth'"),
            (([], "a", 1, 2), {}, "ancestors_at_depth() takes 3 positional arguments but 4 were given"),
            (([], "a", 1, 2), {"bogus": 1}, "ancestors_at_depth() takes 3 positional arguments but 4 were given"),
            ((), {"bogus": 1}, "ancestors_at_depth() got an unexpected keyword argument 'bogus'"),
            (([], "a", 1), {"bogus": 1}, "ancestors_at_depth() got an unexpected keyword argument 'bogus'"),
            (([], "a"), {"target": "b"}, "ancestors_at_depth() got multiple values for argument 'target'"),
            (([],), {"edges": []}, "ancestors_at_depth() got multiple values for argument 'edges'"),
        ],
    )
    def test_messages(self, args, kwargs, text):
        with pytest.raises(TypeError) as excinfo:
            anc(*args, **kwargs)
        assert message(excinfo) == text

    def test_keyword_that_is_not_utf8_is_unexpected(self):
        with pytest.raises(TypeError) as excinfo:
            desc([], "a", 1, **{"\udc80": 1})
        assert message(excinfo) == "descendants_at_depth() got an unexpected keyword argument '\udc80'"

    def test_keyword_names_match_by_exact_text(self):
        with pytest.raises(TypeError, match="unexpected keyword argument 'Edges'"):
            desc(Edges=[], source="a", max_depth=1)

    def test_binding_comes_before_conversion(self):
        with pytest.raises(TypeError) as excinfo:
            anc("not a list", 5)
        assert message(excinfo) == "ancestors_at_depth() missing 1 required positional argument: 'max_depth'"

    def test_conversion_follows_parameter_order(self):
        with pytest.raises(TypeError) as excinfo:
            anc("not a list", 5, -1)
        assert message(excinfo) == "argument 'edges': Can't extract `str` to `Vec`"
        with pytest.raises(TypeError) as excinfo:
            anc(max_depth=-1, target=5, edges=[])
        assert message(excinfo) == "argument 'target': 'int' object cannot be converted to 'PyString'"


class Seq:
    """A sequence through the old item protocol, with a configurable __len__."""

    def __init__(self, items, length=None, len_error=None):
        self.items, self.length, self.len_error = items, length, len_error

    def __len__(self):
        if self.len_error is not None:
            raise self.len_error
        return len(self.items) if self.length is None else self.length

    def __getitem__(self, i):
        return self.items[i]


class TestEdgeList:
    @pytest.mark.parametrize(
        "edges, text",
        [
            ("ab", "argument 'edges': Can't extract `str` to `Vec`"),
            (type("S", (str,), {})("ab"), "argument 'edges': Can't extract `str` to `Vec`"),
            ({"a": "b"}, "argument 'edges': 'dict' object cannot be converted to 'Sequence'"),
            ({("a", "b")}, "argument 'edges': 'set' object cannot be converted to 'Sequence'"),
            (frozenset(), "argument 'edges': 'frozenset' object cannot be converted to 'Sequence'"),
            ((x for x in ()), "argument 'edges': 'generator' object cannot be converted to 'Sequence'"),
            (iter([]), "argument 'edges': 'list_iterator' object cannot be converted to 'Sequence'"),
            (None, "argument 'edges': 'NoneType' object cannot be converted to 'Sequence'"),
            (5, "argument 'edges': 'int' object cannot be converted to 'Sequence'"),
            ([["a", "b"]], "argument 'edges': 'list' object cannot be converted to 'PyTuple'"),
            (b"x", "argument 'edges': 'int' object cannot be converted to 'PyTuple'"),
            (range(10**16), "argument 'edges': 'int' object cannot be converted to 'PyTuple'"),
            ([("a", 1)], "argument 'edges': 'int' object cannot be converted to 'PyString'"),
            ([(None, "a")], "argument 'edges': 'NoneType' object cannot be converted to 'PyString'"),
            ([("a", b"b")], "argument 'edges': 'bytes' object cannot be converted to 'PyString'"),
            ([("a", "b"), "ab"], "argument 'edges': 'str' object cannot be converted to 'PyTuple'"),
        ],
    )
    def test_type_errors(self, edges, text):
        with pytest.raises(TypeError) as excinfo:
            desc(edges, "a", 1)
        assert type(excinfo.value) is TypeError
        assert message(excinfo) == text

    def test_qualified_type_names(self):
        class Outer:
            class Inner:
                pass

        with pytest.raises(TypeError) as excinfo:
            desc([("a", Outer.Inner())], "a", 1)
        assert message(excinfo) == (
            "argument 'edges': 'TestEdgeList.test_qualified_type_names.<locals>.Outer.Inner' "
            "object cannot be converted to 'PyString'"
        )

    @pytest.mark.parametrize("length", [0, 1, 3])
    def test_tuples_of_wrong_length_raise_value_error_unprefixed(self, length):
        with pytest.raises(ValueError) as excinfo:
            desc([("a", "b"), ("x",) * length], "a", 1)
        assert type(excinfo.value) is ValueError
        assert message(excinfo) == f"expected tuple of length 2, but got tuple of length {length}"

    @pytest.mark.parametrize("empty", [[], (), b"", bytearray(), range(0), Seq([])])
    def test_empty_sequences_are_empty_edge_lists(self, empty):
        assert desc(empty, "a", 5) == {}

    def test_accepted_containers_and_items(self):
        Pair = collections.namedtuple("Pair", "source target")
        S = type("S", (str,), {})
        T = type("T", (tuple,), {})
        expected = {"b": 1, "c": 2}
        for edges in (
            [("a", "b"), ("b", "c")],
            (("a", "b"), ("b", "c")),
            [Pair("a", "b"), Pair("b", "c")],
            [T(("a", "b")), (S("b"), S("c"))],
            Seq([("a", "b"), ("b", "c")]),
            collections.deque([("a", "b"), ("b", "c")]),
        ):
            assert desc(edges, "a", 5) == expected

    def test_str_subclass_uses_its_text_not_its_methods(self):
        class Loud(str):
            def __hash__(self):
                raise AssertionError("__hash__ must not be called")

            def __eq__(self, other):
                raise AssertionError("__eq__ must not be called")

            def encode(self, *a):
                raise AssertionError("encode must not be called")

            def __str__(self):
                return "other"

        assert desc([(Loud("a"), Loud("b"))], Loud("a"), 1) == {"b": 1}

    def test_length_is_only_a_hint(self):
        edges = [("a", "b"), ("b", "c")]
        for length in (0, 1, 100, 2**62):
            assert desc(Seq(edges, length=length), "a", 5) == {"b": 1, "c": 2}
        assert desc(Seq(edges, len_error=RuntimeError("no length")), "a", 5) == {"b": 1, "c": 2}

    @pytest.mark.parametrize("error", [KeyboardInterrupt, SystemExit])
    def test_interrupts_from_len_propagate(self, error):
        with pytest.raises(error):
            desc(Seq([("a", "b")], len_error=error()), "a", 1)

    def test_errors_from_iteration_propagate_unchanged(self):
        class Bad(Seq):
            def __getitem__(self, i):
                if i == 1:
                    raise KeyError("boom")
                return super().__getitem__(i)

        with pytest.raises(KeyError):
            desc(Bad([("a", "b"), ("b", "c")]), "a", 1)

        class BadIter(list):
            def __iter__(self):
                raise TypeError("no iteration today")

        with pytest.raises(TypeError) as excinfo:
            desc(BadIter([("a", "b")]), "a", 1)
        assert message(excinfo) == "argument 'edges': no iteration today"

    def test_mutation_during_iteration_is_safe(self):
        class Growing(list):
            def __iter__(self):
                for i, item in enumerate(list.__iter__(self)):
                    if i < 3:
                        self.append(("x%d" % i, "y"))
                    yield item

        edges = Growing([("a", "b"), ("b", "c")])
        assert desc(edges, "a", 5) == {"b": 1, "c": 2}

    def test_lone_surrogates_raise_unicode_encode_error_unprefixed(self):
        with pytest.raises(UnicodeEncodeError):
            desc([("a", "\ud800")], "a", 1)
        with pytest.raises(UnicodeEncodeError):
            desc([("a", "b")], "\udfff", 1)


class TestScalars:
    def test_start_name_conversion(self):
        with pytest.raises(TypeError) as excinfo:
            anc([("a", "b")], None, 1)
        assert message(excinfo) == "argument 'target': 'NoneType' object cannot be converted to 'PyString'"
        with pytest.raises(TypeError) as excinfo:
            desc([("a", "b")], b"a", 1)
        assert message(excinfo) == "argument 'source': 'bytes' object cannot be converted to 'PyString'"
        assert desc([("a", "b")], type("S", (str,), {})("a"), 1) == {"b": 1}

    @pytest.mark.parametrize("value", [-1, 2**64, -(2**70), 2**100])
    def test_out_of_range_depth_raises_overflow_unprefixed(self, value):
        with pytest.raises(OverflowError) as excinfo:
            desc([("a", "b")], "a", value)
        assert not message(excinfo).startswith("argument")

    @pytest.mark.parametrize("value", [2.0, "1", None, [1], 1j])
    def test_non_integer_depth_is_a_prefixed_type_error(self, value):
        with pytest.raises(TypeError) as excinfo:
            desc([("a", "b")], "a", value)
        assert message(excinfo).startswith("argument 'max_depth': ")

    def test_integer_like_depths(self):
        chain = [("a", "b"), ("b", "c")]

        class Idx:
            def __init__(self, v):
                self.v = v

            def __index__(self):
                return self.v

        class BigInt(int):
            pass

        assert desc(chain, "a", True) == {"b": 1}
        assert desc(chain, "a", False) == {}
        assert desc(chain, "a", Idx(2)) == {"b": 1, "c": 2}
        assert desc(chain, "a", BigInt(1)) == {"b": 1}
        assert desc(chain, "a", 2**64 - 1) == {"b": 1, "c": 2}
        with pytest.raises(OverflowError):
            desc(chain, "a", Idx(-1))

    def test_index_errors(self):
        class Wrong:
            def __index__(self):
                return 1.5

        with pytest.raises(TypeError) as excinfo:
            desc([], "a", Wrong())
        assert message(excinfo).startswith("argument 'max_depth': ")

        class Raises:
            def __index__(self):
                raise ZeroDivisionError

        with pytest.raises(ZeroDivisionError):
            desc([], "a", Raises())


class TestWrapping:
    def test_only_exact_type_error_is_wrapped(self):
        class MyTypeError(TypeError):
            pass

        class Idx:
            def __init__(self, exc):
                self.exc = exc

            def __index__(self):
                raise self.exc

        with pytest.raises(MyTypeError) as excinfo:
            desc([], "a", Idx(MyTypeError("mine")))
        assert message(excinfo) == "mine"
        with pytest.raises(TypeError) as excinfo:
            desc([], "a", Idx(TypeError("plain")))
        assert type(excinfo.value) is TypeError
        assert message(excinfo) == "argument 'max_depth': plain"

    def test_cause_is_carried_over(self):
        cause = ValueError("root")

        class Idx:
            def __index__(self):
                raise TypeError("outer") from cause

        with pytest.raises(TypeError) as excinfo:
            desc([], "a", Idx())
        assert message(excinfo) == "argument 'max_depth': outer"
        assert excinfo.value.__cause__ is cause

    def test_nothing_is_left_pending(self):
        for bad in ("x", {1: 2}, [("a",)]):
            with pytest.raises((TypeError, ValueError)):
                desc(bad, "a", 1)
        assert sys.exc_info() == (None, None, None)
        assert desc([("a", "b")], "a", 1) == {"b": 1}
