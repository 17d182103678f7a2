#include "ui/map_painting.hpp"

#include <QColor>
#include <QImage>
#include <QPainter>
#include <QPainterPath>
#include <QPen>
#include <QPixmap>
#include <QPolygonF>
#include <algorithm>
#include <array>
#include <cmath>

namespace tarvel::ui {
namespace {

// Pixels a segment may reach outside the map before it is cut: far enough that a cut end
// never shows, near enough that pixel coordinates stay small for the painter.
constexpr double guard = 64;
// Below this many pieces the lines are drawn smoothed; above it smoothing would cost more
// than the pixels gain.
constexpr std::int64_t smooth_below = 4000;

QColor line_colour(LineStyle style) {
    return style == LineStyle::joined ? QColor(0x15, 0x65, 0xc0) : QColor(0x8a, 0x90, 0x99);
}

QColor symbol_colour(FindingKind kind) {
    switch (kind) {
    case FindingKind::direction_error:
        return {0xd3, 0x2f, 0x2f};
    case FindingKind::near_miss:
        return {0xef, 0x6c, 0x00};
    case FindingKind::z_difference:
        return {0x00, 0x89, 0x7b};
    case FindingKind::ring:
        return {0x8e, 0x24, 0xaa};
    case FindingKind::vertex_limit:
        return {0x21, 0x21, 0x21};
    }
    return Qt::black;
}

/// Cuts the segment a-b to the guard rectangle of a map of `size` (Liang-Barsky); false when
/// nothing of it is left.
bool clip(QPointF& a, QPointF& b, QSize size) {
    const double x_low = -guard;
    const double y_low = -guard;
    const double x_high = size.width() + guard;
    const double y_high = size.height() + guard;
    if (a.x() >= x_low && a.x() <= x_high && a.y() >= y_low && a.y() <= y_high && b.x() >= x_low &&
        b.x() <= x_high && b.y() >= y_low && b.y() <= y_high) {
        return true;
    }
    const double dx = b.x() - a.x();
    const double dy = b.y() - a.y();
    double t0 = 0;
    double t1 = 1;
    const std::array<std::pair<double, double>, 4> edges{
        {{-dx, a.x() - x_low}, {dx, x_high - a.x()}, {-dy, a.y() - y_low}, {dy, y_high - a.y()}}};
    for (const auto& [p, q] : edges) {
        if (p == 0) {
            if (q < 0) {
                return false;
            }
            continue;
        }
        const double t = q / p;
        if (p < 0) {
            t0 = std::max(t0, t);
        } else {
            t1 = std::min(t1, t);
        }
        if (t0 > t1) {
            return false;
        }
    }
    const QPointF start = a;
    a = QPointF(start.x() + t0 * dx, start.y() + t0 * dy);
    b = QPointF(start.x() + t1 * dx, start.y() + t1 * dy);
    return true;
}

/// The pixel of `p`; places far outside the map are held at a distance any int can take.
QPoint rounded(QPointF p) {
    constexpr double far = 1e9;
    return {static_cast<int>(std::lround(std::clamp(p.x(), -far, far))),
            static_cast<int>(std::lround(std::clamp(p.y(), -far, far)))};
}

} // namespace

void draw_symbol(QPainter& painter, FindingKind kind, QPointF centre, double size) {
    const QColor colour = symbol_colour(kind);
    const double r = size / 2;
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing, true);
    QPen outline(Qt::white, std::max(1.0, size / 8));
    outline.setJoinStyle(Qt::MiterJoin);
    painter.setPen(outline);
    painter.setBrush(colour);
    switch (kind) {
    case FindingKind::direction_error: {
        const QPolygonF triangle{{centre.x(), centre.y() - r},
                                 {centre.x() + r, centre.y() + r * 0.8},
                                 {centre.x() - r, centre.y() + r * 0.8}};
        painter.drawPolygon(triangle);
        break;
    }
    case FindingKind::near_miss: {
        // Two small rings for the two places that almost meet.
        painter.setBrush(Qt::NoBrush);
        painter.setPen(QPen(colour, std::max(1.5, size / 6)));
        painter.drawEllipse(QPointF(centre.x() - r * 0.45, centre.y()), r * 0.45, r * 0.45);
        painter.drawEllipse(QPointF(centre.x() + r * 0.45, centre.y()), r * 0.45, r * 0.45);
        break;
    }
    case FindingKind::z_difference: {
        const QPolygonF diamond{{centre.x(), centre.y() - r},
                                {centre.x() + r, centre.y()},
                                {centre.x(), centre.y() + r},
                                {centre.x() - r, centre.y()}};
        painter.drawPolygon(diamond);
        break;
    }
    case FindingKind::ring:
        painter.setBrush(Qt::NoBrush);
        painter.setPen(QPen(colour, std::max(1.5, size / 5)));
        painter.drawEllipse(centre, r * 0.8, r * 0.8);
        painter.setBrush(colour);
        painter.setPen(Qt::NoPen);
        painter.drawEllipse(centre, r * 0.25, r * 0.25);
        break;
    case FindingKind::vertex_limit:
        painter.drawRect(QRectF(centre.x() - r * 0.8, centre.y() - r * 0.8, r * 1.6, r * 1.6));
        break;
    }
    painter.restore();
}

QPixmap symbol_pixmap(FindingKind kind, int size) {
    QPixmap pixmap(size, size);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    draw_symbol(painter, kind, QPointF(size / 2.0, size / 2.0), size - 2.0);
    return pixmap;
}

