#include "analysis/line_assembly.hpp"

#include <cstring>
#include <stdexcept>
#include <string>

namespace tarvel::analysis {
namespace {

bool at_place(const digi::Vertex& v, std::int32_t x, std::int32_t y) noexcept {
    return v.x == x && v.y == y;
}

} // namespace

std::int32_t adjacent_repeats(const digi::ElementView& line) {
    // Every pair compared, without a branch per vertex: repeats are rare, and the threads
    // that build the node table ask this of every line.
    std::int32_t repeats = 0;
    const std::int32_t n = line.item_count();
    const std::byte* item = n > 0 ? line.item_data(0) : nullptr;
    for (std::int32_t i = 1; i < n; ++i, item += digi::item_bytes) {
        std::uint64_t xy0 = 0;
        std::uint64_t xy1 = 0;
        std::uint32_t z0 = 0;
        std::uint32_t z1 = 0;
        std::memcpy(&xy0, item, 8);
        std::memcpy(&z0, item + 8, 4);
        std::memcpy(&xy1, item + digi::item_bytes, 8);
        std::memcpy(&z1, item + digi::item_bytes + 8, 4);
        repeats += static_cast<std::int32_t>((xy0 == xy1) & (z0 == z1));
    }
    return repeats;
}

JoinLayout lay_out_join(const digi::ElementTables& tables, const JoinedLines& joined,
                        std::int32_t first, std::int32_t second, std::int32_t x, std::int32_t y) {
    return lay_out_join(joined, joined.outline(tables, first), joined.outline(tables, second), x,
                        y);
}

JoinLayout lay_out_join(const JoinedLines& joined, const LineOutline& first,
                        const LineOutline& second, std::int32_t x, std::int32_t y) {
    JoinLayout layout;
    layout.first = first.line;
    layout.second = second.line;
    layout.first_reversed = at_place(first.start, x, y);
    layout.second_reversed = !at_place(second.start, x, y);
    layout.whole_reversed = layout.first_reversed && layout.second_reversed;

    // The count the repeat rules give: F goes in whole; of S, a vertex is dropped exactly where
    // it repeats the vertex before it in S, or, for its first vertex, F's copy of the joining
    // point. A joined line's own repeats are those of the loaded line it starts from (its
    // origin): the second line of a join never brings any, and turning a list round keeps them.
    const digi::Vertex& joining = layout.first_reversed ? first.start : first.end;
    const digi::Vertex& second_first = layout.second_reversed ? second.end : second.start;
    layout.first_z = joining.z;
    layout.second_z = second_first.z;
    const std::int64_t repeats =
        joined.may_repeat(second.origin) ? adjacent_repeats(second.origin_view) : 0;
    layout.vertex_count = std::int64_t{first.vertex_count} + second.vertex_count - repeats -
                          (second_first == joining ? 1 : 0);
    return layout;
}

void runs_of(const digi::ElementTables& tables, const JoinedLines& joined, std::int32_t line,
             std::vector<digi::VertexRun>& out) {
    out.clear();
    const std::span<const std::byte> file = tables.bytes.span();
    joined.walk(line, [&](const Piece& piece, Repeats repeats) {
        const digi::ElementView view = tables.line(static_cast<std::size_t>(piece.line));
        // Joined lines are written about in the order of their pieces in the sheet, where the
        // processor's own fetching ahead stops at every page: the bytes a page on are asked for.
        digi::read_ahead(file, static_cast<std::size_t>(view.bytes().data() - file.data()));
        // In a line without repeats, only a run's first vertex can repeat the one placed
        // before it, which is what a run that drops none but that one does, faster.
        out.push_back(digi::VertexRun{
            view, piece.reversed, repeats == Repeats::dropped && joined.may_repeat(piece.line)});
    });
}

void assemble_vertices(const digi::ElementTables& tables, const JoinedLines& joined,
                       std::int32_t line, std::vector<digi::Vertex>& out) {
    // Kept from line to line: a sheet's lines are assembled one after another.
    thread_local std::vector<digi::VertexRun> runs;
    runs_of(tables, joined, line, runs);
    out.clear();
    digi::place_runs(runs,
                     [&](const std::byte* item) { out.push_back(digi::decode_vertex(item)); });
}

std::vector<Piece> pieces_of(const JoinedLines& joined, std::int32_t line) {
    std::vector<Piece> pieces;
    pieces_of(joined, line, pieces);
    return pieces;
}

void pieces_of(const JoinedLines& joined, std::int32_t line, std::vector<Piece>& out) {
    out.clear();
    joined.walk(line, [&](const Piece& piece, Repeats) { out.push_back(piece); });
}

digi::LineElement joined_line_element(const digi::ElementTables& tables, const JoinedLines& joined,
                                      std::int32_t line, std::vector<digi::Vertex>& vertices) {
    assemble_vertices(tables, joined, line, vertices);
    const std::int32_t expected = joined.vertex_count(tables, line);
    if (vertices.size() != static_cast<std::size_t>(expected)) {
        throw std::logic_error("a joined line built " + std::to_string(vertices.size()) +
                               " vertices of " + std::to_string(expected));
    }
    const digi::ElementView origin = tables.line(static_cast<std::size_t>(joined.origin(line)));
    // The extent of the vertices placed, as the writer takes it.
    digi::ElementBlock block = origin.block();
    digi::extent_step_over(
        [&](const auto& at) {
            for (const digi::Vertex& v : vertices) {
                at(v);
            }
        },
        block);
    return digi::LineElement{origin, block, vertices};
}

digi::LineSource joined_line_source(const digi::ElementTables& tables, const JoinedLines& joined) {
    return {
        static_cast<std::size_t>(joined.size()),
        [&tables, &joined](std::size_t from, std::size_t to, const digi::RunLineVisitor& visit) {
            std::vector<digi::VertexRun> runs;
            joined.for_each_live(from, to, [&](std::int32_t line) {
                runs_of(tables, joined, line, runs);
                const digi::ElementView origin =
                    tables.line(static_cast<std::size_t>(joined.origin(line)));
                visit(
                    digi::RunLine{origin, origin.block(), runs, joined.vertex_count(tables, line)});
            });
        }};
}

} // namespace tarvel::analysis
