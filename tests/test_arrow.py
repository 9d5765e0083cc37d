"""Graph.from_arrow: the graph of a table's rows equals Graph(list) of the
same pairs, from every layout of string column, chunking, slicing and
producer; every fault of the data, the stream or the capsule protocol is a
clean exception naming its row; every struct a producer hands over is
released exactly once.

Producers made by hand with ctypes stand for hostile ones: they hand over
exactly the structs a test writes, with counters on their release
callbacks."""

import ctypes
import gc
import random
import signal
import struct
import sys
import threading
import time
from collections import Counter

import pytest
from hypothesis import given, settings
from hypothesis import strategies as st

from exact import bits
from lanternhollow_graph_store import Graph
from strategies import edge_lists

pa = pytest.importorskip("pyarrow")
pc = pytest.importorskip("pyarrow.compute")


def same_graph(got, edges):
    want = Graph(edges)
    assert isinstance(got, Graph)
    assert got == want and hash(got) == hash(want)
    assert got.names() == want.names()
    assert got.edge_count == len(edges)
    assert bits(got.pagerank()) == bits(want.pagerank())
    assert bits(got.betweenness()) == bits(want.betweenness())
    assert got.strongly_connected() == want.strongly_connected()
    for name in want.names()[:3]:
        assert got.successors(name) == want.successors(name)
        assert got.predecessors(name) == want.predecessors(name)


# ----------------------------------------------------------------------------
# Tables of every layout, against Graph(list)

STRING_TYPES = {"utf8": pa.string(), "large_utf8": pa.large_string(), "string_view": pa.string_view()}


def table_of(edges, layout, rng):
    """A table of the pairs in `layout`, in chunks at random places, with
    a column before, between and after the two."""
    kind = STRING_TYPES[layout.removeprefix("dict_")]
    sources = pa.array([s for s, _ in edges], kind)
    targets = pa.array([t for _, t in edges], kind)
    if layout.startswith("dict_"):
        sources = pc.dictionary_encode(sources.cast(pa.string())).cast(pa.dictionary(pa.int16(), kind))
    cuts = sorted(rng.sample(range(len(edges) + 1), min(3, len(edges) + 1)))
    cuts = [0] + cuts + [len(edges)]
    batches = [pa.record_batch({"n": pa.array(range(b - a), pa.int64()), "source": sources[a:b], "x": pa.nulls(b - a),
                                "target": targets[a:b]}) for a, b in zip(cuts, cuts[1:])]
    return pa.Table.from_batches(batches, batches[0].schema)


@pytest.mark.parametrize("layout", ["utf8", "large_utf8", "string_view", "dict_utf8", "dict_string_view"])
@given(edges=edge_lists(), seed=st.integers(0, 2**32))
@settings(max_examples=60)
def test_tables_give_the_graph_of_the_list(layout, edges, seed):
    rng = random.Random(seed)
    table = table_of(edges, layout, rng)
    same_graph(Graph.from_arrow(table, "source", "target"), edges)
    same_graph(Graph.from_arrow(table, 1, -1), edges)
    reversed_edges = [(t, s) for s, t in edges]
    assert Graph.from_arrow(table, source=3, target="source") == Graph(reversed_edges)
    assert Graph.from_arrow(table.to_reader(), "source", "target") == Graph(edges)
    # A slice: the arrays keep their offsets into the chunks.
    a, b = sorted(rng.randint(0, len(edges)) for _ in range(2))
    assert Graph.from_arrow(table.slice(a, b - a), "source", "target") == Graph(edges[a:b])
    assert Graph.from_arrow(table.combine_chunks().slice(a, b - a), "source", "target") == Graph(edges[a:b])


@given(edges=edge_lists())
@settings(max_examples=40)
def test_polars_frames_give_the_graph_of_the_list(edges):
    pl = pytest.importorskip("polars")
    frame = pl.DataFrame({"s": [s for s, _ in edges], "t": [t for _, t in edges]}, schema={"s": pl.String, "t": pl.String})
    same_graph(Graph.from_arrow(frame), edges)
    assert Graph.from_arrow(frame.with_columns(pl.col("s").cast(pl.Categorical)), "s", "t") == Graph(edges)


def test_long_names_and_many_batches():
    rng = random.Random(5)
    pool = ["x" * rng.randint(0, 40) + str(i) + "é" * rng.randint(0, 3) for i in range(3000)]
    edges = [(rng.choice(pool), rng.choice(pool)) for _ in range(20_000)]
    table = pa.table({"s": [s for s, _ in edges], "t": [t for _, t in edges]})
    for kind in STRING_TYPES.values():
        cast = table.cast(pa.schema([("s", kind), ("t", kind)]))
        same_graph(Graph.from_arrow(pa.Table.from_batches(cast.to_batches(max_chunksize=777))), edges)


