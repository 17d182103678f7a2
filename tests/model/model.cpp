#include "tests/model/model.hpp"

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>

#include "common/errors.hpp"

namespace tarvel::model {
namespace {

// Every table and list is used through 1-based positions, as the rules state them.
template <typename T> T& at1(std::vector<T>& list, std::int64_t position) {
    return list.at(static_cast<std::size_t>(position - 1));
}
template <typename T> const T& at1(const std::vector<T>& list, std::int64_t position) {
    return list.at(static_cast<std::size_t>(position - 1));
}

struct Header {
    std::array<char, 2> type_code{};
    std::array<char, 7> feature_code{};
    std::uint8_t attribute_count = 0;
    std::int16_t item_count = 0;
};

using Block = std::array<std::int32_t, 9>;

// A vertex is a point: X, Y and Z in file units.
using Vertex = Point;

struct Attribute {
    std::int16_t tag = 0;
    std::int32_t value = 0;
    std::array<char, 6> text{};
};

using TextPiece = std::array<char, 12>;

/// A loaded line (1-based in the line element table) as it stands in a line, and whether it
/// runs against that line.
struct LinePiece {
    std::int32_t line = 0;
    bool reversed = false;
};

struct LineRecord {
    Header header;
    Block block{};
    std::vector<Vertex> vertices;
    std::vector<Attribute> attributes;
    std::int64_t file_position = 0;
    bool absorbed = false;
    std::int64_t element_number = 0; ///< among all elements of the file; 0 for a joined line
    std::vector<LinePiece> pieces;   ///< the loaded lines it is made of, in its running order
};

struct TextRecord {
    Header header;
    Block block{};
    std::vector<Vertex> anchor;
    std::vector<TextPiece> pieces;
    std::vector<Attribute> attributes;
    std::int64_t file_position = 0;
};

struct Node {
    std::int32_t x = 0;
    std::int32_t y = 0;
    std::int32_t z = 0;
    std::int32_t end_count = 0;
    std::int32_t spare = 0;
    std::vector<std::int32_t> elements;
};

bool same_place(const Vertex& v, const Node& node) {
    return v.x == node.x && v.y == node.y;
}
bool same_place(const Vertex& a, const Vertex& b) {
    return a.x == b.x && a.y == b.y;
}

// ---------------------------------------------------------------------------------------------
// Reading the input: little-endian fields at 1-based byte positions.

class Reader {
public:
    explicit Reader(std::span<const std::byte> bytes) : m_bytes(bytes) {}

    [[nodiscard]] std::int64_t length() const { return static_cast<std::int64_t>(m_bytes.size()); }
    [[nodiscard]] std::int64_t position() const { return m_position; }
    void move_to(std::int64_t position) { m_position = position; }

    std::uint8_t u8() { return std::to_integer<std::uint8_t>(m_bytes[index(m_position++)]); }
    char character() { return static_cast<char>(u8()); }
    std::int16_t i16() {
        const unsigned lo = u8();
        const unsigned hi = u8();
        return static_cast<std::int16_t>(static_cast<std::uint16_t>(lo | (hi << 8)));
    }
    std::int32_t i32() {
        std::uint32_t v = 0;
        for (int shift = 0; shift < 32; shift += 8) {
            v |= static_cast<std::uint32_t>(u8()) << shift;
        }
        return static_cast<std::int32_t>(v);
    }
    Header header() {
        Header h;
        for (auto& c : h.type_code) {
            c = character();
        }
        for (auto& c : h.feature_code) {
            c = character();
        }
        h.attribute_count = u8();
        h.item_count = i16();
        return h;
    }
    Block block() {
        Block b{};
        for (auto& value : b) {
            value = i32();
        }
        return b;
    }
    Vertex vertex() {
        Vertex v;
        v.x = i32();
        v.y = i32();
        v.z = i32();
        return v;
    }
    Attribute attribute() {
        Attribute a;
        a.tag = i16();
        a.value = i32();
        for (auto& c : a.text) {
            c = character();
        }
        return a;
    }
    TextPiece text_piece() {
        TextPiece piece{};
        for (auto& c : piece) {
            c = character();
        }
        return piece;
    }

private:
    [[nodiscard]] std::size_t index(std::int64_t position) const {
        if (position < 1 || position > length()) {
            throw std::out_of_range("model: read past the end of the input");
        }
        return static_cast<std::size_t>(position - 1);
    }

