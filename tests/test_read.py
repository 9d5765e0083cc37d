"""Graph.read against the command's own reader, read_edges, as the literal
model: random edge-list files, plain and gzipped, must give the graph that
Graph(read_edges(path)) gives; every bad input its message and line; damaged
gzip streams either what Python's gzip module decodes or ValueError."""

import errno
import gzip
import os
import random
import signal
import subprocess
import sys
import time
import zlib

import pytest

from lanternhollow_graph_cli.edges import InputError, read_edges
from lanternhollow_graph_store import Graph

# Every code point that str.strip() drops.
SPACES = [chr(c) for c in range(0x110000) if chr(c).strip() == ""]
# Those a name may be padded with in any line: not the newline, and not
# the tab, which would split the line there.
PADDING = [c for c in SPACES if c not in "\n\t"]
NAMES = ["a", "b", "libc6", "python3-yaml", "x y", "é", "日本語", "😀", "a\u200bb", "#x", "a#b", "\ufeffbom",
         "q\x01r", "semi;colon", "'quoted'", '"dq"', "\\", "a\rb", "very-long-" + "n" * 300]


def padded(rng, name):
    pad = lambda: "".join(rng.choice(PADDING) for _ in range(rng.choice([0, 0, 0, 1, 2])))
    return pad() + name + pad()


def random_file(rng, pairs):
    """The text of an edge-list file in every form read_edges reads, and
    the names it uses."""
    lines = []
    for _ in range(pairs):
        kind = rng.random()
        if kind < 0.06:
            lines.append(rng.choice(["", " ", "\t", "\u3000 \x0b", "\x1c"]))
            continue
        if kind < 0.1:
            lines.append("#" + rng.choice(NAMES) + ",\t" + rng.choice(NAMES))
            continue
        source, target = rng.choice(NAMES), rng.choice(NAMES)
        if rng.random() < 0.1:
            target = source  # self loops
        tab = rng.random() < 0.5
        sep = "\t" if tab else ","
        fields = [padded(rng, source), padded(rng, target)]
        if not tab:
            fields = [f.replace(",", "").replace("\t", "") or "z" for f in fields]
        if rng.random() < 0.2:
            fields.append(rng.choice(NAMES) + (",x" if tab else ""))
        line = sep.join(fields)
        if line.startswith("#") or not line.strip():
            line = "z" + line
        lines.append(line)
    ends = [rng.choice(["\n", "\n", "\n", "\r\n", "\r\r\n"]) for _ in lines]
    text = "".join(line + end for line, end in zip(lines, ends))
    if rng.random() < 0.3:
        text = "\ufeff" + text
    if rng.random() < 0.3:
        text = text.rstrip("\n")
    return text


def write(tmp_path, data, name="edges.tsv"):
    path = tmp_path / name
    path.write_bytes(data)
    return path


def gzipped(data, rng):
    """gzip in several forms: one member at a level, or several members,
    with zero padding between and after them as gzip may leave."""
    if rng.random() < 0.5:
        return gzip.compress(data, compresslevel=rng.choice([0, 1, 6, 9]))
    cuts = sorted(rng.sample(range(len(data) + 1), min(3, len(data) + 1)))
    parts = [data[a:b] for a, b in zip([0] + cuts, cuts + [len(data)])]
    return b"".join(gzip.compress(p, compresslevel=rng.choice([1, 9])) + b"\0" * rng.choice([0, 0, 3]) for p in parts)


def same(g, model):
    assert g == model
    assert g.names() == model.names()
    assert hash(g) == hash(model)
    pr, pr_model = g.pagerank(), model.pagerank()
    assert [x.hex() for x in pr.values()] == [x.hex() for x in pr_model.values()]
    for name in model.names()[:20]:
        assert g.successors(name) == model.successors(name)
        assert g.descendants_at_depth(name) == model.descendants_at_depth(name)