def test_dictionaries_larger_and_smaller_than_their_batches():
    rng = random.Random(4)
    pool = [f"v{i}" for i in range(1000)]
    edges = [(rng.choice(pool[:50]), rng.choice(pool)) for _ in range(3000)]
    sources = pa.array([s for s, _ in edges]).dictionary_encode()
    targets = pa.DictionaryArray.from_arrays(pa.array([pool.index(t) for _, t in edges], pa.uint16()), pool)
    table = pa.table({"s": sources, "t": targets})
    for a, b in ((0, 3000), (10, 12), (2990, 3000), (5, 5)):
        batches = table.slice(a, b - a).to_batches(max_chunksize=7)
        assert Graph.from_arrow(pa.Table.from_batches(batches, table.schema)) == Graph(edges[a:b])


def test_empty_tables_and_subclasses():
    empty = pa.table({"s": pa.array([], pa.string()), "t": pa.array([], pa.string())})
    assert Graph.from_arrow(empty) == Graph([])
    assert Graph.from_arrow(pa.RecordBatchReader.from_batches(empty.schema, [])) == Graph([])

    class Mine(Graph):
        pass

    got = Mine.from_arrow(pa.table({"s": ["a"], "t": ["b"]}))
    assert type(got) is Mine and got == Graph([("a", "b")])


# ----------------------------------------------------------------------------
# Faults of the data and of the arguments

TABLE = pa.table({"id": [1, 2, 3], "s": ["a", "b", "c"], "t": ["b", "c", None], "raw": [b"x", b"y", b"z"]})


@pytest.mark.parametrize("args, error, message", [
    ((0, 1), TypeError, "column 'id' (position 0) has Arrow format 'l', not strings"),
    (("raw", "s"), TypeError, "column 'raw' (position 3) has Arrow format 'z', not strings"),
    (("s", "nope"), KeyError, "no column named 'nope'"),
    (("s", 4), IndexError, "no column at position 4: the stream has 4 columns"),
    (("s", -5), IndexError, "no column at position -5"),
    (("s", 2**70), IndexError, "no column at position 1180591620717411303424"),
    (("s", 1.0), TypeError, "argument 'target': a column position (int) or name (str), not 'float'"),
    ((True, "s"), TypeError, "argument 'source': a column position (int) or name (str), not 'bool'"),
    (("s", "t"), ValueError, "column 't' (position 2) is null at row 2"),
])
def test_bad_columns(args, error, message):
    with pytest.raises(error) as info:
        Graph.from_arrow(TABLE, *args)
    assert message in str(info.value)


def test_nulls_and_bad_utf8_are_reported_by_row_over_the_whole_stream():
    batches = [pa.record_batch({"s": ["a"] * 5, "t": ["b"] * 5})] * 3
    batches.append(pa.record_batch({"s": ["a", "b", None], "t": ["c", "d", "e"]}))
    with pytest.raises(ValueError, match=r"^column 's' \(position 0\) is null at row 17$"):
        Graph.from_arrow(pa.Table.from_batches(batches))
    # Bytes that no str has, put into a utf8 column without validation.
    data = b"ok" + b"\xc3\x28" + b"fine"
    bad = pa.Array.from_buffers(pa.string(), 3, [None, pa.py_buffer(struct.pack("<4i", 0, 2, 4, 8)), pa.py_buffer(data)])
    good = pa.array(["x", "y", "z"])
    table = pa.Table.from_batches([pa.record_batch({"s": good, "t": good}), pa.record_batch({"s": good, "t": bad})])
    with pytest.raises(ValueError, match=r"^column 't' \(position 1\), row 4: not valid UTF-8$"):
        Graph.from_arrow(table)


def utf8_samples(rng):
    pieces = [b"a", b"\x00", "é".encode(), "中".encode(), "😀".encode(), b"\x80", b"\xc0\xaf", b"\xe0\x80\xaf",
              b"\xed\xa0\x80", b"\xed\x9f\xbf", b"\xf4\x90\x80\x80", b"\xf4\x8f\xbf\xbf", b"\xf0\x8f\xbf\xbf",
              b"\xf5", b"\xff", b"\xc3", b"\xe2\x82", b"\xf0\x9f\x98"]
    for _ in range(3000):
        yield b"".join(rng.choice(pieces) for _ in range(rng.randint(0, 5))) + b"abcdefgh" * rng.randint(0, 2)


