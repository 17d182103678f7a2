#include "analysis/eliminamos_nodos.hpp"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>
#include <optional>
#include <stdexcept>
#include <string>

#include "analysis/line_assembly.hpp"

namespace tarvel::analysis {
namespace {

/// The 7 bytes of a line's feature code as one number, so that two codes are compared in one
/// step: the node loop compares the codes of every pair of lines it meets.
std::uint64_t code_key(const digi::ElementView& line) {
    // Eight bytes from the code on still lie in the header, which every element holds whole.
    std::uint64_t key = 0;
    std::memcpy(&key, line.bytes().data() + digi::feature_code_offset, sizeof key);
    if constexpr (std::endian::native == std::endian::little) {
        return key & 0x00FF'FFFF'FFFF'FFFFU;
    } else {
        return key & 0xFFFF'FFFF'FFFF'FF00U;
    }
}

/// Same feature code (all 7 bytes as stored), same attribute count and the same attribute
/// records (tag, value and all 6 text bytes, which together are the record's 12 bytes).
bool same_kind(const digi::ElementView& a, const digi::ElementView& b) {
    if (code_key(a) != code_key(b)) {
        return false;
    }
    if (a.attribute_count() != b.attribute_count()) {
        return false;
    }
    const auto attributes_a = a.attribute_bytes();
    const auto attributes_b = b.attribute_bytes();
    return attributes_a.empty() ||
           std::memcmp(attributes_a.data(), attributes_b.data(), attributes_a.size()) == 0;
}

bool at_place(const digi::Vertex& v, std::int32_t x, std::int32_t y) noexcept {
    return v.x == x && v.y == y;
}

/// One line's end at a node: the vertex, and the loaded line it belongs to.
struct LineEnd {
    digi::Vertex vertex;
    std::int32_t piece;
};

/// The node loop over one file, its steps named as they happen at a node.
class NodeLoop {
public:
    NodeLoop(digi::ElementTables& tables, NodeTable& nodes, const CodeSet* codes,
             AnalysisResult& result)
        : m_tables(tables), m_nodes(nodes), m_result(result) {
        if (codes != nullptr) {
            m_direction.emplace(*codes);
        }
    }

    void visit(std::int32_t node) {
        if (m_nodes.end_count(node) != 2) {
            return; // loose ends, junctions and dissolved nodes
        }
        const std::span<const std::int32_t> list = m_nodes.element_list(node);
        const std::int32_t first = list[0];
        const std::int32_t second = list[1];
        m_x = m_nodes.x(node);
        m_y = m_nodes.y(node);
        if (first == second) {
            pass_over_ring(first);
            return;
        }
        // Each line's origin, ends and count are read here once for every step below.
        const LineOutline a = joined().outline(m_tables, first);
        const LineOutline b = joined().outline(m_tables, second);
        if (!same_kind(a.origin_view, b.origin_view)) {
            return;
        }
        if (against_each_other(a, b)) {
            mark_direction_error(first, second);
            return;
        }
        const JoinLayout layout = lay_out_join(joined(), a, b, m_x, m_y);
        if (layout.vertex_count > digi::max_item_count) {
            pass_over_vertex_limit(first, second, layout.vertex_count);
            return;
        }
        join(node, layout);
    }

private:
    JoinedLines& joined() { return m_result.joined; }

    /// The end of `line` at the node in hand.
    LineEnd end_here(std::int32_t line) {
        const digi::Vertex start = joined().start_vertex(m_tables, line);
        const bool at_start = at_place(start, m_x, m_y);
        return LineEnd{at_start ? start : joined().end_vertex(m_tables, line),
                       joined().end_piece(line, !at_start).line};
    }

    /// Both lines have a direction and do not run head to tail (X and Y of their ends, as
    /// SiguenSentido tells it).
    bool against_each_other(const LineOutline& first, const LineOutline& second) {
        if (!m_direction || !has_direction(first.origin_view)) {
            return false;
        }
        const bool head_to_tail =
            (first.start.x == second.end.x && first.start.y == second.end.y) ||
            (first.end.x == second.start.x && first.end.y == second.start.y);
        return !head_to_tail;
    }