    std::span<const std::byte> m_bytes;
    std::int64_t m_position = 1;
};

// ---------------------------------------------------------------------------------------------
// Writing: the same fields, appended in order.

class Writer {
public:
    void u8(std::uint8_t v) { m_bytes.push_back(static_cast<std::byte>(v)); }
    void character(char c) { u8(static_cast<std::uint8_t>(c)); }
    void i16(std::int16_t v) {
        const auto u = static_cast<std::uint16_t>(v);
        u8(static_cast<std::uint8_t>(u & 0xFF));
        u8(static_cast<std::uint8_t>(u >> 8));
    }
    void i32(std::int32_t v) {
        const auto u = static_cast<std::uint32_t>(v);
        for (int shift = 0; shift < 32; shift += 8) {
            u8(static_cast<std::uint8_t>((u >> shift) & 0xFF));
        }
    }
    void header(const Header& h) {
        for (char c : h.type_code) {
            character(c);
        }
        for (char c : h.feature_code) {
            character(c);
        }
        u8(h.attribute_count);
        i16(h.item_count);
    }
    void block(const Block& b) {
        for (std::int32_t value : b) {
            i32(value);
        }
    }
    void vertex(const Vertex& v) {
        i32(v.x);
        i32(v.y);
        i32(v.z);
    }
    void attribute(const Attribute& a) {
        i16(a.tag);
        i32(a.value);
        for (char c : a.text) {
            character(c);
        }
    }
    void text_piece(const TextPiece& piece) {
        for (char c : piece) {
            character(c);
        }
    }
    [[nodiscard]] std::vector<std::byte> take() { return std::move(m_bytes); }

private:
    std::vector<std::byte> m_bytes;
};

constexpr std::int32_t vertex_limit = 32767;

// ---------------------------------------------------------------------------------------------
// One file's job.

class Job {
public:
    Job(const std::vector<std::string>* codes, std::int32_t unit_factor, bool all_elements,
        double tolerance)
        : m_codes_flag(codes != nullptr), m_codes(codes), m_unit_factor(unit_factor),
          m_all_elements(all_elements), m_tolerance(tolerance) {}

    Result run(std::span<const std::byte> input) {
        load(input);
        build_nodes();
        find_near_misses(); // on the nodes as built, before any join
        node_loop();        // ends by writing the output
        if (m_error_count > 0) {
            write_errors();
        }
        m_result.counts.lines_read = m_loaded_line_count;
        m_result.counts.texts_read = m_text_count;
        m_result.counts.error_points = m_error_count;
        return std::move(m_result);
    }

private:
    LineRecord& line(std::int32_t index) { return at1(m_lines, index); }

    // --- Loading: a counting pass with the framing checks, then a loading pass. ---

    /// Checks the element at the reader's position and returns the length of its remaining
    /// bytes after the header, leaving the reader behind the header.
    std::int64_t checked_header(Reader& in, Header& h) {
        const std::int64_t at = in.position();
        if (at + 11 > in.length()) {
            throw FormatError("input", at, "element header cut short");
        }
        h = in.header();
        if (h.item_count < 0) {
            throw FormatError("input", at, "negative item count");
        }
        const bool is_text = h.type_code[0] == 'T' && h.type_code[1] == '=';
        if (is_text && h.item_count == 0) {
            throw FormatError("input", at, "text without anchor");
        }
        const std::int64_t rest = 36 + 12 * std::int64_t{h.item_count} + 12 * h.attribute_count;
        if (in.position() - 1 + rest > in.length()) {
            throw FormatError("input", at, "element runs past the end of the file");
        }
        return rest;
    }

