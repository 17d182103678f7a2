#include "cli/process_guard.hpp"

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <thread>
#include <unistd.h>

#include "run/work_in_progress.hpp"

namespace tarvel::cli {
namespace {

/// Descriptors 0, 1 and 2 open whatever the program was started with. Each closed one gets
/// /dev/null opened for reading: a later file can no longer be given its number (and receive
/// what was meant for the terminal), and writes to it fail as they would on a closed stream.
void hold_standard_streams() {
    for (;;) {
        const int fd = ::open("/dev/null", O_RDONLY);
        if (fd < 0) {
            return;
        }
        if (fd > STDERR_FILENO) {
            ::close(fd);
            return;
        }
    }
}

const char* signal_name(int signal) {
    switch (signal) {
    case SIGINT:
        return "SIGINT";
    case SIGTERM:
        return "SIGTERM";
    case SIGHUP:
        return "SIGHUP";
    default:
        return "una señal";
    }
}

void write_all(int fd, const std::string& text) {
    std::size_t done = 0;
    while (done < text.size()) {
        const ssize_t put = ::write(fd, text.data() + done, text.size() - done);
        if (put < 0 && errno == EINTR) {
            continue;
        }
        if (put <= 0) {
            return;
        }
        done += static_cast<std::size_t>(put);
    }
}

/// Waits for a stop signal on a thread of its own, so that the work done on receiving it
/// needs none of the limits of a signal handler.
void wait_for_stop(sigset_t signals) {
    int signal = 0;
    while (::sigwait(&signals, &signal) != 0) {
    }
    // Replacing targets is never cut in two: this waits until renames under way are over.
    const std::vector<std::string> inputs = run::WorkInProgress::instance().abandon();
    std::string message = "\r\033[K";
    if (::isatty(STDERR_FILENO) != 1) {
        message.clear();
    }
    message += "tarvel: interrumpido por ";
    message += signal_name(signal);
    if (inputs.empty()) {
        message += "\n";
    } else {
        message += " durante:";
        for (const std::string& input : inputs) {
            message += "\n  ";
            message += input;
        }
        message += "\nSus salidas y ficheros de errores anteriores quedan como estaban; no se "
                   "ha dejado ningún fichero temporal.\n";
    }
    write_all(STDERR_FILENO, message);
    ::_exit(128 + signal);
}

} // namespace

void guard_process() {
    hold_standard_streams();
    // A reader that goes away (`tarvel DIR | head`) makes writes to the pipe fail, which the
    // program reports, instead of ending it between two files.
    std::signal(SIGPIPE, SIG_IGN);

    sigset_t stops;
    sigemptyset(&stops);
    sigaddset(&stops, SIGINT);
    sigaddset(&stops, SIGTERM);
    sigaddset(&stops, SIGHUP);
    // Blocked here, before any other thread exists, so that every thread inherits the mask
    // and the signals reach only the waiting thread.
    if (::pthread_sigmask(SIG_BLOCK, &stops, nullptr) != 0) {
        return;
    }
    try {
        std::thread(wait_for_stop, stops).detach();
    } catch (...) {
        // Without a thread to receive them, the signals end the program as they always did.
        ::pthread_sigmask(SIG_UNBLOCK, &stops, nullptr);
    }
}

} // namespace tarvel::cli
