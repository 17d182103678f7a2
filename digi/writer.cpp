#include "digi/writer.hpp"

#include <cassert>
#include <stdexcept>

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

} // namespace

void write_line(ByteSink& out, const ElementHeader& header, const ElementBlock& block,
                std::span<const Vertex> vertices, std::span<const AttributeRecord> attributes) {
    check_counts(header, vertices.size(), attributes.size());
    std::vector<std::byte> bytes(static_cast<std::size_t>(
        element_length(static_cast<std::int64_t>(vertices.size()),
                       static_cast<std::int64_t>(attributes.size()))));
    std::byte* p = bytes.data();
    encode_header(header, p);
    encode_block(block, p + header_bytes);
    p += header_bytes + block_bytes;
    for (const Vertex& v : vertices) {
        encode_vertex(v, p);
        p += item_bytes;
    }
    for (const AttributeRecord& a : attributes) {
        encode_attribute(a, p);
        p += attribute_record_bytes;
    }
    out.write(bytes);
}

void write_text(ByteSink& out, const ElementHeader& header, const ElementBlock& block,
                const Vertex& anchor, std::span<const TextPiece> pieces,
                std::span<const AttributeRecord> attributes) {
    check_counts(header, pieces.size() + 1, attributes.size());
    std::vector<std::byte> bytes(static_cast<std::size_t>(
        element_length(static_cast<std::int64_t>(pieces.size() + 1),
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

void EscribimosSalida(ByteSink& out, const ElementTables& tables, bool all_elements,
                      const std::function<void(ByteSink&)>& write_joined_lines) {
    // Loaded elements go out as the bytes they were read from, so they come back exactly.
    if (all_elements) {
        for (std::size_t i = 0; i < tables.lines.size(); ++i) {
            if (!tables.lines[i].absorbed) {
                out.write(tables.line(i).bytes());
            }
        }
    }
    if (write_joined_lines) {
        write_joined_lines(out);
    }
    if (all_elements) {
        for (std::size_t i = 0; i < tables.texts.size(); ++i) {
            out.write(tables.text(i).bytes());
        }
    }
}

} // namespace tarvel::digi
