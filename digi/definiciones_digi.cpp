#include "digi/definiciones_digi.hpp"

#include <algorithm>
#include <cstring>

namespace tarvel::digi {
inline namespace DefinicionesDIGI {

ElementHeader decode_header(const std::byte* p) noexcept {
    ElementHeader h;
    std::memcpy(h.type_code.data(), p + type_code_offset, h.type_code.size());
    std::memcpy(h.feature_code.data(), p + feature_code_offset, h.feature_code.size());
    h.attribute_count = static_cast<std::uint8_t>(p[attribute_count_offset]);
    h.item_count = load_i16(p + item_count_offset);
    return h;
}

ElementBlock decode_block(const std::byte* p) noexcept {
    ElementBlock b;
    for (std::size_t i = 0; i < block_values; ++i) {
        b.values[i] = load_i32(p + 4 * i);
    }
    return b;
}

AttributeRecord decode_attribute(const std::byte* p) noexcept {
    AttributeRecord a;
    a.tag = load_i16(p);
    a.value = load_i32(p + 2);
    std::memcpy(a.text.data(), p + 6, a.text.size());
    return a;
}

void encode_header(const ElementHeader& header, std::byte* p) noexcept {
    std::memcpy(p + type_code_offset, header.type_code.data(), header.type_code.size());
    std::memcpy(p + feature_code_offset, header.feature_code.data(), header.feature_code.size());
    p[attribute_count_offset] = static_cast<std::byte>(header.attribute_count);
    store_i16(p + item_count_offset, header.item_count);
}

void encode_block(const ElementBlock& block, std::byte* p) noexcept {
    for (std::size_t i = 0; i < block_values; ++i) {
        store_i32(p + 4 * i, block.values[i]);
    }
}

void encode_vertex(const Vertex& vertex, std::byte* p) noexcept {
    store_i32(p, vertex.x);
    store_i32(p + 4, vertex.y);
    store_i32(p + 8, vertex.z);
}

void encode_attribute(const AttributeRecord& attribute, std::byte* p) noexcept {
    store_i16(p, attribute.tag);
    store_i32(p + 2, attribute.value);
    std::memcpy(p + 6, attribute.text.data(), attribute.text.size());
}

TextPiece ElementView::text_piece(std::int32_t i) const noexcept {
    TextPiece piece;
    std::memcpy(piece.data(), item_data(i), piece.size());
    return piece;
}

AttributeRecord ElementView::attribute(std::int32_t i) const noexcept {
    return decode_attribute(attribute_bytes().data() +
                            attribute_record_bytes * static_cast<std::size_t>(i));
}

FileBytes::FileBytes(std::size_t size)
    // A sheet of a million lines is read and then walked header by header with strides of
    // about a hundred bytes: on huge pages that walk misses the TLB far less often, and the
    // buffer is faulted in a few hundred times instead of tens of thousands.
    : m_data(HugePageAllocator<std::byte>{}.allocate(size), Release{size}), m_size(size) {}

void FileBytes::Release::operator()(std::byte* data) const noexcept {
    HugePageAllocator<std::byte>{}.deallocate(data, size);
}

FileBytes::FileBytes(std::unique_ptr<MappedInput> mapped)
    : m_mapped(std::move(mapped)), m_size(m_mapped ? m_mapped->size() : 0) {}

FileBytes::FileBytes(std::span<const std::byte> bytes) : FileBytes(bytes.size()) {
    std::copy(bytes.begin(), bytes.end(), m_data.get());
}

} // namespace DefinicionesDIGI
} // namespace tarvel::digi
