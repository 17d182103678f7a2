// How far a long step has come, for those who show it: a step calls its progress every so many
// units of work with what it has done of its total.
#pragma once

#include <cstdint>
#include <functional>

namespace tarvel {

/// Called with the units done and the units in all; empty: nobody is told.
using StepProgress = std::function<void(std::int64_t done, std::int64_t total)>;

/// How often, in units, a step tells its progress.
inline constexpr std::int64_t progress_every = 1 << 16;

} // namespace tarvel
