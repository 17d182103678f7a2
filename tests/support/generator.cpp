#include "tests/support/generator.hpp"

#include "tests/support/digi_builder.hpp"

#include <algorithm>
#include <limits>
#include <string_view>
#include <utility>

namespace tarvel::testing {

// ---------------------------------------------------------------------------------------------
// Random

namespace {

std::uint64_t splitmix64(std::uint64_t& state) noexcept {
    std::uint64_t z = (state += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
}

std::uint64_t rotl(std::uint64_t x, int k) noexcept {
    return (x << k) | (x >> (64 - k));
}

} // namespace

Random::Random(std::uint64_t seed) noexcept {
    for (auto& word : m_state) {
        word = splitmix64(seed);
    }
}

std::uint64_t Random::next() noexcept {
    const std::uint64_t result = rotl(m_state[1] * 5, 7) * 9;
    const std::uint64_t t = m_state[1] << 17;
    m_state[2] ^= m_state[0];
    m_state[3] ^= m_state[1];
    m_state[1] ^= m_state[2];
    m_state[0] ^= m_state[3];
    m_state[2] ^= t;
    m_state[3] = rotl(m_state[3], 45);
    return result;
}

std::uint64_t Random::below(std::uint64_t n) noexcept {
    // Rejection keeps the draw unbiased; it is defined here, so it is the same everywhere.
    const std::uint64_t limit =
        std::numeric_limits<std::uint64_t>::max() - std::numeric_limits<std::uint64_t>::max() % n;
    std::uint64_t x = next();
    while (x >= limit) {
        x = next();
    }
    return x % n;
}

std::int64_t Random::between(std::int64_t lo, std::int64_t hi) noexcept {
    const auto span = static_cast<std::uint64_t>(hi) - static_cast<std::uint64_t>(lo);
    if (span == std::numeric_limits<std::uint64_t>::max()) {
        return static_cast<std::int64_t>(next());
    }
    return static_cast<std::int64_t>(static_cast<std::uint64_t>(lo) + below(span + 1));
}

bool Random::percent(int per_cent) noexcept {
    return static_cast<std::int64_t>(below(100)) < per_cent;
}

bool Random::per_mille(int per_mille) noexcept {
    return static_cast<std::int64_t>(below(1000)) < per_mille;
}

namespace {

constexpr std::int32_t int32_max = std::numeric_limits<std::int32_t>::max();
constexpr std::int32_t int32_min = std::numeric_limits<std::int32_t>::min();

std::int32_t i32(std::int64_t v) {
    return static_cast<std::int32_t>(v);
}

// ---------------------------------------------------------------------------------------------
// Small adversarial sheets

/// Names the small sheets draw their codes from; the last one fills all 7 characters.
constexpr std::array<std::string_view, 7> small_code_names{"RIO",   "CAMINO", "LINDE",  "AB12",
                                                           "SENDA", "X",      "CURVA07"};

struct Style {
    digi::FeatureCode code{};
    std::vector<digi::AttributeRecord> attributes;
};

/// One code name of a sheet and its byte forms: the main one and forms that clean to the
/// same name but differ in their bytes (other fill, a leading space, bytes after a 0).
struct CodeForms {
    std::string name;
    digi::FeatureCode main{};
    std::vector<digi::FeatureCode> variants;
};

struct Place {
    std::int64_t i = 0;
    std::int64_t j = 0;
    bool operator==(const Place&) const = default;
};

class SmallSheetMaker {
public:
    SmallSheetMaker(std::uint64_t seed, const SmallSheetOptions& options)
        : m_random(seed), m_options(options) {}

    SmallSheet make();

private:
    void choose_ranges();
    void choose_codes();
    void choose_attribute_sets();
    Shape draw_shape();
    void add_shape(Shape shape);
    void add_chain();
    void add_junction();
    void add_ring();
    void add_closed();
    void add_loose();
    void add_degenerate();
    void add_long_chain();
    void add_text();
    void add_other_element();

