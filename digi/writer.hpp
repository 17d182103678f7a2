// `EscribimosSalida` and the element encoders: DIGI elements appended to a byte sink.
// The sink is where the bytes go (an atomic output file, or memory in tests).
#pragma once

#include <cstring>
#include <functional>
#include <memory>
#include <span>
#include <utility>
#include <vector>

#include "digi/definiciones_digi.hpp"

namespace tarvel::digi {

/// Where written bytes go. `write` throws on failure.
class ByteSink {
public:
    virtual ~ByteSink() = default;
    virtual void write(std::span<const std::byte> bytes) = 0;
    /// Appends `pieces` one after another. A sink may take them straight from where they are,
    /// on the calling thread, instead of copying them through a buffer of its own: that pays
    /// on a thread with nothing else to do.
    virtual void write_in_place(std::span<const std::span<const std::byte>> pieces) {
        for (const std::span<const std::byte> piece : pieces) {
            write(piece);
        }
    }

    /// Appends the `size` bytes that fill(std::byte* at) makes at `at`. A sink with a buffer
    /// lends room in it, so they are made where they are kept instead of being copied there;
    /// when fill throws, nothing is appended.
    template <typename Fill> void write_made(std::size_t size, Fill&& fill) {
        if (std::byte* room = lend(size)) {
            fill(room);
            took(size);
            return;
        }
        // One element at a time in a buffer kept for the next: no allocation per element.
        thread_local std::vector<std::byte> bytes;
        bytes.resize(size);
        fill(bytes.data());
        write(bytes);
    }

protected:
    /// Room for `size` more bytes after those written, or null where the sink has none to lend.
    /// They count as written once `took(size)` is called, and anything written since the
    /// loan (by `write` or another loan) makes it void.
    virtual std::byte* lend(std::size_t size) {
        (void)size;
        return nullptr;
    }
    virtual void took(std::size_t size) { (void)size; }
};

/// A sink that keeps everything in memory.
class MemorySink final : public ByteSink {
public:
    void write(std::span<const std::byte> bytes) override;
    [[nodiscard]] const std::vector<std::byte>& bytes() const noexcept { return m_bytes; }

private:
    std::vector<std::byte> m_bytes;
};

/// Appends a line element. Precondition: the header's counts equal the list sizes.
void write_line(ByteSink& out, const ElementHeader& header, const ElementBlock& block,
                std::span<const Vertex> vertices, std::span<const AttributeRecord> attributes);

/// Appends a text element. Precondition: item count = 1 + pieces, attribute count = attributes.
void write_text(ByteSink& out, const ElementHeader& header, const ElementBlock& block,
                const Vertex& anchor, std::span<const TextPiece> pieces,
                std::span<const AttributeRecord> attributes);

/// A line made from loaded lines, as a value: the loaded line whose type code, feature code
/// and attribute records it carries, its element block and its vertices.
struct LineElement {
    ElementView origin;
    ElementBlock block;
    std::span<const Vertex> vertices;
};

/// A run of one loaded line's vertices inside a line made from several: in its order or
/// reversed. With `drop_every_repeat` every vertex equal (X, Y and Z) to the one placed before
/// it is left out; otherwise only the run's first vertex may be.
struct VertexRun {
    ElementView line;
    bool reversed = false;
    bool drop_every_repeat = false;
};

/// Calls visit(const std::byte* items, std::int32_t count) for the vertices that `runs`
/// place, in order, as spans of consecutive 12-byte items (the loaded lines' own bytes): a
/// run taken forward that keeps its repeats is one span, other runs go vertex by vertex.
template <typename VisitSpan>
void place_run_spans(std::span<const VertexRun> runs, VisitSpan&& visit) {
    const std::byte* last = nullptr;
    for (const VertexRun& run : runs) {
        const std::int32_t n = run.line.item_count();
        if (n == 0) {
            continue;
        }
        if (!run.reversed && !run.drop_every_repeat) {
            // Only its first vertex may be dropped, as a repeat of the one placed before it.
            const std::byte* first = run.line.item_data(0);
            const std::int32_t from =
                last != nullptr && std::memcmp(last, first, item_bytes) == 0 ? 1 : 0;
            if (from < n) {
                visit(first + item_bytes * static_cast<std::size_t>(from), n - from);
                last = run.line.item_data(n - 1);
            }
            continue;
        }
        for (std::int32_t step = 0; step < n; ++step) {
            const std::byte* item = run.line.item_data(run.reversed ? n - 1 - step : step);
            if ((run.drop_every_repeat || step == 0) && last != nullptr &&
                std::memcmp(last, item, item_bytes) == 0) {
                continue;
            }
            visit(item, 1);
            last = item;
        }
    }
}

/// Calls visit(const std::byte* item) for the 12-byte item of each vertex that `runs` place,
/// in order: the items are the loaded lines' own bytes.
template <typename Visit> void place_runs(std::span<const VertexRun> runs, Visit&& visit) {
    place_run_spans(runs, [&](const std::byte* items, std::int32_t count) {
        for (std::int32_t i = 0; i < count; ++i) {
            visit(items + item_bytes * static_cast<std::size_t>(i));
        }
    });
}

/// The extent step: hands the smallest and largest X, Y and Z of the vertices that
/// `for_each_vertex(f)` hands to f to store(MinX, MinY, MinZ, MaxX, MaxY, MaxZ), as six values
/// of their own. Precondition: it hands at least one.
template <typename ForEachVertex, typename Store>
void extent_over(ForEachVertex&& for_each_vertex, Store&& store) {
    bool first = true;
    std::int32_t MinX = 0;
    std::int32_t MinY = 0;
    std::int32_t MinZ = 0;
    std::int32_t MaxX = 0;
    std::int32_t MaxY = 0;
    std::int32_t MaxZ = 0;
    for_each_vertex([&](const Vertex& v) {
        if (first) {
            MinX = MaxX = v.x;
            MinY = MaxY = v.y;
            MinZ = MaxZ = v.z;
            first = false;
        }
        MinX = v.x < MinX ? v.x : MinX;
        MinY = v.y < MinY ? v.y : MinY;
        MinZ = v.z < MinZ ? v.z : MinZ;
        MaxX = v.x > MaxX ? v.x : MaxX;
        MaxY = v.y > MaxY ? v.y : MaxY;
        MaxZ = v.z > MaxZ ? v.z : MaxZ;
    });
    store(MinX, MinY, MinZ, MaxX, MaxY, MaxZ);
}

/// The extent step into values 1 to 6 of `block`, leaving values 7 to 9 as they are.
/// Precondition: `for_each_vertex` hands at least one vertex.
template <typename ForEachVertex>
void extent_step_over(ForEachVertex&& for_each_vertex, ElementBlock& block) {
    extent_over(std::forward<ForEachVertex>(for_each_vertex),
                [&](std::int32_t min_x, std::int32_t min_y, std::int32_t min_z, std::int32_t max_x,
                    std::int32_t max_y, std::int32_t max_z) {
                    block.values[0] = min_x;
                    block.values[1] = min_y;
                    block.values[2] = min_z;
                    block.values[3] = max_x;
                    block.values[4] = max_y;
                    block.values[5] = max_z;
                });
}

/// A line made from runs of loaded lines, handed over to be written: the loaded line whose
/// header (with its own vertex count), further values and attribute records it carries, its
/// further values, its runs, and the vertex count they place.
struct RunLine {
    ElementView origin;
    /// Values 7 to 9 are written as they stand; values 1 to 6, the extent, are worked out from
    /// the vertices as they are placed.
    ElementBlock block;
    std::span<const VertexRun> runs;
    std::int32_t vertex_count = 0;
};

/// Appends `line`, its vertices copied from the runs. Throws std::logic_error when the runs
/// place another number of vertices than the line's count, or more than a line holds.
void write_line(ByteSink& out, const RunLine& line);

/// Called once for each line to write, in order.
using RunLineVisitor = std::function<void(const RunLine&)>;

/// Lines to write, in order, from `count` places that hold one line or none each (a joined
/// line absorbed by a later one holds none). `lines(from, to, visit)` hands the lines of places
/// [from, to) to visit, in order; it may be called on two threads at once, for two ranges.
struct LineSource {
    std::size_t count = 0;
    std::function<void(std::size_t from, std::size_t to, const RunLineVisitor& visit)> lines;

