// A whole run as both fronts start it: the sheets, the settings they share, and the run-wide
// outputs (report, GIS export), fed each sheet's outcome in list order while the sheets are
// processed and committed together once they are all done.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "run/batch.hpp"
#include "run/run_outputs.hpp"

namespace tarvel::run {

/// What became of a whole run.
struct JobOutcome {
    std::vector<FileOutcome> files; ///< one per input, in list order
    /// Run-wide outputs that could not be written, "FILE: reason" each.
    std::vector<std::string> failures;
    /// The run was stopped on request: the sheets not done are marked cancelled and the
    /// run-wide outputs were not written.
    bool cancelled = false;
};

/// Processes `inputs` with `settings`. A chosen output name holds only with one input. An
/// output folder that is not there or is no folder is a FileError before any sheet is read. The
/// run-wide outputs are refused (RunRefused, before any sheet is read) when they would take
/// the place of an input, an output, the codes file or each other, and thrown as FileError
/// when they cannot be created; once the sheets are under way their failures are kept in the
/// outcome. `on_file_done` is called for each sheet in list order, with its details when a
/// run-wide output or `settings.common.keep_details` asked for them.
[[nodiscard]] JobOutcome run_job(const JobSettings& settings,
                                 const std::vector<std::filesystem::path>& inputs,
                                 const FileDone& on_file_done = {});

/// Writes the run-wide outputs `settings` asks for (report, GIS export) for a run already
/// done, from what became of its sheets (`outcomes`, in list order), and nothing else: a
/// sheet that succeeded and carries no details is analysed again for them (analyse_sheet,
/// with `settings.common` and the sheet as input). Refuses and throws as run_job does before
/// any sheet is read; a sheet that can no longer be read is a failure in the outcome, and so
/// is an output that cannot be written. `on_file_done` is called for each sheet in list
/// order, with its details. A stop asked through `settings.common.stop` leaves every older
/// file as it was.
[[nodiscard]] JobOutcome export_job(const JobSettings& settings, std::vector<FileOutcome> outcomes,
                                    const FileDone& on_file_done = {});

} // namespace tarvel::run
