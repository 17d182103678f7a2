// Batch mode: the *.bin files of a folder, processed one by one or several at once,
// each file's failure kept apart so that the batch goes on.
#pragma once

#include <cstddef>
#include <exception>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "run/procesamos_fichero.hpp"

namespace tarvel::run {

/// The *.bin files of `folder` (extension in any case), sorted by name in byte order,
/// without the names that are the output or error name of another file of the list.
/// Throws FileError when the folder cannot be listed.
[[nodiscard]] std::vector<std::filesystem::path> batch_list(const std::filesystem::path& folder);

/// What became of one file of a batch: a summary, or the reason it failed.
struct FileOutcome {
    std::filesystem::path input;
    std::optional<RunSummary> summary;
    std::string error;      ///< the failure message when `summary` is empty
    bool cancelled = false; ///< stopped, or never started, because the run was cancelled
};

/// Keeps the memory a sheet frees for the sheets that follow. By default the allocator hands the
/// top of its heap back to the system whenever a sheet's tables are freed, and the next sheet
/// takes it again page by page, each page cleared by the system: that was nearly a third of a
/// batch of small sheets, and two workers in one process also wait on each other while the
/// system changes their shared map. Once set, it holds for the process; a batch of
/// more than one sheet sets it.
void keep_freed_memory_for_next_sheets() noexcept;

/// Runs one file with `settings` as they are (a chosen output name is kept) and catches any
/// failure into the outcome, running out of memory included.
[[nodiscard]] FileOutcome run_file(const RunSettings& settings) noexcept;

/// The reason a failure gives, in Spanish where the core throws it: its message, or
/// `out_of_memory` for memory exhausted.
[[nodiscard]] std::string failure_reason(const std::exception_ptr& failure) noexcept;

/// The reason of a file that ran out of memory.
inline constexpr std::string_view out_of_memory = "memoria insuficiente";

/// Called once for each file, in list order, from one of the threads that process them.
using FileDone = std::function<void(std::size_t index, const FileOutcome& outcome)>;

/// Runs every input with `common` (its input and output are set per file: the derived
/// output name), up to `jobs` files at once. Once `common.stop` asks, the sheet in hand is
/// abandoned and no other is started; each is then marked cancelled. Never throws for a file's
/// failure. The outcomes returned hold no details: they are only handed to `on_file_done`.
[[nodiscard]] std::vector<FileOutcome> run_batch(const std::vector<std::filesystem::path>& inputs,
                                                 const RunSettings& common, unsigned jobs,
                                                 const FileDone& on_file_done = {});

} // namespace tarvel::run
