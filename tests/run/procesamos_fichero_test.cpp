#include "run/procesamos_fichero.hpp"

#include <algorithm>
#include <map>
#include <numeric>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "analysis/eliminamos_nodos.hpp"
#include "analysis/line_assembly.hpp"
#include "analysis/near_misses.hpp"
#include "analysis/node_table.hpp"
#include "common/errors.hpp"
#include "digi/loader.hpp"
#include "digi/writer.hpp"
#include "run/sheet_results.hpp"
#include "tests/run/sample_sheets.hpp"
#include "tests/run/temp_folder.hpp"
#include "tests/support/digi_builder.hpp"
#include "tests/support/generator.hpp"

namespace tarvel::run {
namespace {

using testing::bytes_of;
using testing::DigiBuilder;
using testing::error_file_bytes;
using testing::head_to_head_sheet;
using testing::read_bytes;
using testing::river_attributes;
using testing::TempFolder;
using testing::typical_joined_line;
using testing::typical_sheet;
using testing::write_bytes;

using Bytes = std::vector<std::byte>;

/// Every file of a folder with its bytes, to check that nothing changed.
std::map<std::string, Bytes> snapshot(const TempFolder& folder) {
    std::map<std::string, Bytes> files;
    for (const std::string& name : folder.names()) {
        files[name] = read_bytes((folder / name).string());
    }
    return files;
}

template <typename Error>
void expect_refused_leaving_everything(const TempFolder& folder, const RunSettings& settings) {
    const auto before = snapshot(folder);
    EXPECT_THROW((void)ProcesamosFichero(settings), Error);
    EXPECT_EQ(snapshot(folder), before);
}

TEST(ProcesamosFichero, TypicalSheetJoinsTwoLinesIntoOne) {
    TempFolder folder;
    write_bytes((folder / "hoja12.bin").string(), typical_sheet());
    RunSettings settings;
    settings.input = folder / "hoja12.bin";
    const RunSummary summary = ProcesamosFichero(settings);

    EXPECT_EQ(summary.output, folder / "hoja12_sal.bin");
    EXPECT_EQ(summary.error_file, folder / "hoja12_err.bin");
    EXPECT_EQ(read_bytes(summary.output.string()), typical_joined_line());
    // No codes file: no direction errors, so no error file.
    EXPECT_EQ(folder.names(), (std::set<std::string>{"hoja12.bin", "hoja12_sal.bin"}));
    EXPECT_EQ(summary.lines_read, 2);
    EXPECT_EQ(summary.texts_read, 0);
    EXPECT_EQ(summary.joins, 1);
    EXPECT_EQ(summary.lines_written, 1);
    EXPECT_EQ(summary.direction_errors, 0);
    EXPECT_EQ(summary.rings_passed_over, 0);
    EXPECT_EQ(summary.vertex_limit_nodes, 0);
}

TEST(ProcesamosFichero, NothingJoinedWritesAnEmptyOutputOverALongerOne) {
    TempFolder folder;
    write_bytes((folder / "hoja.bin").string(), DigiBuilder{}
                                                    .line("A", {{0, 0, 0}, {10, 0, 0}})
                                                    .line("B", {{10, 0, 0}, {20, 0, 0}})
                                                    .text("T", {1, 1, 1}, {"x"})
                                                    .bytes());
    write_bytes((folder / "hoja_sal.bin").string(), typical_joined_line());
    RunSettings settings;
    settings.input = folder / "hoja.bin";
    const RunSummary summary = ProcesamosFichero(settings);
    EXPECT_TRUE(read_bytes((folder / "hoja_sal.bin").string()).empty());
    EXPECT_EQ(summary.joins, 0);
    EXPECT_EQ(summary.lines_written, 0);
    EXPECT_EQ(summary.texts_read, 1);
}

TEST(ProcesamosFichero, AllElementsWritesLiveLinesThenJoinedLinesThenTexts) {
    TempFolder folder;
    DigiBuilder input;
    input.text("ROTULO", {5, 5, 0}, {"Rio", "Grande"});
    input.line("RIO0001", {{0, 0, 0}, {10, 0, 0}}, river_attributes());
    input.line("CAMINO", {{0, 5, 0}, {0, 9, 0}});
    input.element("Q=", "OTRO", 2);
    input.line("RIO0001", {{10, 0, 0}, {20, 0, 0}}, river_attributes());
    input.text("COTA", {1, 2, 3}, {});
    write_bytes((folder / "hoja.bin").string(), input.bytes());

    RunSettings settings;
    settings.input = folder / "hoja.bin";
    settings.all_elements = true;
    const RunSummary summary = ProcesamosFichero(settings);

    Bytes expected = DigiBuilder{}.line("CAMINO", {{0, 5, 0}, {0, 9, 0}}).bytes();
    const Bytes joined = typical_joined_line();
    expected.insert(expected.end(), joined.begin(), joined.end());
    const Bytes texts = DigiBuilder{}
                            .text("ROTULO", {5, 5, 0}, {"Rio", "Grande"})
                            .text("COTA", {1, 2, 3}, {})
                            .bytes();
    expected.insert(expected.end(), texts.begin(), texts.end());
    EXPECT_EQ(read_bytes(summary.output.string()), expected);
    EXPECT_EQ(summary.lines_read, 3);
    EXPECT_EQ(summary.texts_read, 2);
    EXPECT_EQ(summary.lines_written, 2);
}

TEST(ProcesamosFichero, DirectionErrorGoesToTheErrorFileNamedAfterTheInput) {
    TempFolder folder;
    std::filesystem::create_directory(folder / "salida");
    write_bytes((folder / "hoja12.bin").string(), head_to_head_sheet());
    write_bytes((folder / "codigos.CFG").string(), bytes_of("RIO0001,1\r\n"));
    RunSettings settings;
    settings.input = folder / "hoja12.bin";
    settings.output = folder / "salida" / "otra.bin";
    settings.codes = folder / "codigos.CFG";
    settings.unit = Unit::centimetres;
    const RunSummary summary = ProcesamosFichero(settings);

    EXPECT_EQ(summary.direction_errors, 1);
    EXPECT_EQ(summary.joins, 0);
    EXPECT_EQ(summary.error_file, folder / "hoja12_err.bin");
    EXPECT_TRUE(read_bytes((folder / "salida" / "otra.bin").string()).empty());
    EXPECT_EQ(read_bytes((folder / "hoja12_err.bin").string()),
              error_file_bytes({{10, 0, 35}}, Unit::centimetres));
    EXPECT_EQ(folder.names(),
              (std::set<std::string>{"codigos.CFG", "hoja12.bin", "hoja12_err.bin", "salida"}));
}

TEST(ProcesamosFichero, ErrorFileReplacesALongerOlderOne) {
    TempFolder folder;
    write_bytes((folder / "hoja.bin").string(), head_to_head_sheet());
    write_bytes((folder / "codigos.CFG").string(), bytes_of("RIO0001,1\n"));
    write_bytes((folder / "hoja_err.bin").string(),
                error_file_bytes({{1, 1, 1}, {2, 2, 2}, {3, 3, 3}}, Unit::metres));
    RunSettings settings;
    settings.input = folder / "hoja.bin";
    settings.codes = folder / "codigos.CFG";
    settings.unit = Unit::metres;
    (void)ProcesamosFichero(settings);
    EXPECT_EQ(read_bytes((folder / "hoja_err.bin").string()),
              error_file_bytes({{10, 0, 35}}, Unit::metres));
}

TEST(ProcesamosFichero, RunWithoutDirectionErrorsLeavesAnOlderErrorFile) {
    TempFolder folder;
    write_bytes((folder / "hoja.bin").string(), typical_sheet());
    const Bytes older = error_file_bytes({{1, 2, 3}}, Unit::metres);
    write_bytes((folder / "hoja_err.bin").string(), older);
    write_bytes((folder / "codigos.CFG").string(), bytes_of("RIO0001,1\n"));
    RunSettings settings;
    settings.input = folder / "hoja.bin";
    settings.codes = folder / "codigos.CFG";
    const RunSummary summary = ProcesamosFichero(settings);
    EXPECT_EQ(summary.direction_errors, 0);
    EXPECT_EQ(summary.joins, 1); // head to tail: joined
    EXPECT_EQ(read_bytes((folder / "hoja_err.bin").string()), older);
    // ... and says that it is an error file of an earlier run; without one there is none.
    EXPECT_TRUE(summary.older_error_file);
    std::filesystem::remove(folder / "hoja_err.bin");
    EXPECT_FALSE(ProcesamosFichero(settings).older_error_file);
}

TEST(ProcesamosFichero, EmptyCodesFileChecksNoDirection) {
    TempFolder folder;
    write_bytes((folder / "hoja.bin").string(), head_to_head_sheet());
    write_bytes((folder / "vacio.CFG").string(), {});
    RunSettings settings;
    settings.input = folder / "hoja.bin";
    settings.codes = folder / "vacio.CFG";
    const RunSummary summary = ProcesamosFichero(settings);
    EXPECT_EQ(summary.direction_errors, 0);
    EXPECT_EQ(summary.joins, 1);
    EXPECT_FALSE(std::filesystem::exists(folder / "hoja_err.bin"));
}

TEST(ProcesamosFichero, OutputThatIsTheInputIsRefused) {
    TempFolder folder;
    write_bytes((folder / "hoja.bin").string(), typical_sheet());
    RunSettings settings;
    settings.input = folder / "hoja.bin";
    settings.output = folder / "hoja.bin";
    expect_refused_leaving_everything<RunRefused>(folder, settings);
    // Another spelling of the same name, and a second link to the same file.
    settings.output = folder.path() / "." / "hoja.bin";
    expect_refused_leaving_everything<RunRefused>(folder, settings);
    std::filesystem::create_hard_link(folder / "hoja.bin", folder / "enlace.bin");
    settings.output = folder / "enlace.bin";
    expect_refused_leaving_everything<RunRefused>(folder, settings);
}

TEST(ProcesamosFichero, OutputThatIsTheCodesFileIsRefused) {
    TempFolder folder;
    write_bytes((folder / "hoja.bin").string(), typical_sheet());
    write_bytes((folder / "codigos.CFG").string(), bytes_of("RIO0001,1\n"));
    RunSettings settings;
    settings.input = folder / "hoja.bin";
    settings.codes = folder / "codigos.CFG";
    settings.output = folder / "codigos.CFG";
    try {
        (void)ProcesamosFichero(settings);
        FAIL() << "not refused";
    } catch (const RunRefused& e) {
        EXPECT_EQ(std::string(e.what()).rfind(settings.output.string() + ": ", 0), 0u) << e.what();
    }
    EXPECT_EQ(read_bytes((folder / "codigos.CFG").string()), bytes_of("RIO0001,1\n"));
    EXPECT_EQ(folder.names(), (std::set<std::string>{"codigos.CFG", "hoja.bin"}));
}

// The error file is only written with a codes file; without one its name is free to take.
TEST(ProcesamosFichero, OutputThatIsTheErrorFileIsRefusedOnlyWithACodesFile) {
    TempFolder folder;
    write_bytes((folder / "hoja.bin").string(), head_to_head_sheet());
    write_bytes((folder / "codigos.CFG").string(), bytes_of("RIO0001,1\n"));
    RunSettings settings;
    settings.input = folder / "hoja.bin";
    settings.output = folder / "hoja_err.bin";
    settings.codes = folder / "codigos.CFG";
    expect_refused_leaving_everything<RunRefused>(folder, settings);

    settings.codes.clear();
    const RunSummary summary = ProcesamosFichero(settings);
    EXPECT_EQ(summary.output, folder / "hoja_err.bin");
    EXPECT_FALSE(summary.older_error_file);
    EXPECT_EQ(folder.names(), (std::set<std::string>{"codigos.CFG", "hoja.bin", "hoja_err.bin"}));
}

TEST(ProcesamosFichero, FailedRunLeavesOlderFilesExactlyAsTheyWere) {
    TempFolder folder;
    // The second element announces more vertices than the file holds.
    DigiBuilder bad;
    bad.line("RIO0001", {{0, 0, 0}, {10, 0, 0}});
    const std::int64_t bad_position = bad.next_position();
    bad.line("RIO0001", {{10, 0, 0}, {20, 0, 0}});
    Bytes bytes = bad.bytes();
    bytes.resize(bytes.size() - 5);
    write_bytes((folder / "hoja.bin").string(), bytes);
    write_bytes((folder / "hoja_sal.bin").string(), typical_joined_line());
    write_bytes((folder / "hoja_err.bin").string(), error_file_bytes({{1, 2, 3}}, Unit::metres));
    write_bytes((folder / "codigos.CFG").string(), bytes_of("RIO0001,1\n"));
    RunSettings settings;
    settings.input = folder / "hoja.bin";
    settings.codes = folder / "codigos.CFG";

    const auto before = snapshot(folder);
    try {
        (void)ProcesamosFichero(settings);
        FAIL() << "no error";
    } catch (const FormatError& e) {
        EXPECT_EQ(e.file(), settings.input.string());
        EXPECT_EQ(e.byte_position(), bad_position);
    }
    EXPECT_EQ(snapshot(folder), before);
}

TEST(ProcesamosFichero, MissingCodesFileFailsBeforeAnythingIsWritten) {
    TempFolder folder;
    write_bytes((folder / "hoja.bin").string(), typical_sheet());
    write_bytes((folder / "hoja_sal.bin").string(), bytes_of("antiguo"));
    RunSettings settings;
    settings.input = folder / "hoja.bin";
    settings.codes = folder / "no_existe.CFG";
    expect_refused_leaving_everything<CodesFileError>(folder, settings);
}

TEST(ProcesamosFichero, MissingInputOrOutputFolderFailsWritingNothing) {
    TempFolder folder;
    RunSettings settings;
    settings.input = folder / "no_existe.bin";
    expect_refused_leaving_everything<FileError>(folder, settings);

    write_bytes((folder / "hoja.bin").string(), head_to_head_sheet());
    write_bytes((folder / "codigos.CFG").string(), bytes_of("RIO0001,1\n"));
    settings.input = folder / "hoja.bin";
    settings.codes = folder / "codigos.CFG";
    settings.output = folder / "no_existe" / "salida.bin";
    // The run has a direction error, yet no error file appears when the output cannot.
    expect_refused_leaving_everything<FileError>(folder, settings);
}

TEST(ProcesamosFichero, EmptyInputNameIsRefused) {
    EXPECT_THROW((void)ProcesamosFichero(RunSettings{}), RunRefused);
}

TEST(ProcesamosFichero, UnitFactorsAreFileUnitsPerMetre) {
    EXPECT_EQ(unit_factor(Unit::metres), 1);
    EXPECT_EQ(unit_factor(Unit::centimetres), 100);
    EXPECT_EQ(unit_factor(Unit::millimetres), 1000);
}

} // namespace
} // namespace tarvel::run

