#include "run/atomic_output_file.hpp"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <random>
#include <sys/stat.h>
#include <unistd.h>

#include "common/errors.hpp"

namespace tarvel::run {
namespace {

constexpr std::size_t buffer_capacity = std::size_t{1} << 20;

std::string unique_suffix() {
    std::random_device random;
    return std::to_string(::getpid()) + "-" + std::to_string(random()) + ".tmp";
}

} // namespace

AtomicOutputFile::AtomicOutputFile(std::filesystem::path target) : m_target(std::move(target)) {
    // Only a regular file may be replaced: a rename would put the output in place of a
    // folder's name or a device node (as root, /dev/full itself). Checked before anything is
    // written, so that with two outputs neither is committed when the second cannot be.
    struct stat info {};
    if (::stat(m_target.c_str(), &info) == 0 && !S_ISREG(info.st_mode)) {
        throw FileError(m_target.string() + ": no se puede escribir: " +
                        (S_ISDIR(info.st_mode) ? "es una carpeta" : "no es un fichero normal"));
    }
    const std::filesystem::path folder = m_target.parent_path();
    for (int attempt = 0; attempt < 100 && m_fd < 0; ++attempt) {
        m_temporary = folder / (std::string(temporary_prefix) + m_target.filename().string() + "." +
                                unique_suffix());
        // 0666 lets the process umask decide the final permissions, as for any new file.
        m_fd = ::open(m_temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (m_fd < 0 && errno != EEXIST) {
            fail("no se puede crear");
        }
    }
    if (m_fd < 0) {
        fail("no se puede crear");
    }
}

AtomicOutputFile::~AtomicOutputFile() {
    if (!m_committed) {
        discard();
    }
}

void AtomicOutputFile::fail(const std::string& what) const {
    // Taken first: building the message may allocate, and that may change errno.
    const int error = errno;
    throw FileError(m_target.string() + ": " + what + ": " + std::strerror(error));
}

void AtomicOutputFile::discard() noexcept {
    if (m_fd >= 0) {
        ::close(m_fd);
        m_fd = -1;
    }
    if (!m_temporary.empty()) {
        ::unlink(m_temporary.c_str());
    }
}

void AtomicOutputFile::write(std::span<const std::byte> bytes) {
    if (m_buffer.size() + bytes.size() > buffer_capacity) {
        flush();
    }
    if (bytes.size() >= buffer_capacity) {
        m_buffer.assign(bytes.begin(), bytes.end());
        flush();
        return;
    }
    m_buffer.insert(m_buffer.end(), bytes.begin(), bytes.end());
}

void AtomicOutputFile::flush() {
    std::size_t done = 0;
    while (done < m_buffer.size()) {
        const ssize_t put = ::write(m_fd, m_buffer.data() + done, m_buffer.size() - done);
        if (put < 0) {
            if (errno == EINTR) {
                continue;
            }
            fail("no se puede escribir");
        }
        done += static_cast<std::size_t>(put);
    }
    m_buffer.clear();
}

void AtomicOutputFile::commit() {
    flush();
    if (::fsync(m_fd) != 0) {
        fail("no se puede escribir");
    }
    const int fd = m_fd;
    m_fd = -1;
    if (::close(fd) != 0) {
        fail("no se puede escribir");
    }
    if (::rename(m_temporary.c_str(), m_target.c_str()) != 0) {
        fail("no se puede escribir");
    }
    m_committed = true;
}

} // namespace tarvel::run