    Place random_place();
    Place other_place(const Place& not_this);
    digi::Vertex vertex_at(const Place& p);
    digi::Vertex end_vertex(const Place& p);
    digi::Vertex interior_vertex();
    /// Appends `v`, now and then twice in a row (or again with another Z).
    void push_vertex(std::vector<digi::Vertex>& vertices, const digi::Vertex& v);
    std::vector<digi::Vertex> piece(const Place& from, const Place& to);
    Style shape_style();
    Style piece_style(const Style& shape);
    std::vector<digi::AttributeRecord> attribute_variant(std::vector<digi::AttributeRecord> set);
    digi::AttributeRecord random_attribute();
    void add_line(const Style& style, std::vector<digi::Vertex> vertices);

    Random m_random;
    const SmallSheetOptions& m_options;
    std::int64_t m_base_x = 0;
    std::int64_t m_base_y = 0;
    std::int64_t m_base_z = 0;
    std::vector<CodeForms> m_codes;
    std::vector<std::vector<digi::AttributeRecord>> m_attribute_sets;
    std::vector<std::vector<std::byte>> m_elements;
    SmallSheet m_sheet;
};

std::int64_t base_for(CoordinateRange range, std::int64_t extent, Random& random) {
    switch (range) {
    case CoordinateRange::small_positive:
        return random.between(0, 1000);
    case CoordinateRange::negative:
        return -random.between(1000, 100000) - extent;
    case CoordinateRange::around_zero:
        return -extent / 2 - random.between(0, 3);
    case CoordinateRange::near_max:
        return int32_max - extent - random.between(0, 2);
    case CoordinateRange::near_min:
        return int32_min + random.between(0, 2);
    case CoordinateRange::mixed:
        break;
    }
    return 0;
}

CoordinateRange draw_range(Random& random) {
    static constexpr std::array ranges{CoordinateRange::small_positive, CoordinateRange::negative,
                                       CoordinateRange::around_zero, CoordinateRange::near_max,
                                       CoordinateRange::near_min};
    // Ordinary coordinates most of the time, the limits now and then.
    const auto roll = random.below(10);
    if (roll < 3) {
        return CoordinateRange::small_positive;
    }
    return ranges[static_cast<std::size_t>(random.below(ranges.size()))];
}

/// Room that Z values of a sheet use above their base.
constexpr std::int64_t z_room = 60;

void SmallSheetMaker::choose_ranges() {
    // At least a little room above the base, for the long lines' interior vertices.
    const std::int64_t extent = std::max<std::int64_t>(
        static_cast<std::int64_t>(std::max(m_options.grid, 1) - 1) * m_options.grid_step, 10);
    const auto pick = [&] {
        return m_options.range == CoordinateRange::mixed ? draw_range(m_random) : m_options.range;
    };
    m_base_x = base_for(pick(), extent, m_random);
    m_base_y = base_for(pick(), extent, m_random);
    m_base_z = base_for(pick(), z_room, m_random);
}

void SmallSheetMaker::choose_codes() {
    std::vector<std::string_view> names(small_code_names.begin(), small_code_names.end());
    m_random.shuffle(names);
    const auto count = static_cast<std::size_t>(m_random.between(2, 4));
    for (std::size_t n = 0; n < count; ++n) {
        CodeForms forms;
        forms.name = std::string(names[n]);
        const char fill = m_random.percent(50) ? ' ' : '\0';
        forms.main = code(forms.name, fill);
        if (forms.name.size() < 7) {
            forms.variants.push_back(code(forms.name, fill == ' ' ? '\0' : ' '));
            forms.variants.push_back(code(" " + forms.name, fill));
        }
        if (forms.name.size() < 6) {
            digi::FeatureCode after_zero = code(forms.name, '\0');
            after_zero[forms.name.size() + 1] = 'Z';
            forms.variants.push_back(after_zero);
        }
        if (m_random.percent(m_options.direction_code_percent)) {
            m_sheet.direction_codes.push_back(forms.name);
        }
        m_codes.push_back(std::move(forms));
    }
    // A listed code that no line of the sheet carries changes nothing, and must not.
    if (m_random.percent(30)) {
        m_sheet.direction_codes.push_back(std::string(names[count]));
    }
    m_random.shuffle(m_sheet.direction_codes);
}

digi::AttributeRecord SmallSheetMaker::random_attribute() {
    static const std::vector<std::string_view> texts{"", "a", "ab", "abc", "NOMBRE", "x y"};
    digi::AttributeRecord a;
    a.tag = static_cast<std::int16_t>(m_random.between(-3, 40));
    a.value = m_random.percent(10) ? i32(m_random.between(int32_min, int32_max))
                                   : i32(m_random.between(-5, 500));
    const char fill = m_random.percent(50) ? ' ' : '\0';
    a.text.fill(fill);
    const auto text = m_random.pick(texts);
    std::copy(text.begin(), text.end(), a.text.begin());
    return a;
}

void SmallSheetMaker::choose_attribute_sets() {
    const auto count = m_random.between(1, 4);
    for (std::int64_t n = 0; n < count; ++n) {
        std::vector<digi::AttributeRecord> set;
        const auto records = m_random.between(0, 3);
        for (std::int64_t k = 0; k < records; ++k) {
            set.push_back(random_attribute());
        }
        m_attribute_sets.push_back(std::move(set));
    }
}

std::vector<digi::AttributeRecord>
SmallSheetMaker::attribute_variant(std::vector<digi::AttributeRecord> set) {
    if (set.empty() || m_random.percent(15)) {
        set.push_back(random_attribute());
        return set;
    }
    auto& a = set[static_cast<std::size_t>(m_random.below(set.size()))];
    switch (m_random.below(5)) {
    case 0:
        a.tag = static_cast<std::int16_t>(a.tag + 1);
        break;
    case 1:
        a.value ^= 1;
        break;
    case 2: // one character of the text, the last one, so fill differences show too
        a.text[5] = a.text[5] == ' ' ? '\0' : ' ';
        break;
    case 3:
        a.text[0] = static_cast<char>(a.text[0] == 'q' ? 'r' : 'q');
        break;
    default:
        set.pop_back();
        break;
    }
    return set;
}

Style SmallSheetMaker::shape_style() {
    Style s;
    s.code = m_random.pick(m_codes).main;
    s.attributes = m_random.pick(m_attribute_sets);
    return s;
}

Style SmallSheetMaker::piece_style(const Style& shape) {
    Style s = shape;
    if (m_random.percent(m_options.code_variant_percent)) {
        for (const auto& forms : m_codes) {
            if (forms.main == shape.code && !forms.variants.empty()) {
                s.code = m_random.pick(forms.variants);
            }
        }
    }
    if (m_random.percent(m_options.attribute_variant_percent)) {
        s.attributes = attribute_variant(s.attributes);
    }
    return s;
}

Place SmallSheetMaker::random_place() {
    const std::int64_t g = std::max(m_options.grid, 1);
    return Place{m_random.between(0, g - 1), m_random.between(0, g - 1)};
}

Place SmallSheetMaker::other_place(const Place& not_this) {
    Place p = random_place();
    for (int tries = 0; p == not_this && tries < 8; ++tries) {
        p = random_place();
    }
    return p;
}

digi::Vertex SmallSheetMaker::vertex_at(const Place& p) {
    // Every line end at a place shares one Z unless a test wants it to differ.
    const std::int64_t z = m_base_z + (p.i * 7 + p.j * 13) % (z_room - 10);
    return digi::Vertex{i32(m_base_x + p.i * m_options.grid_step),
                        i32(m_base_y + p.j * m_options.grid_step), i32(z)};
}

digi::Vertex SmallSheetMaker::end_vertex(const Place& p) {
    digi::Vertex v = vertex_at(p);
    if (m_random.percent(m_options.z_differs_percent)) {
        v.z = i32(v.z + m_random.between(1, 5));
    }
    if (m_options.near_miss_percent > 0 && m_random.percent(m_options.near_miss_percent)) {
        // One to three units along one axis, up to two across; towards zero, so that a
        // sheet at the edge of the coordinate range stays inside it.
        const auto along = m_random.between(1, 3);
        const auto across = m_random.between(0, 2);
        const bool along_x = m_random.percent(50);
        const auto toward_zero = [](std::int32_t c, std::int64_t by) {
            return i32(c > 0 ? c - by : c + by);
        };
        v.x = toward_zero(v.x, along_x ? along : across);
        v.y = toward_zero(v.y, along_x ? across : along);
    }
    return v;
}

digi::Vertex SmallSheetMaker::interior_vertex() {
    const std::int64_t extent =
        static_cast<std::int64_t>(std::max(m_options.grid, 1) - 1) * m_options.grid_step;
    return digi::Vertex{i32(m_base_x + m_random.between(0, extent)),
                        i32(m_base_y + m_random.between(0, extent)),
                        i32(m_base_z + m_random.between(0, z_room))};
}

void SmallSheetMaker::push_vertex(std::vector<digi::Vertex>& vertices, const digi::Vertex& v) {
    vertices.push_back(v);
    if (m_random.percent(m_options.repeat_vertex_percent)) {
        digi::Vertex again = v;
        if (m_random.percent(20)) {
            again.z = i32(again.z == m_base_z ? again.z + 1 : again.z - 1);
        }
        vertices.push_back(again);
    }
}

std::vector<digi::Vertex> SmallSheetMaker::piece(const Place& from, const Place& to) {
    std::vector<digi::Vertex> vertices;
    push_vertex(vertices, end_vertex(from));
    const auto interior = m_random.between(0, m_options.max_interior_vertices);
    for (std::int64_t k = 0; k < interior; ++k) {
        push_vertex(vertices, interior_vertex());
    }
    push_vertex(vertices, end_vertex(to));
    return vertices;
}

void SmallSheetMaker::add_line(const Style& style, std::vector<digi::Vertex> vertices) {
    digi::ElementBlock block;
    if (m_random.percent(m_options.garbage_block_percent)) {
        for (auto& value : block.values) {
            value = i32(m_random.between(int32_min, int32_max));
        }
    } else {
        block = extent_block(vertices);
        for (std::size_t k = 6; k < digi::block_values; ++k) {
            block.values[k] = m_random.percent(30) ? 0 : i32(m_random.between(-1000, 1000));
        }
    }
    m_elements.push_back(line_element_bytes(style.code, block, vertices, style.attributes));
    ++m_sheet.lines;
}

void SmallSheetMaker::add_chain() {
    const auto pieces = m_random.between(1, std::max(m_options.max_chain_pieces, 1));
    const Style style = shape_style();
    const bool one_direction = m_random.percent(m_options.head_to_tail_chain_percent);
    const bool all_reversed = m_random.percent(50);
    Place from = random_place();
    for (std::int64_t k = 0; k < pieces; ++k) {
        const Place to = other_place(from);
        auto vertices = piece(from, to);
        const bool reversed =
            one_direction ? all_reversed : m_random.percent(m_options.reverse_percent);
        if (reversed) {
            std::reverse(vertices.begin(), vertices.end());
        }
        add_line(piece_style(style), std::move(vertices));
        from = to;
    }
}

void SmallSheetMaker::add_junction() {
    const Style style = shape_style();
    const Place centre = random_place();
    const auto arms = m_random.between(3, 4);
    for (std::int64_t k = 0; k < arms; ++k) {
        const Place end = other_place(centre);
        auto vertices = piece(centre, end);
        if (m_random.percent(m_options.reverse_percent)) {
            std::reverse(vertices.begin(), vertices.end());
        }
        add_line(style, std::move(vertices));
        // An arm that goes on makes a joinable node right beside the junction.
        if (m_random.percent(30)) {
            add_line(style, piece(end, other_place(end)));
        }
    }
}

void SmallSheetMaker::add_ring() {
    const Style style = shape_style();
    const auto corners = m_random.between(2, 3);
    std::vector<Place> places{random_place()};
    while (static_cast<std::int64_t>(places.size()) < corners) {
        places.push_back(other_place(places.back()));
    }
    for (std::size_t k = 0; k < places.size(); ++k) {
        auto vertices = piece(places[k], places[(k + 1) % places.size()]);
        if (m_random.percent(m_options.reverse_percent)) {
            std::reverse(vertices.begin(), vertices.end());
        }
        add_line(piece_style(style), std::move(vertices));
    }
}

void SmallSheetMaker::add_closed() {
    const Place at = random_place();
    std::vector<digi::Vertex> vertices{end_vertex(at)};
    const auto interior = m_random.between(1, std::max(m_options.max_interior_vertices, 1));
    for (std::int64_t k = 0; k < interior; ++k) {
        vertices.push_back(interior_vertex());
    }
    vertices.push_back(end_vertex(at));
    add_line(shape_style(), std::move(vertices));
}

void SmallSheetMaker::add_loose() {
    const Place from = random_place();
    add_line(shape_style(), piece(from, other_place(from)));
}

void SmallSheetMaker::add_degenerate() {
    std::vector<digi::Vertex> vertices;
    if (m_random.percent(60)) {
        vertices.push_back(vertex_at(random_place()));
    }
    add_line(shape_style(), std::move(vertices));
}

void SmallSheetMaker::add_long_chain() {
    // Vertex counts around the limit: p + q - 1 is 32767 exactly (joined, unless the Z of the
    // joining point differs), one more (never joined), a second line holding one repeat (the
    // count after dropping it fits), or three lines whose second join is the one too long.
    std::vector<std::int32_t> counts;
    bool z_differs = false;
    bool repeat_in_second = false;
    switch (m_random.below(5)) {
    case 0:
        counts = {16384, 16384};
        break;
    case 1:
        counts = {16384, 16384};
        z_differs = true;
        break;
    case 2:
        counts = {16385, 16384};
        break;
    case 3:
        counts = {16384, 16385};
        repeat_in_second = true;
        break;
    default:
        counts = {12000, 11000, 11000};
        break;
    }
    const Style style = shape_style();
    Place from = random_place();
    for (std::size_t k = 0; k < counts.size(); ++k) {
        const Place to = other_place(from);
        std::vector<digi::Vertex> vertices{vertex_at(from)};
        if (k == 1 && z_differs) {
            vertices.front().z = i32(vertices.front().z + 1);
        }
        const std::int32_t interior = counts[k] - 2 - (k == 1 && repeat_in_second ? 1 : 0);
        // Interior vertices step in X every time, so none repeats its predecessor by chance,
        // and they lie between the places, so none repeats an end either.
        const digi::Vertex a = vertex_at(Place{0, 0});
        for (std::int32_t n = 0; n < interior; ++n) {
            vertices.push_back(digi::Vertex{a.x + 1 + n % 7, a.y + 1 + (n / 7) % 5, a.z + n % 3});
            if (k == 1 && repeat_in_second && n == interior / 2) {
                vertices.push_back(vertices.back());
            }
        }
        vertices.push_back(vertex_at(to));
        if (m_random.percent(m_options.reverse_percent)) {
            std::reverse(vertices.begin(), vertices.end());
        }
        add_line(style, std::move(vertices));
        from = to;
    }
    m_sheet.has_long_chain = true;
}

void SmallSheetMaker::add_text() {
    static const std::vector<std::string_view> words{"Rio", "Camino", "Grande",
                                                     "del", "NoSent", "ABCDEFGHIJKL"};
    digi::ElementHeader h;
    h.type_code = digi::text_type_code;
    h.feature_code = m_random.pick(m_codes).main;
    const auto pieces = m_random.between(0, 3);
    h.item_count = static_cast<std::int16_t>(pieces + 1);
    std::vector<digi::TextPiece> text_pieces;
    for (std::int64_t k = 0; k < pieces; ++k) {
        digi::TextPiece piece;
        piece.fill(m_random.percent(50) ? ' ' : '\0');
        const auto word = m_random.pick(words);
        std::copy(word.begin(), word.end(), piece.begin());
        text_pieces.push_back(piece);
    }
    std::vector<digi::AttributeRecord> attributes;
    const auto records = m_random.between(0, 2);
    for (std::int64_t k = 0; k < records; ++k) {
        attributes.push_back(random_attribute());
    }
    h.attribute_count = static_cast<std::uint8_t>(attributes.size());
    const digi::Vertex anchor = vertex_at(random_place());
    digi::ElementBlock block;
    for (auto& value : block.values) {
        value = i32(m_random.between(-100, 100));
    }
    digi::MemorySink sink;
    digi::write_text(sink, h, block, anchor, text_pieces, attributes);
    m_elements.push_back(sink.bytes());
    ++m_sheet.texts;
}

void SmallSheetMaker::add_other_element() {
    // Type codes that must be stepped over: "C" followed by anything but "=", and others,
    // including ones that only look like "C=" or "T=".
    static const std::vector<std::string_view> types{
        "CX", "C ", std::string_view("C\0", 2), "Cc", "P=", "T ", "t=",
        "=C", "c=", std::string_view("\0\0", 2)};
    const auto type = m_random.pick(types);
    digi::ElementHeader h;
    h.type_code = {type[0], type[1]};
    h.feature_code = m_random.pick(m_codes).main;
    const auto items = m_random.between(0, 3);
    const auto attributes = m_random.between(0, 2);
    h.item_count = static_cast<std::int16_t>(items);
    h.attribute_count = static_cast<std::uint8_t>(attributes);
    std::vector<std::byte> bytes(static_cast<std::size_t>(digi::element_length(items, attributes)));
    digi::encode_header(h, bytes.data());
    digi::ElementBlock block;
    block.values[6] = i32(m_random.between(-9, 9));
    digi::encode_block(block, bytes.data() + digi::header_bytes);
    // The items sit on places where lines end: loading them as a line would show in the output.
    std::byte* p = bytes.data() + digi::header_bytes + digi::block_bytes;
    for (std::int64_t k = 0; k < items; ++k, p += digi::item_bytes) {
        digi::encode_vertex(vertex_at(random_place()), p);
    }
    for (std::int64_t k = 0; k < attributes; ++k, p += digi::attribute_record_bytes) {
        digi::encode_attribute(random_attribute(), p);
    }
    m_elements.push_back(std::move(bytes));
    ++m_sheet.other_elements;
}

Shape SmallSheetMaker::draw_shape() {
    static const std::vector<Shape> everyday{Shape::chain,    Shape::chain,     Shape::chain,
                                             Shape::junction, Shape::ring,      Shape::closed,
                                             Shape::loose,    Shape::degenerate};
    return m_random.pick(m_options.shapes.empty() ? everyday : m_options.shapes);
}

void SmallSheetMaker::add_shape(Shape shape) {
    switch (shape) {
    case Shape::chain:
        add_chain();
        break;
    case Shape::junction:
        add_junction();
        break;
    case Shape::ring:
        add_ring();
        break;
    case Shape::closed:
        add_closed();
        break;
    case Shape::loose:
        add_loose();
        break;
    case Shape::degenerate:
        add_degenerate();
        break;
    case Shape::long_chain:
        add_long_chain();
        break;
    }
    if (m_random.percent(m_options.text_percent)) {
        add_text();
    }
    if (m_random.percent(m_options.other_element_percent)) {
        add_other_element();
    }
}

SmallSheet SmallSheetMaker::make() {
    choose_ranges();
    choose_codes();
    choose_attribute_sets();
    const auto target =
        m_random.between(std::max(m_options.min_lines, 0),
                         std::max(m_options.max_lines, std::max(m_options.min_lines, 0)));
    if (m_options.shapes.empty() && m_random.per_mille(m_options.long_chain_per_mille)) {
        add_shape(Shape::long_chain);
    }
    while (m_sheet.lines < target) {
        add_shape(draw_shape());
    }
    if (m_random.percent(m_options.shuffle_percent)) {
        m_random.shuffle(m_elements);
    }
    for (const auto& element : m_elements) {
        m_sheet.bytes.insert(m_sheet.bytes.end(), element.begin(), element.end());
    }
    return std::move(m_sheet);
}

// ---------------------------------------------------------------------------------------------
// Large realistic sheets

/// Buffers encoded elements and hands them to the sink in chunks.
class ChunkWriter {
public:
    explicit ChunkWriter(digi::ByteSink& out) : m_out(out) { m_buffer.reserve(chunk_bytes); }
    ChunkWriter(const ChunkWriter&) = delete;
    ChunkWriter& operator=(const ChunkWriter&) = delete;
    ~ChunkWriter() = default;

