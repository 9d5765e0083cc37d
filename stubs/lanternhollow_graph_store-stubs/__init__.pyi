"""A dependency graph built once and asked many questions.

`Graph(edges)` converts and numbers the edge list the way the functions of
`lanternhollow_graph` do, then keeps it: every analysis of a built graph
returns exactly what the function of the same name returns for the same
list (the same keys in the same order, the same bits, the same lists in the
same order), without converting the list again. A graph never changes once
built. Its methods release the interpreter lock while they compute, so many
threads may query one graph at once, and a query costs what it reaches,
not the size of the graph.

Differences from the functions, for a person at a prompt: `max_depth` may
be None (no limit), the default of the depth queries and of the batch
forms; a start name or seed that is not in the graph raises KeyError naming
it; every method takes a keyword-only `threads` (None: as the environment
variable LANTERNHOLLOW_GRAPH_THREADS says; 0: every CPU the process may
use; N: at most N). No result's bits depend on it.
"""

from collections.abc import Iterable, Sequence
from typing import Protocol, SupportsIndex

from _typeshed import StrOrBytesPath
from typing_extensions import Buffer, Self, disjoint_base

__all__ = ["Graph"]

_Pairs = Iterable[tuple[str, str] | Sequence[str]]
_Names = Iterable[str]
_Count = int | SupportsIndex
_Threads = int | SupportsIndex | None
_Column = str | int | SupportsIndex

class _ArrowStreamExportable(Protocol):
    def __arrow_c_stream__(self, requested_schema: object | None = None) -> object: ...

@disjoint_base
class Graph:
    """A directed multigraph of named nodes, built once from (source, target) pairs.

    `edges` is a list of 2-tuples of str, or any iterable of pairs (2-item
    tuples or lists of str). Every pair is an edge of its own: parallel
    edges and self loops stay. Nodes are numbered in order of first
    appearance, the source of a pair before its target, and a node's edges
    are walked most recently listed first.
    """

    def __new__(cls, edges: _Pairs) -> Self: ...
    @classmethod
    def from_arrow(cls, obj: _ArrowStreamExportable, source: _Column = 0, target: _Column = 1) -> Self:
        """A graph of an Arrow table's rows, each an edge from its `source` column's name to its `target`'s.

        `obj` has __arrow_c_stream__ (a pyarrow Table or RecordBatchReader, a
        polars DataFrame, ...); columns are picked by position or by name and
        hold utf8, large_utf8 or string_view strings, or a dictionary of them.
        The graph equals Graph(list(zip(sources, targets))) of the same rows.
        """
    @property
    def node_count(self) -> int: ...
    @property
    def edge_count(self) -> int: ...
    @property
    def nbytes(self) -> int:
        """Bytes of memory that the graph holds (names, adjacency and index)."""
    def __len__(self) -> int: ...
    def __contains__(self, name: object, /) -> bool: ...
    def __eq__(self, other: object, /) -> bool: ...
    def __ne__(self, other: object, /) -> bool: ...
    def __hash__(self) -> int: ...
    def __copy__(self) -> Self: ...
    def __deepcopy__(self, memo: object, /) -> Self: ...
    def __reduce__(self) -> tuple[object, ...]: ...
    def __reduce_ex__(self, protocol: SupportsIndex, /) -> tuple[object, ...]: ...
    @classmethod
    def _from_snapshot(cls, data: Buffer, /) -> Self: ...
    def save(self, path: StrOrBytesPath) -> None:
        """Writes the graph to `path` as a snapshot, complete or not at all."""
    @classmethod
    def load(cls, path: StrOrBytesPath) -> Self:
        """The graph saved at `path`, mapped read-only."""
    def names(self) -> list[str]:
        """Every node's name, in node order."""
    def successors(self, name: str, /) -> list[str]:
        """The targets of `name`'s outgoing edges, in walk order, parallel edges repeated."""
    def predecessors(self, name: str, /) -> list[str]:
        """The sources of `name`'s incoming edges, in walk order, parallel edges repeated."""
    def out_degree(self, name: str, /) -> int: ...
    def in_degree(self, name: str, /) -> int: ...
    def pagerank(self, alpha: float = 0.85, max_iter: _Count = 100, *, threads: _Threads = None) -> dict[str, float]: ...
    def betweenness(self, normalized: bool = True, *, threads: _Threads = None) -> dict[str, float]: ...
    def sampled_betweenness(
        self, sample_size: _Count = 100, seed: _Count = 42, normalized: bool = True, *, threads: _Threads = None
    ) -> dict[str, float]: ...
    def strongly_connected(self, *, threads: _Threads = None) -> list[list[str]]: ...
    def closure_sizes(self, *, threads: _Threads = None) -> dict[str, tuple[int, int]]:
        """Each name's (dependencies, dependents): how many names it reaches and how many reach it, itself not counted."""
    def ancestors_at_depth(
        self, target: str, max_depth: _Count | None = None, *, threads: _Threads = None
    ) -> dict[str, int]: ...
    def descendants_at_depth(
        self, source: str, max_depth: _Count | None = None, *, threads: _Threads = None
    ) -> dict[str, int]: ...
    def batch_ancestors(
        self, targets: _Names, max_depth: _Count | None = None, *, threads: _Threads = None
    ) -> dict[str, dict[str, int]]: ...
    def batch_descendants(
        self, sources: _Names, max_depth: _Count | None = None, *, threads: _Threads = None
    ) -> dict[str, dict[str, int]]: ...
    def subgraph(
        self,
        seed_nodes: _Names,
        max_depth: _Count | None = 2,
        include_incoming: bool = True,
        include_outgoing: bool = True,
        *,
        threads: _Threads = None,
    ) -> tuple[list[str], list[tuple[str, str]]]: ...
    def why(self, source: str, target: str, *, threads: _Threads = None) -> list[str] | None:
        """One shortest chain of names from `source` to `target`, both included; None if there is none."""
    def why_all(
        self, source: str, target: str, limit: _Count = 10, *, threads: _Threads = None
    ) -> tuple[list[list[str]], int]:
        """The first `limit` shortest chains and the exact number of shortest chains."""
    def cycle(self, name: str, *, threads: _Threads = None) -> list[str] | None:
        """A shortest cycle through `name`, starting at it; None if it is on no cycle."""
    def build_order(self, *, threads: _Threads = None) -> list[list[list[str]]]:
        """Strongly connected components as units, in layers that depend only on earlier layers."""
    def weakly_connected(self, *, threads: _Threads = None) -> list[list[str]]:
        """The islands, largest first, names in node order."""
    def dominators(self, root: str, *, threads: _Threads = None) -> dict[str, str]:
        """Each name `root` reaches, `root` excepted, mapped to its immediate dominator, in breadth-first order."""
    def falls_away(self, root: str, name: str, *, threads: _Threads = None) -> list[str]:
        """The names that leave `root`'s reach if `name` is dropped, `name` first."""
    def sole_providers(self, root: str, top: _Count = 10, *, threads: _Threads = None) -> list[tuple[str, int]]:
        """The `top` names whose dropping takes the most of `root`'s reach with them, with how many."""
    def edges(self) -> list[tuple[str, str]]:
        """Every edge in the order of the edge list the graph was built from: Graph(g.edges()) == g."""
    def distinct_edge_count(self) -> int:
        """The number of distinct (source, target) pairs: parallel edges counted once."""
    def without(self, names: _Names) -> Self:
        """The graph of the same edge list without every edge that touches one of `names`."""
