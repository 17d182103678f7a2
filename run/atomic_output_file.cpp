#include "run/atomic_output_file.hpp"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <deque>
#include <fcntl.h>
#include <mutex>
#include <random>
#include <set>
#include <sys/uio.h>
#include <system_error>
#include <thread>
#include <unistd.h>
#include <vector>

#include "common/errors.hpp"

namespace tarvel::run {
namespace {

constexpr std::size_t buffer_capacity = std::size_t{1} << 20;

/// Asks the system to start putting what was written to `fd` since `from` up to `to` on the
/// disk once it is some megabytes, and moves `from` on, so that the sync that ends the file
/// waits for its last part only instead of all of it. Where the system cannot, nothing is
/// lost: the sync writes it all.
void start_writeback(int fd, off_t& from, off_t to) noexcept {
    constexpr off_t step = off_t{2} << 20;
    if (to - from >= step) {
        (void)::sync_file_range(fd, from, to - from, SYNC_FILE_RANGE_WRITE);
        from = to;
    }
}
/// As many links as the kernel follows in one path lookup.
constexpr int max_link_hops = 40;

/// A name of fixed length, whatever the target's: any target name the file system accepts
/// leaves room for it.
std::string temporary_name(std::string_view extension) {
    static thread_local std::mt19937_64 random{std::random_device{}()};
    char hex[17];
    std::snprintf(hex, sizeof hex, "%016llx", static_cast<unsigned long long>(random()));
    return std::string(temporary_prefix) + std::to_string(::getpid()) + "-" + hex +
           std::string(extension);
}

/// The file that `target` names once its symbolic links are followed; it may not exist.
std::filesystem::path follow_links(const std::filesystem::path& target, int& error) {
    std::filesystem::path path = target;
    error = 0;
    for (int hop = 0; hop < max_link_hops; ++hop) {
        struct stat info {};
        if (::lstat(path.c_str(), &info) != 0 || !S_ISLNK(info.st_mode)) {
            return path;
        }
        std::error_code read_error;
        const std::filesystem::path link = std::filesystem::read_symlink(path, read_error);
        if (read_error) {
            error = read_error.value();
            return path;
        }
        path = link.is_absolute() ? link : path.parent_path() / link;
    }
    error = ELOOP;
    return path;
}

std::string kind_refused(mode_t mode) {
    return S_ISDIR(mode) ? "es una carpeta" : "no es un fichero normal";
}

/// Writes all of `bytes` to `fd`; returns the errno of a failure, or 0.
int write_all(int fd, std::span<const std::byte> bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t put = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (put < 0) {
            if (errno == EINTR) {
                continue;
            }
            return errno;
        }
        done += static_cast<std::size_t>(put);
    }
    return 0;
}

/// Writes all of `pieces` to `fd`, one after another; returns the errno of a failure, or 0.
int write_all(int fd, std::span<const std::span<const std::byte>> pieces) {
    std::vector<iovec> vectors;
    vectors.reserve(std::min<std::size_t>(pieces.size(), IOV_MAX));
    while (!pieces.empty()) {
        vectors.clear();
        for (const std::span<const std::byte> piece :
             pieces.first(std::min<std::size_t>(pieces.size(), IOV_MAX))) {
            vectors.push_back(iovec{const_cast<std::byte*>(piece.data()), piece.size()});
        }
        ssize_t put = ::writev(fd, vectors.data(), static_cast<int>(vectors.size()));
        if (put < 0) {
            if (errno == EINTR) {
                continue;
            }
            return errno;
        }
        // Whole pieces written are done; a piece written in part goes on alone.
        auto left = static_cast<std::size_t>(put);
        while (!pieces.empty() && left >= pieces.front().size()) {
            left -= pieces.front().size();
            pieces = pieces.subspan(1);
        }
        if (left > 0) {
            if (const int error = write_all(fd, pieces.front().subspan(left)); error != 0) {
                return error;
            }
            pieces = pieces.subspan(1);
        }
    }
    return 0;
}

/// Makes a rename in `folder` durable: a power cut after it cannot bring the old name back.
int sync_folder(const std::filesystem::path& folder) {
    const std::filesystem::path name = folder.empty() ? std::filesystem::path(".") : folder;
    const int fd = ::open(name.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) {
        return errno;
    }
    int error = 0;
    if (::fsync(fd) != 0 && errno != EINVAL) {
        error = errno;
    }
    ::close(fd);
    return error;
}

/// Older files from which their pages are freed apart from the run.
constexpr off_t freed_apart_from = off_t{1} << 20;

/// Older files whose name is gone, held open until a thread of their own closes them: the
/// system frees a file's pages when its last reference goes, and for a large older output
/// that takes about as long as a good part of writing it did, which nothing has to wait for.
/// The same thread asks the system to drop the cached pages of older files about to be
/// replaced (drop_cached_pages_later).
class Closer {
public:
    static Closer& instance() {
        // Never destroyed: its thread may still be closing files while the process ends,
        // and whatever it has not closed the system closes then.
        static Closer* const closer = new Closer;
        return *closer;
    }

