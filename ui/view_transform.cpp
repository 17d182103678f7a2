#include "ui/view_transform.hpp"

#include <algorithm>

namespace tarvel::ui {

void WorldBox::add(WorldPoint point) noexcept {
    if (empty()) {
        *this = WorldBox{point.x, point.y, point.x, point.y};
        return;
    }
    min_x = std::min(min_x, point.x);
    min_y = std::min(min_y, point.y);
    max_x = std::max(max_x, point.x);
    max_y = std::max(max_y, point.y);
}

void WorldBox::add(const WorldBox& other) noexcept {
    if (!other.empty()) {
        add(WorldPoint{other.min_x, other.min_y});
        add(WorldPoint{other.max_x, other.max_y});
    }
}

ViewTransform::ViewTransform(double scale, double left, double top) noexcept
    : m_scale(scale), m_left(left), m_top(top) {}

ViewTransform ViewTransform::fitting(const WorldBox& box, QSizeF size, double margin,
                                     double least_span) noexcept {
    if (box.empty()) {
        return centred({0, 0}, 1.0, size);
    }
    // A box without width or height (one line along an axis, one place) still gets a view
    // of some size instead of an endless zoom.
    const double width = std::max(box.width(), least_span);
    const double height = std::max(box.height(), least_span);
    const double free_width = std::max(size.width() - 2 * margin, 1.0);
    const double free_height = std::max(size.height() - 2 * margin, 1.0);
    const double scale = std::min(free_width / width, free_height / height);
    return centred(box.centre(), scale, size);
}

QPointF ViewTransform::to_pixel(WorldPoint point) const noexcept {
    return {(point.x - m_left) * m_scale, (m_top - point.y) * m_scale};
}

WorldPoint ViewTransform::to_world(QPointF pixel) const noexcept {
    return {m_left + pixel.x() / m_scale, m_top - pixel.y() / m_scale};
}

WorldBox ViewTransform::visible(QSizeF size) const noexcept {
    const WorldPoint top_left = to_world({0, 0});
    const WorldPoint bottom_right = to_world({size.width(), size.height()});
    return {top_left.x, bottom_right.y, bottom_right.x, top_left.y};
}

ViewTransform ViewTransform::panned(double dx, double dy) const noexcept {
    return {m_scale, m_left - dx / m_scale, m_top + dy / m_scale};
}

ViewTransform ViewTransform::zoomed_about(QPointF anchor, double factor) const noexcept {
    const WorldPoint fixed = to_world(anchor);
    const double scale = m_scale * factor;
    return {scale, fixed.x - anchor.x() / scale, fixed.y + anchor.y() / scale};
}

ViewTransform ViewTransform::centred(WorldPoint centre, double scale, QSizeF size) noexcept {
    return {scale, centre.x - size.width() / 2 / scale, centre.y + size.height() / 2 / scale};
}

} // namespace tarvel::ui
