// What the map and the findings list show of one analysed sheet: a box around every loaded
// line, worked out once so that drawing can pass over the lines outside the view without
// reading their vertices, and the findings as one list of places. No Qt here: the drawing
// and the list read it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "run/sheet_results.hpp"
#include "ui/view_transform.hpp"

namespace tarvel::ui {

/// The kinds of finding, in the order the list and the legend give them.
enum class FindingKind { direction_error, near_miss, z_difference, ring, vertex_limit };
inline constexpr std::size_t finding_kinds = 5;

/// One finding as the map shows it.
struct MapFinding {
    FindingKind kind = FindingKind::direction_error;
    WorldBox box;         ///< every place it concerns (a near miss: both places)
    std::size_t item = 0; ///< its position in its kind's list of the sheet's findings

    /// Where its symbol goes; the middle of a near miss.
    [[nodiscard]] WorldPoint at() const noexcept { return box.centre(); }
};

/// The extent of one loaded line in file units; min_x > max_x for a line without vertices.
struct LineBox {
    std::int32_t min_x = 0;
    std::int32_t min_y = 0;
    std::int32_t max_x = -1;
    std::int32_t max_y = -1;
};

class SheetMap {
public:
    /// Reads every line of `results` once. Precondition: `results` is not null.
    explicit SheetMap(std::shared_ptr<const run::SheetResults> results);

    [[nodiscard]] const run::SheetResults& results() const noexcept { return *m_results; }
    [[nodiscard]] const std::vector<LineBox>& boxes() const noexcept { return m_boxes; }
    [[nodiscard]] const std::vector<MapFinding>& findings() const noexcept { return m_findings; }
    /// Every line and every finding.
    [[nodiscard]] const WorldBox& extent() const noexcept { return m_extent; }
    /// File units per metre.
    [[nodiscard]] double unit_factor() const noexcept { return m_unit_factor; }

    /// `file_units` in metres, with as many decimals as the unit has below the metre.
    [[nodiscard]] std::string metres(double file_units) const;
    /// What a person needs to find `finding` in the sheet: the input elements and the
    /// measures that make it a finding, in Spanish.
    [[nodiscard]] std::string describe(const MapFinding& finding) const;

private:
    void add_findings();
    [[nodiscard]] std::string element_number(std::int32_t line) const;

    std::shared_ptr<const run::SheetResults> m_results;
    std::vector<LineBox> m_boxes;
    std::vector<MapFinding> m_findings;
    WorldBox m_extent;
    double m_unit_factor = 1;
    int m_decimals = 0;
};

} // namespace tarvel::ui