@pytest.mark.parametrize("seed", range(40))
def test_random_files_read_as_the_command_reads_them(tmp_path, seed):
    rng = random.Random(seed)
    data = random_file(rng, rng.choice([0, 1, 5, 60, 400])).encode()
    for blob, name in [(data, "edges.tsv"), (gzipped(data, rng), "edges.txt")]:
        path = write(tmp_path, blob, name)
        same(Graph.read(path), Graph(read_edges(str(path))))


@pytest.mark.parametrize("seed", range(8))
def test_header_skips_the_first_line_whatever_it_holds(tmp_path, seed):
    rng = random.Random(seed)
    # A byte order mark counts only at the start of the file, before the header.
    data = random_file(rng, rng.choice([0, 1, 5, 60])).encode().removeprefix(b"\xef\xbb\xbf")
    for head in (b"source\ttarget\n", b"\xef\xbb\xbfno pair, \xff not even text\x00\n", b"a,b", b"\n", b""):
        for blob in (head + data, gzipped(head + data, rng)):
            path = write(tmp_path, blob)
            same(Graph.read(path, header=True), Graph(read_edges(str(path), header=True)))
    path = write(tmp_path, b"x" * (1 << 21) + b"\na,b\n")
    with pytest.raises(ValueError, match="line 1: longer than 1 MiB"):
        Graph.read(path, header=True)
    with pytest.raises(ValueError, match=f"{path}, line 3: expected two names"):
        Graph.read(write(tmp_path, b"from,to\na,b\nc\n"), header=True)


def test_lines_across_every_buffer_boundary(tmp_path):
    # Some 6 MB of lines of every length up to 40 KiB: lines straddle the
    # reads of 1 MiB and the decoder's hand-overs of some hundreds of KiB.
    rng = random.Random(7)
    lines = []
    size = 0
    while size < 6_000_000:
        n = int(rng.expovariate(1 / 30)) if rng.random() < 0.99 else rng.randrange(40_000)
        line = f"{'s' * n}{rng.randrange(1000)},t{rng.randrange(50)}\n"
        lines.append(line)
        size += len(line)
    data = "".join(lines).encode()
    model = Graph(read_edges(str(write(tmp_path, data))))
    same(Graph.read(write(tmp_path, data)), model)
    same(Graph.read(write(tmp_path, gzip.compress(data, 1), "edges.gz")), model)


def test_debian_file():
    path = os.path.join(os.path.dirname(__file__), "..", "..", "shared", "data", "debian-bookworm-depends.tsv.gz")
    if not os.path.exists(path):
        pytest.skip("no Debian data")
    same(Graph.read(path), Graph(read_edges(path)))


def test_every_whitespace_code_point_is_stripped_as_str_strip_strips_it(tmp_path):
    # Each code point, around a name on each side: dropped exactly when
    # str.strip() drops it.
    chars = [chr(c) for c in range(1, 0x110000) if not 0xD800 <= c <= 0xDFFF and chr(c) not in "\n|"]
    lines = [f"{c}x{c}|y{c}" for c in chars]
    path = write(tmp_path, ("\n".join(lines) + "\n").encode())
    g = Graph.read(path, delimiter="|", comment=None)
    expected = [(f"{c}x{c}".strip(), f"y{c}".strip()) for c in chars]
    assert g == Graph(expected)


def test_subclass_path_forms_and_lookups(tmp_path):
    path = write(tmp_path, b"app,web\nweb\thttp,x\n")

    class Sub(Graph):
        pass

    g = Sub.read(path)
    assert type(g) is Sub
    expected = Graph([("app", "web"), ("web", "http,x")])
    for form in (str(path), os.fsencode(path), path):
        assert Graph.read(form) == expected
    assert g.successors("web") == ["http,x"] and "app" in g and g.in_degree("web") == 1