def unchecked(value):
    """A utf8 and a string view column of one value, whatever its bytes."""
    offsets = pa.py_buffer(struct.pack("<2i", 0, len(value)))
    yield pa.Array.from_buffers(pa.string(), 1, [None, offsets, pa.py_buffer(value)])
    view = struct.pack("<i12s", len(value), value) if len(value) <= 12 else \
        struct.pack("<i4sii", len(value), value[:4], 0, 0)
    yield pa.Array.from_buffers(pa.string_view(), 1, [None, pa.py_buffer(view), pa.py_buffer(value)])


def test_utf8_check_agrees_with_the_interpreter():
    rng = random.Random(8)
    for value in utf8_samples(rng):
        for column in unchecked(value):
            table = pa.table({"s": column, "t": pa.array(["t"])})
            try:
                text = value.decode()
            except UnicodeDecodeError:
                with pytest.raises(ValueError, match="row 0: not valid UTF-8"):
                    Graph.from_arrow(table)
            else:
                assert Graph.from_arrow(table).names() == [text, "t"]


# ----------------------------------------------------------------------------
# The capsule protocol

PyCapsule_New = ctypes.pythonapi.PyCapsule_New
PyCapsule_New.restype = ctypes.py_object
PyCapsule_New.argtypes = [ctypes.c_void_p, ctypes.c_char_p, ctypes.c_void_p]
CAPSULE_NAME = b"arrow_array_stream"


class Exporter:
    def __init__(self, result):
        self.result = result

    def __arrow_c_stream__(self, requested_schema=None):
        if isinstance(self.result, BaseException):
            raise self.result
        return self.result


def test_objects_that_do_not_export_a_stream():
    with pytest.raises(TypeError, match="takes an object with __arrow_c_stream__.*not 'list'"):
        Graph.from_arrow([("a", "b")])
    with pytest.raises(ZeroDivisionError):
        Graph.from_arrow(Exporter(ZeroDivisionError()))
    with pytest.raises(TypeError, match="returned 'int', not a PyCapsule named 'arrow_array_stream'"):
        Graph.from_arrow(Exporter(3))
    schema_capsule = TABLE.schema.__arrow_c_schema__()
    with pytest.raises(TypeError, match="returned a PyCapsule named 'arrow_schema', not 'arrow_array_stream'"):
        Graph.from_arrow(Exporter(schema_capsule))


# ----------------------------------------------------------------------------
# Hostile producers, by hand


class ArrowSchema(ctypes.Structure):
    pass


class ArrowArray(ctypes.Structure):
    pass


class ArrowArrayStream(ctypes.Structure):
    pass


SCHEMA_RELEASE = ctypes.CFUNCTYPE(None, ctypes.POINTER(ArrowSchema))
ARRAY_RELEASE = ctypes.CFUNCTYPE(None, ctypes.POINTER(ArrowArray))
ArrowSchema._fields_ = [
    ("format", ctypes.c_char_p), ("name", ctypes.c_char_p), ("metadata", ctypes.c_char_p), ("flags", ctypes.c_int64),
    ("n_children", ctypes.c_int64), ("children", ctypes.POINTER(ctypes.POINTER(ArrowSchema))),
    ("dictionary", ctypes.POINTER(ArrowSchema)), ("release", SCHEMA_RELEASE), ("private_data", ctypes.c_void_p)]
ArrowArray._fields_ = [
    ("length", ctypes.c_int64), ("null_count", ctypes.c_int64), ("offset", ctypes.c_int64),
    ("n_buffers", ctypes.c_int64), ("n_children", ctypes.c_int64), ("buffers", ctypes.POINTER(ctypes.c_void_p)),
    ("children", ctypes.POINTER(ctypes.POINTER(ArrowArray))), ("dictionary", ctypes.POINTER(ArrowArray)),
    ("release", ARRAY_RELEASE), ("private_data", ctypes.c_void_p)]
GET_SCHEMA = ctypes.CFUNCTYPE(ctypes.c_int, ctypes.POINTER(ArrowArrayStream), ctypes.POINTER(ArrowSchema))
GET_NEXT = ctypes.CFUNCTYPE(ctypes.c_int, ctypes.POINTER(ArrowArrayStream), ctypes.POINTER(ArrowArray))
GET_LAST_ERROR = ctypes.CFUNCTYPE(ctypes.c_void_p, ctypes.POINTER(ArrowArrayStream))
STREAM_RELEASE = ctypes.CFUNCTYPE(None, ctypes.POINTER(ArrowArrayStream))
ArrowArrayStream._fields_ = [("get_schema", GET_SCHEMA), ("get_next", GET_NEXT), ("get_last_error", GET_LAST_ERROR),
                             ("release", STREAM_RELEASE), ("private_data", ctypes.c_void_p)]

NO_RELEASE = ARRAY_RELEASE()


