// The sheets named in a list (--files-from): one a line, or each ended by a 0 byte as
// `find -print0` writes them, so that thousands of sheets, or one machine's share of them,
// need no command line of their own.
#pragma once

#include <filesystem>
#include <iosfwd>
#include <string_view>
#include <vector>

namespace tarvel::cli {

/// The names in `text`, each ended by `separator` or by the end of the text, in order.
/// Empty names are skipped; with line ends, a carriage return before one is dropped (CRLF).
[[nodiscard]] std::vector<std::filesystem::path> names_in(std::string_view text, char separator);

/// The names listed in `list`, or in `standard_input` when `list` is "-"; `null_separated`:
/// ended by 0 bytes, not by line ends. Throws FileError naming the list when it cannot be read.
[[nodiscard]] std::vector<std::filesystem::path> read_file_list(const std::filesystem::path& list,
                                                                std::istream& standard_input,
                                                                bool null_separated);

} // namespace tarvel::cli
