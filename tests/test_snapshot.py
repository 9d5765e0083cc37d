"""Snapshots: Graph.save, Graph.load and pickling.

The format is checked byte for byte against a literal model of it; loaded
graphs against the graphs saved, bit for bit; and every damaged or made-up
file must be refused with ValueError, never read out of bounds.
"""

import os
import pickle
import random
import stat
import struct
import threading

import pytest
from hypothesis import given, settings
from hypothesis import strategies as st

from lanternhollow_graph_store import Graph
from model import snapshot as model
from strategies import edge_lists

HEADER = 128


def snapshot_of(g):
    return g.__reduce__()[1][0]


def analyses(g):
    names = g.names()
    some = names[: min(3, len(names))]
    return [
        g.pagerank(),
        g.betweenness(),
        g.strongly_connected(),
        g.batch_descendants(some, 2),
        g.batch_ancestors(some),
        g.subgraph(some, 1),
        g.weakly_connected(),
        [g.successors(x) for x in names],
        [g.predecessors(x) for x in names],
    ]


def same_bits(a, b):
    return pickle.dumps(a) == pickle.dumps(b)


@settings(max_examples=150, deadline=None)
@given(edge_lists(max_size=30))
def test_bytes_are_the_documented_format_and_load_answers_with_the_same_bits(edges):
    g = Graph(edges)
    data = snapshot_of(g)
    assert data == model.write(edges)
    loaded = Graph._from_snapshot(data)
    assert loaded == g and hash(loaded) == hash(g)
    assert same_bits(analyses(loaded), analyses(g))
    # A loaded graph files its names under its own hash: every name is
    # found, and a name it does not hold is not.
    for name in g.names():
        assert name in loaded
        assert loaded.out_degree(name) == g.out_degree(name)
    assert "\x00not a name\x00" not in loaded
    # Saved again, a loaded graph gives the same bytes.
    assert snapshot_of(loaded) == data


def test_save_and_load_files(tmp_path):
    rng = random.Random(5)
    edges = [(f"pkg{rng.randrange(300)}", f"pkg{rng.randrange(300)}") for _ in range(3000)]
    g = Graph(edges)
    path = tmp_path / "deps.lhg"
    g.save(path)
    loaded = Graph.load(path)
    assert loaded == g and same_bits(analyses(loaded), analyses(g))
    assert Graph.load(str(path)) == g and Graph.load(os.fsencode(path)) == g
    assert path.read_bytes() == snapshot_of(g) == pickle.loads(pickle.dumps(g)).__reduce__()[1][0]
    # Saving over a file replaces it, and leaves nothing beside it.
    Graph([("x", "y")]).save(path)
    assert Graph.load(path) == Graph([("x", "y")])
    assert os.listdir(tmp_path) == ["deps.lhg"]
    # The loaded graph outlives the names it was loaded from.
    del g
    assert loaded.descendants_at_depth("pkg1", 1) == Graph(edges).descendants_at_depth("pkg1", 1)
    with pytest.raises(KeyError, match="did you mean"):
        loaded.descendants_at_depth("pkg1x")


def test_save_through_links_and_to_pipes(tmp_path):
    g = Graph(EDGES)
    real = tmp_path / "real.lhg"
    Graph([("x", "y")]).save(real)
    link = tmp_path / "link.lhg"
    link.symlink_to(real)
    # A link is followed: the file it leads to is replaced, the link stays.
    g.save(link)
    assert link.is_symlink() and Graph.load(real) == g
    assert sorted(os.listdir(tmp_path)) == ["link.lhg", "real.lhg"]
    # A pipe (or a device such as /dev/stdout) is written in place, header
    # first: nothing can be written again at its start.
    fifo = tmp_path / "fifo"
    os.mkfifo(fifo)
    got = []

    def drain():
        with open(fifo, "rb") as f:
            got.append(f.read())

    reader = threading.Thread(target=drain)
    reader.start()
    g.save(fifo)
    reader.join()
    assert got == [snapshot_of(g)] and stat.S_ISFIFO(os.stat(fifo).st_mode)
    g.save("/dev/null")
    assert stat.S_ISCHR(os.stat("/dev/null").st_mode)


def test_file_errors(tmp_path):
    g = Graph([("a", "b")])
    with pytest.raises(FileNotFoundError) as info:
        Graph.load(tmp_path / "missing")
    assert info.value.filename == str(tmp_path / "missing")
    with pytest.raises(IsADirectoryError):
        Graph.load(tmp_path)
    with pytest.raises(FileNotFoundError) as info:
        g.save(tmp_path / "no" / "such" / "dir.lhg")
    assert info.value.filename == str(tmp_path / "no" / "such" / "dir.lhg")
    with pytest.raises(IsADirectoryError):
        g.save(tmp_path)
    with pytest.raises(TypeError):
        g.save(42)
    with pytest.raises(ValueError, match="null"):
        Graph.load("a\x00b")
    assert os.listdir(tmp_path) == []
    empty = tmp_path / "empty"
    empty.write_bytes(b"")
    with pytest.raises(ValueError, match="truncated snapshot"):
        Graph.load(empty)
    text = tmp_path / "edges.tsv"
    text.write_text("a\tb\n" * 100)
    with pytest.raises(ValueError, match="not a snapshot"):
        Graph.load(text)
    with pytest.raises(ValueError, match="not a snapshot"):
        Graph.load("/dev/null")