    /// Room for `n` more bytes at the end of the buffer.
    std::byte* append(std::size_t n) {
        if (m_buffer.size() + n > chunk_bytes && !m_buffer.empty()) {
            flush();
        }
        const std::size_t at = m_buffer.size();
        m_buffer.resize(at + n);
        m_total += static_cast<std::int64_t>(n);
        return m_buffer.data() + at;
    }
    void flush() {
        m_out.write(m_buffer);
        m_buffer.clear();
    }
    [[nodiscard]] std::int64_t total() const noexcept { return m_total; }

private:
    static constexpr std::size_t chunk_bytes = std::size_t{1} << 20;
    digi::ByteSink& m_out;
    std::vector<std::byte> m_buffer;
    std::int64_t m_total = 0;
};

struct LargeCode {
    digi::FeatureCode code{};
    bool has_direction = false;
};

const std::vector<LargeCode>& large_codes() {
    static const std::vector<LargeCode> codes{
        {code("CARRETE", ' '), false}, {code("RIO0001", ' '), true}, {code("CAMINO", ' '), false},
        {code("LINDE", '\0'), false},  {code("CURVA", ' '), false},  {code("ARROYO", '\0'), true},
        {code("SENDA", ' '), false},
    };
    return codes;
}

std::vector<std::vector<digi::AttributeRecord>> large_attribute_sets(Random& random) {
    std::vector<std::vector<digi::AttributeRecord>> sets(6);
    for (std::size_t s = 1; s < sets.size(); ++s) {
        const auto records = 1 + s % 3;
        for (std::size_t k = 0; k < records; ++k) {
            digi::AttributeRecord a;
            a.tag = static_cast<std::int16_t>(k + 1);
            a.value = i32(random.between(0, 9999));
            a.text.fill(' ');
            a.text[0] = static_cast<char>('A' + s);
            sets[s].push_back(a);
        }
    }
    return sets;
}

struct LargePiece {
    std::vector<digi::Vertex> vertices;
    std::size_t code = 0;
    std::size_t attribute_set = 0;
};

class LargeSheetWriter {
public:
    LargeSheetWriter(std::uint64_t seed, const LargeSheetOptions& options, digi::ByteSink& out)
        : m_random(seed), m_options(options), m_writer(out),
          m_attribute_sets(large_attribute_sets(m_random)) {}