def test_delimiter_and_comment_options(tmp_path):
    g = Graph.read(write(tmp_path, b"a;b;c\n//x;y\n x ; y\n"), delimiter=";", comment="//")
    assert g == Graph([("a", "b"), ("x", "y")])
    # A delimiter outside ASCII; '#' lines are pairs without comment lines.
    g = Graph.read(write(tmp_path, b"#a\xe2\x94\x82b,c\n"), delimiter="\u2502", comment=None)
    assert g == Graph([("#a", "b,c")])
    with pytest.raises(ValueError, match="line 1: expected two names separated by '\u2502'$"):
        Graph.read(write(tmp_path, b"a,b\n"), delimiter="\u2502")
    with pytest.raises(ValueError, match=r"line 1: expected two names separated by '\\x01'$"):
        Graph.read(write(tmp_path, b"a,b\n"), delimiter="\x01")
    assert Graph.read(write(tmp_path, b"a\tb,c\n"), delimiter=",") == Graph([("a\tb", "c")])


BAD = [
    (b"a,b\n\nc\n", 3, "expected two names separated by a tab or a comma"),
    (b"a,b\n,b\n", 2, "empty name"),
    (b"a\t \tb\n", 1, "empty name"),
    (b"a, \xe2\x80\x83\n", 1, "empty name"),
    (b"a,b\nc,\xff\n", 2, "not valid UTF-8 text"),
    (b"\xc0\x80,b\n", 1, "not valid UTF-8 text"),  # overlong
    (b"\xed\xa0\x80,b\n", 1, "not valid UTF-8 text"),  # a surrogate
    (b"\xf4\x90\x80\x80,b\n", 1, "not valid UTF-8 text"),  # past U+10FFFF
    (b"a,b\xe2\x80\n", 1, "not valid UTF-8 text"),  # cut short by the newline
    (b"a,b\n# \xfe\n", 2, "not valid UTF-8 text"),  # comments are text too
    (b"a,b\na\x00,b\n", 2, "NUL byte"),
]


@pytest.mark.parametrize("data, line, message", BAD)
def test_bad_lines(tmp_path, data, line, message):
    path = write(tmp_path, data, "deps.tsv")
    if b"\x00" not in data:
        with pytest.raises(InputError, match=f"line {line}: {message}"):
            read_edges(str(path))
    for blob in (data, gzip.compress(data)):
        path = write(tmp_path, blob, "deps.tsv")
        with pytest.raises(ValueError) as info:
            Graph.read(path)
        assert str(info.value) == f"{path}, line {line}: {message}"


def test_long_lines(tmp_path):
    limit = 1 << 20
    ok = b"a," + b"b" * (limit - 3) + b"\r\n"  # 1 MiB before its newline
    assert Graph.read(write(tmp_path, ok * 2)).node_count == 2
    for data in (b"x,y\n" + b"a," + b"b" * (limit - 1) + b"\n", b"x,y\n" + b"a," * limit * 3):
        for blob in (data, gzip.compress(data, 1)):
            with pytest.raises(ValueError, match=r", line 2: longer than 1 MiB$"):
                Graph.read(write(tmp_path, blob))


def test_file_errors(tmp_path):
    missing = tmp_path / "missing.tsv"
    with pytest.raises(FileNotFoundError) as info:
        Graph.read(missing)
    assert info.value.errno == errno.ENOENT and info.value.filename == missing
    with pytest.raises(IsADirectoryError):
        Graph.read(tmp_path)
    if os.geteuid() != 0:
        locked = write(tmp_path, b"a,b\n")
        locked.chmod(0)
        with pytest.raises(PermissionError):
            Graph.read(locked)


def test_path_shown_on_one_line(tmp_path):
    path = os.path.join(os.fsencode(tmp_path), "bad\nname\x1b\u2028.tsv".encode() + b"\xff")
    with open(path, "wb") as f:
        f.write(b"a\n")
    with pytest.raises(ValueError) as info:
        Graph.read(path)
    shown = f"{tmp_path}/bad\\nname\\x1b\\u2028.tsv\\xff"
    assert str(info.value) == f"{shown}, line 1: expected two names separated by a tab or a comma"


