// The real program under load and interruption: killed while it writes a large output, a
// batch of ten thousand sheets with some bad ones, two batches at once, and the same bytes
// from every run whatever the number of jobs.
#include <algorithm>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <poll.h>
#include <sys/inotify.h>
#include <unistd.h>

#include "run/batch.hpp"
#include "tests/robustness/robustness_fixture.hpp"
#include "tests/support/digi_builder.hpp"
#include "tests/support/generator.hpp"

namespace tarvel::testing {
namespace {

namespace fs = std::filesystem;

/// A file sink for the large generated sheet.
class FileSink final : public digi::ByteSink {
public:
    explicit FileSink(const std::string& path) : m_path(path) { write_bytes(path, {}); }
    void write(std::span<const std::byte> bytes) override {
        std::vector<std::byte> chunk(bytes.begin(), bytes.end());
        std::FILE* f = std::fopen(m_path.c_str(), "ab");
        ASSERT_NE(f, nullptr);
        EXPECT_EQ(std::fwrite(chunk.data(), 1, chunk.size(), f), chunk.size());
        std::fclose(f);
    }

private:
    std::string m_path;
};

/// A realistic sheet whose output with every element is several MiB, so that writing it
/// takes several flushes of the output buffer.
void put_large_sheet(const std::string& path) {
    LargeSheetOptions options;
    options.lines = 60'000;
    FileSink sink(path);
    (void)write_large_sheet(7, options, sink);
}

using Interrupted = RobustnessTest;

// SIGKILL as soon as the temporary output has been written to: the older output is still
// whole, the input untouched; the temporary left behind is never taken for a sheet.
TEST_F(Interrupted, KilledWhileWritingKeepsTheOlderOutputAndItsLeftoverIsNoSheet) {
    put_large_sheet(path("grande.bin"));
    put("grande_sal.bin", older_output());
    const Snapshot before = snapshot(folder.path());

    const int watch = ::inotify_init1(IN_CLOEXEC);
    ASSERT_GE(watch, 0);
    ASSERT_GE(::inotify_add_watch(watch, folder.path().c_str(), IN_MODIFY), 0);
    TarvelProcess child({"-a", path("grande.bin")});
    bool killed = false;
    while (!killed) {
        pollfd fds[2] = {{watch, POLLIN, 0}, {child.exit_descriptor(), POLLIN, 0}};
        ASSERT_GT(::poll(fds, 2, -1), 0);
        if ((fds[1].revents & POLLIN) != 0 && (fds[0].revents & POLLIN) == 0) {
            break; // it ended before writing anything: reported below
        }
        alignas(inotify_event) char events[4096];
        const ssize_t got = ::read(watch, events, sizeof events);
        ASSERT_GT(got, 0);
        for (ssize_t at = 0; at < got;) {
            const auto* event = reinterpret_cast<const inotify_event*>(events + at);
            if (event->len > 0 && std::strncmp(event->name, ".tarvel-", 8) == 0) {
                ::kill(child.pid(), SIGKILL);
                killed = true;
            }
            at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
        }
    }
    ::close(watch);
    const ProcessOutcome run = child.wait();
    ASSERT_EQ(run.term_signal, SIGKILL)
        << "the run was not killed while writing: " << describe(run);

    const Snapshot after = snapshot(folder.path());
    EXPECT_EQ(after.at("grande.bin"), before.at("grande.bin"));
    EXPECT_EQ(after.at("grande_sal.bin"), text_of(older_output()));
    const std::vector<std::string> leftovers = temporaries(after);
    ASSERT_EQ(leftovers.size(), 1u) << names(after);
    EXPECT_TRUE(leftovers.front().ends_with(".tmp")) << leftovers.front();
    EXPECT_FALSE(after.at(leftovers.front()).empty());
    EXPECT_EQ(after.size(), 3u) << names(after);

    // The batch of that folder is the sheet alone.
    EXPECT_EQ(run::batch_list(folder.path()), std::vector<fs::path>{folder / "grande.bin"});
    // A batch on the leftover and a small sheet (the large one and its output taken away, so
    // that the batch stays quick) processes the small sheet alone and leaves the leftover be.
    fs::remove(path("grande.bin"));
    fs::remove(path("grande_sal.bin"));
    put("pequena.bin", joining_pair(3));
    const Snapshot before_batch = snapshot(folder.path());
    const ProcessOutcome batch = run_tarvel({folder.path().string()});
    EXPECT_EQ(batch.exit_code, 0) << describe(batch);
    EXPECT_FALSE(Contains(batch.out + batch.err, ".tarvel-"));
    Snapshot expected = before_batch;
    expected["pequena_sal.bin"] = text_of(joined_pair_output(3));
    EXPECT_EQ(snapshot(folder.path()), expected) << names(snapshot(folder.path()));
}

// The same at an exact byte: the system ends the run with SIGXFSZ when the temporary passes
// a size limit, in the middle of writing it.
TEST_F(Interrupted, EndedAtAFileSizeLimitKeepsTheOlderOutput) {
    put_large_sheet(path("grande.bin"));
    put("grande_sal.bin", older_output());
    const Snapshot before = snapshot(folder.path());

    const ProcessOutcome run =
        run_tarvel({"-a", path("grande.bin")}, file_size_limited(1'500'000ul));

    ASSERT_EQ(run.term_signal, SIGXFSZ) << describe(run);
    const Snapshot after = snapshot(folder.path());
    EXPECT_EQ(after.at("grande.bin"), before.at("grande.bin"));
    EXPECT_EQ(after.at("grande_sal.bin"), text_of(older_output()));
    const std::vector<std::string> leftovers = temporaries(after);
    ASSERT_EQ(leftovers.size(), 1u) << names(after);
    EXPECT_EQ(after.at(leftovers.front()).size(), 1'500'000u);
    EXPECT_EQ(run::batch_list(folder.path()), std::vector<fs::path>{folder / "grande.bin"});
}

/// Waits until `child` writes to one of its temporaries in `folder`, then sends it `signal`.
/// False when the child ended first.
bool signal_while_writing(TarvelProcess& child, const fs::path& folder, int signal) {
    const int watch = ::inotify_init1(IN_CLOEXEC);
    if (watch < 0 || ::inotify_add_watch(watch, folder.c_str(), IN_MODIFY) < 0) {
        return false;
    }
    bool sent = false;
    while (!sent) {
        pollfd fds[2] = {{watch, POLLIN, 0}, {child.exit_descriptor(), POLLIN, 0}};
        if (::poll(fds, 2, -1) <= 0 ||
            ((fds[1].revents & POLLIN) != 0 && (fds[0].revents & POLLIN) == 0)) {
            break;
        }
        alignas(inotify_event) char events[4096];
        const ssize_t got = ::read(watch, events, sizeof events);
        for (ssize_t at = 0; at < got;) {
            const auto* event = reinterpret_cast<const inotify_event*>(events + at);
            if (!sent && event->len > 0 && std::strncmp(event->name, ".tarvel-", 8) == 0) {
                ::kill(child.pid(), signal);
                sent = true;
            }
            at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
        }
    }
    ::close(watch);
    return sent;
}

struct StopCase {
    const char* name;
    int signal;
    int exit_code;
};

class Stopped : public RobustnessTest, public ::testing::WithParamInterface<StopCase> {};

// A stop signal in the middle of a batch of large sheets: the program removes what it was
// writing, names the sheet it was on and ends with 128 + the signal; each output is either
// the older one or the whole new one, never a part, and no temporary is left.
TEST_P(Stopped, RemovesItsTemporariesNamesTheSheetAndKeepsOlderOutputs) {
    const StopCase& c = GetParam();
    put_large_sheet(path("grande1.bin"));
    fs::copy_file(path("grande1.bin"), path("grande2.bin"));
    fs::copy_file(path("grande1.bin"), path("grande3.bin"));
    const ProcessOutcome whole = run_tarvel({"-a", "-j", "1", folder.path().string()});
    ASSERT_EQ(whole.exit_code, 0) << describe(whole);
    const std::string complete = text_of(get("grande1_sal.bin"));
    for (const char* sheet : {"grande1_sal.bin", "grande2_sal.bin", "grande3_sal.bin"}) {
        put(sheet, older_output());
    }

    TarvelProcess child({"-a", "-j", "1", folder.path().string()});
    ASSERT_TRUE(signal_while_writing(child, folder.path(), c.signal)) << "the batch ended first";
    const ProcessOutcome run = child.wait();

    EXPECT_EQ(run.exit_code, c.exit_code) << describe(run);
    EXPECT_TRUE(Contains(run.err, std::string("interrumpido por ") + c.name));
    EXPECT_TRUE(Contains(run.err, path("grande")));
    const Snapshot after = snapshot(folder.path());
    EXPECT_TRUE(temporaries(after).empty()) << names(after);
    EXPECT_EQ(after.size(), 6u) << names(after);
    for (const char* sheet : {"grande1_sal.bin", "grande2_sal.bin", "grande3_sal.bin"}) {
        const std::string& bytes = after.at(sheet);
        EXPECT_TRUE(bytes == text_of(older_output()) || bytes == complete)
            << sheet << " holds " << bytes.size() << " bytes";
    }
}

INSTANTIATE_TEST_SUITE_P(Signals, Stopped,
                         ::testing::Values(StopCase{"SIGINT", SIGINT, 130},
                                           StopCase{"SIGTERM", SIGTERM, 143},
                                           StopCase{"SIGHUP", SIGHUP, 129}),
                         [](const ::testing::TestParamInfo<StopCase>& p) {
                             return std::string(p.param.name);
                         });

using Load = RobustnessTest;

// Ten thousand tiny sheets, one in a thousand cut short: the batch exits 1, names every bad
// sheet with its byte, writes every good one, and leaves nothing else.
TEST_F(Load, TenThousandSheetBatchWritesEveryGoodSheetAndNamesEveryBadOne) {
    constexpr int sheets = 10'000;
    fs::create_directory(path("lote"));
    std::vector<int> bad;
    for (int i = 0; i < sheets; ++i) {
        char name[32];
        std::snprintf(name, sizeof name, "lote/h%05d.bin", i);
        std::vector<std::byte> bytes = joining_pair(i);
        if (i % 1000 == 999) {
            bytes.resize(bytes.size() - 3); // the second line is cut short
            bad.push_back(i);
        }
        put(name, bytes);
    }

    const ProcessOutcome run = run_tarvel({"-q", "-j", "2", path("lote")});

    EXPECT_EQ(run.exit_code, 1) << run.err.substr(0, 2000);
    EXPECT_TRUE(run.out.empty()) << run.out.substr(0, 2000);
    EXPECT_TRUE(Contains(run.err, "Ficheros no procesados: " + std::to_string(bad.size()) + " de " +
                                      std::to_string(sheets)));
    const Snapshot after = snapshot(path("lote"));
    EXPECT_EQ(after.size(), static_cast<std::size_t>(2 * sheets - static_cast<int>(bad.size())));
    EXPECT_TRUE(temporaries(after).empty());
    int good_written = 0;
    for (int i = 0; i < sheets; ++i) {
        char name[32];
        std::snprintf(name, sizeof name, "h%05d", i);
        const std::string output = std::string(name) + "_sal.bin";
        if (std::find(bad.begin(), bad.end(), i) != bad.end()) {
            // The second line starts at byte 73 (a 2-vertex line is 72 bytes).
            EXPECT_TRUE(Contains(run.err, path("lote/") + name + ".bin: byte 73: "));
            EXPECT_EQ(after.count(output), 0u) << output;
        } else {
            const auto found = after.find(output);
            good_written += found != after.end() && found->second == text_of(joined_pair_output(i));
        }
    }
    EXPECT_EQ(good_written, sheets - static_cast<int>(bad.size()));
}

/// A folder of generated sheets of every kind and a codes file naming their codes with
/// direction.
void put_generated_batch(const fs::path& folder, int first_seed, int count) {
    fs::create_directories(folder);
    std::vector<std::string> codes;
    for (int seed = first_seed; seed < first_seed + count; ++seed) {
        const SmallSheet sheet = generate_small_sheet(static_cast<std::uint64_t>(seed));
        char name[32];
        std::snprintf(name, sizeof name, "hoja%03d.bin", seed);
        write_bytes((folder / name).string(), sheet.bytes);
        codes.insert(codes.end(), sheet.direction_codes.begin(), sheet.direction_codes.end());
    }
    const std::string content = codes_file_content(codes);
    write_bytes((folder / "sentido.cfg").string(), bytes_of(content));
}

TEST_F(Load, TwoBatchesAtOnceOnDifferentFoldersGiveWhatEachGivesAlone) {
    for (const char* name : {"uno", "dos", "uno-solo", "dos-solo"}) {
        put_generated_batch(folder / name, std::string(name).rfind("uno", 0) == 0 ? 1 : 200, 60);
    }
    const auto args = [&](const std::string& name) {
        return std::vector<std::string>{
            "-q", "-a", "-u", "cm", "-j", "2", "-c", path(name + "/sentido.cfg"), path(name)};
    };
    TarvelProcess first(args("uno"));
    TarvelProcess second(args("dos"));
    const ProcessOutcome first_run = first.wait();
    const ProcessOutcome second_run = second.wait();
    const ProcessOutcome first_alone = run_tarvel(args("uno-solo"));
    const ProcessOutcome second_alone = run_tarvel(args("dos-solo"));

    for (const ProcessOutcome* run : {&first_run, &second_run, &first_alone, &second_alone}) {
        EXPECT_EQ(run->exit_code, 0) << describe(*run);
    }
    const Snapshot uno = snapshot(path("uno"));
    const Snapshot dos = snapshot(path("dos"));
    EXPECT_EQ(uno, snapshot(path("uno-solo")));
    EXPECT_EQ(dos, snapshot(path("dos-solo")));
    // Each batch wrote all of its own outputs and nothing of the other's.
    EXPECT_EQ(uno.size(), 61u + 60u +
                              static_cast<std::size_t>(
                                  std::count_if(uno.begin(), uno.end(), [](const auto& entry) {
                                      return entry.first.find("_err.") != std::string::npos;
                                  })));
    EXPECT_TRUE(temporaries(uno).empty() && temporaries(dos).empty());
}

// The same input gives the same bytes on every run and with any number of jobs.
TEST_F(Load, SameBytesOnEveryRunAndWithAnyJobs) {
    std::vector<Snapshot> results;
    std::vector<std::string> summaries;
    for (const char* jobs : {"1", "2", "3", "8", "1"}) {
        const std::string name = std::string("j") + jobs + "-" + std::to_string(results.size());
        put_generated_batch(folder / name, 1, 40);
        const ProcessOutcome run =
            run_tarvel({"-j", jobs, "-c", path(name + "/sentido.cfg"), "-u", "m", path(name)});
        EXPECT_EQ(run.exit_code, 0) << describe(run);
        results.push_back(snapshot(folder / name));
        std::string summary = run.out;
        // The summary names the folder of this run; the rest must be the same.
        for (std::size_t at = summary.find(name); at != std::string::npos;
             at = summary.find(name, at)) {
            summary.replace(at, name.size(), "X");
        }
        summaries.push_back(summary);
    }
    ASSERT_GT(results.front().size(), 81u) << "no error file was written: the batch is too easy";
    for (std::size_t i = 1; i < results.size(); ++i) {
        EXPECT_EQ(results[i], results.front()) << "run " << i;
        EXPECT_EQ(summaries[i], summaries.front()) << "run " << i;
    }

    // And run again over its own earlier outputs.
    const ProcessOutcome again =
        run_tarvel({"-j", "2", "-c", path("j1-0/sentido.cfg"), "-u", "m", path("j1-0")});
    EXPECT_EQ(again.exit_code, 0) << describe(again);
    EXPECT_EQ(snapshot(folder / "j1-0"), results.front());
}

} // namespace
} // namespace tarvel::testing
