#include "run/report.hpp"

#include <fstream>
#include <stop_token>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "common/errors.hpp"
#include "run/job.hpp"
#include "tests/run/sample_sheets.hpp"
#include "tests/run/temp_folder.hpp"
#include "tests/support/digi_builder.hpp"

namespace tarvel::run {
namespace {

using nlohmann::json;
using testing::bytes_of;
using testing::DigiBuilder;
using testing::read_bytes;
using testing::TempFolder;
using testing::write_bytes;

json read_json(const std::filesystem::path& path) {
    std::ifstream in(path);
    return json::parse(in);
}

/// A text element of `pieces` 12-byte pieces: it shifts the lines after it by a known length.
std::size_t text_length(std::size_t pieces) {
    return 48 + 12 * (1 + pieces);
}

// One batch of three sheets in centimetres with a codes file: a text then two lines that join,
// a sheet that cannot be read, and two lines that meet head to head with a Z difference
// elsewhere. Every number the report gives is the run's, in metres, with the input elements
// named by number and byte.
TEST(Report, EverySheetInListOrderWithItsCountsFindingsAndSourcesInMetres) {
    TempFolder folder;
    write_bytes((folder / "a.bin").string(), DigiBuilder{}
                                                 .text("T", {0, 0, 0}, {"x"})
                                                 .line("CAM", {{0, 0, 0}, {100, 0, 0}})
                                                 .line("CAM", {{200, 0, 5}, {100, 0, 7}})
                                                 .bytes());
    write_bytes((folder / "b.bin").string(), bytes_of("C=roto"));
    write_bytes((folder / "c.bin").string(), testing::head_to_head_sheet());
    write_bytes((folder / "sentido.CFG").string(), bytes_of("RIO0001,1\n"));

    JobSettings settings;
    settings.common.codes = folder / "sentido.CFG";
    settings.common.unit = Unit::centimetres;
    settings.common.tolerance = 0;
    settings.common.output_folder = folder / "salidas";
    std::filesystem::create_directory(settings.common.output_folder);
    settings.report = folder / "informe.json";
    const JobOutcome done =
        run_job(settings, {folder / "a.bin", folder / "b.bin", folder / "c.bin"});
    ASSERT_TRUE(done.failures.empty()) << done.failures.front();

    const json report = read_json(settings.report);
    EXPECT_EQ(report["programa"], "tarvel");
    EXPECT_EQ(report["ajustes"]["unidad"], "cm");
    EXPECT_EQ(report["ajustes"]["factor_unidad"], 100);
    EXPECT_EQ(report["ajustes"]["carpeta_salida"], (folder / "salidas").string());
    EXPECT_EQ(report["resumen"], (json{{"ficheros", 3}, {"correctos", 2}, {"fallidos", 1}}));
    const json& files = report["ficheros"];
    ASSERT_EQ(files.size(), 3u);
    for (std::size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(files[i]["entrada"], done.files[i].input.string());
    }

    // The joined line of a.bin: its pieces are elements 2 and 3 (the text is element 1), the
    // second running against it; the joint differs in Z (0 m against 0.07 m).
    const json& a = files[0];
    EXPECT_EQ(a["estado"], "correcto");
    EXPECT_EQ(a["recuentos"]["uniones"], 1);
    EXPECT_EQ(a["recuentos"]["uniones_cota_distinta"], 1);
    const std::int64_t second_byte = static_cast<std::int64_t>(text_length(1) + 72 + 1);
    EXPECT_EQ(a["lineas"], json::parse(R"([{"codigo": "CAM", "vertices": 4, "piezas": [
        {"elemento": 2, "byte": )" + std::to_string(text_length(1) + 1) +
                                       R"(, "invertida": false},
        {"elemento": 3, "byte": )" + std::to_string(second_byte) +
                                       R"(, "invertida": true}]}])"));
    ASSERT_EQ(a["uniones_cota_distinta"].size(), 1u);
    EXPECT_EQ(a["uniones_cota_distinta"][0]["x"], 1.0);
    EXPECT_EQ(a["uniones_cota_distinta"][0]["z"], (json{0.0, 0.07}));
    EXPECT_EQ(a["uniones_cota_distinta"][0]["lineas"][1]["elemento"], 3);

    EXPECT_EQ(files[1]["estado"], "fallido");
    EXPECT_EQ(files[1]["mensaje"], done.files[1].error);
    EXPECT_FALSE(files[1].contains("recuentos"));

    // c.bin: the head-to-head node, marked at the first line's end with its Z, in metres.
    const json& c = files[2];
    EXPECT_EQ(c["salida"], (folder / "salidas" / "c_sal.bin").string());
    EXPECT_EQ(c["fichero_errores"], (folder / "salidas" / "c_err.bin").string());
    ASSERT_EQ(c["errores_sentido"].size(), 1u);
    EXPECT_EQ(c["errores_sentido"][0]["codigo"], "RIO0001");
    EXPECT_EQ(c["errores_sentido"][0]["x"], 0.1);
    EXPECT_EQ(c["errores_sentido"][0]["z"], 0.35);
    EXPECT_EQ(c["errores_sentido"][0]["lineas"],
              (json{{{"elemento", 1}, {"byte", 1}}, {{"elemento", 2}, {"byte", 73}}}));
    EXPECT_TRUE(c["lineas"].empty());
}

// The report is refused before any sheet is read when it would take the place of a file the
// run reads or writes; it is written whole or not at all, so a cancelled run keeps an older one.
TEST(Report, RefusedInThePlaceOfAnotherFileAndNeverLeftHalfWritten) {
    TempFolder folder;
    write_bytes((folder / "hoja.bin").string(), testing::typical_sheet());
    write_bytes((folder / "sentido.CFG").string(), bytes_of("RIO0001,1\n"));
    write_bytes((folder / "informe.json").string(), bytes_of("anterior"));
    const std::vector<std::filesystem::path> inputs{folder / "hoja.bin"};
    const std::set<std::string> before = folder.names();

    JobSettings settings;
    settings.common.codes = folder / "sentido.CFG";
    for (const std::filesystem::path& taken : {folder / "hoja.bin", folder / "hoja_sal.bin",
                                               folder / "hoja_err.bin", folder / "sentido.CFG"}) {
        settings.report = taken;
        EXPECT_THROW((void)run_job(settings, inputs), RunRefused) << taken;
        EXPECT_EQ(folder.names(), before) << taken;
    }
    settings.report = folder / "informe.json";
    settings.gis_export = folder / "informe.json";
    EXPECT_THROW((void)run_job(settings, inputs), RunRefused);
    settings.gis_export.clear();
    settings.report = folder / "no_existe" / "informe.json";
    EXPECT_THROW((void)run_job(settings, inputs), FileError);
    EXPECT_EQ(folder.names(), before);

    std::stop_source stop;
    stop.request_stop();
    settings.report = folder / "informe.json";
    settings.common.stop = stop.get_token();
    EXPECT_TRUE(run_job(settings, inputs).cancelled);
    EXPECT_EQ(read_bytes((folder / "informe.json").string()), bytes_of("anterior"));
    EXPECT_EQ(folder.names(), before);

    // A stop asked for once the last sheet is done cancels nothing: the report is written.
    std::stop_source late;
    settings.common.stop = late.get_token();
    EXPECT_FALSE(run_job(settings, inputs, [&](std::size_t, const FileOutcome&) {
                     late.request_stop();
                 }).cancelled);
    EXPECT_NE(read_bytes((folder / "informe.json").string()), bytes_of("anterior"));
}

} // namespace
} // namespace tarvel::run
