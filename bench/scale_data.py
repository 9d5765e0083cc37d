"""Dependency-shaped edge files of any size, written in chunks.

The generator of bench/data.py holds every edge in Python lists, which is
what a 100-million-edge file must never need: here every array is numpy,
the names live in one byte buffer, and the file is written a few hundred
thousand edges at a time. The shape follows bench/data.py's: a fifth of the
packages depend on nothing, every one of those is depended on (by the
package that arrives after it, as foo depends on foo-data), the others
depend on a geometric number of earlier packages drawn with a skew towards
the oldest (a few base libraries end up with most of the reverse
dependencies), and about 2 % back edges close small cycles. No pair occurs
twice and there are no self loops. The edges are listed grouped by source,
the sources in a shuffled order, as an index sorted by name lists them.

Names look like versioned package names: `libcorda1234-dev=2.14.3-1`,
`python3-fixen56==1.0.17` (about 28 bytes on average).

The same seed and node count give the same file for one numpy version (numpy
keeps its bit generators' streams, not every distribution's, across versions).
"""

import json
import os

import numpy as np

_PREFIXES = ("", "", "", "lib", "lib", "python3-", "node-", "r-cran-", "golang-", "ruby-", "fonts-", "texlive-")
_SYLLABLES = ("ab", "ar", "bel", "cor", "da", "el", "fi", "gen", "hor", "ix", "jo", "ka", "lu", "mer",
              "no", "om", "pa", "qu", "ros", "si", "tor", "ul", "ver", "wo", "xen", "yo", "zed")
_SUFFIXES = ("", "", "", "", "-dev", "-dev", "-common", "-data", "-utils", "-doc", "-bin", "-tools")

# Measured on the default parameters: the node count that gives a wanted edge
# count (1M edges: 4.99 a node; 100M: 5.00).
EDGES_PER_NODE = 5.0
SEED = 20240607


def _names(rng, start, stop):
    """The names of nodes start .. stop - 1, as a list of str."""
    k = stop - start
    prefix = rng.integers(0, len(_PREFIXES), k).tolist()
    count = rng.integers(1, 6, k).tolist()
    syllables = rng.integers(0, len(_SYLLABLES), (k, 5)).tolist()
    suffix = rng.integers(0, len(_SUFFIXES), k).tolist()
    major = rng.geometric(0.4, k).tolist()
    minor = rng.integers(0, 30, k).tolist()
    patch = rng.integers(0, 100, k).tolist()
    revision = rng.geometric(0.6, k).tolist()
    out = []
    for j in range(k):
        pre = _PREFIXES[prefix[j]]
        stem = "".join([_SYLLABLES[s] for s in syllables[j][: count[j]]])
        # The number keeps every name distinct; Python packages are pinned
        # with ==, the others carry a Debian revision.
        if pre == "python3-":
            version = f"=={major[j] - 1}.{minor[j]}.{patch[j]}"
        else:
            version = f"={major[j] - 1}.{minor[j]}.{patch[j]}-{revision[j]}"
        out.append(f"{pre}{stem}{start + j}{_SUFFIXES[suffix[j]]}{version}")
    return out


