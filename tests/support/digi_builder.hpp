// Builds DIGI bytes in code for tests: lines, texts, elements of other type codes and
// raw bytes, in the order given.
#pragma once

#include <cstddef>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "digi/definiciones_digi.hpp"

namespace tarvel::testing {

/// A 7-byte feature code: `text` filled out with `fill` (space or '\0').
[[nodiscard]] digi::FeatureCode code(std::string_view text, char fill = ' ');
/// An attribute record with its 6-character text filled out with `fill`.
[[nodiscard]] digi::AttributeRecord attribute(std::int16_t tag, std::int32_t value,
                                              std::string_view text, char fill = ' ');
/// The true extent of `vertices` with further values `further`.
[[nodiscard]] digi::ElementBlock extent_block(const std::vector<digi::Vertex>& vertices,
                                              std::array<std::int32_t, 3> further = {0, 0, 0});

/// The bytes of one "C=" element; its header counts are those of the lists.
[[nodiscard]] std::vector<std::byte>
line_element_bytes(const digi::FeatureCode& feature_code, const digi::ElementBlock& block,
                   std::span<const digi::Vertex> vertices,
                   std::span<const digi::AttributeRecord> attributes);

class DigiBuilder {
public:
    /// A "C=" line; the block is the true extent of its vertices unless given.
    DigiBuilder& line(const digi::FeatureCode& feature_code,
                      const std::vector<digi::Vertex>& vertices,
                      const std::vector<digi::AttributeRecord>& attributes = {});
    DigiBuilder& line(std::string_view feature_code, const std::vector<digi::Vertex>& vertices,
                      const std::vector<digi::AttributeRecord>& attributes = {});
    DigiBuilder& line_with_block(const digi::FeatureCode& feature_code,
                                 const digi::ElementBlock& block,
                                 const std::vector<digi::Vertex>& vertices,
                                 const std::vector<digi::AttributeRecord>& attributes = {});
    /// A "T=" text: anchor then one 12-byte piece per string (filled with spaces).
    DigiBuilder& text(std::string_view feature_code, const digi::Vertex& anchor,
                      const std::vector<std::string>& pieces,
                      const std::vector<digi::AttributeRecord>& attributes = {});
    /// An element of any type code with `items` zero-filled 12-byte items.
    DigiBuilder& element(std::string_view type_code, std::string_view feature_code,
                         std::int16_t items, std::uint8_t attributes = 0);
    /// Bytes appended as they are (for truncated or malformed input).
    DigiBuilder& raw(const std::vector<std::byte>& bytes);

    [[nodiscard]] const std::vector<std::byte>& bytes() const noexcept { return m_bytes; }
    /// 1-based position where the next element will start.
    [[nodiscard]] std::int64_t next_position() const noexcept {
        return static_cast<std::int64_t>(m_bytes.size()) + 1;
    }

private:
    std::vector<std::byte> m_bytes;
};

/// Reads a whole file; writes one. For end-to-end tests.
[[nodiscard]] std::vector<std::byte> read_bytes(const std::string& path);
void write_bytes(const std::string& path, const std::vector<std::byte>& bytes);

} // namespace tarvel::testing
