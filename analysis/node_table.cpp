#include "analysis/node_table.hpp"

#include <algorithm>
#include <array>
#include <condition_variable>
#include <cstdint>
#include <exception>
#include <future>
#include <mutex>
#include <optional>
#include <random>
#include <stdexcept>
#include <string>
#include <system_error>
#include <thread>

#include "analysis/line_assembly.hpp"
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

/// A seed for the place hashes of one sheet. The device is made once a thread: making one asks
/// the processor what it offers, which on a virtual machine is a trip to the host, and a batch
/// draws seeds for every sheet.
std::uint64_t fresh_seed() {
    static thread_local std::random_device device;
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
        // Most lines share an end with another, so a sheet has about 1.2 places a line: room
        // for a little more than that, grown only on sheets of scattered lines. Room for the
        // most would leave partly used huge pages behind.
        const std::size_t usual = max_places / 2 + max_places / 8;
        m_x.reserve(usual);
        m_y.reserve(usual);
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
    bool repeats = false; ///< a vertex equals (X, Y and Z) the one before it
    std::size_t slot0 = 0;
    std::size_t slot1 = 0;
};

LineEnds ends_of(const digi::ElementView& line) {
    LineEnds ends;
    const std::int32_t n = line.item_count();
    if (n < 2) {
        return ends;
    }
    // Known here, on the threads that number the places, the node loop and the writer need
    // not look for repeats in the many lines that have none.
    ends.repeats = adjacent_repeats(line) > 0;
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

/// Lines as the loader records them: the file's bytes and the line records, which may still
/// be growing on the loading thread (only records already told of are read).
struct LineSource {
    std::span<const std::byte> bytes;
    const digi::LineRecord* records = nullptr;

    [[nodiscard, gnu::always_inline]] digi::ElementView line(std::size_t k) const {
        return digi::element_at(bytes, records[k].file_position(), records[k].length());
    }
};

LineSource source_of(const digi::ElementTables& tables) {
    return {tables.bytes.span(), tables.lines.data()};
}

/// Looks up the ends of lines `begin` .. `end` - 1 in `places`, in table order and each
/// line's vertex 1 before its last vertex, adding the places not met before, and records
/// their nodes in `line_nodes` (line k at k - begin), and in `repeating` the lines that hold
/// a repeated vertex. A line's ends are looked up in three steps some lines apart, so that the
/// index's memory is read while other lines are looked up: their slots are fetched, then the
/// places of the nodes in those slots, then the search runs on what is in the cache.
void look_up_ends(const LineSource& lines, std::size_t begin, std::size_t end, PlaceIndex& places,
                  NodeTable::LineNodes* line_nodes, std::vector<std::int32_t>& repeating,
                  const StepProgress& progress) {
    constexpr std::size_t ahead = 64;
    constexpr std::size_t halfway = ahead / 2;
    std::array<LineEnds, ahead> coming{};
    const auto fetch_slots = [&](std::size_t k) {
        LineEnds& ends = coming[k % ahead];
        // Lines follow each other in the file: the lines some way on are asked for now.
        digi::read_ahead(lines.bytes,
                         static_cast<std::size_t>(lines.records[k].file_position() - 1));
        ends = ends_of(lines.line(k));
        if (ends.repeats) {
            repeating.push_back(static_cast<std::int32_t>(k)); // lines come in table order
        }
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
        line_nodes[k - begin] =
            ends.has_ends ? NodeTable::LineNodes{places.find_or_add(ends.x0, ends.y0, ends.slot0),
                                                 places.find_or_add(ends.x1, ends.y1, ends.slot1)}
                          : NodeTable::LineNodes{NodeTable::no_node, NodeTable::no_node};
    }
}

/// Runs the work on the first half and, when the work is `in_halves`, the work on the second
/// half on a thread of its own meanwhile; both here, one after the other, when no thread can be
/// had. Without halves no thread is made: a batch's small sheets would otherwise pay for one
/// each time, and its workers wait on each other to make them.
template <typename First, typename Second>
void by_halves(bool in_halves, First&& first, Second&& second) {
    if (!in_halves) {
        first();
        return;
    }
    std::future<void> other;
    try {
        other = std::async(std::launch::async, second);
    } catch (const std::system_error&) {
    }
    first();
    if (other.valid()) {
        other.get();
    } else {
        second();
    }
}

/// Sheets from which the places are numbered on two threads.
constexpr std::size_t halves_from = std::size_t{1} << 16;

/// The places of a run of lines numbered as if the run were the whole table, in the order
/// its end points are first met: the order a scan of the nodes for every end point gives.
struct PartPlaces {
    PartPlaces() = default;
    PartPlaces(const PartPlaces&) = delete; // the index holds on to its places
    PartPlaces& operator=(const PartPlaces&) = delete;
    ~PartPlaces() = default;

    BigVector<std::int32_t> xs;
    BigVector<std::int32_t> ys;
    BigVector<NodeTable::LineNodes> line_nodes; ///< from the run's first line
    std::vector<std::int32_t> repeating;        ///< its lines with a repeated vertex, in order
    std::optional<PlaceIndex> index;

    /// Made with room for the places of `line_room` lines, on the thread that fills it, so
    /// that the index's memory is cleared there.
    void make_index(std::size_t line_room, std::uint64_t seed) {
        index.emplace(2 * line_room, xs, ys, seed);
    }
    /// Gives back everything it holds.
    void clear() {
        index.reset(); // before the places it holds on to
        xs = {};
        ys = {};
        line_nodes = {};
        repeating = {};
    }
    /// Numbers lines `begin` .. `end` - 1, which follow those numbered so far.
    void number(const LineSource& lines, std::size_t begin, std::size_t end,
                const StepProgress& progress) {
        const std::size_t first = line_nodes.size();
        line_nodes.resize(first + (end - begin));
        look_up_ends(lines, begin, end, *index, line_nodes.data() + first, repeating, progress);
    }
};

/// Adds the places of `second`, the run of lines that follows `first`'s, to `first`: a place
/// `first` has keeps its number, and the others are numbered next in the order `second` met
/// them, which is the order the whole scan would meet them in. `first`'s index is then out
/// of date. The searches only read the first index, so they are shared out between two
/// threads.
void join_parts(PartPlaces& first, const PartPlaces& second) {
    const std::size_t second_total = second.xs.size();
    BigVector<std::int32_t> renumbered(second_total);
    const PlaceIndex& index = *first.index;
    const auto find_in_first = [&](std::size_t from, std::size_t to) {
        constexpr std::size_t ahead = 32;
        std::array<std::size_t, ahead> slots{};
        for (std::size_t j = from; j < std::min(from + ahead, to); ++j) {
            slots[j % ahead] = index.first_slot(index.hash(second.xs[j], second.ys[j]));
            index.prefetch_slot(slots[j % ahead]);
        }
        for (std::size_t j = from; j < to; ++j) {
            const std::size_t slot = slots[j % ahead];
            if (j + ahead < to) {
                slots[(j + ahead) % ahead] =
                    index.first_slot(index.hash(second.xs[j + ahead], second.ys[j + ahead]));
                index.prefetch_slot(slots[(j + ahead) % ahead]);
            }
            renumbered[j] = index.find(second.xs[j], second.ys[j], slot);
        }
    };
    by_halves(
        true, [&] { find_in_first(0, second_total / 2); },
        [&] { find_in_first(second_total / 2, second_total); });
    for (std::size_t j = 0; j < second_total; ++j) {
        if (renumbered[j] == NodeTable::no_node) {
            renumbered[j] = static_cast<std::int32_t>(first.xs.size());
            first.xs.push_back(second.xs[j]);
            first.ys.push_back(second.ys[j]);
        }
    }
    first.line_nodes.reserve(first.line_nodes.size() + second.line_nodes.size());
    for (NodeTable::LineNodes ends : second.line_nodes) {
        for (std::int32_t& node : ends) {
            if (node != NodeTable::no_node) {
                node = renumbered[static_cast<std::size_t>(node)];
            }
        }
        first.line_nodes.push_back(ends);
    }
    first.repeating.insert(first.repeating.end(), second.repeating.begin(), second.repeating.end());
}

void check_line_total(const digi::ElementTables& tables) {
    const std::size_t line_total = tables.lines.size();
    if (line_total > max_lines) {
        throw Error(tables.file_name + ": demasiados elementos de línea (" +
                    std::to_string(line_total) + "); el máximo es " + std::to_string(max_lines));
    }
}

/// Lines in a chunk the early thread takes at a time: small enough that the rest of the
/// sheet can be shared out fairly when the read ends, large enough to keep its look-ahead
/// busy.
constexpr std::size_t early_chunk = 16384;

} // namespace

