#include "cli/app.hpp"

#include <sstream>

#include <gtest/gtest.h>

#include "tests/run/sample_sheets.hpp"
#include "tests/run/temp_folder.hpp"

namespace tarvel::cli {
namespace {

using testing::bytes_of;
using testing::DigiBuilder;
using testing::TempFolder;
using testing::write_bytes;

struct Ran {
    int code = -1;
    std::string out;
    std::string err;
};

Ran run(const std::vector<std::string>& args, bool progress = false) {
    std::ostringstream out;
    std::ostringstream err;
    Ran ran;
    ran.code = run_cli(args, out, err, progress);
    ran.out = out.str();
    ran.err = err.str();
    return ran;
}

/// "ha", "hb", ...: the name of sheet i of a batch folder, without extension.
std::string sheet_name(int i) {
    std::string name = "h";
    name += static_cast<char>('a' + i);
    return name;
}

/// A folder of sheets whose summary lines differ, so their order shows.
void fill_batch_folder(const TempFolder& folder, int sheets) {
    for (int i = 0; i < sheets; ++i) {
        DigiBuilder b;
        for (int j = 0; j <= i; ++j) {
            b.line("L", {{j * 10, 0, 0}, {j * 10 + 10, 0, 0}});
        }
        write_bytes((folder / (sheet_name(i) + ".bin")).string(), b.bytes());
    }
}

std::string batch_stdout(const TempFolder& folder, int sheets) {
    std::string expected;
    for (int i = 0; i < sheets; ++i) {
        const std::string name = (folder / sheet_name(i)).string();
        expected += name + ".bin -> " + name + "_sal.bin: líneas leídas " + std::to_string(i + 1) +
                    ", textos 0, uniones " + std::to_string(i) + ", líneas escritas " +
                    (i == 0 ? "0" : "1") +
                    ", errores de sentido 0, anillos omitidos 0, nodos omitidos por límite de "
                    "vértices 0, uniones con cota distinta 0, extremos casi unidos " +
                    // Nodes 10 mm apart: each loose end is within 100 mm of every other node
                    // (up to ten sheets).
                    std::to_string(2 * i + 1) + "\n";
    }
    return expected + "PROCESO Terminado Correctamente.\n";
}

TEST(RunCli, SummaryLinesComeInListOrderWhateverTheJobs) {
    for (const char* jobs : {"1", "3", "8"}) {
        TempFolder folder;
        fill_batch_folder(folder, 8);
        const Ran ran = run({"-j", jobs, folder.path().string()});
        EXPECT_EQ(ran.code, 0) << ran.err;
        EXPECT_EQ(ran.out, batch_stdout(folder, 8)) << jobs;
        EXPECT_TRUE(ran.err.empty()) << ran.err;
    }
}

TEST(RunCli, ProgressLineOnlyWhenAskedForABatchOrOneSheetsSteps) {
    TempFolder folder;
    fill_batch_folder(folder, 3);
    const Ran shown = run({"-j", "1", folder.path().string()}, true);
    EXPECT_EQ(shown.out, batch_stdout(folder, 3));
    EXPECT_EQ(shown.err, "Procesados 0 de 3 ficheros"
                         "\r\033[KProcesados 1 de 3 ficheros"
                         "\r\033[KProcesados 2 de 3 ficheros"
                         "\r\033[K");
    // One file shows the steps of its run instead; quiet shows nothing but errors.
    EXPECT_EQ(run({(folder / "ha.bin").string()}, true).err,
              "\r\033[Kha.bin: leyendo 0%\r\033[Kha.bin: nodos 0%\r\033[Kha.bin: uniones 0%"
              "\r\033[Kha.bin: escribiendo 0%\r\033[K");
    const Ran quiet = run({"-q", folder.path().string()}, true);
    EXPECT_TRUE(quiet.err.empty());
    EXPECT_TRUE(quiet.out.empty());
    EXPECT_EQ(quiet.code, 0);
}

TEST(RunCli, FolderWithoutSheetsSaysSoAndSucceeds) {
    TempFolder folder;
    write_bytes((folder / "nota.txt").string(), bytes_of("x"));
    const Ran ran = run({folder.path().string()});
    EXPECT_EQ(ran.code, 0);
    EXPECT_EQ(ran.err, folder.path().string() + ": no hay ficheros *.bin en la carpeta\n");
    EXPECT_EQ(ran.out, "PROCESO Terminado Correctamente.\n");
}

TEST(RunCli, OutputWithAFolderIsAUsageError) {
    TempFolder folder;
    fill_batch_folder(folder, 2);
    const Ran ran = run({"-o", (folder / "x.bin").string(), folder.path().string()});
    EXPECT_EQ(ran.code, 2);
    EXPECT_EQ(ran.err.rfind("tarvel: error de uso: ", 0), 0u) << ran.err;
    EXPECT_EQ(folder.names(), (std::set<std::string>{"ha.bin", "hb.bin"}));
}

TEST(RunCli, FilesAndFoldersMixInTheOrderGiven) {
    TempFolder folder;
    fill_batch_folder(folder, 2);
    TempFolder other;
    write_bytes((other / "z.bin").string(), testing::typical_sheet());
    const Ran ran = run({(other / "z.bin").string(), folder.path().string()});
    EXPECT_EQ(ran.code, 0) << ran.err;
    const std::string z = (other / "z").string();
    EXPECT_EQ(ran.out, z + ".bin -> " + z +
                           "_sal.bin: líneas leídas 2, textos 0, uniones 1, líneas escritas 1, "
                           "errores de sentido 0, anillos omitidos 0, nodos omitidos por límite "
                           "de vértices 0, uniones con cota distinta 0, extremos casi unidos 3\n" +
                           batch_stdout(folder, 2));
}

} // namespace
} // namespace tarvel::cli
