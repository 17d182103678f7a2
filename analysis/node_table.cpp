#include "analysis/node_table.hpp"

#include <algorithm>
#include <array>
#include <future>
#include <optional>
#include <random>
#include <stdexcept>
#include <string>
#include <system_error>

#include "common/errors.hpp"

namespace tarvel::analysis {
namespace {

/// Joined lines number after the loaded ones and there are fewer of them, so every line and
/// node number stays within a signed 32-bit value.
constexpr std::size_t max_lines = (std::size_t{1} << 30) - 1;

/// A place's hash under `seed`. The seed is drawn afresh for every sheet, so that no choice of
/// coordinates can make many places fall into one slot on purpose: the index stays linear
/// whatever the sheet.
std::uint64_t mix(std::int32_t x, std::int32_t y, std::uint64_t seed) noexcept {
    std::uint64_t z = (static_cast<std::uint64_t>(static_cast<std::uint32_t>(x)) << 32) |
                      static_cast<std::uint32_t>(y);
    z ^= seed;
    z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ULL;
    z = (z ^ (z >> 27)) * 0x94d049bb133111ebULL;
    return z ^ (z >> 31);
}

/// A seed for the place hashes of one sheet.
std::uint64_t fresh_seed() {
    std::random_device device;
    return (static_cast<std::uint64_t>(device()) << 32) ^ device();
}

/// Open-addressing index from (X, Y) to node number, used only while building. Slots hold
/// node numbers; the coordinates are read from the node arrays, so a slot is 4 bytes. With
/// room for half as many again as the most places it is given, probes stay short.
class PlaceIndex {
public:
    PlaceIndex(std::size_t max_places, BigVector<std::int32_t>& xs, BigVector<std::int32_t>& ys,
               std::uint64_t seed)
        : m_slots(std::max<std::size_t>(16, max_places + max_places / 2), NodeTable::no_node),
          m_x(xs), m_y(ys), m_seed(seed) {
        m_x.reserve(max_places);
        m_y.reserve(max_places);
    }

    /// The place's hash for this sheet.
    [[nodiscard]] std::uint64_t hash(std::int32_t x, std::int32_t y) const noexcept {
        return mix(x, y, m_seed);
    }

    /// Where the search for a place of hash `h` starts: the hash's high bits scaled to the
    /// table, without a division.
    [[nodiscard]] std::size_t first_slot(std::uint64_t h) const noexcept {
        __extension__ using Wide = unsigned __int128;
        const Wide scaled = static_cast<Wide>(h) * m_slots.size();
        return static_cast<std::size_t>(scaled >> 64);
    }

    /// Asks the processor to fetch a slot ahead of its search. Inlined on purpose: a call to
    /// a function that only prefetches has no effect the compiler must keep, and it drops
    /// such calls.
    [[gnu::always_inline]] void prefetch_slot(std::size_t slot) const noexcept {
        __builtin_prefetch(m_slots.data() + slot);
    }

    /// Asks the processor to fetch the place of the node in a slot, when there is one yet: a
    /// search compares the place it looks for with it. A node added since only makes the
    /// hint miss; the search itself reads the slot afresh.
    [[gnu::always_inline]] void prefetch_place(std::size_t slot) const noexcept {
        const std::int32_t node = m_slots[slot];
        if (node != NodeTable::no_node) {
            __builtin_prefetch(m_x.data() + node);
            __builtin_prefetch(m_y.data() + node);
        }
    }

    /// The node at (x, y), searched from `slot` (its first slot), or no_node.
    [[nodiscard]] std::int32_t find(std::int32_t x, std::int32_t y, std::size_t slot) const {
        return m_slots[probe(x, y, slot)];
    }

