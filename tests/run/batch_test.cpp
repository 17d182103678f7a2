#include "run/batch.hpp"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <malloc.h>
#include <map>
#include <mutex>
#include <stop_token>

#include <gtest/gtest.h>

#include "common/errors.hpp"
#include "run/messages.hpp"
#include "tests/run/sample_sheets.hpp"
#include "tests/run/temp_folder.hpp"
#include "tests/support/digi_builder.hpp"

namespace tarvel::run {
namespace {

using testing::bytes_of;
using testing::DigiBuilder;
using testing::read_bytes;
using testing::TempFolder;
using testing::write_bytes;

using Bytes = std::vector<std::byte>;

std::vector<std::string> names_of(const std::vector<std::filesystem::path>& paths) {
    std::vector<std::string> names;
    for (const auto& path : paths) {
        names.push_back(path.filename().string());
    }
    return names;
}

Bytes joinable_sheet(std::int32_t shift) {
    return DigiBuilder{}
        .line("RIO", {{shift, 0, 0}, {shift + 10, 0, 0}})
        .line("RIO", {{shift + 10, 0, 0}, {shift + 20, 0, 0}})
        .bytes();
}

TEST(BatchList, BinFilesInAnyCaseSortedByBytesWithoutOutputsOfOthers) {
    TempFolder folder;
    for (const char* name :
         {"b.bin", "a.bin", "a_sal.bin", "a_err.bin", "B.BIN", "B_sal.BIN", "c.Bin", "d.txt", "bin",
          "x_sal.bin", "hoja.v2.bin", "hoja_sal.v2.bin", "hoja_err.v2.bin", "\xC3\xB1u.bin",
          "Z.bIN", "e.bin.txt", ".tarvel-a_sal.bin.123-456.tmp"}) {
        write_bytes((folder / name).string(), {});
    }
    std::filesystem::create_directory(folder / "carpeta.bin");

    const auto list = batch_list(folder.path());
    // x_sal.bin stays: there is no x.bin in the folder whose output it would be.
    EXPECT_EQ(names_of(list),
              (std::vector<std::string>{"B.BIN", "Z.bIN", "a.bin", "b.bin", "c.Bin", "hoja.v2.bin",
                                        "x_sal.bin", "\xC3\xB1u.bin"}));
    for (const auto& path : list) {
        EXPECT_EQ(path.parent_path(), folder.path());
    }
}

TEST(BatchList, OutputsOfOutputsAreLeftOutToo) {
    TempFolder folder;
    for (const char* name :
         {"a.bin", "a_sal.bin", "a_err.bin", "a_sal_sal.bin", "a_sal_err.bin", "a_err_sal.bin"}) {
        write_bytes((folder / name).string(), {});
    }
    EXPECT_EQ(names_of(batch_list(folder.path())), (std::vector<std::string>{"a.bin"}));
}

TEST(BatchList, FolderThatCannotBeListedIsAFileErrorNamingIt) {
    TempFolder folder;
    const auto missing = folder / "no_existe";
    try {
        (void)batch_list(missing);
        FAIL() << "no error";
    } catch (const FileError& e) {
        EXPECT_EQ(std::string(e.what()).rfind(missing.string() + ": ", 0), 0u) << e.what();
    }
}

TEST(RunBatch, FailedFileIsReportedAndTheOthersAreProcessed) {
    TempFolder folder;
    write_bytes((folder / "a.bin").string(), joinable_sheet(0));
    write_bytes((folder / "b.bin").string(), bytes_of("C=roto"));
    write_bytes((folder / "c.bin").string(), joinable_sheet(100));
    const auto inputs = batch_list(folder.path());
    ASSERT_EQ(inputs.size(), 3u);

    std::mutex mutex;
    std::map<std::size_t, int> calls;
    RunSettings common;
    common.output = folder / "ignorado.bin"; // every file gets its own derived name
    const auto outcomes = run_batch(inputs, common, 2, [&](std::size_t i, const FileOutcome& o) {
        const std::lock_guard lock(mutex);
        ++calls[i];
        EXPECT_EQ(o.input, inputs.at(i));
    });

    ASSERT_EQ(outcomes.size(), 3u);
    EXPECT_EQ(calls, (std::map<std::size_t, int>{{0, 1}, {1, 1}, {2, 1}}));
    ASSERT_TRUE(outcomes[0].summary);
    EXPECT_EQ(outcomes[0].summary->output, folder / "a_sal.bin");
    EXPECT_FALSE(outcomes[1].summary);
    EXPECT_EQ(outcomes[1].input, folder / "b.bin");
    EXPECT_EQ(outcomes[1].error.rfind((folder / "b.bin").string() + ": byte 1: ", 0), 0u)
        << outcomes[1].error;
    ASSERT_TRUE(outcomes[2].summary);
    EXPECT_EQ(outcomes[2].summary->joins, 1);
    EXPECT_EQ(folder.names(),
              (std::set<std::string>{"a.bin", "a_sal.bin", "b.bin", "c.bin", "c_sal.bin"}));
}

// The allocator's own settings: under the address sanitizer, its allocator stands in for it.
#if defined(__GLIBC__) && !defined(__SANITIZE_ADDRESS__)
/// Whether a block of `bytes`, freed, stays with the process for the next allocations.
bool freed_block_kept(std::size_t bytes) {
    void* block = std::malloc(bytes);
    if (block == nullptr) {
        return false;
    }
    std::memset(block, 1, bytes);
    const std::size_t free_before = ::mallinfo2().fordblks;
    std::free(block);
    return ::mallinfo2().fordblks >= free_before + bytes;
}

TEST(RunBatch, MemoryASheetFreesIsKeptForTheNextOnes) {
    // In a process of its own, where no batch has run yet: the allocator's settings last.
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    const auto batch_then_kept = [](std::size_t sheets) {
        bool all_done = false;
        {
            TempFolder folder;
            for (std::size_t i = 0; i < sheets; ++i) {
                write_bytes((folder / ("h" + std::to_string(i) + ".bin")).string(),
                            joinable_sheet(static_cast<std::int32_t>(100 * i)));
            }
            const auto outcomes = run_batch(batch_list(folder.path()), RunSettings{}, 2, {});
            all_done = std::all_of(outcomes.begin(), outcomes.end(),
                                   [](const FileOutcome& o) { return o.summary.has_value(); });
        }
        // A block as large as a small sheet's tables.
        std::exit(all_done && freed_block_kept(std::size_t{3} << 20) ? 0 : 1);
    };
    EXPECT_EXIT(batch_then_kept(3), ::testing::ExitedWithCode(0), "");
    // A single sheet leaves the allocator as it was: such a block goes back to the system.
    EXPECT_EXIT(batch_then_kept(1), ::testing::ExitedWithCode(1), "");
}
#endif

TEST(RunBatch, EmptyListGivesNoOutcomes) {
    EXPECT_TRUE(run_batch({}, RunSettings{}, 4).empty());
}

/// Writes the same generated sheets and codes file into a fresh folder, runs the batch with
/// `jobs` and returns every file of the folder afterwards.
std::map<std::string, Bytes> batch_result(unsigned jobs) {
    TempFolder folder;
    testing::write_generated_batch(folder, 1, 13, "codigos.CFG");
    RunSettings common;
    common.codes = folder / "codigos.CFG";
    common.unit = Unit::centimetres;
    common.all_elements = true;
    (void)run_batch(batch_list(folder.path()), common, jobs);

    std::map<std::string, Bytes> files;
    for (const std::string& name : folder.names()) {
        files[name] = read_bytes((folder / name).string());
    }
    return files;
}

TEST(RunBatch, SameFilesWhateverTheNumberOfJobs) {
    const auto one = batch_result(1);
    EXPECT_GT(one.size(), 13u); // the 12 sheets, the codes file and what the runs wrote
    EXPECT_EQ(batch_result(2), one);
    EXPECT_EQ(batch_result(5), one);
}

TEST(RunBatch, FileWrittenByAnEarlierFileIsReadAfterIt) {
    // Given by hand, a list may hold a file and its own output, beside it or in the output
    // folder; the output is then read as the earlier file left it, whatever the number of jobs.
    for (const bool in_output_folder : {false, true}) {
        for (const unsigned jobs : {1u, 2u, 3u}) {
            TempFolder folder;
            std::filesystem::create_directory(folder / "sal");
            const std::filesystem::path written =
                in_output_folder ? folder / "sal" / "a_sal.bin" : folder / "a_sal.bin";
            write_bytes((folder / "a.bin").string(), joinable_sheet(0));
            write_bytes(written.string(), joinable_sheet(500));
            const std::vector<std::filesystem::path> inputs{folder / "a.bin", written,
                                                            folder / "a.bin"};
            RunSettings common;
            common.output_folder = in_output_folder ? folder / "sal" : std::filesystem::path();
            const auto outcomes = run_batch(inputs, common, jobs);
            ASSERT_TRUE(outcomes[1].summary);
            // a_sal.bin then holds a's single joined line: nothing left to join.
            EXPECT_EQ(outcomes[1].summary->lines_read, 1) << jobs << in_output_folder;
            EXPECT_EQ(outcomes[1].summary->joins, 0) << jobs << in_output_folder;
            EXPECT_TRUE(read_bytes((written.parent_path() / "a_sal_sal.bin").string()).empty());
        }
    }
}

// The codes file is read once for a whole batch: taken away after the first sheet, it still
// gives the later sheets their direction. A codes file that cannot be read fails every sheet.
TEST(RunBatch, CodesFileIsReadOnceForTheWholeBatch) {
    TempFolder folder;
    for (const char* sheet : {"a.bin", "b.bin", "c.bin"}) {
        write_bytes((folder / sheet).string(), testing::head_to_head_sheet());
    }
    write_bytes((folder / "codigos.CFG").string(), bytes_of("RIO0001,1\n"));
    RunSettings common;
    common.codes = folder / "codigos.CFG";
    const auto outcomes =
        run_batch(batch_list(folder.path()), common, 1, [&](std::size_t, const FileOutcome&) {
            std::filesystem::remove(folder / "codigos.CFG");
        });
    for (const FileOutcome& outcome : outcomes) {
        ASSERT_TRUE(outcome.summary) << outcome.error;
        EXPECT_EQ(outcome.summary->direction_errors, 1) << outcome.input;
    }

    const auto failed = run_batch(batch_list(folder.path()), common, 2);
    ASSERT_EQ(failed.size(), 3u);
    for (const FileOutcome& outcome : failed) {
        EXPECT_FALSE(outcome.summary);
        EXPECT_NE(outcome.error.find("codigos.CFG: no se puede abrir"), std::string::npos)
            << outcome.error;
    }
}

// A stop asked for after the first sheet: that sheet keeps its results, the others are not
// started and keep their older outputs; nothing is left half written.
TEST(RunBatch, StoppedAfterTheFirstSheetTheOthersAreCancelledAndKeepTheirOlderOutputs) {
    TempFolder folder;
    for (const char* sheet : {"a", "b", "c"}) {
        write_bytes((folder / (std::string(sheet) + ".bin")).string(), joinable_sheet(0));
        write_bytes((folder / (std::string(sheet) + "_sal.bin")).string(), bytes_of("antiguo"));
    }
    std::stop_source stop;
    RunSettings common;
    common.stop = stop.get_token();
    const auto outcomes = run_batch(batch_list(folder.path()), common, 1,
                                    [&](std::size_t, const FileOutcome&) { stop.request_stop(); });

    ASSERT_EQ(outcomes.size(), 3u);
    EXPECT_TRUE(outcomes[0].summary);
    for (std::size_t i = 1; i < 3; ++i) {
        EXPECT_TRUE(outcomes[i].cancelled) << i;
        EXPECT_FALSE(outcomes[i].summary) << i;
    }
    EXPECT_NE(read_bytes((folder / "a_sal.bin").string()), bytes_of("antiguo"));
    EXPECT_EQ(read_bytes((folder / "b_sal.bin").string()), bytes_of("antiguo"));
    EXPECT_EQ(read_bytes((folder / "c_sal.bin").string()), bytes_of("antiguo"));
    EXPECT_EQ(folder.names().size(), 6u);
    EXPECT_EQ(cancelled_message(outcomes), "PROCESO Cancelado. Hojas terminadas: 1 de 3.");

    // Asked before a sheet starts, its run throws and writes nothing.
    RunSettings one = common;
    one.input = folder / "b.bin";
    EXPECT_THROW((void)ProcesamosFichero(one), Cancelled);
    EXPECT_EQ(read_bytes((folder / "b_sal.bin").string()), bytes_of("antiguo"));
}

} // namespace
} // namespace tarvel::run
