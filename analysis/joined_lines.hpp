// The lines made by joins, stored as how each join laid out its two lines rather than as
// copied vertices, so a chain of any length costs a fixed amount per join. This is only the
// store: the orientation of a join and the assembly of vertices live in line_assembly.hpp.
#pragma once

#include <algorithm>
#include <array>
#include <cstdint>
#include <span>
#include <utility>
#include <vector>

#include "common/big_vector.hpp"
#include "digi/definiciones_digi.hpp"

namespace tarvel::analysis {

/// A loaded line as it stands in a line: its index in the line element table and whether it
/// runs against that line's direction.
struct Piece {
    std::int32_t line = 0;
    bool reversed = false;

    bool operator==(const Piece&) const = default;
};

/// How vertices that repeat the vertex placed before them are treated while a piece is placed.
enum class Repeats : std::uint8_t {
    kept,    ///< only the piece's first vertex may be dropped; the others go in as they are
    dropped, ///< every vertex equal (X, Y and Z) to the one placed last is dropped
};

/// What the node loop asks of a line at a node, read together once: the loaded line it takes
/// its code and attributes from, its end vertices and its vertex count.
struct LineOutline {
    std::int32_t line = 0;
    std::int32_t origin = 0;
    digi::ElementView origin_view;
    digi::Vertex start;
    digi::Vertex end;
    std::int32_t vertex_count = 0;
};

/// How a join lays out its two lines at the joining point.
struct JoinLayout {
    std::int32_t first = 0;        ///< the first line: header, attributes and further values
    std::int32_t second = 0;       ///< the second line
    bool first_reversed = false;   ///< first line taken from its last vertex to its vertex 1
    bool second_reversed = false;  ///< second line taken from its last vertex to its vertex 1
    bool whole_reversed = false;   ///< the second line runs into the first: list turned round
    std::int64_t vertex_count = 0; ///< vertices of the joined line, repeats dropped
    /// Z of the first line's and of the second line's vertex at the joining point.
    std::int32_t first_z = 0;
    std::int32_t second_z = 0;
};

/// Joined lines in the order made. Lines are numbered as in the node table: loaded lines
/// 0 .. loaded - 1 (the line element table), then the joined lines.
class JoinedLines {
public:
    JoinedLines() = default;
    /// Without knowing which loaded lines hold repeated vertices: every line is looked at.
    explicit JoinedLines(std::int32_t loaded_line_count) : m_loaded(loaded_line_count) {}
    /// Knowing them: `lines_with_repeats` lists every loaded line that holds a vertex equal
    /// (X, Y and Z) to the one before it.
    JoinedLines(std::int32_t loaded_line_count, std::span<const std::int32_t> lines_with_repeats);

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
    /// Bytes of the room for `joins` joined lines.
    [[nodiscard]] static std::size_t room_bytes(std::int64_t joins) noexcept {
        return static_cast<std::size_t>(joins) * sizeof(Record);
    }
    /// Whether a joined line has been absorbed by a later join.
    [[nodiscard]] bool absorbed(std::int32_t line) const;
    /// Flags a joined line absorbed. Precondition: is_joined(line).
    void absorb(std::int32_t line);

    // The accessors below are called for every node the loop visits and every line written,
    // so they are defined here and forced inline: out of line, the calls and their checks
    // took a fifth of the node loop.

    /// Vertex count of any line (loaded or joined).
    [[nodiscard]] std::int32_t vertex_count(const digi::ElementTables& tables,
                                            std::int32_t line) const {
        if (is_joined(line)) {
            return record(line).vertex_count;
        }
        return tables.line(static_cast<std::size_t>(line)).item_count();
    }
    /// The loaded line that holds vertex 1 (`last` false) or the last vertex of any line,
    /// with whether it is that loaded line's last vertex.
    [[nodiscard]] Piece end_piece(std::int32_t line, bool last) const {
        const EndRef ref = end_ref(line, last);
        return Piece{static_cast<std::int32_t>(ref >> 1), (ref & 1U) != 0};
    }
    /// Vertex 1 of any line. Precondition: it has at least one vertex.
    [[nodiscard, gnu::always_inline]] digi::Vertex start_vertex(const digi::ElementTables& tables,
                                                                std::int32_t line) const {
        return vertex_at(tables, end_ref(line, false));
    }
    /// Last vertex of any line. Precondition: it has at least one vertex.
    [[nodiscard, gnu::always_inline]] digi::Vertex end_vertex(const digi::ElementTables& tables,
                                                              std::int32_t line) const {
        return vertex_at(tables, end_ref(line, true));
    }
    /// The loaded line whose type code, feature code, attribute records and further values
    /// the line carries: itself when loaded, the first line of the first join otherwise.
    [[nodiscard, gnu::always_inline]] std::int32_t origin(std::int32_t line) const {
        return is_joined(line) ? record(line).origin : line;
    }

