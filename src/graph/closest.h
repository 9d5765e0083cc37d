// The names nearest to one that is not in a graph, for a message that
// suggests what was meant.
#pragma once

#include <cstddef>
#include <string_view>
#include <vector>

#include "graph/names.h"
#include "graph/types.h"

namespace lhg {

// Up to `count` nodes whose names are within a small edit distance of
// `wanted` (insertions, deletions and substitutions of characters), nearest
// first, ties in node order. Each name costs a banded comparison and only
// names of about the same length are compared at all.
std::vector<NodeId> closest_names(const NameTable& names, std::string_view wanted, std::size_t count);

}  // namespace lhg