def fuzz_graph():
    return Graph([("a", "b"), ("b", "c"), ("c", "a"), ("\u00e9t\u00e9", "a"), ("", "x"), ("x", "x")])


def test_every_bit_flip_is_refused():
    data = snapshot_of(fuzz_graph())
    for at in range(len(data)):
        for bit in range(8):
            bad = bytearray(data)
            bad[at] ^= 1 << bit
            with pytest.raises(ValueError):
                Graph._from_snapshot(bytes(bad))


def test_every_truncation_and_extension_is_refused(tmp_path):
    data = snapshot_of(fuzz_graph())
    for cut in range(len(data)):
        with pytest.raises(ValueError, match="truncated|not a snapshot"):
            Graph._from_snapshot(data[:cut])
    with pytest.raises(ValueError, match="beyond its end"):
        Graph._from_snapshot(data + bytes(64))
    # From a file, at each section boundary.
    path = tmp_path / "cut.lhg"
    for cut in range(0, len(data), 64):
        path.write_bytes(data[:cut])
        with pytest.raises(ValueError):
            Graph.load(path)


def rewritten(edges, change):
    """A snapshot of Graph(edges), one part changed, with every checksum sound."""
    s = model.Snapshot(edges)
    change(s)
    return s.to_bytes()


EDGES = [("a", "b"), ("b", "c"), ("c", "a"), ("d", "a"), ("a", "a")]


def set_item(name, i, value):
    def change(s):
        getattr(s, name)[i] = value

    return change


HOSTILE = {
    "node count past the file": lambda s: setattr(s, "node_count", 2**31),
    "node count at the end marker": lambda s: setattr(s, "node_count", 2**32 - 1),
    "edge count past the file": lambda s: setattr(s, "edge_count", 2**32 - 1),
    "index of the wrong size": lambda s: setattr(s, "slots", 128),
    "foreign format version": lambda s: setattr(s, "version", 1),
    "other byte order": lambda s: setattr(s, "byte_order", 0x04030201),
    "name end past the bytes": set_item("ends", 2, 1000),
    "name ends falling": set_item("ends", 2, 0),
    "target out of range": set_item("out_target", 0, 4),
    "target far out of range": set_item("out_target", 3, 2**32 - 1),
    "target at the sign bit": set_item("out_target", 2, 2**31),
    "source out of range": set_item("in_source", 1, 7),
    "edge position repeated": set_item("out_edge", 0, 1),
    "edge position out of range": set_item("out_edge", 0, 5),
    "row offsets falling": set_item("out_begin", 2, 0),
    "row offsets past the edges": set_item("in_begin", 4, 6),
    "incoming rows not the outgoing rows'": set_item("in_source", 0, 3),
    "index names a node twice": lambda s: s.index.__setitem__(s.index.index(model.EMPTY), s.index[
        next(i for i, x in enumerate(s.index) if x != model.EMPTY)]),
    "index names a node out of range": lambda s: s.index.__setitem__(
        next(i for i, x in enumerate(s.index) if x != model.EMPTY), 9),
    "index full": lambda s: s.index.__setitem__(slice(None), [model.EMPTY - 1] * len(s.index)),
    "index of one long run": lambda s: s.index.__setitem__(
        slice(None), sorted(s.index, key=lambda x: x == model.EMPTY)),
    "name not UTF-8": lambda s: setattr(s, "name_bytes", b"\xff" + s.name_bytes[1:]),
    "surrogate in a name": lambda s: (setattr(s, "name_bytes", s.name_bytes + b"\xed\xa0\x80"),
                                      s.ends.__setitem__(-1, s.ends[-1] + 3)),
    "name split inside a character": lambda s: (
        setattr(s, "name_bytes", b"\xc3\xa9" + s.name_bytes[1:]),
        s.ends.__setitem__(1, 1), s.ends.__setitem__(-1, len(s.name_bytes))),
}


# Made-up files that are safe to answer from, though not the graph of any
# edge list: loading checks what a query could go wrong on, not more.
LOADS = {"index of one long run", "edge position repeated",
         "incoming rows not the outgoing rows'"}