    /// Closes `fd` on the closing thread, or here when no thread is to be had. With
    /// `drop_pages`, the file's cached pages are dropped first, on that thread only.
    void close_later(int fd, bool drop_pages = false) noexcept {
        std::unique_lock lock(m_mutex);
        try {
            if (!m_started) {
                std::thread([this] { work(); }).detach();
                m_started = true;
            }
            m_jobs.push_back(Job{fd, drop_pages});
        } catch (...) {
            // No thread or no room to note it: closed here.
            lock.unlock();
            ::close(fd);
            return;
        }
        lock.unlock();
        m_changed.notify_all();
    }

    /// Waits until every file handed over is closed.
    void wait() noexcept {
        std::unique_lock lock(m_mutex);
        m_changed.wait(lock, [this] { return m_jobs.empty() && !m_closing; });
    }

private:
    struct Job {
        int fd;
        bool drop_pages;
    };

    void work() noexcept {
        std::unique_lock lock(m_mutex);
        for (;;) {
            m_changed.wait(lock, [this] { return !m_jobs.empty(); });
            const Job job = m_jobs.front();
            m_jobs.pop_front();
            m_closing = true;
            lock.unlock();
            if (job.drop_pages) {
                (void)::posix_fadvise(job.fd, 0, 0, POSIX_FADV_DONTNEED);
            }
            ::close(job.fd);
            lock.lock();
            m_closing = false;
            m_changed.notify_all();
        }
    }

    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::deque<Job> m_jobs; // in the order handed over: an older file's pages go before it
    bool m_started = false;
    bool m_closing = false;
};

/// Older files removed whose last reference is held until the folders are synced, then
/// closed on the closing thread: that frees their blocks, and a folder's sync after it would
/// have to write out their freeing as well.
class RemovedOlder {
public:
    RemovedOlder() = default;
    RemovedOlder(const RemovedOlder&) = delete;
    RemovedOlder& operator=(const RemovedOlder&) = delete;
    ~RemovedOlder() {
        for (const int fd : m_fds) {
            Closer::instance().close_later(fd);
        }
    }

    /// Removes the older file that an exchange left under `name`. One of `size` bytes or
    /// more loses its name here and its pages and blocks when this is destroyed.
    void remove(const std::filesystem::path& name, off_t size) noexcept {
        int fd = -1;
        try {
            m_fds.reserve(m_fds.size() + 1);
            fd = size >= freed_apart_from ? ::open(name.c_str(), O_PATH | O_NOFOLLOW | O_CLOEXEC)
                                          : -1;
        } catch (const std::bad_alloc&) {
            // No room to hold it: freed as it loses its name.
        }
        ::unlink(name.c_str());
        if (fd >= 0) {
            m_fds.push_back(fd);
        }
    }

private:
    std::vector<int> m_fds;
};

} // namespace

void wait_for_older_files_freed() noexcept {
    Closer::instance().wait();
}

void drop_cached_pages_later(const std::filesystem::path& target) noexcept {
    struct stat info {};
    if (::stat(target.c_str(), &info) != 0 || !S_ISREG(info.st_mode) ||
        info.st_size < freed_apart_from) {
        return;
    }
    const int fd = ::open(target.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        return;
    }
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        ::close(fd);
        return;
    }
    Closer::instance().close_later(fd, true);
}

