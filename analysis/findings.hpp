// What the node analysis found besides its joins, for the summary, the report, the GIS export
// and the window: direction errors, rings and vertex-limit nodes passed over, joins whose two
// ends differ in Z, and line ends that almost meet. Places are in file units; lines are named
// by the loaded lines (indices in the line element table) whose ends lie at the place.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "digi/definiciones_digi.hpp"

namespace tarvel::analysis {

/// A node where two lines meet and something other than a join happened: the first line's end
/// vertex at the node (its Z included), and of each line the loaded line whose end lies there.
struct NodeFinding {
    digi::Vertex point;
    std::array<std::int32_t, 2> lines{};
};

/// A join left undone because the joined line would pass the vertex limit.
struct VertexLimitFinding {
    NodeFinding node;
    std::int64_t vertex_count = 0; ///< vertices the joined line would have had
};

/// A join whose two line ends share X and Y but not Z: both vertices are kept.
struct ZDifference {
    std::int32_t x = 0;
    std::int32_t y = 0;
    std::array<std::int32_t, 2> z{};     ///< first line's, second line's
    std::array<std::int32_t, 2> lines{}; ///< the loaded lines whose ends meet there
};

/// One side of a near miss: a node of the loaded lines and the lines that end there.
struct NearPlace {
    digi::Vertex point; ///< the node's X and Y, with the Z of its first line end
    std::vector<std::int32_t> lines;

    bool operator==(const NearPlace&) const = default;
};

/// Two different nodes within the tolerance of each other, one of them a loose end.
struct NearMiss {
    std::array<NearPlace, 2> places; ///< in node order
    double distance = 0;             ///< in file units

    bool operator==(const NearMiss&) const = default;
};

struct Findings {
    std::vector<NodeFinding> direction_errors; ///< in the order found
    std::vector<NodeFinding> rings;            ///< nodes whose two entries name the same line
    std::vector<VertexLimitFinding> vertex_limit;
    std::vector<ZDifference> z_differences;
    std::vector<NearMiss> near_misses;
};

} // namespace tarvel::analysis