@pytest.mark.parametrize("case", sorted(HOSTILE))
def test_made_up_snapshots_with_sound_checksums(case):
    data = rewritten(EDGES, HOSTILE[case])
    if case not in LOADS:
        with pytest.raises(ValueError, match="snapshot") as info:
            Graph._from_snapshot(data)
        if case == "foreign format version":
            assert "format version 1; this build reads version 2" in str(info.value)
        return
    g = Graph._from_snapshot(data)
    assert g.names() == ["a", "b", "c", "d"]
    names = [x for x in g.names() if x in g]
    g.pagerank(), g.strongly_connected(), g.weakly_connected(), g.closure_sizes()
    g.subgraph(names, 2), g.batch_descendants(names), g.batch_ancestors(names), g.build_order()
    for x in names:
        g.dominators(x), g.cycle(x), g.why_all(x, names[0])
    if case == "incoming rows not the outgoing rows'":
        # Betweenness keeps each node's predecessors in the room its
        # incoming row gives: it refuses rows that do not agree.
        for call in (g.betweenness, lambda: g.sampled_betweenness(2)):
            with pytest.raises(ValueError, match="incoming rows do not match"):
                call()
    else:
        g.betweenness()
    if case == "index of one long run":
        assert "a" not in g


def test_the_header_and_section_checks_name_what_failed():
    data = bytearray(snapshot_of(fuzz_graph()))
    with pytest.raises(ValueError, match="not a snapshot"):
        Graph._from_snapshot(b"PK\x03\x04" + bytes(200))
    bad = bytearray(data)
    bad[20] ^= 1
    with pytest.raises(ValueError, match="header's checksum"):
        Graph._from_snapshot(bytes(bad))
    bad = bytearray(data)
    bad[-1] ^= 1
    with pytest.raises(ValueError, match="in sources"):
        Graph._from_snapshot(bytes(bad))
    # A file of another version is named as such, though its header is not
    # summed this version's way (the sum may differ from one version to
    # another).
    for version in (1, 3):
        other = bytearray(data)
        struct.pack_into("<I", other, 8, version)
        with pytest.raises(ValueError, match=f"^snapshot of format version {version}; this build reads version 2$"):
            Graph._from_snapshot(bytes(other))
    with pytest.raises(TypeError):
        Graph._from_snapshot("text")


def big_change(case):
    """A fault of `case` in a snapshot of 70,000 names, where it lies well
    past the first few thousand numbers that one pass of the checks takes
    before it lets Ctrl-C in; an index run straddles such a seam."""
    def change(s):
        if case == "ends":
            s.ends[66_000] = 0
        elif case == "split":
            # The name that starts at ends[k] begins with a continuation byte.
            k = 66_000
            b = bytearray(s.name_bytes)
            b[s.ends[k]] = 0x80
            s.name_bytes = bytes(b)
        elif case == "rows":
            s.out_begin[69_000] = 0
        elif case == "index":
            # A run of exactly 4097 occupied slots, half each side of slot
            # 2^16; every other node in every other slot from further on.
            named = [x for x in s.index if x != model.EMPTY]
            s.index[:] = [model.EMPTY] * len(s.index)
            s.index[2**16 - 2049:2**16 + 2048] = named[:4097]
            rest = named[4097:]
            s.index[2**16 + 4096:2**16 + 4096 + 2 * len(rest):2] = rest
        elif case == "twice":
            # A node named again in an empty slot far from its own.
            first = next(x for x in s.index if x != model.EMPTY)
            s.index[max(i for i, x in enumerate(s.index) if x == model.EMPTY)] = first
        else:
            raise AssertionError(case)
    return change


@pytest.mark.parametrize("case, message", [
    ("ends", "name ends out of order"),
    ("split", "a name is not valid UTF-8"),
    ("rows", "rows out of order"),
    ("index", "bad name index"),
    ("twice", "bad name index"),
])
def test_faults_past_the_first_stretch_of_a_check_are_found(case, message):
    edges = [(f"n{i}", f"n{i + 1}") for i in range(70_000)]
    with pytest.raises(ValueError, match=f"^unsound snapshot: {message}$"):
        Graph._from_snapshot(rewritten(edges, big_change(case)))
    # One slot shorter, the same run is allowed.
    if case == "index":
        def shorter(s):
            big_change("index")(s)
            # The last of the run moved past the others.
            s.index[-1] = s.index[2**16 + 2047]
            s.index[2**16 + 2047] = model.EMPTY
        assert Graph._from_snapshot(rewritten(edges, shorter)).node_count == 70_001


