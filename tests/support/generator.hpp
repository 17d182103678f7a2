// Seeded, deterministic generator of DIGI sheets for tests, benchmarks and the examples.
// Small sheets are adversarial (every way line ends can meet, fills, limits, rings, the
// vertex limit); large sheets look like real map data and are streamed out in chunks.
// Everything is driven by the project's own PRNG, so a seed gives the same bytes everywhere.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "digi/writer.hpp"

namespace tarvel::testing {

/// xoshiro256** seeded through splitmix64. Every draw is defined here, not by a standard
/// library distribution, so the stream is the same with any compiler or library version.
class Random {
public:
    explicit Random(std::uint64_t seed) noexcept;

    [[nodiscard]] std::uint64_t next() noexcept;
    /// A number in [0, n); n must be above 0.
    [[nodiscard]] std::uint64_t below(std::uint64_t n) noexcept;
    /// A number in [lo, hi], both included; lo <= hi.
    [[nodiscard]] std::int64_t between(std::int64_t lo, std::int64_t hi) noexcept;
    /// True with a chance of `per_cent` in 100.
    [[nodiscard]] bool percent(int per_cent) noexcept;
    /// True with a chance of `per_mille` in 1000.
    [[nodiscard]] bool per_mille(int per_mille) noexcept;

    template <typename T> [[nodiscard]] const T& pick(const std::vector<T>& items) noexcept {
        return items[static_cast<std::size_t>(below(items.size()))];
    }
    /// Fisher-Yates shuffle with this generator.
    template <typename T> void shuffle(std::vector<T>& items) noexcept {
        for (std::size_t i = items.size(); i > 1; --i) {
            std::swap(items[i - 1], items[static_cast<std::size_t>(below(i))]);
        }
    }

private:
    std::array<std::uint64_t, 4> m_state{};
};

/// Where the coordinates of a small sheet lie.
enum class CoordinateRange {
    mixed,          ///< one of the ranges below, drawn from the seed
    small_positive, ///< near the origin, all positive
    negative,       ///< all below zero
    around_zero,    ///< both signs
    near_max,       ///< up to the largest signed 32-bit value
    near_min,       ///< down to the smallest signed 32-bit value
};

/// The kinds of shape a small sheet is built from.
enum class Shape {
    chain,      ///< pieces meeting end to end, each piece in a random direction
    junction,   ///< three or four lines ending at one place
    ring,       ///< two or three lines closing a loop
    closed,     ///< one line ending where it starts
    loose,      ///< one line touching nothing on purpose
    degenerate, ///< a line of 0 or 1 vertex
    long_chain, ///< two or three long lines whose joins reach the 32767-vertex limit
};

struct SmallSheetOptions {
    int min_lines = 1;  ///< the sheet gets a target line count in [min_lines, max_lines]
    int max_lines = 40; ///< (shapes are added until the target is reached)
    /// Shapes to draw from; empty means all but `long_chain`, which `long_chain_per_mille`
    /// adds now and then.
    std::vector<Shape> shapes;
    int max_chain_pieces = 6;
    int max_interior_vertices = 3;
    int grid = 6;       ///< places per axis; a small grid makes chance meetings likely
    int grid_step = 10; ///< file units between neighbouring places
    CoordinateRange range = CoordinateRange::mixed;
    int reverse_percent = 50;            ///< a piece runs against its chain
    int head_to_tail_chain_percent = 30; ///< a chain keeps one direction throughout
    int repeat_vertex_percent = 10;      ///< a vertex is stored twice in a row
    int z_differs_percent = 15;          ///< a line end's Z differs from the place's
    int attribute_variant_percent = 15;  ///< a piece gets attributes differing in one field
    int code_variant_percent = 10;       ///< a piece gets a code differing only in fill
    int shuffle_percent = 70;            ///< the lines of the sheet are stored shuffled
    int text_percent = 20;               ///< a text follows a shape
    int other_element_percent = 15;      ///< an element of another type code follows a shape
    int direction_code_percent = 50;     ///< a code of the sheet is a code with direction
    int garbage_block_percent = 20;      ///< a line's block holds values unrelated to it
    int long_chain_per_mille = 8;        ///< a sheet gets one long chain
    /// A line end lies a few units off its place, so it almost meets the ends there. 0 draws
    /// nothing for it, which keeps the sheets of earlier options as they were.
    int near_miss_percent = 0;
};

/// A generated small sheet and the codes with direction to put in its codes file.
struct SmallSheet {
    std::vector<std::byte> bytes;
    std::vector<std::string> direction_codes; ///< cleaned codes, as a codes file lists them
    std::int32_t lines = 0;                   ///< "C=" elements
    std::int32_t texts = 0;                   ///< "T=" elements
    std::int32_t other_elements = 0;          ///< elements of other type codes
    bool has_long_chain = false;
};

/// The same seed and options always give the same sheet.
[[nodiscard]] SmallSheet generate_small_sheet(std::uint64_t seed,
                                              const SmallSheetOptions& options = {});

struct LargeSheetOptions {
    std::int64_t lines = 1'000'000; ///< exactly this many "C=" elements
    int max_chain_pieces = 8;
    int max_interior_vertices = 6;
    int junction_percent = 15;         ///< a chain gets a branch line from one of its nodes
    int reverse_percent = 2;           ///< a piece runs against its chain (a direction error
                                       ///< where its code has direction)
    int text_percent = 3;              ///< a text follows a line
    int attribute_variant_percent = 3; ///< a piece's attributes differ from its chain's
    int shuffle_chain_percent = 30;    ///< a chain's pieces are stored in random order
};

struct LargeSheetStats {
    std::int64_t lines = 0;
    std::int64_t texts = 0;
    std::int64_t bytes = 0;
};

/// Streams a large, realistic sheet into `out` in chunks of about 1 MiB.
LargeSheetStats write_large_sheet(std::uint64_t seed, const LargeSheetOptions& options,
                                  digi::ByteSink& out);

/// The codes with direction that large sheets use.
[[nodiscard]] std::vector<std::string> large_sheet_direction_codes();

/// The text of a codes file (*.CFG) listing `codes`: one line "CODE,1" per code.
[[nodiscard]] std::string codes_file_content(const std::vector<std::string>& codes);

} // namespace tarvel::testing
