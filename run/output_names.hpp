// The names a run derives from its input file: the output ("_sal") and the error file
// ("_err"). The piece goes in front of the first dot of the file name (folder names are
// never touched) and everything after that dot is kept.
#pragma once

#include <filesystem>
#include <string_view>

namespace tarvel::run {

/// File-name pieces put before the first dot of the input's file name.
inline constexpr std::string_view output_name_piece = "_sal";
inline constexpr std::string_view error_name_piece = "_err";

/// `input` with `piece` put before the first dot of its file name, or appended to a file
/// name without a dot: ("mapas/hoja.v2.bin", "_sal") -> "mapas/hoja_sal.v2.bin".
/// Precondition: `input` has a file name.
[[nodiscard]] std::filesystem::path name_with_piece(const std::filesystem::path& input,
                                                    std::string_view piece);

/// The default output name: "hoja12.bin" -> "hoja12_sal.bin".
[[nodiscard]] std::filesystem::path derived_output_name(const std::filesystem::path& input);

/// The error file name, always derived from the input: "hoja12.bin" -> "hoja12_err.bin".
[[nodiscard]] std::filesystem::path derived_error_name(const std::filesystem::path& input);

} // namespace tarvel::run