def test_characters_across_the_stretches_of_the_name_bytes():
    """The names' bytes are checked as UTF-8 a stretch of 64 KiB at a time:
    a character that a stretch's end cuts is whole in the next, and a fault
    on either side of a seam, or a character cut by the end of the names,
    is found."""
    names = [f"{i}\u20ac\U0001f600\u00e9" * 3 for i in range(12_000)]
    edges = list(zip(names, names[1:]))
    g = Graph(edges)
    assert Graph._from_snapshot(snapshot_of(g)) == g
    name_bytes = model.Snapshot(edges).name_bytes
    seams = [k << 16 for k in range(1, (len(name_bytes) >> 16) + 1)]
    assert len(seams) >= 4
    # Characters do straddle the seams, in the second and third of their bytes.
    assert any(name_bytes[p] & 0xC0 == 0x80 for p in seams)

    def damaged(position, value):
        def change(s):
            b = bytearray(s.name_bytes)
            b[position:position + len(value)] = value
            s.name_bytes = bytes(b)
        return change

    for seam in seams:
        for position in (seam - 1, seam, seam + 1, seam + 3):
            with pytest.raises(ValueError, match="^unsound snapshot: a name is not valid UTF-8$"):
                Graph._from_snapshot(rewritten(edges, damaged(position, b"\xff")))
    # The last name ends with the first byte of a character of three.
    with pytest.raises(ValueError, match="^unsound snapshot: a name is not valid UTF-8$"):
        Graph._from_snapshot(rewritten(edges, damaged(len(name_bytes) - 2, b"a\xe2")))


def test_many_names_and_long_names():
    rng = random.Random(11)
    names = [f"lib{i}-{'x' * rng.randrange(40)}\u00e9" for i in range(5000)]
    edges = [(rng.choice(names), rng.choice(names)) for _ in range(20000)]
    g = Graph(edges)
    loaded = Graph._from_snapshot(snapshot_of(g))
    assert loaded == g
    assert all(loaded.in_degree(x) == g.in_degree(x) for x in names if x in g)
    assert same_bits(loaded.pagerank(), g.pagerank())
    assert loaded.nbytes > 0


class Deps(Graph):
    pass


def test_subclass_state_and_pickle_protocols():
    d = Deps(EDGES)
    d.note = {"release": "bookworm"}
    for protocol in range(pickle.HIGHEST_PROTOCOL + 1):
        back = pickle.loads(pickle.dumps(d, protocol))
        assert type(back) is Deps and back == d and back.note == d.note
    assert type(Deps._from_snapshot(snapshot_of(d))) is Deps


def test_saved_bytes_are_little_endian_counts():
    g = Graph(EDGES)
    data = snapshot_of(g)
    version, order, n, m = struct.unpack_from("<IIQQ", data, 8)
    assert (version, order, n, m) == (2, 0x01020304, 4, 5)


@pytest.mark.parametrize("threads", [1, 2, 3])
def test_loading_on_threads_reports_what_one_thread_reports(tmp_path, threads):
    rng = random.Random(threads)
    g = Graph([(f"n{rng.randrange(500)}", f"n{rng.randrange(500)}") for _ in range(5000)])
    path = tmp_path / "g.lhg"
    g.save(path)
    assert Graph.load(path, threads=threads) == g
    data = bytearray(path.read_bytes())
    # Two sections damaged: the first in file order is named, whichever
    # thread summed it.
    data[-1] ^= 1
    data[200] ^= 1
    path.write_bytes(bytes(data))
    with pytest.raises(ValueError, match="section 'name ends'"):
        Graph.load(path, threads=threads)
    # Made-up content in two sections, sound checksums: the names' fault
    # comes first.
    def change(s):
        s.ends[1] = 10**6
        s.out_target[0] = 99

    path.write_bytes(rewritten(EDGES, change))
    with pytest.raises(ValueError, match="name ends"):
        Graph.load(path, threads=threads)
    with pytest.raises(TypeError):
        Graph.load(path, threads="2")


def test_save_keeps_what_the_caller_had(tmp_path):
    g = Graph(EDGES)
    # The permissions of the file replaced.
    private = tmp_path / "private.lhg"
    private.write_bytes(b"old")
    os.chmod(private, 0o600)
    g.save(private)
    assert stat.S_IMODE(os.stat(private).st_mode) == 0o600 and Graph.load(private) == g
    # A file name at the system's limit: the temporary file has a short name
    # of its own.
    long_name = tmp_path / ("n" * 250)
    g.save(long_name)
    g.save(long_name)
    assert Graph.load(long_name) == g
    # A dangling link: the file it names is made, the link stays.
    link = tmp_path / "link.lhg"
    link.symlink_to("made.lhg")
    g.save(link)
    assert link.is_symlink() and Graph.load(tmp_path / "made.lhg") == g
    assert sorted(os.listdir(tmp_path)) == sorted(["private.lhg", "n" * 250, "link.lhg", "made.lhg"])


def test_loading_a_pipe_is_refused_at_once(tmp_path):
    fifo = tmp_path / "fifo"
    os.mkfifo(fifo)
    # No writer ever comes: the open must not wait for one.
    with pytest.raises(ValueError, match="not a regular file"):
        Graph.load(fifo)
