// The results of one sheet kept for those who read them after its run: the report, the GIS
// export and the window's map. They hold the sheet as loaded and analysed, so the lines of the
// output can be handed over again, each with the input elements it was made of, without the
// run keeping a copy of their vertices.
#pragma once

#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <vector>

#include "analysis/eliminamos_nodos.hpp"
#include "analysis/findings.hpp"
#include "digi/definiciones_digi.hpp"
#include "digi/writer.hpp"

namespace tarvel::run {

/// An input element as a user finds it in the input file: its number among all the file's
/// elements, whatever their type (1-based), and the 1-based byte where it starts.
struct ElementRef {
    std::int64_t number = 0;
    std::int64_t byte = 0;

    bool operator==(const ElementRef&) const = default;
};

/// One line of the output, as written, and the loaded lines it is made of in its running
/// order (a line written as it was read is its own single piece).
struct OutputLine {
    digi::LineElement element; ///< with LineVertices::counted, no vertices and the origin's block
    std::int32_t vertex_count = 0;
    std::span<const analysis::Piece> pieces;
};

/// What for_each_output_line hands over of a line's vertices: all of them (and the extent
/// they give), or only how many there are, which costs no assembly.
enum class LineVertices : std::uint8_t { assembled, counted };

/// A character field as a person reads it: cut at its first byte 0, trimmed of spaces, its
/// bytes taken as the Western European code page (ISO 8859-1) and given in UTF-8.
[[nodiscard]] std::string field_as_text(std::span<const char> field);

/// The attribute records of `line` as text, "tag:value:text" each, separated by "; ".
[[nodiscard]] std::string attributes_as_text(const digi::ElementView& line);

class SheetResults {
public:
    /// Takes over the sheet and what its analysis found. `all_elements` tells which lines
    /// the output holds; `unit_factor` is file units per metre.
    SheetResults(digi::ElementTables tables, analysis::AnalysisResult analysis, bool all_elements,
                 std::int32_t unit_factor);

    [[nodiscard]] const digi::ElementTables& tables() const noexcept { return m_tables; }
    [[nodiscard]] const analysis::Findings& findings() const noexcept {
        return m_analysis.findings;
    }
    [[nodiscard]] const analysis::JoinedLines& joined() const noexcept { return m_analysis.joined; }
    [[nodiscard]] std::int32_t unit_factor() const noexcept { return m_unit_factor; }
    [[nodiscard]] bool all_elements() const noexcept { return m_all_elements; }

    /// The input element of loaded line `line` (0-based in the line element table).
    [[nodiscard]] ElementRef element(std::int32_t line) const;
    /// The feature code of loaded line `line`, as a person reads it.
    [[nodiscard]] std::string code(std::int32_t line) const;

    /// Hands over every line of the output in the order written.
    void for_each_output_line(const std::function<void(const OutputLine&)>& visit,
                              LineVertices vertices = LineVertices::assembled) const;

private:
    digi::ElementTables m_tables;
    analysis::AnalysisResult m_analysis;
    bool m_all_elements;
    std::int32_t m_unit_factor;
    std::vector<std::int64_t> m_line_numbers; ///< element number of each loaded line
};

} // namespace tarvel::run
