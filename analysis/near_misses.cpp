#include "analysis/near_misses.hpp"

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>

namespace tarvel::analysis {
namespace {

/// A node placed for the sweep: where it is, its grid row, and whether it is a loose end.
struct Entry {
    std::int32_t x;
    std::int32_t y;
    std::int32_t row;
    std::int32_t node;
    bool loose;
};

/// The node's place, with the Z of the end of its first line that lies there.
NearPlace place_of(const digi::ElementTables& tables, const NodeTable& nodes, std::int32_t node) {
    NearPlace place;
    const std::span<const std::int32_t> lines = nodes.element_list(node);
    place.lines.assign(lines.begin(), lines.end());
    const digi::ElementView first = tables.line(static_cast<std::size_t>(lines.front()));
    const digi::Vertex start = first.vertex(0);
    place.point = start.x == nodes.x(node) && start.y == nodes.y(node)
                      ? start
                      : first.vertex(first.item_count() - 1);
    return place;
}

/// Puts the entries in order of row, then X. Where there are not many more rows than nodes
/// (the usual sheet) the rows are counted out and each short row sorted on its own; otherwise
/// one sort does it all.
void sort_by_row_then_x(std::vector<Entry>& entries) {
    const auto by_x = [](const Entry& a, const Entry& b) { return a.x < b.x; };
    std::int64_t low = std::numeric_limits<std::int64_t>::max();
    std::int64_t high = std::numeric_limits<std::int64_t>::min();
    for (const Entry& e : entries) {
        low = std::min<std::int64_t>(low, e.row);
        high = std::max<std::int64_t>(high, e.row);
    }
    const std::int64_t rows = high - low + 1;
    if (rows > 2 * static_cast<std::int64_t>(entries.size()) + 1024) {
        std::sort(entries.begin(), entries.end(), [](const Entry& a, const Entry& b) {
            return a.row != b.row ? a.row < b.row : a.x < b.x;
        });
        return;
    }
    std::vector<std::uint32_t> starts(static_cast<std::size_t>(rows) + 1, 0);
    for (const Entry& e : entries) {
        ++starts[static_cast<std::size_t>(e.row - low) + 1];
    }
    for (std::size_t r = 1; r < starts.size(); ++r) {
        starts[r] += starts[r - 1];
    }
    std::vector<Entry> sorted(entries.size());
    std::vector<std::uint32_t> next(starts.begin(), starts.end() - 1);
    for (const Entry& e : entries) {
        sorted[next[static_cast<std::size_t>(e.row - low)]++] = e;
    }
    for (std::size_t r = 0; r + 1 < starts.size(); ++r) {
        const auto first = sorted.begin() + starts[r];
        const auto last = sorted.begin() + starts[r + 1];
        if (last - first > 16) {
            std::sort(first, last, by_x);
            continue;
        }
        for (auto it = first + (first != last ? 1 : 0); it < last; ++it) {
            const Entry moved = *it;
            auto hole = it;
            for (; hole != first && by_x(moved, *(hole - 1)); --hole) {
                *hole = *(hole - 1);
            }
            *hole = moved;
        }
    }
    entries.swap(sorted);
}

} // namespace

std::vector<NearMiss> find_near_misses(const digi::ElementTables& tables, const NodeTable& nodes,
                                       double tolerance) {
    std::vector<NearMiss> found;
    const std::int32_t node_count = nodes.node_count();
    // Different places are at least one unit apart: a smaller tolerance can hold none.
    if (!(tolerance >= 1.0) || node_count < 2) {
        return found;
    }
    // No two places differ by 2^32 or more in X or in Y, so none lie 2^33 apart: a larger
    // tolerance (up to infinity) finds the same pairs, and capping it keeps the bounds below
    // within 64-bit integers.
    tolerance = std::min(tolerance, 0x1p33);
    // Rows are a power of two tall, at least the tolerance: a row is then a shift of Y, and
    // two places within the tolerance lie in the same row or in rows next to each other.
    int shift = 0;
    while (shift < 32 && std::ldexp(1.0, shift) < tolerance) {
        ++shift;
    }
    const std::span<const std::int32_t> xs = nodes.xs();
    const std::span<const std::int32_t> ys = nodes.ys();
    std::vector<Entry> entries(static_cast<std::size_t>(node_count));
    bool any_loose = false;
    for (std::size_t i = 0; i < entries.size(); ++i) {
        const auto node = static_cast<std::int32_t>(i);
        const bool loose = nodes.loose_end(node);
        entries[i] = Entry{xs[i], ys[i], static_cast<std::int32_t>(std::int64_t{ys[i]} >> shift),
                           node, loose};
        any_loose = any_loose || loose;
    }
    if (!any_loose) {
        return found;
    }
    sort_by_row_then_x(entries);

    // A node's near places lie in its own row or the next one (the row before is covered when
    // its nodes look at this one), within the tolerance in X.
    const double squared = tolerance * tolerance;
    const auto limit = static_cast<std::int64_t>(std::floor(tolerance));
    std::vector<std::array<std::int32_t, 2>> pairs;
    const auto consider = [&](const Entry& a, const Entry& b) {
        if (!a.loose && !b.loose) {
            return;
        }
        // Each difference is exact in a double; squared in integers, two differences near
        // 2^32 would pass the 64-bit range.
        const auto dx = static_cast<double>(std::int64_t{a.x} - b.x);
        const auto dy = static_cast<double>(std::int64_t{a.y} - b.y);
        if (dx * dx + dy * dy <= squared) {
            pairs.push_back({std::min(a.node, b.node), std::max(a.node, b.node)});
        }
    };
    const std::size_t total = entries.size();
    std::size_t row_start = 0;
    while (row_start < total) {
        const std::int32_t row = entries[row_start].row;
        std::size_t row_end = row_start;
        while (row_end < total && entries[row_end].row == row) {
            ++row_end;
        }
        std::size_t next_end = row_end;
        while (next_end < total && std::int64_t{entries[next_end].row} == std::int64_t{row} + 1) {
            ++next_end;
        }
        std::size_t next = row_end;
        for (std::size_t p = row_start; p < row_end; ++p) {
            const Entry& a = entries[p];
            for (std::size_t q = p + 1; q < row_end && entries[q].x - std::int64_t{a.x} <= limit;
                 ++q) {
                consider(a, entries[q]);
            }
            while (next < next_end && entries[next].x < std::int64_t{a.x} - limit) {
                ++next;
            }
            for (std::size_t q = next; q < next_end && entries[q].x <= std::int64_t{a.x} + limit;
                 ++q) {
                consider(a, entries[q]);
            }
        }
        row_start = row_end;
    }

    std::sort(pairs.begin(), pairs.end());
    found.reserve(pairs.size());
    for (const auto& [a, b] : pairs) {
        NearMiss miss;
        miss.places = {place_of(tables, nodes, a), place_of(tables, nodes, b)};
        const double dx = static_cast<double>(nodes.x(a)) - nodes.x(b);
        const double dy = static_cast<double>(nodes.y(a)) - nodes.y(b);
        miss.distance = std::sqrt(dx * dx + dy * dy);
        found.push_back(std::move(miss));
    }
    return found;
}

} // namespace tarvel::analysis
