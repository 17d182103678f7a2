#include "ui/map_view.hpp"

#include <QApplication>
#include <QImage>
#include <QMouseEvent>
#include <QTemporaryDir>
#include <QWheelEvent>
#include <cmath>
#include <functional>
#include <gtest/gtest.h>
#include <memory>
#include <optional>

#include "run/procesamos_fichero.hpp"
#include "tests/support/digi_builder.hpp"
#include "tests/ui/findings_sheet.hpp"
#include "ui/map_painting.hpp"
#include "ui/paths.hpp"
#include "ui/sheet_map.hpp"
#include "ui/view_transform.hpp"

namespace tarvel::ui {
namespace {

using testing::DigiBuilder;

/// `bytes` as a sheet in millimetres, analysed with `codes` as its codes file.
std::shared_ptr<const SheetMap> map_of(const std::vector<std::byte>& bytes,
                                       const std::string& codes = {}) {
    const QTemporaryDir folder;
    const std::filesystem::path sheet = to_path(folder.path()) / "hoja.bin";
    testing::write_bytes(sheet.string(), bytes);
    run::RunSettings settings;
    settings.input = sheet;
    if (!codes.empty()) {
        settings.codes = to_path(folder.path()) / "sentido.CFG";
        testing::write_bytes(settings.codes.string(),
                             std::vector<std::byte>(
                                 reinterpret_cast<const std::byte*>(codes.data()),
                                 reinterpret_cast<const std::byte*>(codes.data() + codes.size())));
    }
    return std::make_shared<const SheetMap>(run::analyse_sheet(settings));
}

void expect_near(QPointF actual, QPointF expected, const char* what) {
    EXPECT_NEAR(actual.x(), expected.x(), 1e-6) << what;
    EXPECT_NEAR(actual.y(), expected.y(), 1e-6) << what;
}

TEST(ViewTransform, TurnsPlacesIntoPixelsWithYDownAndBack) {
    // Two pixels per unit; the place (-10, 50) at the top left corner.
    const ViewTransform view(2, -10, 50);
    expect_near(view.to_pixel({-10, 50}), {0, 0}, "corner");
    expect_near(view.to_pixel({0, 0}), {20, 100}, "origin");
    expect_near(view.to_pixel({5, 60}), {30, -20}, "above the view");
    const WorldPoint back = view.to_world({31, 7});
    expect_near(view.to_pixel(back), {31, 7}, "round trip");

    expect_near(view.panned(3, -4).to_pixel({0, 0}), {23, 96}, "panned");
    // Zooming about a pixel keeps the place under it and stretches the rest away from it.
    const ViewTransform zoomed = view.zoomed_about({40, 60}, 3);
    expect_near(zoomed.to_pixel(view.to_world({40, 60})), {40, 60}, "zoom anchor");
    expect_near(zoomed.to_pixel({0, 0}), {40 + (20 - 40) * 3.0, 60 + (100 - 60) * 3.0}, "zoomed");

    const WorldBox seen = view.visible(QSizeF(100, 60));
    EXPECT_DOUBLE_EQ(seen.min_x, -10);
    EXPECT_DOUBLE_EQ(seen.max_x, 40);
    EXPECT_DOUBLE_EQ(seen.max_y, 50);
    EXPECT_DOUBLE_EQ(seen.min_y, 20);

    // A box 100 wide and 20 tall in 220 x 120 pixels with 10 free on each side: the width
    // fills, the box is centred.
    const ViewTransform fitted =
        ViewTransform::fitting(WorldBox{0, 0, 100, 20}, QSizeF(220, 120), 10);
    EXPECT_DOUBLE_EQ(fitted.scale(), 2);
    expect_near(fitted.to_pixel({0, 20}), {10, 40}, "fitted corner");
    expect_near(fitted.to_pixel({50, 10}), {110, 60}, "fitted centre");
}

TEST(SheetMap, ListsEveryFindingAtItsPlaceWithTheElementsInvolved) {
    const auto map = map_of(testing::findings_sheet(), testing::findings_codes);
    const std::vector<MapFinding>& findings = map->findings();
    ASSERT_EQ(findings.size(), 5u);
    const FindingKind kinds[] = {FindingKind::direction_error, FindingKind::near_miss,
                                 FindingKind::z_difference, FindingKind::ring,
                                 FindingKind::vertex_limit};
    for (std::size_t i = 0; i < 5; ++i) {
        EXPECT_EQ(findings[i].kind, kinds[i]) << i;
    }
    EXPECT_DOUBLE_EQ(findings[0].at().x, testing::direction_error_at.x);
    EXPECT_DOUBLE_EQ(findings[0].at().y, testing::direction_error_at.y);
    EXPECT_DOUBLE_EQ(findings[1].at().x,
                     (testing::near_miss_at[0].x + testing::near_miss_at[1].x) / 2.0);
    EXPECT_DOUBLE_EQ(findings[1].box.width(), 50);
    EXPECT_DOUBLE_EQ(findings[2].at().y, testing::z_difference_at.y);
    EXPECT_DOUBLE_EQ(findings[4].at().x, testing::vertex_limit_at.x);

    EXPECT_EQ(map->describe(findings[0]), "elementos 1 y 2");
    EXPECT_EQ(map->describe(findings[1]), "distancia 0.050 m; elementos 3 / 4");
    EXPECT_EQ(map->describe(findings[2]), "Z 0.005 m y 0.009 m; elementos 5 y 6");
    EXPECT_EQ(map->describe(findings[4]), "39999 vértices; elementos 9 y 10");
    EXPECT_EQ(map->metres(-1234), "-1.234");

    ASSERT_EQ(map->boxes().size(), 10u);
    EXPECT_EQ(map->boxes()[7].max_y, 24000);
    EXPECT_DOUBLE_EQ(map->extent().max_x, 39998);
    EXPECT_DOUBLE_EQ(map->extent().max_y, 30001);
}

TEST(LineLayer, DrawsOnlyWhatTheViewShowsAndNoMoreThanThePixelsCan) {
    // A line inside a pixel; a line whose first fifty vertices share a pixel; a line far away.
    std::vector<digi::Vertex> bunched;
    for (std::int32_t i = 0; i < 50; ++i) {
        bunched.push_back({1000 + i % 3, 1000, 0});
    }
    bunched.push_back({5000, 1000, 0});
    const auto map = map_of(DigiBuilder{}
                                .line("A", {{0, 0, 0}, {1, 1, 0}})
                                .line("B", bunched)
                                .line("C", {{1000000, 1000000, 0}, {1000010, 1000000, 0}})
                                .bytes());
    struct Case {
        const char* name;
        ViewTransform view;
        LineLayerCount expected;
        std::vector<QPoint> drawn;     // pixels a line covers
        std::vector<QPoint> not_drawn; // pixels none covers
    };
    const Case cases[] = {
        // A at pixel (10, 150), B from (110, 50) to (510, 50).
        {"whole", ViewTransform(0.1, -100, 1500), {2, 1, 1}, {{10, 150}, {300, 50}}, {{300, 100}}},
        // A from (10, 20) to (20, 10); B and C outside.
        {"close", ViewTransform(10, -1, 2), {1, 1, 0}, {{15, 15}}, {{300, 50}}},
    };
    LineLayer layer;
    for (const Case& c : cases) {
        QImage image(600, 200, QImage::Format_ARGB32_Premultiplied);
        image.fill(map_background());
        const LineLayerCount count = layer.draw(image, *map, c.view);
        EXPECT_EQ(count.lines, c.expected.lines) << c.name;
        EXPECT_EQ(count.segments, c.expected.segments) << c.name;
        EXPECT_EQ(count.dots, c.expected.dots) << c.name;
        for (const QPoint& pixel : c.drawn) {
            EXPECT_NE(image.pixel(pixel), map_background().rgb()) << c.name << " " << pixel.x();
        }
        for (const QPoint& pixel : c.not_drawn) {
            EXPECT_EQ(image.pixel(pixel), map_background().rgb()) << c.name << " " << pixel.x();
        }
    }
}

class MapViewTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_view.resize(400, 300);
        m_view.set_map(map_of(testing::findings_sheet(), testing::findings_codes));
    }