QPixmap line_sample_pixmap(LineStyle style, QSize size) {
    QPixmap pixmap(size);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing, true);
    painter.setPen(QPen(line_colour(style), style == LineStyle::joined ? 2.0 : 1.2));
    const double y = size.height() / 2.0;
    painter.drawLine(QPointF(1, y + 2), QPointF(size.width() / 2.0, y - 2));
    painter.drawLine(QPointF(size.width() / 2.0, y - 2), QPointF(size.width() - 1, y + 1));
    return pixmap;
}

QColor map_background() {
    return {0xfc, 0xfc, 0xf9};
}

void LineLayer::collect(const SheetMap& map, const ViewTransform& view, QSize size,
                        LineLayerCount& count) {
    for (Bucket& bucket : m_buckets) {
        bucket.segments.clear();
        bucket.dots.clear();
    }
    const double scale = view.scale();
    const WorldBox seen = view.visible(QSizeF(size));
    const digi::ElementTables& tables = map.results().tables();
    const std::vector<LineBox>& boxes = map.boxes();
    for (std::size_t i = 0; i < boxes.size(); ++i) {
        const LineBox& box = boxes[i];
        if (box.min_x > box.max_x || box.max_x < seen.min_x || box.min_x > seen.max_x ||
            box.max_y < seen.min_y || box.min_y > seen.max_y) {
            continue;
        }
        ++count.lines;
        Bucket& bucket =
            m_buckets[tables.lines[i].absorbed() ? static_cast<int>(LineStyle::joined)
                                                 : static_cast<int>(LineStyle::untouched)];
        // A line that fits inside a pixel is that pixel: its vertices need not be read.
        if ((static_cast<double>(box.max_x) - box.min_x) * scale < 1.0 &&
            (static_cast<double>(box.max_y) - box.min_y) * scale < 1.0) {
            bucket.dots.push_back(rounded(
                view.to_pixel({static_cast<double>(box.min_x), static_cast<double>(box.min_y)})));
            ++count.dots;
            continue;
        }
        const digi::ElementView line = tables.line(i);
        const std::int32_t vertices = line.item_count();
        const digi::Vertex first = line.vertex(0);
        QPointF last = view.to_pixel({static_cast<double>(first.x), static_cast<double>(first.y)});
        QPoint last_pixel = rounded(last);
        for (std::int32_t v = 1; v < vertices; ++v) {
            const digi::Vertex vertex = line.vertex(v);
            const QPointF next =
                view.to_pixel({static_cast<double>(vertex.x), static_cast<double>(vertex.y)});
            const QPoint next_pixel = rounded(next);
            // Vertices that fall on the pixel of the last one drawn add nothing to see.
            if (next_pixel == last_pixel) {
                continue;
            }
            QPointF a = last;
            QPointF b = next;
            if (clip(a, b, size)) {
                bucket.segments.emplace_back(rounded(a), rounded(b));
                ++count.segments;
            }
            last = next;
            last_pixel = next_pixel;
        }
    }
}

void LineLayer::set_pixels(QImage& image, bool segments) const {
    const int width = image.width();
    const int height = image.height();
    const qsizetype stride = image.bytesPerLine() / static_cast<qsizetype>(sizeof(QRgb));
    auto* pixels = reinterpret_cast<QRgb*>(image.bits());
    // Untouched lines first: the output's lines lie on top where both meet.
    for (const LineStyle style : {LineStyle::untouched, LineStyle::joined}) {
        const Bucket& bucket = m_buckets[static_cast<int>(style)];
        const QRgb colour = line_colour(style).rgba();
        const auto plot = [&](int x, int y) {
            if (x >= 0 && y >= 0 && x < width && y < height) {
                pixels[static_cast<qsizetype>(y) * stride + x] = colour;
            }
        };
        for (const QPoint& dot : bucket.dots) {
            plot(dot.x(), dot.y());
        }
        if (!segments) {
            continue;
        }
        for (const QLine& segment : bucket.segments) {
            // Bresenham: every pixel the segment crosses, once.
            int x = segment.x1();
            int y = segment.y1();
            const int dx = std::abs(segment.x2() - x);
            const int dy = -std::abs(segment.y2() - y);
            const int step_x = x < segment.x2() ? 1 : -1;
            const int step_y = y < segment.y2() ? 1 : -1;
            int error = dx + dy;
            for (;;) {
                plot(x, y);
                if (x == segment.x2() && y == segment.y2()) {
                    break;
                }
                const int twice = 2 * error;
                if (twice >= dy) {
                    error += dy;
                    x += step_x;
                }
                if (twice <= dx) {
                    error += dx;
                    y += step_y;
                }
            }
        }
    }
}

void LineLayer::smooth_segments(QImage& image) const {
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing, true);
    for (const LineStyle style : {LineStyle::untouched, LineStyle::joined}) {
        const Bucket& bucket = m_buckets[static_cast<int>(style)];
        QPen pen(line_colour(style), style == LineStyle::joined ? 2.0 : 1.2);
        // Round caps on smoothed wide pens cost a hundred times more on long segments.
        pen.setCapStyle(Qt::FlatCap);
        painter.setPen(pen);
        if (!bucket.segments.empty()) {
            painter.drawLines(bucket.segments.data(), static_cast<int>(bucket.segments.size()));
        }
    }
}

LineLayerCount LineLayer::draw(QImage& image, const SheetMap& map, const ViewTransform& view) {
    LineLayerCount count;
    collect(map, view, image.size(), count);
    // Lines smaller than a pixel are that pixel whatever the smoothing; the segments are
    // smoothed while they are few.
    if (count.segments < smooth_below) {
        set_pixels(image, false);
        smooth_segments(image);
    } else {
        set_pixels(image, true);
    }
    return count;
}

} // namespace tarvel::ui
