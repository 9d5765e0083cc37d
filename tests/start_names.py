"""Strategies for edge lists with a list of names to start from."""

from hypothesis import strategies as st

from strategies import edge_lists, names


@st.composite
def graphs_with_names(draw, max_size=40, max_names=6):
    """An edge list and a list of names, mostly its nodes, repeats likely."""
    edges = draw(edge_lists(max_size))
    nodes = sorted({x for pair in edges for x in pair})
    pick = st.one_of(st.sampled_from(nodes), names) if nodes else names
    return edges, draw(st.lists(pick, max_size=max_names))
