#include "digi/writer.hpp"

#include <algorithm>
#include <cassert>
#include <condition_variable>
#include <cstring>
#include <future>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <system_error>

#include "digi/loader.hpp"

namespace tarvel::digi {

void MemorySink::write(std::span<const std::byte> bytes) {
    m_bytes.insert(m_bytes.end(), bytes.begin(), bytes.end());
}

namespace {

void check_counts(const ElementHeader& header, std::size_t items, std::size_t attributes) {
    if (header.item_count < 0 || static_cast<std::size_t>(header.item_count) != items ||
        header.attribute_count != attributes) {
        throw std::logic_error("element header counts differ from its lists");
    }
}

/// The one encoder of line elements: header, block, vertices, attribute records.
void encode_line(ByteSink& out, const ElementHeader& header, const ElementBlock& block,
                 std::span<const Vertex> vertices, std::span<const std::byte> attribute_bytes) {
    std::vector<std::byte> bytes(header_bytes + block_bytes + item_bytes * vertices.size() +
                                 attribute_bytes.size());
    std::byte* p = bytes.data();
    encode_header(header, p);
    encode_block(block, p + header_bytes);
    p += header_bytes + block_bytes;
    for (const Vertex& v : vertices) {
        encode_vertex(v, p);
        p += item_bytes;
    }
    if (!attribute_bytes.empty()) {
        std::memcpy(p, attribute_bytes.data(), attribute_bytes.size());
    }
    out.write(bytes);
}

/// A sink that keeps what a thread makes of its share of the lines, and lends room in it.
class ShareSink final : public ByteSink {
public:
    void write(std::span<const std::byte> bytes) override {
        std::memcpy(lend(bytes.size()), bytes.data(), bytes.size());
        took(bytes.size());
    }
    [[nodiscard]] std::span<const std::byte> bytes() const noexcept {
        return {m_bytes.get(), m_filled};
    }
    void clear() noexcept { m_filled = 0; }

private:
    std::byte* lend(std::size_t size) override {
        if (m_capacity - m_filled < size) {
            const std::size_t capacity = std::max(m_filled + size, 2 * m_capacity);
            // Not cleared: its bytes are only read once made.
            auto bigger = std::make_unique_for_overwrite<std::byte[]>(capacity);
            if (m_filled > 0) {
                std::memcpy(bigger.get(), m_bytes.get(), m_filled);
            }
            m_bytes = std::move(bigger);
            m_capacity = capacity;
        }
        return m_bytes.get() + m_filled;
    }
    void took(std::size_t size) override { m_filled += size; }

    std::unique_ptr<std::byte[]> m_bytes;
    std::size_t m_capacity = 0;
    std::size_t m_filled = 0;
};

/// Places of lines made at a time by each of the two threads: about a megabyte of a sheet's
/// joined lines, which the system then takes in one write.
constexpr std::size_t share_places = 4096;
/// Bytes of a share from which what is made waits for its turn and goes out before the rest:
/// however long its lines, a share holds no more than this and one line.
constexpr std::size_t share_bytes = std::size_t{4} << 20;
/// Sources from which the lines are made on two threads.
constexpr std::size_t two_threads_from = std::size_t{1} << 16;

/// The order in which the shares of lines go out, for the two threads that make them.
class ShareTurns {
public:
    /// Thrown to a thread waiting for its turn when the other thread failed.
    struct Abandoned {};