class Producer:
    """A stream of the given batches under a schema of the given column
    formats, each struct's releases counted. A batch is an ArrowArray
    made by `batch`; `fail` is (call, code) for a callback that fails."""

    def __init__(self, batches, formats=(b"u", b"u"), names=(b"s", b"t"), top=b"+s", fail=None, message=b"it broke",
                 dictionaries=None):
        self.keep = []
        self.released = Counter()
        self.batches = list(batches)
        self.fail = fail
        self.message = ctypes.create_string_buffer(message) if message is not None else None
        self.calls = 0
        children = []
        for k, (fmt, name) in enumerate(zip(formats, names)):
            child = ArrowSchema(format=fmt, name=name, release=SCHEMA_RELEASE(lambda p: None))
            if dictionaries and dictionaries[k]:
                values = ArrowSchema(format=dictionaries[k], name=b"values", release=child.release)
                self.keep.append(values)
                child.dictionary = ctypes.pointer(values)
            children.append(child)
        self.keep += children
        table = (ctypes.POINTER(ArrowSchema) * len(children))(*[ctypes.pointer(c) for c in children])
        self.keep.append(table)
        self.schema = ArrowSchema(format=top, name=b"", n_children=len(children), children=table)
        self.callbacks = [SCHEMA_RELEASE(self._release_schema), ARRAY_RELEASE(self._release_array),
                          GET_SCHEMA(self._get_schema), GET_NEXT(self._get_next), GET_LAST_ERROR(self._last_error),
                          STREAM_RELEASE(self._release_stream)]
        self.stream = ArrowArrayStream(get_schema=self.callbacks[2], get_next=self.callbacks[3],
                                       get_last_error=self.callbacks[4], release=self.callbacks[5])

    def __arrow_c_stream__(self, requested_schema=None):
        return PyCapsule_New(ctypes.addressof(self.stream), CAPSULE_NAME, None)

    def _release_schema(self, p):
        self.released["schema"] += 1
        p.contents.release = SCHEMA_RELEASE()

    def _release_array(self, p):
        self.released["array"] += 1
        p.contents.release = ARRAY_RELEASE()

    def _release_stream(self, p):
        self.released["stream"] += 1
        p.contents.release = STREAM_RELEASE()

    def _get_schema(self, stream, out):
        if self.fail and self.fail[0] == "get_schema":
            return self.fail[1]
        ctypes.memmove(out, ctypes.addressof(self.schema), ctypes.sizeof(ArrowSchema))
        out.contents.release = self.callbacks[0]
        return 0

    def _get_next(self, stream, out):
        if self.fail and self.fail[0] == "get_next" and self.calls == self.fail[2]:
            return self.fail[1]
        if self.fail and self.fail[0] == "raise" and self.calls == self.fail[2]:
            raise RuntimeError("raised in get_next")
        self.calls += 1
        if not self.batches:
            out.contents.release = ARRAY_RELEASE()
            return 0
        array = self.batches.pop(0)
        self.keep.append(array)
        ctypes.memmove(out, ctypes.addressof(array), ctypes.sizeof(ArrowArray))
        out.contents.release = self.callbacks[1]
        return 0

    def _last_error(self, stream):
        return ctypes.addressof(self.message) if self.message is not None else None

    def handed_back(self):
        """The stream was released once, nothing more often than it was
        handed over, and the capsule's own struct was left released when
        the stream was moved out of it."""
        assert self.released["stream"] == 1
        assert self.released["schema"] <= 1
        assert self.released["array"] <= self.calls
        assert not self.stream.release


def buffers(*items):
    """A buffer table; each item bytes (kept alive by the table), an int
    address, or None."""
    kept = [ctypes.create_string_buffer(b, len(b)) if isinstance(b, bytes) else b for b in items]
    table = (ctypes.c_void_p * max(1, len(items)))(
        *[ctypes.addressof(b) if isinstance(b, ctypes.Array) else b for b in kept])
    table._kept = kept
    return table


def array(length, bufs, n_buffers=None, offset=0, null_count=0, children=(), dictionary=None):
    """An array of the given buffer table (None: a null table pointer)."""
    a = ArrowArray(length=length, null_count=null_count, offset=offset,
                   n_buffers=len(bufs._kept) if n_buffers is None else n_buffers, n_children=len(children),
                   release=ARRAY_RELEASE(lambda p: None))
    if bufs is not None:
        a.buffers = bufs
    a._kept = [bufs, children, dictionary]
    if children:
        table = (ctypes.POINTER(ArrowArray) * len(children))(*[ctypes.pointer(c) if c is not None else None
                                                               for c in children])
        a.children = table
        a._kept.append(table)
    if dictionary is not None:
        a.dictionary = ctypes.pointer(dictionary)
    return a


