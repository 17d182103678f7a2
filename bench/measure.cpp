#include "bench/measure.hpp"

#include "run/atomic_output_file.hpp"
#include "tests/support/generator.hpp"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <iomanip>
#include <sstream>
#include <stdexcept>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace tarvel::bench {

Measure measure_in_child(const std::function<void()>& work) {
    return measure_in_child(std::function<double()>([&] {
        work();
        return 0.0;
    }));
}

Measure measure_in_child(const std::function<double()>& work) {
    std::fflush(nullptr);
    int pipe_fds[2];
    if (::pipe(pipe_fds) != 0) {
        throw std::runtime_error("pipe failed");
    }
    const pid_t child = ::fork();
    if (child < 0) {
        throw std::runtime_error("fork failed");
    }
    if (child == 0) {
        ::close(pipe_fds[0]);
        int status = 0;
        double times[2] = {0, 0};
        const auto start = std::chrono::steady_clock::now();
        try {
            times[1] = work();
        } catch (const std::exception& e) {
            std::fprintf(stderr, "bench: %s\n", e.what());
            status = 1;
        }
        times[0] = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        const auto written = ::write(pipe_fds[1], times, sizeof times);
        ::_exit(written == sizeof times ? status : 1);
    }
    ::close(pipe_fds[1]);
    Measure m;
    double times[2] = {0, 0};
    const auto got = ::read(pipe_fds[0], times, sizeof times);
    m.seconds = times[0];
    m.part_seconds = times[1];
    ::close(pipe_fds[0]);
    int status = 0;
    struct rusage usage {};
    ::wait4(child, &status, 0, &usage);
    if (got != sizeof times || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        throw std::runtime_error("measured work failed");
    }
    m.peak_bytes = static_cast<std::int64_t>(usage.ru_maxrss) * 1024;
    return m;
}

void plain_copy(const std::filesystem::path& from, const std::filesystem::path& to) {
    const int in = ::open(from.c_str(), O_RDONLY);
    const int out = ::open(to.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (in < 0 || out < 0) {
        throw std::runtime_error("cannot open for the copy");
    }
    const auto size = static_cast<std::size_t>(std::filesystem::file_size(from));
    std::vector<char> buffer(size);
    std::size_t done = 0;
    while (done < size) {
        const auto got = ::read(in, buffer.data() + done, size - done);
        if (got <= 0) {
            throw std::runtime_error("copy read failed");
        }
        done += static_cast<std::size_t>(got);
    }
    done = 0;
    while (done < size) {
        const auto put = ::write(out, buffer.data() + done, size - done);
        if (put <= 0) {
            throw std::runtime_error("copy write failed");
        }
        done += static_cast<std::size_t>(put);
    }
    ::fsync(out);
    ::close(in);
    ::close(out);
}

std::filesystem::path scratch_folder(const std::string& name) {
    const char* base = std::getenv("TARVEL_BENCH_DIR");
    std::filesystem::path folder =
        (base != nullptr ? std::filesystem::path(base) : std::filesystem::temp_directory_path()) /
        ("tarvel-bench-" + name + "-" + std::to_string(::getpid()));
    std::filesystem::remove_all(folder);
    std::filesystem::create_directories(folder);
    return folder;
}

std::filesystem::path make_sheet(const std::filesystem::path& folder, std::int64_t lines,
                                 std::uint64_t seed) {
    const auto path = folder / ("hoja_" + std::to_string(lines) + ".bin");
    run::AtomicOutputFile out(path);
    testing::LargeSheetOptions options;
    options.lines = lines;
    (void)testing::write_large_sheet(seed, options, out);
    out.commit();
    return path;
}

std::string fixed(double value, int decimals) {
    std::ostringstream s;
    s << std::fixed << std::setprecision(decimals) << value;
    return s.str();
}

std::string megabytes(std::int64_t bytes) {
    return fixed(static_cast<double>(bytes) / (1024.0 * 1024.0), 1);
}

} // namespace tarvel::bench