class NameBuffer:
    """Every node's name, each followed by one separator byte, back to back."""

    def __init__(self, rng, nodes, chunk=1 << 20):
        parts = []
        lengths = np.empty(nodes, dtype=np.int64)
        for start in range(0, nodes, chunk):
            stop = min(nodes, start + chunk)
            names = _names(rng, start, stop)
            # ASCII only, so a str's length is its byte length.
            lengths[start:stop] = np.fromiter(map(len, names), dtype=np.int64, count=stop - start)
            parts.append(("\n".join(names) + "\n").encode("ascii"))
        self.bytes = np.frombuffer(b"".join(parts), dtype=np.uint8)
        del parts
        self.lengths = lengths
        self.starts = np.zeros(nodes, dtype=np.int64)
        np.cumsum(lengths[:-1] + 1, out=self.starts[1:])

    def name(self, v):
        start = int(self.starts[v])
        return self.bytes[start : start + int(self.lengths[v])].tobytes().decode("ascii")

    def lines(self, sources, targets):
        """The lines `source<TAB>target<LF>` of the given edges, as bytes."""
        m = len(sources)
        seg_start = np.empty(2 * m, dtype=np.int64)
        seg_start[0::2] = self.starts[sources]
        seg_start[1::2] = self.starts[targets]
        seg_len = np.empty(2 * m, dtype=np.int64)
        seg_len[0::2] = self.lengths[sources] + 1
        seg_len[1::2] = self.lengths[targets] + 1
        seg_out = np.zeros(2 * m, dtype=np.int64)
        np.cumsum(seg_len[:-1], out=seg_out[1:])
        total = int(seg_out[-1] + seg_len[-1]) if m else 0
        # Each output byte's place in the buffer: its segment's start, moved
        # by how far into the segment it is.
        where = np.repeat(seg_start - seg_out, seg_len)
        where += np.arange(total, dtype=np.int64)
        out = self.bytes[where]
        out[seg_out[0::2] + seg_len[0::2] - 1] = ord("\t")
        return out


def write_edge_file(path, nodes, seed=SEED, leaf_share=0.2, mean_out=5.9, skew=3.0, back_share=0.02,
                    chunk_sources=100_000):
    """Writes the edge file of `nodes` nodes to `path` and, beside it as
    `path + ".json"`, what it holds: nodes, edges, name bytes (the names'
    UTF-8 without separators) and the file's size. Returns that dict."""
    if nodes < 2:
        raise ValueError("at least 2 nodes")
    rng = np.random.Generator(np.random.PCG64(seed))
    names = NameBuffer(rng, nodes)
    leaf = rng.random(nodes) < leaf_share
    leaf[0] = True
    leaf[-1] = False  # someone after it must depend on every leaf
    # Targets are drawn below a source as floor(source * u**skew): with
    # skew 3 a fifth of them lie in the upper half, the recent and rarely
    # used packages; back edges come from those, at this rate, to make
    # back_share of all forward edges.
    upper_share = 1.0 - 0.5 ** (1.0 / skew)
    back_rate = min(1.0, back_share / upper_share)
    order = rng.permutation(nodes)
    edges = 0
    with open(path, "wb") as f:
        for start in range(0, nodes, chunk_sources):
            sources = order[start : start + chunk_sources]
            k = len(sources)
            degree = rng.geometric(1.0 / mean_out, k)
            degree[leaf[sources]] = 0
            position = np.repeat(np.arange(k, dtype=np.int64), degree)
            source = sources[position]
            target = np.floor(source * rng.random(len(position)) ** skew).astype(np.int64)
            # A leaf is depended on by the package that arrived after it.
            feeds = np.flatnonzero((sources > 0) & leaf[np.maximum(sources - 1, 0)])
            position = np.concatenate([position, feeds])
            target = np.concatenate([target, sources[feeds] - 1])
            # Sorting by (place of the source in the chunk, target) drops
            # repeated pairs and keeps the sources' shuffled order.
            key = np.unique(position * nodes + target)
            position, target = np.divmod(key, nodes)
            source = sources[position]
            back = (rng.random(len(source)) < back_rate) & (2 * target >= source) & ~leaf[target]
            source, target = (np.concatenate([source, target[back]]), np.concatenate([target, source[back]]))
            for at in range(0, len(source), 250_000):
                f.write(names.lines(source[at : at + 250_000], target[at : at + 250_000]))
            edges += len(source)
    info = {
        "seed": seed,
        "nodes": nodes,
        "edges": edges,
        "name_bytes": int(names.lengths.sum()),
        "file_bytes": os.path.getsize(path),
        "numpy": np.__version__,
    }
    with open(path + ".json", "w") as f:
        json.dump(info, f)
    return info


def nodes_for(edges):
    return max(2, round(edges / EDGES_PER_NODE))
