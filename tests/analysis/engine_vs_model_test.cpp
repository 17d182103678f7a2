// Property test: the real per-file run against the literal model, on hundreds of generated
// sheets. Each sheet is run on temporary files with one of the settings (codes file or none,
// every element or joined lines only, each unit); the output file and the error file must
// match the model byte for byte and the summary counts must agree. Each suite aims the
// generator at one feature and checks that the feature really came up.
#include <gtest/gtest.h>

#include <unistd.h>

#include <array>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "digi/writer.hpp"
#include "run/procesamos_fichero.hpp"
#include "tests/model/model.hpp"
#include "tests/support/digi_builder.hpp"
#include "tests/support/generator.hpp"

namespace tarvel {
namespace {

namespace fs = std::filesystem;
using testing::CoordinateRange;
using testing::Shape;
using testing::SmallSheetOptions;

/// What the sheets of one suite gave: enough to tell that the suite exercised its feature.
struct Tally {
    std::int64_t sheets = 0;
    std::int64_t lines = 0;
    std::int64_t joins = 0;
    std::int64_t error_points = 0;
    std::int64_t rings = 0;
    std::int64_t limit_nodes = 0;
    std::int64_t with_codes = 0;
    std::int64_t all_elements = 0;
    std::int64_t mismatches = 0;

    [[nodiscard]] std::string summary() const {
        std::ostringstream s;
        s << sheets << " sheets, " << lines << " lines, " << joins << " joins, " << error_points
          << " direction errors, " << rings << " rings passed over, " << limit_nodes
          << " vertex-limit nodes, " << with_codes << " with codes, " << all_elements
          << " with every element";
        return s.str();
    }
};

/// The settings a sheet is run with, drawn from its seed so every combination comes up.
struct Settings {
    bool codes = false;
    bool all_elements = false;
    run::Unit unit = run::Unit::millimetres;
};

Settings settings_for(std::uint64_t seed, bool always_codes) {
    Settings s;
    s.codes = always_codes || seed % 3 != 0;
    s.all_elements = (seed / 3) % 2 == 1;
    static constexpr std::array units{run::Unit::metres, run::Unit::centimetres,
                                      run::Unit::millimetres};
    s.unit = units[(seed / 6) % units.size()];
    return s;
}

std::string first_difference(const std::vector<std::byte>& engine,
                             const std::vector<std::byte>& model) {
    std::size_t i = 0;
    while (i < engine.size() && i < model.size() && engine[i] == model[i]) {
        ++i;
    }
    std::ostringstream s;
    s << "engine " << engine.size() << " bytes, model " << model.size()
      << " bytes, first difference at byte " << i + 1;
    return s.str();
}

class EngineVsModel : public ::testing::Test {
protected:
    void SetUp() override {
        std::string pattern = (fs::temp_directory_path() / "tarvel-evm-XXXXXX").string();
        ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
        m_dir = pattern;
    }
    void TearDown() override {
        std::error_code ignored;
        fs::remove_all(m_dir, ignored);
    }

    /// Generates the sheets of seeds [first, first + count) and checks each.
    Tally check_seeds(std::uint64_t first, int count, const SmallSheetOptions& options,
                      bool always_codes = false) {
        Tally tally;
        for (std::uint64_t seed = first; seed < first + static_cast<std::uint64_t>(count); ++seed) {
            const testing::SmallSheet sheet = testing::generate_small_sheet(seed, options);
            check_sheet(seed, sheet.bytes, sheet.direction_codes, settings_for(seed, always_codes),
                        tally);
        }
        report(tally);
        return tally;
    }

    /// Shows what the sheets covered and fails on any mismatch.
    void report(const Tally& tally) {
        RecordProperty("coverage", tally.summary());
        std::cout << "[ coverage ] " << tally.summary() << '\n';
        EXPECT_EQ(tally.mismatches, 0) << tally.summary();
    }

