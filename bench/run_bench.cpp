// The whole per-file run on generated sheets and on a long chain of pieces: wall time,
// peak memory and the ratio to a plain copy of the same file.
// Usage: tarvel-bench-run [LINES...]   (default: 10000 100000 1000000 10000000)

#include <iostream>
#include <vector>

#include "bench/measure.hpp"
#include "digi/writer.hpp"
#include "run/atomic_output_file.hpp"
#include "run/procesamos_fichero.hpp"
#include "tests/support/digi_builder.hpp"
#include "tests/support/generator.hpp"

namespace {

using namespace tarvel;

void write_text_file(const std::filesystem::path& path, const std::string& text) {
    run::AtomicOutputFile out(path);
    out.write(std::as_bytes(std::span(text.data(), text.size())));
    out.commit();
}

/// 30,000 two-vertex pieces of one line. Stored from the far end back and each piece
/// running against the chain, every join takes the growing line as its second line and
/// turns it round: the case where copying at each join would cost the most.
std::filesystem::path make_chain(const std::filesystem::path& folder, int pieces, bool against) {
    testing::DigiBuilder b;
    for (int i = pieces - 1; i >= 0; --i) {
        const digi::Vertex from{i * 10, 0, 0};
        const digi::Vertex to{i * 10 + 10, 0, 0};
        if (against && i % 2 == 1) {
            b.line("CADENA", {to, from});
        } else {
            b.line("CADENA", {from, to});
        }
    }
    const auto path =
        folder / (std::string("cadena_") + (against ? "alterna" : "inversa") + ".bin");
    testing::write_bytes(path.string(), b.bytes());
    return path;
}

void report(const std::string& name, const std::filesystem::path& sheet,
            const std::filesystem::path& codes, bool all) {
    const auto size = static_cast<std::int64_t>(std::filesystem::file_size(sheet));
    const auto copy_target = sheet.parent_path() / "copia.bin";
    const auto copy = bench::measure_in_child([&] { bench::plain_copy(sheet, copy_target); });
    run::RunSettings settings;
    settings.input = sheet;
    settings.codes = codes;
    settings.all_elements = all;
    run::RunSummary summary;
    const auto runs = bench::measure_in_child([&] { summary = run::ProcesamosFichero(settings); });
    std::cout << name << (all ? " --all" : "") << "  " << bench::megabytes(size) << " MB  "
              << bench::fixed(runs.seconds, 3) << " s  x"
              << bench::fixed(runs.seconds / copy.seconds, 2) << " copy ("
              << bench::fixed(copy.seconds, 3) << " s)  peak " << bench::megabytes(runs.peak_bytes)
              << " MB = "
              << bench::fixed(static_cast<double>(runs.peak_bytes) / static_cast<double>(size), 2)
              << " x file\n";
    std::filesystem::remove(copy_target);
}

} // namespace

int main(int argc, char** argv) {
    std::vector<std::int64_t> sizes;
    for (int i = 1; i < argc; ++i) {
        sizes.push_back(std::stoll(argv[i]));
    }
    if (sizes.empty()) {
        sizes = {10'000, 100'000, 1'000'000, 10'000'000};
    }
    const auto folder = bench::scratch_folder("run");
    const auto codes = folder / "sentido.CFG";
    write_text_file(codes, testing::codes_file_content(testing::large_sheet_direction_codes()));

    std::cout << "sheet  size  wall time  ratio to a plain copy  peak memory\n";
    for (const bool against : {false, true}) {
        const auto chain = make_chain(folder, 30'000, against);
        report(chain.filename().string(), chain, {}, false);
        std::filesystem::remove(chain);
    }
    for (const std::int64_t lines : sizes) {
        const auto sheet = bench::make_sheet(folder, lines, 7);
        report(std::to_string(lines) + " lines", sheet, codes, false);
        report(std::to_string(lines) + " lines", sheet, codes, true);
        std::filesystem::remove(sheet);
        for (const auto& entry : std::filesystem::directory_iterator(folder)) {
            if (entry.path().filename().string().find("_sal") != std::string::npos ||
                entry.path().filename().string().find("_err") != std::string::npos) {
                std::filesystem::remove(entry.path());
            }
        }
    }
    std::filesystem::remove_all(folder);
    return 0;
}
