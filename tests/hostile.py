"""Hostile arguments for every parameter of every function.

`random_call(rng)` draws one call: a function and its arguments, each either
well formed or one of many kinds of trouble: wrong types, str and tuple
subclasses with overridden methods, sequences whose __len__ lies or raises,
iterators that raise midway or mutate what they iterate, __index__ and
__float__ that return the wrong type or raise, huge ints, lone surrogates,
NUL characters and names of a megabyte. `check_call` makes the call and
checks that it ends in a result of the right shape or in one of the
exceptions a caller can expect, with nothing left pending.

Run as a script for a soak: python tests/hostile.py [CALLS] [SEED]
"""

import random
import sys

import lanternhollow_graph as lg


class FuzzError(Exception):
    """Raised by the hostile objects themselves; must pass through unchanged."""


class FuzzTypeError(TypeError):
    """A TypeError subclass: must not be wrapped."""


POOL = ["a", "b", "c", "", "\x00", "a\x00b", "\u00e9", "e\u0301", "\U0001f600", "A"]


def name(rng):
    r = rng.random()
    if r < 0.9:
        return rng.choice(POOL)
    if r < 0.95:
        return rng.choice(POOL) * rng.randint(1, 100)
    if r < 0.97:
        return "x" * (1 << 20)  # a megabyte
    return "".join(chr(rng.randint(1, 0x10FFFF)) for _ in range(rng.randint(0, 5))).replace("\ud800", "")


def good_edges(rng, max_len=30):
    return [(name(rng), name(rng)) for _ in range(rng.randint(0, max_len))]


class LyingSeq:
    def __init__(self, items, length):
        self.items, self.length = items, length

    def __len__(self):
        if isinstance(self.length, BaseException):
            raise self.length
        return self.length

    def __getitem__(self, i):
        return self.items[i]


class RaisingIter(list):
    def __init__(self, items, at, exc):
        super().__init__(items)
        self.at, self.exc = at, exc

    def __iter__(self):
        for i, item in enumerate(list.__iter__(self)):
            if i == self.at:
                raise self.exc
            yield item


class MutatingIter(list):
    def __iter__(self):
        i = 0
        while i < len(self):
            item = self[i]
            if i % 3 == 0:
                self.append(item)
            if i % 5 == 4:
                self.clear()
            if i > 50:
                return
            yield item
            i += 1


class WeirdStr(str):
    def __hash__(self):
        raise FuzzError("hash")

    def __eq__(self, other):
        raise FuzzError("eq")

    def __str__(self):
        return "other"

    def __len__(self):
        return 12345

    def encode(self, *a, **k):
        raise FuzzError("encode")


class WeirdTuple(tuple):
    def __len__(self):
        return 2

    def __getitem__(self, i):
        raise FuzzError("getitem")

    def __iter__(self):
        raise FuzzError("iter")


def bad_object(rng):
    return rng.choice(
        [
            None,
            1,
            -1,
            2**64,
            2**200,
            1.5,
            float("nan"),
            b"ab",
            "str",
            "\ud800",
            [1, 2],
            {"a": 1},
            {1, 2},
            object(),
            (x for x in range(3)),
            iter([("a", "b")]),
            1j,
        ]
    )


def edges_arg(rng):
    r = rng.random()
    base = good_edges(rng)
    if r < 0.35:
        return base
    kinds = [
        lambda: tuple(base),
        lambda: LyingSeq(base, rng.choice([0, 1, len(base) + 10, 2**62, 2**63 - 1, FuzzError("len"), KeyboardInterrupt(), OverflowError()])),
        lambda: RaisingIter(base + [("a", "b")], rng.randint(0, len(base)), rng.choice([FuzzError("next"), FuzzTypeError("next"), TypeError("plain")])),
        lambda: MutatingIter(base),
        lambda: base + [(WeirdStr(name(rng)), WeirdStr(name(rng)))],
        lambda: base + [WeirdTuple(("a", "b"))],
        lambda: base + [("a", "\udc80")],
        lambda: base + [tuple(name(rng) for _ in range(rng.choice([0, 1, 3])))],
        lambda: base + [[name(rng), name(rng)]],
        lambda: base + [(name(rng), bad_object(rng))],
        lambda: range(rng.choice([0, 3, 10**16])),
        lambda: bad_object(rng),
    ]
    return rng.choice(kinds)()


def names_arg(rng):
    r = rng.random()
    base = [name(rng) for _ in range(rng.randint(0, 6))]
    if r < 0.5:
        return base
    kinds = [
        lambda: tuple(base),
        lambda: LyingSeq(base, rng.choice([0, 2**62, FuzzError("len")])),
        lambda: RaisingIter(base + ["a"], rng.randint(0, len(base)), FuzzError("next")),
        lambda: MutatingIter(base),
        lambda: base + [WeirdStr("a")],
        lambda: base + [bad_object(rng)],
        lambda: rng.choice(["a", {"a"}, None, 5]),
    ]
    return rng.choice(kinds)()


class Index:
    def __init__(self, value):
        self.value = value

    def __index__(self):
        if isinstance(self.value, BaseException):
            raise self.value
        return self.value


class Float:
    def __init__(self, value):
        self.value = value

    def __float__(self):
        if isinstance(self.value, BaseException):
            raise self.value
        return self.value