NULL = object()


def utf8(names, offsets=None, data=None, validity=None, **kw):
    """A utf8 column of the names, or of the given offsets and data
    (NULL: a null data buffer)."""
    encoded = [n.encode() for n in names]
    if offsets is None:
        offsets = [0]
        for e in encoded:
            offsets.append(offsets[-1] + len(e))
    raw = b"".join(encoded) if data is None else None if data is NULL else data
    return array(len(offsets) - 1, buffers(validity, struct.pack(f"<{len(offsets)}i", *offsets), raw), **kw)


def views(names, data=b"", variadic=1, sizes=None, bad=None, **kw):
    """A string view column: names of up to 12 bytes inline, longer ones as
    (length, prefix, buffer, offset) into one data buffer; `bad` replaces a
    view by raw fields."""
    packed = []
    for k, n in enumerate(names):
        e = n.encode()
        if bad and k in bad:
            packed.append(struct.pack("<i4sii", *bad[k]))
        elif len(e) <= 12:
            packed.append(struct.pack("<i12s", len(e), e))
        else:
            packed.append(struct.pack("<i4sii", len(e), e[:4], 0, len(data)))
            data += e
    datas = [data] * variadic
    sizes = struct.pack(f"<{variadic}q", *([len(data)] * variadic if sizes is None else sizes))
    return array(len(names), buffers(None, b"".join(packed), *datas, sizes), **kw)


def batch(*columns, length=None, **kw):
    n = columns[0].length if length is None else length
    return array(n, buffers(kw.pop("validity", None)), children=columns, **kw)


def run(producer, *args):
    try:
        return Graph.from_arrow(producer, *args)
    finally:
        producer.handed_back()


def test_a_well_made_producer():
    p = Producer([batch(utf8(["a", "b"]), utf8(["b", ""])), batch(utf8(["c"]), utf8(["a"]))])
    assert run(p) == Graph([("a", "b"), ("b", ""), ("c", "a")])
    assert p.released == Counter(schema=1, array=2, stream=1)
    # Views, inline and not, and a slice of the batch by its own offset.
    long = "a name longer than twelve bytes"
    p = Producer([batch(views(["x", long, "y"]), views([long, "z", "é" * 7]), offset=1, length=2)],
                 formats=(b"vu", b"vu"))
    assert run(p) == Graph([(long, "z"), ("y", "é" * 7)])
    # Empty names need no data buffer at all.
    p = Producer([batch(utf8(["", ""], data=NULL), utf8(["", ""], offsets=[5, 5, 5], data=NULL))])
    assert run(p) == Graph([("", ""), ("", "")])
    # A dictionary of utf8 values under int8 indices.
    values = utf8(["p", "q"])
    indices = array(3, buffers(None, struct.pack("<3b", 1, 0, 1)), dictionary=values)
    p = Producer([batch(indices, utf8(["x", "y", "z"]))], formats=(b"c", b"u"), dictionaries=[b"u", None])
    assert run(p) == Graph([("q", "x"), ("p", "y"), ("q", "z")])


VALID_BITS = bytes([0b11111011])
BATCH_FAULTS = {
    "offsets out of order": (lambda: batch(utf8(["a", "b", "c"], offsets=[0, 2, 1, 3], data=b"abc"), utf8(["x"] * 3)),
                             r"column 's' \(position 0\), row 1: offsets 2 to 1 out of order"),
    "offsets past the last": (lambda: batch(utf8(["a", "b"], offsets=[0, 9, 2], data=b"ab"), utf8(["x"] * 2)),
                              r"column 's' \(position 0\), row 0: offsets 0 to 9 out of order"),
    "negative first offset": (lambda: batch(utf8(["a"], offsets=[-1, 1], data=b"ab"), utf8(["x"])),
                              r"offsets -1 to 1 of its rows are not within 0 to its last offset, 1"),
    "last offset below": (lambda: batch(utf8(["a", "b"], offsets=[0, 1, 0], data=b"ab"), utf8(["x"] * 2)),
                          r"row 0: offsets 0 to 1 out of order"),
    "no data buffer": (lambda: batch(array(1, buffers(None, struct.pack("<2i", 0, 1), None)), utf8(["x"])),
                       "no data buffer"),
    "two buffers": (lambda: batch(array(1, buffers(None, struct.pack("<2i", 0, 1))), utf8(["x"])),
                    "2 buffers where its type has 3"),
    "null offsets": (lambda: batch(array(1, buffers(None, None, b"a")), utf8(["x"])), "no offsets buffer"),
    "no buffer table": (lambda: batch(array(1, None, n_buffers=3), utf8(["x"])), "no buffer table"),
    "negative length": (lambda: batch(utf8(["a"]), utf8(["x"]), length=-1), "a negative length or offset"),
    "short column": (lambda: batch(utf8(["a"]), utf8(["x", "y"]), length=2), "1 rows where the batch has 2"),
    "offset overflow": (lambda: batch(utf8(["a"]), utf8(["x"]), offset=2**63 - 1), "overflow"),
    "null count without bits": (lambda: batch(utf8(["a"], null_count=1), utf8(["x"])),
                                "a null count of 1 but no validity buffer"),
    "null source": (lambda: batch(utf8(["a"] * 8, validity=VALID_BITS, null_count=1), utf8(["x"] * 8)),
                    r"column 's' \(position 0\) is null at row 2"),
    "null row": (lambda: batch(utf8(["a"] * 8), utf8(["x"] * 8), validity=VALID_BITS, null_count=-1),
                 r"^row 2 is null$"),
    "three columns": (lambda: batch(utf8(["a"]), utf8(["x"]), utf8(["y"])), "3 columns where the schema has 2"),
    "missing column": (lambda: batch(utf8(["a"]), None), "lacks a column"),
    "struct buffers": (lambda: array(1, buffers(None, None), children=(utf8(["a"]), utf8(["x"]))),
                       "2 buffers where its type has 1"),
    "bad utf8": (lambda: batch(utf8(["a"]), utf8(["a"], data=b"\xff")), r"row 0: not valid UTF-8"),
}


