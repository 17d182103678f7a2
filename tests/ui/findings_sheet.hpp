// A sheet, in millimetres, with one finding of every kind at a place of its own, and the codes
// file that makes its head-to-head rivers a direction error.
#pragma once

#include <string>
#include <vector>

#include "tests/support/digi_builder.hpp"

namespace tarvel::testing {

/// Codes file content for findings_sheet().
inline const std::string findings_codes = "RIO,1\n";

/// Places of the findings of findings_sheet(), in file units.
inline constexpr digi::Vertex direction_error_at{10000, 0, 0};
inline constexpr digi::Vertex z_difference_at{10000, 10000, 0};
inline constexpr digi::Vertex vertex_limit_at{19999, 30000, 0};
/// The two places of the near miss, 50 mm apart.
inline constexpr digi::Vertex near_miss_at[2] = {{10000, 5000, 0}, {10050, 5000, 0}};

inline std::vector<std::byte> findings_sheet() {
    DigiBuilder builder;
    // Two rivers that start at the same place.
    builder.line("RIO", {{10000, 0, 0}, {0, 0, 0}}).line("RIO", {{10000, 0, 0}, {20000, 0, 0}});
    // A path whose pieces stop 50 mm short of each other.
    builder.line("CAMINO", {{0, 5000, 0}, near_miss_at[0]})
        .line("CAMINO", {near_miss_at[1], {20000, 5000, 0}});
    // A wall whose pieces meet at different heights.
    builder.line("MURO", {{0, 10000, 0}, {10000, 10000, 5}})
        .line("MURO", {{10000, 10000, 9}, {20000, 10000, 0}});
    // A lake of two pieces: once joined at one end, the line closes on itself at the other.
    builder.line("LAGO", {{0, 20000, 0}, {10000, 20000, 0}})
        .line("LAGO", {{10000, 20000, 0}, {5000, 24000, 0}, {0, 20000, 0}});
    // Two roads too long to be joined into one line.
    std::vector<digi::Vertex> first;
    std::vector<digi::Vertex> second;
    for (std::int32_t i = 0; i < 20000; ++i) {
        first.push_back({i, 30000, 0});
        second.push_back({19999 + i, 30000 + (i % 2), 0});
    }
    builder.line("VIA", first).line("VIA", second);
    return builder.bytes();
}

} // namespace tarvel::testing
