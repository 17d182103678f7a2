// tarvel-fuzz-seeds: writes the seed corpus of the fuzz targets from the project's generator,
// so that the committed corpus can be rebuilt: `tarvel-fuzz-seeds tests/fuzz/corpus`.
// Writes DIR/loader, DIR/codes and DIR/run; the same run always writes the same files.
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <string>
#include <vector>

#include "tests/fuzz/fuzz_checks.hpp"
#include "tests/fuzz/malformed_sheets.hpp"
#include "tests/support/digi_builder.hpp"
#include "tests/support/generator.hpp"

namespace {

namespace fs = std::filesystem;
using tarvel::testing::generate_small_sheet;
using tarvel::testing::SmallSheet;
using tarvel::testing::SmallSheetOptions;

constexpr int sheet_seeds = 24;

std::vector<std::byte> bytes_of(const std::string& text) {
    std::vector<std::byte> bytes;
    for (char c : text) {
        bytes.push_back(static_cast<std::byte>(c));
    }
    return bytes;
}

std::string numbered(const std::string& stem, int n, const std::string& extension) {
    char digits[8];
    std::snprintf(digits, sizeof digits, "%02d", n);
    return stem + "-" + digits + extension;
}

/// Small sheets: a few lines, few vertices, so that a fuzzer mutates them quickly.
SmallSheet small_sheet(int seed) {
    SmallSheetOptions options;
    options.min_lines = 1;
    options.max_lines = 10;
    options.max_chain_pieces = 4;
    options.max_interior_vertices = 2;
    options.long_chain_per_mille = 0;
    return generate_small_sheet(static_cast<std::uint64_t>(seed), options);
}

/// Codes files in every shape the reader accepts, built from a sheet's codes.
std::vector<std::string> codes_files(const std::vector<std::string>& codes, int seed) {
    std::string plain = tarvel::testing::codes_file_content(codes);
    std::string crlf;
    std::string quoted;
    std::string final_field_alone;
    for (const std::string& code : codes) {
        crlf += "  " + code + " ,1\r\n";
        quoted += "\"" + code + ", con coma\"x,\t\"0\"\n\n";
        final_field_alone += code + ",\n";
    }
    final_field_alone += codes.empty() ? "SOLO" : codes.front();
    std::vector<std::string> files{plain, crlf, quoted, final_field_alone};
    if (seed == 1) {
        files.push_back("");
        files.push_back("\xEF\xBB\xBF"
                        "RIO0001,1\nCAM0002,0\n");
        files.push_back("\"sin cerrar,1\nB2,0\r\n \t\n,\n");
    }
    return files;
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::cerr << "usage: tarvel-fuzz-seeds DIR\n";
        return 2;
    }
    const fs::path root = argv[1];
    try {
        for (const char* target : {"loader", "codes", "run"}) {
            fs::create_directories(root / target);
        }
        int codes_written = 0;
        for (int seed = 1; seed <= sheet_seeds; ++seed) {
            const SmallSheet sheet = small_sheet(seed);
            tarvel::testing::write_bytes(
                (root / "loader" / numbered("hoja", seed, ".bin")).string(), sheet.bytes);
            tarvel::fuzz::RunFlags flags;
            flags.all_elements = seed % 2 == 1;
            flags.unit = static_cast<std::uint8_t>(seed % 3);
            flags.empty_code = seed % 7 == 0;
            flags.code_mask = static_cast<std::uint8_t>(seed % 16);
            tarvel::testing::write_bytes((root / "run" / numbered("hoja", seed, ".run")).string(),
                                         tarvel::fuzz::run_input(flags, sheet.bytes));
            if (seed <= 6) {
                for (const std::string& content : codes_files(sheet.direction_codes, seed)) {
                    ++codes_written;
                    tarvel::testing::write_bytes(
                        (root / "codes" / numbered("codigos", codes_written, ".cfg")).string(),
                        bytes_of(content));
                }
            }
        }
        for (const tarvel::fuzz::MalformedSheet& sheet : tarvel::fuzz::malformed_sheets()) {
            tarvel::testing::write_bytes((root / "loader" / (sheet.name + ".bin")).string(),
                                         sheet.bytes);
            tarvel::testing::write_bytes((root / "run" / (sheet.name + ".run")).string(),
                                         tarvel::fuzz::run_input({}, sheet.bytes));
        }
    } catch (const std::exception& e) {
        std::cerr << "tarvel-fuzz-seeds: " << e.what() << '\n';
        return 1;
    }
    return 0;
}
