// Faults around the run given to the real program: inputs and codes files that are missing,
// unreadable or odd, outputs that cannot be written or would overwrite what the run reads,
// a full disk. A failed file exits 1 and names the file; nothing on disk changes and no
// temporary remains.
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include "tests/robustness/robustness_fixture.hpp"
#include "tests/support/digi_builder.hpp"

namespace tarvel::testing {
namespace {

namespace fs = std::filesystem;

// ---------------------------------------------------------------------------------------------
// Inputs

using InputGiven = RobustnessTest;

TEST_F(InputGiven, MissingInputFailsNamingItAndCreatesNothing) {
    const Snapshot before = snapshot(folder.path());
    const ProcessOutcome run = run_tarvel({path("no-existe.bin")});
    EXPECT_EQ(run.exit_code, 1) << describe(run);
    EXPECT_TRUE(Contains(run.err, path("no-existe.bin") + ": no se puede abrir"));
    EXPECT_EQ(snapshot(folder.path()), before) << names(snapshot(folder.path()));
}

TEST_F(InputGiven, UnreadableInputFailsNamingItAndKeepsTheOlderOutput) {
    const std::optional<uid_t> user = unprivileged_user();
    open_folder_to_everyone();
    put("hoja.bin", joining_pair(0));
    put("hoja_sal.bin", older_output());
    fs::permissions(path("hoja.bin"), fs::perms::none, fs::perm_options::replace);
    const Snapshot before = snapshot(folder.path());

    // As root, permissions do not stop a read: the run is made as an unprivileged user.
    const ProcessOutcome run = run_tarvel({path("hoja.bin")}, run_as(user));

    EXPECT_EQ(run.exit_code, 1) << describe(run);
    EXPECT_TRUE(Contains(run.err, path("hoja.bin") + ": no se puede abrir"));
    EXPECT_EQ(snapshot(folder.path()), before) << names(snapshot(folder.path()));
}

TEST_F(InputGiven, PathThroughAFileFailsNamingIt) {
    put("hoja.bin", joining_pair(0));
    const Snapshot before = snapshot(folder.path());
    const ProcessOutcome run = run_tarvel({path("hoja.bin") + "/otra.bin"});
    EXPECT_EQ(run.exit_code, 1) << describe(run);
    EXPECT_TRUE(Contains(run.err, path("hoja.bin") + "/otra.bin: no se puede abrir"));
    EXPECT_EQ(snapshot(folder.path()), before);
}

// A named pipe without a writer must not keep the run waiting for good: it is no sheet.
TEST_F(InputGiven, NamedPipeAsInputFailsWithoutWaitingForAWriter) {
    ASSERT_EQ(::mkfifo(path("tubo.bin").c_str(), 0666), 0) << std::strerror(errno);
    const Snapshot before = snapshot(folder.path());
    TarvelProcess child({path("tubo.bin")});
    ASSERT_TRUE(child.ends_within(60'000)) << "tarvel waits for a writer on the named pipe";
    const ProcessOutcome run = child.wait();
    EXPECT_EQ(run.exit_code, 1) << describe(run);
    EXPECT_TRUE(Contains(run.err, path("tubo.bin") + ": no es un fichero"));
    EXPECT_EQ(snapshot(folder.path()), before);
}

// A folder given as input is batch mode: its *.bin files, not folders named *.bin, not
// temporaries a killed run left behind.
TEST_F(InputGiven, FolderGivenAsInputIsABatchOfItsSheets) {
    put("a.bin", joining_pair(1));
    put("B.BIN", joining_pair(2));
    fs::create_directory(path("carpeta.bin"));
    put("carpeta.bin/dentro.bin", joining_pair(3));
    put(".tarvel-a_sal.bin.123-456.tmp", joining_pair(4));
    put("notas.txt", joining_pair(5));
    const Snapshot before = snapshot(folder.path());

    const ProcessOutcome run = run_tarvel({folder.path().string()});

    EXPECT_EQ(run.exit_code, 0) << describe(run);
    Snapshot expected = before;
    expected["a_sal.bin"] = text_of(joined_pair_output(1));
    expected["B_sal.BIN"] = text_of(joined_pair_output(2));
    EXPECT_EQ(snapshot(folder.path()), expected) << names(snapshot(folder.path()));
}

TEST_F(InputGiven, OutputNameWithAFolderInputIsAUsageError) {
    put("a.bin", joining_pair(1));
    const Snapshot before = snapshot(folder.path());
    const ProcessOutcome run = run_tarvel({"-o", path("salida.bin"), folder.path().string()});
    EXPECT_EQ(run.exit_code, 2) << describe(run);
    EXPECT_TRUE(Contains(run.err, "--output"));
    EXPECT_EQ(snapshot(folder.path()), before);
}

// ---------------------------------------------------------------------------------------------
// Output target

using OutputGiven = RobustnessTest;

TEST_F(OutputGiven, OutputNamingAFolderFailsAndLeavesTheFolderAlone) {
    put("hoja.bin", joining_pair(0));
    fs::create_directory(path("salida"));
    put("salida/dentro.bin", older_output());
    const Snapshot before = snapshot(folder.path());

    const ProcessOutcome run = run_tarvel({"-o", path("salida"), path("hoja.bin")});

    EXPECT_EQ(run.exit_code, 1) << describe(run);
    EXPECT_TRUE(Contains(run.err, path("salida") + ": "));
    EXPECT_EQ(snapshot(folder.path()), before) << names(snapshot(folder.path()));
}

TEST_F(OutputGiven, OutputInAMissingFolderFailsAndCreatesNoFolder) {
    put("hoja.bin", joining_pair(0));
    const Snapshot before = snapshot(folder.path());
    const ProcessOutcome run = run_tarvel({"-o", path("no-existe/salida.bin"), path("hoja.bin")});
    EXPECT_EQ(run.exit_code, 1) << describe(run);
    EXPECT_TRUE(Contains(run.err, path("no-existe/salida.bin") + ": no se puede crear"));
    EXPECT_EQ(snapshot(folder.path()), before);
}

TEST_F(OutputGiven, ReadOnlyOutputFolderFailsAndKeepsTheOlderOutput) {
    const std::optional<uid_t> user = unprivileged_user();
    put("hoja.bin", joining_pair(0));
    put("hoja_sal.bin", older_output());
    // As root a folder's permissions do not stop a write: the run is made as an
    // unprivileged user, who may read the input but not write in the folder.
    fs::permissions(folder.path(),
                    fs::perms::owner_read | fs::perms::owner_exec | fs::perms::group_read |
                        fs::perms::group_exec | fs::perms::others_read | fs::perms::others_exec,
                    fs::perm_options::replace);
    const Snapshot before = snapshot(folder.path());

    const ProcessOutcome run = run_tarvel({path("hoja.bin")}, run_as(user));

    EXPECT_EQ(run.exit_code, 1) << describe(run);
    EXPECT_TRUE(Contains(run.err, path("hoja_sal.bin") + ": no se puede crear"));
    EXPECT_EQ(snapshot(folder.path()), before) << names(snapshot(folder.path()));
}

// A device named as the output (say /dev/full or /dev/null) must not be replaced by a regular
// file: the tool writes its output by renaming a finished temporary over the target, which
// for a device node would remove the device. A copy of /dev/full in the test folder stands
// for the real one, which a failing run as root would destroy.
TEST_F(OutputGiven, DeviceNamedAsOutputIsNotReplaced) {
    put("hoja.bin", joining_pair(0));
    std::string device = "/dev/full";
    if (::geteuid() == 0) {
        device = path("full");
        ASSERT_EQ(::mknod(device.c_str(), S_IFCHR | 0666, makedev(1, 7)), 0)
            << std::strerror(errno);
    }
    const Snapshot before = snapshot(folder.path());

    const ProcessOutcome run = run_tarvel({"-o", device, path("hoja.bin")});

    EXPECT_EQ(run.exit_code, 1) << describe(run);
    EXPECT_TRUE(Contains(run.err, device + ": "));
    struct stat info {};
    ASSERT_EQ(::lstat(device.c_str(), &info), 0);
    EXPECT_TRUE(S_ISCHR(info.st_mode)) << device << " is no longer a device";
    EXPECT_EQ(snapshot(folder.path()), before) << names(snapshot(folder.path()));
}

// The error file cannot take its name (a folder holds it), so the run fails; having failed,
// it must not have replaced the older output either.
TEST_F(OutputGiven, ErrorFileNameTakenByAFolderFailsAndKeepsTheOlderOutput) {
    put("hoja.bin", head_to_head_pair());
    put_text("sentido.cfg", "RIO0001,1\n");
    put("hoja_sal.bin", older_output());
    fs::create_directory(path("hoja_err.bin"));
    const Snapshot before = snapshot(folder.path());

    const ProcessOutcome run = run_tarvel({"-c", path("sentido.cfg"), path("hoja.bin")});

    EXPECT_EQ(run.exit_code, 1) << describe(run);
    EXPECT_TRUE(Contains(run.err, path("hoja_err.bin") + ": "));
    EXPECT_EQ(snapshot(folder.path()), before) << names(snapshot(folder.path()));
}

/// A small tmpfs mounted in a mount namespace of this process alone, so that it vanishes with
/// the process whatever happens to the test.
class SmallDisk {
public:
    SmallDisk(const fs::path& where, const std::string& size) : m_where(where) {
        fs::create_directory(where);
        if (::unshare(CLONE_NEWNS) != 0 ||
            ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
            ::mount("tarvel-lleno", where.c_str(), "tmpfs", 0, ("size=" + size).c_str()) != 0) {
            m_error = std::strerror(errno);
            return;
        }
        m_mounted = true;
    }
    ~SmallDisk() {
        if (m_mounted) {
            ::umount2(m_where.c_str(), MNT_DETACH);
        }
    }
    SmallDisk(const SmallDisk&) = delete;
    SmallDisk& operator=(const SmallDisk&) = delete;

    [[nodiscard]] bool mounted() const noexcept { return m_mounted; }
    [[nodiscard]] const std::string& error() const noexcept { return m_error; }

private:
    fs::path m_where;
    bool m_mounted = false;
    std::string m_error;
};

TEST_F(OutputGiven, DiskFillingUpDuringTheWriteFailsAndKeepsTheOlderOutput) {
    SmallDisk disk(folder / "lleno", "64k");
    if (!disk.mounted()) {
        GTEST_SKIP() << "cannot mount a small tmpfs here (" << disk.error()
                     << "); the full-disk path is then untested";
    }
    // About 300 KiB of output for a 64 KiB disk.
    DigiBuilder sheet;
    for (std::int32_t i = 0; i < 3000; ++i) {
        sheet.line("RIO0001", {{0, 2 * i, 0}, {10, 2 * i, 0}, {20, 2 * i, 0}, {30, 2 * i, 0}});
    }
    put("hoja.bin", sheet.bytes());
    put("lleno/salida.bin", older_output());
    const Snapshot before = snapshot(folder.path());

    const ProcessOutcome run = run_tarvel({"-a", "-o", path("lleno/salida.bin"), path("hoja.bin")});

    EXPECT_EQ(run.exit_code, 1) << describe(run);
    EXPECT_TRUE(Contains(run.err, path("lleno/salida.bin") + ": no se puede escribir"));
    EXPECT_EQ(snapshot(folder.path()), before) << names(snapshot(folder.path()));
}

// The output fits on the disk and the error file does not: both are written and synced
// before either replaces its target, so the older output and error file both stay.
TEST_F(OutputGiven, DiskFillingUpWithTheErrorFileKeepsBothOlderFiles) {
    SmallDisk disk(folder / "lleno", "256k");
    if (!disk.mounted()) {
        GTEST_SKIP() << "cannot mount a small tmpfs here (" << disk.error() << ")";
    }
    // 800 pairs meeting head to head: 112 KiB of sheet, as much output with every element,
    // and 56 KiB of error file, one more than the disk holds.
    DigiBuilder sheet;
    for (std::int32_t i = 0; i < 800; ++i) {
        sheet.line("RIO0001", {{10, 2 * i, 0}, {0, 2 * i, 0}});
        sheet.line("RIO0001", {{10, 2 * i, 0}, {20, 2 * i, 0}});
    }
    put("lleno/hoja.bin", sheet.bytes());
    put("lleno/hoja_sal.bin", older_output());
    put("lleno/hoja_err.bin", older_output());
    put_text("sentido.cfg", "RIO0001,1\n");
    const Snapshot before = snapshot(folder.path());

    const ProcessOutcome run =
        run_tarvel({"-a", "-c", path("sentido.cfg"), path("lleno/hoja.bin")});

    EXPECT_EQ(run.exit_code, 1) << describe(run);
    EXPECT_TRUE(Contains(run.err, path("lleno/hoja_err.bin") + ": no se puede escribir"));
    EXPECT_EQ(snapshot(folder.path()), before) << names(snapshot(folder.path()));
}

TEST_F(OutputGiven, OutputNamedAsTheInputIsRefusedInEverySpelling) {
    put("hoja.bin", joining_pair(0));
    fs::create_directory(path("sub"));
    fs::create_hard_link(path("hoja.bin"), path("sub/enlace-duro.bin"));
    fs::create_symlink(path("hoja.bin"), path("sub/enlace.bin"));
    const Snapshot before = snapshot(folder.path());

    for (const std::string& output :
         {path("hoja.bin"), path("sub/../hoja.bin"), folder.path().string() + "/./hoja.bin",
          path("sub/enlace-duro.bin"), path("sub/enlace.bin")}) {
        const ProcessOutcome run = run_tarvel({"-a", "-o", output, path("hoja.bin")});
        EXPECT_EQ(run.exit_code, 1) << output << "\n" << describe(run);
        EXPECT_TRUE(Contains(run.err, output + ": la salida sería el propio fichero de entrada"));
        EXPECT_EQ(snapshot(folder.path()), before) << output;
    }
}

TEST_F(OutputGiven, OutputOrErrorFileNamedAsTheCodesFileIsRefused) {
    put("hoja.bin", head_to_head_pair());
    put_text("sentido.cfg", "RIO0001,1\n");
    put_text("hoja_err.bin", "RIO0001,1\n");
    const Snapshot before = snapshot(folder.path());

    const ProcessOutcome as_output =
        run_tarvel({"-c", path("sentido.cfg"), "-o", path("sentido.cfg"), path("hoja.bin")});
    EXPECT_EQ(as_output.exit_code, 1) << describe(as_output);
    EXPECT_TRUE(
        Contains(as_output.err, path("sentido.cfg") + ": la salida sería el fichero de códigos"));
    EXPECT_EQ(snapshot(folder.path()), before);

    const ProcessOutcome as_errors = run_tarvel({"-c", path("hoja_err.bin"), path("hoja.bin")});
    EXPECT_EQ(as_errors.exit_code, 1) << describe(as_errors);
    EXPECT_TRUE(Contains(as_errors.err, path("hoja_err.bin") +
                                            ": el fichero de errores sería el fichero de códigos"));
    EXPECT_EQ(snapshot(folder.path()), before);
}

// ---------------------------------------------------------------------------------------------
// Codes file

class CodesFileGiven : public RobustnessTest {
protected:
    void SetUp() override {
        put("hoja.bin", head_to_head_pair());
        put("hoja_sal.bin", older_output());
    }

    /// Runs with the codes file `name` in metres and checks that the run succeeds with the
    /// direction error of RIO0001 marked, or with none when `rio_has_direction` is false.
    void expect_direction_of_rio(const std::string& name, bool rio_has_direction) {
        const Snapshot before = snapshot(folder.path());
        const ProcessOutcome run = run_tarvel({"-u", "m", "-c", path(name), path("hoja.bin")});
        EXPECT_EQ(run.exit_code, 0) << describe(run);
        Snapshot expected = before;
        if (rio_has_direction) {
            // No join: the output holds nothing; one marker at the head-to-head node.
            expected["hoja_sal.bin"] = "";
            expected["hoja_err.bin"] = text_of(head_to_head_errors(1));
        } else {
            expected["hoja_sal.bin"] =
                text_of(DigiBuilder{}.line("RIO0001", {{0, 0, 7}, {10, 0, 7}, {20, 0, 7}}).bytes());
        }
        EXPECT_EQ(snapshot(folder.path()), expected) << names(snapshot(folder.path()));
    }
};

TEST_F(CodesFileGiven, MissingCodesFileFailsBeforeAnythingIsWritten) {
    const Snapshot before = snapshot(folder.path());
    const ProcessOutcome run = run_tarvel({"-c", path("no-existe.cfg"), path("hoja.bin")});
    EXPECT_EQ(run.exit_code, 1) << describe(run);
    EXPECT_TRUE(Contains(run.err, path("no-existe.cfg") + ": no se puede abrir"));
    EXPECT_EQ(snapshot(folder.path()), before);
}

TEST_F(CodesFileGiven, UnreadableCodesFileFailsBeforeAnythingIsWritten) {
    const std::optional<uid_t> user = unprivileged_user();
    open_folder_to_everyone();
    put_text("sentido.cfg", "RIO0001,1\n");
    fs::permissions(path("sentido.cfg"), fs::perms::none, fs::perm_options::replace);
    const Snapshot before = snapshot(folder.path());

    const ProcessOutcome run =
        run_tarvel({"-c", path("sentido.cfg"), path("hoja.bin")}, run_as(user));

    EXPECT_EQ(run.exit_code, 1) << describe(run);
    EXPECT_TRUE(Contains(run.err, path("sentido.cfg") + ": no se puede abrir"));
    EXPECT_EQ(snapshot(folder.path()), before) << names(snapshot(folder.path()));
}

TEST_F(CodesFileGiven, FolderAsCodesFileFails) {
    fs::create_directory(path("codigos"));
    const Snapshot before = snapshot(folder.path());
    const ProcessOutcome run = run_tarvel({"-c", path("codigos"), path("hoja.bin")});
    EXPECT_EQ(run.exit_code, 1) << describe(run);
    EXPECT_TRUE(Contains(run.err, path("codigos") + ": "));
    EXPECT_EQ(snapshot(folder.path()), before);
}

TEST_F(CodesFileGiven, NamedPipeAsCodesFileFailsWithoutWaitingForAWriter) {
    ASSERT_EQ(::mkfifo(path("tubo.cfg").c_str(), 0666), 0) << std::strerror(errno);
    const Snapshot before = snapshot(folder.path());
    TarvelProcess child({"-c", path("tubo.cfg"), path("hoja.bin")});
    ASSERT_TRUE(child.ends_within(60'000)) << "tarvel waits for a writer on the named pipe";
    const ProcessOutcome run = child.wait();
    EXPECT_EQ(run.exit_code, 1) << describe(run);
    EXPECT_TRUE(Contains(run.err, path("tubo.cfg") + ": no es un fichero"));
    EXPECT_EQ(snapshot(folder.path()), before);
}

// Binary content is read as fields like any text; none of them is a code of the sheet.
TEST_F(CodesFileGiven, BinaryCodesFileGivesNoDirection) {
    std::string binary;
    for (int c = 0; c < 256; ++c) {
        if (c != ',' && c != '\n' && c != 'R') {
            binary.push_back(static_cast<char>(c));
        }
    }
    put_text("binario.cfg", binary + binary);
    expect_direction_of_rio("binario.cfg", false);
}

TEST_F(CodesFileGiven, QuotedFieldsKeepTheirCommas) {
    put_text("comillas.cfg", "\"CAM0001, con coma\",1\n  \"RIO0001\" resto ignorado,\"0,0\"\n");
    expect_direction_of_rio("comillas.cfg", true);
}

// A quoted field that runs over a line end does not shift the pairs after it.
TEST_F(CodesFileGiven, QuotedFieldRunsOverALineEnd) {
    put_text("varias.cfg", "\"CAM\n0001\",1\nRIO0001,1\n");
    expect_direction_of_rio("varias.cfg", true);
}

TEST_F(CodesFileGiven, CrlfLineEndsReadAsLf) {
    put_text("crlf.cfg", "CAM0001,1\r\nRIO0001,1\r\n\r\n");
    expect_direction_of_rio("crlf.cfg", true);
}

TEST_F(CodesFileGiven, FinalFieldAloneIsKept) {
    put_text("final.cfg", "CAM0001,1\nRIO0001");
    expect_direction_of_rio("final.cfg", true);
}

TEST_F(CodesFileGiven, EmptyCodesFileGivesNoDirection) {
    put_text("vacio.cfg", "");
    expect_direction_of_rio("vacio.cfg", false);
}

} // namespace
} // namespace tarvel::testing
