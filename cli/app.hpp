// The `tarvel` program as a function: arguments in, text on two streams, exit code out,
// so that tests run it without a process.
#pragma once

#include <iosfwd>
#include <string>
#include <vector>

namespace tarvel::cli {

/// Runs the command line `args` (without the program name). Results go to `out`, errors
/// to `err`; a progress line goes to `err` during a batch when `show_progress` is set (the
/// caller sets it when `err` is a terminal). Returns 0 when every file succeeded, 1 when
/// any failed, 2 on a usage error. Never throws.
[[nodiscard]] int run_cli(const std::vector<std::string>& args, std::ostream& out,
                          std::ostream& err, bool show_progress = false);

} // namespace tarvel::cli
