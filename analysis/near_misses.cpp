#include "analysis/near_misses.hpp"

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>
#include <map>

namespace tarvel::analysis {
namespace {

/// A node placed for the sweep: its number and whether it is a loose end, in four bytes (its
/// place is read from the node table), so that the sweep of a large sheet, which may run
/// beside the node loop, holds little besides the node table.
struct Entry {
    std::uint32_t node_and_loose; ///< node number in the low 31 bits, the loose-end mark above

    [[nodiscard]] std::int32_t node() const noexcept {
        return static_cast<std::int32_t>(node_and_loose & 0x7FFF'FFFFU);
    }
    [[nodiscard]] bool loose() const noexcept { return (node_and_loose >> 31) != 0; }
};

/// Where the entries' nodes are.
struct Places {
    std::span<const std::int32_t> xs;
    std::span<const std::int32_t> ys;
    int shift; ///< rows are 2^shift tall

    [[nodiscard]] std::int64_t x(const Entry& e) const {
        return xs[static_cast<std::size_t>(e.node())];
    }
    [[nodiscard]] std::int64_t y(const Entry& e) const {
        return ys[static_cast<std::size_t>(e.node())];
    }
    [[nodiscard]] std::int64_t row(const Entry& e) const { return y(e) >> shift; }
};

/// The node's place, with the Z of the end of its first line that lies there; `lines` are the
/// loaded lines that end there, in the order they were registered.
NearPlace place_of(const digi::ElementTables& tables, const NodeTable& nodes, std::int32_t node,
                   std::vector<std::int32_t> lines) {
    NearPlace place;
    place.lines = std::move(lines);
    const digi::ElementView first = tables.line(static_cast<std::size_t>(place.lines.front()));
    const digi::Vertex start = first.vertex(0);
    place.point = start.x == nodes.x(node) && start.y == nodes.y(node)
                      ? start
                      : first.vertex(first.item_count() - 1);
    return place;
}

/// The loaded lines that end at each of `wanted`, as they were registered (lines in table
/// order, each line's vertex 1 before its last vertex), from what each loaded line keeps of its
/// nodes: the node loop renames the element lists themselves, never those.
std::map<std::int32_t, std::vector<std::int32_t>>
loaded_lines_at(const NodeTable& nodes, const std::vector<std::array<std::int32_t, 2>>& pairs) {
    std::map<std::int32_t, std::vector<std::int32_t>> lines;
    if (pairs.empty()) {
        return lines;
    }
    // A mark per node keeps the pass over every loaded line to one bit test each.
    std::vector<bool> wanted(static_cast<std::size_t>(nodes.node_count()), false);
    for (const auto& pair : pairs) {
        lines[pair[0]];
        lines[pair[1]];
        wanted[static_cast<std::size_t>(pair[0])] = true;
        wanted[static_cast<std::size_t>(pair[1])] = true;
    }
    for (std::int32_t line = 0; line < nodes.loaded_line_count(); ++line) {
        for (const std::int32_t node : nodes.nodes_of(line)) {
            if (node != NodeTable::no_node && wanted[static_cast<std::size_t>(node)]) {
                lines[node].push_back(line);
            }
        }
    }
    return lines;
}

/// The nodes as entries in order of row, then X. Where there are not many more rows than
/// nodes (the usual sheet) the rows are counted out and each short row sorted on its own;
/// otherwise one sort does it all.
std::vector<Entry> sorted_entries(const NodeTable& nodes, const Places& places) {
    const auto entry = [&](std::size_t i) {
        const auto node = static_cast<std::uint32_t>(i);
        const bool loose = nodes.loose_end(static_cast<std::int32_t>(i));
        return Entry{node | (loose ? 0x8000'0000U : 0U)};
    };
    const auto by_x = [&](const Entry& a, const Entry& b) { return places.x(a) < places.x(b); };
    std::vector<Entry> entries(places.xs.size());
    if (entries.empty()) {
        return entries;
    }
    const auto [low_y, high_y] = std::minmax_element(places.ys.begin(), places.ys.end());
    const std::int64_t low = std::int64_t{*low_y} >> places.shift;
    const std::int64_t rows = (std::int64_t{*high_y} >> places.shift) - low + 1;
    if (rows > static_cast<std::int64_t>(entries.size()) + 1024) {
        for (std::size_t i = 0; i < entries.size(); ++i) {
            entries[i] = entry(i);
        }
        std::sort(entries.begin(), entries.end(), [&](const Entry& a, const Entry& b) {
            return places.row(a) != places.row(b) ? places.row(a) < places.row(b) : by_x(a, b);
        });
        return entries;
    }
    // Counted out by row straight from the node table, then each row put in order of X.
    std::vector<std::uint32_t> next(static_cast<std::size_t>(rows) + 1, 0);
    const auto row_index = [&](std::size_t i) {
        return static_cast<std::size_t>((std::int64_t{places.ys[i]} >> places.shift) - low);
    };
    for (std::size_t i = 0; i < entries.size(); ++i) {
        ++next[row_index(i) + 1];
    }
    for (std::size_t r = 1; r < next.size(); ++r) {
        next[r] += next[r - 1];
    }
    for (std::size_t i = 0; i < entries.size(); ++i) {
        entries[next[row_index(i)]++] = entry(i);
    }
    // Each row now ends where the next begins; short rows are sorted by insertion.
    std::size_t begin = 0;
    for (std::size_t r = 0; r + 1 < next.size(); ++r) {
        const auto first = entries.begin() + static_cast<std::ptrdiff_t>(begin);
        const auto last = entries.begin() + next[r];
        begin = next[r];
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
    return entries;
}

} // namespace

std::vector<NodePair> find_near_pairs(const NodeTable& nodes, double tolerance) {
    std::vector<NodePair> found;
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
    bool any_loose = false;
    for (std::int32_t i = 0; i < node_count && !any_loose; ++i) {
        any_loose = nodes.loose_end(i);
    }
    if (!any_loose) {
        return found;
    }
    const Places places{nodes.xs(), nodes.ys(), shift};
    const std::vector<Entry> entries = sorted_entries(nodes, places);

    // A node's near places lie in its own row or the next one (the row before is covered when
    // its nodes look at this one), within the tolerance in X.
    const double squared = tolerance * tolerance;
    const auto limit = static_cast<std::int64_t>(std::floor(tolerance));
    std::vector<NodePair> pairs;
    const auto consider = [&](const Entry& a, const Entry& b) {
        if (!a.loose() && !b.loose()) {
            return;
        }
        // Each difference is exact in a double; squared in integers, two differences near
        // 2^32 would pass the 64-bit range.
        const auto dx = static_cast<double>(places.x(a) - places.x(b));
        const auto dy = static_cast<double>(places.y(a) - places.y(b));
        if (dx * dx + dy * dy <= squared) {
            pairs.push_back({std::min(a.node(), b.node()), std::max(a.node(), b.node())});
        }
    };
    const std::size_t total = entries.size();
    std::size_t row_start = 0;
    while (row_start < total) {
        const std::int64_t here = places.row(entries[row_start]);
        std::size_t row_end = row_start;
        while (row_end < total && places.row(entries[row_end]) == here) {
            ++row_end;
        }
        std::size_t next_end = row_end;
        while (next_end < total && places.row(entries[next_end]) == here + 1) {
            ++next_end;
        }
        std::size_t next = row_end;
        for (std::size_t p = row_start; p < row_end; ++p) {
            const Entry& a = entries[p];
            const std::int64_t x = places.x(a);
            for (std::size_t q = p + 1; q < row_end && places.x(entries[q]) - x <= limit; ++q) {
                consider(a, entries[q]);
            }
            while (next < next_end && places.x(entries[next]) < x - limit) {
                ++next;
            }
            for (std::size_t q = next; q < next_end && places.x(entries[q]) <= x + limit; ++q) {
                consider(a, entries[q]);
            }
        }
        row_start = row_end;
    }

    std::sort(pairs.begin(), pairs.end());
    return pairs;
}

NearPairs gather_near_pairs(const NodeTable& nodes, double tolerance) {
    NearPairs near;
    near.pairs = find_near_pairs(nodes, tolerance);
    near.lines_at = loaded_lines_at(nodes, near.pairs);
    return near;
}

std::vector<NearMiss> describe_near_misses(const digi::ElementTables& tables,
                                           const NodeTable& nodes, const NearPairs& near) {
    std::vector<NearMiss> found;
    found.reserve(near.pairs.size());
    for (const auto& [a, b] : near.pairs) {
        NearMiss miss;
        miss.places = {place_of(tables, nodes, a, near.lines_at.at(a)),
                       place_of(tables, nodes, b, near.lines_at.at(b))};
        const double dx = static_cast<double>(nodes.x(a)) - nodes.x(b);
        const double dy = static_cast<double>(nodes.y(a)) - nodes.y(b);
        miss.distance = std::sqrt(dx * dx + dy * dy);
        found.push_back(std::move(miss));
    }
    return found;
}

std::vector<NearMiss> find_near_misses(const digi::ElementTables& tables, const NodeTable& nodes,
                                       double tolerance) {
    return describe_near_misses(tables, nodes, gather_near_pairs(nodes, tolerance));
}

} // namespace tarvel::analysis