    /// Runs the engine and the model on one sheet; `seed` names its files and messages.
    void check_sheet(std::uint64_t seed, const std::vector<std::byte>& bytes,
                     const std::vector<std::string>& direction_codes, const Settings& settings,
                     Tally& tally) {
        const std::string stem = "hoja" + std::to_string(seed);
        const fs::path input = m_dir / (stem + ".bin");
        testing::write_bytes(input.string(), bytes);

        run::RunSettings run_settings;
        run_settings.input = input;
        run_settings.unit = settings.unit;
        run_settings.all_elements = settings.all_elements;
        if (settings.codes) {
            run_settings.codes = m_dir / ("sentido" + std::to_string(seed) + ".CFG");
            std::ofstream(run_settings.codes, std::ios::binary)
                << testing::codes_file_content(direction_codes);
        }

        const model::Result expected =
            model::run(bytes, settings.codes ? &direction_codes : nullptr,
                       run::unit_factor(settings.unit), settings.all_elements);

        std::ostringstream where;
        where << "seed " << seed << (settings.codes ? ", codes file" : ", no codes file")
              << (settings.all_elements ? ", every element" : ", joined lines only")
              << ", unit factor " << run::unit_factor(settings.unit);
        const auto mismatch = [&](const std::string& what) {
            if (++tally.mismatches <= 5) {
                ADD_FAILURE() << where.str() << ": " << what;
            }
        };

        run::RunSummary summary;
        try {
            summary = run::ProcesamosFichero(run_settings);
        } catch (const std::exception& e) {
            mismatch(std::string("the run failed: ") + e.what());
            return;
        }

        const auto output = testing::read_bytes(summary.output.string());
        if (output != expected.output) {
            mismatch("output file differs: " + first_difference(output, expected.output));
        }
        const fs::path error_file = m_dir / (stem + "_err.bin");
        if (expected.errors.empty()) {
            if (fs::exists(error_file)) {
                mismatch("an error file was written without direction errors");
            }
        } else if (!fs::exists(error_file)) {
            mismatch("no error file was written");
        } else {
            const auto errors = testing::read_bytes(error_file.string());
            if (errors != expected.errors) {
                mismatch("error file differs: " + first_difference(errors, expected.errors));
            }
        }
        const model::Counts& c = expected.counts;
        const model::Counts got{
            summary.lines_read,       summary.texts_read,        summary.joins,
            summary.direction_errors, summary.rings_passed_over, summary.vertex_limit_nodes,
            summary.lines_written};
        if (got != c) {
            std::ostringstream s;
            s << "counts differ (read, texts, joins, errors, rings, limit, written): engine "
              << got.lines_read << ' ' << got.texts_read << ' ' << got.joins << ' '
              << got.error_points << ' ' << got.rings_passed_over << ' ' << got.vertex_limit_nodes
              << ' ' << got.lines_written << ", model " << c.lines_read << ' ' << c.texts_read
              << ' ' << c.joins << ' ' << c.error_points << ' ' << c.rings_passed_over << ' '
              << c.vertex_limit_nodes << ' ' << c.lines_written;
            mismatch(s.str());
        }

        ++tally.sheets;
        tally.lines += c.lines_read;
        tally.joins += c.joins;
        tally.error_points += c.error_points;
        tally.rings += c.rings_passed_over;
        tally.limit_nodes += c.vertex_limit_nodes;
        tally.with_codes += settings.codes ? 1 : 0;
        tally.all_elements += settings.all_elements ? 1 : 0;
    }

private:
    fs::path m_dir;
};

TEST_F(EngineVsModel, MixedSheetsWithEverySetting) {
    const Tally t = check_seeds(1, 400, SmallSheetOptions{});
    EXPECT_GT(t.joins, 400);
    EXPECT_GT(t.error_points, 20);
    EXPECT_GT(t.rings, 10);
}

TEST_F(EngineVsModel, LongChainsInEveryOrientation) {
    SmallSheetOptions o;
    o.shapes = {Shape::chain};
    o.max_chain_pieces = 12;
    o.min_lines = 10;
    o.max_lines = 40;
    o.head_to_tail_chain_percent = 50;
    o.code_variant_percent = 0;
    o.attribute_variant_percent = 0;
    const Tally t = check_seeds(1000, 60, o);
    EXPECT_GT(t.joins, 60 * 5);
}

TEST_F(EngineVsModel, RingsOfTwoAndThreeLinesAndClosedLines) {
    SmallSheetOptions o;
    o.shapes = {Shape::ring, Shape::ring, Shape::closed};
    o.code_variant_percent = 0;
    o.attribute_variant_percent = 0;
    const Tally t = check_seeds(2000, 60, o);
    EXPECT_GT(t.rings, 60);
}

TEST_F(EngineVsModel, JunctionsBesideJoinableNodes) {
    SmallSheetOptions o;
    o.shapes = {Shape::junction, Shape::chain};
    const Tally t = check_seeds(3000, 50, o);
    EXPECT_GT(t.joins, 50);
}

TEST_F(EngineVsModel, DirectionErrorsAndHeadToTailJoins) {
    SmallSheetOptions o;
    o.shapes = {Shape::chain, Shape::chain, Shape::ring, Shape::junction};
    o.direction_code_percent = 100;
    o.head_to_tail_chain_percent = 40;
    const Tally t = check_seeds(4000, 80, o, true);
    EXPECT_GT(t.error_points, 80);
    EXPECT_GT(t.joins, 80);
}

TEST_F(EngineVsModel, RepeatedVerticesAndZDifferingAtJoiningPoints) {
    SmallSheetOptions o;
    o.repeat_vertex_percent = 50;
    o.z_differs_percent = 50;
    const Tally t = check_seeds(5000, 60, o);
    EXPECT_GT(t.joins, 60);
}

TEST_F(EngineVsModel, CoordinatesAtTheEdgesOfTheRange) {
    for (const auto range : {CoordinateRange::negative, CoordinateRange::near_max,
                             CoordinateRange::near_min, CoordinateRange::around_zero}) {
        SmallSheetOptions o;
        o.range = range;
        o.direction_code_percent = 80;
        const Tally t = check_seeds(6000 + 100 * static_cast<std::uint64_t>(range), 25, o);
        EXPECT_GT(t.joins, 0);
        EXPECT_GT(t.error_points, 0);
    }
}

TEST_F(EngineVsModel, DenseSheetsWhereShapesMeetByChance) {
    SmallSheetOptions o;
    o.grid = 5;
    o.min_lines = 10;
    o.max_lines = 25;
    const Tally t = check_seeds(7000, 60, o);
    EXPECT_GT(t.joins, 60);
}

TEST_F(EngineVsModel, JoinsAtAndPastTheVertexLimit) {
    SmallSheetOptions o;
    o.shapes = {Shape::long_chain};
    o.min_lines = 1;
    o.max_lines = 1;
    o.repeat_vertex_percent = 0;
    o.z_differs_percent = 0;
    const Tally t = check_seeds(8000, 12, o);
    EXPECT_GT(t.limit_nodes, 0);
    EXPECT_GT(t.joins, 0);
}

TEST_F(EngineVsModel, RealisticSheetsWithEverySetting) {
    // Larger sheets of chains and branches, as the benchmarks use; a few thousand lines keep
    // the model's linear scans quick.
    testing::LargeSheetOptions options;
    options.lines = 2000;
    options.reverse_percent = 5;
    Tally tally;
    for (std::uint64_t seed = 1; seed <= 6; ++seed) {
        digi::MemorySink sheet;
        (void)testing::write_large_sheet(seed, options, sheet);
        check_sheet(seed, sheet.bytes(), testing::large_sheet_direction_codes(),
                    settings_for(seed, false), tally);
    }
    report(tally);
    EXPECT_GT(tally.joins, 6 * 1000);
    EXPECT_GT(tally.error_points, 0);
}

} // namespace
} // namespace tarvel
