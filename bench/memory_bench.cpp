// Peak anonymous memory of a program: its RssAnon sampled every millisecond until it ends,
// which counts the memory it allocates but not the pages of files it maps (they stay the
// file's). With --limit it runs in a memory control group of that many bytes, page cache of its
// files included, so a sheet larger than the limit shows that the program still gets through.
// Usage: tarvel-bench-memory [--limit BYTES] -- PROGRAM ARGS...
// Prints "peak_anon BYTES exit STATUS".
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <string>
#include <thread>
#include <vector>

#include <sys/wait.h>
#include <unistd.h>

namespace {

long long rss_anon_bytes(pid_t pid) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string key;
    while (status >> key) {
        if (key == "RssAnon:") {
            long long kib = 0;
            status >> kib;
            return kib * 1024;
        }
        std::getline(status, key);
    }
    return 0;
}

/// A memory control group (version 1, as this machine mounts them) for the child.
std::filesystem::path make_group(long long limit) {
    const std::filesystem::path group =
        "/sys/fs/cgroup/memory/tarvel-bench-" + std::to_string(::getpid());
    std::filesystem::create_directory(group);
    std::ofstream(group / "memory.limit_in_bytes") << limit;
    std::ofstream(group / "memory.memsw.limit_in_bytes") << limit; // no way out through swap
    return group;
}

} // namespace

int main(int argc, char** argv) {
    long long limit = 0;
    int first = 1;
    if (argc > 2 && std::strcmp(argv[1], "--limit") == 0) {
        limit = std::stoll(argv[2]);
        first = 3;
    }
    if (first >= argc || std::strcmp(argv[first], "--") != 0 || first + 1 >= argc) {
        std::cerr << "usage: tarvel-bench-memory [--limit BYTES] -- PROGRAM ARGS...\n";
        return 2;
    }
    std::filesystem::path group;
    if (limit > 0) {
        group = make_group(limit);
    }
    int ready[2];
    if (::pipe(ready) != 0) {
        return 2;
    }
    const pid_t child = ::fork();
    if (child == 0) {
        ::close(ready[1]);
        char go = 0;
        // Waits until it is in its group.
        if (::read(ready[0], &go, 1) != 1) {
            ::_exit(126);
        }
        ::execvp(argv[first + 1], argv + first + 1);
        ::_exit(127);
    }
    ::close(ready[0]);
    if (!group.empty()) {
        std::ofstream(group / "cgroup.procs") << child;
    }
    if (::write(ready[1], "g", 1) != 1) {
        return 2;
    }
    ::close(ready[1]);

    long long peak = 0;
    int status = 0;
    for (;;) {
        const pid_t ended = ::waitpid(child, &status, WNOHANG);
        if (ended == child) {
            break;
        }
        peak = std::max(peak, rss_anon_bytes(child));
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    if (!group.empty()) {
        std::error_code ignored;
        std::filesystem::remove(group, ignored);
    }
    const int code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    std::cout << "peak_anon " << peak << " exit " << code << "\n";
    return 0;
}
