// The real program started as a hostile user would start it: standard streams closed or
// leading to a pipe nobody reads, too little memory or no threads to be had, names as long
// as the file system takes, and older outputs that carry permissions or are links. Whatever
// happens, no output receives a byte it should not hold and a failure is never a success.
#include <filesystem>
#include <string>
#include <vector>

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "tests/robustness/robustness_fixture.hpp"
#include "tests/support/digi_builder.hpp"

namespace tarvel::testing {
namespace {

namespace fs = std::filesystem;
using Stream = ProcessOptions::Stream;

#if defined(__SANITIZE_ADDRESS__)
constexpr bool sanitized = true;
#else
constexpr bool sanitized = false;
#endif

/// Puts sheets hoja0.bin ... of joining pairs in `folder`; returns what the folder
/// holds once they have been processed.
Snapshot put_joining_pairs(const fs::path& folder, std::int32_t count) {
    Snapshot expected;
    for (std::int32_t i = 0; i < count; ++i) {
        const std::string sheet = "hoja" + std::to_string(i);
        write_bytes((folder / (sheet + ".bin")).string(), joining_pair(i));
        expected[sheet + ".bin"] = text_of(joining_pair(i));
        expected[sheet + "_sal.bin"] = text_of(joined_pair_output(i));
    }
    return expected;
}

// ---------------------------------------------------------------------------------------------
// Standard streams

struct StreamCase {
    const char* name;
    Stream out;
    Stream err;
    int exit_code; ///< summary lines lost are a failure; a lost progress line is not
};

class StandardStreams : public RobustnessTest, public ::testing::WithParamInterface<StreamCase> {};

// Six sheets processed two at a time: a descriptor the program was started without must
// never become an output's, so every output holds exactly its joined line.
TEST_P(StandardStreams, NoMessageEverReachesAnOutputFile) {
    const StreamCase& c = GetParam();
    const Snapshot expected = put_joining_pairs(folder.path(), 6);

    ProcessOptions options;
    options.out = c.out;
    options.err = c.err;
    const ProcessOutcome run = run_tarvel({"-j", "2", folder.path().string()}, options);

    EXPECT_EQ(run.exit_code, c.exit_code) << describe(run);
    EXPECT_EQ(snapshot(folder.path()), expected) << names(snapshot(folder.path()));
    if (c.exit_code != 0 && c.err == Stream::captured) {
        EXPECT_TRUE(Contains(run.err, "no se pueden escribir los resultados"));
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, StandardStreams,
    ::testing::Values(StreamCase{"salida_cerrada", Stream::closed, Stream::captured, 1},
                      StreamCase{"errores_cerrados", Stream::captured, Stream::closed, 0},
                      StreamCase{"ambas_cerradas", Stream::closed, Stream::closed, 1},
                      StreamCase{"tuberia_sin_lector", Stream::pipe_without_reader,
                                 Stream::captured, 1}),
    [](const ::testing::TestParamInfo<StreamCase>& p) { return std::string(p.param.name); });

// ---------------------------------------------------------------------------------------------
// Memory and threads

using Limits = RobustnessTest;

// A sheet too large for the memory the process may have fails with a Spanish reason of its
// own; the sheets around it are written and nothing is left behind.
TEST_F(Limits, OutOfMemoryIsThatSheetsFailureAndTheBatchGoesOn) {
    if (sanitized) {
        GTEST_SKIP() << "the sanitizers reserve more address space than the limit allows";
    }
    put("a.bin", joining_pair(1));
    put("c.bin", joining_pair(3));
    {
        // Four GiB that take no room on disk: reading them needs the memory all the same.
        const int fd = ::open(path("b.bin").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(::ftruncate(fd, off_t{4} << 30), 0);
        ::close(fd);
    }
    ProcessOptions options;
    options.address_space_limit = 1ul << 30;

    const ProcessOutcome run = run_tarvel({"-j", "2", folder.path().string()}, options);

    EXPECT_EQ(run.exit_code, 1) << describe(run);
    EXPECT_TRUE(Contains(run.err, path("b.bin") + ": memoria insuficiente"));
    EXPECT_EQ(run.err.find("bad_alloc"), std::string::npos) << run.err;
    fs::remove(path("b.bin")); // not read into a snapshot
    const Snapshot after = snapshot(folder.path());
    EXPECT_EQ(after.at("a_sal.bin"), text_of(joined_pair_output(1)));
    EXPECT_EQ(after.at("c_sal.bin"), text_of(joined_pair_output(3)));
    EXPECT_TRUE(temporaries(after).empty()) << names(after);
    EXPECT_EQ(after.size(), 4u) << names(after);
}

// With no thread to be had, four jobs become one and every sheet is still written.
TEST_F(Limits, NoThreadsToBeHadTheBatchFinishesWithOne) {
    const std::optional<uid_t> user = unprivileged_user();
    if (!user || sanitized) {
        GTEST_SKIP() << "the process limit binds only an unprivileged user, and the leak "
                        "checker needs a thread of its own";
    }
    open_folder_to_everyone();
    const Snapshot expected = put_joining_pairs(folder.path(), 4);
    ProcessOptions options;
    options.as_user = user;
    options.process_limit = 1;

    const ProcessOutcome run = run_tarvel({"-j", "4", folder.path().string()}, options);

    EXPECT_EQ(run.exit_code, 0) << describe(run);
    EXPECT_TRUE(run.err.empty()) << run.err;
    EXPECT_EQ(snapshot(folder.path()), expected) << names(snapshot(folder.path()));
}

// ---------------------------------------------------------------------------------------------
// Names

using LongNames = RobustnessTest;

// Input names whose output and error file names run up to the file system's 255 bytes: the
// temporaries beside them are named independently of them, so every such target works.
TEST_F(LongNames, AnyTargetNameTheFileSystemTakesWorks) {
    put_text("sentido.CFG", "RIO0001,1\n");
    for (const std::size_t length : {223u, 240u, 251u}) {
        const std::string sheet = std::string(length - 4, 'h') + ".bin";
        const std::string output = std::string(length - 4, 'h') + "_sal.bin";
        const std::string errors = std::string(length - 4, 'h') + "_err.bin";
        put(sheet, head_to_head_pair());

        const ProcessOutcome run = run_tarvel({"-u", "m", "-c", path("sentido.CFG"), path(sheet)});

        EXPECT_EQ(run.exit_code, 0) << length << "\n" << describe(run);
        const Snapshot after = snapshot(folder.path());
        ASSERT_TRUE(after.contains(output) && after.contains(errors)) << length;
        EXPECT_EQ(after.at(errors), text_of(head_to_head_errors(1))) << length;
        EXPECT_TRUE(temporaries(after).empty()) << names(after);
        fs::remove(path(sheet));
        fs::remove(path(output));
        fs::remove(path(errors));
    }
}

// ---------------------------------------------------------------------------------------------
// Replaced files

using ReplacedFiles = RobustnessTest;

// What belongs to a file stays with it when a run replaces its bytes: mode, group and (as
// root) owner; a link stays a link and the file it names gets the new bytes.
TEST_F(ReplacedFiles, KeepTheirPermissionsGroupOwnerAndLinks) {
    put("hoja.bin", joining_pair(0));
    put("hoja_sal.bin", older_output());
    ::chmod(path("hoja_sal.bin").c_str(), 0664);
    const bool root = ::geteuid() == 0;
    const uid_t owner = root ? 65534 : ::geteuid();
    const gid_t group = root ? 100 : ::getegid();
    ASSERT_EQ(::chown(path("hoja_sal.bin").c_str(), owner, group), 0);

    ProcessOutcome run = run_tarvel({path("hoja.bin")});

    EXPECT_EQ(run.exit_code, 0) << describe(run);
    struct stat info {};
    ASSERT_EQ(::stat(path("hoja_sal.bin").c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0664u);
    EXPECT_EQ(info.st_uid, owner);
    EXPECT_EQ(info.st_gid, group);
    EXPECT_EQ(get("hoja_sal.bin"), joined_pair_output(0));

    // -o through links: relative, absolute, a chain of two, and one whose file is missing.
    fs::create_directory(path("real"));
    put("real/destino.bin", older_output());
    fs::create_symlink("real/destino.bin", path("relativo.bin"));
    fs::create_symlink(path("real/otro.bin"), path("absoluto.bin"));
    put("real/otro.bin", older_output());
    fs::create_symlink("relativo.bin", path("cadena.bin"));
    fs::create_symlink("real/nuevo.bin", path("colgante.bin"));
    const struct {
        const char* link;
        const char* file;
    } links[] = {{"relativo.bin", "real/destino.bin"},
                 {"absoluto.bin", "real/otro.bin"},
                 {"cadena.bin", "real/destino.bin"},
                 {"colgante.bin", "real/nuevo.bin"}};
    for (const auto& [link, file] : links) {
        put("real/destino.bin", older_output());
        run = run_tarvel({"-o", path(link), path("hoja.bin")});
        EXPECT_EQ(run.exit_code, 0) << link << "\n" << describe(run);
        EXPECT_TRUE(fs::is_symlink(path(link))) << link;
        EXPECT_EQ(get(file), joined_pair_output(0)) << link;
        EXPECT_TRUE(temporaries(snapshot(folder.path())).empty()) << link;
    }
}

} // namespace
} // namespace tarvel::testing
