"""A small typed program against the module's stubs; `mypy --strict` checks it."""

import lanternhollow_graph as lg

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


if __name__ == "__main__":
    print(report([("app", "lib"), ("lib", "libc"), ("libc", "lib")], "lib"))
