#include "digi/loader.hpp"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <vector>

#include "common/errors.hpp"
#include "tests/run/temp_folder.hpp"
#include "tests/support/digi_builder.hpp"

namespace tarvel::digi {
namespace {

using testing::attribute;
using testing::DigiBuilder;

std::vector<std::byte> stray(std::size_t n) {
    return std::vector<std::byte>(n, std::byte{0x41});
}

TEST(CargamosFichero, LoadsLinesAndTextsInFileOrderAndStepsOverOtherTypes) {
    DigiBuilder b;
    b.line("RIO0001", {{0, 0, 0}, {10, 0, 0}}, {attribute(1, 2, "abc")});
    const auto second = b.next_position();
    b.element("CX", "OTRO", 3, 1);
    b.text("TXT", {5, 5, 0}, {"Hola", "mundo"});
    const auto fourth = b.next_position();
    b.element("P=", "PUNTO", 1);
    b.line("RIO0002", {{1, 1, 1}});
    b.text("TXT", {7, 7, 7}, {});
    const ElementTables t = load_elements(b.bytes(), "hoja.bin");

    ASSERT_EQ(t.lines.size(), 2u);
    ASSERT_EQ(t.texts.size(), 2u);
    EXPECT_EQ(t.lines[0].file_position(), 1);
    EXPECT_EQ(second, 1 + 84); // 48 + 12 x (2 vertices + 1 attribute)
    EXPECT_EQ(t.texts[0].file_position, second + 48 + 12 * 4);
    EXPECT_EQ(t.lines[1].file_position(), fourth + 60);
    EXPECT_FALSE(t.lines[0].absorbed());

    const ElementView l0 = t.line(0);
    EXPECT_EQ(l0.item_count(), 2);
    EXPECT_EQ(l0.vertex(1), (Vertex{10, 0, 0}));
    EXPECT_EQ(l0.attribute(0), attribute(1, 2, "abc"));
    const ElementView t0 = t.text(0);
    EXPECT_EQ(t0.vertex(0), (Vertex{5, 5, 0}));
    EXPECT_EQ(std::string(t0.text_piece(2).data(), 12), "mundo       ");
    EXPECT_EQ(t.text(1).item_count(), 1);
    EXPECT_EQ(t.line(1).attribute_count(), 0);
}

TEST(CargamosFichero, EmptyAndOneByteFilesHoldNoElements) {
    EXPECT_TRUE(load_elements(std::vector<std::byte>{}, "a.bin").lines.empty());
    const ElementTables t = load_elements(stray(1), "a.bin");
    EXPECT_TRUE(t.lines.empty());
    EXPECT_TRUE(t.texts.empty());
}

TEST(CargamosFichero, OneStrayByteAfterTheLastElementIsIgnored) {
    DigiBuilder b;
    b.line("A", {{0, 0, 0}, {1, 1, 1}});
    b.raw(stray(1));
    EXPECT_EQ(load_elements(b.bytes(), "a.bin").lines.size(), 1u);
}

void expect_format_error(const std::vector<std::byte>& bytes, std::int64_t position,
                         const std::string& detail_part) {
    try {
        (void)load_elements(bytes, "dir/hoja12.bin");
        FAIL() << "no error for an element at byte " << position;
    } catch (const FormatError& e) {
        EXPECT_EQ(e.file(), "dir/hoja12.bin");
        EXPECT_EQ(e.byte_position(), position);
        const std::string what = e.what();
        EXPECT_EQ(what.rfind("dir/hoja12.bin: byte " + std::to_string(position) + ": ", 0), 0u)
            << what;
        EXPECT_NE(what.find(detail_part), std::string::npos) << what;
    }
}

TEST(CargamosFichero, BadElementsFailWithFileAndBytePosition) {
    DigiBuilder good;
    good.line("A", {{0, 0, 0}, {1, 1, 1}});
    const auto at = good.next_position();

    { // two stray bytes: a header cut short
        DigiBuilder b = good;
        b.raw(stray(2));
        expect_format_error(b.bytes(), at, "cabecera");
    }
    { // a line whose body runs past the end
        DigiBuilder b = good;
        b.line("B", {{0, 0, 0}, {1, 1, 1}, {2, 2, 2}});
        auto bytes = b.bytes();
        bytes.resize(bytes.size() - 5);
        expect_format_error(bytes, at, "termina en el byte " + std::to_string(bytes.size()));
    }
    { // a negative item count, in a loaded element and in one stepped over
        for (const char* type : {"C=", "ZZ", "CQ", "T="}) {
            DigiBuilder b = good;
            b.element(type, "X", 0);
            auto bytes = b.bytes();
            bytes[static_cast<std::size_t>(at - 1) + 10] = std::byte{0xFF};
            bytes[static_cast<std::size_t>(at - 1) + 11] = std::byte{0xFF};
            expect_format_error(bytes, at, "negativo (-1)");
        }
    }
    { // a text without its anchor
        DigiBuilder b = good;
        b.element("T=", "X", 0);
        expect_format_error(b.bytes(), at, "anclaje");
    }
}

/// Keeps what a watch is told, checking each record told against the bytes it points into.
struct RecordingWatch final : LineWatch {
    std::span<const std::byte> bytes;
    std::size_t expected = 0;
    std::vector<LineRecord> told; ///< copies of the records told, in order
    std::vector<std::size_t> counts;
    std::size_t let_go_at = SIZE_MAX; ///< lines told when first let go
    const LineRecord* records = nullptr;