    void load(std::span<const std::byte> input) {
        Reader in(input);
        const std::int64_t length = in.length();

        // Counting pass. An element is read while the next unread byte lies before the last.
        in.move_to(1);
        while (in.position() < length) {
            Header h;
            const std::int64_t rest = checked_header(in, h);
            const std::int64_t behind_header = in.position();
            if (h.type_code[0] == 'C') {
                if (h.type_code[1] == '=') {
                    ++m_line_count;
                }
            } else if (h.type_code[0] == 'T' && h.type_code[1] == '=') {
                ++m_text_count;
            }
            in.move_to(behind_header + rest);
        }

        m_lines.assign(static_cast<std::size_t>(m_line_count), LineRecord{});
        m_texts.assign(static_cast<std::size_t>(m_text_count), TextRecord{});

        // Loading pass. Every element is numbered, loaded or stepped over.
        in.move_to(1);
        std::int32_t j = 0;
        std::int32_t k = 0;
        std::int64_t element_number = 0;
        while (in.position() < length) {
            ++element_number;
            const std::int64_t h_position = in.position();
            Header h;
            const std::int64_t rest = checked_header(in, h);
            const std::int64_t behind_header = in.position();
            const bool is_line = h.type_code[0] == 'C' && h.type_code[1] == '=';
            const bool is_text = h.type_code[0] == 'T' && h.type_code[1] == '=';
            if (is_line) {
                ++j;
                LineRecord& r = line(j);
                r.file_position = h_position;
                r.header = h;
                r.block = in.block();
                for (std::int32_t i = 1; i <= h.item_count; ++i) {
                    r.vertices.push_back(in.vertex());
                }
                for (std::int32_t i = 1; i <= h.attribute_count; ++i) {
                    r.attributes.push_back(in.attribute());
                }
                r.absorbed = false;
                r.element_number = element_number;
                r.pieces = {LinePiece{j, false}};
            } else if (is_text) {
                ++k;
                TextRecord& t = at1(m_texts, k);
                t.file_position = h_position;
                t.header = h;
                t.block = in.block();
                t.anchor.push_back(in.vertex());
                for (std::int32_t i = 1; i <= h.item_count - 1; ++i) {
                    t.pieces.push_back(in.text_piece());
                }
                for (std::int32_t i = 1; i <= h.attribute_count; ++i) {
                    t.attributes.push_back(in.attribute());
                }
            } else {
                in.move_to(behind_header + rest);
            }
            if (in.position() != behind_header + rest) {
                throw std::logic_error("model: element read to the wrong length");
            }
        }
    }

    // --- Node table, by linear scan. ---

    void register_end(const Vertex& p, std::int32_t k) {
        for (std::int32_t n = 1; n <= m_node_count; ++n) {
            Node& node = at1(m_nodes, n);
            if (node.x == p.x && node.y == p.y) {
                node.z = p.z;
                ++node.end_count;
                node.elements.push_back(k);
                return;
            }
        }
        ++m_node_count;
        Node& node = at1(m_nodes, m_node_count);
        node.x = p.x;
        node.y = p.y;
        node.z = p.z;
        node.end_count = 1;
        node.spare = 0;
        node.elements = {k};
    }

    void build_nodes() {
        m_nodes.assign(static_cast<std::size_t>(2 * m_line_count), Node{});
        m_node_count = 0;
        for (std::int32_t k = 1; k <= m_line_count; ++k) {
            const LineRecord& r = line(k);
            const std::int32_t n = r.header.item_count;
            if (n < 2) {
                continue;
            }
            const Vertex first = at1(r.vertices, 1);
            const Vertex last = at1(r.vertices, n);
            if (same_place(first, last)) {
                continue; // a closed line has no node
            }
            register_end(first, k);
            register_end(last, k);
        }
    }

    void replace_references(std::int32_t a, std::int32_t b, std::int32_t nuevo) {
        for (std::int32_t n = 1; n <= m_node_count; ++n) {
            Node& node = at1(m_nodes, n);
            if (node.end_count <= 0) {
                continue;
            }
            for (std::int32_t e = 1; e <= static_cast<std::int32_t>(node.elements.size()); ++e) {
                std::int32_t& entry = at1(node.elements, e);
                if (entry == a || entry == b) {
                    entry = nuevo;
                }
            }
        }
    }

    // --- Lines as the findings name them. ---

