// Input files mapped into memory instead of copied. A mapped file that another program cuts
// short while it is mapped would otherwise end the whole process (SIGBUS on the first read past
// its new end): a guard puts zeros in place of the missing pages, notes that the file changed,
// and the run of that file then fails with a message instead.
#pragma once

#include <cstddef>
#include <memory>
#include <string>

#include <sys/stat.h>

namespace tarvel::digi {

/// A read-only mapping of a whole file, with what the file was when mapped.
class MappedInput {
public:
    /// Maps the `size` bytes of the open file `fd` (its state `info`). Returns null when no
    /// mapping can be made (the caller then reads the file instead).
    [[nodiscard]] static std::unique_ptr<MappedInput> map(int fd, const struct stat& info);
    ~MappedInput();
    MappedInput(const MappedInput&) = delete;
    MappedInput& operator=(const MappedInput&) = delete;

    [[nodiscard]] const std::byte* data() const noexcept { return m_data; }
    [[nodiscard]] std::size_t size() const noexcept { return m_size; }

    /// Whether the file has changed since it was mapped: cut short (a read past its new end
    /// found zeros), or its size or modification time are no longer those it had.
    [[nodiscard]] bool changed() const noexcept;

private:
    MappedInput(const std::byte* data, std::size_t size, int fd, const struct stat& info, int slot);

    const std::byte* m_data;
    std::size_t m_size;
    int m_fd;
    struct stat m_info;
    int m_slot;
};

} // namespace tarvel::digi
