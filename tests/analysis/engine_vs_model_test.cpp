// Property test: the real per-file run against the literal model, on hundreds of generated
// sheets. Each sheet is run on temporary files with one of the settings (codes file or none,
// every element or joined lines only, each unit, a near-miss tolerance); the output file and
// the error file must match the model byte for byte, the summary counts must agree, and so
// must everything the run keeps about the sheet: the loaded lines each output line is made
// of, the nodes passed over, the Z differences and the near misses. Each suite aims the
// generator at one feature and checks that the feature really came up.
#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <array>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <limits>
#include <sstream>
#include <string>
#include <vector>

#include "analysis/findings.hpp"
#include "digi/writer.hpp"
#include "run/procesamos_fichero.hpp"
#include "run/sheet_results.hpp"
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
    std::int64_t z_differences = 0;
    std::int64_t near_misses = 0;
    std::int64_t off_grid_near_misses = 0; ///< closer than the grid step: an end off its place
    std::int64_t reversed_pieces = 0;      ///< loaded lines that run against their output line
    std::int64_t with_codes = 0;
    std::int64_t all_elements = 0;
    std::int64_t mismatches = 0;

    [[nodiscard]] std::string summary() const {
        std::ostringstream s;
        s << sheets << " sheets, " << lines << " lines, " << joins << " joins, " << error_points
          << " direction errors, " << rings << " rings passed over, " << limit_nodes
          << " vertex-limit nodes, " << z_differences << " Z differences, " << near_misses
          << " near misses (" << off_grid_near_misses << " off the grid), " << reversed_pieces
          << " pieces reversed, " << with_codes << " with codes, " << all_elements
          << " with every element";
        return s.str();
    }
};

/// The settings a sheet is run with, drawn from its seed so every combination comes up.
struct Settings {
    bool codes = false;
    bool all_elements = false;
    run::Unit unit = run::Unit::millimetres;
    double tolerance = 0; ///< metres
};

