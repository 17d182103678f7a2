// The properties the fuzz targets check on arbitrary bytes. They live apart from the libFuzzer
// entry points so that the test binary replays the committed corpus and every crasher through
// exactly the same checks under the sanitizers.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace tarvel::fuzz {

/// A property that does not hold. Any other exception escaping a check is a finding too.
class CheckFailure : public std::logic_error {
public:
    using std::logic_error::logic_error;
};

/// The loader on any bytes: either element tables that agree with a plain walk of the framing
/// rules, every field readable and written back exactly, or a FormatError naming the file and
/// the position (inside the file) where that walk finds the bad element.
void check_loader(std::span<const std::byte> data);

/// The codes file reader on any content: the same codes as a line-by-line reading of the
/// field rules, each trimmed of spaces.
void check_codes(std::string_view content);

/// The whole job on one sheet in memory. The first byte holds the settings (see
/// `run_input`), the rest is the DIGI file; when its framing breaks, the loader and the model
/// must refuse the same element, and the job runs on the whole elements in front of it. The
/// job runs without codes and with codes taken from the sheet's own feature codes; each time
/// the output and the error file must equal the literal model's byte for byte, reload cleanly
/// and keep the element counts consistent, and each kind of finding (near misses within the
/// window's default tolerance) must come in the model's number.
void check_run(std::span<const std::byte> data);

/// Settings of one run input.
struct RunFlags {
    bool all_elements = false;
    std::uint8_t unit = 0;         ///< 0 metres, 1 centimetres, otherwise millimetres
    bool empty_code = false;       ///< the derived codes list also holds an empty code
    std::uint8_t code_mask = 0x0F; ///< code j of the sheet has direction when bit j % 4 is set
};

/// A run input: the settings byte followed by the sheet.
[[nodiscard]] std::vector<std::byte> run_input(const RunFlags& flags,
                                               std::span<const std::byte> sheet);

/// Runs `check` on `data` as a fuzz target does: any exception is reported on stderr with
/// the input's size and ends the process with abort(), which libFuzzer records as a crash.
void run_or_abort(void (*check)(std::span<const std::byte>), const std::uint8_t* data,
                  std::size_t size) noexcept;

/// The codes check on raw bytes, for `run_or_abort`.
void check_codes_bytes(std::span<const std::byte> data);

} // namespace tarvel::fuzz