    /// Where the last drawing put finding `index`, drawing first.
    std::optional<QPointF> drawn_at(std::size_t index) {
        (void)m_view.grab();
        for (const MapView::DrawnFinding& drawn : m_view.drawn_findings()) {
            if (drawn.finding == index) {
                return drawn.pixel;
            }
        }
        return std::nullopt;
    }

    void mouse(QEvent::Type type, QPointF at, Qt::MouseButtons buttons) {
        QMouseEvent event(type, at, m_view.mapToGlobal(at), Qt::LeftButton, buttons,
                          Qt::NoModifier);
        QApplication::sendEvent(&m_view, &event);
    }

    MapView m_view;
};

TEST_F(MapViewTest, AFindingIsDrawnWhereTheViewPutsItAndMovesWithFitZoomAndPan) {
    // 0.01 pixels a millimetre; (-1000, 2000) at the top left: the direction error at
    // (10000, 0) is at pixel (110, 20).
    m_view.set_view(ViewTransform(0.01, -1000, 2000));
    const std::optional<QPointF> known = drawn_at(0);
    ASSERT_TRUE(known);
    expect_near(*known, {110, 20}, "known view");

    struct Step {
        const char* name;
        std::function<void()> act;
        std::function<QPointF(QPointF)> expected; // from the pixel before
    };
    const QPointF anchor(50, 60);
    const Step steps[] = {
        {"drag",
         [&] {
             mouse(QEvent::MouseButtonPress, {200, 150}, Qt::LeftButton);
             mouse(QEvent::MouseMove, {215, 170}, Qt::LeftButton);
             mouse(QEvent::MouseMove, {230, 190}, Qt::LeftButton);
             mouse(QEvent::MouseButtonRelease, {230, 190}, Qt::NoButton);
         },
         [](QPointF before) { return before + QPointF(30, 40); }},
        {"wheel",
         [&] {
             QWheelEvent wheel(anchor, m_view.mapToGlobal(anchor), {}, {0, 120}, Qt::NoButton,
                               Qt::NoModifier, Qt::NoScrollPhase, false);
             QApplication::sendEvent(&m_view, &wheel);
         },
         [&](QPointF before) { return anchor + (before - anchor) * std::exp2(0.25); }},
        {"moving without a button does not pan",
         [&] {
             mouse(QEvent::MouseMove, {10, 10}, Qt::NoButton);
         },
         [](QPointF before) { return before; }},
    };
    QPointF before = *known;
    for (const Step& step : steps) {
        step.act();
        const std::optional<QPointF> after = drawn_at(0);
        ASSERT_TRUE(after) << step.name;
        expect_near(*after, step.expected(before), step.name);
        before = *after;
    }

    // The whole sheet shows, centred, as large as the map allows.
    m_view.fit();
    const std::optional<QPointF> fitted = drawn_at(0);
    ASSERT_TRUE(fitted);
    const WorldBox extent = m_view.map()->extent();
    const ViewTransform& view = m_view.view();
    const QPointF low = view.to_pixel({extent.min_x, extent.min_y});
    const QPointF high = view.to_pixel({extent.max_x, extent.max_y});
    EXPECT_NEAR((low.x() + high.x()) / 2, 200, 1e-6);
    EXPECT_NEAR((low.y() + high.y()) / 2, 150, 1e-6);
    EXPECT_GE(low.x(), 0);
    EXPECT_LE(high.x(), 400);
    EXPECT_GE(high.y(), 0);
    EXPECT_LE(low.y(), 300);
    EXPECT_GT(high.x() - low.x(), 300);
    expect_near(*fitted, view.to_pixel({10000, 0}), "fitted");
    EXPECT_EQ(m_view.drawn_findings().size(), 5u);
}

} // namespace
} // namespace tarvel::ui
