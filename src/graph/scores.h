// The result of the centrality cores: one score per node.
#pragma once

#include <vector>

#include "graph/names.h"
#include "graph/types.h"

namespace lhg {

// scores[v] belongs to node v; one entry per node.
using ScoreMap = std::vector<Score>;

}  // namespace lhg
