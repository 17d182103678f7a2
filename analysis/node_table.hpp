// The node table: every place (X, Y) where a line element begins or ends, numbered in order of
// first appearance, with the lines that end there. Built once per file by `CreamosNodos`;
// during the node loop nodes are only dissolved and their lists renamed by
// `CambiamosReferencias`. Line and node numbers are 0-based.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <span>
#include <vector>

#include "common/big_vector.hpp"
#include "common/progress.hpp"
#include "digi/definiciones_digi.hpp"
#include "digi/loader.hpp"

namespace tarvel::analysis {

/// How many threads number the places of a sheet: one, two, or two from a size on which
/// they pay.
enum class NodeThreads : std::uint8_t { automatic, one, two };

/// Nodes and their element lists. Lines are numbered as the line element table followed by
/// the joined lines in the order made: 0 .. loaded - 1 are loaded lines, the rest joined.
/// Element lists are stored one after another (a node's list never grows; entries are only
/// renamed), and each line remembers the at most two nodes that list it, so renaming a line
/// touches those nodes alone.
class NodeTable {
public:
    /// Nodes that list a line; `no_node` where the line has fewer.
    using LineNodes = std::array<std::int32_t, 2>;
    static constexpr std::int32_t no_node = -1;

    NodeTable() = default;

    [[nodiscard]] std::int32_t node_count() const noexcept {
        return static_cast<std::int32_t>(m_x.size());
    }
    /// Nodes of exactly two line ends as built: the most joins the node loop can make.
    [[nodiscard]] std::int32_t two_ended_count() const noexcept { return m_two_ended; }
    /// Number of loaded lines (the line element table's).
    [[nodiscard]] std::int32_t loaded_line_count() const noexcept { return m_loaded_lines; }
    /// Number of lines known: loaded lines plus joined lines registered so far.
    [[nodiscard]] std::int32_t line_count() const noexcept {
        return static_cast<std::int32_t>(m_line_nodes.size());
    }
    [[nodiscard]] std::int32_t x(std::int32_t node) const { return m_x.at(index(node)); }
    [[nodiscard]] std::int32_t y(std::int32_t node) const { return m_y.at(index(node)); }
    /// X and Y of every node, by node number, for passes over all of them.
    [[nodiscard]] std::span<const std::int32_t> xs() const noexcept { return m_x; }
    [[nodiscard]] std::span<const std::int32_t> ys() const noexcept { return m_y; }
    /// Whether the node holds exactly one line end as built (a loose end), by node number.
    [[nodiscard]] bool loose_end(std::int32_t node) const {
        const std::size_t i = index(node);
        return m_list_start.at(i + 1) - m_list_start[i] == 1;
    }
    /// Line ends registered at the node, or -1 once a join has dissolved it.
    [[nodiscard, gnu::always_inline]] std::int32_t end_count(std::int32_t node) const {
        const std::size_t i = index(node);
        if (m_dissolved.at(i) != 0) {
            return -1;
        }
        return m_list_start[i + 1] - m_list_start[i];
    }
    /// The node's lines in order of registration (a dissolved node keeps its list).
    [[nodiscard, gnu::always_inline]] std::span<const std::int32_t>
    element_list(std::int32_t node) const {
        const std::size_t i = index(node);
        const auto begin = static_cast<std::size_t>(m_list_start.at(i));
        const auto end = static_cast<std::size_t>(m_list_start.at(i + 1));
        return std::span<const std::int32_t>(m_entries).subspan(begin, end - begin);
    }
    /// The nodes that listed `line` when it was registered (at most two; both equal for a
    /// ring closed by a join). One of them may since have been dissolved. For a loaded line
    /// it may be asked while the node loop registers joined lines on another thread.
    [[nodiscard]] LineNodes nodes_of(std::int32_t line) const {
        if (line >= 0 && line < m_loaded_lines) {
            // Registering never moves the table (room for every join is made when it is
            // built), and this reads neither its size nor any record registering writes.
            return m_line_nodes.data()[index(line)];
        }
        return m_line_nodes.at(index(line));
    }

