#include "run/sheet_results.hpp"

#include "analysis/line_assembly.hpp"
#include "digi/format.hpp"

namespace tarvel::run {
namespace {

/// The element number of every line: the elements are walked again by their framing, which
/// the loader has already checked.
std::vector<std::int64_t> line_element_numbers(const digi::ElementTables& tables) {
    std::vector<std::int64_t> numbers;
    numbers.reserve(tables.lines.size());
    const std::span<const std::byte> bytes = tables.bytes.span();
    std::size_t next_line = 0;
    std::size_t offset = 0;
    std::int64_t number = 0;
    while (offset + 1 < bytes.size() && next_line < tables.lines.size()) {
        ++number;
        const std::byte* header = bytes.data() + offset;
        if (static_cast<std::int64_t>(offset) + 1 == tables.lines[next_line].file_position()) {
            numbers.push_back(number);
            ++next_line;
        }
        const std::int64_t length =
            digi::element_length(digi::load_i16(header + digi::item_count_offset),
                                 static_cast<std::int64_t>(header[digi::attribute_count_offset]));
        offset += static_cast<std::size_t>(length);
    }
    return numbers;
}

} // namespace

std::string field_as_text(std::span<const char> field) {
    std::size_t end = 0;
    while (end < field.size() && field[end] != '\0') {
        ++end;
    }
    std::size_t begin = 0;
    while (begin < end && field[begin] == ' ') {
        ++begin;
    }
    while (end > begin && field[end - 1] == ' ') {
        --end;
    }
    std::string text;
    for (std::size_t i = begin; i < end; ++i) {
        const auto c = static_cast<unsigned char>(field[i]);
        if (c < 0x80) {
            text += static_cast<char>(c);
        } else {
            text += static_cast<char>(0xC0 | (c >> 6));
            text += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return text;
}

std::string attributes_as_text(const digi::ElementView& line) {
    std::string text;
    for (std::int32_t i = 0; i < line.attribute_count(); ++i) {
        const digi::AttributeRecord a = line.attribute(i);
        if (i > 0) {
            text += "; ";
        }
        text += std::to_string(a.tag);
        text += ':';
        text += std::to_string(a.value);
        text += ':';
        text += field_as_text(a.text);
    }
    return text;
}

SheetResults::SheetResults(digi::ElementTables tables, analysis::AnalysisResult analysis,
                           bool all_elements, std::int32_t unit_factor)
    : m_tables(std::move(tables)), m_analysis(std::move(analysis)), m_all_elements(all_elements),
      m_unit_factor(unit_factor), m_line_numbers(line_element_numbers(m_tables)) {}

ElementRef SheetResults::element(std::int32_t line) const {
    const auto i = static_cast<std::size_t>(line);
    return ElementRef{m_line_numbers.at(i), m_tables.lines.at(i).file_position()};
}

std::string SheetResults::code(std::int32_t line) const {
    return field_as_text(m_tables.line(static_cast<std::size_t>(line)).header().feature_code);
}

void SheetResults::for_each_output_line(const std::function<void(const OutputLine&)>& visit,
                                        LineVertices which) const {
    const bool assembled = which == LineVertices::assembled;
    std::vector<digi::Vertex> vertices;
    if (m_all_elements) {
        for (std::size_t i = 0; i < m_tables.lines.size(); ++i) {
            if (m_tables.lines[i].absorbed()) {
                continue;
            }
            const digi::ElementView line = m_tables.line(i);
            vertices.clear();
            for (std::int32_t v = 0; assembled && v < line.item_count(); ++v) {
                vertices.push_back(line.vertex(v));
            }
            const analysis::Piece itself{static_cast<std::int32_t>(i), false};
            visit(OutputLine{
                digi::LineElement{line, line.block(), vertices}, line.item_count(), {&itself, 1}});
        }
    }
    // The joined lines come as the output has them, in the order made, each with its pieces.
    std::vector<analysis::Piece> pieces;
    m_analysis.joined.for_each_live([&](std::int32_t line) {
        const std::int32_t count = m_analysis.joined.vertex_count(m_tables, line);
        const digi::ElementView origin =
            m_tables.line(static_cast<std::size_t>(m_analysis.joined.origin(line)));
        const digi::LineElement element =
            assembled ? analysis::joined_line_element(m_tables, m_analysis.joined, line, vertices)
                      : digi::LineElement{origin, origin.block(), {}};
        analysis::pieces_of(m_analysis.joined, line, pieces);
        visit(OutputLine{element, count, pieces});
    });
}

} // namespace tarvel::run