/// What the early thread and the threads that hand it lines share. Everything below the
/// mutex is read and written under it.
struct EarlyPlaces::State {
    LineSource lines;
    std::size_t room = 0; ///< lines its index has room for
    PartPlaces part;
    std::thread thread;

    std::mutex mutex;
    std::condition_variable changed;
    std::size_t found = 0;        ///< lines whose records may be read
    std::size_t limit = SIZE_MAX; ///< lines to number, once the read has ended
    std::size_t taken = 0;        ///< lines numbered or being numbered
    bool stopping = false;        ///< asked to end at the next chunk
    bool ended = false;           ///< the thread does no more
    std::exception_ptr failure;

    void run() noexcept;
};

void EarlyPlaces::State::run() noexcept {
    try {
        part.make_index(room, fresh_seed());
        // Room made once, for the loaded lines and as many joined lines: growing by steps
        // would copy the records and hold both copies.
        part.line_nodes.reserve(2 * room);
        std::size_t done = 0;
        for (;;) {
            std::size_t to = 0;
            LineSource from;
            {
                std::unique_lock lock(mutex);
                const auto last = [&] { return std::min(limit, room); };
                changed.wait(lock, [&] { return stopping || done >= last() || found > done; });
                if (stopping || done >= last()) {
                    ended = true;
                    break;
                }
                to = std::min({found, last(), done + early_chunk});
                taken = to;
                from = lines;
            }
            part.number(from, done, to, {});
            done = to;
        }
    } catch (...) {
        const std::lock_guard lock(mutex);
        failure = std::current_exception();
        ended = true;
    }
    changed.notify_all();
}

