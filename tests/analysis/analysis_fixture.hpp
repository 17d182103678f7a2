// Shared by the analysis tests: runs the node analysis on bytes made with the builder and
// gives back the tables, the node table, the result and the bytes of the joined lines.
#pragma once

#include <optional>

#include <array>
#include <string>
#include <vector>

#include "analysis/eliminamos_nodos.hpp"
#include "analysis/line_assembly.hpp"
#include "analysis/node_table.hpp"
#include "digi/loader.hpp"
#include "digi/writer.hpp"
#include "tests/support/digi_builder.hpp"

namespace tarvel::analysis::test {

struct Analysed {
    digi::ElementTables tables;
    NodeTable nodes;
    AnalysisResult result;

    /// What the output holds with only the joined lines chosen.
    [[nodiscard]] std::vector<std::byte> joined_bytes() const {
        digi::MemorySink sink;
        joined_line_source(tables, result.joined)(
            [&sink](const digi::RunLine& line) { digi::write_line(sink, line); });
        return sink.bytes();
    }
};

inline Analysed analyse(const testing::DigiBuilder& input, const CodesList* codes = nullptr) {
    Analysed a{digi::load_elements(input.bytes(), "hoja.bin"), {}, {}};
    a.nodes = CreamosNodos(a.tables);
    const std::optional<CodeSet> code_set =
        codes != nullptr ? std::optional<CodeSet>(*codes) : std::nullopt;
    a.result = EliminamosNodos(a.tables, a.nodes, code_set ? &*code_set : nullptr);
    return a;
}

/// The bytes of one line element with the true extent of `vertices` and further values
/// `further`, as a joined line is expected to come out.
inline std::vector<std::byte> line_bytes(const digi::FeatureCode& feature_code,
                                         const std::vector<digi::Vertex>& vertices,
                                         const std::vector<digi::AttributeRecord>& attributes = {},
                                         std::array<std::int32_t, 3> further = {0, 0, 0}) {
    return testing::DigiBuilder{}
        .line_with_block(feature_code, testing::extent_block(vertices, further), vertices,
                         attributes)
        .bytes();
}

inline std::vector<std::byte> line_bytes(std::string_view feature_code,
                                         const std::vector<digi::Vertex>& vertices) {
    return line_bytes(testing::code(feature_code), vertices);
}

} // namespace tarvel::analysis::test