    [[nodiscard]] LineRef ref(std::int32_t index) const {
        const LineRecord& r = at1(m_lines, index);
        return LineRef{r.element_number, r.file_position};
    }

    /// The end vertex of `r` that lies at the node: its vertex 1 or its last vertex.
    static Vertex end_at(const LineRecord& r, const Node& node) {
        const Vertex& first = at1(r.vertices, 1);
        return same_place(first, node) ? first : at1(r.vertices, r.header.item_count);
    }

    /// The loaded line whose end lies at the node: the first or the last of `r`'s pieces,
    /// as its vertex 1 or its last vertex lies there.
    [[nodiscard]] LineRef end_piece_at(const LineRecord& r, const Node& node) const {
        const bool at_start = same_place(at1(r.vertices, 1), node);
        return ref(at_start ? r.pieces.front().line : r.pieces.back().line);
    }

    /// Node i's two lines where they meet there.
    NodeFinding meeting(std::int32_t i) {
        const Node& node = at1(m_nodes, i);
        const LineRecord& a = line(at1(node.elements, 1));
        const LineRecord& b = line(at1(node.elements, 2));
        return NodeFinding{end_at(a, node), {end_piece_at(a, node), end_piece_at(b, node)}};
    }

    // --- Near misses: every pair of nodes as built, one by one. ---

    NearPlace near_place(const Node& node) {
        NearPlace place;
        place.point = Point{node.x, node.y, end_at(line(at1(node.elements, 1)), node).z};
        for (std::int32_t k : node.elements) {
            place.lines.push_back(ref(k));
        }
        return place;
    }

    void find_near_misses() {
        const double tolerance = m_tolerance * m_unit_factor;
        for (std::int32_t a = 1; a <= m_node_count; ++a) {
            for (std::int32_t b = a + 1; b <= m_node_count; ++b) {
                const Node& p = at1(m_nodes, a);
                const Node& q = at1(m_nodes, b);
                if (p.end_count != 1 && q.end_count != 1) {
                    continue; // neither is a loose end
                }
                const double dx = static_cast<double>(p.x) - static_cast<double>(q.x);
                const double dy = static_cast<double>(p.y) - static_cast<double>(q.y);
                const double distance = std::sqrt(dx * dx + dy * dy);
                if (distance <= tolerance) {
                    m_result.findings.near_misses.push_back(
                        NearMiss{{near_place(p), near_place(q)}, distance});
                }
            }
        }
    }

    // --- Codes with direction. ---

    static std::string cleaned(const std::array<char, 7>& code) {
        std::string s;
        for (char c : code) {
            if (c == '\0') {
                break;
            }
            s += c;
        }
        const auto begin = s.find_first_not_of(' ');
        if (begin == std::string::npos) {
            return {};
        }
        return s.substr(begin, s.find_last_not_of(' ') - begin + 1);
    }

    bool code_has_direction(const std::array<char, 7>& code) {
        const std::string c = cleaned(code);
        m_con_sentido = false;
        for (const std::string& entry : *m_codes) {
            if (entry == c) {
                m_con_sentido = true;
                return true;
            }
        }
        return false;
    }

    bool head_to_tail(const std::array<char, 7>& code, const Vertex& a1, const Vertex& an,
                      const Vertex& b1, const Vertex& bn) {
        if (!code_has_direction(code)) {
            return false;
        }
        return same_place(a1, bn) || same_place(an, b1);
    }

    // --- The node loop. ---

