// The real `tarvel` program run as a child process, for the end-to-end robustness tests:
// started with arguments (optionally as another user, or with a file-size limit), waited
// for or killed, with its exit status and both output streams.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include <sys/types.h>

namespace tarvel::testing {

/// How a child ended and what it printed.
struct ProcessOutcome {
    int exit_code = -1;  ///< exit status, or -1 when a signal ended it
    int term_signal = 0; ///< the signal that ended it, or 0
    std::string out;
    std::string err;
};

struct ProcessOptions {
    /// Run with this user and group id (only possible as root).
    std::optional<uid_t> as_user;
    /// RLIMIT_FSIZE of the child in bytes; writing past it ends the child with SIGXFSZ.
    std::optional<unsigned long> file_size_limit;
    /// RLIMIT_AS of the child in bytes: allocations past it fail.
    std::optional<unsigned long> address_space_limit;
    /// RLIMIT_NPROC of the child, set after `as_user`: threads past it cannot be created
    /// (the limit does not bind root).
    std::optional<unsigned long> process_limit;
    /// How the child's standard output and error are given to it.
    enum class Stream { captured, closed, pipe_without_reader };
    Stream out = Stream::captured;
    Stream err = Stream::captured;
};

/// Options with only the user to run as (none: this process's).
[[nodiscard]] ProcessOptions run_as(std::optional<uid_t> user);
/// Options with only a file-size limit.
[[nodiscard]] ProcessOptions file_size_limited(unsigned long bytes);

/// One running `tarvel`. Its output streams go to unnamed temporary files.
class TarvelProcess {
public:
    /// Starts the program at TARVEL_CLI_PATH with `args`. Throws std::runtime_error.
    explicit TarvelProcess(const std::vector<std::string>& args,
                           const ProcessOptions& options = {});
    ~TarvelProcess();
    TarvelProcess(const TarvelProcess&) = delete;
    TarvelProcess& operator=(const TarvelProcess&) = delete;

    [[nodiscard]] pid_t pid() const noexcept { return m_pid; }
    /// A descriptor that becomes readable when the child ends (for poll).
    [[nodiscard]] int exit_descriptor() const noexcept { return m_pidfd; }
    /// Waits for the end of the child.
    ProcessOutcome wait();
    /// Whether the child ends within `milliseconds`: a bound for runs that could block for
    /// good (the destructor kills a child still running).
    [[nodiscard]] bool ends_within(int milliseconds) const;

private:
    pid_t m_pid = -1;
    int m_pidfd = -1;
    int m_out = -1;
    int m_err = -1;
};

/// Runs `tarvel` with `args` to its end.
ProcessOutcome run_tarvel(const std::vector<std::string>& args, const ProcessOptions& options = {});

/// The user id of "nobody", for runs whose file permissions must hold although tests run as
/// root; none when the tests do not run as root (permissions hold anyway).
[[nodiscard]] std::optional<uid_t> unprivileged_user();

/// "exit N" or "signal N", with both streams, for assertion messages.
[[nodiscard]] std::string describe(const ProcessOutcome& outcome);

} // namespace tarvel::testing
