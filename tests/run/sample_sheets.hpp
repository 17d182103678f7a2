// Small sheets the run and command-line tests share, with the bytes a correct run writes
// for them.
#pragma once

#include <vector>

#include "digi/writer.hpp"
#include "run/error_file.hpp"
#include "run/procesamos_fichero.hpp"
#include "tests/run/temp_folder.hpp"
#include "tests/support/digi_builder.hpp"
#include "tests/support/generator.hpp"

namespace tarvel::testing {

inline std::vector<digi::AttributeRecord> river_attributes() {
    return {attribute(7, 42, "CAUCE"), attribute(-1, 0, "", '\0')};
}

/// The typical sheet: A (0,0)-(10,0) and B (10,0)-(20,0), same code and attributes.
inline std::vector<std::byte> typical_sheet() {
    return DigiBuilder{}
        .line("RIO0001", {{0, 0, 0}, {10, 0, 0}}, river_attributes())
        .line("RIO0001", {{10, 0, 0}, {20, 0, 0}}, river_attributes())
        .bytes();
}

/// The line the typical sheet joins into: A's header and attributes, the extent of both.
inline std::vector<std::byte> typical_joined_line() {
    return DigiBuilder{}
        .line("RIO0001", {{0, 0, 0}, {10, 0, 0}, {20, 0, 0}}, river_attributes())
        .bytes();
}

/// Two lines of code RIO0001 meeting end to end at (10, 0, 35): a direction error there
/// when the code has a direction, a join otherwise.
inline std::vector<std::byte> head_to_head_sheet() {
    return DigiBuilder{}
        .line("RIO0001", {{0, 0, 0}, {10, 0, 35}})
        .line("RIO0001", {{20, 0, 0}, {10, 0, 35}})
        .bytes();
}

/// What GrabamosErrores writes for `points` in `unit`.
inline std::vector<std::byte> error_file_bytes(const std::vector<digi::Vertex>& points,
                                               run::Unit unit) {
    digi::MemorySink sink;
    run::GrabamosErrores(sink, points, run::unit_factor(unit));
    return sink.bytes();
}

/// Writes the generated sheets "hojaS.bin" for the seeds S in [first_seed, end_seed) into
/// `folder`, and `codes_name`, a codes file listing the codes with direction of them all.
inline void write_generated_batch(const TempFolder& folder, std::uint64_t first_seed,
                                  std::uint64_t end_seed, const std::string& codes_name) {
    std::vector<std::string> codes;
    for (std::uint64_t seed = first_seed; seed < end_seed; ++seed) {
        const SmallSheet sheet = generate_small_sheet(seed);
        std::string name = "hoja";
        name += std::to_string(seed);
        name += ".bin";
        write_bytes((folder / name).string(), sheet.bytes);
        codes.insert(codes.end(), sheet.direction_codes.begin(), sheet.direction_codes.end());
    }
    write_bytes((folder / codes_name).string(), bytes_of(codes_file_content(codes)));
}

} // namespace tarvel::testing
