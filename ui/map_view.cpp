#include "ui/map_view.hpp"

#include <QFont>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QPen>
#include <QWheelEvent>
#include <algorithm>
#include <cmath>
#include <cstdint>

#include "run/error_file.hpp"
#include "ui/texts.hpp"

namespace tarvel::ui {
namespace {

constexpr double fit_margin = 16;
// Zooming out stops where the whole sheet is this many times smaller than the map; zooming
// in stops at this many pixels per file unit.
constexpr double least_zoom = 1.0 / 16;
constexpr double most_scale = 400;
// A finding chosen in the list is shown with at least this many metres around it.
constexpr double finding_span_metres = 50;
// One notch of a mouse wheel (120 eighths of a degree) zooms by 2^(1/4).
constexpr double eighths_per_doubling = 480;

} // namespace

MapView::MapView(QWidget* parent) : QWidget(parent) {
    setMouseTracking(true);
    setFocusPolicy(Qt::StrongFocus);
    setCursor(Qt::OpenHandCursor);
    setMinimumSize(200, 150);
    setAttribute(Qt::WA_OpaquePaintEvent);
}

void MapView::set_map(std::shared_ptr<const SheetMap> map) {
    m_map = std::move(map);
    m_chosen.reset();
    m_drag_from.reset();
    m_lines = QImage();
    fit();
}

void MapView::set_placeholder(const QString& text) {
    m_placeholder = text;
    update();
}

void MapView::set_view(const ViewTransform& view) {
    m_follows_fit = false;
    change_view(view);
}

void MapView::change_view(const ViewTransform& view) {
    m_view = view;
    m_lines_current = false;
    update();
}

void MapView::fit() {
    m_follows_fit = true;
    const WorldBox extent = m_map ? m_map->extent() : WorldBox{};
    const double least_span = m_map ? m_map->unit_factor() : 1.0;
    change_view(ViewTransform::fitting(extent, QSizeF(size()), fit_margin, least_span));
}

void MapView::show_finding(std::size_t index) {
    if (!m_map || index >= m_map->findings().size()) {
        return;
    }
    const MapFinding& finding = m_map->findings()[index];
    const double span = std::max(finding_span_metres * m_map->unit_factor(),
                                 4 * std::max(finding.box.width(), finding.box.height()));
    const double pixels = std::max(1, std::min(width(), height()));
    m_chosen = index;
    set_view(held(ViewTransform::centred(finding.at(), pixels / span, QSizeF(size()))));
}

ViewTransform MapView::held(const ViewTransform& view) const {
    if (!m_map) {
        return view;
    }
    const double whole =
        ViewTransform::fitting(m_map->extent(), QSizeF(size()), fit_margin, m_map->unit_factor())
            .scale();
    const double scale = std::clamp(view.scale(), whole * least_zoom, std::max(whole, most_scale));
    if (scale == view.scale()) {
        return view;
    }
    const QPointF middle(width() / 2.0, height() / 2.0);
    return ViewTransform::centred(view.to_world(middle), scale, QSizeF(size()));
}

void MapView::zoom_about(QPointF anchor, double factor) {
    const ViewTransform zoomed = m_view.zoomed_about(anchor, factor);
    const ViewTransform kept = held(zoomed);
    // At a limit the view stays as it is rather than sliding about the middle.
    if (kept.scale() == zoomed.scale()) {
        set_view(zoomed);
    }
}

void MapView::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    if (m_follows_fit) {
        fit();
        return;
    }
    // The place in the middle stays in the middle.
    const QSize before = event->oldSize().isValid() ? event->oldSize() : size();
    const WorldPoint middle = m_view.to_world(QPointF(before.width() / 2.0, before.height() / 2.0));
    change_view(ViewTransform::centred(middle, m_view.scale(), QSizeF(size())));
}

void MapView::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    if (!m_map) {
        painter.fillRect(rect(), map_background());
        painter.setPen(palette().color(QPalette::PlaceholderText));
        painter.drawText(rect().adjusted(12, 12, -12, -12), Qt::AlignCenter | Qt::TextWordWrap,
                         m_placeholder);
        m_drawn.clear();
        return;
    }
    draw_lines(painter);
    draw_findings(painter);
}

void MapView::draw_lines(QPainter& painter) {
    const qreal ratio = devicePixelRatioF();
    const QSize device_size = (QSizeF(size()) * ratio).toSize();
    if (!m_lines_current || m_lines.size() != device_size) {
        if (m_lines.size() != device_size) {
            m_lines = QImage(device_size, QImage::Format_ARGB32_Premultiplied);
        }
        // Drawn in device pixels, then shown at the widget's scale.
        m_lines.setDevicePixelRatio(1);
        m_lines.fill(map_background());
        m_line_count = m_layer.draw(m_lines, *m_map, m_view.in_device_pixels(ratio));
        m_lines.setDevicePixelRatio(ratio);
        m_lines_current = true;
    }
    painter.drawImage(QPointF(0, 0), m_lines);
}

void MapView::draw_no_sent(QPainter& painter, const MapFinding& finding) {
    // Where the error file puts its "NoSent" text, once it is large enough to read.
    const double height = run::marker_height(m_map->results().unit_factor());
    const double pixels = height * m_view.scale();
    if (pixels < 8) {
        return;
    }
    const QPointF corner = m_view.to_pixel(finding.at());
    const QRectF box(corner.x(), corner.y() - pixels, 6 * pixels, pixels);
    if (!box.intersects(QRectF(rect()))) {
        return;
    }
    QFont font = painter.font();
    font.setPixelSize(static_cast<int>(std::min(pixels, 400.0)));
    painter.save();
    painter.setFont(font);
    painter.setPen(QColor(0xd3, 0x2f, 0x2f));
    painter.drawText(box, Qt::AlignLeft | Qt::AlignBottom, QString::fromUtf8(text::no_sent));
    painter.restore();
}

