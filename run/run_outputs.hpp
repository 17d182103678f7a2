// The files written for a whole run rather than for one sheet: the JSON report and the GIS
// export. Each is fed every sheet's outcome in list order while the batch goes on, so memory
// stays that of a sheet, and is committed with the others when the batch is over. Adding such
// an output is one more class behind `open_run_outputs`.
#pragma once

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "run/atomic_output_file.hpp"
#include "run/batch.hpp"
#include "run/outputs.hpp"

namespace tarvel::run {

/// The settings of a whole run, as both fronts give them.
struct JobSettings {
    /// What every sheet is run with; its input is set per sheet, and its output only holds
    /// for a single sheet.
    RunSettings common;
    unsigned jobs = 1;                ///< sheets processed at once
    std::filesystem::path report;     ///< JSON report; empty: none
    std::filesystem::path gis_export; ///< GIS export; empty: none
    std::string crs;                  ///< coordinate reference system of the export; empty: none
};

/// A file written for a whole run.
class RunWideOutput {
public:
    virtual ~RunWideOutput() = default;
    /// Takes the outcome of the next sheet of the list. For a sheet that succeeded,
    /// `outcome.summary->details` holds what it found. Throws FileError when the file cannot
    /// be written.
    virtual void add(const FileOutcome& outcome) = 0;
    /// Completes the file under its temporary name, ready to be committed. Throws FileError.
    virtual void finish() = 0;
    /// The temporary that holds it, for the commit.
    [[nodiscard]] virtual AtomicOutputFile& file() = 0;
};

/// The run-wide outputs `settings` asks for, in the order they are committed, with their
/// roles and targets.
[[nodiscard]] std::vector<PlannedOutput> run_wide_outputs(const JobSettings& settings);

/// Opens every run-wide output `settings` asks for. Throws RunRefused or FileError naming
/// the file when one cannot be made (an unknown export format, say); none is then left.
[[nodiscard]] std::vector<std::unique_ptr<RunWideOutput>>
open_run_outputs(const JobSettings& settings, const std::vector<std::filesystem::path>& inputs);

} // namespace tarvel::run
