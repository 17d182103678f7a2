// An output file that appears whole or not at all. The bytes go to a temporary file beside
// the file to replace (its name never ends in ".bin", so a batch never takes it for a sheet)
// and replace it by a rename only when everything was written and synced. The replaced
// file keeps its permission bits, group and, where the process may set it, owner; a target
// that is a symbolic link stays one, and the file it names is replaced in its own folder.
#pragma once

#include <filesystem>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include <sys/stat.h>

#include "digi/writer.hpp"
#include "run/work_in_progress.hpp"

namespace tarvel::run {

class BackgroundWriter;

class AtomicOutputFile final : public digi::ByteSink {
public:
    /// Creates the temporary file in the folder of the file that `target` names. Throws
    /// FileError naming `target` when the target is a folder or a device, or when the
    /// temporary cannot be created.
    explicit AtomicOutputFile(std::filesystem::path target);

    /// For a library that writes a file by name: the temporary's name ends in `extension`
    /// (".gpkg", say) and is only reserved; the library creates and closes the file.
    struct ByName {
        std::string extension;
    };
    AtomicOutputFile(std::filesystem::path target, const ByName& by_name);

    /// Removes the temporary file if it was never committed.
    ~AtomicOutputFile() override;
    AtomicOutputFile(const AtomicOutputFile&) = delete;
    AtomicOutputFile& operator=(const AtomicOutputFile&) = delete;

    /// Buffered; throws FileError naming the target when the disk refuses the bytes.
    void write(std::span<const std::byte> bytes) override;
    /// Written on the calling thread straight from where the pieces are, after what was written
    /// before; throws FileError as write does.
    void write_in_place(std::span<const std::span<const std::byte>> pieces) override;
    /// Makes the temporary complete and durable under its own name: flushed, with the
    /// replaced file's permissions, synced and closed. Throws FileError.
    void finish();
    /// Finishes the file and replaces the target with it. Throws FileError.
    void commit();

    /// The name given.
    [[nodiscard]] const std::filesystem::path& target() const noexcept { return m_target; }
    /// The file replaced: the target, or the file it names when it is a symbolic link.
    [[nodiscard]] const std::filesystem::path& replaced() const noexcept { return m_replaced; }
    [[nodiscard]] const std::filesystem::path& temporary_path() const noexcept {
        return m_temporary.path();
    }

    /// Finishes every file, then replaces every target. When one replacement fails, those
    /// made before it are undone (each older file back in place, or the new file removed
    /// where there was none) before FileError is thrown.
    friend void commit_together(std::span<AtomicOutputFile* const> files);

private:
    std::byte* lend(std::size_t size) override;
    void took(std::size_t size) override;
    void open_temporary();
    /// The free part of the buffer, made if there is none yet.
    std::span<std::byte> room();
    void flush();
    void drain();
    void keep_attributes_of_replaced(int fd);
    [[noreturn]] void fail(const std::string& what) const;
    [[noreturn]] void fail(const std::string& what, int error) const;
    void discard() noexcept;

    std::filesystem::path m_target;
    std::filesystem::path m_replaced;
    WorkInProgress::Temporary m_temporary;
    bool m_by_name = false;
    std::string m_extension = ".tmp";
    bool m_had_replaced = false;
    struct stat m_replaced_info {};
    int m_fd = -1;
    /// Output not yet handed to the disk: `m_filled` bytes of a buffer of fixed size, made at
    /// the first write.
    std::unique_ptr<std::byte[]> m_buffer;
    std::size_t m_filled = 0;
    /// Up to where the bytes written in place were handed to the disk's writeback.
    off_t m_in_place_writeback_from = 0;
    /// Writes full buffers while the next is filled; made at the first full buffer.
    std::unique_ptr<BackgroundWriter> m_writer;
    bool m_finishing = false;
    bool m_finished = false;
    bool m_committed = false;
};

void commit_together(std::span<AtomicOutputFile* const> files);

/// A large older file loses its name when the new one replaces it, and its pages are freed
/// apart from the run. Waits until the pages of every such file are freed.
void wait_for_older_files_freed() noexcept;

/// Asks the system, apart from the caller, to drop the pages it caches of the file that
/// `target` names when that is a regular file of a megabyte or more: an older file that an
/// output is to replace. Its bytes stay as they are on the disk, and once replaced it has only
/// its blocks left to free, not the tens of megabytes of pages a run would otherwise wait for
/// as it ends. A file kept in memory (tmpfs) keeps its pages, which are its content, and a
/// file the process may not read is left alone.
void drop_cached_pages_later(const std::filesystem::path& target) noexcept;

/// Prefix of every temporary output name, so that leftovers of a killed run are recognisable.
inline constexpr const char* temporary_prefix = ".tarvel-";

} // namespace tarvel::run
