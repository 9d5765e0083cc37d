"""The name table against a dict: every name numbered in order of first
appearance, found again by its bytes alone, whatever its hash shares with
other names'.

The table files a name under a tag of its hash and keeps beside each slot
where the name's bytes lie; it compares names in words, inline. A slip in
any of these makes a name found as another that shares its tag, length or
first bytes, or missed: the names here differ in one byte at every place,
share prefixes, run past the word, line and length-field sizes, and (the
testing module takes the caller's hashes) collide outright. The same names
then go through every public way of building a graph."""

import hashlib
import os
import random

import pytest

from lanternhollow_graph_store import Graph

testing = pytest.importorskip("_lanternhollow_graph_testing")
pa = pytest.importorskip("pyarrow")
pc = pytest.importorskip("pyarrow.compute")


def good_hash(name):
    return int.from_bytes(hashlib.blake2b(name, digest_size=8).digest(), "little")


# Hashes that a table must survive: all alike, alike in the tag (the high
# half) and apart below it, a handful of values, and a good hash.
HASHES = {
    "one": lambda name: 0x0123456789ABCDEF,
    "tag": lambda name: (0xDEADBEEF << 32) | (good_hash(name) & 0xFFFFFFFF),
    "few": lambda name: [1 << 63, 5, (7 << 32) | 9, 2**64 - 2][good_hash(name) % 4],
    "good": good_hash,
}


def near_misses(base, positions):
    """`base` with one byte changed at each of `positions`, in a low bit and
    in the high one."""
    out = []
    for i in positions:
        for flip in (0x01, 0x80):
            out.append(base[:i] + bytes([base[i] ^ flip]) + base[i + 1 :])
    return out


def crafted_names():
    """Names of every length 0..40 with each one-byte change, longer ones
    changed at the edges of words and lines, and prefixes of each other."""
    names = []
    for length in range(41):
        base = bytes((7 * i + length) % 95 + 32 for i in range(length))
        names.append(base)
        names.extend(near_misses(base, range(length)))
    for length in (47, 48, 49, 63, 64, 65, 66, 100, 127, 128, 129, 140):
        base = bytes((5 * i + length) % 95 + 32 for i in range(length))
        names.append(base)
        names.extend(near_misses(base, sorted({0, 7, 8, 9, 15, 16, 17, 55, 56, 62, 63, 64, length - 1} & set(range(length)))))
    names.extend(b"p" * k for k in range(70))
    return list(dict.fromkeys(names))


def model(keys, queries):
    numbers = {}
    for name in keys:
        numbers.setdefault(name, len(numbers))
    return [numbers[name] for name in keys], [numbers.get(name) for name in queries]


