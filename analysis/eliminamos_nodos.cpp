#include "analysis/eliminamos_nodos.hpp"

#include <algorithm>
#include <optional>
#include <stdexcept>
#include <string>

namespace tarvel::analysis {
namespace {

/// Same feature code (all 7 bytes as stored), same attribute count and the same attribute
/// records (tag, value and all 6 text bytes, which together are the record's 12 bytes).
bool same_kind(const digi::ElementView& a, const digi::ElementView& b) {
    const auto code_a = a.bytes().subspan(digi::feature_code_offset, 7);
    const auto code_b = b.bytes().subspan(digi::feature_code_offset, 7);
    if (!std::equal(code_a.begin(), code_a.end(), code_b.begin())) {
        return false;
    }
    if (a.attribute_count() != b.attribute_count()) {
        return false;
    }
    const auto attributes_a = a.attribute_bytes();
    const auto attributes_b = b.attribute_bytes();
    return std::equal(attributes_a.begin(), attributes_a.end(), attributes_b.begin());
}

bool at_place(const digi::Vertex& v, std::int32_t x, std::int32_t y) noexcept {
    return v.x == x && v.y == y;
}

} // namespace

void MarcamosElemento(digi::ElementTables& tables, JoinedLines& joined, std::int32_t indice) {
    if (joined.is_joined(indice)) {
        joined.absorb(indice);
    } else {
        tables.lines.at(static_cast<std::size_t>(indice)).absorbed = true;
    }
}

AnalysisResult EliminamosNodos(digi::ElementTables& tables, NodeTable& nodes,
                               const CodeSet* codes) {
    if (static_cast<std::size_t>(nodes.line_count()) != tables.lines.size()) {
        throw std::logic_error("EliminamosNodos: the node table is not that of these lines");
    }
    AnalysisResult result;
    result.joined = JoinedLines(nodes.line_count());
    JoinedLines& joined = result.joined;
    std::optional<CodesWithDirection> direction;
    if (codes != nullptr) {
        direction.emplace(*codes);
    }

    const std::int32_t node_count = nodes.node_count();
    std::int64_t two_ended = 0; // each join dissolves one of these
    for (std::int32_t i = 0; i < node_count; ++i) {
        two_ended += nodes.end_count(i) == 2 ? 1 : 0;
    }
    joined.reserve(two_ended);

    for (std::int32_t i = 0; i < node_count; ++i) {
        if (nodes.end_count(i) != 2) {
            continue; // loose ends, junctions and dissolved nodes
        }
        const std::span<const std::int32_t> list = nodes.element_list(i);
        const std::int32_t first = list[0];
        const std::int32_t second = list[1];
        if (first == second) {
            // A ring closed by an earlier join: it stays one closed line.
            ++result.rings_passed_over;
            continue;
        }
        const digi::ElementView first_origin =
            tables.line(static_cast<std::size_t>(joined.origin(first)));
        if (!same_kind(first_origin,
                       tables.line(static_cast<std::size_t>(joined.origin(second))))) {
            continue;
        }
        const std::int32_t x = nodes.x(i);
        const std::int32_t y = nodes.y(i);

        if (direction) {
            const digi::Vertex first_start = joined.start_vertex(tables, first);
            const digi::Vertex first_end = joined.end_vertex(tables, first);
            const auto code_bytes = first_origin.bytes().subspan(digi::feature_code_offset, 7);
            std::string codigo(code_bytes.size(), '\0');
            std::transform(code_bytes.begin(), code_bytes.end(), codigo.begin(),
                           [](std::byte b) { return static_cast<char>(b); });
            const bool head_to_tail = direction->SiguenSentido(codigo, first_start, first_end,
                                                               joined.start_vertex(tables, second),
                                                               joined.end_vertex(tables, second));
            if (!head_to_tail && direction->ConSentido()) {
                // Marked where it was found: the first line's end at this node, with its Z.
                AnotamosError(result.error_points,
                              at_place(first_start, x, y) ? first_start : first_end);
                continue;
            }
        }

        const JoinPlan plan = joined.plan_join(tables, first, second, x, y);
        if (plan.vertex_count > digi::max_item_count) {
            // The joined line would not fit a line element: both lines stay as they are.
            ++result.vertex_limit_nodes;
            continue;
        }
        MarcamosElemento(tables, joined, first);
        MarcamosElemento(tables, joined, second);
        nodes.dissolve(i);
        const std::int32_t nuevo = joined.line_count();
        CambiamosReferencias(nodes, first, second, nuevo);
        joined.add(plan);
        ++result.joins;
    }
    return result;
}

} // namespace tarvel::analysis