    void node_loop() {
        m_loaded_line_count = m_line_count;
        const std::int32_t node_count = m_node_count;
        for (std::int32_t i = 1; i <= node_count; ++i) {
            const Node node = at1(m_nodes, i);
            if (node.end_count != 2) {
                continue;
            }
            const std::int32_t first = at1(node.elements, 1);
            const std::int32_t second = at1(node.elements, 2);
            if (first == second) {
                // A ring closed by an earlier join: nothing to join it to.
                ++m_result.counts.rings_passed_over;
                const LineRecord& ring = line(first);
                m_result.findings.rings.push_back(
                    NodeFinding{at1(ring.vertices, 1),
                                {ref(ring.pieces.front().line), ref(ring.pieces.back().line)}});
                continue;
            }
            const LineRecord& a = line(first);
            const LineRecord& b = line(second);
            if (a.header.feature_code != b.header.feature_code) {
                continue;
            }
            if (a.header.attribute_count != b.header.attribute_count) {
                continue;
            }
            bool same_attributes = true;
            for (std::int32_t k = 1; k <= a.header.attribute_count; ++k) {
                const Attribute& x = at1(a.attributes, k);
                const Attribute& y = at1(b.attributes, k);
                if (!(x.text == y.text && x.tag == y.tag && x.value == y.value)) {
                    same_attributes = false;
                    break;
                }
            }
            const Vertex a1 = at1(a.vertices, 1);
            const Vertex an = at1(a.vertices, a.header.item_count);
            const Vertex b1 = at1(b.vertices, 1);
            const Vertex bn = at1(b.vertices, b.header.item_count);
            bool join_flag = true;
            if (m_codes_flag) {
                join_flag = head_to_tail(a.header.feature_code, a1, an, b1, bn);
            }
            if (!same_attributes) {
                continue;
            }
            if (join_flag || !m_con_sentido) {
                join(i);
            } else {
                // The error is marked at this node: the first line's end that lies here.
                ++m_error_count;
                m_error_points.push_back(same_place(a1, node) ? a1 : an);
                m_result.findings.direction_errors.push_back(meeting(i));
            }
        }
        write_output();
    }

    void join(std::int32_t i) {
        const std::int32_t first = at1(at1(m_nodes, i).elements, 1);
        const std::int32_t second = at1(at1(m_nodes, i).elements, 2);
        // A joined line that would pass the vertex limit is not made at all.
        const auto vertex_count = static_cast<std::int64_t>(joined_vertices(i).size());
        if (vertex_count > vertex_limit) {
            ++m_result.counts.vertex_limit_nodes;
            m_result.findings.vertex_limit.push_back(VertexLimitFinding{meeting(i), vertex_count});
            return;
        }
        // The two ends meet in X and Y; where their Z differ both vertices stay in the line,
        // and the place is noted.
        const NodeFinding met = meeting(i);
        const Node& node = at1(m_nodes, i);
        const std::int32_t second_z = end_at(line(second), node).z;
        if (met.point.z != second_z) {
            m_result.findings.z_differences.push_back(
                ZDifference{node.x, node.y, {met.point.z, second_z}, met.lines});
        }
        line(first).absorbed = true;
        line(second).absorbed = true;
        at1(m_nodes, i).end_count = -1;
        ++m_line_count;
        const std::int32_t nuevo = m_line_count;
        replace_references(first, second, nuevo);
        m_lines.resize(static_cast<std::size_t>(m_line_count));
        m_current_header = line(first).header;
        extent_step(i);
        assembly_step(i);
        ++m_result.counts.joins;
    }

    void extent_step(std::int32_t i) {
        const Node& node = at1(m_nodes, i);
        std::int64_t min_x = 1'000'000'000'000'000;
        std::int64_t min_y = min_x;
        std::int64_t min_z = min_x;
        std::int64_t max_x = -1'000'000'000'000'000;
        std::int64_t max_y = max_x;
        std::int64_t max_z = max_x;
        for (std::int32_t which = 1; which <= 2; ++which) {
            const LineRecord& r = line(at1(node.elements, which));
            const std::int32_t count = r.header.item_count;
            for (std::int32_t k = 1; k <= count; ++k) {
                const Vertex& v = at1(r.vertices, k);
                if (v.x < min_x) {
                    min_x = v.x;
                }
                if (v.y < min_y) {
                    min_y = v.y;
                }
                if (v.z < min_z) {
                    min_z = v.z;
                }
                if (v.x > max_x) {
                    max_x = v.x;
                }
                if (v.y > max_y) {
                    max_y = v.y;
                }
                if (v.z > max_z) {
                    max_z = v.z;
                }
            }
        }
        m_current_block[0] = static_cast<std::int32_t>(min_x);
        m_current_block[1] = static_cast<std::int32_t>(min_y);
        m_current_block[2] = static_cast<std::int32_t>(min_z);
        m_current_block[3] = static_cast<std::int32_t>(max_x);
        m_current_block[4] = static_cast<std::int32_t>(max_y);
        m_current_block[5] = static_cast<std::int32_t>(max_z);
        // The further values come from the first line.
        const LineRecord& a = line(at1(node.elements, 1));
        m_current_block[6] = a.block[6];
        m_current_block[7] = a.block[7];
        m_current_block[8] = a.block[8];
    }

