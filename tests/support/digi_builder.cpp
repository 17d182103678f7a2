#include "tests/support/digi_builder.hpp"

#include <algorithm>
#include <fstream>
#include <iterator>
#include <stdexcept>

#include "digi/writer.hpp"

namespace tarvel::testing {

digi::FeatureCode code(std::string_view text, char fill) {
    digi::FeatureCode c;
    c.fill(fill);
    std::copy_n(text.begin(), std::min(text.size(), c.size()), c.begin());
    return c;
}

digi::AttributeRecord attribute(std::int16_t tag, std::int32_t value, std::string_view text,
                                char fill) {
    digi::AttributeRecord a;
    a.tag = tag;
    a.value = value;
    a.text.fill(fill);
    std::copy_n(text.begin(), std::min(text.size(), a.text.size()), a.text.begin());
    return a;
}

digi::ElementBlock extent_block(const std::vector<digi::Vertex>& vertices,
                                std::array<std::int32_t, 3> further) {
    digi::ElementBlock b;
    if (!vertices.empty()) {
        b.values = {vertices[0].x,
                    vertices[0].y,
                    vertices[0].z,
                    vertices[0].x,
                    vertices[0].y,
                    vertices[0].z,
                    0,
                    0,
                    0};
        for (const auto& v : vertices) {
            b.values[0] = std::min(b.values[0], v.x);
            b.values[1] = std::min(b.values[1], v.y);
            b.values[2] = std::min(b.values[2], v.z);
            b.values[3] = std::max(b.values[3], v.x);
            b.values[4] = std::max(b.values[4], v.y);
            b.values[5] = std::max(b.values[5], v.z);
        }
    }
    b.values[6] = further[0];
    b.values[7] = further[1];
    b.values[8] = further[2];
    return b;
}

std::vector<std::byte> line_element_bytes(const digi::FeatureCode& feature_code,
                                          const digi::ElementBlock& block,
                                          std::span<const digi::Vertex> vertices,
                                          std::span<const digi::AttributeRecord> attributes) {
    digi::ElementHeader h;
    h.type_code = digi::line_type_code;
    h.feature_code = feature_code;
    h.attribute_count = static_cast<std::uint8_t>(attributes.size());
    h.item_count = static_cast<std::int16_t>(vertices.size());
    digi::MemorySink sink;
    digi::write_line(sink, h, block, vertices, attributes);
    return sink.bytes();
}

DigiBuilder& DigiBuilder::line_with_block(const digi::FeatureCode& feature_code,
                                          const digi::ElementBlock& block,
                                          const std::vector<digi::Vertex>& vertices,
                                          const std::vector<digi::AttributeRecord>& attributes) {
    return raw(line_element_bytes(feature_code, block, vertices, attributes));
}

DigiBuilder& DigiBuilder::line(const digi::FeatureCode& feature_code,
                               const std::vector<digi::Vertex>& vertices,
                               const std::vector<digi::AttributeRecord>& attributes) {
    return line_with_block(feature_code, extent_block(vertices), vertices, attributes);
}

DigiBuilder& DigiBuilder::line(std::string_view feature_code,
                               const std::vector<digi::Vertex>& vertices,
                               const std::vector<digi::AttributeRecord>& attributes) {
    return line(code(feature_code), vertices, attributes);
}

DigiBuilder& DigiBuilder::text(std::string_view feature_code, const digi::Vertex& anchor,
                               const std::vector<std::string>& pieces,
                               const std::vector<digi::AttributeRecord>& attributes) {
    digi::ElementHeader h;
    h.type_code = digi::text_type_code;
    h.feature_code = code(feature_code);
    h.attribute_count = static_cast<std::uint8_t>(attributes.size());
    h.item_count = static_cast<std::int16_t>(pieces.size() + 1);
    std::vector<digi::TextPiece> text_pieces;
    for (const auto& p : pieces) {
        digi::TextPiece piece;
        piece.fill(' ');
        std::copy_n(p.begin(), std::min(p.size(), piece.size()), piece.begin());
        text_pieces.push_back(piece);
    }
    digi::ElementBlock b;
    b.values = {anchor.x, anchor.y, 0, anchor.x + 10, anchor.y + 2, 0, 2, 0, 0};
    digi::MemorySink sink;
    digi::write_text(sink, h, b, anchor, text_pieces, attributes);
    return raw(sink.bytes());
}

DigiBuilder& DigiBuilder::element(std::string_view type_code, std::string_view feature_code,
                                  std::int16_t items, std::uint8_t attributes) {
    digi::ElementHeader h;
    h.type_code = {type_code.size() > 0 ? type_code[0] : ' ',
                   type_code.size() > 1 ? type_code[1] : ' '};
    h.feature_code = code(feature_code);
    h.attribute_count = attributes;
    h.item_count = items;
    std::vector<std::byte> bytes(digi::header_bytes + digi::block_bytes);
    digi::encode_header(h, bytes.data());
    if (items > 0) {
        bytes.resize(bytes.size() + digi::item_bytes * static_cast<std::size_t>(items));
    }
    bytes.resize(bytes.size() + digi::attribute_record_bytes * attributes);
    return raw(bytes);
}

DigiBuilder& DigiBuilder::raw(const std::vector<std::byte>& bytes) {
    m_bytes.insert(m_bytes.end(), bytes.begin(), bytes.end());
    return *this;
}

std::vector<std::byte> read_bytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        throw std::runtime_error("cannot open " + path);
    }
    std::vector<char> chars((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::vector<std::byte> bytes(chars.size());
    std::transform(chars.begin(), chars.end(), bytes.begin(),
                   [](char c) { return static_cast<std::byte>(c); });
    return bytes;
}

void write_bytes(const std::string& path, const std::vector<std::byte>& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
    if (!out) {
        throw std::runtime_error("cannot write " + path);
    }
}

} // namespace tarvel::testing
