#include "run/error_file.hpp"

#include <algorithm>
#include <limits>
#include <string>

#include "analysis/funciones_tarvel.hpp"

namespace tarvel::run {
namespace {

std::int32_t clamp_to_i32(std::int64_t value) noexcept {
    return static_cast<std::int32_t>(std::clamp<std::int64_t>(
        value, std::numeric_limits<std::int32_t>::min(), std::numeric_limits<std::int32_t>::max()));
}

digi::ElementHeader error_header() {
    std::string code(error_feature_code);
    analysis::RellenamosCodigo(code);
    digi::ElementHeader header;
    header.type_code = digi::text_type_code;
    // The field holds 7 characters; a longer filled code would be cut there.
    std::copy_n(code.begin(), std::min(code.size(), header.feature_code.size()),
                header.feature_code.begin());
    header.attribute_count = 0;
    header.item_count = 2; // the anchor vertex and one text piece
    return header;
}

} // namespace

std::int32_t marker_height(std::int32_t unit_factor) noexcept {
    // 1.5 x factor = 3 x factor / 2; an odd numerator is a half, which goes to the even side.
    const std::int64_t twice = 3 * static_cast<std::int64_t>(unit_factor);
    std::int64_t height = twice / 2;
    if (twice % 2 != 0 && height % 2 != 0) {
        height += twice > 0 ? 1 : -1;
    }
    return clamp_to_i32(height);
}

digi::ElementBlock marker_block(const digi::Vertex& point, std::int32_t height) noexcept {
    const std::int64_t h = height;
    return digi::ElementBlock{{point.x, point.y, 0, clamp_to_i32(point.x + 6 * h),
                               clamp_to_i32(point.y + h), 0, height, 0, 0}};
}

void GrabamosErrores(digi::ByteSink& out, std::span<const digi::Vertex> error_points,
                     std::int32_t unit_factor) {
    const digi::ElementHeader header = error_header();
    const std::int32_t height = marker_height(unit_factor);
    const digi::TextPiece piece = error_text_piece;
    for (const digi::Vertex& point : error_points) {
        digi::write_text(out, header, marker_block(point, height), point, {&piece, 1}, {});
    }
}

} // namespace tarvel::run
