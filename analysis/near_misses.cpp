#include "analysis/near_misses.hpp"

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>
#include <map>
#include <new>
#include <span>
#include <sys/mman.h>
#include <tuple>
#include <utility>
#include <vector>

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

    [[nodiscard]] std::int64_t row(const Entry& e) const {
        return std::int64_t{ys[static_cast<std::size_t>(e.node())]} >> shift;
    }
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
    // A mark per node keeps the pass over every loaded line to bit tests. The few nodes wanted
    // are first told by their low bits, in a mark small enough to stay in the processor's
    // nearest cache: nearly every node is passed over there, without reading the mark per
    // node, which on a large sheet is too large for that cache.
    constexpr std::uint32_t low_bits = 4095;
    std::array<std::uint64_t, (low_bits + 1) / 64> by_low_bits{};
    const auto low_marked = [&](std::int32_t node) {
        const std::uint32_t low = static_cast<std::uint32_t>(node) & low_bits;
        return ((by_low_bits[low / 64] >> (low % 64)) & 1U) != 0;
    };
    std::vector<bool> wanted(static_cast<std::size_t>(nodes.node_count()), false);
    for (const auto& pair : pairs) {
        for (const std::int32_t node : pair) {
            lines[node];
            wanted[static_cast<std::size_t>(node)] = true;
            const std::uint32_t low = static_cast<std::uint32_t>(node) & low_bits;
            by_low_bits[low / 64] |= std::uint64_t{1} << (low % 64);
        }
    }
    for (std::int32_t line = 0; line < nodes.loaded_line_count(); ++line) {
        for (const std::int32_t node : nodes.nodes_of(line)) {
            if (node != NodeTable::no_node && low_marked(node) &&
                wanted[static_cast<std::size_t>(node)]) {
                lines[node].push_back(line);
            }
        }
    }
    return lines;
}

