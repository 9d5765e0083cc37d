// The functions' docstrings. Each begins with its text signature and
// "\n--\n\n", from which the interpreter derives __text_signature__.
#pragma once

namespace lhg::py::doc {

inline constexpr const char kModule[] = "Python module definition for lanternhollow_graph.";

inline constexpr const char kPagerank[] =
    "pagerank(edges, alpha=0.85, max_iter=100)\n--\n\n"
    "PageRank algorithm for ranking node importance.\n\n"
    "Higher scores indicate nodes that many other nodes depend on.\n\n"
    "# Arguments\n"
    "* `edges` - List of (source, target) edge tuples\n"
    "* `alpha` - Damping factor (default 0.85)\n"
    "* `max_iter` - Maximum iterations for convergence\n\n"
    "# Returns\n"
    "HashMap mapping node ID to importance score (0-1)";

inline constexpr const char kStronglyConnected[] =
    "strongly_connected(edges)\n--\n\n"
    "Find strongly connected components (tightly coupled modules).\n\n"
    "Returns groups where every node can reach every other node,\n"
    "indicating high coupling.\n\n"
    "# Arguments\n"
    "* `edges` - List of (source, target) edge tuples\n\n"
    "# Returns\n"
    "List of node ID lists, each representing a strongly connected component\n"
    "with 2+ nodes (single-node components are filtered out)";

inline constexpr const char kAncestorsAtDepth[] =
    "ancestors_at_depth(edges, target, max_depth)\n--\n\n"
    "Find all ancestors up to a maximum depth using BFS.\n\n"
    "# Arguments\n"
    "* `edges` - List of (source, target) edge tuples\n"
    "* `target` - Starting node ID\n"
    "* `max_depth` - Maximum traversal depth\n\n"
    "# Returns\n"
    "HashMap mapping ancestor node ID to its depth from the target";

inline constexpr const char kDescendantsAtDepth[] =
    "descendants_at_depth(edges, source, max_depth)\n--\n\n"
    "Find all descendants up to a maximum depth using BFS.\n\n"
    "# Arguments\n"
    "* `edges` - List of (source, target) edge tuples\n"
    "* `source` - Starting node ID\n"
    "* `max_depth` - Maximum traversal depth\n\n"
    "# Returns\n"
    "HashMap mapping descendant node ID to its depth from the source";

inline constexpr const char kBetweenness[] =
    "betweenness(edges, normalized=True)\n--\n\n"
    "Betweenness centrality using Brandes algorithm.\n\n"
    "Finds nodes that sit on many shortest paths between other nodes.\n"
    "High betweenness indicates bottleneck/gateway nodes.\n\n"
    "# Arguments\n"
    "* `edges` - List of (source, target) edge tuples\n"
    "* `normalized` - Whether to normalize scores to 0-1 range (default: true)\n\n"
    "# Returns\n"
    "HashMap mapping node ID to betweenness score";

inline constexpr const char kSampledBetweenness[] =
    "sampled_betweenness(edges, sample_size=100, seed=42, normalized=True)\n--\n\n"
    "Sampled betweenness centrality for large graphs.\n\n"
    "Uses random sampling of source nodes to approximate betweenness.\n"
    "Much faster for large graphs: O(k*m) instead of O(n*m).\n\n"
    "# Arguments\n"
    "* `edges` - List of (source, target) edge tuples\n"
    "* `sample_size` - Number of random source nodes to sample (default: 100)\n"
    "* `seed` - Random seed for reproducibility (default: 42)\n"
    "* `normalized` - Whether to normalize scores to 0-1 range (default: true)\n\n"
    "# Returns\n"
    "HashMap mapping node ID to approximate betweenness score";

inline constexpr const char kBatchAncestors[] =
    "batch_ancestors(edges, targets, max_depth)\n--\n\n"
    "Batch ancestors: find ancestors for multiple targets in one graph build.\n\n"
    "More efficient than calling ancestors_at_depth multiple times.\n\n"
    "# Arguments\n"
    "* `edges` - List of (source, target) edge tuples\n"
    "* `targets` - List of target node IDs\n"
    "* `max_depth` - Maximum traversal depth\n\n"
    "# Returns\n"
    "HashMap mapping target ID to HashMap of (ancestor ID -> depth)";

inline constexpr const char kBatchDescendants[] =
    "batch_descendants(edges, sources, max_depth)\n--\n\n"
    "Batch descendants: find descendants for multiple sources in one graph build.\n\n"
    "More efficient than calling descendants_at_depth multiple times.\n\n"
    "# Arguments\n"
    "* `edges` - List of (source, target) edge tuples\n"
    "* `sources` - List of source node IDs\n"
    "* `max_depth` - Maximum traversal depth\n\n"
    "# Returns\n"
    "HashMap mapping source ID to HashMap of (descendant ID -> depth)";

inline constexpr const char kSubgraph[] =
    "subgraph(edges, seed_nodes, max_depth=2, include_incoming=True, include_outgoing=True)\n--\n\n"
    "Extract a subgraph containing only nodes within max_depth of seed nodes.\n\n"
    "Useful for lazy loading: load only the relevant portion of a large graph.\n\n"
    "# Arguments\n"
    "* `edges` - List of (source, target) edge tuples\n"
    "* `seed_nodes` - Starting nodes for the subgraph extraction\n"
    "* `max_depth` - Maximum depth from seed nodes to include (default: 2)\n"
    "* `include_incoming` - Include incoming edges (ancestors) (default: true)\n"
    "* `include_outgoing` - Include outgoing edges (descendants) (default: true)\n\n"
    "# Returns\n"
    "Tuple of (nodes, edges) where edges is a list of (src, tgt) tuples";

}  // namespace lhg::py::doc
