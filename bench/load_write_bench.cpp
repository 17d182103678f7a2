// How fast a sheet is loaded and written back, beside a plain copy of the same file.
// Usage: tarvel-bench-load-write [LINES...]   (default: 100000 1000000)

#include <chrono>
#include <functional>
#include <iostream>
#include <vector>

#include "bench/measure.hpp"
#include "digi/loader.hpp"
#include "digi/writer.hpp"
#include "run/atomic_output_file.hpp"
#include "tests/support/generator.hpp"

using namespace tarvel;

int main(int argc, char** argv) {
    std::vector<std::int64_t> sizes;
    for (int i = 1; i < argc; ++i) {
        sizes.push_back(std::stoll(argv[i]));
    }
    if (sizes.empty()) {
        sizes = {100'000, 1'000'000};
    }
    const auto folder = bench::scratch_folder("load-write");
    std::cout << "lines      MB      copy MB/s  load MB/s  write MB/s  load+write MB/s  "
                 "(load+write)/copy\n";
    for (const std::int64_t lines : sizes) {
        const auto sheet = bench::make_sheet(folder, lines, 42);
        const auto size = static_cast<std::int64_t>(std::filesystem::file_size(sheet));
        const auto target = folder / "salida.bin";
        const auto copy = bench::measure_in_child([&] { bench::plain_copy(sheet, target); });
        const auto load = bench::measure_in_child([&] { (void)digi::CargamosFichero(sheet); });
        const auto both = bench::measure_in_child(std::function<double()>([&] {
            const digi::ElementTables tables = digi::CargamosFichero(sheet);
            const auto start = std::chrono::steady_clock::now();
            run::AtomicOutputFile out(target);
            digi::EscribimosSalida(out, tables, true, {});
            out.commit();
            return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        }));
        const double mb = static_cast<double>(size) / (1024.0 * 1024.0);
        const double write_seconds = both.part_seconds;
        std::cout << lines << "  " << bench::megabytes(size) << "  "
                  << bench::fixed(mb / copy.seconds, 0) << "  "
                  << bench::fixed(mb / load.seconds, 0) << "  "
                  << bench::fixed(mb / write_seconds, 0) << "  "
                  << bench::fixed(mb / both.seconds, 0) << "  "
                  << bench::fixed(both.seconds / copy.seconds, 2) << "\n";
    }
    std::filesystem::remove_all(folder);
    return 0;
}