@pytest.mark.parametrize("fault", sorted(BATCH_FAULTS))
def test_faults_of_a_batch(fault):
    make, message = BATCH_FAULTS[fault]
    p = Producer([make(), batch(utf8(["never"]), utf8(["read"]))])
    with pytest.raises(ValueError, match=message):
        run(p)
    assert p.released == Counter(schema=1, array=1, stream=1)


def model_utf8(offsets, data, col_offset, col_length, first, count):
    """The names a utf8 column gives for rows first .. first + count - 1 of
    a batch, read literally, or None where the column must be refused."""
    if col_length < first + count:
        return None
    begin = col_offset + first
    lo, hi, last = offsets[begin], offsets[begin + count], offsets[col_offset + col_length]
    if lo < 0 or hi < lo or last < hi:
        return None
    names = []
    for p in range(begin, begin + count):
        a, b = offsets[p], offsets[p + 1]
        if b < a or b > hi:
            return None
        try:
            names.append(data[a:b].decode())
        except UnicodeDecodeError:
            return None
    return names


def test_random_offsets_against_a_literal_reading():
    rng = random.Random(11)
    pieces = [b"a", b"b", b"\xc3\xa9", b"\xff", b""]
    for _ in range(400):
        col_length = rng.randint(0, 6)
        col_offset = rng.randint(0, 3)
        offsets = [rng.randint(-2, 12) if rng.random() < 0.3 else 2 * k for k in range(col_offset + col_length + 1)]
        data = b"".join(rng.choice(pieces) for _ in range(16))
        first = rng.randint(0, 3)
        count = rng.randint(0, 4)
        # Bytes up to the largest offset exist, whatever the offsets claim.
        data = data.ljust(max(offsets + [0]), b"z")
        column = array(col_length, buffers(None, struct.pack(f"<{len(offsets)}i", *offsets), data),
                       offset=col_offset)
        other = utf8([f"t{k}" for k in range(first + count)])
        p = Producer([batch(column, other, offset=first, length=count)])
        want = model_utf8(offsets, data, col_offset, col_length, first, count)
        if want is None:
            with pytest.raises(ValueError, match=r"^column 's' \(position 0\)"):
                run(p)
        else:
            assert run(p) == Graph(list(zip(want, [f"t{k}" for k in range(first, first + count)])))
        assert p.released == Counter(schema=1, array=1, stream=1)


LONG = "longer than twelve"
VIEW_FAULTS = {
    "buffer index": ({1: (len(LONG), b"long", 1, 0)}, {}, "a view into data buffer 1 of 1"),
    "negative index": ({1: (len(LONG), b"long", -1, 0)}, {}, "a view into data buffer -1 of 1"),
    "past the buffer": ({1: (len(LONG), b"long", 0, 5)}, {}, "a view of bytes 5 to 23 of a data buffer of 18"),
    "negative length": ({1: (-3, b"long", 0, 0)}, {}, "a view of negative length"),
    "prefix": ({1: (len(LONG), b"lonG", 0, 0)}, {}, "a view whose prefix differs from its bytes"),
    "stated size": ({}, {"sizes": [4]}, "a view of bytes 0 to 18 of a data buffer of 4"),
}


