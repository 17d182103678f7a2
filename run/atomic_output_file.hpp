// An output file that appears whole or not at all. The bytes go to a temporary file
// beside the target (its name never ends in ".bin", so a batch never takes it for a
// sheet) and replace the target by a rename only when everything was written.
#pragma once

#include <filesystem>
#include <span>
#include <string>
#include <vector>

#include "digi/writer.hpp"

namespace tarvel::run {

class AtomicOutputFile final : public digi::ByteSink {
public:
    /// Creates the temporary file in the target's folder. Throws FileError.
    explicit AtomicOutputFile(std::filesystem::path target);
    /// Removes the temporary file if it was never committed.
    ~AtomicOutputFile() override;
    AtomicOutputFile(const AtomicOutputFile&) = delete;
    AtomicOutputFile& operator=(const AtomicOutputFile&) = delete;

    /// Buffered; throws FileError naming the target when the disk refuses the bytes.
    void write(std::span<const std::byte> bytes) override;
    /// Flushes, syncs and renames the temporary file over the target. Throws FileError.
    void commit();

    [[nodiscard]] const std::filesystem::path& temporary_path() const noexcept {
        return m_temporary;
    }

private:
    void flush();
    void fail(const std::string& what) const;
    void discard() noexcept;

    std::filesystem::path m_target;
    std::filesystem::path m_temporary;
    int m_fd = -1;
    std::vector<std::byte> m_buffer;
    bool m_committed = false;
};

/// Prefix of every temporary output name, so that leftovers of a killed run are recognisable.
inline constexpr const char* temporary_prefix = ".tarvel-";

} // namespace tarvel::run
