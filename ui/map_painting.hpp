// How the map draws a sheet: the lines in two styles, decimated to what the pixels can show,
// and one symbol for each kind of finding. The map, its legend and the findings list all
// draw through here, so a symbol means the same wherever it appears.
#pragma once

#include <QLine>
#include <QPoint>
#include <QSize>
#include <cstdint>
#include <vector>

#include "ui/sheet_map.hpp"
#include "ui/view_transform.hpp"

class QColor;
class QImage;
class QPainter;
class QPixmap;
class QPointF;

namespace tarvel::ui {

/// Lines that went into a joined line (the output's), and lines left as they were read.
enum class LineStyle { joined, untouched };

/// Draws the symbol of `kind` centred on `centre`, `size` pixels across.
void draw_symbol(QPainter& painter, FindingKind kind, QPointF centre, double size);
/// The symbol of `kind` as a small picture, for lists.
[[nodiscard]] QPixmap symbol_pixmap(FindingKind kind, int size);
/// A short stretch of line in `style`, as the legend shows it.
[[nodiscard]] QPixmap line_sample_pixmap(LineStyle style, QSize size);
/// The map's background colour.
[[nodiscard]] QColor map_background();

/// What one drawing of the lines did, for measurements.
struct LineLayerCount {
    std::int64_t lines = 0;    ///< lines inside the view
    std::int64_t segments = 0; ///< segments drawn after decimation
    std::int64_t dots = 0;     ///< lines smaller than a pixel, drawn as one
};

/// Draws every line of a sheet inside a view. Keeps its buffers from one drawing to the
/// next, so panning allocates nothing. Few lines are drawn smoothed through QPainter; many
/// are set pixel by pixel, which costs a few nanoseconds a pixel where QPainter would take
/// far longer a segment.
class LineLayer {
public:
    /// Draws the lines of `map` that `view` (counted in the image's pixels) shows onto
    /// `image`, of format ARGB32 premultiplied and device pixel ratio 1.
    LineLayerCount draw(QImage& image, const SheetMap& map, const ViewTransform& view);

private:
    struct Bucket {
        std::vector<QLine> segments;
        std::vector<QPoint> dots;
    };
    void collect(const SheetMap& map, const ViewTransform& view, QSize size, LineLayerCount& count);
    /// Sets the pixels of the dots, and of the segments too when `segments`.
    void set_pixels(QImage& image, bool segments) const;
    /// Draws the segments smoothed.
    void smooth_segments(QImage& image) const;

    Bucket m_buckets[2];
};

} // namespace tarvel::ui
