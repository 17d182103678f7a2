// The window's map on large sheets: how long the first full view takes once a sheet's results
// are at hand (its boxes worked out and the first drawing), and how many frames a second
// panning gives at several zooms. Drawn off screen, as the window would draw it.
// Usage: tarvel-bench-map [FULL_VIEW_LINES [PAN_LINES]]   (default: 1000000 100000)

#include <QApplication>
#include <QImage>
#include <algorithm>
#include <chrono>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include "bench/measure.hpp"
#include "run/procesamos_fichero.hpp"
#include "tests/support/digi_builder.hpp"
#include "ui/map_view.hpp"
#include "ui/sheet_map.hpp"

namespace {

using namespace tarvel;
using Clock = std::chrono::steady_clock;

constexpr int map_width = 1200;
constexpr int map_height = 800;
constexpr int pan_frames = 120;
constexpr int pan_step = 7; // pixels a frame, as a steady drag gives them

double seconds_since(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

std::shared_ptr<const run::SheetResults> analysed(const std::filesystem::path& sheet) {
    run::RunSettings settings;
    settings.input = sheet;
    return run::analyse_sheet(settings);
}

/// A sheet of `lines` lines laid out on a square grid, two pieces to a cell that join, so that
/// at the whole view every line is a few pixels long: the drawing's worst case.
std::filesystem::path make_grid_sheet(const std::filesystem::path& folder, std::int64_t lines) {
    testing::DigiBuilder builder;
    const auto cells = lines / 2;
    const auto side = static_cast<std::int32_t>(std::ceil(std::sqrt(static_cast<double>(cells))));
    constexpr std::int32_t cell = 1000;
    for (std::int64_t c = 0; c < cells; ++c) {
        const std::int32_t x = static_cast<std::int32_t>(c % side) * cell;
        const std::int32_t y = static_cast<std::int32_t>(c / side) * cell;
        const auto zig = [&](std::int32_t from, std::int32_t to) {
            std::vector<digi::Vertex> vertices;
            for (std::int32_t k = from; k <= to; ++k) {
                vertices.push_back({x + k * 100, y + 200 + (k % 2) * 300, 0});
            }
            return vertices;
        };
        builder.line("GRID", zig(0, 4)).line("GRID", zig(4, 8));
    }
    const auto path = folder / "rejilla.bin";
    testing::write_bytes(path.string(), builder.bytes());
    return path;
}

/// Renders `view` into `image` once.
void draw(ui::MapView& view, QImage& image) {
    view.render(&image);
}

void first_view(const std::string& name, const std::filesystem::path& sheet) {
    const Clock::time_point analysis_start = Clock::now();
    auto results = analysed(sheet);
    const double analysis = seconds_since(analysis_start);

    ui::MapView view;
    view.resize(map_width, map_height);
    QImage image(map_width, map_height, QImage::Format_ARGB32_Premultiplied);
    const Clock::time_point start = Clock::now();
    auto map = std::make_shared<const ui::SheetMap>(results);
    const double boxes = seconds_since(start);
    view.set_map(map);
    draw(view, image);
    const double first = seconds_since(start);
    const Clock::time_point again = Clock::now();
    draw(view, image);
    const double cached = seconds_since(again);
    std::cout << name << "  " << results->tables().lines.size() << " lines  analysis "
              << bench::fixed(analysis, 3) << " s (before the map)  first full view "
              << bench::fixed(first * 1000, 1) << " ms (boxes " << bench::fixed(boxes * 1000, 1)
              << " ms)  repaint of the same view " << bench::fixed(cached * 1000, 1) << " ms  ("
              << view.line_count().segments << " segments, " << view.line_count().dots
              << " lines as one pixel)\n";
}

void panning(const std::string& name, const std::filesystem::path& sheet) {
    auto map = std::make_shared<const ui::SheetMap>(analysed(sheet));
    ui::MapView view;
    view.resize(map_width, map_height);
    view.set_map(map);
    QImage image(map_width, map_height, QImage::Format_ARGB32_Premultiplied);
    for (const double zoom : {1.0, 16.0, 256.0}) {
        view.fit();
        view.set_view(view.view().zoomed_about(QPointF(map_width / 2.0, map_height / 2.0), zoom));
        draw(view, image);
        double worst = 0;
        const Clock::time_point start = Clock::now();
        for (int frame = 0; frame < pan_frames; ++frame) {
            const Clock::time_point frame_start = Clock::now();
            // Back and forth, so the view stays over the sheet.
            const int direction = (frame / 30) % 2 == 0 ? 1 : -1;
            view.set_view(view.view().panned(direction * pan_step, direction * pan_step / 2.0));
            draw(view, image);
            worst = std::max(worst, seconds_since(frame_start));
        }
        const double mean = seconds_since(start) / pan_frames;
        std::cout << name << "  zoom x" << zoom << "  " << bench::fixed(mean * 1000, 1)
                  << " ms a frame (" << bench::fixed(1 / mean, 0) << " frames/s), worst "
                  << bench::fixed(worst * 1000, 1) << " ms  (" << view.line_count().lines
                  << " lines in view, " << view.line_count().segments << " segments)\n";
    }
}

} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    const QApplication app(argc, argv);
    const std::int64_t full_lines = argc > 1 ? std::stoll(argv[1]) : 1'000'000;
    const std::int64_t pan_lines = argc > 2 ? std::stoll(argv[2]) : 100'000;
    const auto folder = bench::scratch_folder("map");

    std::cout << "Map " << map_width << "x" << map_height << " pixels\n";
    const auto large = bench::make_sheet(folder, full_lines, 7);
    first_view("generated", large);
    std::filesystem::remove(large);
    const auto grid = make_grid_sheet(folder, full_lines);
    first_view("grid", grid);
    std::filesystem::remove(grid);

    const auto pan_sheet = bench::make_sheet(folder, pan_lines, 7);
    panning("generated " + std::to_string(pan_lines), pan_sheet);
    const auto pan_grid = make_grid_sheet(folder, pan_lines);
    panning("grid " + std::to_string(pan_lines), pan_grid);
    std::filesystem::remove_all(folder);
    return 0;
}