    LargeSheetStats write() {
        for (std::int64_t chain = 0; m_stats.lines < m_options.lines; ++chain) {
            add_chain(chain);
        }
        m_writer.flush();
        m_stats.bytes = m_writer.total();
        return m_stats;
    }

private:
    static constexpr std::int64_t cell = 100000;
    static constexpr std::int64_t cells_per_row = 20000;

    void add_chain(std::int64_t chain) {
        // Every chain has a cell of its own, so chains meet only where they are meant to.
        const std::int64_t x0 = -1'000'000'000 + (chain % cells_per_row) * cell;
        const std::int64_t y0 = -1'000'000'000 + (chain / cells_per_row) * cell + cell / 2;
        const std::int64_t left = m_options.lines - m_stats.lines;
        const auto pieces =
            std::min(left, m_random.between(1, std::max(m_options.max_chain_pieces, 1)));
        const auto code_index = static_cast<std::size_t>(m_random.below(large_codes().size()));
        const std::size_t set = static_cast<std::size_t>(m_random.below(m_attribute_sets.size()));
        m_pieces.clear();
        digi::Vertex at{i32(x0), i32(y0), i32(m_random.between(0, 200000))};
        for (std::int64_t k = 0; k < pieces; ++k) {
            LargePiece piece;
            piece.code = code_index;
            piece.attribute_set = set;
            if (m_random.percent(m_options.attribute_variant_percent)) {
                piece.attribute_set = (set + 1) % m_attribute_sets.size();
            }
            piece.vertices.push_back(at);
            const auto interior = m_random.between(0, m_options.max_interior_vertices);
            for (std::int64_t n = 0; n <= interior; ++n) {
                at = step(at, 1, 0);
                piece.vertices.push_back(at);
            }
            if (m_random.percent(m_options.reverse_percent)) {
                std::reverse(piece.vertices.begin(), piece.vertices.end());
            }
            m_pieces.push_back(std::move(piece));
        }
        // A branch from a node inside the chain makes a junction of three.
        if (pieces >= 2 && m_stats.lines + pieces < m_options.lines &&
            m_random.percent(m_options.junction_percent)) {
            const auto& joint = m_pieces[static_cast<std::size_t>(
                m_random.below(static_cast<std::uint64_t>(pieces - 1)))];
            LargePiece branch;
            branch.code = code_index;
            branch.attribute_set = set;
            digi::Vertex b = joint.vertices.front().x > joint.vertices.back().x
                                 ? joint.vertices.front()
                                 : joint.vertices.back();
            branch.vertices.push_back(b);
            const auto interior = m_random.between(0, m_options.max_interior_vertices);
            for (std::int64_t n = 0; n <= interior; ++n) {
                b = step(b, 0, 1);
                branch.vertices.push_back(b);
            }
            m_pieces.push_back(std::move(branch));
        }
        if (m_random.percent(m_options.shuffle_chain_percent)) {
            m_random.shuffle(m_pieces);
        }
        for (const auto& piece : m_pieces) {
            write_line(piece);
            if (m_random.percent(m_options.text_percent)) {
                write_text(piece.vertices.front());
            }
        }
    }