/// Writes buffers to a file on a thread of its own, one at a time and in order, so that a run
/// builds its next buffer while the system copies the last one into the file.
class BackgroundWriter {
public:
    explicit BackgroundWriter(int fd)
        : m_fd(fd), m_written(where(fd)), m_writeback_from(m_written),
          m_thread([this] { work(); }) {}

    ~BackgroundWriter() {
        {
            const std::lock_guard lock(m_mutex);
            m_stopping = true;
        }
        m_changed.notify_all();
        m_thread.join();
    }
    BackgroundWriter(const BackgroundWriter&) = delete;
    BackgroundWriter& operator=(const BackgroundWriter&) = delete;

    /// Takes the first `size` bytes of `buffer` to write and gives back the buffer written
    /// before (or none); waits while that one is still being written. Returns the errno of a
    /// write that failed, or 0.
    int hand_over(std::unique_ptr<std::byte[]>& buffer, std::size_t size) {
        std::unique_lock lock(m_mutex);
        m_changed.wait(lock, [this] { return !m_has_pending || m_error != 0; });
        if (m_error != 0) {
            return m_error;
        }
        m_pending.swap(buffer);
        m_pending_size = size;
        m_has_pending = true;
        lock.unlock();
        m_changed.notify_all();
        return 0;
    }

    /// Waits until everything handed over is written. Returns the errno of a failure, or 0.
    int drain() {
        std::unique_lock lock(m_mutex);
        m_changed.wait(lock, [this] { return !m_has_pending || m_error != 0; });
        return m_error;
    }

private:
    void work() {
        std::unique_lock lock(m_mutex);
        for (;;) {
            m_changed.wait(lock, [this] { return m_has_pending || m_stopping; });
            if (!m_has_pending) {
                return;
            }
            lock.unlock();
            const int error = write_all(m_fd, {m_pending.get(), m_pending_size});
            if (error == 0) {
                m_written += static_cast<off_t>(m_pending_size);
                start_writeback(m_fd, m_writeback_from, m_written);
            }
            lock.lock();
            m_error = error;
            m_has_pending = false;
            m_changed.notify_all();
            if (error != 0) {
                return;
            }
        }
    }

    /// Where the next write goes: buffers may have been written before the thread was made.
    static off_t where(int fd) noexcept {
        const off_t at = ::lseek(fd, 0, SEEK_CUR);
        return at > 0 ? at : 0;
    }

    int m_fd;
    off_t m_written = 0;
    off_t m_writeback_from = 0;
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::unique_ptr<std::byte[]> m_pending;
    std::size_t m_pending_size = 0;
    bool m_has_pending = false;
    bool m_stopping = false;
    int m_error = 0;
    std::thread m_thread;
};

AtomicOutputFile::AtomicOutputFile(std::filesystem::path target) : m_target(std::move(target)) {
    open_temporary();
}

AtomicOutputFile::AtomicOutputFile(std::filesystem::path target, const ByName& by_name)
    : m_target(std::move(target)), m_by_name(true), m_extension(by_name.extension) {
    if (m_extension == ".bin") {
        m_extension += ".tmp"; // never a sheet to a later batch
    }
    open_temporary();
}

