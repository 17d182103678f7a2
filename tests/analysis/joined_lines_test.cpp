#include "analysis/joined_lines.hpp"

#include "analysis/line_assembly.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <numeric>
#include <random>

#include "tests/analysis/analysis_fixture.hpp"

namespace tarvel::analysis {
namespace {

using test::analyse;
using test::line_bytes;
using testing::attribute;
using testing::code;
using testing::DigiBuilder;
using Vertices = std::vector<digi::Vertex>;

Vertices reversed(Vertices v) {
    std::reverse(v.begin(), v.end());
    return v;
}

/// Joins two lines at the node between them and gives the one joined line written.
std::vector<std::byte> joined_of(const Vertices& first, const Vertices& second) {
    DigiBuilder b;
    b.line("RIO", first);
    b.line("RIO", second);
    const auto a = analyse(b);
    EXPECT_EQ(a.result.joins, 1);
    return a.joined_bytes();
}

/// The four ways a line ending at the node and one starting there can be stored; each gives
/// a line that runs from the far end of the first through the node to the far end of the
/// second, except that a second line running into the first comes first.
void expect_four_ways(const Vertices& ends_at_node, const Vertices& starts_at_node,
                      const Vertices& through) {
    // first line in its order, then the second in its order
    EXPECT_EQ(joined_of(ends_at_node, starts_at_node), line_bytes("RIO", through));
    // first line reversed, then the second in its order
    EXPECT_EQ(joined_of(reversed(ends_at_node), starts_at_node), line_bytes("RIO", through));
    // first line in its order, then the second reversed
    EXPECT_EQ(joined_of(ends_at_node, reversed(starts_at_node)), line_bytes("RIO", through));
    // the second runs into the first: it comes first and the joined line keeps its direction
    EXPECT_EQ(joined_of(reversed(ends_at_node), reversed(starts_at_node)),
              line_bytes("RIO", reversed(through)));
}

TEST(JoinedLine, FourWaysOfMeetingGiveOneRunThroughTheJoiningPoint) {
    expect_four_ways({{0, 0, 0}, {10, 0, 0}}, {{10, 0, 0}, {10, 20, 0}},
                     {{0, 0, 0}, {10, 0, 0}, {10, 20, 0}});
}

TEST(JoinedLine, JoiningPointWithTwoZValuesIsPlacedTwiceInRunningOrder) {
    expect_four_ways({{0, 0, 0}, {10, 0, 5}}, {{10, 0, 7}, {10, 20, 0}},
                     {{0, 0, 0}, {10, 0, 5}, {10, 0, 7}, {10, 20, 0}});
}

TEST(JoinedLine, RepeatsOfTheSecondLineAreDroppedThoseOfTheFirstKept) {
    const Vertices first{{0, 0, 0}, {3, 3, 3}, {3, 3, 3}, {10, 0, 0}};
    const Vertices second{{10, 0, 0}, {10, 0, 0}, {12, 2, 2}, {12, 2, 2}, {12, 2, 3}, {10, 20, 0}};
    EXPECT_EQ(
        joined_of(first, second),
        line_bytes(
            "RIO",
            {{0, 0, 0}, {3, 3, 3}, {3, 3, 3}, {10, 0, 0}, {12, 2, 2}, {12, 2, 3}, {10, 20, 0}}));
    // Turned round (the second runs into the first), the same vertices are dropped.
    EXPECT_EQ(
        joined_of(reversed(first), reversed(second)),
        line_bytes(
            "RIO",
            {{10, 20, 0}, {12, 2, 3}, {12, 2, 2}, {10, 0, 0}, {3, 3, 3}, {3, 3, 3}, {0, 0, 0}}));
}

TEST(JoinedLine, ExtentIsTakenOverEveryVertexOfBothLines) {
    // Both copies of the joining point count: Z spans 5 to 7.
    auto bytes = joined_of({{0, 0, 5}, {10, 0, 5}}, {{10, 0, 7}, {10, 20, 7}});
    EXPECT_EQ(digi::decode_block(bytes.data() + digi::header_bytes),
              (digi::ElementBlock{{0, 0, 5, 10, 20, 7, 0, 0, 0}}));
    // All coordinates negative: the maxima come from the data too.
    bytes = joined_of({{-30, -5, -2}, {-10, -1, -1}}, {{-10, -1, -1}, {-20, -8, -3}});
    EXPECT_EQ(digi::decode_block(bytes.data() + digi::header_bytes),
              (digi::ElementBlock{{-30, -8, -3, -10, -1, -1, 0, 0, 0}}));
    // Positive, with the line order swapped: the same extent.
    const auto one = joined_of({{4, 9, 2}, {6, 7, 8}}, {{6, 7, 8}, {5, 12, 1}});
    const auto other = joined_of({{6, 7, 8}, {5, 12, 1}}, {{4, 9, 2}, {6, 7, 8}});
    EXPECT_EQ(digi::decode_block(one.data() + digi::header_bytes),
              (digi::ElementBlock{{4, 7, 1, 6, 12, 8, 0, 0, 0}}));
    EXPECT_EQ(digi::decode_block(other.data() + digi::header_bytes),
              digi::decode_block(one.data() + digi::header_bytes));
}

TEST(JoinedLine, CarriesTheFirstLinesHeaderFurtherValuesAndAttributes) {
    const auto fc = code("RIO", '\0');
    const std::vector<digi::AttributeRecord> attrs{attribute(1, -7, "ab", '\0'),
                                                   attribute(-2, 1 << 30, "x y")};
    const Vertices a{{0, 0, 0}, {10, 0, 0}};
    const Vertices b{{10, 0, 0}, {20, 0, 0}};
    DigiBuilder in;
    // The stored extents are wrong on purpose: the joined line's comes from the vertices.
    in.line_with_block(fc, digi::ElementBlock{{9, 9, 9, 9, 9, 9, 11, 12, 13}}, a, attrs);
    in.line_with_block(fc, digi::ElementBlock{{1, 1, 1, 1, 1, 1, 21, 22, 23}}, b, attrs);
    const auto result = analyse(in);
    EXPECT_EQ(result.joined_bytes(),
              line_bytes(fc, {{0, 0, 0}, {10, 0, 0}, {20, 0, 0}}, attrs, {11, 12, 13}));
}

TEST(JoinedLine, ChainOfThreeLeavesOnlyTheLastJoinLive) {
    DigiBuilder b;
    b.line("RIO", {{0, 0, 0}, {10, 0, 0}});
    b.line("RIO", {{10, 0, 0}, {20, 0, 0}});
    b.line("RIO", {{20, 0, 0}, {30, 0, 0}});
    const auto a = analyse(b);
    EXPECT_EQ(a.result.joins, 2);
    EXPECT_EQ(a.result.joined.size(), 2);
    EXPECT_EQ(a.result.joined.live_count(), 1);
    EXPECT_TRUE(a.result.joined.absorbed(3));
    EXPECT_FALSE(a.result.joined.absorbed(4));
    for (const auto& line : a.tables.lines) {
        EXPECT_TRUE(line.absorbed());
    }
    EXPECT_EQ(a.joined_bytes(), line_bytes("RIO", {{0, 0, 0}, {10, 0, 0}, {20, 0, 0}, {30, 0, 0}}));
    // The loose ends now name the last line.
    EXPECT_EQ(a.nodes.element_list(0)[0], 4);
    EXPECT_EQ(a.nodes.element_list(3)[0], 4);
}

// The window, the report and the export take a joined line as an element; its block must be
// the one the writer writes: the extent of its vertices, the origin's further values.
TEST(ExtentStep, AJoinedLineAsAnElementHasTheBlockTheWriterWrites) {
    DigiBuilder b;
    b.line_with_block(code("A"), digi::ElementBlock{{9, 9, 9, 9, 9, 9, 7, 8, 9}},
                      {{5, -3, 2}, {-1, 4, 2}});
    b.line_with_block(code("A"), digi::ElementBlock{{0, 0, 0, 0, 0, 0, 1, 1, 1}},
                      {{3, 3, -8}, {5, -3, 2}});
    const auto a = analyse(b);
    ASSERT_EQ(a.result.joined.live_count(), 1);
    std::vector<digi::Vertex> vertices;
    const digi::LineElement element = joined_line_element(a.tables, a.result.joined, 2, vertices);
    EXPECT_EQ(element.block, (digi::ElementBlock{{-1, -3, -8, 5, 4, 2, 7, 8, 9}}));
    const std::vector<std::byte> written = a.joined_bytes();
    ASSERT_GE(written.size(), digi::header_bytes + digi::block_bytes);
    EXPECT_EQ(digi::decode_block(written.data() + digi::header_bytes), element.block);
}

// ---- Building vertex lists on demand against copying them at every join ----

/// A join as the copying way makes it: the first line oriented to end at the joining point,
/// placed whole; the second oriented to start there, each vertex dropped that repeats the one
/// placed last; turned round when the first touches with its vertex 1 and the second with
/// its last vertex.
Vertices copied_join(const Vertices& first, const Vertices& second, std::int32_t x,
                     std::int32_t y) {
    const auto at = [&](const digi::Vertex& v) { return v.x == x && v.y == y; };
    const bool first_reversed = at(first.front());
    const bool second_reversed = !at(second.front());
    Vertices out = first_reversed ? reversed(first) : first;
    for (const auto& v : second_reversed ? reversed(second) : second) {
        if (!(v == out.back())) {
            out.push_back(v);
        }
    }
    return first_reversed && second_reversed ? reversed(out) : out;
}

/// The pieces of a join as the copying way makes them: each line's pieces in the order its
/// vertices are placed, each piece flipped with its line, the whole turned round with the list.
std::vector<Piece> copied_pieces(const std::vector<Piece>& first, const std::vector<Piece>& second,
                                 bool first_reversed, bool second_reversed) {
    const auto oriented = [](std::vector<Piece> pieces, bool flip) {
        if (flip) {
            std::reverse(pieces.begin(), pieces.end());
            for (Piece& piece : pieces) {
                piece.reversed = !piece.reversed;
            }
        }
        return pieces;
    };
    std::vector<Piece> out = oriented(first, first_reversed);
    const std::vector<Piece> rest = oriented(second, second_reversed);
    out.insert(out.end(), rest.begin(), rest.end());
    return oriented(out, first_reversed && second_reversed);
}

/// A piece of a chain from (from, 0) to (from + 1, 0), with interior vertices and repeats
/// drawn from a handful of values so that equal neighbours are common.
Vertices random_piece(std::mt19937& rng, std::int32_t from) {
    std::uniform_int_distribution<int> coin(0, 1);
    std::uniform_int_distribution<int> interior(0, 4);
    std::uniform_int_distribution<int> value(0, 2);
    Vertices v{{from, 0, coin(rng)}};
    const int n = interior(rng);
    for (int i = 0; i < n; ++i) {
        if (coin(rng) != 0) {
            v.push_back(v.back()); // a repeat
        } else {
            v.push_back({from + value(rng) / 2, value(rng) - 1, value(rng)});
        }
    }
    v.push_back({from + 1, 0, coin(rng)});
    if (coin(rng) != 0 && coin(rng) != 0) {
        v.push_back(v.back());
    }
    return coin(rng) != 0 ? reversed(v) : v;
}

TEST(JoinedLines, ListsAndPiecesBuiltOnDemandEqualThoseCopiedAtEveryJoin) {
    std::mt19937 rng(4242);
    for (int round = 0; round < 400; ++round) {
        const int pieces = 2 + round % 14;
        std::vector<Vertices> copied;
        std::vector<std::vector<Piece>> copied_piece_lists;
        std::vector<std::int32_t> origin;
        DigiBuilder b;
        for (int j = 0; j < pieces; ++j) {
            copied.push_back(random_piece(rng, j));
            copied_piece_lists.push_back({Piece{j, false}});
            origin.push_back(j);
            b.line_with_block(code("P" + std::to_string(j)),
                              digi::ElementBlock{{0, 0, 0, 0, 0, 0, j, 2 * j, 3 * j}},
                              copied.back(), {attribute(static_cast<std::int16_t>(j), j, "t")});
        }
        const auto tables = digi::load_elements(b.bytes(), "r.bin");
        JoinedLines joined(pieces);
        std::vector<std::int32_t> owner(static_cast<std::size_t>(pieces)); // line holding piece j
        std::iota(owner.begin(), owner.end(), 0);
        std::vector<std::int32_t> order(static_cast<std::size_t>(pieces - 1)); // node j+1
        std::iota(order.begin(), order.end(), 1);
        std::shuffle(order.begin(), order.end(), rng);

        for (const std::int32_t node : order) {
            std::int32_t first = owner[static_cast<std::size_t>(node - 1)];
            std::int32_t second = owner[static_cast<std::size_t>(node)];
            if (rng() % 2 != 0) {
                std::swap(first, second);
            }
            const auto expected = copied_join(copied[static_cast<std::size_t>(first)],
                                              copied[static_cast<std::size_t>(second)], node, 0);
            const JoinLayout plan = lay_out_join(tables, joined, first, second, node, 0);
            ASSERT_EQ(plan.vertex_count, static_cast<std::int64_t>(expected.size()));
            for (const std::int32_t part : {first, second}) {
                if (joined.is_joined(part)) {
                    joined.absorb(part);
                }
            }
            const std::int32_t made = joined.add(plan);
            copied.push_back(expected);
            copied_piece_lists.push_back(
                copied_pieces(copied_piece_lists[static_cast<std::size_t>(first)],
                              copied_piece_lists[static_cast<std::size_t>(second)],
                              plan.first_reversed, plan.second_reversed));
            origin.push_back(origin[static_cast<std::size_t>(first)]);
            for (auto& o : owner) {
                o = (o == first || o == second) ? made : o;
            }
            Vertices built;
            assemble_vertices(tables, joined, made, built);
            ASSERT_EQ(built, expected) << "round " << round;
            ASSERT_EQ(pieces_of(joined, made), copied_piece_lists.back()) << "round " << round;
            ASSERT_EQ(joined.start_vertex(tables, made), expected.front());
            ASSERT_EQ(joined.end_vertex(tables, made), expected.back());
            ASSERT_EQ(joined.vertex_count(tables, made),
                      static_cast<std::int32_t>(expected.size()));
        }
        ASSERT_EQ(joined.live_count(), 1);
        const auto last = static_cast<std::size_t>(joined.line_count() - 1);
        const auto j = origin[last];
        digi::MemorySink written;
        digi::EscribimosSalida(written, tables, false, joined_line_source(tables, joined));
        ASSERT_EQ(written.bytes(),
                  line_bytes(code("P" + std::to_string(j)), copied[last],
                             {attribute(static_cast<std::int16_t>(j), j, "t")}, {j, 2 * j, 3 * j}));
    }
}

} // namespace
} // namespace tarvel::analysis
