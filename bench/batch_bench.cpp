// A batch of many small sheets: the program with one worker and with two, beside the sheets'
// own work (the per-file run called for each sheet in one process). What the program takes
// beyond that own work, divided by the sheets, is its cost per sheet: starting, listing the
// folder, the codes file, the summary lines.
// Usage: tarvel-bench-batch TARVEL [SHEETS [LINES]]   (default 1000 sheets of 10000 lines)
#include <chrono>
#include <filesystem>
#include <iostream>
#include <string>
#include <vector>

#include <spawn.h>
#include <sys/wait.h>

#include "bench/measure.hpp"
#include "run/atomic_output_file.hpp"
#include "run/batch.hpp"
#include "run/procesamos_fichero.hpp"
#include "tests/support/generator.hpp"

extern char** environ;

namespace {

using namespace tarvel;
namespace fs = std::filesystem;

void remove_outputs(const fs::path& folder) {
    for (const auto& entry : fs::directory_iterator(folder)) {
        const std::string name = entry.path().filename().string();
        if (name.find("_sal") != std::string::npos || name.find("_err") != std::string::npos) {
            fs::remove(entry.path());
        }
    }
}

/// Wall seconds of the program run on the folder with `jobs` workers.
double run_program(const std::string& program, const fs::path& folder, const fs::path& codes,
                   int jobs) {
    std::vector<std::string> words{
        program, "-q", "-c", codes.string(), "-j", std::to_string(jobs), folder.string()};
    std::vector<char*> argv;
    for (std::string& word : words) {
        argv.push_back(word.data());
    }
    argv.push_back(nullptr);
    const auto start = std::chrono::steady_clock::now();
    pid_t child = 0;
    if (::posix_spawn(&child, program.c_str(), nullptr, nullptr, argv.data(), environ) != 0) {
        throw std::runtime_error("cannot start " + program);
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        throw std::runtime_error(program + " failed on the batch");
    }
    return seconds;
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::cerr << "usage: tarvel-bench-batch TARVEL [SHEETS [LINES]]\n";
        return 2;
    }
    const std::string program = fs::absolute(argv[1]).string();
    const int sheets = argc > 2 ? std::stoi(argv[2]) : 1000;
    const std::int64_t lines = argc > 3 ? std::stoll(argv[3]) : 10'000;

    const fs::path root = bench::scratch_folder("batch");
    const fs::path folder = root / "lote";
    fs::create_directory(folder);
    const fs::path codes = root / "sentido.CFG";
    {
        const std::string text =
            testing::codes_file_content(testing::large_sheet_direction_codes());
        run::AtomicOutputFile out(codes);
        out.write(std::as_bytes(std::span(text.data(), text.size())));
        out.commit();
    }
    std::vector<fs::path> inputs;
    for (int i = 0; i < sheets; ++i) {
        const fs::path made = bench::make_sheet(root, lines, static_cast<std::uint64_t>(i + 1));
        const fs::path sheet = folder / ("hoja" + std::to_string(100000 + i) + ".bin");
        fs::rename(made, sheet);
        inputs.push_back(sheet);
    }

    const bench::Measure own = bench::measure_in_child([&] {
        // As a batch does: the memory one sheet frees is kept for the next.
        run::keep_freed_memory_for_next_sheets();
        run::RunSettings settings;
        settings.codes = codes;
        for (const fs::path& input : inputs) {
            settings.input = input;
            (void)run::ProcesamosFichero(settings);
        }
    });
    remove_outputs(folder);
    double best_one = 1e9;
    double best_two = 1e9;
    for (int round = 0; round < 3; ++round) {
        best_one = std::min(best_one, run_program(program, folder, codes, 1));
        remove_outputs(folder);
        best_two = std::min(best_two, run_program(program, folder, codes, 2));
        remove_outputs(folder);
    }
    const double per_sheet_ms = 1000.0 * own.seconds / sheets;
    std::cout << sheets << " sheets of " << lines << " lines\n"
              << "own work (the per-file run in a loop)  " << bench::fixed(own.seconds, 3) << " s, "
              << bench::fixed(per_sheet_ms, 3) << " ms a sheet\n"
              << "tarvel -j 1                            " << bench::fixed(best_one, 3) << " s\n"
              << "tarvel -j 2                            " << bench::fixed(best_two, 3) << " s\n"
              << "cost per sheet beyond its own work     "
              << bench::fixed(1000.0 * (best_one - own.seconds) / sheets, 3) << " ms\n"
              << "two workers against one                x" << bench::fixed(best_one / best_two, 2)
              << "\n";
    fs::remove_all(root);
    return 0;
}