    /// The node at (x, y), searched from `slot` (its first slot); a new node, numbered next,
    /// when there is none yet.
    std::int32_t find_or_add(std::int32_t x, std::int32_t y, std::size_t slot) {
        slot = probe(x, y, slot);
        if (m_slots[slot] == NodeTable::no_node) {
            m_slots[slot] = static_cast<std::int32_t>(m_x.size());
            m_x.push_back(x);
            m_y.push_back(y);
        }
        return m_slots[slot];
    }

private:
    /// The slot that holds (x, y), or the empty slot where it would go, searched from `slot`.
    [[nodiscard]] std::size_t probe(std::int32_t x, std::int32_t y, std::size_t slot) const {
        for (;;) {
            const std::int32_t node = m_slots[slot];
            if (node == NodeTable::no_node) {
                return slot;
            }
            const auto i = static_cast<std::size_t>(node);
            if (m_x[i] == x && m_y[i] == y) {
                return slot;
            }
            slot = slot + 1 == m_slots.size() ? 0 : slot + 1;
        }
    }

    BigVector<std::int32_t> m_slots;
    BigVector<std::int32_t>& m_x;
    BigVector<std::int32_t>& m_y;
    std::uint64_t m_seed;
};

/// A line's two end places, when it has two different ones, and their first slots.
struct LineEnds {
    std::int32_t x0 = 0;
    std::int32_t y0 = 0;
    std::int32_t x1 = 0;
    std::int32_t y1 = 0;
    bool has_ends = false;
    std::size_t slot0 = 0;
    std::size_t slot1 = 0;
};

LineEnds ends_of(const digi::ElementView& line) {
    LineEnds ends;
    const std::int32_t n = line.item_count();
    if (n < 2) {
        return ends;
    }
    const digi::Vertex first = line.vertex(0);
    const digi::Vertex last = line.vertex(n - 1);
    // A closed line has no ends to join.
    ends.has_ends = first.x != last.x || first.y != last.y;
    ends.x0 = first.x;
    ends.y0 = first.y;
    ends.x1 = last.x;
    ends.y1 = last.y;
    return ends;
}

/// Looks up the ends of lines `begin` .. `end` - 1 in `places`, in table order and each
/// line's vertex 1 before its last vertex, adding the places not met before, and records
/// their nodes in `line_nodes`. A line's ends are looked up in three steps some lines apart,
/// so that the index's memory is read while other lines are looked up: their slots are
/// fetched, then the places of the nodes in those slots, then the search runs on what is in
/// the cache.
void look_up_ends(const digi::ElementTables& tables, std::size_t begin, std::size_t end,
                  PlaceIndex& places, BigVector<NodeTable::LineNodes>& line_nodes,
                  const StepProgress& progress) {
    constexpr std::size_t ahead = 64;
    constexpr std::size_t halfway = ahead / 2;
    std::array<LineEnds, ahead> coming{};
    const auto fetch_slots = [&](std::size_t k) {
        LineEnds& ends = coming[k % ahead];
        ends = ends_of(tables.line(k));
        if (ends.has_ends) {
            ends.slot0 = places.first_slot(places.hash(ends.x0, ends.y0));
            ends.slot1 = places.first_slot(places.hash(ends.x1, ends.y1));
            places.prefetch_slot(ends.slot0);
            places.prefetch_slot(ends.slot1);
        }
    };
    const auto fetch_places = [&](std::size_t k) {
        const LineEnds& ends = coming[k % ahead];
        if (ends.has_ends) {
            places.prefetch_place(ends.slot0);
            places.prefetch_place(ends.slot1);
        }
    };
    for (std::size_t k = begin; k < std::min(begin + ahead, end); ++k) {
        fetch_slots(k);
    }
    for (std::size_t k = begin; k < std::min(begin + halfway, end); ++k) {
        fetch_places(k);
    }
    for (std::size_t k = begin; k < end; ++k) {
        if (progress && (k - begin) % progress_every == 0) {
            progress(static_cast<std::int64_t>(k - begin), static_cast<std::int64_t>(end - begin));
        }
        const LineEnds ends = coming[k % ahead];
        if (k + ahead < end) {
            fetch_slots(k + ahead);
        }
        if (k + halfway < end) {
            fetch_places(k + halfway);
        }
        if (ends.has_ends) {
            line_nodes[k] = {places.find_or_add(ends.x0, ends.y0, ends.slot0),
                             places.find_or_add(ends.x1, ends.y1, ends.slot1)};
        }
    }
}

/// Sheets from which the places are numbered on two threads.
constexpr std::size_t halves_from = std::size_t{1} << 16;

/// Numbers the places of every line end: the nodes are numbered in the order end points are
/// first met, which is the order a scan of the nodes for every end point would give.
///
/// On two threads, each numbers the places of one half of the table as if it were alone;
/// the first half's numbers are the sheet's. A place of the second half takes the first
/// half's number when the first half has it, and otherwise the next free number in the
/// order the second half met it, which is the order the whole scan would meet it in.
void number_places(const digi::ElementTables& tables, BigVector<std::int32_t>& xs,
                   BigVector<std::int32_t>& ys, BigVector<NodeTable::LineNodes>& line_nodes,
                   const StepProgress& progress, bool in_halves) {
    const std::size_t line_total = tables.lines.size();
    const std::uint64_t seed = fresh_seed();
    const std::size_t middle = in_halves ? line_total / 2 : line_total;
    BigVector<std::int32_t> second_x;
    BigVector<std::int32_t> second_y;
    std::optional<PlaceIndex> second;
    // Each index is made (its memory cleared) by the thread that fills it.
    const auto number_second = [&] {
        second.emplace(2 * (line_total - middle), second_x, second_y, seed);
        look_up_ends(tables, middle, line_total, *second, line_nodes, {});
    };
    std::future<void> second_done;
    if (middle < line_total) {
        try {
            second_done = std::async(std::launch::async, number_second);
        } catch (const std::system_error&) {
            // No second thread to be had: this one numbers the second half after the first.
        }
    }
    PlaceIndex first(2 * middle, xs, ys, seed);
    look_up_ends(tables, 0, middle, first, line_nodes, progress);
    if (middle == line_total) {
        return;
    }
    if (second_done.valid()) {
        second_done.get();
    } else {
        number_second();
    }

    // The second half's places in the first half's numbers, or new ones after them. The
    // searches only read the first half's index, so they are shared out between two threads.
    const std::size_t second_total = second_x.size();
    BigVector<std::int32_t> renumbered(second_total);
    const auto find_in_first = [&](std::size_t from, std::size_t to) {
        constexpr std::size_t ahead = 32;
        std::array<std::size_t, ahead> slots{};
        for (std::size_t j = from; j < std::min(from + ahead, to); ++j) {
            slots[j % ahead] = first.first_slot(first.hash(second_x[j], second_y[j]));
            first.prefetch_slot(slots[j % ahead]);
        }
        for (std::size_t j = from; j < to; ++j) {
            const std::size_t slot = slots[j % ahead];
            if (j + ahead < to) {
                slots[(j + ahead) % ahead] =
                    first.first_slot(first.hash(second_x[j + ahead], second_y[j + ahead]));
                first.prefetch_slot(slots[(j + ahead) % ahead]);
            }
            renumbered[j] = first.find(second_x[j], second_y[j], slot);
        }
    };
    std::future<void> other_half;
    try {
        other_half = std::async(std::launch::async, find_in_first, second_total / 2, second_total);
    } catch (const std::system_error&) {
    }
    find_in_first(0, other_half.valid() ? second_total / 2 : second_total);
    if (other_half.valid()) {
        other_half.get();
    }
    for (std::size_t j = 0; j < second_total; ++j) {
        if (renumbered[j] == NodeTable::no_node) {
            renumbered[j] = static_cast<std::int32_t>(xs.size());
            xs.push_back(second_x[j]);
            ys.push_back(second_y[j]);
        }
    }
    for (std::size_t k = middle; k < line_total; ++k) {
        for (std::int32_t& node : line_nodes[k]) {
            if (node != NodeTable::no_node) {
                node = renumbered[static_cast<std::size_t>(node)];
            }
        }
    }
}

} // namespace

NodeTable CreamosNodos(const digi::ElementTables& tables, const StepProgress& progress,
                       NodeThreads threads) {
    const std::size_t line_total = tables.lines.size();
    if (line_total > max_lines) {
        throw Error(tables.file_name + ": demasiados elementos de línea (" +
                    std::to_string(line_total) + "); el máximo es " + std::to_string(max_lines));
    }
    NodeTable nodes;
    nodes.m_line_nodes.assign(line_total, {NodeTable::no_node, NodeTable::no_node});
    nodes.m_loaded_lines = static_cast<std::int32_t>(line_total);

    const bool in_halves = threads == NodeThreads::two ||
                           (threads == NodeThreads::automatic && line_total >= halves_from);
    number_places(tables, nodes.m_x, nodes.m_y, nodes.m_line_nodes, progress, in_halves);
    nodes.m_x.shrink_to_fit();
    nodes.m_y.shrink_to_fit();
    const std::size_t node_total = nodes.m_x.size();
    nodes.m_dissolved.assign(node_total, 0);

    // Element lists, stored one after another: count the ends per node, then place the lines
    // in table order, vertex 1 before the last vertex, which is the order of registration.
    BigVector<std::int32_t>& start = nodes.m_list_start;
    start.assign(node_total + 1, 0);
    std::size_t entry_total = 0;
    for (const NodeTable::LineNodes& ends : nodes.m_line_nodes) {
        for (const std::int32_t node : ends) {
            if (node != NodeTable::no_node) {
                ++start[static_cast<std::size_t>(node)];
                ++entry_total;
            }
        }
    }
    std::int32_t running = 0;
    for (std::size_t i = 0; i < node_total; ++i) {
        const std::int32_t count = start[i];
        start[i] = running; // first free position of node i while filling
        running += count;
    }
    nodes.m_entries.assign(entry_total, 0);
    for (std::size_t k = 0; k < line_total; ++k) {
        for (const std::int32_t node : nodes.m_line_nodes[k]) {
            if (node != NodeTable::no_node) {
                const auto i = static_cast<std::size_t>(node);
                nodes.m_entries[static_cast<std::size_t>(start[i]++)] =
                    static_cast<std::int32_t>(k);
            }
        }
    }
    // Each start now marks the end of its node's list: shift by one to get the starts back.
    for (std::size_t i = node_total; i > 0; --i) {
        start[i] = start[i - 1];
    }
    start[0] = 0;

    // Every join dissolves a node of exactly two ends and numbers one more line: room for
    // them all now spares copying the table while the node loop runs.
    std::size_t two_ended = 0;
    for (std::size_t i = 0; i < node_total; ++i) {
        two_ended += start[i + 1] - start[i] == 2 ? 1 : 0;
    }
    nodes.m_line_nodes.reserve(line_total + two_ended);
    return nodes;
}

void CambiamosReferencias(NodeTable& nodes, std::int32_t a, std::int32_t b, std::int32_t nuevo) {
    if (nuevo != nodes.line_count()) {
        throw std::logic_error("CambiamosReferencias: the joined line must be numbered next");
    }
    // Only the nodes that list a or b can hold them; every other node is unchanged, just as
    // if every node had been searched.
    NodeTable::LineNodes renamed{NodeTable::no_node, NodeTable::no_node};
    std::size_t renamed_count = 0;
    for (const std::int32_t line : {a, b}) {
        for (const std::int32_t node : nodes.m_line_nodes.at(NodeTable::index(line))) {
            if (node == NodeTable::no_node || nodes.end_count(node) <= 0) {
                continue;
            }
            const auto i = NodeTable::index(node);
            const auto begin = static_cast<std::size_t>(nodes.m_list_start[i]);
            const auto end = static_cast<std::size_t>(nodes.m_list_start[i + 1]);
            for (std::size_t e = begin; e < end; ++e) {
                if (nodes.m_entries[e] == a || nodes.m_entries[e] == b) {
                    nodes.m_entries[e] = nuevo;
                    if (renamed_count == renamed.size()) {
                        throw std::logic_error(
                            "CambiamosReferencias: a joined line would end at three nodes");
                    }
                    renamed[renamed_count++] = node;
                }
            }
        }
    }
    nodes.m_line_nodes.push_back(renamed);
}

} // namespace tarvel::analysis
