"""How late each function answers Ctrl-C, over a sweep of interrupt times.

For every function, one call on the synthetic graph (about 2 million edges
by default) is timed; then SIGALRM is sent at evenly spaced moments across
such a call (from the first item converted to the result built), and the
handler raises KeyboardInterrupt. The latency of one try is the time from
the signal to the exception reaching the caller. Exact betweenness takes
hours at this size, so its sweep covers the first seconds only.

    python -m bench.interrupt_latency [--nodes 400000] [--points 40] [--only NAME ...]
"""

import argparse
import signal
import statistics
import time

import lanternhollow_graph as lg

from .data import synthetic_edges


class Interrupted(BaseException):
    pass


def calls(edges):
    names = sorted({s for s, _ in edges[:: max(1, len(edges) // 200)]})[:100]
    hub = max(((t, 0) for _, t in edges[:50_000]), key=lambda p: p[0])[0]
    top = names[0]
    deep = 2**64 - 1
    return {
        "pagerank": lambda: lg.pagerank(edges),
        "strongly_connected": lambda: lg.strongly_connected(edges),
        "ancestors_at_depth": lambda: lg.ancestors_at_depth(edges, hub, deep),
        "descendants_at_depth": lambda: lg.descendants_at_depth(edges, top, deep),
        "betweenness": lambda: lg.betweenness(edges),
        "sampled_betweenness": lambda: lg.sampled_betweenness(edges, 100),
        "batch_ancestors": lambda: lg.batch_ancestors(edges, names, deep),
        "batch_descendants": lambda: lg.batch_descendants(edges, names, deep),
        "subgraph": lambda: lg.subgraph(edges, names, 3),
    }


def latency_at(call, delay):
    """Seconds from a signal `delay` seconds into the call until the call
    ends with the handler's exception (or returns, if it beat the signal)."""
    fired = []

    def handler(signum, frame):
        fired.append(time.perf_counter())
        raise Interrupted

    previous = signal.signal(signal.SIGALRM, handler)
    try:
        start = time.perf_counter()
        signal.setitimer(signal.ITIMER_REAL, delay)
        try:
            call()
            # Finished first: the signal may still be due.
            while not fired and time.perf_counter() - start < delay + 1.0:
                time.sleep(0.0005)
            return None
        except Interrupted:
            end = time.perf_counter()
        return end - (start + delay)
    finally:
        signal.setitimer(signal.ITIMER_REAL, 0)
        signal.signal(signal.SIGALRM, previous)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--nodes", type=int, default=400_000)
    parser.add_argument("--points", type=int, default=40)
    parser.add_argument("--window", type=float, default=3.0, help="seconds swept for calls longer than this")
    parser.add_argument("--only", nargs="*")
    args = parser.parse_args()

    edges = synthetic_edges(nodes=args.nodes)
    print(f"{len(edges):,} edges; {args.points} interrupt times per function")
    print(f"{'function':<22} {'call (s)':>9} {'worst (ms)':>11} {'median (ms)':>12}")
    for name, call in calls(edges).items():
        if args.only and name not in args.only:
            continue
        if name == "betweenness":
            span = args.window
        else:
            t0 = time.perf_counter()
            call()
            span = time.perf_counter() - t0
        lat = []
        for k in range(args.points):
            d = latency_at(call, max(1e-4, span * (k + 0.5) / args.points))
            if d is not None:
                lat.append(d)
        if lat:
            print(f"{name:<22} {span:>9.2f} {1000 * max(lat):>11.1f} {1000 * statistics.median(lat):>12.1f}")
        else:
            print(f"{name:<22} {span:>9.2f}  (every call finished before its signal)")


if __name__ == "__main__":
    main()