    [[nodiscard]] explicit operator bool() const noexcept { return static_cast<bool>(lines); }
    /// Hands every line to visit, in order.
    void operator()(const RunLineVisitor& visit) const {
        if (lines) {
            lines(0, count, visit);
        }
    }
};

/// Appends pieces of a file's bytes, in order, as they are: pieces that follow each other in
/// the file go as one. `in_place`, they go to the sink many at a time, by
/// ByteSink::write_in_place: the small ones copied together first, each asked for some pieces
/// ahead, the large ones as they are.
class PieceWriter {
public:
    PieceWriter(ByteSink& out, std::span<const std::byte> file, bool in_place)
        : m_out(out), m_file(file), m_in_place(in_place) {}

    /// Appends the `length` bytes at `begin` in the file.
    void add(std::size_t begin, std::size_t length) {
        if (begin != m_to) {
            end_piece();
            m_from = begin;
        }
        m_to = begin + length;
    }
    /// Appends the pieces still held; called before anything else is appended to the sink.
    void flush() {
        end_piece();
        put_pieces();
    }

private:
    static constexpr std::size_t pieces_at_a_time = 1024;
    /// Pieces of up to this many bytes are copied together before they go to the sink.
    static constexpr std::size_t small_piece = 4096;
    /// Room for the small pieces copied together at a time.
    static constexpr std::size_t copied_at_a_time = std::size_t{256} << 10;