    /// Waits until the shares before `share` are out.
    void wait_for(std::size_t share) {
        std::unique_lock lock(m_mutex);
        m_changed.wait(lock, [&] { return m_turn == share || m_failed; });
        if (m_failed) {
            throw Abandoned{};
        }
    }
    /// The share whose turn it was is out.
    void next() {
        {
            const std::lock_guard lock(m_mutex);
            ++m_turn;
        }
        m_changed.notify_all();
    }
    /// No share goes out any more.
    void fail() noexcept {
        {
            const std::lock_guard lock(m_mutex);
            m_failed = true;
        }
        m_changed.notify_all();
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::size_t m_turn = 0;
    bool m_failed = false;
};

/// Appends the lines of `lines`. On a large source two threads make them, each every other
/// share of places into a buffer of its own, which it appends (ByteSink::write_in_place) once
/// the shares before it are in: one thread's making overlaps the other's appending, which is
/// the system copying the bytes into the file.
void write_lines(ByteSink& out, const LineSource& lines) {
    const auto all_here = [&] { lines([&out](const RunLine& line) { write_line(out, line); }); };
    if (lines.count < two_threads_from) {
        all_here();
        return;
    }
    const std::size_t shares = (lines.count + share_places - 1) / share_places;
    ShareTurns turns;
    const auto make_shares = [&](std::size_t first) {
        try {
            ShareSink made;
            const auto put = [&](std::size_t share) {
                turns.wait_for(share);
                const std::span<const std::byte> bytes = made.bytes();
                out.write_in_place(std::span(&bytes, 1));
                made.clear();
            };
            for (std::size_t share = first; share < shares; share += 2) {
                const std::size_t from = share * share_places;
                lines.lines(from, std::min(from + share_places, lines.count),
                            [&](const RunLine& line) {
                                write_line(made, line);
                                if (made.bytes().size() >= share_bytes) {
                                    put(share);
                                }
                            });
                put(share);
                turns.next();
            }
        } catch (const ShareTurns::Abandoned&) {
            // The other thread failed, and says why.
        } catch (...) {
            turns.fail();
            throw;
        }
    };
    std::future<void> other;
    try {
        other = std::async(std::launch::async, make_shares, 1);
    } catch (const std::system_error&) {
        all_here(); // no thread to be had
        return;
    }
    try {
        make_shares(0);
    } catch (...) {
        other.wait();
        throw;
    }
    other.get();
}

} // namespace

void write_line(ByteSink& out, const ElementHeader& header, const ElementBlock& block,
                std::span<const Vertex> vertices, std::span<const AttributeRecord> attributes) {
    check_counts(header, vertices.size(), attributes.size());
    std::vector<std::byte> attribute_bytes(attribute_record_bytes * attributes.size());
    for (std::size_t i = 0; i < attributes.size(); ++i) {
        encode_attribute(attributes[i], attribute_bytes.data() + attribute_record_bytes * i);
    }
    encode_line(out, header, block, vertices, attribute_bytes);
}

void write_line(ByteSink& out, const RunLine& line) {
    if (line.vertex_count < 0 || line.vertex_count > max_item_count) {
        throw std::logic_error("a line element holds at most 32767 vertices");
    }
    const std::span<const std::byte> attributes = line.origin.attribute_bytes();
    const auto vertex_count = static_cast<std::size_t>(line.vertex_count);
    out.write_made(
        header_bytes + block_bytes + item_bytes * vertex_count + attributes.size(),
        [&](std::byte* p) {
            // Type code, feature code and attribute count as the origin holds them.
            std::memcpy(p, line.origin.bytes().data(), item_count_offset);
            store_i16(p + item_count_offset, static_cast<std::int16_t>(line.vertex_count));
            std::byte* const items = p + header_bytes + block_bytes;
            std::byte* item_out = items;
            std::size_t placed = 0;
            place_run_spans(line.runs, [&](const std::byte* from, std::int32_t count) {
                const auto n = static_cast<std::size_t>(count);
                if (placed + n <= vertex_count) {
                    std::memcpy(item_out, from, item_bytes * n);
                    item_out += item_bytes * n;
                }
                placed += n;
            });
            if (placed != vertex_count) {
                throw std::logic_error("a line's runs placed " + std::to_string(placed) +
                                       " vertices of " + std::to_string(vertex_count));
            }
            // The extent is taken from the vertices just placed, still in the cache, rather than
            // in a pass of its own over the loaded lines: that pass was the first to touch their
            // bytes. The block goes in as it stands and the extent, worked out in registers, is
            // stored over its values 1 to 6 straight from them: put together in memory first
            // and copied, it was read back in wider pieces than it was written, which stalled
            // every line.
            encode_block(line.block, p + header_bytes);
            if (vertex_count > 0) {
                extent_over(
                    [&](const auto& at) {
                        for (const std::byte* item = items; item != item_out; item += item_bytes) {
                            at(decode_vertex(item));
                        }
                    },
                    [&](std::int32_t min_x, std::int32_t min_y, std::int32_t min_z,
                        std::int32_t max_x, std::int32_t max_y, std::int32_t max_z) {
                        std::byte* const extent = p + header_bytes;
                        store_i32(extent, min_x);
                        store_i32(extent + 4, min_y);
                        store_i32(extent + 8, min_z);
                        store_i32(extent + 12, max_x);
                        store_i32(extent + 16, max_y);
                        store_i32(extent + 20, max_z);
                    });
            }
            if (!attributes.empty()) {
                std::memcpy(item_out, attributes.data(), attributes.size());
            }
        });
}

void write_text(ByteSink& out, const ElementHeader& header, const ElementBlock& block,
                const Vertex& anchor, std::span<const TextPiece> pieces,
                std::span<const AttributeRecord> attributes) {
    check_counts(header, pieces.size() + 1, attributes.size());
    std::vector<std::byte> bytes(
        static_cast<std::size_t>(element_length(static_cast<std::int64_t>(pieces.size() + 1),
                                                static_cast<std::int64_t>(attributes.size()))));
    std::byte* p = bytes.data();
    encode_header(header, p);
    encode_block(block, p + header_bytes);
    p += header_bytes + block_bytes;
    encode_vertex(anchor, p);
    p += item_bytes;
    for (const TextPiece& piece : pieces) {
        for (std::size_t i = 0; i < piece.size(); ++i) {
            p[i] = static_cast<std::byte>(piece[i]);
        }
        p += item_bytes;
    }
    for (const AttributeRecord& a : attributes) {
        encode_attribute(a, p);
        p += attribute_record_bytes;
    }
    out.write(bytes);
}

void PieceWriter::put_pieces() {
    if (m_pieces.empty()) {
        return;
    }
    // The pieces lie apart in the sheet: a copy that went from one to the next would wait for
    // memory at each, where the processor's own fetching ahead stops. Each is asked for some
    // pieces ahead, and the small ones are copied together, so the system takes them in one
    // span instead of hundreds.
    constexpr std::size_t ahead = 8;
    if (!m_copied) {
        m_copied = std::make_unique_for_overwrite<std::byte[]>(copied_at_a_time);
    }
    std::byte* copied = m_copied.get();
    std::byte* copied_from = copied;
    m_handed.clear();
    for (std::size_t i = 0; i < m_pieces.size(); ++i) {
        if (i + ahead < m_pieces.size()) {
            __builtin_prefetch(m_pieces[i + ahead].data());
            __builtin_prefetch(m_pieces[i + ahead].data() + 64);
        }
        const std::span<const std::byte> piece = m_pieces[i];
        if (piece.size() <= small_piece) {
            std::memcpy(copied, piece.data(), piece.size());
            copied += piece.size();
            continue;
        }
        if (copied > copied_from) {
            m_handed.emplace_back(copied_from, copied);
            copied_from = copied;
        }
        m_handed.push_back(piece);
    }
    if (copied > copied_from) {
        m_handed.emplace_back(copied_from, copied);
    }
    m_out.write_in_place(m_handed);
    m_pieces.clear();
    m_small_bytes = 0;
}

void EscribimosSalida(ByteSink& out, const ElementTables& tables, bool all_elements,
                      const LineSource& joined_lines, std::size_t lines_written) {
    // Loaded elements go out as the bytes they were read from, so they come back exactly. On a
    // sheet as large as a mapped one they lie far apart: fetched ahead and copied together, they
    // go in place; a small sheet's go through the sink's buffer, where no thread is made.
    const bool in_place = tables.bytes.size() >= static_cast<std::size_t>(map_from_bytes);
    if (all_elements) {
        LoadedLinesWriter loaded(out, tables, in_place);
        for (std::size_t k = lines_written; k < tables.lines.size(); ++k) {
            loaded.add(k);
        }
        loaded.flush();
    }
    if (joined_lines) {
        write_lines(out, joined_lines);
    }
    if (all_elements) {
        PieceWriter texts(out, tables.bytes.span(), in_place);
        for (const TextRecord& text : tables.texts) {
            texts.add(static_cast<std::size_t>(text.file_position - 1),
                      static_cast<std::size_t>(text.length));
        }
        texts.flush();
    }
}

} // namespace tarvel::digi
