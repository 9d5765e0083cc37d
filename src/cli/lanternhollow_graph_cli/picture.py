"""The picture of a node's neighbourhood: a Graphviz graph small enough to read.

A neighbourhood of a few steps in a dependency graph easily holds hundreds of
nodes; drawn whole it is a hairball. The picture keeps the focus and grows
from it best first: at each step it adds the highest-ranked node (by PageRank)
adjacent to one already drawn, until it holds MAX_NODES. Growing by adjacency
keeps the drawing connected, so every drawn node shows how it reaches the
focus. Darker and larger boxes rank higher; the members of the focus's
strongly connected component are outlined in red, as are the edges among them.
"""

import heapq
import math
import os
import shutil
import subprocess

MAX_NODES = 40

GRAPHVIZ_HINT = "install Graphviz to draw it (apt-get install graphviz, dnf install graphviz or brew install graphviz)"

# Light to dark: ColorBrewer's five-class Blues.
SHADES = ["#eff3ff", "#bdd7e7", "#6baed6", "#3182bd", "#08519c"]
FOCUS_FILL = "#ffd92f"
CYCLE_RED = "#d7301f"
EDGE_GREY = "#c4c4c4"
FOCUS_EDGE = "#303030"
FONT = "Helvetica"


class RenderError(Exception):
    """Graphviz is present but failed; the message is its own first line."""


def choose_nodes(focus, nodes, edges, scores, limit=MAX_NODES):
    """The focus and up to limit - 1 other nodes of the neighbourhood (nodes, edges).

    Best first from the focus: the next node is always the highest-scored one
    (ties broken by name) among those adjacent, in either direction, to a node
    already chosen. The result lists nodes in the order they were chosen.
    """
    members = set(nodes)
    adjacent = {}
    for s, t in edges:
        if s != t and s in members and t in members:
            adjacent.setdefault(s, set()).add(t)
            adjacent.setdefault(t, set()).add(s)
    chosen = [focus]
    seen = {focus}
    frontier = []
    current = focus
    while len(chosen) < limit:
        for n in adjacent.get(current, ()):
            if n not in seen:
                seen.add(n)
                heapq.heappush(frontier, (-scores.get(n, 0.0), n))
        if not frontier:
            break
        current = heapq.heappop(frontier)[1]
        chosen.append(current)
    return chosen


def _quote(s):
    return '"' + s.replace("\\", "\\\\").replace('"', '\\"').replace("\n", "\\n") + '"'


def _html(s):
    return s.replace("&", "&amp;").replace("<", "&lt;").replace(">", "&gt;").replace('"', "&quot;")


def _shade(score, low, high):
    """0 (lightest) to 4 (darkest), by the log of the score between low and high."""
    if score <= 0 or high <= low or low <= 0:
        return 0 if score < high else len(SHADES) - 1
    x = (math.log(score) - math.log(low)) / (math.log(high) - math.log(low))
    return min(len(SHADES) - 1, max(0, int(x * len(SHADES))))


