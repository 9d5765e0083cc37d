"""Hypothesis strategies for random edge lists.

Names come from a small pool so that parallel edges, self loops and shared
nodes are common; the pool holds the empty string, NUL characters, names that
differ only in case, and one accented letter written both precomposed and
with a combining accent.
"""

from hypothesis import strategies as st

NAME_POOL = ["a", "b", "c", "d", "e", "f", "A", "", "\x00", "a\x00", "\u00e9", "e\u0301", "\U0001f600", "\u4e2d\u6587"]

names = st.one_of(st.sampled_from(NAME_POOL), st.text(max_size=4))


def edge_lists(max_size=40, name=names):
    return st.lists(st.tuples(name, name), max_size=max_size)


@st.composite
def graphs_with_node(draw, max_size=40):
    """An edge list and a name, usually one of its nodes."""
    edges = draw(edge_lists(max_size))
    nodes = [x for pair in edges for x in pair]
    if nodes and draw(st.integers(0, 3)) > 0:
        return edges, draw(st.sampled_from(nodes))
    return edges, draw(names)


depths = st.one_of(st.integers(0, 6), st.just(2**64 - 1))
