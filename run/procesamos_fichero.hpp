// `ProcesamosFichero`: the whole job on one DIGI file, from explicit settings to the output
// file, the error file and a summary. The window and the command line both call it.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <stop_token>

#include "run/codes_file.hpp"
#include "run/sheet_results.hpp"

namespace tarvel::run {

/// Unit of the file's coordinates; it only sizes the error markers.
enum class Unit { metres, centimetres, millimetres };

/// File units per metre: 1, 100 or 1000.
[[nodiscard]] std::int32_t unit_factor(Unit unit) noexcept;

/// A step of one sheet's run, as its progress names it.
enum class Stage { reading, nodes, joins, writing };

/// The step's name as a progress line shows it: "leyendo", "nodos", "uniones", "escribiendo".
[[nodiscard]] const char* stage_name(Stage stage) noexcept;

/// Told how far a sheet's run has come: the step, and units done of its total.
using SheetProgress = std::function<void(Stage stage, std::int64_t done, std::int64_t total)>;

/// The window's "Tolerancia" as it opens, and the command line's default, in metres.
inline constexpr double default_tolerance = 0.10;

struct RunSettings {
    std::filesystem::path input;
    std::filesystem::path output; ///< empty: the name derived from the input ("_sal")
    /// Where the derived output and error file go, under the names they would have beside
    /// the input; empty: beside the input.
    std::filesystem::path output_folder;
    std::filesystem::path codes; ///< codes file with direction; empty: no direction check
    /// `codes` as read once for a whole run; null: the run reads `codes` itself.
    std::shared_ptr<const CodesRead> codes_read;
    Unit unit = Unit::millimetres;
    bool all_elements = false; ///< "Salida de Todos los Elementos"
    /// Near-miss tolerance in metres ("Tolerancia"): line ends closer than this that did
    /// not meet are reported. Not negative.
    double tolerance = default_tolerance;
    /// Keep the sheet's results (RunSummary::details) for a report, an export or a map.
    bool keep_details = false;
    /// Told how far the run has come, from the thread that runs it; empty: nobody is.
    SheetProgress progress;
    /// Asks the run to stop: it then throws Cancelled between steps or while writing, leaving
    /// every older file as it was.
    std::stop_token stop;
};

struct RunSummary {
    std::filesystem::path input;
    std::filesystem::path output;
    std::filesystem::path error_file; ///< the error file's name (written only when errors > 0)
    std::int64_t lines_read = 0;
    std::int64_t texts_read = 0;
    std::int64_t joins = 0;
    std::int64_t lines_written = 0;
    std::int64_t direction_errors = 0;
    std::int64_t rings_passed_over = 0;
    std::int64_t vertex_limit_nodes = 0;
    std::int64_t z_differences = 0; ///< joins whose two line ends differ in Z
    std::int64_t near_misses = 0;   ///< pairs of line ends within the tolerance, not met
    /// No direction errors were found, yet a file of the error file's name is there: an
    /// error file of an earlier run, left as it was.
    bool older_error_file = false;
    /// What the run found, place by place, when the settings asked to keep it.
    std::shared_ptr<const SheetResults> details;
};

/// The near-miss tolerance of `settings` in file units.
[[nodiscard]] double tolerance_in_file_units(const RunSettings& settings) noexcept;

/// What `settings` would give for its input, worked out without writing anything (for a map
/// of a sheet processed earlier). Throws as ProcesamosFichero does.
[[nodiscard]] std::shared_ptr<const SheetResults> analyse_sheet(const RunSettings& settings);

/// Processes one file. Throws a tarvel::Error (RunRefused, FileError, FormatError,
/// CodesFileError, or Cancelled when `settings.stop` asks) naming the file; a failed run
/// leaves older outputs as they were.
RunSummary ProcesamosFichero(const RunSettings& settings);

} // namespace tarvel::run
