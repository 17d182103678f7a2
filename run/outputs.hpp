// The files a run writes, as one list: for each input its output and its error file, named
// from the input, and for a whole run the files named on the command line. Derived names,
// the refusals of a run that would write over what it reads, the batch's exclusions and the
// order of the commits all go through this list, so a new output is one entry.
#pragma once

#include <array>
#include <filesystem>
#include <string_view>
#include <vector>

namespace tarvel::run {

/// What an output holds.
enum class OutputRole { sheet, errors, report, gis_export };

/// The role as a message names it: "la salida", "el fichero de errores", ...
[[nodiscard]] std::string_view role_name(OutputRole role) noexcept;

/// An output a file derives from its input's name: its role and the piece put before the
/// first dot of the input's file name.
struct DerivedOutput {
    OutputRole role;
    std::string_view piece;
};

/// The outputs of every input, in the order they are committed.
inline constexpr std::array<DerivedOutput, 2> derived_outputs{{
    {OutputRole::sheet, "_sal"},
    {OutputRole::errors, "_err"},
}};

/// One file a run may write.
struct PlannedOutput {
    OutputRole role;
    std::filesystem::path target;
};

/// The outputs of one input: each derived output under its derived name, in `output_folder`
/// when that is not empty, else beside the input; the sheet under `chosen_output` instead
/// when that is not empty.
[[nodiscard]] std::vector<PlannedOutput> file_outputs(const std::filesystem::path& input,
                                                      const std::filesystem::path& chosen_output,
                                                      const std::filesystem::path& output_folder);

/// Every name derived from `input` (whatever output was chosen), in `output_folder` when that
/// is not empty, else beside the input: what a batch must not read before `input` is done.
[[nodiscard]] std::vector<std::filesystem::path>
derived_names(const std::filesystem::path& input, const std::filesystem::path& output_folder);

/// What a run reads: its input and its codes file (empty: none).
struct ReadFiles {
    std::filesystem::path input;
    std::filesystem::path codes;
};

/// Throws RunRefused, naming the output, when one of `outputs` would be a file the run
/// reads or another of the outputs. The error file is only written with a codes file, so
/// without one it may share a name with the output.
void refuse_overwrites(const std::vector<PlannedOutput>& outputs, const ReadFiles& read);

/// The planned output with `role`; throws std::logic_error when there is none.
[[nodiscard]] const std::filesystem::path& target_of(const std::vector<PlannedOutput>& outputs,
                                                     OutputRole role);

} // namespace tarvel::run
