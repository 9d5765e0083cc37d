"""The lanternhollow-graph command: analyses of an edge-list file from the shell.

    lanternhollow-graph deps.tsv.gz --focus NAME --svg NAME.svg
    lanternhollow-graph --stdlib

The analyses themselves are the methods of lanternhollow_graph_store.Graph,
run on one graph built from the edge list; this package only reads edge
lists, prints, and draws.
"""

from .command import main

__all__ = ["main"]