    /// The next vertex of a walk that heads along +X (dx = 1) or +Y (dy = 1).
    digi::Vertex step(const digi::Vertex& v, int dx, int dy) {
        const auto along = m_random.between(100, 1000);
        const auto across = m_random.between(-500, 500);
        return digi::Vertex{i32(v.x + (dx != 0 ? along : across)),
                            i32(v.y + (dy != 0 ? along : across)),
                            i32(v.z + m_random.between(-300, 300))};
    }

    void write_line(const LargePiece& piece) {
        const auto& attributes = m_attribute_sets[piece.attribute_set];
        digi::ElementHeader h;
        h.type_code = digi::line_type_code;
        h.feature_code = large_codes()[piece.code].code;
        h.attribute_count = static_cast<std::uint8_t>(attributes.size());
        h.item_count = static_cast<std::int16_t>(piece.vertices.size());
        digi::ElementBlock block = extent_block(piece.vertices);
        block.values[6] = i32(piece.code);
        std::byte* p = m_writer.append(static_cast<std::size_t>(
            digi::element_length(static_cast<std::int64_t>(piece.vertices.size()),
                                 static_cast<std::int64_t>(attributes.size()))));
        digi::encode_header(h, p);
        digi::encode_block(block, p + digi::header_bytes);
        p += digi::header_bytes + digi::block_bytes;
        for (const auto& v : piece.vertices) {
            digi::encode_vertex(v, p);
            p += digi::item_bytes;
        }
        for (const auto& a : attributes) {
            digi::encode_attribute(a, p);
            p += digi::attribute_record_bytes;
        }
        ++m_stats.lines;
    }

