// A literal, slow model of the whole job on one DIGI file, written step by step from the
// rules of the tool: two-pass loading, a node table built by linear scan, the node loop with
// eager copying into a scratch list, the output writer and the error file, and what the job
// finds besides (where each output line comes from, nodes passed over, Z differences, near
// misses). The engine is checked against it on many generated sheets; it favours being
// obviously right over speed.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace tarvel::model {

struct Counts {
    std::int64_t lines_read = 0;
    std::int64_t texts_read = 0;
    std::int64_t joins = 0;
    std::int64_t error_points = 0;
    std::int64_t rings_passed_over = 0;  ///< nodes whose two entries name the same line
    std::int64_t vertex_limit_nodes = 0; ///< joins left because the line would pass 32767
    std::int64_t lines_written = 0;

    bool operator==(const Counts&) const = default;
};

/// A loaded line as a person finds it in the input file: its number among all the file's
/// elements, whatever their type, and the byte where it starts, both 1-based.
struct LineRef {
    std::int64_t element = 0;
    std::int64_t byte = 0;

    bool operator==(const LineRef&) const = default;
};

/// A loaded line as it stands in an output line, and whether it runs against it.
struct Piece {
    LineRef line;
    bool reversed = false;

    bool operator==(const Piece&) const = default;
};

struct Point {
    std::int32_t x = 0;
    std::int32_t y = 0;
    std::int32_t z = 0;

    bool operator==(const Point&) const = default;
};

/// A node where two lines meet and no join was made: the first line's end vertex there, and
/// of each line the loaded line whose end lies there. For a ring, vertex 1 of the ring and
/// the loaded lines holding its vertex 1 and its last vertex.
struct NodeFinding {
    Point point;
    std::array<LineRef, 2> lines{};

    bool operator==(const NodeFinding&) const = default;
};

struct VertexLimitFinding {
    NodeFinding node;
    std::int64_t vertex_count = 0; ///< vertices the joined line would have had

    bool operator==(const VertexLimitFinding&) const = default;
};

/// A join whose two line ends differ in Z: the place, the Z of the first and of the second
/// line's end, and the loaded lines those ends belong to.
struct ZDifference {
    std::int32_t x = 0;
    std::int32_t y = 0;
    std::array<std::int32_t, 2> z{};
    std::array<LineRef, 2> lines{};

    bool operator==(const ZDifference&) const = default;
};

/// One node of a near miss: its X and Y with the Z of its first line's end there, and its
/// lines in the order they were registered.
struct NearPlace {
    Point point;
    std::vector<LineRef> lines;

    bool operator==(const NearPlace&) const = default;
};

struct NearMiss {
    std::array<NearPlace, 2> places; ///< the lower node number first
    double distance = 0;             ///< in file units

    bool operator==(const NearMiss&) const = default;
};

struct Findings {
    /// For each line of the output, in the order written, the loaded lines it is made of in
    /// its running order.
    std::vector<std::vector<Piece>> provenance;
    std::vector<NodeFinding> direction_errors; ///< in the order found, as the error points
    std::vector<NodeFinding> rings;
    std::vector<VertexLimitFinding> vertex_limit;
    std::vector<ZDifference> z_differences;
    std::vector<NearMiss> near_misses; ///< ordered by their two node numbers
};

struct Result {
    std::vector<std::byte> output; ///< the output file
    std::vector<std::byte> errors; ///< the error file; empty when no direction error was found
    Counts counts;
    Findings findings;
};

/// Runs the job on `input`. `codes` is the list of codes with direction as a codes file gives
/// it, or null when no codes file is named. `unit_factor` is 1, 100 or 1000. `all_elements`
/// is "Salida de Todos los Elementos". `tolerance` is the near-miss tolerance in metres (0
/// finds none). Throws tarvel::FormatError for a malformed file.
[[nodiscard]] Result run(std::span<const std::byte> input, const std::vector<std::string>* codes,
                         std::int32_t unit_factor, bool all_elements, double tolerance = 0.0);

} // namespace tarvel::model
