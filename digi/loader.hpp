// `CargamosFichero`: reads a DIGI file into the line and text element tables.
// A large file is mapped, a small one read; one walk over its elements checks every
// element's framing and fills the tables. Nothing is read past the end.
#pragma once

#include <filesystem>
#include <span>
#include <string>

#include "common/progress.hpp"
#include "digi/definiciones_digi.hpp"

namespace tarvel::digi {

/// Sheets of this size or more are mapped; smaller ones are read: on a few megabytes a mapping
/// saves little, and mapping and unmapping a file for every sheet of a batch makes the workers
/// wait on each other's page tables.
inline constexpr std::int64_t map_from_bytes = std::int64_t{1} << 24;

/// Told of the line records as the walk finds them, on the walking thread, so that work on
/// them can begin on another thread before the walk has ended.
class LineWatch {
public:
    LineWatch() = default;
    LineWatch(const LineWatch&) = delete;
    LineWatch& operator=(const LineWatch&) = delete;
    virtual ~LineWatch() = default;

    /// Before the first element: the bytes the records point into, which stay where they are
    /// as long as the tables, and how many lines a sheet of that size usually has. Returns
    /// whether it reads the records; when not, it is told nothing more.
    virtual bool starting(std::span<const std::byte> bytes, std::size_t expected_lines) = 0;
    /// The records of lines 0 .. count - 1, final. They stay at `records` until let_go().
    virtual void found(const LineRecord* records, std::size_t count) noexcept = 0;
    /// The records told so far are about to move to more room, or to go because the walk
    /// failed: once this returns, nothing may read them or the bytes through them. The watch
    /// is told nothing more.
    virtual void let_go() noexcept = 0;
};

/// Reads `path` whole and builds its element tables. Throws FileError when the file
/// cannot be read (missing, a folder, no permission) and FormatError for a bad element.
/// `watch`, when given, is told of the lines as they are found.
[[nodiscard]] ElementTables CargamosFichero(const std::filesystem::path& path,
                                            const StepProgress& progress = {},
                                            LineWatch* watch = nullptr);

/// Builds the element tables of `bytes`, which it keeps; `file_name` names them in messages.
/// Throws FormatError for a negative item count, a "T=" element with item count 0, or an
/// element (or header) that runs past the end.
[[nodiscard]] ElementTables load_elements(FileBytes bytes, std::string file_name,
                                          const StepProgress& progress = {},
                                          LineWatch* watch = nullptr);

/// Same, on a copy of `bytes`.
[[nodiscard]] ElementTables load_elements(std::span<const std::byte> bytes, std::string file_name);

/// The whole content of a file, in one read. Throws FileError.
[[nodiscard]] FileBytes read_file(const std::filesystem::path& path);

} // namespace tarvel::digi
