"""The lanternhollow-graph command: analyses of an edge-list file from the shell.

    lanternhollow-graph deps.tsv.gz --focus NAME --svg NAME.svg
    lanternhollow-graph --stdlib

The analyses themselves are the functions of the lanternhollow_graph module;
this package only reads edge lists, prints, and draws.
"""

from .command import main

__all__ = ["main"]