    /// The line's origin, end vertices and vertex count. Precondition: it has at least one
    /// vertex.
    [[nodiscard, gnu::always_inline]] LineOutline outline(const digi::ElementTables& tables,
                                                          std::int32_t line) const {
        if (is_joined(line)) {
            const Record& r = record(line);
            return LineOutline{line,
                               r.origin,
                               tables.line(static_cast<std::size_t>(r.origin)),
                               vertex_at(tables, r.start),
                               vertex_at(tables, r.end),
                               r.vertex_count};
        }
        const digi::ElementView view = tables.line(static_cast<std::size_t>(line));
        const std::int32_t count = view.item_count();
        return LineOutline{line, line, view, view.vertex(0), view.vertex(count - 1), count};
    }

    /// Whether loaded line `line` may hold a vertex equal to the one before it: false only
    /// where it is known not to.
    [[nodiscard]] bool may_repeat(std::int32_t line) const {
        if (!m_repeats_known) {
            return true;
        }
        const auto k = static_cast<std::size_t>(line);
        return ((m_repeat_bits.at(k / 64) >> (k % 64)) & 1U) != 0;
    }

    /// Appends the joined line of `layout` and returns its number (line_count() before).
    /// Throws std::logic_error when its vertex count does not fit a line element.
    std::int32_t add(const JoinLayout& layout);

    /// Visits the pieces of any line in its running order, each with how its repeats are
    /// placed: visit(const Piece&, Repeats). Without recursion: chains run tens of thousands
    /// of joins deep.
    template <typename Visit> void walk(std::int32_t line, Visit&& visit) const;

    /// Visits every live joined line, in the order made: visit(std::int32_t line).
    template <typename Visit> void for_each_live(Visit&& visit) const {
        for_each_live(0, m_lines.size(), std::forward<Visit>(visit));
    }
    /// The same for the joined lines made `from`-th to before the `to`-th.
    template <typename Visit>
    void for_each_live(std::size_t from, std::size_t to, Visit&& visit) const {
        for (std::size_t i = from; i < std::min(to, m_lines.size()); ++i) {
            if ((m_lines[i].flags & absorbed_flag) == 0) {
                visit(m_loaded + static_cast<std::int32_t>(i));
            }
        }
    }

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
    [[nodiscard]] std::size_t slot(std::int32_t line) const {
        if (line < m_loaded) [[unlikely]] {
            not_joined(line);
        }
        return static_cast<std::size_t>(line - m_loaded);
    }
    [[noreturn]] static void not_joined(std::int32_t line);
    [[nodiscard, gnu::always_inline]] const Record& record(std::int32_t line) const {
        return m_lines.at(slot(line));
    }
    [[nodiscard, gnu::always_inline]] EndRef end_ref(std::int32_t line, bool last) const {
        if (is_joined(line)) {
            const Record& r = record(line);
            return last ? r.end : r.start;
        }
        return static_cast<EndRef>(line) * 2 + (last ? 1U : 0U);
    }
    /// An end vertex of a loaded line.
    [[gnu::always_inline]] static digi::Vertex vertex_at(const digi::ElementTables& tables,
                                                         EndRef ref) {
        const digi::ElementView line = tables.line(ref >> 1);
        return line.vertex((ref & 1U) != 0 ? line.item_count() - 1 : 0);
    }

    std::int32_t m_loaded = 0;
    BigVector<Record> m_lines;
    std::int64_t m_live = 0;
    bool m_repeats_known = false;
    std::vector<std::uint64_t> m_repeat_bits; ///< bit k: loaded line k holds a repeat
};

template <typename Visit> void JoinedLines::walk(std::int32_t line, Visit&& visit) const {
    // A joined line is F (its first line, oriented, placed as its own rule says) then S (its
    // second line, oriented, every repeat dropped), or that list turned round. Turned round,
    // S comes first, reversed, with every repeat dropped: it holds none and does not start
    // with the joining point, so that gives it exactly, apart from a run equal to the joining
    // point that S had dropped at its start and that now comes out once at its end; F,
    // reversed, starts with that same vertex and drops it by its own rule.
    struct Task {
        std::int32_t line;
        bool reversed;
        Repeats repeats;
    };
    // Most lines are shallow: their tasks fit on this thread's stack; deep chains spill over.
    // Left unset: only tasks pushed are read, and clearing 768 bytes for every line written
    // took a quarter of the walk.
    std::array<Task, 64> near;
    std::size_t depth = 0;
    std::vector<Task> far;
    const auto push = [&](const Task& task) {
        if (depth < near.size()) {
            near[depth++] = task;
        } else {
            far.push_back(task);
        }
    };
    push({line, false, Repeats::kept});
    while (depth > 0) {
        Task task{};
        if (!far.empty()) {
            task = far.back();
            far.pop_back();
        } else {
            task = near[--depth];
        }
        if (!is_joined(task.line)) {
            visit(Piece{task.line, task.reversed}, task.repeats);
            continue;
        }
        const Record& r = record(task.line);
        const bool first_reversed = (r.flags & first_reversed_flag) != 0;
        const bool second_reversed = (r.flags & second_reversed_flag) != 0;
        const bool whole_reversed = (r.flags & whole_reversed_flag) != 0;
        if (task.reversed == whole_reversed) {
            push({r.second, second_reversed, Repeats::dropped});
            push({r.first, first_reversed, task.repeats});
        } else {
            push({r.first, !first_reversed, task.repeats});
            push({r.second, !second_reversed, Repeats::dropped});
        }
    }
}

} // namespace tarvel::analysis
