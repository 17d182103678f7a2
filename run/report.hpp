// The JSON report of a run (see docs/report.md): the program and its version, the settings,
// and for each sheet in list order its names, how it ended, its counts and every finding, with
// coordinates in metres. Written while the batch goes on, one sheet at a time.
#pragma once

#include <filesystem>
#include <memory>
#include <vector>

#include "run/run_outputs.hpp"

namespace tarvel::run {

/// The run-wide output for a report to `target`. Throws FileError when it cannot be created.
[[nodiscard]] std::unique_ptr<RunWideOutput>
open_report(const std::filesystem::path& target, const JobSettings& settings, std::size_t sheets);

} // namespace tarvel::run
