// `DefinicionesDIGI`: the record types of a DIGI element and the element tables of one file.
// Loaded elements are kept as views into the file's own bytes, so an element written back
// is its input bytes, fill included, and a sheet of millions of lines costs one buffer.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "common/big_vector.hpp"
#include "digi/format.hpp"
#include "digi/mapped_input.hpp"

namespace tarvel::digi {
inline namespace DefinicionesDIGI {

using TypeCode = std::array<char, 2>;
using FeatureCode = std::array<char, 7>;
using AttributeText = std::array<char, 6>;
using TextPiece = std::array<char, 12>;

inline constexpr TypeCode line_type_code{'C', '='};
inline constexpr TypeCode text_type_code{'T', '='};

struct ElementHeader {
    TypeCode type_code{};
    FeatureCode feature_code{};
    std::uint8_t attribute_count = 0;
    std::int16_t item_count = 0;

    bool operator==(const ElementHeader&) const = default;
};

/// Extent (smallest X, Y, Z, largest X, Y, Z) and three further values.
struct ElementBlock {
    std::array<std::int32_t, block_values> values{};

    bool operator==(const ElementBlock&) const = default;
};

struct Vertex {
    std::int32_t x = 0;
    std::int32_t y = 0;
    std::int32_t z = 0;

    bool operator==(const Vertex&) const = default;
};

struct AttributeRecord {
    std::int16_t tag = 0;
    std::int32_t value = 0;
    AttributeText text{};

    bool operator==(const AttributeRecord&) const = default;
};

[[nodiscard]] ElementHeader decode_header(const std::byte* p) noexcept;
[[nodiscard]] ElementBlock decode_block(const std::byte* p) noexcept;
/// Inline: the node loop and the writer decode millions of vertices.
[[nodiscard, gnu::always_inline]] inline Vertex decode_vertex(const std::byte* p) noexcept {
    return Vertex{load_i32(p), load_i32(p + 4), load_i32(p + 8)};
}
[[nodiscard]] AttributeRecord decode_attribute(const std::byte* p) noexcept;
void encode_header(const ElementHeader& header, std::byte* p) noexcept;
void encode_block(const ElementBlock& block, std::byte* p) noexcept;
void encode_vertex(const Vertex& vertex, std::byte* p) noexcept;
void encode_attribute(const AttributeRecord& attribute, std::byte* p) noexcept;

/// One element of a loaded file, read straight from its bytes. For a line the items are
/// its vertices; for a text item 0 is the anchor and items 1.. are its 12-byte pieces.
class ElementView {
public:
    ElementView() = default;
    /// `bytes` must hold exactly one whole element (the loader guarantees it).
    explicit ElementView(std::span<const std::byte> bytes) noexcept : m_bytes(bytes) {}

    [[nodiscard]] std::span<const std::byte> bytes() const noexcept { return m_bytes; }
    [[nodiscard]] ElementHeader header() const noexcept { return decode_header(m_bytes.data()); }
    [[nodiscard]] ElementBlock block() const noexcept {
        return decode_block(m_bytes.data() + header_bytes);
    }
    /// The counts of the header, held to what the element's bytes hold: the bytes of a mapped
    /// file may change under the run, and no read may then leave the element.
    [[nodiscard, gnu::always_inline]] std::int32_t item_count() const noexcept {
        const auto room =
            static_cast<std::int32_t>((m_bytes.size() - header_bytes - block_bytes) / item_bytes);
        const std::int32_t items = load_i16(m_bytes.data() + item_count_offset);
        return items < 0 ? 0 : (items < room ? items : room);
    }
    [[nodiscard]] std::int32_t attribute_count() const noexcept {
        const auto room =
            static_cast<std::int32_t>((m_bytes.size() - header_bytes - block_bytes) / item_bytes) -
            item_count();
        const auto attributes = static_cast<std::int32_t>(m_bytes[attribute_count_offset]);
        return attributes < room ? attributes : room;
    }
    /// Item i, 0-based, as a vertex. Precondition: 0 <= i < item_count().
    [[nodiscard, gnu::always_inline]] Vertex vertex(std::int32_t i) const noexcept {
        return decode_vertex(item_data(i));
    }
    [[nodiscard]] TextPiece text_piece(std::int32_t i) const noexcept;
    /// Attribute record i, 0-based. Precondition: 0 <= i < attribute_count().
    [[nodiscard]] AttributeRecord attribute(std::int32_t i) const noexcept;
    /// The raw bytes of all attribute records, for exact comparison.
    [[nodiscard, gnu::always_inline]] std::span<const std::byte> attribute_bytes() const noexcept {
        const auto start =
            header_bytes + block_bytes + item_bytes * static_cast<std::size_t>(item_count());
        return m_bytes.subspan(start, attribute_record_bytes *
                                          static_cast<std::size_t>(attribute_count()));
    }
    [[nodiscard]] const std::byte* item_data(std::int32_t i) const noexcept {
        return m_bytes.data() + header_bytes + block_bytes +
               item_bytes * static_cast<std::size_t>(i);
    }

private:
    std::span<const std::byte> m_bytes;
};

/// A "C=" element of the input, kept in 8 bytes (a sheet of millions of lines keeps one per
/// line): its place in the file, its length and whether a join has replaced it.
class LineRecord {
public:
    /// Files up to this size (1 TiB) can be loaded.
    static constexpr std::int64_t max_file_bytes = std::int64_t{1} << 40;

    LineRecord() = default;
    /// Preconditions: 1 <= file_position <= max_file_bytes, 0 <= length < 2^23 (the longest
    /// element is 393,336 bytes).
    LineRecord(std::int64_t file_position, std::int32_t length) noexcept
        : m_packed(static_cast<std::uint64_t>(file_position - 1) |
                   (static_cast<std::uint64_t>(length) << position_bits)) {}

    /// 1-based position of its header in the file.
    [[nodiscard]] std::int64_t file_position() const noexcept {
        return static_cast<std::int64_t>(m_packed & position_mask) + 1;
    }
    /// Bytes of the whole element.
    [[nodiscard]] std::int32_t length() const noexcept {
        return static_cast<std::int32_t>((m_packed >> position_bits) & length_mask);
    }
    /// Set when a join has replaced the line.
    [[nodiscard]] bool absorbed() const noexcept { return (m_packed & absorbed_bit) != 0; }
    void set_absorbed() noexcept { m_packed |= absorbed_bit; }

private:
    static constexpr int position_bits = 40;
    static constexpr std::uint64_t position_mask = (std::uint64_t{1} << position_bits) - 1;
    static constexpr std::uint64_t length_mask = (std::uint64_t{1} << 23) - 1;
    static constexpr std::uint64_t absorbed_bit = std::uint64_t{1} << 63;

    std::uint64_t m_packed = 0;
};
static_assert(sizeof(LineRecord) == 8, "a line record stays compact");

/// A "T=" element of the input; nothing in the tool changes a text.
struct TextRecord {
    std::int64_t file_position = 0;
    std::int32_t length = 0;
};

/// The file's bytes, mapped (a large file) or read (a small one, or where no mapping can be
/// made); loaded elements point into them.
class FileBytes {
public:
    FileBytes() = default;
    /// A writable buffer of `size` bytes, to read a file into.
    explicit FileBytes(std::size_t size);
    /// A private copy of `bytes`.
    explicit FileBytes(std::span<const std::byte> bytes);
    /// The bytes of a mapped file.
    explicit FileBytes(std::unique_ptr<MappedInput> mapped);

    /// The writable buffer. Precondition: the bytes were not mapped.
    [[nodiscard]] std::byte* data() noexcept { return m_data.get(); }
    [[nodiscard]] std::span<const std::byte> span() const noexcept {
        return {m_mapped ? m_mapped->data() : m_data.get(), m_size};
    }
    [[nodiscard]] std::size_t size() const noexcept { return m_size; }
    /// Whether the file has changed since its bytes were taken; a copy never changes.
    [[nodiscard]] bool file_changed() const noexcept { return m_mapped && m_mapped->changed(); }

private:
    /// Buffers come from the huge-page allocator of the sheet's tables.
    struct Release {
        std::size_t size;
        void operator()(std::byte* data) const noexcept;
    };
    std::unique_ptr<std::byte[], Release> m_data;
    std::unique_ptr<MappedInput> m_mapped;
    std::size_t m_size = 0;
};

/// How far ahead of a walk along a sheet's bytes those bytes are asked for. The processor
/// fetches ahead of what is read only up to the end of a 4 KiB page, so a walk along a mapped
/// sheet would otherwise wait for memory at the start of every page: nearly half of a large
/// sheet's load went in those waits.
inline constexpr std::size_t walk_read_ahead = 4096;

/// Asks the processor for the byte `walk_read_ahead` past `offset` in `file`, when there is
/// one. Inlined on purpose: a call to a function that only prefetches has no effect the
/// compiler must keep, and it drops such calls.
[[gnu::always_inline]] inline void read_ahead(std::span<const std::byte> file,
                                              std::size_t offset) noexcept {
    if (offset + walk_read_ahead < file.size()) {
        __builtin_prefetch(file.data() + offset + walk_read_ahead);
    }
}

/// The element of `length` bytes at 1-based `file_position` in a file's bytes.
[[nodiscard, gnu::always_inline]] inline ElementView
element_at(std::span<const std::byte> file, std::int64_t file_position, std::int32_t length) {
    return ElementView(file.subspan(static_cast<std::size_t>(file_position - 1),
                                    static_cast<std::size_t>(length)));
}

/// The line element table and the text element table of one file, in file order.
struct ElementTables {
    std::string file_name;
    FileBytes bytes;
    BigVector<LineRecord> lines;
    std::vector<TextRecord> texts;

    /// Forced inline, like the element view's own reads: the node loop and the writer ask for
    /// millions of lines, and the compiler left it a call of its own.
    [[nodiscard, gnu::always_inline]] ElementView line(std::size_t i) const {
        const LineRecord& r = lines.at(i);
        return element_at(bytes.span(), r.file_position(), r.length());
    }
    [[nodiscard]] ElementView text(std::size_t i) const {
        const TextRecord& r = texts.at(i);
        return element_at(bytes.span(), r.file_position, r.length);
    }
};

} // namespace DefinicionesDIGI
} // namespace tarvel::digi
