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

inline constexpr const char kNodeCount[] = "The number of nodes.";
inline constexpr const char kEdgeCount[] = "The number of edges, parallel edges and self loops included.";
inline constexpr const char kNbytes[] = "Bytes of memory the graph holds: its names, their index and its adjacency.";

inline constexpr const char kRead[] =
    "read($type, /, path, *, delimiter=None, comment='#', threads=None)\n--\n\n"
    "The graph of an edge-list file: exactly Graph(pairs) for the file's pairs in\n"
    "line order.\n\n"
    "One pair a line, the two names separated by a tab, or by a comma in a line\n"
    "without a tab; `delimiter` (one character) splits at it alone. Fields after\n"
    "the second are ignored and whitespace around a name is dropped, as\n"
    "str.strip() drops it. Blank lines and lines starting with `comment` (None: no\n"
    "comment lines) are skipped; \"\\r\" before a newline and a UTF-8 byte order\n"
    "mark at the start are dropped. A gzip file (one or more members) is\n"
    "recognised by its first bytes, whatever its name; `path` \"-\" reads standard\n"
    "input. `path` is a str, bytes or os.PathLike.\n\n"
    "ValueError names the file and the line for a line that is not a pair (fewer\n"
    "than two fields, an empty name, text that is not UTF-8, a NUL byte, more than\n"
    "1 MiB), and says where for a damaged or cut-short gzip stream; OSError for a\n"
    "file that cannot be opened or read. The file is read, parsed and interned\n"
    "with the interpreter lock released; with `threads` of 2 or more (None: as\n"
    "LANTERNHOLLOW_GRAPH_THREADS says) the names are interned on a second thread\n"
    "while the first reads and parses.";

}  // namespace lhg::py::store_doc