    void write_text(const digi::Vertex& near) {
        static constexpr std::array<std::string_view, 3> pieces{"Rio", "Grande", "del Norte"};
        const auto count = static_cast<std::size_t>(m_random.between(1, 3));
        digi::ElementHeader h;
        h.type_code = digi::text_type_code;
        h.feature_code = code("ROTULO", ' ');
        h.item_count = static_cast<std::int16_t>(count + 1);
        const digi::Vertex anchor{near.x + 50, near.y + 50, near.z};
        const std::int32_t height = 1500;
        digi::ElementBlock block;
        block.values = {anchor.x, anchor.y, 0, anchor.x + 6 * height, anchor.y + height, 0,
                        height,   0,        0};
        std::byte* p = m_writer.append(static_cast<std::size_t>(
            digi::element_length(static_cast<std::int64_t>(count + 1), 0)));
        digi::encode_header(h, p);
        digi::encode_block(block, p + digi::header_bytes);
        p += digi::header_bytes + digi::block_bytes;
        digi::encode_vertex(anchor, p);
        p += digi::item_bytes;
        for (std::size_t k = 0; k < count; ++k, p += digi::item_bytes) {
            std::fill_n(p, digi::item_bytes, std::byte{' '});
            for (std::size_t c = 0; c < pieces[k].size(); ++c) {
                p[c] = static_cast<std::byte>(pieces[k][c]);
            }
        }
        ++m_stats.texts;
    }

    Random m_random;
    const LargeSheetOptions& m_options;
    ChunkWriter m_writer;
    std::vector<std::vector<digi::AttributeRecord>> m_attribute_sets;
    std::vector<LargePiece> m_pieces;
    LargeSheetStats m_stats;
};

} // namespace

SmallSheet generate_small_sheet(std::uint64_t seed, const SmallSheetOptions& options) {
    return SmallSheetMaker(seed, options).make();
}

LargeSheetStats write_large_sheet(std::uint64_t seed, const LargeSheetOptions& options,
                                  digi::ByteSink& out) {
    return LargeSheetWriter(seed, options, out).write();
}

std::vector<std::string> large_sheet_direction_codes() {
    std::vector<std::string> codes;
    for (const auto& c : large_codes()) {
        if (c.has_direction) {
            std::string name(c.code.begin(), c.code.end());
            name = name.substr(0, name.find('\0'));
            name = name.substr(0, name.find_last_not_of(' ') + 1);
            codes.push_back(name);
        }
    }
    return codes;
}

std::string codes_file_content(const std::vector<std::string>& codes) {
    std::string text;
    for (const auto& c : codes) {
        text += c + ",1\n";
    }
    return text;
}

} // namespace tarvel::testing
