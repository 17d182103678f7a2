// The real `tarvel` program run on temporary copies, its files compared byte for byte.
#include <clocale>
#include <fstream>
#include <map>
#include <sstream>

#include <sys/wait.h>

#include <gtest/gtest.h>

#include "tests/run/sample_sheets.hpp"
#include "tests/run/temp_folder.hpp"

namespace tarvel::cli {
namespace {

using testing::bytes_of;
using testing::read_bytes;
using testing::TempFolder;
using testing::write_bytes;

using Bytes = std::vector<std::byte>;

struct Ran {
    int code = -1;
    std::string out;
    std::string err;
};

std::string quoted(const std::string& text) {
    std::string result = "'";
    for (const char c : text) {
        result += c == '\'' ? std::string("'\\''") : std::string(1, c);
    }
    return result + "'";
}

std::string file_text(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

/// Runs the program in `folder` with `args`, and `environment` ("NAME=value ...") when given;
/// its output is caught outside that folder.
Ran tarvel(const TempFolder& folder, const std::vector<std::string>& args,
           const std::string& environment = {}) {
    TempFolder logs;
    std::string command = "cd " + quoted(folder.path().string()) + " && " + environment + " " +
                          quoted(TARVEL_CLI_PATH);
    for (const std::string& arg : args) {
        command += ' ';
        command += quoted(arg);
    }
    command += " >" + quoted((logs / "out").string()) + " 2>" + quoted((logs / "err").string()) +
               " </dev/null";
    const int status = std::system(command.c_str());
    Ran ran;
    ran.code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    ran.out = file_text(logs / "out");
    ran.err = file_text(logs / "err");
    return ran;
}

std::map<std::string, Bytes> snapshot(const TempFolder& folder) {
    std::map<std::string, Bytes> files;
    for (const std::string& name : folder.names()) {
        if (std::filesystem::is_regular_file(folder / name)) {
            files[name] = read_bytes((folder / name).string());
        }
    }
    return files;
}

std::string summary(const std::string& input, const std::string& output,
                    const std::string& counts) {
    return input + " -> " + output + ": " + counts + "\n";
}

TEST(TarvelProgram, OneFileWithTheDerivedOutputName) {
    TempFolder folder;
    write_bytes((folder / "hoja12.bin").string(), testing::typical_sheet());
    const Ran ran = tarvel(folder, {"hoja12.bin"});
    EXPECT_EQ(ran.code, 0) << ran.err;
    EXPECT_EQ(ran.out,
              summary("hoja12.bin", "hoja12_sal.bin",
                      "líneas leídas 2, textos 0, uniones 1, líneas escritas 1, errores de "
                      "sentido 0, anillos omitidos 0, nodos omitidos por límite de "
                      "vértices 0, uniones con cota distinta 0, extremos casi unidos 3") +
                  "PROCESO Terminado Correctamente.\n");
    EXPECT_EQ(ran.err, "");
    EXPECT_EQ(read_bytes((folder / "hoja12_sal.bin").string()), testing::typical_joined_line());
    EXPECT_EQ(folder.names(), (std::set<std::string>{"hoja12.bin", "hoja12_sal.bin"}));
}

TEST(TarvelProgram, ChosenOutputCodesAndUnitWithAnErrorFile) {
    TempFolder folder;
    std::filesystem::create_directory(folder / "salida");
    write_bytes((folder / "hoja.v2.bin").string(), testing::head_to_head_sheet());
    write_bytes((folder / "RIOS.CFG").string(), bytes_of("\"RIO0001\",1\r\n"));
    const Ran ran =
        tarvel(folder, {"-c", "RIOS.CFG", "-u", "cm", "-o", "salida/otra.bin", "hoja.v2.bin"});
    EXPECT_EQ(ran.code, 0) << ran.err;
    EXPECT_EQ(ran.out,
              summary("hoja.v2.bin", "salida/otra.bin",
                      "líneas leídas 2, textos 0, uniones 0, líneas escritas 0, errores de "
                      "sentido 1 (hoja_err.v2.bin), anillos omitidos 0, nodos omitidos "
                      "por límite de vértices 0, uniones con cota distinta 0, extremos casi "
                      "unidos 2") +
                  "PROCESO Terminado Correctamente.\n");
    EXPECT_TRUE(read_bytes((folder / "salida" / "otra.bin").string()).empty());
    EXPECT_EQ(read_bytes((folder / "hoja_err.v2.bin").string()),
              testing::error_file_bytes({{10, 0, 35}}, run::Unit::centimetres));
    EXPECT_EQ(folder.names(),
              (std::set<std::string>{"RIOS.CFG", "hoja.v2.bin", "hoja_err.v2.bin", "salida"}));
}

TEST(TarvelProgram, AllElementsKeepsUnjoinedLinesAndTexts) {
    TempFolder folder;
    const Bytes input = testing::DigiBuilder{}
                            .line("A", {{0, 0, 0}, {5, 5, 5}})
                            .text("T", {1, 1, 1}, {"uno"})
                            .line("B", {{9, 9, 9}, {5, 5, 5}})
                            .bytes();
    write_bytes((folder / "h.bin").string(), input);
    const Ran ran = tarvel(folder, {"--all", "-q", "h.bin"});
    EXPECT_EQ(ran.code, 0) << ran.err;
    EXPECT_EQ(ran.out, "");
    EXPECT_EQ(read_bytes((folder / "h_sal.bin").string()), testing::DigiBuilder{}
                                                               .line("A", {{0, 0, 0}, {5, 5, 5}})
                                                               .line("B", {{9, 9, 9}, {5, 5, 5}})
                                                               .text("T", {1, 1, 1}, {"uno"})
                                                               .bytes());
}

TEST(TarvelProgram, FailedFileInABatchExitsOneAndTheOthersAreWritten) {
    TempFolder folder;
    std::filesystem::create_directory(folder / "lote");
    write_bytes((folder / "lote" / "a.bin").string(), testing::typical_sheet());
    write_bytes((folder / "lote" / "b.BIN").string(),
                bytes_of(std::string("C=ROTO\0\0\0\0\xff\x7f", 12)));
    write_bytes((folder / "lote" / "c.bin").string(), testing::typical_sheet());
    write_bytes((folder / "lote" / "c_sal.bin").string(), bytes_of("antiguo"));
    const Ran ran = tarvel(folder, {"-j", "2", "lote"});
    EXPECT_EQ(ran.code, 1);
    const std::string counts =
        "líneas leídas 2, textos 0, uniones 1, líneas escritas 1, errores de sentido 0, anillos "
        "omitidos 0, nodos omitidos por límite de vértices 0, uniones con cota distinta 0, "
        "extremos casi unidos 3";
    EXPECT_EQ(ran.out, summary("lote/a.bin", "lote/a_sal.bin", counts) +
                           summary("lote/c.bin", "lote/c_sal.bin", counts));
    EXPECT_EQ(ran.err.rfind("PROCESO Terminado con errores. Ficheros no procesados: 1 de 3.\n"
                            "lote/b.BIN: byte 1: ",
                            0),
              0u)
        << ran.err;
    EXPECT_EQ(ran.err.find("Correctamente"), std::string::npos);
    EXPECT_EQ(read_bytes((folder / "lote" / "a_sal.bin").string()), testing::typical_joined_line());
    EXPECT_EQ(read_bytes((folder / "lote" / "c_sal.bin").string()), testing::typical_joined_line());
    EXPECT_FALSE(std::filesystem::exists(folder / "lote" / "b_sal.BIN"));
}

TEST(TarvelProgram, RefusedRunsExitOneAndTouchNothing) {
    TempFolder folder;
    write_bytes((folder / "hoja.bin").string(), testing::typical_sheet());
    write_bytes((folder / "cod.CFG").string(), bytes_of("RIO0001,1\n"));
    const auto before = snapshot(folder);
    for (const std::vector<std::string>& args :
         std::vector<std::vector<std::string>>{{"-o", "hoja.bin", "hoja.bin"},
                                               {"-o", "./hoja.bin", "hoja.bin"},
                                               {"-c", "cod.CFG", "-o", "cod.CFG", "hoja.bin"},
                                               {"-c", "no_existe.CFG", "hoja.bin"},
                                               {"no_existe.bin"}}) {
        const Ran ran = tarvel(folder, args);
        EXPECT_EQ(ran.code, 1) << args.front();
        EXPECT_EQ(ran.out, "");
        EXPECT_EQ(ran.err.rfind("PROCESO Terminado con errores.", 0), 0u) << ran.err;
        EXPECT_EQ(snapshot(folder), before) << ran.err;
    }
}

TEST(TarvelProgram, UsageErrorsExitTwoAndTouchNothing) {
    TempFolder folder;
    write_bytes((folder / "a.bin").string(), testing::typical_sheet());
    write_bytes((folder / "b.bin").string(), testing::typical_sheet());
    const auto before = snapshot(folder);
    for (const std::vector<std::string>& args :
         std::vector<std::vector<std::string>>{{},
                                               {"-o", "x.bin", "a.bin", "b.bin"},
                                               {"-o", "x.bin", "."},
                                               {"-u", "pulgadas", "a.bin"},
                                               {"-j", "0", "a.bin"},
                                               {"--sin-esto", "a.bin"}}) {
        const Ran ran = tarvel(folder, args);
        EXPECT_EQ(ran.code, 2);
        EXPECT_EQ(ran.out, "");
        EXPECT_EQ(ran.err.rfind("tarvel: error de uso: ", 0), 0u) << ran.err;
        EXPECT_EQ(snapshot(folder), before);
    }
}

TEST(TarvelProgram, HelpAndVersion) {
    TempFolder folder;
    const Ran help = tarvel(folder, {"--help"});
    EXPECT_EQ(help.code, 0);
    EXPECT_NE(help.out.find("Uso: tarvel"), std::string::npos) << help.out;
    EXPECT_NE(help.out.find("--jobs"), std::string::npos);
    EXPECT_EQ(help.err, "");
    const Ran version = tarvel(folder, {"--version"});
    EXPECT_EQ(version.code, 0);
    EXPECT_EQ(version.out, std::string("tarvel ") + TARVEL_VERSION + "\n");
}

TEST(TarvelProgram, SameFilesAndLinesWithOneJobOrTwo) {
    std::map<std::string, Bytes> files[2];
    std::string out[2];
    for (int run = 0; run < 2; ++run) {
        TempFolder folder;
        testing::write_generated_batch(folder, 100, 110, "c.CFG");
        const Ran ran = tarvel(folder, {"-j", run == 0 ? "1" : "2", "-c", "c.CFG", "-u", "m", "."});
        EXPECT_NE(ran.code, 2) << ran.err;
        files[run] = snapshot(folder);
        out[run] = ran.out + ran.err;
    }
    EXPECT_GT(files[0].size(), 11u);
    EXPECT_EQ(files[0], files[1]);
    EXPECT_EQ(out[0], out[1]);
}

// What the system says inside a message (why a file cannot be opened) is in the user's
// language, while numbers keep the form the options and the report use, whatever the locale.
TEST(TarvelProgram, SystemTextsInTheUsersLanguageNumbersAlwaysWithAPoint) {
    locale_t spanish = ::newlocale(LC_ALL_MASK, "es_ES.UTF-8", nullptr);
    ASSERT_NE(spanish, nullptr) << "es_ES.UTF-8 is not installed: scripts/install-deps.sh makes it";
    ::freelocale(spanish);
    TempFolder folder;
    write_bytes((folder / "hoja.bin").string(), testing::typical_sheet());
    const std::string spanish_env = "LANG=es_ES.UTF-8 LC_ALL=es_ES.UTF-8";

    const Ran missing = tarvel(folder, {"no_existe.bin"}, spanish_env);
    EXPECT_EQ(missing.code, 1);
    EXPECT_NE(missing.err.find("no_existe.bin: no se puede abrir: No existe el fichero o el "
                               "directorio"),
              std::string::npos)
        << missing.err;

    const Ran ran =
        tarvel(folder, {"-t", "0.25", "--report", "informe.json", "hoja.bin"}, spanish_env);
    EXPECT_EQ(ran.code, 0) << ran.err;
    EXPECT_NE(file_text(folder / "informe.json").find("\"tolerancia_m\":0.25,"), std::string::npos)
        << file_text(folder / "informe.json");
}

} // namespace
} // namespace tarvel::cli