namespace tarvel::run {
namespace {

// An output folder takes the output and error file under the names they would have beside
// the input, writes nothing beside it, and refuses as beside it what would overwrite a file
// the run reads.
TEST(ProcesamosFichero, OutputFolderTakesTheDerivedNamesAndKeepsTheRefusals) {
    TempFolder sheets;
    TempFolder beside;
    for (const TempFolder* folder : {&sheets, &beside}) {
        write_bytes((*folder / "hoja.v2.bin").string(), head_to_head_sheet());
        write_bytes((*folder / "codigos.CFG").string(), bytes_of("RIO0001,1\n"));
    }
    RunSettings settings;
    settings.input = beside / "hoja.v2.bin";
    settings.codes = beside / "codigos.CFG";
    (void)ProcesamosFichero(settings);

    TempFolder out;
    settings.input = sheets / "hoja.v2.bin";
    settings.codes = sheets / "codigos.CFG";
    settings.output_folder = out.path();
    const auto sheets_before = snapshot(sheets);
    const RunSummary summary = ProcesamosFichero(settings);
    EXPECT_EQ(summary.output, out / "hoja_sal.v2.bin");
    EXPECT_EQ(summary.error_file, out / "hoja_err.v2.bin");
    EXPECT_EQ(snapshot(sheets), sheets_before);
    EXPECT_EQ(out.names(), (std::set<std::string>{"hoja_err.v2.bin", "hoja_sal.v2.bin"}));
    for (const char* name : {"hoja_sal.v2.bin", "hoja_err.v2.bin"}) {
        EXPECT_EQ(read_bytes((out / name).string()), read_bytes((beside / name).string())) << name;
    }

    struct Refusal {
        const char* case_name;
        const char* link_in_out; // a symbolic link of this name in the output folder...
        const char* links_to;    // ...to this file of the sheets' folder
        bool codes_in_out;       // the codes file read from the output folder's error name
    };
    for (const Refusal& r :
         {Refusal{"output is the input", "hoja_sal.v2.bin", "hoja.v2.bin", false},
          Refusal{"output is the codes file", "hoja_sal.v2.bin", "codigos.CFG", false},
          Refusal{"error file is the codes file", nullptr, nullptr, true}}) {
        TempFolder refused_out;
        RunSettings refused = settings;
        refused.output_folder = refused_out.path();
        if (r.link_in_out != nullptr) {
            std::filesystem::create_symlink(sheets / r.links_to, refused_out / r.link_in_out);
        }
        if (r.codes_in_out) {
            write_bytes((refused_out / "hoja_err.v2.bin").string(), bytes_of("RIO0001,1\n"));
            refused.codes = refused_out / "hoja_err.v2.bin";
        }
        const auto out_before = refused_out.names();
        EXPECT_THROW((void)ProcesamosFichero(refused), RunRefused) << r.case_name;
        EXPECT_EQ(snapshot(sheets), sheets_before) << r.case_name;
        EXPECT_EQ(refused_out.names(), out_before) << r.case_name;
    }
}

/// Writes a sheet of the generator at `path`, a `shuffled` percentage of its chains' pieces
/// out of order.
void write_generated_sheet(const std::filesystem::path& path, std::uint64_t seed,
                           std::int64_t lines, int shuffled) {
    digi::MemorySink sheet;
    testing::LargeSheetOptions options;
    options.lines = lines;
    options.shuffle_chain_percent = shuffled;
    (void)testing::write_large_sheet(seed, options, sheet);
    write_bytes(path.string(), sheet.bytes());
}

// On a sheet large enough for the near misses to be sought on a thread beside the node loop,
// they are exactly those that the plain search finds on the node table as built.
TEST(ProcesamosFichero, NearMissesSoughtBesideTheNodeLoopAreThoseOfTheTableAsBuilt) {
    TempFolder folder;
    const auto input = folder / "hoja.bin";
    write_generated_sheet(input, 3, 60'000, 30);

    RunSettings settings;
    settings.input = input;
    settings.tolerance = 2.0;
    const auto results = analyse_sheet(settings);

    const digi::ElementTables tables = digi::CargamosFichero(input);
    const analysis::NodeTable nodes = analysis::CreamosNodos(tables);
    ASSERT_GE(nodes.node_count(), 1 << 16) << "too small to be sought beside the loop";
    const auto expected =
        analysis::find_near_misses(tables, nodes, tolerance_in_file_units(settings));
    ASSERT_GE(expected.size(), 10U);
    EXPECT_EQ(results->findings().near_misses, expected);
    // The pairs are those a plain sweep along X over every node finds: on a table this large
    // the search gives back the rows it has read while it goes.
    const double tolerance = tolerance_in_file_units(settings);
    std::vector<std::int32_t> by_x(static_cast<std::size_t>(nodes.node_count()));
    std::iota(by_x.begin(), by_x.end(), 0);
    std::sort(by_x.begin(), by_x.end(),
              [&](std::int32_t a, std::int32_t b) { return nodes.x(a) < nodes.x(b); });
    std::vector<analysis::NodePair> swept;
    for (std::size_t i = 0; i < by_x.size(); ++i) {
        for (std::size_t j = i + 1;
             j < by_x.size() && nodes.x(by_x[j]) - nodes.x(by_x[i]) <= tolerance; ++j) {
            const std::int32_t a = std::min(by_x[i], by_x[j]);
            const std::int32_t b = std::max(by_x[i], by_x[j]);
            const double dx = nodes.x(a) - nodes.x(b);
            const double dy = nodes.y(a) - nodes.y(b);
            if ((nodes.loose_end(a) || nodes.loose_end(b)) &&
                dx * dx + dy * dy <= tolerance * tolerance) {
                swept.push_back({a, b});
            }
        }
    }
    std::sort(swept.begin(), swept.end());
    EXPECT_EQ(analysis::find_near_pairs(nodes, tolerance), swept);
    // A place's lines are those with an end there (lines with two different ends), in table
    // order, as a scan of every line finds them: node numbers here pass 4096, so nodes that
    // share their low bits with a place's are met and passed over.
    for (std::size_t m = 0; m < std::min<std::size_t>(expected.size(), 20); ++m) {
        for (const analysis::NearPlace& place : expected[m].places) {
            std::vector<std::int32_t> ending;
            for (std::size_t k = 0; k < tables.lines.size(); ++k) {
                const digi::ElementView line = tables.line(k);
                if (line.item_count() < 2) {
                    continue;
                }
                const digi::Vertex first = line.vertex(0);
                const digi::Vertex last = line.vertex(line.item_count() - 1);
                if (first.x == last.x && first.y == last.y) {
                    continue;
                }
                for (const digi::Vertex& end : {first, last}) {
                    if (end.x == place.point.x && end.y == place.point.y) {
                        ending.push_back(static_cast<std::int32_t>(k));
                    }
                }
            }
            EXPECT_EQ(place.lines, ending) << "near miss " << m;
        }
    }
}

TEST(ProcesamosFichero, LinesWrittenBesideTheLoopAndOnTwoThreadsGiveTheSameOutput) {
    // A sheet large enough for a thread beside the node loop and for its joined lines to be
    // made on two threads, its chains' pieces spread out, so that lines wait for nodes far
    // ahead of them before they are known to stay.
    TempFolder folder;
    const auto input = folder / "hoja.bin";
    write_generated_sheet(input, 5, 100'000, 60);

    digi::ElementTables tables = digi::CargamosFichero(input);
    analysis::NodeTable nodes = analysis::CreamosNodos(tables);
    ASSERT_GE(nodes.node_count(), 1 << 16) << "too small for a thread beside the loop";
    const analysis::AnalysisResult result = analysis::EliminamosNodos(tables, nodes, nullptr);
    ASSERT_GE(result.joined.size(), 1 << 16) << "too few joined lines for two threads";
    // The expected output takes every line on this thread, one after another.
    const digi::LineSource joined = analysis::joined_line_source(tables, result.joined);
    digi::MemorySink expected;
    digi::EscribimosSalida(
        expected, tables, true,
        digi::LineSource{1, [&](std::size_t, std::size_t, const digi::RunLineVisitor& visit) {
                             joined(visit);
                         }});

    RunSettings settings;
    settings.input = input;
    settings.all_elements = true;
    // The progress of writing is told from the thread that runs the sheet, never backwards.
    std::vector<std::int64_t> written;
    bool other_thread = false;
    settings.progress = [&, runner = std::this_thread::get_id()](Stage stage, std::int64_t done,
                                                                 std::int64_t total) {
        other_thread = other_thread || std::this_thread::get_id() != runner;
        if (stage == Stage::writing) {
            EXPECT_EQ(total, result.joined.live_count());
            written.push_back(done);
        }
    };
    (void)ProcesamosFichero(settings);
    EXPECT_EQ(read_bytes((folder / "hoja_sal.bin").string()), expected.bytes());
    EXPECT_FALSE(other_thread);
    ASSERT_FALSE(written.empty());
    EXPECT_TRUE(std::is_sorted(written.begin(), written.end()));
    EXPECT_LE(written.back(), result.joined.live_count());
}

} // namespace
} // namespace tarvel::run
