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
                            "0.25", "--report", "r.json", "a.bin"});
    const Parsed l = parse({"a.bin", "--output", "x.bin", "--codes=c.CFG", "--units", "cm", "--all",
                            "--jobs", "2", "--quiet", "--tolerance", "0.25", "--report=r.json"});
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
    }
    EXPECT_EQ(parse({"a"}).outcome.options->tolerance, run::default_tolerance);
    EXPECT_EQ(parse({"-u", "m", "a"}).outcome.options->unit, run::Unit::metres);
    EXPECT_EQ(parse({"-u", "mm", "a"}).outcome.options->unit, run::Unit::millimetres);
}

TEST(ParseOptions, InputsKeepTheirOrder) {
    const Parsed p = parse({"c.bin", "carpeta", "a.bin"});
    ASSERT_TRUE(p.outcome.options);
    EXPECT_EQ(p.outcome.options->inputs,
              (std::vector<std::filesystem::path>{"c.bin", "carpeta", "a.bin"}));
}

TEST(ParseOptions, UsageErrorsExitTwoWithAMessage) {
    for (const std::vector<std::string>& args :
         std::vector<std::vector<std::string>>{{},
                                               {"-o", "x.bin", "a.bin", "b.bin"},
                                               {"-u", "km", "a.bin"},
                                               {"-j", "0", "a.bin"},
                                               {"-j", "muchos", "a.bin"},
                                               {"--tolerancia", "0.1", "a.bin"},
                                               {"-t", "-0.1", "a.bin"},
                                               {"-t", "cerca", "a.bin"},
                                               {"--crs", "EPSG:25830", "a.bin"},
                                               {"-c"},
                                               {""}}) {
        const Parsed p = parse(args);
        EXPECT_FALSE(p.outcome.options);
        EXPECT_EQ(p.outcome.exit_code, exit_usage);
        EXPECT_EQ(p.err.rfind("tarvel: error de uso: ", 0), 0u) << p.err;
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
                                   "--tolerance", "--report", "--export", "--crs"}) {
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
