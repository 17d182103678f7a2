// Malformed and edge DIGI files given to the real program: a bad element fails the file with
// a message naming the file and the element's byte, and nothing on disk changes; the edge
// files that hold no element succeed.
#include <algorithm>
#include <ostream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/fuzz/malformed_sheets.hpp"
#include "tests/robustness/robustness_fixture.hpp"
#include "tests/support/digi_builder.hpp"

namespace tarvel::fuzz {

// Names a case in test listings instead of dumping its bytes.
void PrintTo(const MalformedSheet& sheet, std::ostream* out) {
    *out << sheet.name;
}

} // namespace tarvel::fuzz

namespace tarvel::testing {
namespace {

using fuzz::malformed_sheets;
using fuzz::MalformedSheet;

const std::vector<std::byte> older_errors = bytes_of("errores de una ejecución anterior");

class MalformedSheetRun : public RobustnessTest,
                          public ::testing::WithParamInterface<MalformedSheet> {};

TEST_P(MalformedSheetRun, FailsNamingFileAndByteOrSucceedsWithNoElement) {
    const MalformedSheet& sheet = GetParam();
    put("hoja.bin", sheet.bytes);
    put("hoja_sal.bin", older_output());
    put("hoja_err.bin", older_errors);
    put_text("sentido.cfg", "RIO0001,1\n");
    const Snapshot before = snapshot(folder.path());

    const ProcessOutcome run = run_tarvel({"-a", "-c", path("sentido.cfg"), path("hoja.bin")});

    if (sheet.bad_position) {
        EXPECT_EQ(run.exit_code, 1) << describe(run);
        EXPECT_TRUE(Contains(run.err, path("hoja.bin") + ": byte " +
                                          std::to_string(*sheet.bad_position) + ": "));
        EXPECT_TRUE(run.out.empty()) << run.out;
        // Input, older output and older error file as they were; no temporary left.
        EXPECT_EQ(snapshot(folder.path()), before) << names(snapshot(folder.path()));
        return;
    }
    EXPECT_EQ(run.exit_code, 0) << describe(run);
    Snapshot expected = before;
    // Every element of the file, lines then texts, and nothing of the stray byte.
    std::vector<std::byte> whole_elements = sheet.bytes;
    if (!whole_elements.empty()) {
        whole_elements.pop_back();
    }
    expected["hoja_sal.bin"] = sheet.lines > 0 ? text_of(whole_elements) : "";
    EXPECT_EQ(snapshot(folder.path()), expected);
    EXPECT_TRUE(Contains(run.out, "líneas leídas " + std::to_string(sheet.lines)));
}

std::string case_name(const ::testing::TestParamInfo<MalformedSheet>& info) {
    std::string name = info.param.name;
    std::replace(name.begin(), name.end(), '-', '_');
    return name;
}

INSTANTIATE_TEST_SUITE_P(EachCase, MalformedSheetRun, ::testing::ValuesIn(malformed_sheets()),
                         case_name);

using BadInputBatch = RobustnessTest;

TEST_F(BadInputBatch, EveryBadSheetIsNamedAndEveryGoodOneWritten) {
    const std::vector<MalformedSheet> sheets = malformed_sheets();
    for (const MalformedSheet& sheet : sheets) {
        put(sheet.name + ".bin", sheet.bytes);
    }
    put("buena.bin", joining_pair(5));
    const Snapshot before = snapshot(folder.path());

    const ProcessOutcome run = run_tarvel({"-q", "-j", "2", folder.path().string()});

    EXPECT_EQ(run.exit_code, 1) << describe(run);
    Snapshot expected = before;
    for (const MalformedSheet& sheet : sheets) {
        if (sheet.bad_position) {
            EXPECT_TRUE(Contains(run.err, path(sheet.name + ".bin") + ": byte " +
                                              std::to_string(*sheet.bad_position) + ": "));
        } else {
            EXPECT_FALSE(Contains(run.err, path(sheet.name + ".bin")));
            expected[sheet.name + "_sal.bin"] = "";
        }
    }
    expected["buena_sal.bin"] = text_of(joined_pair_output(5));
    EXPECT_EQ(snapshot(folder.path()), expected) << names(snapshot(folder.path()));
}

} // namespace
} // namespace tarvel::testing
