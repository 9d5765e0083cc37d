// The result of the centrality cores: one score per node.
#pragma once

#include <vector>

#include "graph/names.h"
#include "graph/types.h"

namespace lhg {

// scores[v] belongs to the node named names.name(v); one entry per node.
struct ScoreMap {
  NameTable names;
  std::vector<Score> scores;
};

}  // namespace lhg