Settings settings_for(std::uint64_t seed, bool always_codes) {
    Settings s;
    s.codes = always_codes || seed % 3 != 0;
    s.all_elements = (seed / 3) % 2 == 1;
    static constexpr std::array units{run::Unit::metres, run::Unit::centimetres,
                                      run::Unit::millimetres};
    s.unit = units[(seed / 6) % units.size()];
    // None; a few file units, below the sheets' grid step; past it; the window's default,
    // which is below one unit in metres and spans a sheet in millimetres; and the largest
    // the command line takes, past any two places (and past any number in file units).
    const double factor = run::unit_factor(s.unit);
    const std::array tolerances{0.0, 3.0 / factor, 12.0 / factor, run::default_tolerance,
                                std::numeric_limits<double>::max()};
    s.tolerance = tolerances[(seed / 18) % tolerances.size()];
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

// The engine's findings in the model's terms: a loaded line by its element number and byte.

model::Point point_of(const digi::Vertex& v) {
    return model::Point{v.x, v.y, v.z};
}

model::Findings findings_of(const run::SheetResults& details) {
    const auto ref = [&](std::int32_t line) {
        const run::ElementRef e = details.element(line);
        return model::LineRef{e.number, e.byte};
    };
    const auto node = [&](const analysis::NodeFinding& f) {
        return model::NodeFinding{point_of(f.point), {ref(f.lines[0]), ref(f.lines[1])}};
    };
    const auto place = [&](const analysis::NearPlace& p) {
        model::NearPlace out{point_of(p.point), {}};
        for (const std::int32_t line : p.lines) {
            out.lines.push_back(ref(line));
        }
        return out;
    };
    model::Findings f;
    details.for_each_output_line([&](const run::OutputLine& line) {
        std::vector<model::Piece> pieces;
        for (const analysis::Piece& piece : line.pieces) {
            pieces.push_back(model::Piece{ref(piece.line), piece.reversed});
        }
        f.provenance.push_back(std::move(pieces));
    });
    const analysis::Findings& found = details.findings();
    for (const analysis::NodeFinding& e : found.direction_errors) {
        f.direction_errors.push_back(node(e));
    }
    for (const analysis::NodeFinding& r : found.rings) {
        f.rings.push_back(node(r));
    }
    for (const analysis::VertexLimitFinding& v : found.vertex_limit) {
        f.vertex_limit.push_back(model::VertexLimitFinding{node(v.node), v.vertex_count});
    }
    for (const analysis::ZDifference& z : found.z_differences) {
        f.z_differences.push_back(
            model::ZDifference{z.x, z.y, z.z, {ref(z.lines[0]), ref(z.lines[1])}});
    }
    for (const analysis::NearMiss& m : found.near_misses) {
        f.near_misses.push_back(
            model::NearMiss{{place(m.places[0]), place(m.places[1])}, m.distance});
    }
    return f;
}

// Findings as text, for the messages of a mismatch. The lists are declared first so that
// every element type is known where a list prints its elements.

template <typename T, std::size_t N>
std::ostream& operator<<(std::ostream& out, const std::array<T, N>& items);
template <typename T> std::ostream& operator<<(std::ostream& out, const std::vector<T>& items);

std::ostream& operator<<(std::ostream& out, const model::LineRef& line) {
    return out << "element " << line.element << " (byte " << line.byte << ")";
}
std::ostream& operator<<(std::ostream& out, const model::Piece& piece) {
    return out << piece.line << (piece.reversed ? " reversed" : "");
}
std::ostream& operator<<(std::ostream& out, const model::Point& p) {
    return out << '(' << p.x << ", " << p.y << ", " << p.z << ')';
}
std::ostream& operator<<(std::ostream& out, const model::NodeFinding& f) {
    return out << f.point << " of " << f.lines;
}
std::ostream& operator<<(std::ostream& out, const model::VertexLimitFinding& f) {
    return out << f.node << ", " << f.vertex_count << " vertices";
}
std::ostream& operator<<(std::ostream& out, const model::ZDifference& f) {
    return out << '(' << f.x << ", " << f.y << ") Z " << f.z[0] << " and " << f.z[1] << " of "
               << f.lines;
}
std::ostream& operator<<(std::ostream& out, const model::NearPlace& p) {
    return out << p.point << " of " << p.lines;
}
std::ostream& operator<<(std::ostream& out, const model::NearMiss& m) {
    return out << m.places << " at " << m.distance;
}

template <typename T, std::size_t N>
std::ostream& operator<<(std::ostream& out, const std::array<T, N>& items) {
    for (std::size_t i = 0; i < N; ++i) {
        out << (i > 0 ? " and " : "") << items[i];
    }
    return out;
}
template <typename T> std::ostream& operator<<(std::ostream& out, const std::vector<T>& items) {
    out << '[';
    for (std::size_t i = 0; i < items.size(); ++i) {
        out << (i > 0 ? ", " : "") << items[i];
    }
    return out << ']';
}

/// "" when both lists are equal, otherwise where and how they first differ.
template <typename T>
std::string list_difference(const std::string& what, const std::vector<T>& engine,
                            const std::vector<T>& model) {
    std::size_t i = 0;
    while (i < engine.size() && i < model.size() && engine[i] == model[i]) {
        ++i;
    }
    if (i == engine.size() && i == model.size()) {
        return {};
    }
    std::ostringstream s;
    s << what << ": engine " << engine.size() << ", model " << model.size()
      << "; first difference at " << i + 1 << ": engine ";
    if (i < engine.size()) {
        s << engine[i];
    } else {
        s << "none";
    }
    s << ", model ";
    if (i < model.size()) {
        s << model[i];
    } else {
        s << "none";
    }
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
        run_settings.tolerance = settings.tolerance;
        run_settings.keep_details = true;
        if (settings.codes) {
            run_settings.codes = m_dir / ("sentido" + std::to_string(seed) + ".CFG");
            std::ofstream(run_settings.codes, std::ios::binary)
                << testing::codes_file_content(direction_codes);
        }

        const model::Result expected =
            model::run(bytes, settings.codes ? &direction_codes : nullptr,
                       run::unit_factor(settings.unit), settings.all_elements, settings.tolerance);

        std::ostringstream where;
        where << "seed " << seed << (settings.codes ? ", codes file" : ", no codes file")
              << (settings.all_elements ? ", every element" : ", joined lines only")
              << ", unit factor " << run::unit_factor(settings.unit) << ", tolerance "
              << settings.tolerance << " m";
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
        compare_findings(summary, expected.findings, mismatch);

        ++tally.sheets;
        tally.lines += c.lines_read;
        tally.joins += c.joins;
        tally.error_points += c.error_points;
        tally.rings += c.rings_passed_over;
        tally.limit_nodes += c.vertex_limit_nodes;
        tally.z_differences += static_cast<std::int64_t>(expected.findings.z_differences.size());
        tally.near_misses += static_cast<std::int64_t>(expected.findings.near_misses.size());
        for (const model::NearMiss& m : expected.findings.near_misses) {
            tally.off_grid_near_misses += m.distance < SmallSheetOptions{}.grid_step ? 1 : 0;
        }
        for (const auto& line : expected.findings.provenance) {
            tally.reversed_pieces += std::count_if(
                line.begin(), line.end(), [](const model::Piece& p) { return p.reversed; });
        }
        tally.with_codes += settings.codes ? 1 : 0;
        tally.all_elements += settings.all_elements ? 1 : 0;
    }

private:
    template <typename Mismatch>
    static void compare_findings(const run::RunSummary& summary, const model::Findings& expected,
                                 Mismatch& mismatch) {
        if (summary.z_differences != static_cast<std::int64_t>(expected.z_differences.size()) ||
            summary.near_misses != static_cast<std::int64_t>(expected.near_misses.size())) {
            std::ostringstream s;
            s << "summary counts Z differences " << summary.z_differences << " and near misses "
              << summary.near_misses << ", model " << expected.z_differences.size() << " and "
              << expected.near_misses.size();
            mismatch(s.str());
        }
        if (!summary.details) {
            mismatch("the run kept no details");
            return;
        }
        const model::Findings got = findings_of(*summary.details);
        for (const std::string& difference :
             {list_difference("output lines by their pieces", got.provenance, expected.provenance),
              list_difference("direction errors", got.direction_errors, expected.direction_errors),
              list_difference("rings", got.rings, expected.rings),
              list_difference("vertex-limit nodes", got.vertex_limit, expected.vertex_limit),
              list_difference("Z differences", got.z_differences, expected.z_differences),
              list_difference("near misses", got.near_misses, expected.near_misses)}) {
            if (!difference.empty()) {
                mismatch(difference);
            }
        }
    }

    fs::path m_dir;
};

