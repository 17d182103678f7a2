// Helpers shared by the benchmark programs: a scratch folder, a plain copy to compare
// against, and a measured child process (wall time and peak resident memory).
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>

namespace tarvel::bench {

struct Measure {
    double seconds = 0;
    std::int64_t peak_bytes = 0; ///< peak resident memory of the child process
    double part_seconds = 0;     ///< what `work` returned: the time of a part it timed itself
};

/// Runs `work` in a forked child and measures it; throws if the child fails.
Measure measure_in_child(const std::function<void()>& work);
/// The same, for work that times one part of itself and returns those seconds.
Measure measure_in_child(const std::function<double()>& work);

/// Reads `from` whole and writes it to `to` with plain read/write calls, then syncs it:
/// the floor that loading and writing a sheet is compared with.
void plain_copy(const std::filesystem::path& from, const std::filesystem::path& to);

/// A fresh folder under the system temporary folder (or $TARVEL_BENCH_DIR).
std::filesystem::path scratch_folder(const std::string& name);

/// A generated realistic sheet of `lines` lines, written into `folder`.
std::filesystem::path make_sheet(const std::filesystem::path& folder, std::int64_t lines,
                                 std::uint64_t seed);

std::string megabytes(std::int64_t bytes);
std::string fixed(double value, int decimals);

} // namespace tarvel::bench
