// Line ends that almost meet: two nodes of the loaded lines whose places differ but lie within
// a tolerance of each other, at least one of them a loose end (exactly one line end). Most
// often a line end that was meant to be snapped to another and was not, so a join or a
// direction check did not happen there. Found through a grid of cells as wide as the
// tolerance, so the work grows with the number of nodes, not with its square.
#pragma once

#include <vector>

#include "analysis/findings.hpp"
#include "analysis/node_table.hpp"
#include "digi/definiciones_digi.hpp"

namespace tarvel::analysis {

/// The near misses of `nodes` (from CreamosNodos on `tables`, before the node loop), each
/// pair once, ordered by their node numbers. `tolerance` is in file units (Euclidean distance
/// in X and Y, at most the tolerance).
[[nodiscard]] std::vector<NearMiss> find_near_misses(const digi::ElementTables& tables,
                                                     const NodeTable& nodes, double tolerance);

} // namespace tarvel::analysis
