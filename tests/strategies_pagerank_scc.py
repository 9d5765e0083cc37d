"""Strategies for PageRank and the component search: graphs with many
dangling nodes, graphs dense in cycles, and damping factors of every kind."""

from hypothesis import strategies as st

from strategies import edge_lists, names


@st.composite
def dangling_edge_lists(draw, max_size=30):
    """Edges whose sources come from a prefix of the node pool, so that the
    other nodes are dangling."""
    pool = draw(st.lists(names, min_size=1, max_size=12, unique=True))
    sources = pool[: draw(st.integers(1, len(pool)))]
    pairs = st.tuples(st.sampled_from(sources), st.sampled_from(pool))
    return draw(st.lists(pairs, max_size=max_size))


def pagerank_graphs():
    return st.one_of(edge_lists(max_size=25), dangling_edge_lists())


# Few names and many edges: cycles, nested and touching, are the rule.
_small_pool = st.sampled_from(["a", "b", "c", "d", "e", "f", "g", "", "\x00", "\u00e9", "\U0001f600"])
cyclic_edge_lists = st.one_of(edge_lists(max_size=40), edge_lists(max_size=60, name=_small_pool))

alphas = st.one_of(
    st.sampled_from([0.85, 0.0, 1.0, 0.5, -0.5, 2.0, -1.0, 1e308, 5e-324]),
    st.floats(0.0, 1.0),
    st.floats(allow_nan=True, allow_infinity=True),
)
