#include "analysis/joined_lines.hpp"

#include <stdexcept>
#include <string>
#include <utility>

namespace tarvel::analysis {
namespace {

/// An end vertex of a loaded line: line * 2, plus 1 for its last vertex.
digi::Vertex vertex_at(const digi::ElementTables& tables, std::uint32_t ref) {
    const digi::ElementView line = tables.line(ref >> 1);
    return line.vertex((ref & 1U) != 0 ? line.item_count() - 1 : 0);
}

} // namespace

std::size_t JoinedLines::slot(std::int32_t line) const {
    if (line < m_loaded) {
        throw std::out_of_range("JoinedLines: line " + std::to_string(line) + " is not joined");
    }
    return static_cast<std::size_t>(line - m_loaded);
}

const JoinedLines::Record& JoinedLines::record(std::int32_t line) const {
    return m_lines.at(slot(line));
}

bool JoinedLines::absorbed(std::int32_t line) const {
    return (record(line).flags & absorbed_flag) != 0;
}

void JoinedLines::absorb(std::int32_t line) {
    Record& r = m_lines.at(slot(line));
    if ((r.flags & absorbed_flag) == 0) {
        r.flags = static_cast<std::uint8_t>(r.flags | absorbed_flag);
        --m_live;
    }
}

std::int32_t JoinedLines::vertex_count(const digi::ElementTables& tables, std::int32_t line) const {
    if (is_joined(line)) {
        return record(line).vertex_count;
    }
    return tables.line(static_cast<std::size_t>(line)).item_count();
}

JoinedLines::EndRef JoinedLines::end_ref(std::int32_t line, bool last) const {
    if (is_joined(line)) {
        const Record& r = record(line);
        return last ? r.end : r.start;
    }
    return static_cast<EndRef>(line) * 2 + (last ? 1U : 0U);
}

Piece JoinedLines::end_piece(std::int32_t line, bool last) const {
    const EndRef ref = end_ref(line, last);
    return Piece{static_cast<std::int32_t>(ref >> 1), (ref & 1U) != 0};
}

digi::Vertex JoinedLines::start_vertex(const digi::ElementTables& tables, std::int32_t line) const {
    return vertex_at(tables, end_ref(line, false));
}

digi::Vertex JoinedLines::end_vertex(const digi::ElementTables& tables, std::int32_t line) const {
    return vertex_at(tables, end_ref(line, true));
}

std::int32_t JoinedLines::origin(std::int32_t line) const {
    return is_joined(line) ? record(line).origin : line;
}

std::int32_t JoinedLines::add(const JoinLayout& layout) {
    if (layout.vertex_count < 2 || layout.vertex_count > digi::max_item_count) {
        throw std::logic_error("JoinedLines: a joined line of " +
                               std::to_string(layout.vertex_count) + " vertices");
    }
    Record r{};
    r.first = layout.first;
    r.second = layout.second;
    r.start = end_ref(layout.first, layout.first_reversed);
    r.end = end_ref(layout.second, !layout.second_reversed);
    if (layout.whole_reversed) {
        std::swap(r.start, r.end);
    }
    r.origin = origin(layout.first);
    r.vertex_count = static_cast<std::int16_t>(layout.vertex_count);
    r.flags = static_cast<std::uint8_t>((layout.first_reversed ? first_reversed_flag : 0) |
                                        (layout.second_reversed ? second_reversed_flag : 0) |
                                        (layout.whole_reversed ? whole_reversed_flag : 0));
    const std::int32_t number = line_count();
    m_lines.push_back(r);
    ++m_live;
    return number;
}

} // namespace tarvel::analysis