    /// The joined vertex list of node i's two lines, built in a scratch list.
    std::vector<Vertex> joined_vertices(std::int32_t i) {
        const Node& node = at1(m_nodes, i);
        const LineRecord& a = line(at1(node.elements, 1));
        const LineRecord& b = line(at1(node.elements, 2));
        const std::int32_t p = a.header.item_count;
        const std::int32_t q = b.header.item_count;
        std::vector<Vertex> scratch;
        scratch.reserve(static_cast<std::size_t>(p + q));

        const bool first_reversed = same_place(at1(a.vertices, 1), node);
        if (first_reversed) {
            for (std::int32_t k = p; k >= 1; --k) {
                scratch.push_back(at1(a.vertices, k));
            }
        } else {
            for (std::int32_t k = 1; k <= p; ++k) {
                scratch.push_back(at1(a.vertices, k));
            }
        }

        const bool second_in_order = same_place(at1(b.vertices, 1), node);
        const auto place = [&](const Vertex& v) {
            if (!(v == scratch.back())) {
                scratch.push_back(v);
            }
        };
        if (second_in_order) {
            for (std::int32_t k = 1; k <= q; ++k) {
                place(at1(b.vertices, k));
            }
        } else {
            for (std::int32_t k = q; k >= 1; --k) {
                place(at1(b.vertices, k));
            }
        }

        // The second line runs into the first: turned round, the list keeps their direction.
        if (first_reversed && !second_in_order) {
            std::reverse(scratch.begin(), scratch.end());
        }
        return scratch;
    }

    static std::vector<LinePiece> taken(std::vector<LinePiece> pieces, bool reversed) {
        if (reversed) {
            std::reverse(pieces.begin(), pieces.end());
            for (LinePiece& piece : pieces) {
                piece.reversed = !piece.reversed;
            }
        }
        return pieces;
    }

    /// The pieces of node i's joined line, taken along in the order its vertices are copied.
    std::vector<LinePiece> joined_pieces(std::int32_t i) {
        const Node& node = at1(m_nodes, i);
        const LineRecord& a = line(at1(node.elements, 1));
        const LineRecord& b = line(at1(node.elements, 2));
        const bool first_reversed = same_place(at1(a.vertices, 1), node);
        const bool second_in_order = same_place(at1(b.vertices, 1), node);
        std::vector<LinePiece> pieces = taken(a.pieces, first_reversed);
        const std::vector<LinePiece> second = taken(b.pieces, !second_in_order);
        pieces.insert(pieces.end(), second.begin(), second.end());
        // Turned round with the vertices when the second line runs into the first.
        return taken(std::move(pieces), first_reversed && !second_in_order);
    }

    void assembly_step(std::int32_t i) {
        const std::int32_t first = at1(at1(m_nodes, i).elements, 1);
        std::vector<Vertex> scratch = joined_vertices(i);
        std::vector<LinePiece> pieces = joined_pieces(i);
        LineRecord& r = line(m_line_count);
        r.absorbed = false;
        r.file_position = -1;
        r.header = m_current_header;
        r.block = m_current_block;
        r.header.item_count = static_cast<std::int16_t>(scratch.size());
        r.vertices = scratch;
        r.pieces = std::move(pieces);
        const LineRecord& a = line(first);
        for (std::int32_t k = 1; k <= a.header.attribute_count; ++k) {
            r.attributes.push_back(at1(a.attributes, k));
        }
    }

    // --- Output and error file. ---