void AtomicOutputFile::open_temporary() {
    int link_error = 0;
    m_replaced = follow_links(m_target, link_error);
    if (link_error != 0) {
        fail("no se puede escribir", link_error);
    }
    // Only a regular file may be replaced: a rename would put the output in place of a
    // folder's name or a device node (as root, /dev/full itself). Checked before anything is
    // written, so that with two outputs neither is committed when the second cannot be.
    if (::stat(m_replaced.c_str(), &m_replaced_info) == 0) {
        if (!S_ISREG(m_replaced_info.st_mode)) {
            throw FileError(m_target.string() +
                            ": no se puede escribir: " + kind_refused(m_replaced_info.st_mode));
        }
        m_had_replaced = true;
    }
    const std::filesystem::path folder = m_replaced.parent_path();
    for (int attempt = 0; attempt < 100; ++attempt) {
        // On record before it exists, so that a stop at any moment finds it.
        m_temporary = WorkInProgress::Temporary(folder / temporary_name(m_extension));
        m_fd = ::open(temporary_path().c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (m_fd >= 0) {
            break;
        }
        if (errno != EEXIST) {
            const int error = errno;
            m_temporary.release();
            fail("no se puede crear", error);
        }
    }
    if (m_fd < 0) {
        const int error = errno;
        m_temporary.release();
        fail("no se puede crear", error);
    }
    if (m_by_name) {
        // The writer creates the file itself; the name stays reserved by its process id and
        // random part, and the folder has shown that it takes new files.
        ::close(m_fd);
        m_fd = -1;
        ::unlink(temporary_path().c_str());
    }
}

AtomicOutputFile::~AtomicOutputFile() {
    if (!m_committed) {
        discard();
    }
}

void AtomicOutputFile::fail(const std::string& what) const {
    // Taken first: building the message may allocate, and that may change errno.
    fail(what, errno);
}

void AtomicOutputFile::fail(const std::string& what, int error) const {
    throw FileError(m_target.string() + ": " + what + ": " + std::strerror(error));
}

void AtomicOutputFile::discard() noexcept {
    m_writer.reset(); // no write may be under way when the file is closed
    if (m_fd >= 0) {
        ::close(m_fd);
        m_fd = -1;
    }
    if (!temporary_path().empty()) {
        ::unlink(temporary_path().c_str());
    }
    m_temporary.release();
}

void AtomicOutputFile::write(std::span<const std::byte> bytes) {
    // However long the span (a writer may hand over a whole run of a mapped sheet at once),
    // it goes through the buffer a buffer's worth at a time: memory stays that of one buffer.
    while (!bytes.empty()) {
        if (m_filled == buffer_capacity) {
            flush();
        }
        const std::size_t taken = std::min(bytes.size(), buffer_capacity - m_filled);
        std::memcpy(room().data(), bytes.data(), taken);
        m_filled += taken;
        bytes = bytes.subspan(taken);
    }
}

void AtomicOutputFile::write_in_place(std::span<const std::span<const std::byte>> pieces) {
    // What was handed over before goes first.
    flush();
    drain();
    if (const int error = write_all(m_fd, pieces); error != 0) {
        fail("no se puede escribir", error);
    }
    // Past the writer thread, which does the same for its buffers.
    start_writeback(m_fd, m_in_place_writeback_from, ::lseek(m_fd, 0, SEEK_CUR));
}

std::span<std::byte> AtomicOutputFile::room() {
    if (!m_buffer) {
        // Not cleared: its bytes are only read once written.
        m_buffer = std::make_unique_for_overwrite<std::byte[]>(buffer_capacity);
    }
    return {m_buffer.get() + m_filled, buffer_capacity - m_filled};
}

std::byte* AtomicOutputFile::lend(std::size_t size) {
    if (size > buffer_capacity) {
        return nullptr;
    }
    if (size > buffer_capacity - m_filled) {
        flush();
    }
    return room().data();
}

void AtomicOutputFile::took(std::size_t size) {
    if (size > buffer_capacity - m_filled) {
        throw std::logic_error("AtomicOutputFile: more bytes taken than lent");
    }
    m_filled += size;
}

void AtomicOutputFile::flush() {
    if (m_filled == 0) {
        return;
    }
    // A file of one buffer is written here: a thread for it would cost more than it saves.
    if (!m_writer && !m_finishing) {
        try {
            m_writer = std::make_unique<BackgroundWriter>(m_fd);
        } catch (const std::system_error&) {
            // No thread to be had: the buffer is written here.
        }
    }
    const int error = m_writer ? m_writer->hand_over(m_buffer, m_filled)
                               : write_all(m_fd, {m_buffer.get(), m_filled});
    if (error != 0) {
        fail("no se puede escribir", error);
    }
    m_filled = 0;
}

/// Everything handed to the writer is in the file.
void AtomicOutputFile::drain() {
    if (m_writer) {
        const int error = m_writer->drain();
        m_writer.reset();
        if (error != 0) {
            fail("no se puede escribir", error);
        }
    }
}

void AtomicOutputFile::keep_attributes_of_replaced(int fd) {
    if (!m_had_replaced) {
        return;
    }
    // Owner and group first: changing them may clear the set-user and set-group bits, which
    // the mode then puts back. Where the owner may not be given away the group may still be
    // one of the process's; where neither is allowed the new file keeps the process's.
    if (::fchown(fd, m_replaced_info.st_uid, m_replaced_info.st_gid) != 0) {
        (void)::fchown(fd, static_cast<uid_t>(-1), m_replaced_info.st_gid);
    }
    if (::fchmod(fd, m_replaced_info.st_mode & 07777) != 0) {
        fail("no se pueden conservar los permisos");
    }
}

void AtomicOutputFile::finish() {
    if (m_finished) {
        return;
    }
    if (m_by_name) {
        m_fd = ::open(temporary_path().c_str(), O_RDONLY | O_CLOEXEC);
        if (m_fd < 0) {
            fail("no se puede escribir");
        }
    } else {
        m_finishing = true;
        flush();
        drain();
    }
    keep_attributes_of_replaced(m_fd);
    if (::fsync(m_fd) != 0) {
        fail("no se puede escribir");
    }
    const int fd = m_fd;
    m_fd = -1;
    if (::close(fd) != 0) {
        fail("no se puede escribir");
    }
    m_finished = true;
}

void AtomicOutputFile::commit() {
    AtomicOutputFile* const self = this;
    commit_together(std::span<AtomicOutputFile* const>(&self, 1));
}

void commit_together(std::span<AtomicOutputFile* const> files) {
    for (AtomicOutputFile* file : files) {
        file->finish();
    }
    // A stop waits for the renames below to end: the outputs of one run change together.
    const auto hold = WorkInProgress::instance().hold();

    // Checked again right before the renames: a folder that took a target's name while the
    // outputs were written is not replaced, and no other target is touched.
    for (AtomicOutputFile* file : files) {
        struct stat info {};
        if (::stat(file->m_replaced.c_str(), &info) == 0 && !S_ISREG(info.st_mode)) {
            throw FileError(file->m_target.string() +
                            ": no se puede escribir: " + kind_refused(info.st_mode));
        }
    }

    enum class Made { exchanged, created, for_good };
    std::vector<std::pair<AtomicOutputFile*, Made>> done;
    const auto undo = [&done] {
        for (auto it = done.rbegin(); it != done.rend(); ++it) {
            const char* temporary = it->first->temporary_path().c_str();
            const char* replaced = it->first->m_replaced.c_str();
            if (it->second == Made::exchanged) {
                (void)::renameat2(AT_FDCWD, temporary, AT_FDCWD, replaced, RENAME_EXCHANGE);
            } else if (it->second == Made::created) {
                (void)::rename(replaced, temporary);
            }
        }
    };
    for (AtomicOutputFile* file : files) {
        const char* temporary = file->temporary_path().c_str();
        const char* replaced = file->m_replaced.c_str();
        // Exchanging keeps the older file under the temporary's name until every target has
        // its new file, so that a failure further on can put it back.
        int result = -1;
        Made made = Made::exchanged;
        for (int attempt = 0; attempt < 3 && result != 0; ++attempt) {
            made = Made::exchanged;
            result = ::renameat2(AT_FDCWD, temporary, AT_FDCWD, replaced, RENAME_EXCHANGE);
            if (result != 0 && errno == ENOENT) {
                // No older file; should one appear meanwhile, it is exchanged after all.
                made = Made::created;
                result = ::renameat2(AT_FDCWD, temporary, AT_FDCWD, replaced, RENAME_NOREPLACE);
                if (result != 0 && errno == EEXIST) {
                    continue;
                }
            }
            break;
        }
        if (result != 0 && (errno == EINVAL || errno == ENOSYS)) {
            // A file system without these renames: a plain one, which cannot be undone.
            result = ::rename(temporary, replaced);
            made = Made::for_good;
        }
        if (result != 0) {
            const int error = errno;
            undo();
            file->fail("no se puede escribir", error);
        }
        done.emplace_back(file, made);
    }

    std::set<std::filesystem::path> folders;
    RemovedOlder older;
    for (auto& [file, made] : done) {
        if (made == Made::exchanged) {
            older.remove(file->temporary_path(), file->m_replaced_info.st_size);
        }
        file->m_committed = true;
        file->m_temporary.release();
        folders.insert(file->m_replaced.parent_path());
    }
    for (const std::filesystem::path& folder : folders) {
        if (const int error = sync_folder(folder); error != 0) {
            throw FileError((folder.empty() ? std::string(".") : folder.string()) +
                            ": no se puede sincronizar la carpeta: " + std::strerror(error));
        }
    }
}

} // namespace tarvel::run
