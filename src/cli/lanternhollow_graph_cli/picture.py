"""The picture of a node's neighbourhood: a Graphviz graph small enough to read.

A neighbourhood of a few steps in a dependency graph easily holds hundreds of
nodes; drawn whole it is a hairball. The picture keeps the focus and grows
from it best first: at each step it adds the highest-ranked node (by PageRank)
adjacent to one already drawn, until it holds MAX_NODES. Growing by adjacency
keeps the drawing connected, so every drawn node shows how it reaches the
focus. Darker and larger boxes rank higher; the members of the focus's
strongly connected component are outlined in red, as are the edges among them.

A focus inside a large cycle would have the picture filled by the rest of
the cycle: when its strongly connected component has more than
COLLAPSE_ABOVE members, the others that lie in the neighbourhood are drawn
as one red box that gives their count, and every edge to or from one of
them as an edge to or from the box.
"""

import heapq
import math
import os
import shutil
import subprocess
from typing import NamedTuple

MAX_NODES = 40
COLLAPSE_ABOVE = 8

GRAPHVIZ_HINT = "install Graphviz to draw it (apt-get install graphviz, dnf install graphviz or brew install graphviz)"

# Light to dark: ColorBrewer's five-class Blues.
SHADES = ["#eff3ff", "#bdd7e7", "#6baed6", "#3182bd", "#08519c"]
FOCUS_FILL = "#ffd92f"
CYCLE_RED = "#d7301f"
EDGE_GREY = "#c4c4c4"
FOCUS_EDGE = "#303030"
BOX_FILL = "#fee0d2"
FONT = "Helvetica"


class RenderError(Exception):
    """Graphviz is present but failed; the message is its own first line."""


class Box(NamedTuple):
    """The members of the focus's component, other than the focus, drawn as one node."""

    key: str  # the box's node in the picture: a name that no node of the neighbourhood has
    members: list  # the members it stands for, those in the neighbourhood, in its order
    size: int  # the whole component's size, the focus included


def collapse(focus, nodes, edges, component, above=COLLAPSE_ABOVE):
    """(nodes, edges, box): the neighbourhood (nodes, edges) with the focus's component merged into a box.

    Only a component of more than `above` members is merged, and only when
    some member other than the focus lies in the neighbourhood; otherwise
    nodes and edges come back as they are, with box None. Merged, the box
    takes the place of its first member in the node list, and an edge keeps
    its place with each end that is a member replaced by the box's key
    (edges among members become the box's self loops).
    """
    if len(component) <= above:
        return nodes, edges, None
    merged = set(component)
    merged.discard(focus)
    members = [n for n in nodes if n in merged]
    if not members:
        return nodes, edges, None
    taken = set(nodes)
    key = f"{len(members)} others on a cycle with {focus}"
    while key in taken:
        key += "'"
    box = Box(key, members, len(component))
    new_nodes = []
    for n in nodes:
        if n not in merged:
            new_nodes.append(n)
        elif n == members[0]:
            new_nodes.append(key)
    new_edges = [(key if s in merged else s, key if t in merged else t) for s, t in edges]
    return new_nodes, new_edges, box


class View:
    """What the picture of a neighbourhood holds: its nodes and edges, a box for a large cycle, the nodes drawn.

    component is the focus's strongly connected component (empty when the
    focus lies on no cycle). The box, when there is one, is drawn right after
    the focus whatever its rank.
    """

    def __init__(self, focus, nodes, edges, scores, component, limit=MAX_NODES):
        self.focus = focus
        self.scores = scores
        self.component = component
        self.nodes = nodes
        self.real_edges = edges
        shown_nodes, self.edges, self.box = collapse(focus, nodes, edges, component)
        first = self.box.key if self.box else None
        self.drawn = choose_nodes(focus, shown_nodes, self.edges, scores, limit, first=first)

    def drawn_names(self):
        """The nodes drawn one by one, in the order chosen; the box's members are not among them."""
        return [n for n in self.drawn if self.box is None or n != self.box.key]

    def drawn_edges(self):
        """The distinct edges of the neighbourhood among the nodes the picture shows, under their own names.

        An edge to or from the box is one of the edges it stands for; the edges
        among the box's members are left out. Self loops of drawn nodes are
        listed, though the picture does not draw them.
        """
        shown = set(self.drawn_names())
        inside = set(self.box.members) if self.box else set()
        seen = {}
        for s, t in self.real_edges:
            if s in inside and t in inside:
                continue
            if (s in shown or s in inside) and (t in shown or t in inside):
                seen.setdefault((s, t), None)
        return list(seen)

    def dot(self, depth, total_nodes):
        return neighbourhood_dot(
            self.focus, self.drawn, self.edges, self.scores, self.component, depth, total_nodes, self.box
        )


