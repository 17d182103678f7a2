#include "ui/sheet_map.hpp"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <stdexcept>

#include "ui/texts.hpp"

namespace tarvel::ui {
namespace {

WorldPoint place(const digi::Vertex& vertex) {
    return {static_cast<double>(vertex.x), static_cast<double>(vertex.y)};
}

LineBox box_of(const digi::ElementView& line) {
    LineBox box;
    const std::int32_t count = line.item_count();
    if (count <= 0) {
        return box;
    }
    const digi::Vertex first = line.vertex(0);
    box = {first.x, first.y, first.x, first.y};
    for (std::int32_t i = 1; i < count; ++i) {
        const digi::Vertex v = line.vertex(i);
        box.min_x = std::min(box.min_x, v.x);
        box.min_y = std::min(box.min_y, v.y);
        box.max_x = std::max(box.max_x, v.x);
        box.max_y = std::max(box.max_y, v.y);
    }
    return box;
}

} // namespace

SheetMap::SheetMap(std::shared_ptr<const run::SheetResults> results)
    : m_results(std::move(results)) {
    if (!m_results) {
        throw std::invalid_argument("SheetMap: no sheet");
    }
    m_unit_factor = static_cast<double>(m_results->unit_factor());
    for (double f = m_unit_factor; f >= 10; f /= 10) {
        ++m_decimals;
    }
    const digi::ElementTables& tables = m_results->tables();
    m_boxes.reserve(tables.lines.size());
    for (std::size_t i = 0; i < tables.lines.size(); ++i) {
        const LineBox box = m_boxes.emplace_back(box_of(tables.line(i)));
        if (box.min_x <= box.max_x) {
            m_extent.add(WorldBox{static_cast<double>(box.min_x), static_cast<double>(box.min_y),
                                  static_cast<double>(box.max_x), static_cast<double>(box.max_y)});
        }
    }
    add_findings();
}

void SheetMap::add_findings() {
    const analysis::Findings& found = m_results->findings();
    const auto add = [this](FindingKind kind, std::size_t item, WorldBox box) {
        m_extent.add(box);
        m_findings.push_back(MapFinding{kind, box, item});
    };
    const auto at = [](const digi::Vertex& vertex) {
        WorldBox box;
        box.add(place(vertex));
        return box;
    };
    for (std::size_t i = 0; i < found.direction_errors.size(); ++i) {
        add(FindingKind::direction_error, i, at(found.direction_errors[i].point));
    }
    for (std::size_t i = 0; i < found.near_misses.size(); ++i) {
        WorldBox box = at(found.near_misses[i].places[0].point);
        box.add(place(found.near_misses[i].places[1].point));
        add(FindingKind::near_miss, i, box);
    }
    for (std::size_t i = 0; i < found.z_differences.size(); ++i) {
        const analysis::ZDifference& z = found.z_differences[i];
        add(FindingKind::z_difference, i, at({z.x, z.y, 0}));
    }
    for (std::size_t i = 0; i < found.rings.size(); ++i) {
        add(FindingKind::ring, i, at(found.rings[i].point));
    }
    for (std::size_t i = 0; i < found.vertex_limit.size(); ++i) {
        add(FindingKind::vertex_limit, i, at(found.vertex_limit[i].node.point));
    }
}

std::string SheetMap::metres(double file_units) const {
    char text[64];
    std::snprintf(text, sizeof text, "%.*f", m_decimals, file_units / m_unit_factor);
    return text;
}

std::string SheetMap::element_number(std::int32_t line) const {
    return std::to_string(m_results->element(line).number);
}

std::string SheetMap::describe(const MapFinding& finding) const {
    const analysis::Findings& found = m_results->findings();
    const auto pair = [this](const std::array<std::int32_t, 2>& lines) {
        std::string text(text::finding_elements);
        text += ' ';
        text += element_number(lines[0]);
        text += text::finding_and;
        text += element_number(lines[1]);
        return text;
    };
    const auto listed = [this](const std::vector<std::int32_t>& lines) {
        std::string text;
        for (std::size_t i = 0; i < lines.size(); ++i) {
            text += i == 0 ? "" : ", ";
            text += element_number(lines[i]);
        }
        return text;
    };
    std::string text;
    switch (finding.kind) {
    case FindingKind::direction_error:
        return pair(found.direction_errors.at(finding.item).lines);
    case FindingKind::near_miss: {
        const analysis::NearMiss& miss = found.near_misses.at(finding.item);
        text = text::finding_distance;
        text += ' ';
        text += metres(miss.distance);
        text += " m; ";
        text += text::finding_elements;
        text += ' ';
        text += listed(miss.places[0].lines);
        text += " / ";
        text += listed(miss.places[1].lines);
        return text;
    }
    case FindingKind::z_difference: {
        const analysis::ZDifference& z = found.z_differences.at(finding.item);
        text = "Z ";
        text += metres(z.z[0]);
        text += " m";
        text += text::finding_and;
        text += metres(z.z[1]);
        text += " m; ";
        return text + pair(z.lines);
    }
    case FindingKind::ring:
        text = text::finding_element;
        text += ' ';
        return text + element_number(found.rings.at(finding.item).lines[0]);
    case FindingKind::vertex_limit: {
        const analysis::VertexLimitFinding& limit = found.vertex_limit.at(finding.item);
        text = std::to_string(limit.vertex_count);
        text += ' ';
        text += text::finding_vertices;
        text += "; ";
        return text + pair(limit.node.lines);
    }
    }
    return text;
}

} // namespace tarvel::ui