TEST_F(EngineVsModel, MixedSheetsWithEverySetting) {
    const Tally t = check_seeds(1, 400, SmallSheetOptions{});
    EXPECT_GT(t.joins, 400);
    EXPECT_GT(t.error_points, 20);
    EXPECT_GT(t.rings, 10);
    EXPECT_GT(t.z_differences, 20);
    EXPECT_GT(t.near_misses, 20);
    EXPECT_GT(t.reversed_pieces, 100);
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

TEST_F(EngineVsModel, RepeatedVerticesZDifferingAtJoiningPointsAndEndsThatAlmostMeet) {
    // An end a few units off its place lies within some tolerances and past others, a loose
    // end beside the ends that do meet there. Places far apart in Y leave many more rows of
    // the tolerance's height than places, which the search sorts instead of counting out.
    for (const int grid_step : {10, 2000}) {
        SCOPED_TRACE(grid_step);
        SmallSheetOptions o;
        o.grid_step = grid_step;
        o.repeat_vertex_percent = 50;
        o.z_differs_percent = 50;
        o.near_miss_percent = 15;
        const Tally t = check_seeds(grid_step == 10 ? 5000 : 5500, 180, o);
        EXPECT_GT(t.joins, 180);
        EXPECT_GT(t.z_differences, 60);
        EXPECT_GT(t.off_grid_near_misses, 100);
    }
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
        Settings settings = settings_for(seed, false);
        settings.tolerance = run::default_tolerance; // as the window opens
        check_sheet(seed, sheet.bytes(), testing::large_sheet_direction_codes(), settings, tally);
    }
    report(tally);
    EXPECT_GT(tally.joins, 6 * 1000);
    EXPECT_GT(tally.error_points, 0);
}

} // namespace
} // namespace tarvel
