#include "cli/app.hpp"

#include <map>
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

Ran run(const std::vector<std::string>& args, bool terminal = false, const std::string& in = {}) {
    std::istringstream input(in);
    std::ostringstream out;
    std::ostringstream err;
    Ran ran;
    ran.code = run_cli(args, input, out, err, terminal);
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
    const std::string progress = "Procesados 0 de 3 ficheros"
                                 "\r\033[KProcesados 1 de 3 ficheros"
                                 "\r\033[KProcesados 2 de 3 ficheros"
                                 "\r\033[K";
    // On a terminal unless --no-progress; anywhere with --progress.
    struct Case {
        std::vector<std::string> options;
        bool terminal;
        bool shown;
    };
    for (const Case& c :
         {Case{{}, true, true}, Case{{}, false, false}, Case{{"--progress"}, false, true},
          Case{{"--no-progress"}, true, false}}) {
        std::vector<std::string> args = c.options;
        args.insert(args.end(), {"-j", "1", folder.path().string()});
        const Ran ran = run(args, c.terminal);
        EXPECT_EQ(ran.out, batch_stdout(folder, 3));
        EXPECT_EQ(ran.err, c.shown ? progress : "") << args.front() << c.terminal;
    }
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

namespace tarvel::cli {
namespace {

/// Every file of a folder and its subfolders with its bytes.
std::map<std::string, std::vector<std::byte>> tree(const TempFolder& folder) {
    std::map<std::string, std::vector<std::byte>> files;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(folder.path())) {
        if (entry.is_regular_file()) {
            files[std::filesystem::relative(entry.path(), folder.path()).string()] =
                testing::read_bytes(entry.path().string());
        }
    }
    return files;
}

// The sheets of a folder that is only read: every output in the output folder, under the name
// it has beside its sheet and with the same bytes; an earlier output beside a sheet is no
// sheet of the batch there either.
TEST(RunCli, OutputFolderTakesEveryOutputAndLeavesTheSheetsAlone) {
    TempFolder beside;
    fill_batch_folder(beside, 3);
    ASSERT_EQ(run({beside.path().string()}).code, 0);

    TempFolder sheets;
    fill_batch_folder(sheets, 3);
    write_bytes((sheets / "hb_sal.bin").string(), testing::typical_sheet());
    const auto before = tree(sheets);
    TempFolder out;
    const Ran ran = run({"--output-dir", out.path().string(), "-j", "2", sheets.path().string()});
    EXPECT_EQ(ran.code, 0) << ran.err;
    EXPECT_EQ(tree(sheets), before);
    EXPECT_EQ(out.names(), (std::set<std::string>{"ha_sal.bin", "hb_sal.bin", "hc_sal.bin"}));
    for (const std::string& name : out.names()) {
        EXPECT_EQ(testing::read_bytes((out / name).string()),
                  testing::read_bytes((beside / name).string()))
            << name;
    }
    EXPECT_EQ(ran.out.rfind(
                  (sheets / "ha.bin").string() + " -> " + (out / "ha_sal.bin").string() + ": ", 0),
              0u)
        << ran.out;
}

TEST(RunCli, OutputFolderThatCannotTakeTheOutputsFailsBeforeAnySheet) {
    TempFolder sheets;
    fill_batch_folder(sheets, 2);
    write_bytes((sheets / "nota.txt").string(), bytes_of("x"));
    struct Case {
        std::vector<std::string> args;
        std::string err_start;
    };
    const std::string missing = (sheets / "no_existe").string();
    const std::string file = (sheets / "nota.txt").string();
    for (const Case& c :
         {Case{{"--output-dir", missing}, "tarvel: " + missing + ": no se puede usar como carpeta"},
          Case{{"--output-dir", file}, "tarvel: " + file + ": no es una carpeta"},
          Case{{"--output-dir", sheets.path().string(), "--report",
                (sheets / "ha_sal.bin").string()},
               "tarvel: " + (sheets / "ha_sal.bin").string() + ": el informe sería la salida"}}) {
        const auto before = tree(sheets);
        std::vector<std::string> args = c.args;
        args.push_back(sheets.path().string());
        const Ran ran = run(args);
        EXPECT_EQ(ran.code, 1) << c.err_start;
        EXPECT_EQ(ran.err.rfind(c.err_start, 0), 0u) << ran.err;
        EXPECT_EQ(tree(sheets), before) << c.err_start;
    }
}

// A list names sheets and folders as the command line would, in its order, from a file or
// from standard input, one a line (CRLF too, empty lines skipped) or ended by 0 bytes.
TEST(RunCli, ListOfFilesIsABatchInItsOrder) {
    TempFolder folder;
    fill_batch_folder(folder, 2);
    TempFolder other;
    fill_batch_folder(other, 3);
    std::filesystem::remove(other / "ha.bin");
    std::filesystem::remove(other / "hb.bin");
    const std::string hb = (folder / "hb.bin").string();
    const std::string others = other.path().string();
    const std::string ha = (folder / "ha.bin").string();
    // As if given on the command line, in the list's order (not sorted).
    const Ran given = run({hb, others, ha});
    ASSERT_EQ(given.code, 0) << given.err;
    ASSERT_LT(given.out.find("hb.bin ->"), given.out.find("hc.bin ->"));
    ASSERT_LT(given.out.find("hc.bin ->"), given.out.find("ha.bin ->"));
    write_bytes((other / "lista.txt").string(),
                bytes_of(hb + "\r\n\n" + others + "\r\n" + ha + "\n\n"));
    struct Case {
        std::vector<std::string> args;
        std::string in;
    };
    for (const Case& c :
         {Case{{"--files-from", (other / "lista.txt").string()}, ""},
          Case{{"--files-from", "-"}, hb + "\n" + others + "\n" + ha},
          Case{{"--files-from", "-", "--null"}, hb + '\0' + others + '\0' + '\0' + ha + '\0'}}) {
        const Ran ran = run(c.args, false, c.in);
        EXPECT_EQ(ran.code, 0) << ran.err;
        EXPECT_EQ(ran.out, given.out) << c.args.back();
    }
}

TEST(RunCli, ListThatCannotBeReadIsAFailureNamingIt) {
    TempFolder folder;
    fill_batch_folder(folder, 1);
    for (const std::string& list : {(folder / "no_existe.txt").string(), folder.path().string()}) {
        const Ran ran = run({"--files-from", list});
        EXPECT_EQ(ran.code, 1);
        EXPECT_EQ(ran.err.rfind("tarvel: " + list + ": no se puede ", 0), 0u) << ran.err;
        EXPECT_NE(ran.err.find("(lista de ficheros)"), std::string::npos) << ran.err;
        EXPECT_EQ(ran.out, "");
    }
}

} // namespace
} // namespace tarvel::cli
