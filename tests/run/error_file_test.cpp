#include "run/error_file.hpp"

#include <limits>

#include <gtest/gtest.h>

#include "digi/loader.hpp"
#include "digi/writer.hpp"
#include "run/procesamos_fichero.hpp"

namespace tarvel::run {
namespace {

void put_i32(std::vector<std::byte>& out, std::int32_t value) {
    const auto v = static_cast<std::uint32_t>(value);
    for (int shift = 0; shift < 32; shift += 8) {
        out.push_back(static_cast<std::byte>((v >> shift) & 0xFFu));
    }
}

void put_text(std::vector<std::byte>& out, const std::string& text) {
    for (const char c : text) {
        out.push_back(static_cast<std::byte>(c));
    }
}

/// One error element laid out by hand, field by field.
std::vector<std::byte> error_element(std::int32_t x, std::int32_t y, std::int32_t z,
                                     const std::array<std::int32_t, 9>& block) {
    std::vector<std::byte> out;
    put_text(out, std::string("T=ERROR\0\0", 9));
    out.push_back(std::byte{0});               // attribute count
    put_text(out, std::string("\x02\x00", 2)); // item count 2
    for (const std::int32_t value : block) {
        put_i32(out, value);
    }
    put_i32(out, x);
    put_i32(out, y);
    put_i32(out, z);
    put_text(out, std::string("NoSent\0     ", 12));
    return out;
}

std::vector<std::byte> written(std::span<const digi::Vertex> points, std::int32_t unit_factor) {
    digi::MemorySink sink;
    GrabamosErrores(sink, points, unit_factor);
    return sink.bytes();
}

TEST(GrabamosErrores, ThreePointsInMetresAreThreeElementsInListOrder) {
    const std::vector<digi::Vertex> points{{5, 6, 7}, {-100, 40, -3}, {0, 0, 0}};
    const std::vector<std::byte> bytes = written(points, 1);
    ASSERT_EQ(bytes.size(), 216u);
    std::vector<std::byte> expected;
    for (const auto& p : points) {
        const auto element =
            error_element(p.x, p.y, p.z, {p.x, p.y, 0, p.x + 12, p.y + 2, 0, 2, 0, 0});
        expected.insert(expected.end(), element.begin(), element.end());
    }
    EXPECT_EQ(bytes, expected);
}

TEST(GrabamosErrores, CentimetreMarkerFramesTheTextUpAndRight) {
    const digi::Vertex point{1000, 2000, 35};
    EXPECT_EQ(written({&point, 1}, 100),
              error_element(1000, 2000, 35, {1000, 2000, 0, 1900, 2150, 0, 150, 0, 0}));
}

TEST(GrabamosErrores, MarkerHeightIsOneAndAHalfUnitsRoundedHalfToEven) {
    EXPECT_EQ(marker_height(unit_factor(Unit::metres)), 2);
    EXPECT_EQ(marker_height(unit_factor(Unit::centimetres)), 150);
    EXPECT_EQ(marker_height(unit_factor(Unit::millimetres)), 1500);
    EXPECT_EQ(marker_height(3), 4); // 4.5 goes to 4
    EXPECT_EQ(marker_height(5), 8); // 7.5 goes to 8
    const digi::Vertex point{-7, 3, 1};
    EXPECT_EQ(written({&point, 1}, 1000),
              error_element(-7, 3, 1, {-7, 3, 0, 8993, 1503, 0, 1500, 0, 0}));
}

TEST(GrabamosErrores, MarkerNearTheLargestCoordinateIsHeldToTheRange) {
    constexpr std::int32_t max = std::numeric_limits<std::int32_t>::max();
    constexpr std::int32_t min = std::numeric_limits<std::int32_t>::min();
    const std::vector<digi::Vertex> points{{max - 5, max - 1, max}, {min, min, min}};
    std::vector<std::byte> expected =
        error_element(max - 5, max - 1, max, {max - 5, max - 1, 0, max, max, 0, 1500, 0, 0});
    const auto second =
        error_element(min, min, min, {min, min, 0, min + 9000, min + 1500, 0, 1500, 0, 0});
    expected.insert(expected.end(), second.begin(), second.end());
    EXPECT_EQ(written(points, 1000), expected);
}

TEST(GrabamosErrores, ErrorFileReadsBackAsTextsAtThePoints) {
    const std::vector<digi::Vertex> points{{1, 2, 3}, {4, 5, 6}};
    const digi::ElementTables tables = digi::load_elements(written(points, 100), "x_err.bin");
    ASSERT_EQ(tables.texts.size(), 2u);
    EXPECT_TRUE(tables.lines.empty());
    for (std::size_t i = 0; i < points.size(); ++i) {
        EXPECT_EQ(tables.text(i).vertex(0), points[i]);
        EXPECT_EQ(tables.text(i).text_piece(1), error_text_piece);
    }
}

TEST(GrabamosErrores, NoPointsWriteNothing) {
    EXPECT_TRUE(written({}, 1000).empty());
}

} // namespace
} // namespace tarvel::run
