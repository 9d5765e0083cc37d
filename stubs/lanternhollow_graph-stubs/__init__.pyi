"""Fast, exact analyses of dependency graphs given as (source, target) name pairs.

Every call builds a fresh graph from `edges`, runs one analysis and frees
everything. `edges` is any sequence of 2-tuples of str; every pair is an edge
of its own, so parallel edges and self loops stay. Names are compared by their
exact UTF-8 bytes. Nodes are numbered in order of first appearance, and a
node's edges are visited most recently listed first; both orders reach the
last bits of the scores and the orders of the ordered lists, which are the
same on every run. The entry order of a returned dict carries no meaning.
Counts and depths are unsigned 64-bit: a negative value or one of 2**64 or
more raises OverflowError. Long calls answer Ctrl-C with KeyboardInterrupt.
"""

from collections.abc import Sequence
from typing import SupportsIndex

__all__ = [
    "pagerank",
    "strongly_connected",
    "ancestors_at_depth",
    "descendants_at_depth",
    "betweenness",
    "sampled_betweenness",
    "batch_ancestors",
    "batch_descendants",
    "subgraph",
]

_Edges = Sequence[tuple[str, str]]
_Names = Sequence[str]
_Count = int | SupportsIndex

def pagerank(edges: _Edges, alpha: float = 0.85, max_iter: _Count = 100) -> dict[str, float]:
    """PageRank of every node, by exactly `max_iter` power iterations.

    No convergence test. `alpha` is the damping factor, used as given: values
    outside 0 to 1 give scores outside 0 to 1, NaN gives NaN everywhere. A node
    without outgoing edges shares its rank equally with every node, itself
    included. Returns {name: score} for every node; scores start at 1/n and,
    for a finite `alpha`, sum to 1 up to rounding. `max_iter=0` returns the
    starting scores; empty `edges` returns {}. The additions run in a fixed
    order, so scores are the same to the last bit on every run.
    """

def strongly_connected(edges: _Edges) -> list[list[str]]:
    """The strongly connected components of two or more nodes, largest first.

    A component is a group in which every node reaches every other; a lone
    node with a self loop is not one. Components of equal size come in the
    order of Kosaraju's second pass, which puts a component before every
    component that can reach it. Members are listed in the order a depth-first
    search from the component's first member reaches them, trying edges in
    edge-list order. Empty `edges` returns [].
    """

def ancestors_at_depth(edges: _Edges, target: str, max_depth: _Count) -> dict[str, int]:
    """What reaches `target` within `max_depth` steps, by breadth-first search against the edges.

    Returns {name: shortest distance in edges} for every node found at 1 to
    `max_depth` steps; nodes at `max_depth` are reported but not expanded.
    `target` itself is never in the result, even through a cycle or a self
    loop. A `target` that names no node, empty `edges` and `max_depth=0` all
    give {}.
    """

def descendants_at_depth(edges: _Edges, source: str, max_depth: _Count) -> dict[str, int]:
    """What `source` reaches within `max_depth` steps, by breadth-first search along the edges.

    Returns {name: shortest distance in edges} for every node found at 1 to
    `max_depth` steps; nodes at `max_depth` are reported but not expanded.
    `source` itself is never in the result, even through a cycle or a self
    loop. A `source` that names no node, empty `edges` and `max_depth=0` all
    give {}.
    """

def betweenness(edges: _Edges, normalized: bool = True) -> dict[str, float]:
    """Betweenness centrality of every node, by Brandes' algorithm (directed, unweighted).

    For each node, the sum over ordered pairs (s, t) of other nodes of the
    share of shortest s-to-t paths through it. A path over a parallel edge
    counts once per copy; self loops lie on no shortest path. With
    `normalized` the scores are divided by (n-1)(n-2) when n >= 3 (not
    halved). Returns {name: score} for every node, 0.0 when it lies on no
    path; empty `edges` returns {}. Path counts are doubles: past 2**53 paths
    they lose precision, past the largest double the scores become NaN.
    """

def sampled_betweenness(
    edges: _Edges, sample_size: _Count = 100, seed: _Count = 42, normalized: bool = True
) -> dict[str, float]:
    """Betweenness estimated from `sample_size` source nodes, scaled by n / `sample_size`.

    The sources are drawn without repetition by a shuffle seeded with `seed`,
    so equal arguments give equal scores; as nodes are numbered in order of
    first appearance, reordering `edges` can change the draw. A `sample_size`
    of n or more gives exactly `betweenness(edges, normalized)`; 0 gives 0.0
    for every node. Returns {name: score} for every node.
    """

def batch_ancestors(edges: _Edges, targets: _Names, max_depth: _Count) -> dict[str, dict[str, int]]:
    """`ancestors_at_depth` for many targets over one graph build.

    Returns one key per distinct name in `targets` (a name listed twice is one
    key), each with its own new dict, exactly what `ancestors_at_depth` gives
    for it; a name that names no node gets {}. Empty `targets` gives {}.
    `targets` is a sequence of str; a single str is refused.
    """

def batch_descendants(edges: _Edges, sources: _Names, max_depth: _Count) -> dict[str, dict[str, int]]:
    """`descendants_at_depth` for many sources over one graph build.

    Returns one key per distinct name in `sources` (a name listed twice is one
    key), each with its own new dict, exactly what `descendants_at_depth`
    gives for it; a name that names no node gets {}. Empty `sources` gives {}.
    `sources` is a sequence of str; a single str is refused.
    """

def subgraph(
    edges: _Edges,
    seed_nodes: _Names,
    max_depth: _Count = 2,
    include_incoming: bool = True,
    include_outgoing: bool = True,
) -> tuple[list[str], list[tuple[str, str]]]:
    """The part of the graph within `max_depth` steps of any seed, as (nodes, edges).

    A step follows an edge forwards (with `include_outgoing`) or backwards
    (with `include_incoming`); a path may mix both. `nodes` lists each member
    once: first the seeds found in `edges`, in the order given, then the
    others in the order the breadth-first search reaches them (from each
    node: targets of its outgoing edges, then sources of its incoming edges,
    most recently listed edge first). `edges` lists every input pair whose
    ends are both members, in input order, self loops and parallel copies
    included. Seeds that name no node are skipped; with `max_depth=0` or both
    flags False the members are the seeds found. The flags must be bool.
    """