def count_arg(rng, small=True):
    r = rng.random()
    if r < 0.6:
        return rng.choice([0, 1, 2, 3, 2**64 - 1]) if small else rng.choice([0, 1, 2, 5])
    return rng.choice(
        [
            -1,
            2**64,
            2**100,
            True,
            1.0,
            "1",
            None,
            Index(2),
            Index(-5),
            Index(1.5),
            Index(FuzzError("index")),
            Index(FuzzTypeError("index")),
            Index(2**64),
        ]
    )


def float_arg(rng):
    if rng.random() < 0.6:
        return rng.choice([0.85, 0.0, 1.0, -0.5, 2.0, float("nan"), float("inf"), 1])
    return rng.choice([None, "0.5", 10**400, Float(0.5), Float("x"), Float(FuzzError("float")), Index(1), True, 1j])


def bool_arg(rng):
    if rng.random() < 0.7:
        return rng.choice([True, False])
    return rng.choice([0, 1, None, "yes", [], Index(1)])


PARAMS = {
    "pagerank": [("edges", edges_arg), ("alpha", float_arg), ("max_iter", lambda rng: count_arg(rng, small=False))],
    "strongly_connected": [("edges", edges_arg)],
    "ancestors_at_depth": [("edges", edges_arg), ("target", lambda rng: name(rng) if rng.random() < 0.8 else bad_object(rng)), ("max_depth", count_arg)],
    "descendants_at_depth": [("edges", edges_arg), ("source", lambda rng: name(rng) if rng.random() < 0.8 else bad_object(rng)), ("max_depth", count_arg)],
    "betweenness": [("edges", edges_arg), ("normalized", bool_arg)],
    "sampled_betweenness": [("edges", edges_arg), ("sample_size", count_arg), ("seed", count_arg), ("normalized", bool_arg)],
    "batch_ancestors": [("edges", edges_arg), ("targets", names_arg), ("max_depth", count_arg)],
    "batch_descendants": [("edges", edges_arg), ("sources", names_arg), ("max_depth", count_arg)],
    "subgraph": [("edges", edges_arg), ("seed_nodes", names_arg), ("max_depth", count_arg), ("include_incoming", bool_arg), ("include_outgoing", bool_arg)],
}
REQUIRED = {"pagerank": 1, "strongly_connected": 1, "betweenness": 1, "sampled_betweenness": 1, "subgraph": 2}

EXPECTED = (TypeError, ValueError, OverflowError, UnicodeEncodeError, AttributeError, FuzzError, KeyboardInterrupt)


def random_call(rng, functions=None):
    functions = functions or [f for f in PARAMS if hasattr(lg, f)]
    fn = rng.choice(functions)
    params = PARAMS[fn]
    required = REQUIRED.get(fn, len(params))
    n = rng.randint(required, len(params))
    values = [make(rng) for _, make in params[:n]]
    split = rng.randint(0, n)
    args = values[:split]
    kwargs = {p: v for (p, _), v in zip(params[split:n], values[split:])}
    return fn, args, kwargs


def check_shape(fn, result):
    if fn in ("pagerank", "betweenness", "sampled_betweenness"):
        assert type(result) is dict and all(type(k) is str and type(v) is float for k, v in result.items())
    elif fn in ("ancestors_at_depth", "descendants_at_depth"):
        assert type(result) is dict and all(type(k) is str and type(v) is int for k, v in result.items())
    elif fn in ("batch_ancestors", "batch_descendants"):
        assert type(result) is dict and all(type(k) is str and type(v) is dict for k, v in result.items())
    elif fn == "strongly_connected":
        assert type(result) is list and all(type(c) is list and len(c) >= 2 for c in result)
    elif fn == "subgraph":
        assert type(result) is tuple and len(result) == 2
        nodes, edges = result
        assert type(nodes) is list and type(edges) is list
        assert all(type(e) is tuple and len(e) == 2 for e in edges)


def check_call(fn, args, kwargs):
    """Makes the call; returns the exception type's name or 'ok'."""
    try:
        result = getattr(lg, fn)(*args, **kwargs)
    except EXPECTED as exc:
        if type(exc) is TypeError:
            text = str(exc)
            assert text.startswith("argument '"), (fn, text)
        outcome = type(exc).__name__
    else:
        check_shape(fn, result)
        outcome = "ok"
    assert sys.exc_info() == (None, None, None)
    return outcome


def soak(calls, seed):
    rng = random.Random(seed)
    outcomes = {}
    for i in range(calls):
        fn, args, kwargs = random_call(rng)
        try:
            outcome = check_call(fn, args, kwargs)
        except BaseException:
            print(f"call {i}: {fn} args={args!r:.300} kwargs={kwargs!r:.300}", file=sys.stderr)
            raise
        outcomes[outcome] = outcomes.get(outcome, 0) + 1
    # The module still answers normally afterwards.
    assert lg.descendants_at_depth([("a", "b")], "a", 1) == {"b": 1}
    return outcomes


if __name__ == "__main__":
    calls = int(sys.argv[1]) if len(sys.argv) > 1 else 100_000
    seed = int(sys.argv[2]) if len(sys.argv) > 2 else random.randrange(2**32)
    outcomes = soak(calls, seed)
    print(f"{calls} calls, seed {seed}: " + ", ".join(f"{k} {v}" for k, v in sorted(outcomes.items())))
