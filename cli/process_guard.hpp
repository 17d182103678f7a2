// What the `tarvel` process sets up before any work, so that its own condition cannot damage
// a file: standard streams that were closed are held by placeholders (no output file can take
// their descriptors, and writing to them fails as it would have), a closed pipe is an error
// to report rather than a silent death, and SIGINT, SIGTERM and SIGHUP remove the temporaries
// in progress, name the inputs that were being processed and end with 128 + the signal.
#pragma once

namespace tarvel::cli {

/// Call first in main, before any thread starts.
void guard_process();

} // namespace tarvel::cli
