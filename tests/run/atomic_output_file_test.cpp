#include "run/atomic_output_file.hpp"

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <iterator>
#include <stdexcept>
#include <vector>

#include <fcntl.h>
#include <linux/magic.h>
#include <sys/mman.h>
#include <sys/vfs.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "common/errors.hpp"
#include "tests/run/temp_folder.hpp"
#include "tests/support/digi_builder.hpp"

namespace tarvel::run {
namespace {

using testing::bytes_of;
using testing::read_bytes;
using testing::TempFolder;
using testing::write_bytes;

std::size_t open_descriptors() {
    return static_cast<std::size_t>(
        std::distance(std::filesystem::directory_iterator("/proc/self/fd"),
                      std::filesystem::directory_iterator{}));
}

// A small older file is removed at once; a large one loses its name at once and is closed,
// its pages freed, apart from the run: either way nothing of it is left, not even an open file.
TEST(AtomicOutputFile, CommitReplacesALongerOlderFileCompletely) {
    for (const std::size_t older_size : {std::size_t{5000}, std::size_t{3} << 20}) {
        SCOPED_TRACE(older_size);
        TempFolder folder;
        const auto target = folder / "hoja_sal.bin";
        write_bytes(target.string(), bytes_of(std::string(older_size, 'v')));
        const std::size_t descriptors = open_descriptors();
        {
            AtomicOutputFile out(target);
            out.write(bytes_of("nuevo"));
            out.write(bytes_of(""));
            out.write(bytes_of("!"));
            // Until the commit the older file is still there, whole.
            EXPECT_EQ(read_bytes(target.string()).size(), older_size);
            out.commit();
        }
        EXPECT_EQ(read_bytes(target.string()), bytes_of("nuevo!"));
        EXPECT_EQ(folder.names(), (std::set<std::string>{"hoja_sal.bin"}));
        wait_for_older_files_freed();
        EXPECT_EQ(open_descriptors(), descriptors);
    }
}

// Pieces copied in and pieces made in the room the buffer lends, in turn, across many
// buffers: they arrive in order, and a piece whose making fails leaves nothing.
TEST(AtomicOutputFile, WritesLargerThanItsBufferArriveInOrder) {
    TempFolder folder;
    const auto target = folder / "grande.bin";
    std::string expected;
    {
        AtomicOutputFile out(target);
        for (int i = 0; i < 40; ++i) {
            // Pieces of up to 380 KB, three of them larger than the whole buffer (1 MiB).
            const std::size_t size = (i == 10 || i == 25 || i == 31)
                                         ? (std::size_t{1} << 20) + 13
                                         : static_cast<std::size_t>(1000 + i * 9700);
            const std::string piece(size, static_cast<char>('a' + i % 26));
            if (i % 5 == 4) {
                // Taken in place, in pieces of up to 200 bytes: more than one call takes.
                const std::vector<std::byte> whole = bytes_of(piece);
                std::vector<std::span<const std::byte>> pieces;
                for (std::size_t at = 0; at < size; at += 1 + at % 200) {
                    pieces.push_back(
                        std::span(whole).subspan(at, std::min(1 + at % 200, size - at)));
                }
                out.write_in_place(pieces);
            } else if (i % 2 == 0) {
                out.write(bytes_of(piece));
            } else {
                out.write_made(size, [&](std::byte* at) { std::memcpy(at, piece.data(), size); });
            }
            expected += piece;
            if (i % 7 == 3) {
                EXPECT_THROW(out.write_made(size,
                                            [&](std::byte* at) {
                                                std::memset(at, '!', size);
                                                throw std::logic_error("the piece fails");
                                            }),
                             std::logic_error);
            }
        }
        out.commit();
    }
    EXPECT_EQ(read_bytes(target.string()), bytes_of(expected));
}

TEST(AtomicOutputFile, UncommittedFileLeavesTheOlderOneAndNoTemporary) {
    TempFolder folder;
    const auto target = folder / "hoja_sal.bin";
    write_bytes(target.string(), bytes_of("antiguo"));
    {
        AtomicOutputFile out(target);
        out.write(bytes_of(std::string(3u << 20, 'x')));
        EXPECT_EQ(out.temporary_path().parent_path(), folder.path());
        EXPECT_NE(out.temporary_path().extension(), ".bin");
        EXPECT_TRUE(std::filesystem::exists(out.temporary_path()));
    }
    EXPECT_EQ(read_bytes(target.string()), bytes_of("antiguo"));
    EXPECT_EQ(folder.names(), (std::set<std::string>{"hoja_sal.bin"}));
}

/// Pages of `path` that the system holds in its cache.
std::size_t cached_pages(const std::filesystem::path& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        throw std::runtime_error("cannot open " + path.string());
    }
    const auto size = static_cast<std::size_t>(std::filesystem::file_size(path));
    const auto page = static_cast<std::size_t>(::sysconf(_SC_PAGESIZE));
    void* const mapped = ::mmap(nullptr, size, PROT_READ, MAP_SHARED, fd, 0);
    std::vector<unsigned char> resident((size + page - 1) / page);
    const bool ok = mapped != MAP_FAILED && ::mincore(mapped, size, resident.data()) == 0;
    if (mapped != MAP_FAILED) {
        ::munmap(mapped, size);
    }
    ::close(fd);
    if (!ok) {
        throw std::runtime_error("cannot look at the pages of " + path.string());
    }
    return static_cast<std::size_t>(
        std::count_if(resident.begin(), resident.end(), [](unsigned char r) { return r & 1; }));
}

// A large older file that a disk holds loses the pages the system caches of it, apart from the
// caller, so that replacing it at the end costs only its blocks; its bytes stay as they were,
// the more so when the new file is never committed.
TEST(AtomicOutputFile, ALargeOlderFileLosesItsCachedPagesNotItsBytes) {
    TempFolder folder;
    struct statfs where {};
    ASSERT_EQ(::statfs(folder.path().c_str(), &where), 0);
    if (where.f_type == TMPFS_MAGIC) {
        GTEST_SKIP() << "a file kept in memory keeps its pages, which are its content";
    }
    const auto target = folder / "hoja_sal.bin";
    std::string older(3u << 20, ' ');
    for (std::size_t i = 0; i < older.size(); ++i) {
        older[i] = static_cast<char>('a' + i % 26);
    }
    write_bytes(target.string(), bytes_of(older));
    ASSERT_EQ(read_bytes(target.string()), bytes_of(older)); // cached now
    const int fd = ::open(target.c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::fsync(fd), 0); // clean pages: only those can be dropped
    ::close(fd);
    ASSERT_GT(cached_pages(target), 0U);
    const std::size_t descriptors = open_descriptors();
    {
        drop_cached_pages_later(target);
        AtomicOutputFile out(target);
        out.write(bytes_of("nuevo"));
        wait_for_older_files_freed();
        EXPECT_EQ(cached_pages(target), 0U);
    }
    EXPECT_EQ(read_bytes(target.string()), bytes_of(older));
    EXPECT_EQ(folder.names(), (std::set<std::string>{"hoja_sal.bin"}));
    EXPECT_EQ(open_descriptors(), descriptors);
}

TEST(AtomicOutputFile, UncommittedNewFileLeavesNothing) {
    TempFolder folder;
    {
        AtomicOutputFile out(folder / "nuevo.bin");
        out.write(bytes_of("abc"));
    }
    EXPECT_TRUE(folder.names().empty());
}

TEST(AtomicOutputFile, MissingFolderIsAFileErrorNamingTheTarget) {
    TempFolder folder;
    const auto target = folder / "no_existe" / "hoja_sal.bin";
    try {
        AtomicOutputFile out(target);
        FAIL() << "no error";
    } catch (const FileError& e) {
        EXPECT_EQ(std::string(e.what()).rfind(target.string() + ": ", 0), 0u) << e.what();
    }
    EXPECT_TRUE(folder.names().empty());
}

TEST(AtomicOutputFile, TargetThatIsNoRegularFileIsRefusedBeforeAnythingIsWritten) {
    TempFolder folder;
    const auto target = folder / "hoja_sal.bin";
    std::filesystem::create_directory(target);
    try {
        AtomicOutputFile out(target);
        FAIL() << "a folder was accepted as the target";
    } catch (const FileError& e) {
        EXPECT_EQ(std::string(e.what()),
                  target.string() + ": no se puede escribir: es una carpeta");
    }
    EXPECT_EQ(folder.names(), (std::set<std::string>{"hoja_sal.bin"}));
    EXPECT_TRUE(std::filesystem::is_directory(target));
}

TEST(AtomicOutputFile, FailedCommitLeavesTheTargetAndNoTemporary) {
    // The target turns into a folder with something in it while the output is written:
    // the rename fails, and the folder stays as it was.
    TempFolder folder;
    const auto target = folder / "hoja_sal.bin";
    {
        AtomicOutputFile out(target);
        out.write(bytes_of("abc"));
        std::filesystem::create_directory(target);
        write_bytes((target / "dentro").string(), bytes_of("x"));
        EXPECT_THROW(out.commit(), FileError);
    }
    EXPECT_EQ(folder.names(), (std::set<std::string>{"hoja_sal.bin"}));
    EXPECT_TRUE(std::filesystem::is_directory(target));
    EXPECT_EQ(read_bytes((target / "dentro").string()), bytes_of("x"));
}

// Two outputs of one run change together: when the second cannot replace its target (here a
// folder took its name after both were written, or its temporary is gone), the first target
// is put back as it was and no temporary remains.
TEST(AtomicOutputFile, CommittedTogetherBothOrNeitherReplaceTheirTargets) {
    for (const bool folder_takes_the_name : {true, false}) {
        TempFolder folder;
        const auto output = folder / "hoja_sal.bin";
        const auto errors = folder / "hoja_err.bin";
        write_bytes(output.string(), bytes_of("salida antigua"));
        {
            AtomicOutputFile first(output);
            AtomicOutputFile second(errors);
            first.write(bytes_of("salida nueva"));
            second.write(bytes_of("errores nuevos"));
            if (folder_takes_the_name) {
                std::filesystem::create_directory(errors);
            } else {
                second.finish();
                std::filesystem::remove(second.temporary_path());
            }
            AtomicOutputFile* const both[] = {&first, &second};
            EXPECT_THROW(commit_together(both), FileError) << folder_takes_the_name;
        }
        EXPECT_EQ(read_bytes(output.string()), bytes_of("salida antigua")) << folder_takes_the_name;
        const std::set<std::string> expected =
            folder_takes_the_name ? std::set<std::string>{"hoja_err.bin", "hoja_sal.bin"}
                                  : std::set<std::string>{"hoja_sal.bin"};
        EXPECT_EQ(folder.names(), expected) << folder_takes_the_name;
    }
}

// A library that writes by name gets a temporary name with the extension it needs; what it
// wrote replaces the target on commit, and is gone when never committed.
TEST(AtomicOutputFile, WrittenByNameUnderTheGivenExtension) {
    TempFolder folder;
    const auto target = folder / "informe.json";
    for (const bool committed : {false, true}) {
        AtomicOutputFile out(target, AtomicOutputFile::ByName{".json"});
        EXPECT_EQ(out.temporary_path().extension(), ".json");
        EXPECT_EQ(out.temporary_path().parent_path(), folder.path());
        write_bytes(out.temporary_path().string(), bytes_of("{}"));
        if (committed) {
            out.commit();
        }
    }
    EXPECT_EQ(folder.names(), (std::set<std::string>{"informe.json"}));
    EXPECT_EQ(read_bytes(target.string()), bytes_of("{}"));
}

} // namespace
} // namespace tarvel::run
