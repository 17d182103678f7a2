// A literal, slow model of the whole job on one DIGI file, written step by step from the
// rules of the tool: two-pass loading, a node table built by linear scan, the node loop with
// eager copying into a scratch list, the output writer and the error file. The engine is
// checked against it on many generated sheets; it favours being obviously right over speed.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace tarvel::model {

struct Counts {
    std::int64_t lines_read = 0;
    std::int64_t texts_read = 0;
    std::int64_t joins = 0;
    std::int64_t error_points = 0;
    std::int64_t rings_passed_over = 0;  ///< nodes whose two entries name the same line
    std::int64_t vertex_limit_nodes = 0; ///< joins left because the line would pass 32767
    std::int64_t lines_written = 0;

    bool operator==(const Counts&) const = default;
};

struct Result {
    std::vector<std::byte> output; ///< the output file
    std::vector<std::byte> errors; ///< the error file; empty when no direction error was found
    Counts counts;
};

/// Runs the job on `input`. `codes` is the list of codes with direction as a codes file gives
/// it, or null when no codes file is named. `unit_factor` is 1, 100 or 1000. `all_elements`
/// is "Salida de Todos los Elementos". Throws tarvel::FormatError for a malformed file.
[[nodiscard]] Result run(std::span<const std::byte> input, const std::vector<std::string>* codes,
                         std::int32_t unit_factor, bool all_elements);

} // namespace tarvel::model