    bool reads = true;

    bool starting(std::span<const std::byte> b, std::size_t expected_lines) override {
        bytes = b;
        expected = expected_lines;
        return reads;
    }
    void found(const LineRecord* r, std::size_t count) noexcept override {
        EXPECT_EQ(let_go_at, SIZE_MAX) << "told of lines after it was let go";
        // The records stay put and grow at the end.
        EXPECT_TRUE(records == nullptr || records == r);
        records = r;
        told.assign(r, r + count);
        counts.push_back(count);
    }
    void let_go() noexcept override {
        EXPECT_EQ(let_go_at, SIZE_MAX) << "let go twice";
        let_go_at = told.size();
    }
};

TEST(CargamosFichero, WatchIsToldOfEveryLineFoundAndLetsGoBeforeTheTableMoves) {
    // Lines of 2 vertices (72 bytes, the shortest with two ends): the table has room for all
    // of them. Lines without vertices (48 bytes) outgrow it after about 6,700, and the watch
    // is let go before, after the 4,096 it was told of.
    struct Case {
        int vertices;
        std::vector<std::size_t> counts;
        std::size_t let_go_at;
    };
    for (const Case& c : {Case{2, {4096, 8192, 10'000}, SIZE_MAX}, Case{0, {4096}, 4096}}) {
        SCOPED_TRACE(c.vertices);
        DigiBuilder b;
        for (int k = 0; k < 10'000; ++k) {
            b.line("L", std::vector<Vertex>(static_cast<std::size_t>(c.vertices), Vertex{k, k, 0}));
            if (k % 1000 == 0) {
                b.text("TXT", {k, k, 0}, {"x"});
            }
        }
        RecordingWatch watch;
        const ElementTables t = load_elements(FileBytes(b.bytes()), "h.bin", {}, &watch);
        EXPECT_EQ(watch.bytes.data(), t.bytes.span().data());
        EXPECT_EQ(watch.expected, t.bytes.size() / 128);
        EXPECT_EQ(watch.counts, c.counts);
        EXPECT_EQ(watch.let_go_at, c.let_go_at);
        ASSERT_EQ(watch.told.size(), c.counts.back());
        for (std::size_t k = 0; k < watch.told.size(); ++k) {
            ASSERT_EQ(watch.told[k].file_position(), t.lines[k].file_position());
            ASSERT_EQ(watch.told[k].length(), t.lines[k].length());
        }
    }
    { // a bad element: let go before the tables go with the failure
        DigiBuilder b;
        for (int k = 0; k < 5000; ++k) {
            b.line("L", {{k, 0, 0}, {k, 1, 0}});
        }
        b.raw(stray(3));
        RecordingWatch watch;
        EXPECT_THROW((void)load_elements(FileBytes(b.bytes()), "h.bin", {}, &watch), FormatError);
        EXPECT_EQ(watch.let_go_at, 4096u);
    }
    { // a watch that does not read the records is told nothing more, and the table gets the
      // room of a load without one (a batch of small sheets maps no larger tables)
        DigiBuilder b;
        for (int k = 0; k < 5000; ++k) {
            b.line("L", {{k, 0, 0}, {k, 1, 0}});
        }
        RecordingWatch watch;
        watch.reads = false;
        const ElementTables t = load_elements(FileBytes(b.bytes()), "h.bin", {}, &watch);
        EXPECT_TRUE(watch.counts.empty());
        EXPECT_EQ(watch.let_go_at, SIZE_MAX);
        EXPECT_EQ(t.lines.capacity(), load_elements(b.bytes(), "h.bin").lines.capacity());
    }
}

TEST(CargamosFichero, ItemCountsUpTo32767AreRead) {
    std::vector<Vertex> vertices;
    for (std::int32_t i = 0; i < 32767; ++i) {
        vertices.push_back({i, -i, i % 7});
    }
    DigiBuilder b;
    b.line("LARGO", vertices);
    b.text("T", {1, 2, 3}, {"x"});
    const ElementTables t = load_elements(b.bytes(), "a.bin");
    ASSERT_EQ(t.lines.size(), 1u);
    EXPECT_EQ(t.line(0).item_count(), 32767);
    EXPECT_EQ(t.line(0).vertex(32766), (Vertex{32766, -32766, 32766 % 7}));
    EXPECT_EQ(t.texts.size(), 1u);
}

TEST(CargamosFichero, MissingFileAndFolderFailNamingThem) {
    EXPECT_THROW((void)CargamosFichero("/nonexistent/hoja.bin"), FileError);
    try {
        (void)CargamosFichero("/tmp");
        FAIL();
    } catch (const FileError& e) {
        EXPECT_EQ(std::string(e.what()).rfind("/tmp: ", 0), 0u);
    }
}

// A large sheet is mapped, not copied. Cut short or rewritten by another program while mapped,
// it reads zeros past its new end instead of ending the process, and says it has changed.
TEST(CargamosFichero, MappedSheetChangedWhileReadIsNoticedAndNeverCrashes) {
    testing::TempFolder folder;
    DigiBuilder b;
    const auto lines = static_cast<std::int32_t>(map_from_bytes / 84 + 1);
    for (std::int32_t i = 0; i < lines; ++i) {
        b.line("RIO0001", {{i, 0, 0}, {i + 1, 0, 0}, {i + 1, 5, 0}});
    }
    const std::vector<std::byte> bytes = b.bytes();
    ASSERT_GE(static_cast<std::int64_t>(bytes.size()), map_from_bytes);
    for (const bool cut_short : {true, false}) {
        const std::filesystem::path path = folder / "grande.bin";
        testing::write_bytes(path.string(), bytes);
        const ElementTables t = CargamosFichero(path);
        EXPECT_FALSE(t.bytes.file_changed());
        ASSERT_EQ(t.lines.size(), static_cast<std::size_t>(lines));
        const Vertex last = t.line(t.lines.size() - 1).vertex(2);
        if (cut_short) {
            std::filesystem::resize_file(path, 100);
            EXPECT_EQ(t.line(t.lines.size() - 1).vertex(2), (Vertex{0, 0, 0}));
        } else {
            // Rewritten in place with the same size: only its time tells.
            std::filesystem::last_write_time(path, std::filesystem::last_write_time(path) +
                                                       std::chrono::seconds(1));
            EXPECT_EQ(t.line(t.lines.size() - 1).vertex(2), last);
        }
        EXPECT_TRUE(t.bytes.file_changed()) << cut_short;
    }
}

} // namespace
} // namespace tarvel::digi
