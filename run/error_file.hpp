// `GrabamosErrores`: the error file, a DIGI file holding one small text element "NoSent"
// with the feature code "ERROR" at every point where a direction error was found.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>

#include "digi/definiciones_digi.hpp"
#include "digi/writer.hpp"

namespace tarvel::run {

inline constexpr std::string_view error_feature_code = "ERROR";
/// The text piece of every error element: "NoSent", a byte 0, five spaces.
inline constexpr digi::TextPiece error_text_piece{'N',  'o', 'S', 'e', 'n', 't',
                                                  '\0', ' ', ' ', ' ', ' ', ' '};

/// Character height of the error markers in file units: 1.5 x `unit_factor`, rounded half
/// to even (2, 150 and 1500 for metres, centimetres and millimetres).
[[nodiscard]] std::int32_t marker_height(std::int32_t unit_factor) noexcept;

/// The element block of the marker at `point`: X, Y, 0, X + 6h, Y + h, 0, h, 0, 0, with the
/// sums taken in 64 bits and held to the signed 32-bit range.
[[nodiscard]] digi::ElementBlock marker_block(const digi::Vertex& point,
                                              std::int32_t height) noexcept;

/// Writes one 72-byte error element per point, in list order, to `out` (the run hands it
/// an atomic output file). Throws what `out` throws.
void GrabamosErrores(digi::ByteSink& out, std::span<const digi::Vertex> error_points,
                     std::int32_t unit_factor);

} // namespace tarvel::run