/// An array mapped apart from the heap. The search's arrays are as large as a sheet's rows or
/// all its nodes; taken from the heap on the search's thread they would stay with the allocator
/// after the search while the node loop's tables grow to the run's peak, and the entries could
/// not be given back as the sweep reads them. Mapped, they go back to the system. A small
/// sheet's arrays, of which nothing would be given back early, are taken from the heap: a batch
/// of small sheets would otherwise map and unmap two of them for every sheet.
template <typename T> class MappedArray {
public:
    /// Room for `count` items. Throws std::bad_alloc.
    explicit MappedArray(std::size_t count) : m_count(count), m_bytes(count * sizeof(T)) {
        if (m_bytes == 0) {
            return;
        }
        if (m_bytes < released_at_a_time) {
            m_data = static_cast<T*>(::operator new(m_bytes));
            return;
        }
        void* mapped =
            ::mmap(nullptr, m_bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (mapped == MAP_FAILED) {
            throw std::bad_alloc();
        }
        m_data = static_cast<T*>(mapped);
    }
    MappedArray(MappedArray&& other) noexcept
        : m_data(std::exchange(other.m_data, nullptr)), m_count(std::exchange(other.m_count, 0)),
          m_bytes(std::exchange(other.m_bytes, 0)), m_released(std::exchange(other.m_released, 0)) {
    }
    MappedArray& operator=(MappedArray&&) = delete;
    MappedArray(const MappedArray&) = delete;
    MappedArray& operator=(const MappedArray&) = delete;
    ~MappedArray() {
        if (m_data == nullptr) {
            return;
        }
        if (m_bytes < released_at_a_time) {
            ::operator delete(m_data);
        } else {
            ::munmap(m_data, m_bytes);
        }
    }

    [[nodiscard]] std::size_t size() const noexcept { return m_count; }
    [[nodiscard]] bool empty() const noexcept { return m_count == 0; }
    [[nodiscard]] T* begin() const noexcept { return m_data; }
    [[nodiscard]] T* end() const noexcept { return m_data + m_count; }
    T& operator[](std::size_t i) const noexcept { return m_data[i]; }

    /// Gives back the whole pages before item `index`, which are not read again, a few hundred
    /// kilobytes at a time.
    void release_before(std::size_t index) noexcept {
        constexpr std::size_t page = 4096;
        const std::size_t bytes = index * sizeof(T) / page * page;
        if (bytes >= m_released + released_at_a_time) {
            ::madvise(reinterpret_cast<std::byte*>(m_data) + m_released, bytes - m_released,
                      MADV_DONTNEED);
            m_released = bytes;
        }
    }

private:
    static constexpr std::size_t released_at_a_time = std::size_t{256} << 10;

    T* m_data = nullptr;
    std::size_t m_count = 0;
    std::size_t m_bytes = 0;
    std::size_t m_released = 0; ///< bytes from the start given back
};

/// The nodes as entries grouped by row, rows in order. Where there are not many more rows than
/// nodes (the usual sheet) the rows are counted out straight from the node table, and `ends`
/// tells where each row ends; otherwise one sort does it all and `ends` is empty.
struct ByRow {
    MappedArray<Entry> entries;
    std::vector<std::uint32_t> ends; ///< row `low + r` ends at ends[r]
    std::int64_t low = 0;
};

ByRow entries_by_row(const NodeTable& nodes, const Places& places) {
    const auto entry = [&](std::size_t i) {
        const auto node = static_cast<std::uint32_t>(i);
        const bool loose = nodes.loose_end(static_cast<std::int32_t>(i));
        return Entry{node | (loose ? 0x8000'0000U : 0U)};
    };
    ByRow by{MappedArray<Entry>(places.xs.size()), {}, 0};
    if (by.entries.empty()) {
        return by;
    }
    const auto [low_y, high_y] = std::minmax_element(places.ys.begin(), places.ys.end());
    by.low = std::int64_t{*low_y} >> places.shift;
    const std::int64_t rows = (std::int64_t{*high_y} >> places.shift) - by.low + 1;
    if (rows > static_cast<std::int64_t>(by.entries.size()) + 1024) {
        for (std::size_t i = 0; i < by.entries.size(); ++i) {
            by.entries[i] = entry(i);
        }
        std::sort(by.entries.begin(), by.entries.end(),
                  [&](const Entry& a, const Entry& b) { return places.row(a) < places.row(b); });
        return by;
    }
    std::vector<std::uint32_t>& next = by.ends;
    next.assign(static_cast<std::size_t>(rows) + 1, 0);
    const auto row_index = [&](std::size_t i) {
        return static_cast<std::size_t>((std::int64_t{places.ys[i]} >> places.shift) - by.low);
    };
    for (std::size_t i = 0; i < by.entries.size(); ++i) {
        ++next[row_index(i) + 1];
    }
    for (std::size_t r = 1; r < next.size(); ++r) {
        next[r] += next[r - 1];
    }
    for (std::size_t i = 0; i < by.entries.size(); ++i) {
        by.entries[next[row_index(i)]++] = entry(i);
    }
    // Each row now ends where the next one began.
    next.pop_back();
    return by;
}

/// A node of a row with its place, read once from the node table for the row's sweep: sorted
/// and swept in a buffer of its own, a row's places are not fetched from the table again at
/// every comparison.
struct RowPlace {
    std::int32_t x;
    std::int32_t y;
    Entry entry;
};

/// The places of entries `begin` .. `end` - 1 into `out`, in order of X (of node number where
/// equal). Returns them.
std::span<const RowPlace> read_row(const MappedArray<Entry>& entries, std::size_t begin,
                                   std::size_t end, const Places& places, RowPlace* out) {
    for (std::size_t i = begin; i < end; ++i) {
        const auto node = static_cast<std::size_t>(entries[i].node());
        out[i - begin] = RowPlace{places.xs[node], places.ys[node], entries[i]};
    }
    std::sort(out, out + (end - begin), [](const RowPlace& a, const RowPlace& b) {
        return a.x != b.x ? a.x < b.x : a.entry.node() < b.entry.node();
    });
    return {out, end - begin};
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
    ByRow by = entries_by_row(nodes, places);
    MappedArray<Entry>& entries = by.entries;
    const std::size_t total = entries.size();

    // A node's near places lie in its own row or the next one (the row before is covered when
    // its nodes look at this one), within the tolerance in X.
    const double squared = tolerance * tolerance;
    const auto limit = static_cast<std::int64_t>(std::floor(tolerance));
    std::vector<NodePair> pairs;
    const auto consider = [&](const RowPlace& a, const RowPlace& b) {
        if (!a.entry.loose() && !b.entry.loose()) {
            return;
        }
        // Each difference is exact in a double; squared in integers, two differences near
        // 2^32 would pass the 64-bit range.
        const auto dx = static_cast<double>(std::int64_t{a.x} - b.x);
        const auto dy = static_cast<double>(std::int64_t{a.y} - b.y);
        if (dx * dx + dy * dy <= squared) {
            const std::int32_t an = a.entry.node();
            const std::int32_t bn = b.entry.node();
            pairs.push_back({std::min(an, bn), std::max(an, bn)});
        }
    };
    // The row that starts at entry `begin`, and where it ends.
    const auto row_from = [&](std::size_t begin) -> std::pair<std::int64_t, std::size_t> {
        const std::int64_t row = places.row(entries[begin]);
        if (!by.ends.empty()) {
            return {row, by.ends[static_cast<std::size_t>(row - by.low)]};
        }
        std::size_t end = begin;
        while (end < total && places.row(entries[end]) == row) {
            ++end;
        }
        return {row, end};
    };
    // Rows are read one after another, each once: a row read as the one above another is
    // swept next as the row itself.
    std::size_t most = 0;
    for (std::size_t begin = 0; begin < total;) {
        const std::size_t end = row_from(begin).second;
        most = std::max(most, end - begin);
        begin = end;
    }
    // Room for two rows: the one swept and the one above it.
    const MappedArray<RowPlace> buffers(2 * most);
    const auto buffer = [&](int which) {
        return buffers.begin() + static_cast<std::size_t>(which) * most;
    };
    int here_buffer = 0;
    auto [row, end] = row_from(0);
    std::span<const RowPlace> here = read_row(entries, 0, end, places, buffer(here_buffer));
    for (;;) {
        std::int64_t following = row;
        std::size_t following_end = end;
        std::span<const RowPlace> next_row;
        if (end < total) {
            std::tie(following, following_end) = row_from(end);
            next_row = read_row(entries, end, following_end, places, buffer(1 - here_buffer));
            entries.release_before(following_end); // read into the row buffers
        }
        const std::size_t above_size = following == row + 1 ? next_row.size() : 0;
        std::size_t next = 0;
        for (std::size_t p = 0; p < here.size(); ++p) {
            const RowPlace& a = here[p];
            const std::int64_t x = a.x;
            for (std::size_t q = p + 1; q < here.size() && here[q].x - x <= limit; ++q) {
                consider(a, here[q]);
            }
            while (next < above_size && next_row[next].x < x - limit) {
                ++next;
            }
            for (std::size_t q = next; q < above_size && next_row[q].x <= x + limit; ++q) {
                consider(a, next_row[q]);
            }
        }
        if (end >= total) {
            break;
        }
        here = next_row;
        here_buffer = 1 - here_buffer;
        row = following;
        end = following_end;
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
