// The map's view: which part of the sheet the map shows and how large. A pure value that
// turns sheet coordinates (file units, Y up) into pixels of the map (Y down) and back, so the
// map's drawing, its mouse handling and its tests all agree on where a place appears.
#pragma once

#include <QPointF>
#include <QSizeF>

namespace tarvel::ui {

/// A place of the sheet in file units, X east and Y north.
struct WorldPoint {
    double x = 0;
    double y = 0;
};

/// A box of the sheet in file units; empty when nothing has been added.
struct WorldBox {
    double min_x = 0;
    double min_y = 0;
    double max_x = -1;
    double max_y = -1;

    [[nodiscard]] bool empty() const noexcept { return max_x < min_x || max_y < min_y; }
    [[nodiscard]] double width() const noexcept { return empty() ? 0 : max_x - min_x; }
    [[nodiscard]] double height() const noexcept { return empty() ? 0 : max_y - min_y; }
    [[nodiscard]] WorldPoint centre() const noexcept {
        return {(min_x + max_x) / 2, (min_y + max_y) / 2};
    }
    /// Grows the box to hold `point`.
    void add(WorldPoint point) noexcept;
    /// Grows the box to hold `other`.
    void add(const WorldBox& other) noexcept;
};

class ViewTransform {
public:
    /// One pixel per file unit, the origin at the top left corner.
    ViewTransform() = default;
    /// `scale` pixels per file unit (above 0); the sheet's place (`left`, `top`) at pixel
    /// (0, 0).
    ViewTransform(double scale, double left, double top) noexcept;

    /// The view that shows all of `box` as large as a map of `size` pixels allows, centred,
    /// with `margin` pixels left free on every side. An empty box or a single place is
    /// shown about its centre at one pixel per file unit or as a box of `least_span`.
    [[nodiscard]] static ViewTransform fitting(const WorldBox& box, QSizeF size, double margin,
                                               double least_span = 1.0) noexcept;

    [[nodiscard]] double scale() const noexcept { return m_scale; }
    [[nodiscard]] QPointF to_pixel(WorldPoint point) const noexcept;
    [[nodiscard]] WorldPoint to_world(QPointF pixel) const noexcept;
    /// The part of the sheet a map of `size` pixels shows.
    [[nodiscard]] WorldBox visible(QSizeF size) const noexcept;

    /// The view moved by (`dx`, `dy`) pixels: what was at pixel p is then at p + (dx, dy).
    [[nodiscard]] ViewTransform panned(double dx, double dy) const noexcept;
    /// The view `factor` times larger (above 1 zooms in), the place under `anchor` staying
    /// under it.
    [[nodiscard]] ViewTransform zoomed_about(QPointF anchor, double factor) const noexcept;
    /// The same view counted in device pixels, `ratio` of them to a pixel.
    [[nodiscard]] ViewTransform in_device_pixels(double ratio) const noexcept {
        return {m_scale * ratio, m_left, m_top};
    }
    /// The view at `scale` with `centre` in the middle of a map of `size` pixels.
    [[nodiscard]] static ViewTransform centred(WorldPoint centre, double scale,
                                               QSizeF size) noexcept;

private:
    double m_scale = 1;
    double m_left = 0;
    double m_top = 0;
};

} // namespace tarvel::ui
