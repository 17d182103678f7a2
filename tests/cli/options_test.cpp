#include "cli/options.hpp"

#include <sstream>

#include <gtest/gtest.h>

namespace tarvel::cli {
namespace {

struct Parsed {
    ParseOutcome outcome;
    std::string out;
    std::string err;
};

Parsed parse(const std::vector<std::string>& args, unsigned cores = 3) {
    std::ostringstream out;
    std::ostringstream err;
    Parsed parsed{parse_options(args, cores, out, err), {}, {}};
    parsed.out = out.str();
    parsed.err = err.str();
    return parsed;
}

TEST(ParseOptions, DefaultsForOneInput) {
    const Parsed p = parse({"hoja12.bin"});
    ASSERT_TRUE(p.outcome.options);
    const Options& o = *p.outcome.options;
    EXPECT_EQ(o.inputs, std::vector<std::filesystem::path>{"hoja12.bin"});
    EXPECT_TRUE(o.output.empty());
    EXPECT_TRUE(o.codes.empty());
    EXPECT_EQ(o.unit, run::Unit::millimetres);
    EXPECT_FALSE(o.all_elements);
    EXPECT_FALSE(o.quiet);
    EXPECT_EQ(o.jobs, 3u);
    EXPECT_TRUE(p.out.empty());
    EXPECT_TRUE(p.err.empty());
    // A machine that cannot tell its cores still runs one file at a time.
    EXPECT_EQ(parse({"a.bin"}, 0).outcome.options->jobs, 1u);
}

TEST(ParseOptions, EveryOptionInShortAndLongForm) {
    const Parsed s = parse({"-o", "x.bin", "-c", "c.CFG", "-u", "cm", "-a", "-j", "2", "-q", "-t",
                            "0.25", "--report", "r.json", "--progress", "a.bin"});
    const Parsed l =
        parse({"a.bin", "--output", "x.bin", "--codes=c.CFG", "--units", "cm", "--all", "--jobs",
               "2", "--quiet", "--tolerance", "0.25", "--report=r.json", "--progress"});
    for (const Parsed* p : {&s, &l}) {
        ASSERT_TRUE(p->outcome.options) << p->err;
        const Options& o = *p->outcome.options;
        EXPECT_EQ(o.inputs, std::vector<std::filesystem::path>{"a.bin"});
        EXPECT_EQ(o.output, "x.bin");
        EXPECT_EQ(o.codes, "c.CFG");
        EXPECT_EQ(o.unit, run::Unit::centimetres);
        EXPECT_TRUE(o.all_elements);
        EXPECT_TRUE(o.quiet);
        EXPECT_EQ(o.jobs, 2u);
        EXPECT_EQ(o.tolerance, 0.25);
        EXPECT_EQ(o.report, "r.json");
        EXPECT_EQ(o.progress, Progress::shown);
    }
    EXPECT_EQ(parse({"a"}).outcome.options->tolerance, run::default_tolerance);
    EXPECT_EQ(parse({"-u", "m", "a"}).outcome.options->unit, run::Unit::metres);
    EXPECT_EQ(parse({"-u", "mm", "a"}).outcome.options->unit, run::Unit::millimetres);
}

TEST(ParseOptions, ListOutputFolderAndProgress) {
    const Parsed p = parse({"--files-from", "-", "--null", "--output-dir", "sal", "--no-progress"});
    ASSERT_TRUE(p.outcome.options) << p.err;
    const Options& o = *p.outcome.options;
    EXPECT_TRUE(o.inputs.empty());
    EXPECT_EQ(o.files_from, "-");
    EXPECT_TRUE(o.null_separated);
    EXPECT_EQ(o.output_folder, "sal");
    EXPECT_EQ(o.progress, Progress::hidden);
    const Options plain = *parse({"a.bin"}).outcome.options;
    EXPECT_TRUE(plain.files_from.empty());
    EXPECT_FALSE(plain.null_separated);
    EXPECT_TRUE(plain.output_folder.empty());
    EXPECT_EQ(plain.progress, Progress::on_terminal);
}

TEST(ParseOptions, InputsKeepTheirOrder) {
    const Parsed p = parse({"c.bin", "carpeta", "a.bin"});
    ASSERT_TRUE(p.outcome.options);
    EXPECT_EQ(p.outcome.options->inputs,
              (std::vector<std::filesystem::path>{"c.bin", "carpeta", "a.bin"}));
}

// Every kind of mistake is answered in Spanish, naming the option and the value given; the
// parser's own English words never reach the user.
TEST(ParseOptions, EveryKindOfMistakeIsAUsageErrorInSpanish) {
    struct Case {
        std::vector<std::string> args;
        const char* message;
    };
    const Case cases[] = {
        {{}, "falta la entrada: ficheros DIGI o carpetas, o --files-from LISTA"},
        {{"--tolerancia", "0.1", "a.bin"}, "opción desconocida: --tolerancia"},
        {{"-x", "a.bin"}, "opción desconocida: -x"},
        {{"-c"}, "a la opción --codes le falta su valor (FICHERO)"},
        {{"a.bin", "--output-dir="}, "a la opción --output-dir le falta su valor (CARPETA)"},
        {{"-j", "2", "-j", "3", "a.bin"}, "la opción --jobs se ha dado 2 veces; solo vale una"},
        {{"-j", "0", "a.bin"}, "--jobs 0: ha de ser un número entero de 1 a 1024"},
        {{"-j", "muchos", "a.bin"}, "--jobs muchos: ha de ser un número entero de 1 a 1024"},
        {{"-u", "km", "a.bin"}, "--units km: ha de ser m, cm o mm"},
        {{"-t", "-0.1", "a.bin"},
         "--tolerance -0.1: ha de ser un número de metros no negativo, con punto decimal (0.25)"},
        {{"-t", "0,1", "a.bin"},
         "--tolerance 0,1: ha de ser un número de metros no negativo, con punto decimal (0.25)"},
        {{"--all=si", "a.bin"}, "la opción --all no lleva valor (se ha dado \"si\")"},
        {{"-o", "x.bin", "a.bin", "b.bin"}, "--output solo vale con un único fichero de entrada"},
        {{"-o", "x.bin", "--files-from", "l.txt"},
         "--output solo vale con un único fichero de entrada"},
        {{"-o", "x.bin", "--output-dir", "sal", "a.bin"}, "--output-dir no vale con --output"},
        {{"--null", "a.bin"}, "--null solo vale con --files-from"},
        {{"--progress", "--no-progress", "a.bin"}, "--progress y --no-progress se excluyen"},
        {{"--crs", "EPSG:25830", "a.bin"}, "--crs solo vale con --export"},
        {{""}, "un nombre de entrada vacío"},
    };
    for (const Case& c : cases) {
        const Parsed p = parse(c.args);
        const std::string shown = c.args.empty() ? "(nada)" : c.args.front();
        EXPECT_FALSE(p.outcome.options) << shown;
        EXPECT_EQ(p.outcome.exit_code, exit_usage) << shown;
        EXPECT_EQ(p.err, std::string("tarvel: error de uso: ") + c.message +
                             "\nPruebe 'tarvel --help' para ver las opciones.\n");
        EXPECT_TRUE(p.out.empty());
    }
}

TEST(ParseOptions, HelpAndVersionExitZeroOnStandardOutput) {
    for (const char* flag : {"--help", "-h"}) {
        const Parsed p = parse({flag});
        EXPECT_FALSE(p.outcome.options);
        EXPECT_EQ(p.outcome.exit_code, exit_success);
        EXPECT_NE(p.out.find("Uso: tarvel"), std::string::npos) << p.out;
        for (const char* option : {"--output", "--codes", "--units", "--all", "--jobs", "--quiet",
                                   "--tolerance", "--report", "--export", "--crs", "--files-from",
                                   "--null", "--output-dir", "--progress", "--no-progress"}) {
            EXPECT_NE(p.out.find(option), std::string::npos) << option;
        }
        EXPECT_TRUE(p.err.empty());
    }
    const Parsed v = parse({"--version"});
    EXPECT_EQ(v.outcome.exit_code, exit_success);
    EXPECT_EQ(v.out, std::string("tarvel ") + TARVEL_VERSION + "\n");
}

} // namespace
} // namespace tarvel::cli
