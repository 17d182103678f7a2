// The byte layout of a DIGI element and the little-endian codec for its fields.
// An element is a 12-byte header, a 36-byte block, 12-byte body items and 12-byte
// attribute records, stored with no gaps and no file header or trailer.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>

namespace tarvel::digi {

constexpr std::size_t header_bytes = 12;
constexpr std::size_t block_bytes = 36;
constexpr std::size_t item_bytes = 12;
constexpr std::size_t attribute_record_bytes = 12;
constexpr std::size_t block_values = 9;

/// Offsets inside the header.
constexpr std::size_t type_code_offset = 0;
constexpr std::size_t feature_code_offset = 2;
constexpr std::size_t attribute_count_offset = 9;
constexpr std::size_t item_count_offset = 10;

constexpr std::int32_t max_item_count = 32767;

/// Length in bytes of an element with these counts (item count already checked >= 0).
[[nodiscard]] constexpr std::int64_t element_length(std::int64_t item_count,
                                                    std::int64_t attribute_count) noexcept {
    return static_cast<std::int64_t>(header_bytes + block_bytes) +
           static_cast<std::int64_t>(item_bytes) * (item_count + attribute_count);
}

[[nodiscard]] inline std::int16_t load_i16(const std::byte* p) noexcept {
    const auto lo = static_cast<std::uint16_t>(p[0]);
    const auto hi = static_cast<std::uint16_t>(p[1]);
    return static_cast<std::int16_t>(static_cast<std::uint16_t>(lo | (hi << 8)));
}

[[nodiscard]] inline std::int32_t load_i32(const std::byte* p) noexcept {
    const std::uint32_t v = static_cast<std::uint32_t>(p[0]) |
                            (static_cast<std::uint32_t>(p[1]) << 8) |
                            (static_cast<std::uint32_t>(p[2]) << 16) |
                            (static_cast<std::uint32_t>(p[3]) << 24);
    return static_cast<std::int32_t>(v);
}

// Stores go in whole where the machine is little-endian: written byte by byte, neighbouring
// values were put together by GCC a byte at a time in registers (over a hundred instructions
// for the six values of a joined line's extent) before being stored.
inline void store_i16(std::byte* p, std::int16_t value) noexcept {
    const auto v = static_cast<std::uint16_t>(value);
    if constexpr (std::endian::native == std::endian::little) {
        std::memcpy(p, &v, sizeof v);
    } else {
        p[0] = static_cast<std::byte>(v & 0xFFu);
        p[1] = static_cast<std::byte>(v >> 8);
    }
}

inline void store_i32(std::byte* p, std::int32_t value) noexcept {
    const auto v = static_cast<std::uint32_t>(value);
    if constexpr (std::endian::native == std::endian::little) {
        std::memcpy(p, &v, sizeof v);
    } else {
        p[0] = static_cast<std::byte>(v & 0xFFu);
        p[1] = static_cast<std::byte>((v >> 8) & 0xFFu);
        p[2] = static_cast<std::byte>((v >> 16) & 0xFFu);
        p[3] = static_cast<std::byte>(v >> 24);
    }
}

} // namespace tarvel::digi