def test_arguments(tmp_path):
    path = write(tmp_path, b"a,b\n")
    with pytest.raises(TypeError, match="path"):
        Graph.read(5)
    with pytest.raises(ValueError, match="null"):
        Graph.read(str(path) + "\0")
    with pytest.raises(TypeError, match="delimiter must be None or a one-character str"):
        Graph.read(path, delimiter=b",")
    for bad in ("", ";;", "\n"):
        with pytest.raises(ValueError, match="delimiter"):
            Graph.read(path, delimiter=bad)
    with pytest.raises(ValueError, match="comment must not be empty"):
        Graph.read(path, comment="")
    with pytest.raises(TypeError, match="comment must be None or a str"):
        Graph.read(path, comment=1)
    with pytest.raises(TypeError):
        Graph.read(path, ";")  # the options are keyword-only


def test_damaged_gzip_says_where(tmp_path):
    data = "".join(f"n{i},n{i + 1}\n" for i in range(20_000)).encode()
    blob = gzip.compress(data)
    with pytest.raises(ValueError) as info:
        Graph.read(write(tmp_path, blob[: len(blob) // 2], "deps.tsv.gz"))
    message = str(info.value)
    assert message.startswith(f"{tmp_path}/deps.tsv.gz: damaged gzip stream after line ") and message.endswith(": cut short")
    line = int(message.split("after line ")[1].split(":")[0])
    assert 0 < line < 20_000
    bad_crc = blob[:-8] + bytes([blob[-8] ^ 1]) + blob[-7:]
    with pytest.raises(ValueError, match="after line 20000: CRC check failed"):
        Graph.read(write(tmp_path, bad_crc))
    with pytest.raises(ValueError, match=r"damaged gzip stream: "):
        Graph.read(write(tmp_path, b"\x1f\x8b\x08"))
    with pytest.raises(ValueError, match="bytes that are no gzip member after a member"):
        Graph.read(write(tmp_path, blob + b"\0\0junk"))


def mutations(rng, blob):
    for cut in range(len(blob)):
        yield blob[:cut]
    for _ in range(1500):
        b = bytearray(blob)
        for _ in range(rng.choice([1, 1, 2, 8])):
            b[rng.randrange(len(b))] ^= 1 << rng.randrange(8)
        yield bytes(b)
    for _ in range(300):
        yield blob[:2] + bytes(rng.randrange(256) for _ in range(rng.randrange(1, 300)))
    for _ in range(100):
        yield blob + bytes(rng.randrange(256) for _ in range(rng.randrange(1, 20)))


def decoded_by_python(blob):
    try:
        return gzip.decompress(blob)
    except (OSError, EOFError, zlib.error):
        return None


class TookTooLong(Exception):
    pass


def read_within(path, seconds):
    def expire(signum, frame):
        raise TookTooLong

    previous = signal.signal(signal.SIGALRM, expire)
    signal.setitimer(signal.ITIMER_REAL, seconds)
    try:
        return Graph.read(path)
    finally:
        signal.setitimer(signal.ITIMER_REAL, 0)
        signal.signal(signal.SIGALRM, previous)


def model_of(tmp_path, text):
    """The command's graph of a file's text, None if it refuses it."""
    path = write(tmp_path, text, "model.tsv")
    try:
        return Graph(read_edges(str(path)))
    except InputError:
        return None


@pytest.mark.slow
def test_gzip_fuzz(tmp_path):
    rng = random.Random(11)
    text = random_file(rng, 40).encode()
    # Fixed and dynamic blocks, stored blocks, several members, and a
    # header with every optional field.
    blobs = [gzip.compress(text, 9), gzip.compress(text, 1), gzip.compress(text, 0),
             gzip.compress(text[:50], 6) + gzip.compress(text[50:], 6)]
    c = zlib.compressobj(9, zlib.DEFLATED, -15)
    body = c.compress(text[:100]) + c.flush(zlib.Z_FULL_FLUSH) + c.compress(text[100:]) + c.flush()
    header = b"\x1f\x8b\x08\x1c" + bytes(6) + b"\x02\x00ab" + b"name\0comment\0"
    blobs.append(header + body + zlib.crc32(text).to_bytes(4, "little") + len(text).to_bytes(4, "little"))
    path = tmp_path / "fuzz"
    same_count = refused = 0
    for blob in blobs:
        assert decoded_by_python(blob) == text
        for case in mutations(rng, blob):
            path.write_bytes(case)
            decoded = decoded_by_python(case) if case[:2] == b"\x1f\x8b" else case
            model = model_of(tmp_path, decoded) if decoded is not None else None
            try:
                g = read_within(path, 2.0)
            except ValueError as e:
                # Rightly refused, or by one of the header checks that
                # Python's module skips.
                assert model is None or "header" in str(e), (case, e)
                refused += 1
                continue
            assert model is not None and g == model, case
            same_count += 1
    assert same_count > 30 and refused > 1000


def test_standard_input():
    data = b"\xef\xbb\xbfa\tb\r\nb,c\n"
    program = "from lanternhollow_graph_store import Graph; print(Graph.read(%s).names())"
    for blob in (data, gzip.compress(data)):
        for dash in ("'-'", "b'-'"):
            out = subprocess.run([sys.executable, "-c", program % dash], input=blob, capture_output=True, timeout=60)
            assert out.returncode == 0, out.stderr
            assert out.stdout == b"['a', 'b', 'c']\n"
    out = subprocess.run([sys.executable, "-c", program % "'-'"], input=b"a\n", capture_output=True, timeout=60)
    assert out.stderr.strip().endswith(b"ValueError: standard input, line 1: expected two names separated by a tab or a comma")


class Stop(BaseException):
    pass


@pytest.mark.skipif(not hasattr(signal, "setitimer"), reason="needs interval timers")
def test_interrupted_while_reading(tmp_path):
    # A pipe whose writer never finishes: the read waits for it, and a
    # handler that raises ends the call within 100 ms.
    readable, writable = os.pipe()
    try:
        os.write(writable, b"a,b\n" * 1000 + b"c,")

        def handler(signum, frame):
            raise Stop

        previous = signal.signal(signal.SIGALRM, handler)
        signal.setitimer(signal.ITIMER_REAL, 0.2)
        started = time.perf_counter()
        with pytest.raises(Stop):
            Graph.read(f"/dev/fd/{readable}")
        assert time.perf_counter() - started < 0.2 + 0.1
    finally:
        signal.setitimer(signal.ITIMER_REAL, 0)
        signal.signal(signal.SIGALRM, previous)
        os.close(readable)
        os.close(writable)
    # And while a long file is parsed and interned.
    rng = random.Random(3)
    data = "".join(f"m{rng.randrange(10**6)},m{rng.randrange(10**6)}\n" for _ in range(1_500_000)).encode()
    for blob in (data, gzip.compress(data, 1)):
        path = write(tmp_path, blob)
        t0 = time.perf_counter()
        expected = Graph.read(path)
        span = time.perf_counter() - t0
        stopped = 0
        for k in range(4):
            previous = signal.signal(signal.SIGALRM, handler)
            delay = span * (k + 0.5) / 4
            signal.setitimer(signal.ITIMER_REAL, delay)
            t0 = time.perf_counter()
            finished = False
            try:
                Graph.read(path)
                finished = True
                time.sleep(span)  # the read won the race: the signal lands here
            except Stop:
                stopped += not finished and time.perf_counter() - t0 < delay + 0.1
            finally:
                signal.setitimer(signal.ITIMER_REAL, 0)
                signal.signal(signal.SIGALRM, previous)
        assert stopped >= 2
        assert Graph.read(path) == expected
