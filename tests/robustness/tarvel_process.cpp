#include "tests/robustness/tarvel_process.hpp"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <stdexcept>

#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

namespace tarvel::testing {
namespace {

constexpr uid_t nobody = 65534;

[[noreturn]] void fail(const std::string& what) {
    throw std::runtime_error(what + ": " + std::strerror(errno));
}

/// An unnamed file in the temporary folder, gone when closed.
int anonymous_file() {
    const int fd = ::open("/tmp", O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
    if (fd < 0) {
        fail("cannot create a file for the child's output");
    }
    return fd;
}

std::string read_all(int fd) {
    std::string text;
    if (fd < 0) {
        return text;
    }
    char buffer[4096];
    ::lseek(fd, 0, SEEK_SET);
    for (;;) {
        const ssize_t got = ::read(fd, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got <= 0) {
            return text;
        }
        text.append(buffer, static_cast<std::size_t>(got));
    }
}

void close_if_open(int& fd) {
    if (fd >= 0) {
        ::close(fd);
        fd = -1;
    }
}

} // namespace

TarvelProcess::TarvelProcess(const std::vector<std::string>& args, const ProcessOptions& options) {
    std::vector<std::string> words{TARVEL_CLI_PATH};
    words.insert(words.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& word : words) {
        argv.push_back(word.data());
    }
    argv.push_back(nullptr);

    // What each of the child's descriptors 1 and 2 becomes: a captured file, nothing (closed)
    // or the writing end of a pipe whose reading end is already closed.
    const auto stream_for = [](ProcessOptions::Stream kind, int& captured) {
        if (kind == ProcessOptions::Stream::captured) {
            captured = anonymous_file();
            return captured;
        }
        if (kind == ProcessOptions::Stream::closed) {
            return -1;
        }
        int ends[2];
        if (::pipe2(ends, O_CLOEXEC) != 0) {
            fail("cannot make a pipe for the child");
        }
        ::close(ends[0]);
        return ends[1];
    };
    const int child_out = stream_for(options.out, m_out);
    const int child_err = stream_for(options.err, m_err);
    const auto close_pipe_ends = [&] {
        if (options.out == ProcessOptions::Stream::pipe_without_reader) {
            ::close(child_out);
        }
        if (options.err == ProcessOptions::Stream::pipe_without_reader) {
            ::close(child_err);
        }
    };
    m_pid = ::fork();
    if (m_pid < 0) {
        close_pipe_ends();
        fail("cannot start tarvel");
    }
    if (m_pid == 0) {
        // Only async-signal-safe calls between fork and exec.
        const int wanted[2] = {child_out, child_err};
        for (int target = STDOUT_FILENO; target <= STDERR_FILENO; ++target) {
            const int source = wanted[target - STDOUT_FILENO];
            if (source < 0) {
                ::close(target);
            } else if (::dup2(source, target) < 0) {
                ::_exit(126);
            }
        }
        // A run ended by a signal leaves no core file behind.
        const rlimit no_core{0, 0};
        if (::setrlimit(RLIMIT_CORE, &no_core) != 0) {
            ::_exit(126);
        }
        if (options.file_size_limit) {
            const rlimit limit{*options.file_size_limit, *options.file_size_limit};
            if (::setrlimit(RLIMIT_FSIZE, &limit) != 0) {
                ::_exit(126);
            }
        }
        if (options.address_space_limit) {
            const rlimit limit{*options.address_space_limit, *options.address_space_limit};
            if (::setrlimit(RLIMIT_AS, &limit) != 0) {
                ::_exit(126);
            }
        }
        if (options.as_user) {
            const gid_t group = *options.as_user;
            if (::setgroups(0, nullptr) != 0 || ::setgid(group) != 0 ||
                ::setuid(*options.as_user) != 0) {
                ::_exit(126);
            }
        }
        // After the change of user: a limit already passed when the user changes would make
        // the exec itself fail.
        if (options.process_limit) {
            const rlimit limit{*options.process_limit, *options.process_limit};
            if (::setrlimit(RLIMIT_NPROC, &limit) != 0) {
                ::_exit(126);
            }
        }
        ::execv(argv[0], argv.data());
        ::_exit(127);
    }
    close_pipe_ends();
    m_pidfd = static_cast<int>(::syscall(SYS_pidfd_open, m_pid, 0));
    if (m_pidfd < 0) {
        fail("cannot watch the tarvel process");
    }
}

TarvelProcess::~TarvelProcess() {
    if (m_pid > 0) {
        ::kill(m_pid, SIGKILL);
        int status = 0;
        ::waitpid(m_pid, &status, 0);
    }
    close_if_open(m_pidfd);
    close_if_open(m_out);
    close_if_open(m_err);
}

ProcessOutcome TarvelProcess::wait() {
    int status = 0;
    while (::waitpid(m_pid, &status, 0) < 0) {
        if (errno != EINTR) {
            fail("cannot wait for tarvel");
        }
    }
    m_pid = -1;
    ProcessOutcome outcome;
    if (WIFEXITED(status)) {
        outcome.exit_code = WEXITSTATUS(status);
    } else if (WIFSIGNALED(status)) {
        outcome.term_signal = WTERMSIG(status);
    }
    outcome.out = read_all(m_out);
    outcome.err = read_all(m_err);
    return outcome;
}

bool TarvelProcess::ends_within(int milliseconds) const {
    pollfd ended{m_pidfd, POLLIN, 0};
    return ::poll(&ended, 1, milliseconds) > 0;
}

ProcessOptions run_as(std::optional<uid_t> user) {
    ProcessOptions options;
    options.as_user = user;
    return options;
}

ProcessOptions file_size_limited(unsigned long bytes) {
    ProcessOptions options;
    options.file_size_limit = bytes;
    return options;
}

ProcessOutcome run_tarvel(const std::vector<std::string>& args, const ProcessOptions& options) {
    TarvelProcess process(args, options);
    return process.wait();
}

std::optional<uid_t> unprivileged_user() {
    if (::geteuid() == 0) {
        return nobody;
    }
    return std::nullopt;
}

std::string describe(const ProcessOutcome& outcome) {
    std::string text = outcome.term_signal != 0 ? "signal " + std::to_string(outcome.term_signal)
                                                : "exit " + std::to_string(outcome.exit_code);
    return text + "\n--- stdout ---\n" + outcome.out + "--- stderr ---\n" + outcome.err;
}

} // namespace tarvel::testing