def check_table(names, unseen, hash_of, rng, repeats=2):
    keys = [name for name in names for _ in range(rng.randint(1, repeats))]
    rng.shuffle(keys)
    queries = names + unseen
    want_numbers, want_found = model(keys, queries)
    key_pairs = [(k, hash_of(k)) for k in keys]
    query_pairs = [(q, hash_of(q)) for q in queries]
    for complete_at in (len(keys), 0, len(keys) // 3, rng.randrange(len(keys) + 1)):
        numbers, found_open, found_complete = testing.name_table(key_pairs, query_pairs, complete_at)
        assert numbers == want_numbers
        assert found_open == want_found
        assert found_complete == want_found


@pytest.mark.parametrize("hash_name", sorted(HASHES))
def test_names_apart_by_one_byte(hash_name):
    rng = random.Random(hash_name)
    names = crafted_names()
    if hash_name == "one":
        # All in one run of slots: every search compares with every name
        # before it. Fewer names keep that short.
        names = rng.sample(names, 600)
    held = set(names)
    # The table's names, and their neighbours that it never holds.
    seen = rng.sample(names, len(names) * 3 // 4)
    unseen = [n for n in names if n not in set(seen)]
    unseen += [n + b"\x00" for n in seen[:200] if n + b"\x00" not in held]
    unseen += [n[:-1] for n in seen[:200] if n and n[:-1] not in set(seen)]
    check_table(seen, unseen, HASHES[hash_name], rng)


@pytest.mark.parametrize("hash_name", ["one", "few", "good"])
def test_names_too_long_for_the_slot_to_say_where_they_lie(hash_name):
    # A slot holds its name's place and length when the length fits in 16
    # bits: longer names, and the empty one, are read through their record.
    rng = random.Random(7)
    names = [b""]
    for length in (65534, 65535, 65536, 70000):
        base = bytes(rng.randrange(256) for _ in range(length))
        names += [base, base[:-1] + bytes([base[-1] ^ 1]), bytes([base[0] ^ 0x80]) + base[1:]]
    unseen = [names[1] + b"x", names[4][:-1], b"\x00"]
    check_table(names, unseen, HASHES[hash_name], rng, repeats=3)


def test_random_bytes_in_few_slots():
    rng = random.Random(11)
    pool = [bytes(rng.randrange(256) for _ in range(rng.choice([0, 1, 2, 3, 7, 8, 9, 16, 24, 33, 64, 65])))
            for _ in range(3000)]
    pool = list(dict.fromkeys(pool))
    for round_ in range(4):
        hash_of = HASHES[["few", "tag", "good", "good"][round_]]
        seen = rng.sample(pool, len(pool) // 2)
        check_table(seen, [p for p in pool if p not in set(seen)], hash_of, rng, repeats=4)


# ----------------------------------------------------------------------------
# The same names through every way of building a graph


def text_names():
    """crafted_names() that every reader takes: text without the
    delimiters, whitespace or comment marks of an edge file."""
    out = []
    for name in crafted_names():
        text = name.replace(b"\x80", b"").decode("latin-1")
        text = "".join(c for c in text if c.isprintable() and not c.isspace() and c not in "#,")
        text = text.replace("\x7f", "")
        if text:
            out.append(text + "é" if len(text) % 5 == 0 else text)
    return list(dict.fromkeys(out))


def chained_edges(names, rng):
    """Pairs whose sources come in runs, one run per name, its neighbours
    in the list (which differ from it in one byte) among its targets: a
    source the row before named must be told from one a byte apart."""
    edges = []
    for i, name in enumerate(names):
        for _ in range(rng.randint(1, 3)):
            edges.append((name, names[(i + rng.choice([1, -1, 2, 0])) % len(names)]))
    return edges


def tables_of(edges, rng):
    sources = [s for s, _ in edges]
    targets = [t for _, t in edges]
    plain = pa.table({"source": sources, "target": targets})
    yield plain
    yield pa.Table.from_batches(plain.to_batches(max_chunksize=rng.randint(1, 50)))
    for kind in (pa.large_string(), pa.string_view()):
        yield plain.cast(pa.schema([("source", kind), ("target", kind)]))
    yield pa.table({"source": pc.dictionary_encode(pa.array(sources)), "target": pc.dictionary_encode(pa.array(targets))})
    chunks = [slice(a, b) for a, b in zip([0, 40, 41, 300], [40, 41, 300, len(edges)])]
    yield pa.Table.from_batches(
        [pa.record_batch({"source": pc.dictionary_encode(pa.array(sources[c])), "target": pa.array(targets[c])})
         for c in chunks if c.start < len(edges)])


def test_every_reader_numbers_the_names_alike(tmp_path):
    rng = random.Random(3)
    names = text_names()
    edges = chained_edges(names, rng)
    want = Graph(edges)
    assert want.names() == list(dict.fromkeys(n for e in edges for n in e))
    path = tmp_path / "edges.tsv"
    path.write_text("".join(f"{s}\t{t}\n" for s, t in edges), encoding="utf-8")
    graphs = list(map(Graph.from_arrow, tables_of(edges, rng))) + [Graph.read(os.fspath(path))]
    outside = [n + "x" for n in names[:300]] + [n[:-1] for n in names[:300] if n[:-1] not in set(names)]
    for got in graphs:
        assert got == want and got.names() == want.names()
        assert all(name in got for name in names)
        assert not any(name in got for name in outside)
        for name in names[::37]:
            assert got.successors(name) == want.successors(name)
            assert got.predecessors(name) == want.predecessors(name)


# --- the check of an index read from outside ---

EMPTY_SLOT = (1 << 64) - 1


def index_passes(slots, count, max_run):
    """The check of an index, literally: a power-of-two size above the count,
    every slot empty or naming a number below it, none named twice, an empty
    slot somewhere, and no run of occupied slots (wrapping around the end)
    longer than max_run."""
    size = len(slots)
    if size == 0:
        return count == 0
    if size & (size - 1) or size <= count:
        return False
    used = [s != EMPTY_SLOT for s in slots]
    numbers = [s & 0xFFFFFFFF for s, u in zip(slots, used) if u]
    if any(x >= count for x in numbers) or len(set(numbers)) != len(numbers) or all(used):
        return False
    first = used.index(False)
    run = 0
    for k in range(size):
        run = run + 1 if used[(first + 1 + k) % size] else 0
        if run > max_run:
            return False
    return True


def random_index(rng):
    size = 1 << rng.randrange(0, 10)
    if rng.random() < 0.05:
        size = rng.randrange(0, 300)
    count = rng.randrange(0, size + 3)
    slots = [EMPTY_SLOT] * size
    order = list(range(count))
    rng.shuffle(order)
    fill = rng.choice([0.3, 0.5, 0.9, 0.98, 1.0])
    places = list(range(size))
    if rng.random() < 0.5:
        # Long runs: occupied stretches that cross words of 64 slots.
        start = rng.randrange(size) if size else 0
        places = [(start + k) % size for k in range(size)]
    else:
        rng.shuffle(places)
    for place, number in zip(places[:int(fill * size)], order):
        slots[place] = (rng.getrandbits(32) << 32) | number
    for _ in range(rng.choice([0, 0, 0, 1, 2])):
        # A fault: a number repeated or out of range, a tag of all ones.
        if size:
            k = rng.randrange(size)
            slots[k] = rng.choice([(rng.getrandbits(32) << 32) | rng.randrange(count + 3),
                                   (rng.getrandbits(32) << 32) | 0xFFFFFFFF, EMPTY_SLOT - 1])
    return slots, count


def test_index_check_against_a_literal_model():
    rng = random.Random(64)
    for _ in range(3000):
        slots, count = random_index(rng)
        size = len(slots)
        # The bound near the runs that matter: word widths, and the whole.
        max_run = rng.choice([0, 1, 5, 63, 64, 65, 127, 128, 129, 4096, size, max(size - 1, 0)])
        data = b"".join(s.to_bytes(8, "little") for s in slots)
        assert testing.check_index(data, count, max_run) == index_passes(slots, count, max_run), (
            size, count, max_run)