    /// The loaded lines that hold a vertex equal (X, Y and Z) to the one before it, in order.
    [[nodiscard]] std::span<const std::int32_t> lines_with_repeats() const noexcept {
        return m_lines_with_repeats;
    }

    /// Dissolves a node by a join: its end count becomes -1, its list stays as it was.
    void dissolve(std::int32_t node) { m_dissolved.at(index(node)) = 1; }

private:
    friend class NodeTableBuilder;
    friend void CambiamosReferencias(NodeTable& nodes, std::int32_t a, std::int32_t b,
                                     std::int32_t nuevo);

    static std::size_t index(std::int32_t i) { return static_cast<std::size_t>(i); }

    BigVector<std::int32_t> m_x;
    BigVector<std::int32_t> m_y;
    BigVector<std::uint8_t> m_dissolved;
    BigVector<std::int32_t> m_list_start; ///< node i lists m_entries[start[i] .. start[i+1])
    BigVector<std::int32_t> m_entries;
    BigVector<LineNodes> m_line_nodes; ///< per line, loaded and joined
    std::vector<std::int32_t> m_lines_with_repeats;
    std::int32_t m_loaded_lines = 0;
    std::int32_t m_two_ended = 0;
};

/// Numbers the places of a large sheet's first lines on a thread of its own while the sheet
/// is still being read, so that the second core works during the read: handed to the
/// loader as its watch, then to CreamosNodos, which numbers the rest and joins the two.
/// Sheets too small to gain start no thread. Reads the tables only until CreamosNodos
/// returns, the loader lets go of them, or stop() is called, whichever comes first.
class EarlyPlaces final : public digi::LineWatch {
public:
    /// `from_lines`: the fewest expected lines for which a thread is started.
    explicit EarlyPlaces(std::size_t from_lines = std::size_t{1} << 16);
    ~EarlyPlaces() override;

    bool starting(std::span<const std::byte> bytes, std::size_t expected_lines) override;
    void found(const digi::LineRecord* records, std::size_t count) noexcept override;
    void let_go() noexcept override;

    /// Ends the thread's work and waits for it: after this, nothing more is read.
    void stop() noexcept;
    /// Lines whose places the thread numbered (known once its work has ended).
    [[nodiscard]] std::size_t lines_numbered() const noexcept;

    struct State;

private:
    friend class NodeTableBuilder;
    std::size_t m_from_lines;
    std::unique_ptr<State> m_state;
};

/// Builds the node table of the loaded lines. A line gets no node when it has fewer than 2
/// vertices or when its first and last vertex share X and Y (Z is not compared). Nodes are
/// numbered in order of first appearance (lines in table order, each line's vertex 1 before
/// its last vertex) and list their lines in that order, exactly as a scan of the nodes for
/// every end point would. Throws tarvel::Error when the file has too many lines to number.
[[nodiscard]] NodeTable CreamosNodos(const digi::ElementTables& tables,
                                     const StepProgress& progress = {},
                                     NodeThreads threads = NodeThreads::automatic);

/// The same table, taking the places `early` numbered while `tables` were loaded under its
/// watch; `early` is spent after it.
[[nodiscard]] NodeTable CreamosNodos(const digi::ElementTables& tables,
                                     const StepProgress& progress, EarlyPlaces& early);

/// Renames the lines `a` and `b` to the joined line `nuevo` in every node that is not
/// dissolved: each entry equal to a or b becomes nuevo. Dissolved nodes keep their lists.
/// `nuevo` must be the next line number (nodes.line_count()); it is registered with the nodes
/// that now list it. Throws std::logic_error when it is not.
void CambiamosReferencias(NodeTable& nodes, std::int32_t a, std::int32_t b, std::int32_t nuevo);

} // namespace tarvel::analysis