void MapView::draw_findings(QPainter& painter) {
    m_drawn.clear();
    const std::vector<MapFinding>& findings = m_map->findings();
    const QRectF seen =
        QRectF(rect()).adjusted(-symbol_size, -symbol_size, symbol_size, symbol_size);
    // A symbol over another of its kind adds nothing: at most one per kind in each cell of
    // the size of half a symbol.
    const int cell = static_cast<int>(symbol_size / 2);
    const int columns = width() / cell + 5;
    const int rows = height() / cell + 5;
    std::vector<std::uint8_t> taken(static_cast<std::size_t>(columns) *
                                    static_cast<std::size_t>(rows));
    for (std::size_t i = 0; i < findings.size(); ++i) {
        const MapFinding& finding = findings[i];
        const QPointF pixel = m_view.to_pixel(finding.at());
        if (!seen.contains(pixel)) {
            continue;
        }
        const int column = static_cast<int>((pixel.x() + symbol_size) / cell);
        const int row = static_cast<int>((pixel.y() + symbol_size) / cell);
        const auto kind_bit = static_cast<std::uint8_t>(1u << static_cast<unsigned>(finding.kind));
        std::uint8_t& slot =
            taken.at(static_cast<std::size_t>(row) * static_cast<std::size_t>(columns) +
                     static_cast<std::size_t>(column));
        if ((slot & kind_bit) != 0 && m_chosen != i) {
            continue;
        }
        slot = static_cast<std::uint8_t>(slot | kind_bit);
        if (finding.kind == FindingKind::near_miss) {
            painter.save();
            painter.setRenderHint(QPainter::Antialiasing, true);
            painter.setPen(QPen(QColor(0xef, 0x6c, 0x00), 1.5, Qt::DashLine));
            // Between its two places, whichever way they lie from each other.
            const auto& places = m_map->results().findings().near_misses.at(finding.item).places;
            const auto pixel_of = [this](const digi::Vertex& v) {
                return m_view.to_pixel({static_cast<double>(v.x), static_cast<double>(v.y)});
            };
            painter.drawLine(pixel_of(places[0].point), pixel_of(places[1].point));
            painter.restore();
        }
        if (finding.kind == FindingKind::direction_error) {
            draw_no_sent(painter, finding);
        }
        draw_symbol(painter, finding.kind, pixel, symbol_size);
        m_drawn.push_back(DrawnFinding{i, pixel});
    }
    if (m_chosen && *m_chosen < findings.size()) {
        const QPointF pixel = m_view.to_pixel(findings[*m_chosen].at());
        painter.save();
        painter.setRenderHint(QPainter::Antialiasing, true);
        painter.setBrush(Qt::NoBrush);
        painter.setPen(QPen(QColor(0x21, 0x21, 0x21), 2));
        painter.drawEllipse(pixel, symbol_size, symbol_size);
        painter.setPen(QPen(QColor(0xfd, 0xd8, 0x35), 2));
        painter.drawEllipse(pixel, symbol_size + 2, symbol_size + 2);
        painter.restore();
    }
}

void MapView::mousePressEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton && m_map) {
        m_drag_from = event->position().toPoint();
        m_drag_view = m_view;
        setCursor(Qt::ClosedHandCursor);
        event->accept();
        return;
    }
    QWidget::mousePressEvent(event);
}

void MapView::mouseMoveEvent(QMouseEvent* event) {
    const QPointF at = event->position();
    if (m_drag_from && (event->buttons() & Qt::LeftButton) != 0) {
        const QPointF moved = at - QPointF(*m_drag_from);
        set_view(m_drag_view.panned(moved.x(), moved.y()));
    }
    if (m_map) {
        emit pointer_moved(m_view.to_world(at));
    }
    QWidget::mouseMoveEvent(event);
}

void MapView::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton && m_drag_from) {
        m_drag_from.reset();
        setCursor(Qt::OpenHandCursor);
        event->accept();
        return;
    }
    QWidget::mouseReleaseEvent(event);
}

void MapView::wheelEvent(QWheelEvent* event) {
    const int eighths = event->angleDelta().y();
    if (!m_map || eighths == 0) {
        QWidget::wheelEvent(event);
        return;
    }
    zoom_about(event->position(), std::exp2(eighths / eighths_per_doubling));
    event->accept();
}

void MapView::keyPressEvent(QKeyEvent* event) {
    if (!m_map) {
        QWidget::keyPressEvent(event);
        return;
    }
    const QPointF middle(width() / 2.0, height() / 2.0);
    const double step = std::min(width(), height()) / 8.0;
    switch (event->key()) {
    case Qt::Key_Plus:
        zoom_about(middle, 2);
        break;
    case Qt::Key_Minus:
        zoom_about(middle, 0.5);
        break;
    case Qt::Key_Left:
        set_view(m_view.panned(step, 0));
        break;
    case Qt::Key_Right:
        set_view(m_view.panned(-step, 0));
        break;
    case Qt::Key_Up:
        set_view(m_view.panned(0, step));
        break;
    case Qt::Key_Down:
        set_view(m_view.panned(0, -step));
        break;
    case Qt::Key_Home:
        fit();
        break;
    default:
        QWidget::keyPressEvent(event);
        return;
    }
    event->accept();
}

void MapView::leaveEvent(QEvent* event) {
    emit pointer_left();
    QWidget::leaveEvent(event);
}

} // namespace tarvel::ui
