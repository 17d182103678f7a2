// The live loaded lines of a sheet written while the node loop runs, on the thread beside it:
// they come first in the output, and each is settled once the loop has passed its nodes.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>

#include "analysis/node_table.hpp"
#include "digi/definiciones_digi.hpp"
#include "digi/writer.hpp"

namespace tarvel::run {

/// Where the node loop has got to, for a thread beside it: the nodes it has passed for good
/// (0 .. passed - 1 are visited), or that it was abandoned.
class LoopPassage {
public:
    static constexpr std::int64_t abandoned = -1;

    /// Called by the loop with the nodes visited so far, and with every node at its end.
    void pass(std::int64_t nodes) noexcept {
        m_passed.store(nodes, std::memory_order_release);
        m_passed.notify_all();
    }
    void abandon() noexcept { pass(abandoned); }
    [[nodiscard]] std::int64_t passed() const noexcept {
        return m_passed.load(std::memory_order_acquire);
    }
    /// Waits until the loop has got past `seen`; returns where it is.
    std::int64_t wait_past(std::int64_t seen) const noexcept {
        m_passed.wait(seen, std::memory_order_acquire);
        return passed();
    }

private:
    std::atomic<std::int64_t> m_passed{0};
};

/// Writes the live loaded lines of `tables` in table order, each as soon as `loop` has passed
/// its nodes in `nodes` (a join absorbs a loaded line only at a node of its own, so whether it
/// stays is settled then), until every line is written or the loop is abandoned. Returns the
/// lines written, the first of the output.
std::size_t write_passed_lines(digi::ByteSink& out, const digi::ElementTables& tables,
                               const analysis::NodeTable& nodes, const LoopPassage& loop);

} // namespace tarvel::run
