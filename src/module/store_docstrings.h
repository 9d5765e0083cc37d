// The docstrings of lanternhollow_graph_store. Each callable's begins with
// its text signature and "\n--\n\n", from which the interpreter derives
// __text_signature__.
#pragma once

namespace lhg::py::store_doc {

inline constexpr const char kModule[] =
    "A dependency graph built once and asked many questions.\n\n"
    "Graph(edges) converts and numbers an edge list as the functions of\n"
    "lanternhollow_graph do, and keeps it: each method returns exactly what the\n"
    "function of the same name returns for that list, without converting it again.";

inline constexpr const char kGraph[] =
    "Graph(edges)\n--\n\n"
    "A directed multigraph of named nodes, built once from (source, target) pairs.\n\n"
    "`edges` is a list of 2-tuples of str, or any iterable of pairs (tuples or\n"
    "lists of two str). Every pair is an edge of its own: parallel edges and self\n"
    "loops stay. Nodes are numbered in order of first appearance, the source of a\n"
    "pair before its target, and a node's edges are walked most recently listed\n"
    "first. A graph never changes once built; its methods release the interpreter\n"
    "lock while they compute, so many threads may query one graph at once.\n\n"
    "Each analysis returns what the function of the same name in lanternhollow_graph\n"
    "returns for the same list, to the last bit. Unlike the functions, a start name\n"
    "or seed that is not in the graph raises KeyError, `max_depth` may be None (no\n"
    "limit), and every analysis takes a keyword-only `threads`: None as the variable\n"
    "LANTERNHOLLOW_GRAPH_THREADS says, 0 for every CPU the process may use, N for at\n"
    "most N. No result's bits depend on it.";

inline constexpr const char kPagerank[] =
    "pagerank($self, /, alpha=0.85, max_iter=100, *, threads=None)\n--\n\n"
    "PageRank of every node, by exactly `max_iter` power iterations.\n\n"
    "Returns {name: score} for every node, in node order; as pagerank(edges, ...).";

inline constexpr const char kBetweenness[] =
    "betweenness($self, /, normalized=True, *, threads=None)\n--\n\n"
    "Exact betweenness centrality of every node, over shortest paths along the edges.\n\n"
    "Returns {name: score} for every node, in node order; as betweenness(edges, ...).";

inline constexpr const char kSampledBetweenness[] =
    "sampled_betweenness($self, /, sample_size=100, seed=42, normalized=True, *, threads=None)\n--\n\n"
    "Betweenness estimated from `sample_size` source nodes drawn with `seed`.\n\n"
    "Returns {name: score} for every node; as sampled_betweenness(edges, ...).";

inline constexpr const char kStronglyConnected[] =
    "strongly_connected($self, /, *, threads=None)\n--\n\n"
    "The strongly connected components of two or more nodes, largest first.\n\n"
    "Returns a list of lists of names; as strongly_connected(edges).";

inline constexpr const char kClosureSizes[] =
    "closure_sizes($self, /, *, threads=None)\n--\n\n"
    "How many names each name reaches, and how many reach it.\n\n"
    "Returns {name: (dependencies, dependents)} for every node, in node order:\n"
    "`dependencies` counts the names reached from it by one or more edges,\n"
    "`dependents` the names it is reached from, the name itself never counted, even\n"
    "on a cycle or with a self loop (the sizes of networkx's descendants and\n"
    "ancestors). Exact at any size, in bounded working memory.";

inline constexpr const char kAncestorsAtDepth[] =
    "ancestors_at_depth($self, /, target, max_depth=None, *, threads=None)\n--\n\n"
    "What reaches `target` within `max_depth` steps (None: any number).\n\n"
    "Returns {name: shortest distance} by breadth-first search against the edges;\n"
    "KeyError if `target` is not a node.";

inline constexpr const char kDescendantsAtDepth[] =
    "descendants_at_depth($self, /, source, max_depth=None, *, threads=None)\n--\n\n"
    "What `source` reaches within `max_depth` steps (None: any number).\n\n"
    "Returns {name: shortest distance} by breadth-first search along the edges;\n"
    "KeyError if `source` is not a node.";

inline constexpr const char kBatchAncestors[] =
    "batch_ancestors($self, /, targets, max_depth=None, *, threads=None)\n--\n\n"
    "ancestors_at_depth for each distinct name of `targets`.\n\n"
    "Returns {target: {name: distance}} in order of first listing; KeyError if a\n"
    "target is not a node.";

inline constexpr const char kBatchDescendants[] =
    "batch_descendants($self, /, sources, max_depth=None, *, threads=None)\n--\n\n"
    "descendants_at_depth for each distinct name of `sources`.\n\n"
    "Returns {source: {name: distance}} in order of first listing; KeyError if a\n"
    "source is not a node.";

inline constexpr const char kSubgraph[] =
    "subgraph($self, /, seed_nodes, max_depth=2, include_incoming=True, include_outgoing=True, *, threads=None)\n"
    "--\n\n"
    "The nodes within `max_depth` steps of the seeds (None: any number), and every\n"
    "edge among them.\n\n"
    "Returns (nodes, edges) as subgraph(edges, ...) does; KeyError if a seed is not\n"
    "a node.";

inline constexpr const char kWhy[] =
    "why($self, /, source, target, *, threads=None)\n--\n\n"
    "One shortest chain of names from `source` to `target`, both included; None if\n"
    "there is none, [source] if they are the same.\n\n"
    "The chain a breadth-first search from `source` along the edges, in walk order,\n"
    "finds first: each name is reached through the name that discovered it.";

inline constexpr const char kWhyAll[] =
    "why_all($self, /, source, target, limit=10, *, threads=None)\n--\n\n"
    "(chains, count): the first `limit` shortest chains from `source` to `target`\n"
    "and the exact number of shortest chains.\n\n"
    "Chains are lists of names (parallel edges make no second chain), ordered from\n"
    "the target back: by the place in the breadth-first search's queue of the name\n"
    "before the target, then of the one before that, and so on. The first is why's.\n"
    "([], 0) if `target` cannot be reached.";

inline constexpr const char kCycle[] =
    "cycle($self, /, name, *, threads=None)\n--\n\n"
    "A shortest cycle through `name`, as the names from `name` round to the last\n"
    "before it again; [name] for a self loop, None if `name` is on no cycle.\n\n"
    "Of the shortest, the one closing at the name earliest in a breadth-first search\n"
    "from `name`, reached as why() reaches it.";

inline constexpr const char kBuildOrder[] =
    "build_order($self, /, *, threads=None)\n--\n\n"
    "The strongly connected components as units, in layers: a list of layers, each a\n"
    "list of units, each a list of names.\n\n"
    "An edge (source, target) is the source depending on the target. Layer 0 holds the\n"
    "units that depend on nothing outside themselves; each later layer the units that\n"
    "depend only on earlier ones, each unit in the earliest layer it can take. The\n"
    "number of layers is the critical path of a parallel build. Names of a unit in\n"
    "node order, units of a layer in the order of their first names.";

inline constexpr const char kWeaklyConnected[] =
    "weakly_connected($self, /, *, threads=None)\n--\n\n"
    "The islands: groups of names joined by edges either way, largest first, equal\n"
    "sizes in the order of their first names; names of an island in node order. A\n"
    "name with no edge to another is an island of its own.";

inline constexpr const char kDominators[] =
    "dominators($self, /, root, *, threads=None)\n--\n\n"
    "Every name that `root` reaches, `root` itself excepted, mapped to its immediate\n"
    "dominator: the last name that every chain of edges from `root` to it passes\n"
    "through (`root` itself if no other name does).\n\n"
    "Keys in the order a breadth-first search from `root` along the edges, in walk\n"
    "order, discovers them; a dominator always comes before the names it dominates.\n"
    "{} if `root` reaches nothing but itself; KeyError if `root` is not a node.";

inline constexpr const char kFallsAway[] =
    "falls_away($self, /, root, name, *, threads=None)\n--\n\n"
    "The names that `root` reaches only through `name`: those that leave its reach if\n"
    "`name` is dropped, `name` first.\n\n"
    "Names in the order of dominators(root)'s keys. Every name `root` reaches, `root`\n"
    "first, if `name` is `root`; [] if `root` does not reach `name`. KeyError if\n"
    "either is not a node.";

inline constexpr const char kSoleProviders[] =
    "sole_providers($self, /, root, top=10, *, threads=None)\n--\n\n"
    "The `top` names whose dropping takes the most of what `root` reaches with them,\n"
    "as [(name, count)], count being len(falls_away(root, name)).\n\n"
    "Every name `root` reaches but `root` is a candidate, counting at least itself:\n"
    "largest count first, equal counts in the order of dominators(root)'s keys.\n"
    "Fewer than `top` when `root` reaches fewer names; KeyError if `root` is not a\n"
    "node.";

inline constexpr const char kNames[] =
    "names($self, /)\n--\n\n"
    "Every node's name, in node order.";

inline constexpr const char kSuccessors[] =
    "successors($self, name, /)\n--\n\n"
    "The targets of `name`'s outgoing edges, most recently listed first, parallel\n"
    "edges repeated.";

inline constexpr const char kPredecessors[] =
    "predecessors($self, name, /)\n--\n\n"
    "The sources of `name`'s incoming edges, most recently listed first, parallel\n"
    "edges repeated.";

inline constexpr const char kOutDegree[] =
    "out_degree($self, name, /)\n--\n\n"
    "The number of `name`'s outgoing edges, parallel edges and self loops counted.";

inline constexpr const char kInDegree[] =
    "in_degree($self, name, /)\n--\n\n"
    "The number of `name`'s incoming edges, parallel edges and self loops counted.";

inline constexpr const char kSave[] =
    "save($self, /, path)\n--\n\n"
    "Writes the graph to `path` as a snapshot, which Graph.load maps back in an\n"
    "instant. The file is written beside `path` and takes its name only once it is\n"
    "complete: a failure leaves whatever was there before. The format is\n"
    "documented (docs/snapshots.md) and is the same on every machine of the same\n"
    "byte order; pickling a graph gives the same bytes.";

inline constexpr const char kLoad[] =
    "load(path)\n--\n\n"
    "The graph saved in the snapshot at `path`, mapped read-only rather than read:\n"
    "the file's pages are shared by every process that loads it, and the file must\n"
    "not change while the graph lives. It answers every query with the bits of the\n"
    "graph saved. A file that is not a sound snapshot (damaged, truncated, of\n"
    "another format version) gets ValueError saying why; a file that cannot be\n"
    "opened, OSError.";

inline constexpr const char kNodeCount[] = "The number of nodes.";
inline constexpr const char kEdgeCount[] = "The number of edges, parallel edges and self loops included.";
inline constexpr const char kNbytes[] = "Bytes of memory the graph holds: its names, their index and its adjacency.";

inline constexpr const char kFromArrow[] =
    "from_arrow($type, /, obj, source=0, target=1)\n--\n\n"
    "A graph of the rows of an Arrow table, each row an edge from its `source`\n"
    "column's name to its `target` column's.\n\n"
    "`obj` is any object with __arrow_c_stream__: a pyarrow Table or\n"
    "RecordBatchReader, a polars DataFrame, ... Its data is read through the Arrow C\n"
    "stream interface, batch by batch, without a Python object per row. `source`\n"
    "and `target` pick columns by position (an int; negative counts from the end)\n"
    "or by name (a str). Each must hold strings: utf8, large_utf8, string_view, or\n"
    "a dictionary of one of those.\n\n"
    "The graph equals Graph(list(zip(sources, targets))) of the same rows in row\n"
    "order: the same nodes, numbered alike, the same edges, every result the same.\n\n"
    "Raises TypeError for an object without __arrow_c_stream__, a column that does\n"
    "not hold strings or a stream that is no table; KeyError for a name that no\n"
    "column has, IndexError for a position past the columns; ValueError for a null\n"
    "name, invalid UTF-8 or inconsistent Arrow data, naming the row (counted from 0\n"
    "over the whole stream); OSError, with the producer's message, when the stream\n"
    "reports an error. A subclass's from_arrow returns an instance of the subclass.";

inline constexpr const char kRead[] =
    "read($type, /, path, *, delimiter=None, comment='#', header=False)\n--\n\n"
    "The graph of an edge-list file: exactly Graph(pairs) for the file's pairs in\n"
    "line order.\n\n"
    "One pair a line, the two names separated by a tab, or by a comma in a line\n"
    "without a tab; `delimiter` (one character) splits at it alone. Fields after\n"
    "the second are ignored and whitespace around a name is dropped, as\n"
    "str.strip() drops it. Blank lines and lines starting with `comment` (None: no\n"
    "comment lines) are skipped; \"\\r\" before a newline and a UTF-8 byte order\n"
    "mark at the start are dropped; `header` skips the first line, whatever it\n"
    "holds. A gzip file (one or more members) is\n"
    "recognised by its first bytes, whatever its name; `path` \"-\" reads standard\n"
    "input. `path` is a str, bytes or os.PathLike.\n\n"
    "ValueError names the file and the line for a line that is not a pair (fewer\n"
    "than two fields, an empty name, text that is not UTF-8, a NUL byte, more than\n"
    "1 MiB), and says where for a damaged or cut-short gzip stream; OSError for a\n"
    "file that cannot be opened or read. The file is read, parsed and interned\n"
    "with the interpreter lock released.";

inline constexpr const char kEdges[] =
    "edges($self, /)\n--\n\n"
    "Every edge as a (source, target) tuple, in the order of the edge list the\n"
    "graph was built from, parallel edges and self loops included:\n"
    "Graph(g.edges()) == g.";

inline constexpr const char kDistinctEdgeCount[] =
    "distinct_edge_count($self, /)\n--\n\n"
    "The number of distinct (source, target) pairs: edge_count with parallel\n"
    "edges counted once. Counted on each call, in one pass over the edges.";

inline constexpr const char kWithout[] =
    "without($self, /, names)\n--\n\n"
    "The graph of the same edge list with every edge that has one of `names` at\n"
    "either end left out: Graph(kept pairs), nodes numbered in order of first\n"
    "appearance among the edges kept. A node whose every edge touches one of\n"
    "`names` goes with them. Each of `names` must be a node (KeyError otherwise);\n"
    "the graph is built natively, with no object made per edge.";

}  // namespace lhg::py::store_doc
