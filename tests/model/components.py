"""Strongly connected components by Kosaraju's algorithm: two depth-first
passes on an explicit stack, following the defined steps one by one."""

from .graph import Graph


def component_search(g):
    """Every component, single nodes included, as lists of node numbers."""
    n = g.n
    discovered = [False] * n
    finished = [False] * n
    order = []
    # First pass, reversed graph: a node is looked at on top of the stack,
    # expanded the first time and finished the second.
    for i in range(n):
        if discovered[i]:
            continue
        stack = [i]
        while stack:
            x = stack[-1]
            if not discovered[x]:
                discovered[x] = True
                for p in g.predecessors(x):
                    if not discovered[p]:
                        stack.append(p)
            else:
                stack.pop()
                if not finished[x]:
                    finished[x] = True
                    order.append(x)

    # Second pass, forward graph, latest finisher first.
    discovered = [False] * n
    components = []
    for x in reversed(order):
        if discovered[x]:
            continue
        component = []
        stack = [x]
        while stack:
            y = stack.pop()
            if discovered[y]:
                continue
            discovered[y] = True
            for t in g.successors(y):
                if not discovered[t]:
                    stack.append(t)
            component.append(y)
        components.append(component)
    return components


def strongly_connected(edges):
    g = Graph(edges)
    components = [c for c in component_search(g) if len(c) >= 2]
    named = [[g.names[v] for v in c] for c in components]
    named.sort(key=len, reverse=True)  # stable
    return named
