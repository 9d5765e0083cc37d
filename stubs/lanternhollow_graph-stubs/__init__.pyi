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
    """PageRank algorithm for ranking node importance."""

def strongly_connected(edges: _Edges) -> list[list[str]]:
    """Find strongly connected components (tightly coupled modules)."""

def ancestors_at_depth(edges: _Edges, target: str, max_depth: _Count) -> dict[str, int]:
    """Find all ancestors up to a maximum depth using BFS."""

def descendants_at_depth(edges: _Edges, source: str, max_depth: _Count) -> dict[str, int]:
    """Find all descendants up to a maximum depth using BFS."""

def betweenness(edges: _Edges, normalized: bool = True) -> dict[str, float]:
    """Betweenness centrality using Brandes algorithm."""

def sampled_betweenness(
    edges: _Edges, sample_size: _Count = 100, seed: _Count = 42, normalized: bool = True
) -> dict[str, float]:
    """Sampled betweenness centrality for large graphs."""

def batch_ancestors(edges: _Edges, targets: _Names, max_depth: _Count) -> dict[str, dict[str, int]]:
    """Batch ancestors: find ancestors for multiple targets in one graph build."""

def batch_descendants(edges: _Edges, sources: _Names, max_depth: _Count) -> dict[str, dict[str, int]]:
    """Batch descendants: find descendants for multiple sources in one graph build."""

def subgraph(
    edges: _Edges,
    seed_nodes: _Names,
    max_depth: _Count = 2,
    include_incoming: bool = True,
    include_outgoing: bool = True,
) -> tuple[list[str], list[tuple[str, str]]]:
    """Extract a subgraph containing only nodes within max_depth of seed nodes."""