    void write_line(Writer& out, const LineRecord& r) {
        out.header(r.header);
        out.block(r.block);
        for (std::int32_t k = 1; k <= r.header.item_count; ++k) {
            out.vertex(at1(r.vertices, k));
        }
        for (std::int32_t k = 1; k <= r.header.attribute_count; ++k) {
            out.attribute(at1(r.attributes, k));
        }
        ++m_result.counts.lines_written;
        std::vector<Piece> provenance;
        for (const LinePiece& piece : r.pieces) {
            provenance.push_back(Piece{ref(piece.line), piece.reversed});
        }
        m_result.findings.provenance.push_back(std::move(provenance));
    }

    void write_output() {
        Writer out;
        if (m_all_elements) {
            for (std::int32_t i = 1; i <= m_line_count; ++i) {
                if (!line(i).absorbed) {
                    write_line(out, line(i));
                }
            }
            for (std::int32_t i = 1; i <= m_text_count; ++i) {
                const TextRecord& t = at1(m_texts, i);
                out.header(t.header);
                out.block(t.block);
                out.vertex(at1(t.anchor, 1));
                for (std::int32_t k = 1; k <= t.header.item_count - 1; ++k) {
                    out.text_piece(at1(t.pieces, k));
                }
                for (std::int32_t k = 1; k <= t.header.attribute_count; ++k) {
                    out.attribute(at1(t.attributes, k));
                }
            }
        } else {
            for (std::int32_t i = m_loaded_line_count + 1; i <= m_line_count; ++i) {
                if (!line(i).absorbed) {
                    write_line(out, line(i));
                }
            }
        }
        m_result.output = out.take();
    }

    static std::int32_t clamped(std::int64_t v) {
        return static_cast<std::int32_t>(std::clamp<std::int64_t>(
            v, std::numeric_limits<std::int32_t>::min(), std::numeric_limits<std::int32_t>::max()));
    }

    /// 1.5 times the unit factor, rounded half to even.
    static std::int64_t marker_height(std::int32_t unit_factor) {
        const std::int64_t three_halves_twice = 3 * std::int64_t{unit_factor};
        if (three_halves_twice % 2 == 0) {
            return three_halves_twice / 2;
        }
        const std::int64_t below = three_halves_twice / 2;
        return below % 2 == 0 ? below : below + 1;
    }

    void write_errors() {
        Writer out;
        const std::int64_t h = marker_height(m_unit_factor);
        for (std::int32_t i = 1; i <= m_error_count; ++i) {
            const Vertex& p = at1(m_error_points, i);
            Header header;
            header.type_code = {'T', '='};
            header.feature_code = {'E', 'R', 'R', 'O', 'R', '\0', '\0'};
            header.attribute_count = 0;
            header.item_count = 2;
            const Block block{p.x,
                              p.y,
                              0,
                              clamped(std::int64_t{p.x} + 6 * h),
                              clamped(std::int64_t{p.y} + h),
                              0,
                              static_cast<std::int32_t>(h),
                              0,
                              0};
            const TextPiece piece{'N', 'o', 'S', 'e', 'n', 't', '\0', ' ', ' ', ' ', ' ', ' '};
            out.header(header);
            out.block(block);
            out.vertex(p);
            out.text_piece(piece);
        }
        m_result.errors = out.take();
    }

    bool m_codes_flag;
    const std::vector<std::string>* m_codes;
    std::int32_t m_unit_factor;
    bool m_all_elements;
    double m_tolerance; ///< near misses, in metres

    std::vector<LineRecord> m_lines;
    std::vector<TextRecord> m_texts;
    std::vector<Node> m_nodes;
    std::int32_t m_line_count = 0;
    std::int32_t m_text_count = 0;
    std::int32_t m_loaded_line_count = 0;
    std::int32_t m_node_count = 0;
    std::vector<Vertex> m_error_points;
    std::int32_t m_error_count = 0;
    bool m_con_sentido = false;
    Header m_current_header;
    Block m_current_block{};
    Result m_result;
};

} // namespace

Result run(std::span<const std::byte> input, const std::vector<std::string>* codes,
           std::int32_t unit_factor, bool all_elements, double tolerance) {
    return Job(codes, unit_factor, all_elements, tolerance).run(input);
}

} // namespace tarvel::model
