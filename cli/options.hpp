// The command line of `tarvel`: its options parsed into one struct. Parsing only reads the
// arguments; no file is looked at until the run.
#pragma once

#include <filesystem>
#include <iosfwd>
#include <optional>
#include <string>
#include <vector>

#include "run/procesamos_fichero.hpp"

namespace tarvel::cli {

/// Exit codes of the program.
inline constexpr int exit_success = 0;
inline constexpr int exit_file_failed = 1;
inline constexpr int exit_usage = 2;

/// When the progress line is drawn on stderr.
enum class Progress { on_terminal, shown, hidden };

struct Options {
    std::vector<std::filesystem::path> inputs; ///< DIGI files or folders, in the order given
    /// A list of further inputs, one a line, taken after `inputs` ("-": standard input);
    /// empty: none.
    std::filesystem::path files_from;
    bool null_separated = false;         ///< the list's names end with a 0 byte, not a line end
    std::filesystem::path output;        ///< empty: the derived name
    std::filesystem::path output_folder; ///< derived outputs go here; empty: beside the input
    std::filesystem::path codes;         ///< empty: no direction check
    run::Unit unit = run::Unit::millimetres;
    bool all_elements = false;
    unsigned jobs = 1; ///< files processed at once in a batch
    bool quiet = false;
    double tolerance = run::default_tolerance; ///< near-miss tolerance, metres
    std::filesystem::path report;              ///< JSON report; empty: none
    std::filesystem::path gis_export;          ///< GIS export; empty: none
    std::string crs;                           ///< of the export; empty: none
    Progress progress = Progress::on_terminal;
};

/// Either options to run with, or the exit code of a parse that ends the program
/// (help or version printed to `out`: 0; a usage error printed to `err`: 2).
struct ParseOutcome {
    std::optional<Options> options;
    int exit_code = exit_success;
};

/// Parses `args` (without the program name). `default_jobs` is the value of --jobs when it
/// is not given (the number of cores).
[[nodiscard]] ParseOutcome parse_options(const std::vector<std::string>& args,
                                         unsigned default_jobs, std::ostream& out,
                                         std::ostream& err);

/// Prints a usage error the way the parser does: "tarvel: error de uso: MESSAGE" and a hint.
void print_usage_error(std::ostream& err, const std::string& message);

} // namespace tarvel::cli