EarlyPlaces::EarlyPlaces(std::size_t from_lines) : m_from_lines(from_lines) {}

EarlyPlaces::~EarlyPlaces() {
    stop();
}

bool EarlyPlaces::starting(std::span<const std::byte> bytes, std::size_t expected_lines) {
    if (m_state || expected_lines < m_from_lines) {
        return false;
    }
    auto state = std::make_unique<State>();
    state->lines.bytes = bytes;
    // The thread's index has room for the lines the sheet probably has; should it have more,
    // the thread stops there and the rest is numbered after the read.
    state->room = std::min(expected_lines, max_lines);
    try {
        state->thread = std::thread([s = state.get()] { s->run(); });
    } catch (const std::system_error&) {
        return false; // no second thread to be had: everything is numbered after the read
    }
    m_state = std::move(state);
    return true;
}

void EarlyPlaces::found(const digi::LineRecord* records, std::size_t count) noexcept {
    if (!m_state) {
        return;
    }
    {
        const std::lock_guard lock(m_state->mutex);
        m_state->lines.records = records;
        m_state->found = count;
    }
    m_state->changed.notify_all();
}

void EarlyPlaces::let_go() noexcept {
    stop();
}

void EarlyPlaces::stop() noexcept {
    if (!m_state || !m_state->thread.joinable()) {
        return;
    }
    {
        const std::lock_guard lock(m_state->mutex);
        m_state->stopping = true;
    }
    m_state->changed.notify_all();
    m_state->thread.join();
}

std::size_t EarlyPlaces::lines_numbered() const noexcept {
    if (!m_state) {
        return 0;
    }
    // Once ended, every line it took is numbered, unless it failed.
    const std::lock_guard lock(m_state->mutex);
    return m_state->ended && !m_state->failure ? m_state->taken : 0;
}

/// Turns the numbered places of every line into the node table.
class NodeTableBuilder {
public:
    static NodeTable plain(const digi::ElementTables& tables, const StepProgress& progress,
                           NodeThreads threads);
    static NodeTable with_early(const digi::ElementTables& tables, const StepProgress& progress,
                                EarlyPlaces& early);

private:
    static NodeTable finish(PartPlaces& places, std::size_t line_total, bool lists_in_halves);
};