@pytest.mark.parametrize("fault", sorted(VIEW_FAULTS))
def test_faults_of_string_views(fault):
    bad, kw, message = VIEW_FAULTS[fault]
    column = views(["a", "b"], data=LONG.encode(), bad=bad) if bad else views(["a", LONG], **kw)
    p = Producer([batch(column, views(["x", "y"]))], formats=(b"vu", b"vu"))
    with pytest.raises(ValueError, match=r"column 's' \(position 0\), row 1: " + message):
        run(p)
    bare = array(1, buffers(None, struct.pack("<i12s", 1, b"a")))
    with pytest.raises(ValueError, match="2 buffers where a string view has at least 3"):
        run(Producer([batch(bare, views(["x"]))], formats=(b"vu", b"vu")))
    sizeless = array(1, buffers(None, struct.pack("<i12s", 1, b"a"), b"data", None))
    with pytest.raises(ValueError, match="no buffer of data buffer sizes"):
        run(Producer([batch(sizeless, views(["x"]))], formats=(b"vu", b"vu")))


def test_faults_of_dictionaries():
    values = utf8(["p", "", "q"])

    def encoded(*indices, fmt="<{}b", dictionary=values):
        return array(len(indices), buffers(None, struct.pack(fmt.format(len(indices)), *indices)),
                     dictionary=dictionary)

    def attempt(column, message):
        p = Producer([batch(column, utf8(["x"] * column.length))], formats=(b"c", b"u"), dictionaries=[b"u", None])
        with pytest.raises(ValueError, match=message):
            run(p)

    attempt(encoded(0, 3), r"row 1: dictionary index 3 outside a dictionary of 3")
    attempt(encoded(-1), r"row 0: dictionary index -1 outside a dictionary of 3")
    attempt(encoded(0, dictionary=None), "dictionary-encoded without a dictionary")
    with_null = utf8(["p", "q"], validity=bytes([0b01]), null_count=1)
    attempt(encoded(0, 1, dictionary=with_null), r"column 's' \(position 0\) is null at row 1")
    bad_value = utf8(["p", "q"], data=b"p\xff")
    attempt(encoded(0, 1, dictionary=bad_value), r"row 1: not valid UTF-8")
    # A bad value that no row refers to is never read as a name.
    p = Producer([batch(encoded(0, dictionary=bad_value), utf8(["x"]))], formats=(b"c", b"u"),
                 dictionaries=[b"u", None])
    assert run(p) == Graph([("p", "x")])


@pytest.mark.parametrize("formats, dictionaries, top, message", [
    ((b"i", b"u"), None, b"+s", r"column 's' \(position 0\) has Arrow format 'i', not strings"),
    ((b"u", b"vz"), None, b"+s", r"column 't' \(position 1\) has Arrow format 'vz', not strings"),
    ((b"i", b"u"), [b"z", None], b"+s", "is dictionary-encoded with values of Arrow format 'z', not strings"),
    ((b"u", b"u"), None, b"+l", r"the Arrow stream's rows have format '\+l', not a struct of columns"),
])
def test_schemas_that_are_no_table_of_strings(formats, dictionaries, top, message):
    p = Producer([], formats=formats, top=top, dictionaries=dictionaries)
    with pytest.raises(TypeError, match=message):
        run(p)
    assert p.released == Counter(schema=1, stream=1)


def test_errors_reported_by_the_stream():
    p = Producer([batch(utf8(["a"]), utf8(["b"]))], fail=("get_next", 5, 1), message=b"disk on fire")
    with pytest.raises(OSError, match=r"the Arrow stream's get_next failed \(error 5\): disk on fire") as info:
        run(p)
    assert info.value.errno == 5 and p.released == Counter(schema=1, array=1, stream=1)
    p = Producer([], fail=("get_schema", 2), message=None)
    with pytest.raises(FileNotFoundError, match=r"get_schema failed \(error 2\)$"):
        run(p)
    assert p.released == Counter(stream=1)
    # A callback that raises: ctypes reports it as unraisable and returns
    # whatever its return register held, with nothing handed over: an
    # error code, or the end of the stream.
    seen = []
    previous, sys.unraisablehook = sys.unraisablehook, seen.append
    try:
        p = Producer([batch(utf8(["a"]), utf8(["b"])), batch(utf8(["c"]), utf8(["d"]))], fail=("raise", 0, 1))
        try:
            got = run(p)
        except OSError as error:
            assert "the Arrow stream's get_next failed" in str(error)
        else:
            assert got == Graph([("a", "b")])
    finally:
        sys.unraisablehook = previous
    assert seen and isinstance(seen[0].exc_value, RuntimeError)


