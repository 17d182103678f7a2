#include "run/job.hpp"

#include <filesystem>
#include <gtest/gtest.h>
#include <stop_token>

#include "tests/run/sample_sheets.hpp"
#include "tests/run/temp_folder.hpp"
#include "tests/support/digi_builder.hpp"

namespace tarvel::run {
namespace {

using testing::read_bytes;
using testing::TempFolder;
using testing::write_bytes;

// The report of a run written afterwards from its outcomes is the one the run itself would
// have written, sheets that changed or went since their run aside, and nothing else is
// written; a stop leaves no report.
TEST(ExportJob, WritesTheRunsReportFromItsOutcomesAndNothingElse) {
    struct Case {
        const char* name;
        bool remove_sheet_after_run; // the first sheet is gone when the report is asked for
        bool stop;
    };
    const Case cases[] = {
        {"as run", false, false}, {"sheet gone", true, false}, {"stopped", false, true}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const TempFolder folder;
        write_bytes((folder / "a.bin").string(), testing::head_to_head_sheet());
        write_bytes((folder / "b.bin").string(), testing::typical_sheet());
        write_bytes((folder / "c.bin").string(), {std::byte{'C'}, std::byte{'='}, std::byte{1}});
        const std::vector<std::filesystem::path> inputs{folder / "a.bin", folder / "b.bin",
                                                        folder / "c.bin"};
        JobSettings settings;
        settings.report = folder / "run.json";
        const JobOutcome ran = run_job(settings, inputs);
        ASSERT_EQ(ran.files.size(), 3u);
        std::filesystem::remove(folder / "a_sal.bin");
        std::filesystem::remove(folder / "b_sal.bin");
        if (c.remove_sheet_after_run) {
            std::filesystem::remove(folder / "a.bin");
        }

        JobSettings later = settings;
        later.report = folder / "later.json";
        std::stop_source stop;
        later.common.stop = stop.get_token();
        if (c.stop) {
            stop.request_stop();
        }
        std::vector<std::size_t> handed;
        const JobOutcome exported =
            export_job(later, ran.files, [&](std::size_t index, const FileOutcome& outcome) {
                handed.push_back(index);
                EXPECT_EQ(outcome.summary && outcome.summary->details != nullptr,
                          index == 1 || (index == 0 && !c.remove_sheet_after_run));
            });

        EXPECT_FALSE(std::filesystem::exists(folder / "a_sal.bin"));
        EXPECT_FALSE(std::filesystem::exists(folder / "b_sal.bin"));
        EXPECT_EQ(exported.cancelled, c.stop);
        if (c.stop) {
            EXPECT_TRUE(handed.empty());
            EXPECT_FALSE(std::filesystem::exists(folder / "later.json"));
            continue;
        }
        EXPECT_EQ(handed, (std::vector<std::size_t>{0, 1, 2}));
        ASSERT_TRUE(std::filesystem::exists(folder / "later.json"));
        if (c.remove_sheet_after_run) {
            ASSERT_EQ(exported.failures.size(), 1u);
            EXPECT_EQ(exported.failures[0].rfind((folder / "a.bin").string() + ": ", 0), 0u)
                << exported.failures[0];
            EXPECT_NE(read_bytes((folder / "run.json").string()),
                      read_bytes((folder / "later.json").string()));
        } else {
            EXPECT_TRUE(exported.failures.empty());
            EXPECT_EQ(read_bytes((folder / "run.json").string()),
                      read_bytes((folder / "later.json").string()));
        }
    }
}

} // namespace
} // namespace tarvel::run
