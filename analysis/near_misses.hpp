// Line ends that almost meet: two nodes of the loaded lines whose places differ but lie within
// a tolerance of each other, at least one of them a loose end (exactly one line end). Most
// often a line end that was meant to be snapped to another and was not, so a join or a
// direction check did not happen there. Found through a grid of cells as wide as the
// tolerance, so the work grows with the number of nodes, not with its square.
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <vector>

#include "analysis/findings.hpp"
#include "analysis/node_table.hpp"
#include "digi/definiciones_digi.hpp"

namespace tarvel::analysis {

/// Two node numbers, the lower first.
using NodePair = std::array<std::int32_t, 2>;

/// The near misses of `nodes` (from CreamosNodos on `tables`), each pair once, ordered by their
/// node numbers. `tolerance` is in file units (Euclidean distance in X and Y, at most the
/// tolerance). The node loop may run before or meanwhile: it changes nothing this reads.
[[nodiscard]] std::vector<NodePair> find_near_pairs(const NodeTable& nodes, double tolerance);

/// Near pairs with the loaded lines that end at each of their nodes, in the order they were
/// registered: all that describing them needs of the node table.
struct NearPairs {
    std::vector<NodePair> pairs;
    std::map<std::int32_t, std::vector<std::int32_t>> lines_at;
};

/// find_near_pairs, and the lines at their nodes. Like it, it may run beside the node loop.
[[nodiscard]] NearPairs gather_near_pairs(const NodeTable& nodes, double tolerance);

/// The near misses of `near`: both places with the loaded lines that end there, and the
/// distance. May be called after the node loop.
[[nodiscard]] std::vector<NearMiss> describe_near_misses(const digi::ElementTables& tables,
                                                         const NodeTable& nodes,
                                                         const NearPairs& near);
/// Both steps at once.
[[nodiscard]] std::vector<NearMiss> find_near_misses(const digi::ElementTables& tables,
                                                     const NodeTable& nodes, double tolerance);

} // namespace tarvel::analysis
