// `EscribimosSalida` and the element encoders: DIGI elements appended to a byte sink.
// The sink is where the bytes go (an atomic output file, or memory in tests).
#pragma once

#include <functional>
#include <span>
#include <vector>

#include "digi/definiciones_digi.hpp"

namespace tarvel::digi {

/// Where written bytes go. `write` throws on failure.
class ByteSink {
public:
    virtual ~ByteSink() = default;
    virtual void write(std::span<const std::byte> bytes) = 0;
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

/// A line made from loaded lines, handed over to be written: the loaded line whose type code,
/// feature code and attribute records it carries, its element block and its vertices.
struct LineElement {
    ElementView origin;
    ElementBlock block;
    std::span<const Vertex> vertices;
};

/// Appends `line`: the origin's header with the vertex count of `line.vertices`, the block,
/// the vertices and the origin's attribute records. Throws std::length_error when the
/// vertices do not fit a line element.
void write_line(ByteSink& out, const LineElement& line);

/// Calls its argument once for each line to write, in order.
using LineVisitor = std::function<void(const LineElement&)>;
using LineSource = std::function<void(const LineVisitor&)>;

/// Appends a text element. Precondition: item count = 1 + pieces, attribute count = attributes.
void write_text(ByteSink& out, const ElementHeader& header, const ElementBlock& block,
                const Vertex& anchor, std::span<const TextPiece> pieces,
                std::span<const AttributeRecord> attributes);

/// Writes the result of a run: with `all_elements`, every live loaded line in table order,
/// then the joined lines, then every text; otherwise the joined lines alone.
/// `joined_lines` hands over the live joined lines in the order they were made.
void EscribimosSalida(ByteSink& out, const ElementTables& tables, bool all_elements,
                      const LineSource& joined_lines);

} // namespace tarvel::digi