def neighbourhood_dot(focus, drawn, edges, scores, cycle, depth, total_nodes):
    """DOT text of the drawn nodes and the edges among them.

    cycle is the focus's strongly connected component (empty when the focus
    lies on no cycle); total_nodes is the size of the whole neighbourhood.
    Parallel edges are drawn once, self loops not at all.
    """
    drawn_set = set(drawn)
    cycle = set(cycle)
    others = [scores.get(n, 0.0) for n in drawn if n != focus]
    positive = [s for s in others if s > 0]
    low = min(positive) if positive else 0.0
    high = max(positive) if positive else 0.0

    steps = "1 step" if depth == 1 else f"{depth:,} steps"
    if len(drawn) < total_nodes:
        subtitle = f"the {len(drawn)} most central of the {total_nodes:,} nodes within {steps}, by PageRank"
    else:
        subtitle = f"all {total_nodes:,} nodes within {steps}"
    in_cycle = len(cycle & drawn_set)
    legend = [
        f'<TR><TD BGCOLOR="{FOCUS_FILL}" BORDER="1" COLOR="{CYCLE_RED if cycle else "black"}">&nbsp;{_html(focus)}&nbsp;</TD>'
        f'<TD ALIGN="LEFT">the focus</TD></TR>',
    ]
    if cycle:
        legend.append(
            f'<TR><TD BORDER="2" COLOR="{CYCLE_RED}"><FONT COLOR="{CYCLE_RED}">red</FONT></TD>'
            f'<TD ALIGN="LEFT">on a cycle with {_html(focus)} (its strongly connected component: '
            f"{len(cycle):,} nodes, {in_cycle} drawn)</TD></TR>"
        )
    else:
        legend.append(f'<TR><TD></TD><TD ALIGN="LEFT">{_html(focus)} lies on no cycle</TD></TR>')
    swatches = "".join(f'<TD BGCOLOR="{c}" BORDER="1" WIDTH="18"> </TD>' for c in SHADES)
    legend.append(
        f'<TR><TD><TABLE BORDER="0" CELLSPACING="0"><TR>{swatches}</TR></TABLE></TD>'
        f'<TD ALIGN="LEFT">PageRank, low to high: darker and larger ranks higher'
        f"{f' ({low:.2g} to {high:.2g})' if positive else ''}</TD></TR>"
    )
    legend.append('<TR><TD>A → B</TD><TD ALIGN="LEFT">A depends on B</TD></TR>')
    label = (
        '<<TABLE BORDER="0" CELLSPACING="4" CELLPADDING="3">'
        f'<TR><TD COLSPAN="2"><FONT POINT-SIZE="22"><B>Neighbourhood of {_html(focus)}</B></FONT></TD></TR>'
        f'<TR><TD COLSPAN="2"><FONT POINT-SIZE="14">{_html(subtitle)}</FONT></TD></TR>'
        + "".join(legend)
        + "</TABLE>>"
    )

    lines = [
        "digraph neighbourhood {",
        f"  graph [rankdir=LR, labelloc=t, fontname={_quote(FONT)}, fontsize=12, nodesep=0.25, ranksep=0.9,",
        f"         label={label}];",
        f'  node [shape=box, style="rounded,filled", fontname={_quote(FONT)}, penwidth=1, color="#4d4d4d"];',
        f"  edge [color={_quote(EDGE_GREY)}, arrowsize=0.5, penwidth=0.8];",
    ]
    for n in drawn:
        score = scores.get(n, 0.0)
        attrs = {"tooltip": f"{n}: PageRank {score:.6g}"}
        classes = []
        if n == focus:
            classes.append("focus")
            attrs.update(fillcolor=FOCUS_FILL, fontsize="20", penwidth="3", color="black")
            attrs["label"] = n
        else:
            shade = _shade(score, low, high)
            attrs.update(fillcolor=SHADES[shade], fontsize=str(11 + 2 * shade))
            if shade >= 3:
                attrs["fontcolor"] = "white"
        if n in cycle:
            classes.append("cycle")
            attrs.update(color=CYCLE_RED, penwidth="3" if n != focus else "4")
        if classes:
            attrs["class"] = " ".join(classes)
        text = ", ".join(f"{k}={_quote(v)}" for k, v in attrs.items())
        lines.append(f"  {_quote(n)} [{text}];")
    seen = set()
    for s, t in edges:
        if s == t or (s, t) in seen or s not in drawn_set or t not in drawn_set:
            continue
        seen.add((s, t))
        if s in cycle and t in cycle:
            lines.append(f'  {_quote(s)} -> {_quote(t)} [color="{CYCLE_RED}", penwidth=1.6, class="cycle"];')
        elif focus in (s, t):
            lines.append(f'  {_quote(s)} -> {_quote(t)} [color="{FOCUS_EDGE}", penwidth=1.3, arrowsize=0.7];')
        else:
            lines.append(f"  {_quote(s)} -> {_quote(t)};")
    lines.append("}")
    return "\n".join(lines) + "\n"


def graphviz():
    return shutil.which("dot")


def render(dot_text, out, fmt):
    """Draw dot_text into the file out in format fmt ('svg' or 'png') with Graphviz."""
    dot = graphviz()
    result = subprocess.run([dot, f"-T{fmt}", "-o", out], input=dot_text.encode("utf-8"), capture_output=True)
    if result.returncode != 0:
        lines = result.stderr.decode("utf-8", "replace").strip().splitlines()
        raise RenderError(f"Graphviz could not draw {out}: {lines[0] if lines else f'exit status {result.returncode}'}")
    if not os.path.exists(out):
        raise RenderError(f"Graphviz wrote no {out}")
