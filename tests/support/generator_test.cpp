#include "tests/support/generator.hpp"

#include <gtest/gtest.h>

#include <set>

#include "digi/loader.hpp"
#include "tests/model/model.hpp"
#include "tests/support/digi_builder.hpp"

namespace tarvel::testing {
namespace {

TEST(Generator, TheSameSeedGivesTheSameSheetAndOtherSeedsOtherSheets) {
    SmallSheetOptions dense;
    dense.grid = 3;
    for (const auto& options : {SmallSheetOptions{}, dense}) {
        std::vector<std::vector<std::byte>> seen;
        for (std::uint64_t seed = 1; seed <= 50; ++seed) {
            const SmallSheet a = generate_small_sheet(seed, options);
            const SmallSheet b = generate_small_sheet(seed, options);
            EXPECT_EQ(a.bytes, b.bytes) << "seed " << seed;
            EXPECT_EQ(a.direction_codes, b.direction_codes) << "seed " << seed;
            for (const auto& earlier : seen) {
                EXPECT_NE(a.bytes, earlier) << "seed " << seed;
            }
            seen.push_back(a.bytes);
        }
    }
}

TEST(Generator, EverySmallSheetLoadsWithTheCountsItAnnounces) {
    std::set<std::int32_t> vertex_counts;
    std::set<std::int32_t> text_items;
    std::int64_t other_elements = 0;
    for (std::uint64_t seed = 1; seed <= 300; ++seed) {
        SmallSheetOptions options;
        options.long_chain_per_mille = 30;
        const SmallSheet sheet = generate_small_sheet(seed, options);
        const digi::ElementTables t = digi::load_elements(sheet.bytes, "hoja.bin");
        ASSERT_EQ(static_cast<std::int32_t>(t.lines.size()), sheet.lines) << "seed " << seed;
        ASSERT_EQ(static_cast<std::int32_t>(t.texts.size()), sheet.texts) << "seed " << seed;
        EXPECT_GE(sheet.lines, options.min_lines);
        for (std::size_t i = 0; i < t.lines.size(); ++i) {
            vertex_counts.insert(t.line(i).item_count());
        }
        for (std::size_t i = 0; i < t.texts.size(); ++i) {
            text_items.insert(t.text(i).item_count());
        }
        other_elements += sheet.other_elements;
        for (const auto& c : sheet.direction_codes) {
            EXPECT_FALSE(c.empty());
            EXPECT_EQ(c.find_first_of(",\" "), std::string::npos);
        }
    }
    // The shapes the property tests rely on do come up.
    EXPECT_TRUE(vertex_counts.count(0) && vertex_counts.count(1));
    EXPECT_TRUE(vertex_counts.count(16384));
    EXPECT_EQ(text_items, (std::set<std::int32_t>{1, 2, 3, 4}));
    EXPECT_GT(other_elements, 0);
}

TEST(Generator, LargeSheetsHoldExactlyTheRequestedLinesAndAreDeterministic) {
    for (const std::int64_t lines : {1, 7, 20000}) {
        LargeSheetOptions options;
        options.lines = lines;
        digi::MemorySink a;
        const LargeSheetStats stats = write_large_sheet(11, options, a);
        const digi::ElementTables t = digi::load_elements(a.bytes(), "grande.bin");
        EXPECT_EQ(static_cast<std::int64_t>(t.lines.size()), lines);
        EXPECT_EQ(stats.lines, lines);
        EXPECT_EQ(static_cast<std::int64_t>(t.texts.size()), stats.texts);
        EXPECT_EQ(stats.bytes, static_cast<std::int64_t>(a.bytes().size()));
        digi::MemorySink b;
        (void)write_large_sheet(11, options, b);
        EXPECT_EQ(a.bytes(), b.bytes());
    }
}

TEST(Generator, CodesFileListsOneCodePerLine) {
    EXPECT_EQ(codes_file_content({"RIO", "ARROYO"}), "RIO,1\nARROYO,1\n");
    EXPECT_EQ(codes_file_content({}), "");
    EXPECT_EQ(large_sheet_direction_codes(), (std::vector<std::string>{"RIO0001", "ARROYO"}));
}

TEST(Generator, TheSampleSheetIsTheOneItsReadmeCommandMakes) {
    // examples/README.md: tarvel-generate --kind large --seed 7 --lines 300
    LargeSheetOptions options;
    options.lines = 300;
    digi::MemorySink sheet;
    (void)write_large_sheet(7, options, sheet);
    EXPECT_EQ(read_bytes(TARVEL_EXAMPLES_DIR "/hoja_ejemplo.bin"), sheet.bytes());
    const auto codes = read_bytes(TARVEL_EXAMPLES_DIR "/sentido.CFG");
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(codes.data()), codes.size()),
              codes_file_content(large_sheet_direction_codes()));

    // It shows what the tool does: joins, and direction errors with its codes file.
    const auto direction_codes = large_sheet_direction_codes();
    const model::Result r = model::run(sheet.bytes(), &direction_codes, 1000, false);
    EXPECT_GT(r.counts.joins, 50);
    EXPECT_GT(r.counts.error_points, 0);
    EXPECT_GT(r.counts.texts_read, 0);
}

} // namespace
} // namespace tarvel::testing