def test_a_python_reader_that_raises():
    schema = pa.schema([("s", pa.string()), ("t", pa.string())])

    def batches():
        yield pa.record_batch({"s": ["a"], "t": ["b"]})
        raise LookupError("the source ran dry")

    with pytest.raises(OSError, match="the source ran dry"):
        Graph.from_arrow(pa.RecordBatchReader.from_batches(schema, batches()))


def test_a_capsule_is_read_once():
    p = Producer([batch(utf8(["a"]), utf8(["b"]))])
    capsule = p.__arrow_c_stream__()
    assert Graph.from_arrow(Exporter(capsule)) == Graph([("a", "b")])
    assert not p.stream.release
    with pytest.raises(ValueError, match="the Arrow stream of this capsule was already released"):
        Graph.from_arrow(Exporter(capsule))
    assert p.released["stream"] == 1


def test_releases_are_balanced_over_many_calls():
    for k in range(200):
        p = Producer([batch(utf8(["a", str(k)]), utf8(["b", "c"]))] * 3)
        assert run(p).edge_count == 6
        assert p.released == Counter(schema=1, array=3, stream=1)
    gc.collect()


# ----------------------------------------------------------------------------
# Ctrl-C


class Stop(BaseException):
    pass


@pytest.mark.slow
@pytest.mark.parametrize("chunk", [None, 50])
def test_ctrl_c_ends_the_call_soon(chunk):
    n = 2_000_000 if chunk is None else 400_000
    names = pa.array([f"node-{i}-{i * 7919 % 1000003}" for i in range(n)])
    table = pa.table({"s": names, "t": pc.utf8_reverse(names)})
    source = table if chunk is None else pa.RecordBatchReader.from_batches(
        table.schema, iter(table.to_batches(max_chunksize=chunk)))
    landed = []

    def handler(signum, frame):
        landed.append(time.perf_counter())
        raise Stop

    previous = signal.signal(signal.SIGALRM, handler)
    try:
        signal.setitimer(signal.ITIMER_REAL, 0.1)
        with pytest.raises(Stop):
            Graph.from_arrow(source)
            time.sleep(1)
        ended = time.perf_counter()
    finally:
        signal.setitimer(signal.ITIMER_REAL, 0)
        signal.signal(signal.SIGALRM, previous)
    assert ended - landed[0] < 0.1
    assert Graph.from_arrow(table.slice(0, 10)) == Graph(list(zip(names[:10].to_pylist(),
                                                                    pc.utf8_reverse(names[:10]).to_pylist())))


def test_threads_share_a_table():
    rng = random.Random(2)
    edges = [(f"n{rng.randrange(500)}", f"n{rng.randrange(500)}") for _ in range(5000)]
    table = pa.table({"s": [s for s, _ in edges], "t": [t for _, t in edges]})
    want = Graph(edges)
    results = []
    threads = [threading.Thread(target=lambda: results.append(Graph.from_arrow(table) == want)) for _ in range(4)]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    assert results == [True] * 4


def test_dictionary_values_read_by_index_stay_within_their_rows():
    # Values read by index (a dictionary larger than its batch) are checked
    # against the first of the dictionary's offsets as well as its last: an
    # offset before it would read bytes that are no value's.
    import struct

    blob = b"ab" + b"z" * 30
    for bad in (-24, -(2**30)):
        offsets = pa.py_buffer(struct.pack("<4i", 0, 1, bad, 2))
        dictionary = pa.Array.from_buffers(pa.string(), 3, [None, offsets, pa.py_buffer(blob)])
        column = pa.DictionaryArray.from_arrays(pa.array([2], pa.int32()), dictionary)
        with pytest.raises(ValueError, match="out of order"):
            Graph.from_arrow(pa.table({"source": column, "target": pa.array(["t"])}))


def test_a_dictionary_value_is_checked_when_a_row_names_it_whatever_the_batch_length():
    # Whether the values are read ahead (a batch at least as long as its
    # dictionary) or by index, a value whose offsets are out of order is a
    # fault only for a row that names it.
    for rows in range(1, 6):
        for named in (0, 1):
            values = utf8(["p", "q", "r"], offsets=[0, 1, 0, 3], data=b"pqr")
            indices = array(rows, buffers(None, struct.pack(f"<{rows}b", *([0] * (rows - 1) + [named]))),
                            dictionary=values)
            p = Producer([batch(indices, utf8(["x"] * rows))], formats=(b"c", b"u"), dictionaries=[b"u", None])
            if named == 0:
                assert run(p) == Graph([("p", "x")] * rows)
            else:
                with pytest.raises(ValueError, match=r"column 's' \(position 0\)'s dictionary, value 1: "
                                                     r"offsets 1 to 0 out of order"):
                    run(p)
            assert p.released == Counter(schema=1, array=1, stream=1)
