// Replays the committed fuzz corpus, crashers included, through the fuzz targets' own checks,
// so that every input a fuzzer once found stays fixed in the ordinary sanitizer test run.
#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "common/errors.hpp"
#include "digi/loader.hpp"
#include "tests/fuzz/fuzz_checks.hpp"
#include "tests/fuzz/malformed_sheets.hpp"
#include "tests/support/digi_builder.hpp"

namespace tarvel::fuzz {
namespace {

namespace fs = std::filesystem;

std::vector<fs::path> corpus(const std::string& target) {
    std::vector<fs::path> files;
    for (const auto& entry : fs::directory_iterator(fs::path(TARVEL_FUZZ_CORPUS_DIR) / target)) {
        if (entry.is_regular_file()) {
            files.push_back(entry.path());
        }
    }
    std::sort(files.begin(), files.end());
    return files;
}

void replay(const std::string& target, void (*check)(std::span<const std::byte>)) {
    const std::vector<fs::path> files = corpus(target);
    ASSERT_GE(files.size(), 20u) << "the " << target << " corpus is missing";
    for (const fs::path& file : files) {
        const std::vector<std::byte> bytes = testing::read_bytes(file.string());
        try {
            check(bytes);
        } catch (const std::exception& e) {
            ADD_FAILURE() << file.filename().string() << ": " << e.what();
        }
    }
}

TEST(FuzzCorpus, LoaderPropertiesHoldOnEveryCommittedInput) {
    replay("loader", &check_loader);
}

TEST(FuzzCorpus, CodesReaderAgreesWithLineByLineReadingOnEveryCommittedInput) {
    replay("codes", &check_codes_bytes);
}

TEST(FuzzCorpus, WholeJobMatchesTheModelOnEveryCommittedInput) {
    replay("run", &check_run);
}

// The seeds that break the framing: the loader names the element the seed was built to break,
// and the checks accept the loader's answer.
TEST(MalformedSheets, LoaderNamesTheBadElementOfEach) {
    for (const MalformedSheet& sheet : malformed_sheets()) {
        SCOPED_TRACE(sheet.name);
        if (sheet.bad_position) {
            try {
                (void)digi::load_elements(sheet.bytes, "hoja.bin");
                ADD_FAILURE() << "loaded";
            } catch (const FormatError& e) {
                EXPECT_EQ(e.byte_position(), *sheet.bad_position);
            }
        } else {
            EXPECT_EQ(digi::load_elements(sheet.bytes, "hoja.bin").lines.size(),
                      static_cast<std::size_t>(sheet.lines));
        }
        EXPECT_NO_THROW(check_loader(sheet.bytes));
        EXPECT_NO_THROW(check_run(run_input({}, sheet.bytes)));
    }
}

} // namespace
} // namespace tarvel::fuzz
