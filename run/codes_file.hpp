// The codes file: the feature codes whose lines have a direction. A plain text file of
// comma- or line-separated fields taken in pairs; the first field of each pair is a code,
// the second is read and not used.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace tarvel::run {

/// The codes of a codes file's content, in file order, each trimmed of spaces.
/// Fields end at a comma or a line end (LF or CRLF); spaces and tabs before a field are
/// skipped; a field opening with a double quote runs to the closing quote on its line
/// (commas inside kept, anything after the quote up to the separator ignored); blank lines
/// are skipped; a leading UTF-8 byte-order mark is dropped. Empty content gives an empty
/// list; content ending after the first field of a pair keeps that code. Never throws for
/// any content.
[[nodiscard]] std::vector<std::string> parse_codes(std::string_view content);

/// Reads and parses the codes file at `path`. Throws CodesFileError naming the file when
/// it cannot be opened or read.
[[nodiscard]] std::vector<std::string> read_codes_file(const std::filesystem::path& path);

} // namespace tarvel::run
