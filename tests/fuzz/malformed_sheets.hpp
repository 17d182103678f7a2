// Small DIGI files that break the framing rules in each way the loader must catch, and the
// edge files it must accept. Used as fuzz seeds and by the end-to-end robustness tests.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace tarvel::fuzz {

struct MalformedSheet {
    std::string name;                         ///< a file-name stem, without extension
    std::vector<std::byte> bytes;             ///< the file
    std::optional<std::int64_t> bad_position; ///< 1-based byte of the bad element; none: loads
    std::int32_t lines = 0;                   ///< lines loaded when it loads
};

/// Every case, in a fixed order: truncated header, truncated body, negative item counts
/// (loaded and stepped-over elements), a text with item count 0, attribute records running
/// past the end, two stray bytes; and the accepted ones: one stray byte, an empty and a
/// one-byte file.
[[nodiscard]] std::vector<MalformedSheet> malformed_sheets();

} // namespace tarvel::fuzz
