// Whether two names lead to the same file, for the checks that keep a run from writing
// over the file it reads.
#pragma once

#include <filesystem>

namespace tarvel::run {

/// `path` made absolute, with symbolic links of its existing part resolved and "." and
/// ".." removed. Touches no file other than by looking it up.
[[nodiscard]] std::filesystem::path normalized_path(const std::filesystem::path& path);

/// True when `a` and `b` name the same file: the same file on disk when both exist (links
/// included), otherwise the same normalized path.
[[nodiscard]] bool same_file(const std::filesystem::path& a, const std::filesystem::path& b);

} // namespace tarvel::run
