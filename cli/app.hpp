// The `tarvel` program as a function: arguments in, text on two streams, exit code out,
// so that tests run it without a process.
#pragma once

#include <iosfwd>
#include <string>
#include <vector>

namespace tarvel::cli {

/// Runs the command line `args` (without the program name). A list of inputs may be read
/// from `in` (--files-from -). Results go to `out`, errors to `err`; a progress line goes to
/// `err` when --progress asks, or when `err_is_terminal` and --no-progress does not forbid
/// it. Returns 0 when every file succeeded, 1 when any failed, 2 on a usage error. Never
/// throws.
[[nodiscard]] int run_cli(const std::vector<std::string>& args, std::istream& in, std::ostream& out,
                          std::ostream& err, bool err_is_terminal = false);

} // namespace tarvel::cli