    void end_piece() {
        if (m_to > m_from) {
            const std::span<const std::byte> piece = m_file.subspan(m_from, m_to - m_from);
            if (!m_in_place) {
                m_out.write(piece);
            } else {
                m_pieces.push_back(piece);
                m_small_bytes += piece.size() <= small_piece ? piece.size() : 0;
                if (m_pieces.size() == pieces_at_a_time ||
                    m_small_bytes > copied_at_a_time - small_piece) {
                    put_pieces();
                }
            }
        }
        m_from = m_to;
    }
    void put_pieces();

    ByteSink& m_out;
    std::span<const std::byte> m_file;
    bool m_in_place;
    std::vector<std::span<const std::byte>> m_pieces;
    std::size_t m_small_bytes = 0;         ///< bytes of the small pieces among m_pieces
    std::unique_ptr<std::byte[]> m_copied; ///< copied_at_a_time bytes, made when first needed
    std::vector<std::span<const std::byte>> m_handed; ///< what put_pieces hands to the sink
    std::size_t m_from = 0;
    std::size_t m_to = 0;
};

/// Appends live loaded lines, in table order, as their own bytes (a PieceWriter over the
/// sheet's bytes).
class LoadedLinesWriter {
public:
    LoadedLinesWriter(ByteSink& out, const ElementTables& tables, bool in_place)
        : m_tables(tables), m_pieces(out, tables.bytes.span(), in_place) {}

    /// Appends line `k` unless a join absorbed it. Lines come in table order.
    void add(std::size_t k) {
        const LineRecord& line = m_tables.lines.at(k);
        if (!line.absorbed()) {
            m_pieces.add(static_cast<std::size_t>(line.file_position() - 1),
                         static_cast<std::size_t>(line.length()));
        }
    }
    /// Appends the lines still held; called before anything else is appended to the sink.
    void flush() { m_pieces.flush(); }

private:
    const ElementTables& m_tables;
    PieceWriter m_pieces;
};

/// Writes the result of a run: with `all_elements`, every live loaded line in table order,
/// then the joined lines, then every text; otherwise the joined lines alone.
/// `joined_lines` hands over the live joined lines in the order they were made. The first
/// `lines_written` loaded lines are already in `out` (written while the node loop ran).
void EscribimosSalida(ByteSink& out, const ElementTables& tables, bool all_elements,
                      const LineSource& joined_lines, std::size_t lines_written = 0);

} // namespace tarvel::digi
