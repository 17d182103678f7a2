// The map of one analysed sheet: the lines, the output's apart from those left as read, and
// a symbol at every finding. Drag to pan, turn the wheel to zoom about the pointer. Drawing
// keeps to what the pixels can show, so a sheet of a million lines stays responsive; the
// lines of the current view are kept as a picture until the view changes.
#pragma once

#include <QImage>
#include <QString>
#include <QWidget>
#include <cstddef>
#include <memory>
#include <optional>
#include <vector>

#include "ui/map_painting.hpp"
#include "ui/sheet_map.hpp"
#include "ui/view_transform.hpp"

namespace tarvel::ui {

class MapView : public QWidget {
    Q_OBJECT

public:
    explicit MapView(QWidget* parent = nullptr);

    /// Shows `map` whole; null shows the placeholder text instead.
    void set_map(std::shared_ptr<const SheetMap> map);
    [[nodiscard]] const std::shared_ptr<const SheetMap>& map() const noexcept { return m_map; }
    /// The text shown while there is no map.
    void set_placeholder(const QString& text);

    [[nodiscard]] const ViewTransform& view() const noexcept { return m_view; }
    void set_view(const ViewTransform& view);
    /// Shows the whole sheet, and keeps showing it whole as the map is resized.
    void fit();
    /// Centres the map on finding `index` of the map, zoomed so that a few metres around it
    /// show, and marks it as the chosen one.
    void show_finding(std::size_t index);
    [[nodiscard]] std::optional<std::size_t> chosen_finding() const noexcept { return m_chosen; }

    /// A finding as the last drawing placed it: its index in the map's findings and the
    /// pixel of its symbol's centre.
    struct DrawnFinding {
        std::size_t finding = 0;
        QPointF pixel;
    };
    /// The findings the last drawing placed; those outside the view, or hidden under a
    /// symbol of the same kind, are not listed.
    [[nodiscard]] const std::vector<DrawnFinding>& drawn_findings() const noexcept {
        return m_drawn;
    }
    /// What the last drawing of the lines did.
    [[nodiscard]] const LineLayerCount& line_count() const noexcept { return m_line_count; }

    /// Symbol size in pixels.
    static constexpr double symbol_size = 12;

signals:
    /// The pointer is over the map at `place` (file units).
    void pointer_moved(tarvel::ui::WorldPoint place);
    /// The pointer has left the map.
    void pointer_left();

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void leaveEvent(QEvent* event) override;

private:
    /// The view `view` with its scale held between a sixteenth of the whole sheet's and a
    /// few hundred pixels per file unit.
    [[nodiscard]] ViewTransform held(const ViewTransform& view) const;
    void zoom_about(QPointF anchor, double factor);
    void change_view(const ViewTransform& view);
    void draw_lines(QPainter& painter);
    void draw_findings(QPainter& painter);
    void draw_no_sent(QPainter& painter, const MapFinding& finding);

    std::shared_ptr<const SheetMap> m_map;
    QString m_placeholder;
    ViewTransform m_view;
    bool m_follows_fit = true;
    std::optional<std::size_t> m_chosen;

    std::optional<QPoint> m_drag_from;
    ViewTransform m_drag_view;

    LineLayer m_layer;
    QImage m_lines;               // the lines of the current view, drawn once
    bool m_lines_current = false; // m_lines holds the current map, view and size
    LineLayerCount m_line_count;
    std::vector<DrawnFinding> m_drawn;
};

} // namespace tarvel::ui