def choose_nodes(focus, nodes, edges, scores, limit=MAX_NODES, first=None):
    """The focus and up to limit - 1 other nodes of the neighbourhood (nodes, edges).

    Best first from the focus: the next node is always the highest-scored one
    (ties broken by name) among those adjacent, in either direction, to a node
    already chosen; the node `first`, if given, ranks above all. The result
    lists nodes in the order they were chosen.
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
                heapq.heappush(frontier, (-math.inf if n == first else -scores.get(n, 0.0), n))
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


def neighbourhood_dot(focus, drawn, edges, scores, cycle, depth, total_nodes, box=None):
    """DOT text of the drawn nodes and the edges among them.

    cycle is the focus's strongly connected component (empty when the focus
    lies on no cycle); total_nodes is the size of the whole neighbourhood.
    box is the Box that collapse() made of the component, if it made one:
    drawn and edges then name the box by its key. Parallel edges are drawn
    once, self loops not at all.
    """
    drawn_set = set(drawn)
    cycle = set(cycle)
    if box:
        cycle.add(box.key)
    others = [scores.get(n, 0.0) for n in drawn if n != focus and not (box and n == box.key)]
    positive = [s for s in others if s > 0]
    low = min(positive) if positive else 0.0
    high = max(positive) if positive else 0.0

    steps = "1 step" if depth == 1 else f"{depth:,} steps"
    if box:
        outside = total_nodes - len(box.members)
        in_box = f"the {len(box.members):,} others on its cycle in one box"
        if len(drawn) - 1 < outside:
            subtitle = (
                f"the {len(drawn) - 1} most central of the {outside:,} nodes within {steps} off its cycle, "
                f"by PageRank; {in_box}"
            )
        else:
            subtitle = f"all {total_nodes:,} nodes within {steps}, {in_box}"
    elif len(drawn) < total_nodes:
        subtitle = f"the {len(drawn)} most central of the {total_nodes:,} nodes within {steps}, by PageRank"
    else:
        subtitle = f"all {total_nodes:,} nodes within {steps}"
    in_cycle = len(cycle & drawn_set)
    legend = [
        f'<TR><TD BGCOLOR="{FOCUS_FILL}" BORDER="1" COLOR="{CYCLE_RED if cycle else "black"}">&nbsp;{_html(focus)}&nbsp;</TD>'
        f'<TD ALIGN="LEFT">the focus</TD></TR>',
    ]
    if box:
        legend.append(
            f'<TR><TD BORDER="2" COLOR="{CYCLE_RED}"><FONT COLOR="{CYCLE_RED}">red</FONT></TD>'
            f'<TD ALIGN="LEFT">on a cycle with {_html(focus)} (its strongly connected component: '
            f"{box.size:,} nodes; the {len(box.members):,} others within {steps} in one box)</TD></TR>"
        )
    elif cycle:
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
        if box and n == box.key:
            label = f"{len(box.members):,} others on a cycle\nwith {focus}"
            if len(box.members) < box.size - 1:
                label += f"\n(of {box.size - 1:,}; the rest beyond {steps})"
            more = len(box.members) - 30
            attrs = {
                "label": label,
                "tooltip": ", ".join(box.members[:30]) + (f", ... (+{more})" if more > 0 else ""),
                "shape": "box3d",
                "style": "filled",
                "fillcolor": BOX_FILL,
                "color": CYCLE_RED,
                "penwidth": "3",
                "fontsize": "16",
                "class": "cycle collapsed",
            }
            text = ", ".join(f"{k}={_quote(v)}" for k, v in attrs.items())
            lines.append(f"  {_quote(n)} [{text}];")
            continue
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


def render(dot_text, out, fmt, shown=None):
    """Draw dot_text into the file out in format fmt ('svg' or 'png') with Graphviz.

    shown is the name that messages give the file (out itself by default).
    """
    shown = out if shown is None else shown
    dot = graphviz()
    try:
        result = subprocess.run([dot, f"-T{fmt}", "-o", out], input=dot_text.encode("utf-8"), capture_output=True)
    except OSError as exc:
        # A dot on PATH that cannot be run (not a program, gone since found).
        raise RenderError(f"Graphviz could not draw {shown}: cannot run {dot}: {exc.strerror or exc}") from None
    if result.returncode != 0:
        lines = result.stderr.decode("utf-8", "replace").strip().splitlines()
        raise RenderError(f"Graphviz could not draw {shown}: {lines[0] if lines else f'exit status {result.returncode}'}")
    if not os.path.exists(out):
        raise RenderError(f"Graphviz wrote no {shown}")