    /// Whether the lines of `origin`'s code have a direction. A sheet holds few codes and
    /// neighbouring nodes mostly one: each code is looked up in the codes file's list once and
    /// kept, past the table's size the oldest giving way.
    bool has_direction(const digi::ElementView& origin) {
        const std::uint64_t key = code_key(origin);
        const std::size_t kept = std::min(m_codes_added, m_codes.size());
        for (std::size_t k = 0; k < kept; ++k) {
            if (m_codes[k].key == key) {
                return m_codes[k].has_direction;
            }
        }
        const auto code_bytes =
            origin.bytes().subspan(digi::feature_code_offset, digi::FeatureCode{}.size());
        std::string codigo(code_bytes.size(), '\0');
        std::transform(code_bytes.begin(), code_bytes.end(), codigo.begin(),
                       [](std::byte b) { return static_cast<char>(b); });
        const bool has = m_direction->CodigoConSentido(codigo);
        m_codes[m_codes_added++ % m_codes.size()] = KnownCode{key, has};
        return has;
    }

    NodeFinding finding(const LineEnd& first, const LineEnd& second) const {
        return NodeFinding{first.vertex, {first.piece, second.piece}};
    }

    void pass_over_ring(std::int32_t line) {
        // A ring closed by an earlier join: it stays one closed line.
        ++m_result.rings_passed_over;
        const Piece start = joined().end_piece(line, false);
        const Piece end = joined().end_piece(line, true);
        m_result.findings.rings.push_back(
            NodeFinding{joined().start_vertex(m_tables, line), {start.line, end.line}});
    }

    void mark_direction_error(std::int32_t first, std::int32_t second) {
        // Marked where it was found: the first line's end at this node, with its Z.
        const LineEnd a = end_here(first);
        AnotamosError(m_result.error_points, a.vertex);
        m_result.findings.direction_errors.push_back(finding(a, end_here(second)));
    }

    void pass_over_vertex_limit(std::int32_t first, std::int32_t second,
                                std::int64_t vertex_count) {
        // The joined line would not fit a line element: both lines stay as they are.
        ++m_result.vertex_limit_nodes;
        m_result.findings.vertex_limit.push_back(
            VertexLimitFinding{finding(end_here(first), end_here(second)), vertex_count});
    }

    void join(std::int32_t node, const JoinLayout& layout) {
        if (layout.first_z != layout.second_z) {
            // Joined as any other node; both vertices stay in the line.
            m_result.findings.z_differences.push_back(
                ZDifference{m_x,
                            m_y,
                            {layout.first_z, layout.second_z},
                            {end_here(layout.first).piece, end_here(layout.second).piece}});
        }
        MarcamosElemento(m_tables, joined(), layout.first);
        MarcamosElemento(m_tables, joined(), layout.second);
        m_nodes.dissolve(node);
        const std::int32_t nuevo = joined().line_count();
        CambiamosReferencias(m_nodes, layout.first, layout.second, nuevo);
        joined().add(layout);
        ++m_result.joins;
    }

    digi::ElementTables& m_tables;
    NodeTable& m_nodes;
    AnalysisResult& m_result;
    std::optional<CodesWithDirection> m_direction;
    /// A code looked up (its code_key) and whether its lines have a direction.
    struct KnownCode {
        std::uint64_t key = 0;
        bool has_direction = false;
    };
    std::array<KnownCode, 16> m_codes{};
    std::size_t m_codes_added = 0; ///< codes looked up so far; the first ones fill m_codes
    std::int32_t m_x = 0;
    std::int32_t m_y = 0;
};

} // namespace

void MarcamosElemento(digi::ElementTables& tables, JoinedLines& joined, std::int32_t indice) {
    if (joined.is_joined(indice)) {
        joined.absorb(indice);
    } else {
        tables.lines.at(static_cast<std::size_t>(indice)).set_absorbed();
    }
}

AnalysisResult EliminamosNodos(digi::ElementTables& tables, NodeTable& nodes, const CodeSet* codes,
                               const StepProgress& progress) {
    if (static_cast<std::size_t>(nodes.line_count()) != tables.lines.size()) {
        throw std::logic_error("EliminamosNodos: the node table is not that of these lines");
    }
    AnalysisResult result;
    result.joined = JoinedLines(nodes.line_count(), nodes.lines_with_repeats());
    const std::int32_t node_count = nodes.node_count();
    result.joined.reserve(nodes.two_ended_count()); // each join dissolves one of them

    NodeLoop loop(tables, nodes, codes, result);
    for (std::int32_t i = 0; i < node_count; ++i) {
        if (progress && i % progress_every == 0) {
            progress(i, node_count);
        }
        loop.visit(i);
    }
    return result;
}

} // namespace tarvel::analysis