NodeTable NodeTableBuilder::plain(const digi::ElementTables& tables, const StepProgress& progress,
                                  NodeThreads threads) {
    check_line_total(tables);
    const std::size_t line_total = tables.lines.size();
    const LineSource lines = source_of(tables);
    const bool in_halves = threads == NodeThreads::two ||
                           (threads == NodeThreads::automatic && line_total >= halves_from);
    const std::uint64_t seed = fresh_seed();
    // On two threads, each numbers the places of one half of the table as if it were alone,
    // and the halves are joined.
    const std::size_t middle = in_halves ? line_total / 2 : line_total;
    PartPlaces first;
    PartPlaces second;
    by_halves(
        in_halves,
        [&] {
            first.make_index(middle, seed);
            first.number(lines, 0, middle, progress);
        },
        [&] {
            second.make_index(line_total - middle, seed);
            second.number(lines, middle, line_total, {});
        });
    if (in_halves) {
        join_parts(first, second);
    }
    return finish(first, line_total, in_halves);
}

NodeTable NodeTableBuilder::with_early(const digi::ElementTables& tables,
                                       const StepProgress& progress, EarlyPlaces& early) {
    EarlyPlaces::State* state = early.m_state.get();
    if (state == nullptr) {
        return plain(tables, progress, NodeThreads::automatic);
    }
    // Whatever ends this, the early thread reads no more of the tables.
    struct Stop {
        EarlyPlaces& early;
        ~Stop() { early.stop(); }
    } stop{early};
    check_line_total(tables);
    const std::size_t line_total = tables.lines.size();
    // What the early thread has not taken yet is shared out: it goes on to the middle of
    // the rest, this thread numbers the lines after it.
    std::size_t split = 0;
    bool failed = false;
    {
        const std::lock_guard lock(state->mutex);
        if (state->ended) {
            split = state->taken;
            failed = state->failure != nullptr;
        } else {
            split = std::max(state->taken,
                             std::min(state->room, state->taken + (line_total - state->taken) / 2));
            state->limit = split;
        }
    }
    state->changed.notify_all();
    // When it got too little done (let go early, out of room on a sheet of short lines, or
    // out of memory), the whole table is numbered in two halves instead; what it did number
    // is given back first, so that the halves take its pages.
    if (failed || split < line_total / 3) {
        early.stop();
        state->part.clear();
        return plain(tables, progress, NodeThreads::automatic);
    }
    PartPlaces second;
    if (split < line_total) {
        second.make_index(line_total - split, fresh_seed());
        second.number(source_of(tables), split, line_total, progress);
    }
    if (state->thread.joinable()) {
        state->thread.join(); // it ends at the split
    }
    if (state->failure) {
        // It ran out of memory on its last lines.
        state->part.clear();
        second.clear();
        return plain(tables, progress, NodeThreads::automatic);
    }
    if (state->part.line_nodes.size() != split) {
        throw std::logic_error("CreamosNodos: the early thread did not end at the split");
    }
    PartPlaces& first = state->part;
    if (split < line_total) {
        join_parts(first, second);
    }
    return finish(first, line_total, true);
}

