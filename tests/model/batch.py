"""Depth-limited searches from many start names over one edge list."""

from .reachability import ancestors_at_depth, descendants_at_depth


def _batch(edges, starts, max_depth, single):
    result = {}
    for name in starts:
        # A repeated name replaces its earlier entry with an equal one.
        result[name] = single(edges, name, max_depth)
    return result


def batch_ancestors(edges, targets, max_depth):
    return _batch(edges, targets, max_depth, ancestors_at_depth)


def batch_descendants(edges, sources, max_depth):
    return _batch(edges, sources, max_depth, descendants_at_depth)
