#include "run/lines_beside_loop.hpp"

#include <algorithm>

namespace tarvel::run {

std::size_t write_passed_lines(digi::ByteSink& out, const digi::ElementTables& tables,
                               const analysis::NodeTable& nodes, const LoopPassage& loop) {
    digi::LoadedLinesWriter writer(out, tables, true);
    const std::size_t total = tables.lines.size();
    std::size_t k = 0;
    for (std::int64_t seen = loop.passed(); seen != LoopPassage::abandoned;
         seen = loop.wait_past(seen)) {
        // Nodes of loaded lines stay as they were built while the loop runs.
        for (; k < total; ++k) {
            const analysis::NodeTable::LineNodes ends =
                nodes.nodes_of(static_cast<std::int32_t>(k));
            if (std::max(ends[0], ends[1]) >= seen) {
                break;
            }
            writer.add(k);
        }
        writer.flush();
        if (k == total) {
            break;
        }
    }
    return k;
}

} // namespace tarvel::run
