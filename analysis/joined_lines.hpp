// The lines made by joins. A join records how its two lines are laid out instead of copying
// their vertices, so a chain of any length costs a fixed amount per join; the vertex list of a
// line still live is built when it is written (the assembly step), and its extent is taken
// from that list (the extent step).
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "digi/definiciones_digi.hpp"
#include "digi/writer.hpp"

namespace tarvel::analysis {

/// How a join lays out its two lines at the joining point, worked out before the join is made
/// (its vertex count decides whether it can be made at all).
struct JoinPlan {
    std::int32_t first = 0;        ///< the first line: header, attributes and further values
    std::int32_t second = 0;       ///< the second line
    bool first_reversed = false;   ///< first line taken from its last vertex to its vertex 1
    bool second_reversed = false;  ///< second line taken from its last vertex to its vertex 1
    bool whole_reversed = false;   ///< the second line runs into the first: list turned round
    std::int64_t vertex_count = 0; ///< vertices of the joined line, repeats dropped
};

/// Joined lines in the order made. Lines are numbered as in the node table: loaded lines
/// 0 .. loaded - 1 (the line element table), then the joined lines.
///
/// The joined vertex list of first line F and second line S at joining point p is F oriented
/// to end at p, then S oriented to start at p with every vertex dropped that repeats (X, Y
/// and Z) the vertex placed before it; where F touches p with its vertex 1 and S with its
/// last vertex, that list is turned round, so a line that runs into another keeps its
/// direction.
class JoinedLines {
public:
    JoinedLines() = default;
    explicit JoinedLines(std::int32_t loaded_line_count) : m_loaded(loaded_line_count) {}

    [[nodiscard]] std::int32_t loaded_line_count() const noexcept { return m_loaded; }
    /// Loaded lines plus joined lines: the number the next joined line gets.
    [[nodiscard]] std::int32_t line_count() const noexcept {
        return m_loaded + static_cast<std::int32_t>(m_lines.size());
    }
    /// Joined lines made so far.
    [[nodiscard]] std::int64_t size() const noexcept {
        return static_cast<std::int64_t>(m_lines.size());
    }
    /// Joined lines that no later join has absorbed.
    [[nodiscard]] std::int64_t live_count() const noexcept { return m_live; }
    [[nodiscard]] bool is_joined(std::int32_t line) const noexcept { return line >= m_loaded; }
    /// Makes room for `joins` joined lines.
    void reserve(std::int64_t joins) { m_lines.reserve(static_cast<std::size_t>(joins)); }
    /// Whether a joined line has been absorbed by a later join.
    [[nodiscard]] bool absorbed(std::int32_t line) const;
    /// Flags a joined line absorbed. Precondition: is_joined(line).
    void absorb(std::int32_t line);

    /// Vertex count of any line (loaded or joined).
    [[nodiscard]] std::int32_t vertex_count(const digi::ElementTables& tables,
                                            std::int32_t line) const;
    /// Vertex 1 of any line. Precondition: it has at least one vertex.
    [[nodiscard]] digi::Vertex start_vertex(const digi::ElementTables& tables,
                                            std::int32_t line) const;
    /// Last vertex of any line. Precondition: it has at least one vertex.
    [[nodiscard]] digi::Vertex end_vertex(const digi::ElementTables& tables,
                                          std::int32_t line) const;
    /// The loaded line whose type code, feature code, attribute records and further values
    /// the line carries: itself when loaded, the first line of the first join otherwise.
    [[nodiscard]] std::int32_t origin(std::int32_t line) const;

    /// Lays out the join of `first` and `second` at the joining point (x, y). Preconditions:
    /// each line has an end there, they are different, and the second has its other end
    /// elsewhere.
    [[nodiscard]] JoinPlan plan_join(const digi::ElementTables& tables, std::int32_t first,
                                     std::int32_t second, std::int32_t x, std::int32_t y) const;
    /// Appends the joined line of `plan` and returns its number (line_count() before).
    /// Throws std::logic_error when its vertex count does not fit a line element.
    std::int32_t add(const JoinPlan& plan);

    /// The vertex list of any line, built on demand without recursion.
    [[nodiscard]] std::vector<digi::Vertex> vertices(const digi::ElementTables& tables,
                                                     std::int32_t line) const;

    /// Appends every live joined line, in the order made, as a DIGI line element: the header
    /// of its first line with its own vertex count, the extent of its vertices with the first
    /// line's further values, its vertices, the first line's attribute records.
    void write(digi::ByteSink& out, const digi::ElementTables& tables) const;

private:
    /// Reference to an end vertex of a loaded line: line * 2, plus 1 for its last vertex.
    using EndRef = std::uint32_t;

    /// 24 bytes per joined line; vertices stay in the loaded lines.
    struct Record {
        std::int32_t first;
        std::int32_t second;
        EndRef start; ///< where vertex 1 of the joined line comes from
        EndRef end;   ///< where its last vertex comes from
        std::int32_t origin;
        std::int16_t vertex_count;
        std::uint8_t flags;
    };
    static_assert(sizeof(Record) == 24, "a joined line record stays compact");
    static constexpr std::uint8_t first_reversed_flag = 1;
    static constexpr std::uint8_t second_reversed_flag = 2;
    static constexpr std::uint8_t whole_reversed_flag = 4;
    static constexpr std::uint8_t absorbed_flag = 8;

    /// Position of a joined line in m_lines; throws std::out_of_range for a loaded line.
    [[nodiscard]] std::size_t slot(std::int32_t line) const;
    [[nodiscard]] const Record& record(std::int32_t line) const;
    [[nodiscard]] EndRef end_ref(std::int32_t line, bool last) const;
    void build(const digi::ElementTables& tables, std::int32_t line,
               std::vector<digi::Vertex>& out) const;

    std::int32_t m_loaded = 0;
    std::vector<Record> m_lines;
    std::int64_t m_live = 0;
};

/// The extent step: stores the smallest and largest X, Y and Z of `vertices` in values 1 to 6
/// of `block`, leaving values 7 to 9 as they are. Precondition: `vertices` is not empty.
void extent_step(std::span<const digi::Vertex> vertices, digi::ElementBlock& block);

} // namespace tarvel::analysis
