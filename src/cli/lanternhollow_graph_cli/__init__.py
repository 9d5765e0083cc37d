"""The lanternhollow-graph command: analyses of an edge-list file from the shell.

    lanternhollow-graph deps.tsv.gz --focus NAME --svg NAME.svg
    lanternhollow-graph --stdlib

The analyses themselves are the methods of lanternhollow_graph_store.Graph,
run on one graph built from the edge list; this package only reads edge
lists, prints, and draws.

Nothing is imported here but what main imports when it runs: a Ctrl-C while
the command's modules load must end it with status 130, not a traceback.
"""

__all__ = ["main"]


def main(argv=None):
    try:
        from .command import main as run
    except KeyboardInterrupt:
        return 130
    return run(argv)
