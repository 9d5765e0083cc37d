"""A small typed program against the module's stubs; `mypy --strict` checks it."""

from collections.abc import Iterator

import lanternhollow_graph as lg
from lanternhollow_graph_store import Graph

Edge = tuple[str, str]


def report(edges: list[Edge], focus: str) -> str:
    ranks: dict[str, float] = lg.pagerank(edges, alpha=0.85, max_iter=50)
    top = max(ranks, key=lambda name: ranks[name])
    cycles: list[list[str]] = lg.strongly_connected(edges)
    deps: dict[str, int] = lg.descendants_at_depth(edges, focus, 2**64 - 1)
    users: dict[str, int] = lg.ancestors_at_depth(edges, focus, 3)
    between: dict[str, float] = lg.betweenness(edges, normalized=False)
    sampled: dict[str, float] = lg.sampled_betweenness(edges, sample_size=10, seed=1)
    batch: dict[str, dict[str, int]] = lg.batch_descendants(edges, [focus, top], 2)
    batch_up: dict[str, dict[str, int]] = lg.batch_ancestors(edges, (focus,), 2)
    nodes, kept = lg.subgraph(edges, [focus], max_depth=1, include_incoming=False)
    first_edge: tuple[str, str] | None = kept[0] if kept else None
    return (
        f"top {top}; {len(cycles)} cycles; {len(deps)} dependencies, {len(users)} dependents; "
        f"{len(between)} + {len(sampled)} scores; {len(batch) + len(batch_up)} batches; "
        f"{len(nodes)} nodes around {focus}, first edge {first_edge}"
    )


def pairs() -> Iterator[list[str]]:
    yield ["app", "lib"]
    yield ["lib", "libc"]


def impact(g: Graph, focus: str) -> str:
    breaks: dict[str, int] = g.ancestors_at_depth(focus)
    pulls: dict[str, int] = g.descendants_at_depth(focus, 2, threads=1)
    ranks: dict[str, float] = g.pagerank(threads=0)
    every: dict[str, dict[str, int]] = g.batch_descendants(g.names(), None)
    nodes, kept = g.subgraph([focus], None, include_outgoing=False)
    return (
        f"{g!r}: {g.node_count} nodes, {g.edge_count} edges, {g.nbytes} bytes; {len(breaks)} break, "
        f"{len(pulls)} pulled in, {len(ranks)} ranked, {len(every)} searched, {len(nodes)}/{len(kept)} around; "
        f"{g.successors(focus)} {g.predecessors(focus)} {g.out_degree(focus)} {g.in_degree(focus)} {focus in g}"
    )


if __name__ == "__main__":
    print(report([("app", "lib"), ("lib", "libc"), ("libc", "lib")], "lib"))
    print(impact(Graph(pairs()), "lib"))
