#include "tests/fuzz/malformed_sheets.hpp"

#include "tests/support/digi_builder.hpp"

namespace tarvel::fuzz {
namespace {

using testing::DigiBuilder;

/// Two good lines and a text in front of every bad element, so that the bad one is not at 1.
DigiBuilder good_start() {
    DigiBuilder b;
    b.line("RIO0001", {{0, 0, 0}, {10, 0, 0}});
    b.line("RIO0001", {{10, 0, 0}, {20, 5, 0}}, {testing::attribute(3, 7, "NOMBRE")});
    b.text("TOPONIM", {5, 5, 0}, {"Arroyo"});
    return b;
}

std::vector<std::byte> bytes_of(std::initializer_list<int> values) {
    std::vector<std::byte> bytes;
    for (int v : values) {
        bytes.push_back(static_cast<std::byte>(v));
    }
    return bytes;
}

std::vector<std::byte> cut(std::vector<std::byte> bytes, std::size_t drop) {
    bytes.resize(bytes.size() - drop);
    return bytes;
}

} // namespace

std::vector<MalformedSheet> malformed_sheets() {
    std::vector<MalformedSheet> sheets;
    const auto add_bad = [&](std::string name, DigiBuilder& b, std::int64_t at) {
        sheets.push_back({std::move(name), b.bytes(), at, 0});
    };

    {
        DigiBuilder b = good_start();
        const std::int64_t at = b.next_position();
        b.raw(bytes_of({'C', '=', 'R', 'I', 'O', '0', '0', '0'}));
        add_bad("cabecera-truncada", b, at);
    }
    {
        DigiBuilder b = good_start();
        const std::int64_t at = b.next_position();
        DigiBuilder cut_line;
        cut_line.line("RIO0001", {{20, 5, 0}, {30, 5, 0}, {40, 0, 0}});
        b.raw(cut(cut_line.bytes(), 5));
        add_bad("cuerpo-truncado", b, at);
    }
    {
        DigiBuilder b = good_start();
        const std::int64_t at = b.next_position();
        b.element("C=", "RIO0001", -1);
        b.line("RIO0001", {{20, 5, 0}, {30, 5, 0}});
        add_bad("numero-negativo-linea", b, at);
    }
    {
        DigiBuilder b = good_start();
        const std::int64_t at = b.next_position();
        b.element("P=", "PUNTO01", -32768, 2);
        b.line("RIO0001", {{20, 5, 0}, {30, 5, 0}});
        add_bad("numero-negativo-saltado", b, at);
    }
    {
        DigiBuilder b = good_start();
        const std::int64_t at = b.next_position();
        b.element("T=", "TOPONIM", 0);
        add_bad("texto-sin-anclaje", b, at);
    }
    {
        DigiBuilder b = good_start();
        const std::int64_t at = b.next_position();
        DigiBuilder attributes;
        attributes.line("RIO0001", {{20, 5, 0}, {30, 5, 0}},
                        {testing::attribute(1, 1, "A"), testing::attribute(2, 2, "B")});
        b.raw(cut(attributes.bytes(), 12));
        add_bad("atributos-fuera", b, at);
    }
    {
        DigiBuilder b = good_start();
        const std::int64_t at = b.next_position();
        b.raw(bytes_of({0x43, 0x3D}));
        add_bad("dos-bytes-sueltos", b, at);
    }
    {
        DigiBuilder b = good_start();
        b.raw(bytes_of({0x43}));
        sheets.push_back({"un-byte-suelto", b.bytes(), std::nullopt, 2});
    }
    sheets.push_back({"vacio", {}, std::nullopt, 0});
    sheets.push_back({"un-byte", bytes_of({'C'}), std::nullopt, 0});
    return sheets;
}

} // namespace tarvel::fuzz
