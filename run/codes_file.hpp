// The codes file: the feature codes whose lines have a direction. A plain text file of
// comma- or line-separated fields taken in pairs; the first field of each pair is a code,
// the second is read and not used.
#pragma once

#include <exception>
#include <filesystem>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "analysis/funciones_tarvel.hpp"

namespace tarvel::run {

/// The codes of a codes file's content, in file order, each trimmed of spaces.
/// Fields end at a comma or a line end (LF or CRLF); spaces and tabs before a field are
/// skipped; a field opening with a double quote runs to the closing quote, over line
/// ends if need be, or to its line end when no quote closes it (commas inside kept, anything after
/// the quote up to the separator ignored); blank lines are skipped; a leading UTF-8 byte-order mark
/// is dropped. Empty content gives an empty list; content ending after the first field of a pair
/// keeps that code. Never throws for any content.
[[nodiscard]] std::vector<std::string> parse_codes(std::string_view content);

/// Reads and parses the codes file at `path`. Throws CodesFileError naming the file when
/// it cannot be opened or read.
[[nodiscard]] std::vector<std::string> read_codes_file(const std::filesystem::path& path);

/// A codes file read once for a whole run and shared by every file of it: its codes made
/// ready for lookups, or the failure to read it, which every file of the run reports.
struct CodesRead {
    std::shared_ptr<const analysis::CodeSet> codes;
    std::exception_ptr failure;

    /// The codes; rethrows the failure to read them.
    [[nodiscard]] const analysis::CodeSet& get() const;
};

/// Reads the codes file at `path` once; never throws for the file (see CodesRead).
[[nodiscard]] std::shared_ptr<const CodesRead> read_codes_once(const std::filesystem::path& path);

} // namespace tarvel::run
