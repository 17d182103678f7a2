#include "run/messages.hpp"

#include <gtest/gtest.h>

namespace tarvel::run {
namespace {

RunSummary summary_of(const std::string& input, std::int64_t errors) {
    RunSummary s;
    s.input = input;
    s.output = "/m/hoja_sal.bin";
    s.error_file = "/m/hoja_err.bin";
    s.lines_read = 120;
    s.texts_read = 4;
    s.joins = 35;
    s.lines_written = 85;
    s.direction_errors = errors;
    s.rings_passed_over = 1;
    s.vertex_limit_nodes = 2;
    s.z_differences = 3;
    s.near_misses = 4;
    return s;
}

TEST(Messages, SummaryLineNamesFilesAndEveryCount) {
    EXPECT_EQ(summary_line(summary_of("/m/hoja.bin", 0)),
              "/m/hoja.bin -> /m/hoja_sal.bin: líneas leídas 120, textos 4, uniones 35, "
              "líneas escritas 85, errores de sentido 0, anillos omitidos 1, "
              "nodos omitidos por límite de vértices 2, uniones con cota distinta 3, "
              "extremos casi unidos 4");
    EXPECT_EQ(summary_line(summary_of("/m/hoja.bin", 3)),
              "/m/hoja.bin -> /m/hoja_sal.bin: líneas leídas 120, textos 4, uniones 35, "
              "líneas escritas 85, errores de sentido 3 (/m/hoja_err.bin), anillos omitidos 1, "
              "nodos omitidos por límite de vértices 2, uniones con cota distinta 3, "
              "extremos casi unidos 4");
    RunSummary older = summary_of("/m/hoja.bin", 0);
    older.older_error_file = true;
    EXPECT_EQ(summary_line(older),
              "/m/hoja.bin -> /m/hoja_sal.bin: líneas leídas 120, textos 4, uniones 35, "
              "líneas escritas 85, errores de sentido 0 (/m/hoja_err.bin es de una ejecución "
              "anterior), anillos omitidos 1, nodos omitidos por límite de vértices 2, "
              "uniones con cota distinta 3, extremos casi unidos 4");
}

TEST(Messages, ClosingMessageIsTheSuccessTextOnlyWhenEveryFileSucceeded) {
    const std::vector<FileOutcome> good{{"/m/a.bin", summary_of("/m/a.bin", 0), ""},
                                        {"/m/b.bin", summary_of("/m/b.bin", 2), ""}};
    EXPECT_TRUE(all_succeeded(good));
    EXPECT_EQ(closing_message(good), "PROCESO Terminado Correctamente.");
    EXPECT_EQ(closing_message({}), "PROCESO Terminado Correctamente.");

    std::vector<FileOutcome> mixed = good;
    mixed.insert(mixed.begin() + 1,
                 FileOutcome{"/m/c.bin", std::nullopt,
                             "/m/c.bin: byte 49: número de elementos negativo (-2)"});
    mixed.push_back(FileOutcome{"/m/d.bin", std::nullopt,
                                "/m/codigos.CFG: no se puede abrir: No such file or directory"});
    EXPECT_FALSE(all_succeeded(mixed));
    EXPECT_EQ(closing_message(mixed),
              "PROCESO Terminado con errores. Ficheros no procesados: 2 de 4.\n"
              "/m/c.bin: byte 49: número de elementos negativo (-2)\n"
              "/m/d.bin: /m/codigos.CFG: no se puede abrir: No such file or directory");
}

} // namespace
} // namespace tarvel::run
