"""The snapshot format written out literally, slowly, from its description.

`write(edges)` gives the bytes a snapshot of Graph(edges) must hold, built
from the edge list alone: node numbering, rows, the name index and every
checksum made here. `Snapshot` holds the parts of a snapshot as lists, so
that a test can change one and write the file again with sound checksums.
"""

import struct

MASK = (1 << 64) - 1
MAGIC = b"\x89LHG\r\n\x1a\n"
EMPTY = MASK
P1, P2, P3 = 0x9E3779B185EBCA87, 0xC2B2AE3D27D4EB4F, 0x165667B19E3779F9
HASH_MIX = (0xA0761D6478BD642F, 0xE7037ED1A0B428DB, 0x8EBC6AF09C88C6E3)


def rotl(x, r):
    return ((x << r) | (x >> (64 - r))) & MASK


KEY = (0xBE4BA423396CFEB8, 0x1CAD21F72C81017C, 0xDB979083E96DD4DE, 0x1F67B3B7A4A44072,
       0x78E5C0CC4EE679CB, 0x2172FFCC7DD05A82, 0x8E2443F7744608B8, 0x4C263A81E69035E0)
STEP = 0x9E3779B97F4A7C15


def checksum(data):
    """Eight lanes over 64-byte blocks, then folded with the length."""
    assert len(data) % 64 == 0
    lanes = [0] * 8
    position = 0
    for at in range(0, len(data), 64):
        words = struct.unpack_from("<8Q", data, at)
        for i, w in enumerate(words):
            x = w ^ ((KEY[i] + position) & MASK)
            lanes[i] = (lanes[i] + (x & 0xFFFFFFFF) * (x >> 32)) & MASK
            lanes[i ^ 1] = (lanes[i ^ 1] + w) & MASK
        position = (position + STEP) & MASK
    h = (len(data) * P3) & MASK
    for lane in lanes:
        h = (rotl(h ^ lane, 27) * P1) & MASK
    h ^= h >> 33
    h = (h * P2) & MASK
    h ^= h >> 29
    h = (h * P3) & MASK
    return h ^ (h >> 32)


def fold(a, b):
    p = a * b
    return (p & MASK) ^ (p >> 64)


def hash_bytes(data, seed):
    """The name table's own hash: 8 bytes at a time, the 1 to 8 left at the end
    read as the C++ reads them."""
    k0, k1, k2 = HASH_MIX
    n = len(data)
    h = fold(seed ^ k0, n ^ k1)
    p = 0
    while n > 8:
        h = fold(h ^ int.from_bytes(data[p : p + 8], "little"), k2)
        p += 8
        n -= 8
    rest = data[p:]
    if n == 8:
        tail = int.from_bytes(rest, "little")
    elif n >= 4:
        tail = (int.from_bytes(rest[n - 4 :], "little") << 32) | int.from_bytes(rest[:4], "little")
    elif n > 0:
        tail = (rest[0] << 16) | (rest[n >> 1] << 8) | rest[n - 1]
    else:
        tail = 0
    h = fold(h ^ tail, k1 ^ n)
    return fold(h, k0)


def pad(data):
    return data + bytes(-len(data) % 64)


class Snapshot:
    """A snapshot's parts: counts, the seed and the eight sections as lists."""

    def __init__(self, edges):
        number = {}
        pairs = []
        for s, t in edges:
            for x in (s, t):
                number.setdefault(x, len(number))
            pairs.append((number[s], number[t]))
        n, m = len(number), len(pairs)
        self.names = [x.encode("utf-8") for x in number]
        self.ends = [0]
        for x in self.names:
            self.ends.append(self.ends[-1] + len(x))
        # Rows, most recently listed edge first.
        self.out_rows = [[] for _ in range(n)]
        self.in_rows = [[] for _ in range(n)]
        for k in reversed(range(m)):
            s, t = pairs[k]
            self.out_rows[s].append((t, k))
            self.in_rows[t].append(s)
        self.out_begin = [0]
        self.in_begin = [0]
        for v in range(n):
            self.out_begin.append(self.out_begin[-1] + len(self.out_rows[v]))
            self.in_begin.append(self.in_begin[-1] + len(self.in_rows[v]))
        self.out_target = [t for row in self.out_rows for t, _ in row]
        self.out_edge = [k for row in self.out_rows for _, k in row]
        self.in_source = [s for row in self.in_rows for s in row]
        self.node_count, self.edge_count = n, m
        self.name_bytes = b"".join(self.names)
        self.version = 2
        self.byte_order = 0x01020304
        self.slots = 64
        while self.slots < 2 * n:
            self.slots *= 2
        self.seed = (checksum(pad(self.name_bytes)) ^ (n * 0x9E3779B97F4A7C15)) & MASK
        while True:
            self.index = self.make_index()
            if self.longest_run() <= 1024:
                break
            self.seed = (self.seed + 1) & MASK

    def make_index(self):
        shift = 64 - (self.slots.bit_length() - 1)
        index = [EMPTY] * self.slots
        for v, name in enumerate(self.names):
            tag = hash_bytes(name, self.seed) & 0xFFFFFFFF00000000
            i = ((tag * 0x9E3779B97F4A7C15) & MASK) >> shift
            while index[i] != EMPTY:
                i = (i + 1) % self.slots
            index[i] = tag | v
        return index

    def longest_run(self):
        doubled = self.index + self.index
        best = run = 0
        for slot in doubled:
            run = run + 1 if slot != EMPTY else 0
            best = max(best, run)
        return min(best, self.slots)

    def sections(self):
        return [
            struct.pack(f"<{len(self.ends)}Q", *self.ends),
            self.name_bytes,
            struct.pack(f"<{len(self.index)}Q", *self.index),
            struct.pack(f"<{len(self.out_begin)}I", *self.out_begin),
            struct.pack(f"<{len(self.out_target)}I", *self.out_target),
            struct.pack(f"<{len(self.out_edge)}I", *self.out_edge),
            struct.pack(f"<{len(self.in_begin)}I", *self.in_begin),
            struct.pack(f"<{len(self.in_source)}I", *self.in_source),
        ]

    def to_bytes(self):
        sections = [pad(s) for s in self.sections()]
        head = MAGIC + struct.pack(
            "<IIQQQQQ8Q",
            self.version,
            self.byte_order,
            self.node_count,
            self.edge_count,
            len(self.name_bytes),
            self.slots,
            self.seed,
            *(checksum(s) for s in sections),
        )
        head += struct.pack("<Q", header_checksum(head))
        return head + b"".join(sections)


def header_checksum(head120):
    """The header's checksum: over its first 120 bytes and 8 zero bytes."""
    return checksum(head120 + bytes(8))


def write(edges):
    return Snapshot(edges).to_bytes()