NodeTable NodeTableBuilder::finish(PartPlaces& places, std::size_t line_total,
                                   bool lists_in_halves) {
    NodeTable nodes;
    nodes.m_loaded_lines = static_cast<std::int32_t>(line_total);
    nodes.m_line_nodes = std::move(places.line_nodes);
    nodes.m_lines_with_repeats = std::move(places.repeating);
    places.index.reset();
    nodes.m_x = std::move(places.xs);
    nodes.m_y = std::move(places.ys);
    // The room left over is given back only when it is much: the copy costs more than the
    // little room a sheet of usual lines leaves.
    if (nodes.m_x.capacity() - nodes.m_x.size() > nodes.m_x.size() / 4) {
        nodes.m_x.shrink_to_fit();
        nodes.m_y.shrink_to_fit();
    }
    const std::size_t node_total = nodes.m_x.size();
    nodes.m_dissolved.assign(node_total, 0);

    // Element lists, stored one after another: count the ends per node, then place the lines
    // in table order, vertex 1 before the last vertex, which is the order of registration.
    // In halves, two threads each count and place the lines of one half of the table, the
    // second half's lines after the first half's in every list.
    const std::size_t middle = lists_in_halves ? line_total / 2 : line_total;
    const bool halves = middle < line_total;
    BigVector<std::int32_t>& start = nodes.m_list_start;
    BigVector<std::int32_t> second_at; // per node: the second half's ends, then where they go
    const auto count_ends = [&](BigVector<std::int32_t>& counts, std::size_t from, std::size_t to) {
        counts.assign(node_total + 1, 0);
        for (std::size_t k = from; k < to; ++k) {
            for (const std::int32_t node : nodes.m_line_nodes[k]) {
                if (node != NodeTable::no_node) {
                    ++counts[static_cast<std::size_t>(node)];
                }
            }
        }
    };
    by_halves(
        halves, [&] { count_ends(start, 0, middle); },
        [&] { count_ends(second_at, middle, line_total); });
    std::int32_t running = 0;
    std::size_t two_ended = 0;
    for (std::size_t i = 0; i < node_total; ++i) {
        const std::int32_t first_count = start[i];
        const std::int32_t count = first_count + (halves ? second_at[i] : 0);
        start[i] = running; // first free position of node i while placing
        if (halves) {
            second_at[i] = running + first_count;
        }
        running += count;
        two_ended += count == 2 ? 1 : 0;
    }
    nodes.m_entries.assign(static_cast<std::size_t>(running), 0);
    const auto place_lines = [&](BigVector<std::int32_t>& at, std::size_t from, std::size_t to) {
        for (std::size_t k = from; k < to; ++k) {
            for (const std::int32_t node : nodes.m_line_nodes[k]) {
                if (node != NodeTable::no_node) {
                    const auto i = static_cast<std::size_t>(node);
                    nodes.m_entries[static_cast<std::size_t>(at[i]++)] =
                        static_cast<std::int32_t>(k);
                }
            }
        }
    };
    by_halves(
        halves, [&] { place_lines(start, 0, middle); },
        [&] { place_lines(second_at, middle, line_total); });
    // The last half's positions now mark where each node's list ends, which is where the
    // next one starts.
    BigVector<std::int32_t>& ends = halves ? second_at : start;
    for (std::size_t i = node_total; i > 0; --i) {
        start[i] = ends[i - 1];
    }
    start[0] = 0;

    // Every join dissolves a node of exactly two ends and numbers one more line: room for
    // them all now spares copying the table while the node loop runs.
    nodes.m_two_ended = static_cast<std::int32_t>(two_ended);
    nodes.m_line_nodes.reserve(line_total + two_ended);
    return nodes;
}

NodeTable CreamosNodos(const digi::ElementTables& tables, const StepProgress& progress,
                       NodeThreads threads) {
    return NodeTableBuilder::plain(tables, progress, threads);
}

NodeTable CreamosNodos(const digi::ElementTables& tables, const StepProgress& progress,
                       EarlyPlaces& early) {
    return NodeTableBuilder::with_early(tables, progress, early);
}

void CambiamosReferencias(NodeTable& nodes, std::int32_t a, std::int32_t b, std::int32_t nuevo) {
    if (nuevo != nodes.line_count()) {
        throw std::logic_error("CambiamosReferencias: the joined line must be numbered next");
    }
    // Only the nodes that list a or b can hold them; every other node is unchanged, just as
    // if every node had been searched. Called at every join: the nodes come from the table's
    // own records of each line, so each node's bounds are checked once, by end_count.
    NodeTable::LineNodes renamed{NodeTable::no_node, NodeTable::no_node};
    std::size_t renamed_count = 0;
    std::int32_t* const entries = nodes.m_entries.data();
    const NodeTable::LineNodes of_a = nodes.m_line_nodes.at(NodeTable::index(a));
    const NodeTable::LineNodes of_b = nodes.m_line_nodes.at(NodeTable::index(b));
    for (const std::int32_t node : {of_a[0], of_a[1], of_b[0], of_b[1]}) {
        if (node == NodeTable::no_node || nodes.end_count(node) <= 0) {
            continue;
        }
        const auto i = NodeTable::index(node);
        const auto end = static_cast<std::size_t>(nodes.m_list_start[i + 1]);
        for (auto e = static_cast<std::size_t>(nodes.m_list_start[i]); e < end; ++e) {
            if (entries[e] == a || entries[e] == b) {
                entries[e] = nuevo;
                if (renamed_count == renamed.size()) {
                    throw std::logic_error(
                        "CambiamosReferencias: a joined line would end at three nodes");
                }
                renamed[renamed_count++] = node;
            }
        }
    }
    nodes.m_line_nodes.push_back(renamed);
}

} // namespace tarvel::analysis
