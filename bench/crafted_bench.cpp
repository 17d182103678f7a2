// Places crafted against a node index without a seed: every line end of the sheet hashes to
// one slot of an index that mixes (X, Y) with a fixed function (the SplitMix64 finaliser,
// inverted here) into a table of 1.5 times the most places possible. Such an index searched
// every slot of one long run for every end, so time grew with the square of the sheet. The
// run on such a sheet is timed beside the run on a sheet of ordinary places of the same size.
// Usage: tarvel-bench-crafted [LINES]   (default 160000)
#include <cstdint>
#include <filesystem>
#include <iostream>
#include <random>
#include <stdexcept>

#include "bench/measure.hpp"
#include "run/procesamos_fichero.hpp"
#include "tests/support/digi_builder.hpp"

namespace {

using namespace tarvel;

/// The inverse of an odd 64-bit number modulo 2^64 (Newton's iteration).
std::uint64_t inverse(std::uint64_t a) {
    std::uint64_t x = a;
    for (int i = 0; i < 6; ++i) {
        x *= 2 - a * x;
    }
    return x;
}

/// Undoes z ^= z >> shift.
std::uint64_t unshift(std::uint64_t z, int shift) {
    std::uint64_t result = z;
    for (int s = shift; s < 64; s += shift) {
        result = z ^ (result >> shift);
    }
    return result;
}

/// The (X, Y) whose SplitMix64 finalisation is `hash`.
digi::Vertex place_hashing_to(std::uint64_t hash) {
    std::uint64_t z = unshift(hash, 31);
    z *= inverse(0x94d049bb133111ebULL);
    z = unshift(z, 27);
    z *= inverse(0xbf58476d1ce4e5b9ULL);
    z = unshift(z, 30);
    return {static_cast<std::int32_t>(static_cast<std::uint32_t>(z >> 32)),
            static_cast<std::int32_t>(static_cast<std::uint32_t>(z)), 0};
}

/// SplitMix64's finaliser of (X, Y), as the unseeded index mixed a place.
std::uint64_t mix(const digi::Vertex& place) {
    std::uint64_t z = (static_cast<std::uint64_t>(static_cast<std::uint32_t>(place.x)) << 32) |
                      static_cast<std::uint32_t>(place.y);
    z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ULL;
    z = (z ^ (z >> 27)) * 0x94d049bb133111ebULL;
    return z ^ (z >> 31);
}

std::filesystem::path write_sheet(const std::filesystem::path& folder, const std::string& name,
                                  std::int64_t lines, bool crafted) {
    const std::uint64_t slots = 3 * static_cast<std::uint64_t>(lines); // 1.5 x 2 ends a line
    std::mt19937_64 random(7);
    testing::DigiBuilder sheet;
    for (std::int64_t k = 0; k < lines; ++k) {
        digi::Vertex ends[2];
        for (int e = 0; e < 2; ++e) {
            const auto index = static_cast<std::uint64_t>(2 * k + e + 1);
            ends[e] = crafted ? place_hashing_to(index * slots)
                              : digi::Vertex{static_cast<std::int32_t>(random()),
                                             static_cast<std::int32_t>(random()), 0};
            if (crafted && mix(ends[e]) % slots != 0) {
                throw std::logic_error("a crafted place does not hash to slot 0");
            }
        }
        sheet.line("CAMINO", {ends[0], ends[1]});
    }
    const auto path = folder / name;
    testing::write_bytes(path.string(), sheet.bytes());
    return path;
}

} // namespace

int main(int argc, char** argv) {
    const std::int64_t lines = argc > 1 ? std::stoll(argv[1]) : 160'000;
    const auto folder = bench::scratch_folder("crafted");
    std::cout << lines << " lines of two ends each, all places different\n";
    for (const bool crafted : {false, true}) {
        const auto sheet = write_sheet(folder, crafted ? "crafted.bin" : "ordinary.bin", lines,
                                       crafted);
        run::RunSettings settings;
        settings.input = sheet;
        settings.all_elements = true;
        const bench::Measure run =
            bench::measure_in_child([&] { (void)run::ProcesamosFichero(settings); });
        std::cout << (crafted ? "places crafted against an unseeded index  "
                              : "ordinary places                           ")
                  << bench::fixed(run.seconds, 3) << " s\n";
    }
    std::filesystem::remove_all(folder);
    return 0;
}
