// `EliminamosNodos`: the node loop. Visits the nodes in number order, joins the two lines of
// every superfluous node (chains of joins collapse into one line) and records direction
// errors where lines of a code with direction meet head to head or tail to tail, together
// with what else it finds at the nodes it visits.
#pragma once

#include <cstdint>
#include <vector>

#include "analysis/findings.hpp"
#include "analysis/funciones_tarvel.hpp"
#include "analysis/joined_lines.hpp"
#include "analysis/node_table.hpp"
#include "digi/definiciones_digi.hpp"

namespace tarvel::analysis {

struct AnalysisResult {
    JoinedLines joined;                     ///< lines made by joins, in the order made
    std::vector<digi::Vertex> error_points; ///< direction errors, in the order found
    std::int64_t joins = 0;
    std::int64_t rings_passed_over = 0;  ///< nodes whose two entries name the same line
    std::int64_t vertex_limit_nodes = 0; ///< joins not made: the line would pass 32767 vertices
    /// Direction errors, rings, vertex-limit nodes and Z differences with their lines (near
    /// misses are found apart, before the loop: see near_misses.hpp).
    Findings findings;
};

/// Runs the node loop on `nodes` (from CreamosNodos on `tables`, not used before). Marks
/// absorbed lines in `tables`. `codes` is null when no codes file was named: no direction is
/// checked. Throws std::logic_error when `nodes` does not belong to `tables`.
[[nodiscard]] AnalysisResult EliminamosNodos(digi::ElementTables& tables, NodeTable& nodes,
                                             const CodeSet* codes,
                                             const StepProgress& progress = {});

/// Flags line `indice` absorbed: a loaded line in `tables`, a joined line in `joined`.
void MarcamosElemento(digi::ElementTables& tables, JoinedLines& joined, std::int32_t indice);

} // namespace tarvel::analysis
