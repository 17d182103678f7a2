#include "analysis/eliminamos_nodos.hpp"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

#include "tests/analysis/analysis_fixture.hpp"

namespace tarvel::analysis {
namespace {

using test::analyse;
using test::line_bytes;
using testing::attribute;
using testing::code;
using testing::DigiBuilder;
using Vertices = std::vector<digi::Vertex>;
using Points = std::vector<digi::Vertex>;

const CodesList rio_has_direction{"RIO", "OTRO"};
const CodesList rio_has_none{"CANAL"};

DigiBuilder two_lines(const Vertices& a, const Vertices& b, std::string_view code_a = "RIO",
                      std::string_view code_b = "RIO") {
    DigiBuilder builder;
    builder.line(code_a, a);
    builder.line(code_b, b);
    return builder;
}

TEST(EliminamosNodos, JoinsTwoLinesOfTheSameKindAtTheirCommonEnd) {
    const auto a = analyse(two_lines({{0, 0, 0}, {10, 0, 0}}, {{10, 0, 0}, {20, 0, 0}}));
    EXPECT_EQ(a.result.joins, 1);
    EXPECT_TRUE(a.tables.lines[0].absorbed());
    EXPECT_TRUE(a.tables.lines[1].absorbed());
    EXPECT_EQ(a.result.joined.line_count(), 3);
    EXPECT_EQ(a.nodes.end_count(1), -1);
    EXPECT_EQ(a.nodes.element_list(0)[0], 2);
    EXPECT_EQ(a.nodes.element_list(2)[0], 2);
    EXPECT_TRUE(a.result.error_points.empty());
    EXPECT_EQ(a.joined_bytes(), line_bytes("RIO", {{0, 0, 0}, {10, 0, 0}, {20, 0, 0}}));
}

TEST(EliminamosNodos, DifferentKindsAreNeitherJoinedNorErrors) {
    const Vertices a{{10, 0, 0}, {0, 0, 0}};
    const Vertices b{{10, 0, 0}, {20, 0, 0}}; // against each other: would be an error
    std::vector<DigiBuilder> inputs;
    inputs.push_back(two_lines(a, b, "RIO", "RIA"));
    inputs.push_back(two_lines(a, b, "RIO000A", "RIO000B")); // only the seventh byte differs
    DigiBuilder fill; // trailing spaces against NUL bytes: different codes
    fill.line(code("RIO", ' '), a);
    fill.line(code("RIO", '\0'), b);
    inputs.push_back(fill);
    DigiBuilder text; // one attribute text differs in one character
    text.line("RIO", a, {attribute(1, 2, "abcdef")});
    text.line("RIO", b, {attribute(1, 2, "abcdeg")});
    inputs.push_back(text);
    DigiBuilder tag;
    tag.line("RIO", a, {attribute(1, 2, "abc")});
    tag.line("RIO", b, {attribute(3, 2, "abc")});
    inputs.push_back(tag);
    DigiBuilder value;
    value.line("RIO", a, {attribute(1, 2, "abc")});
    value.line("RIO", b, {attribute(1, 4, "abc")});
    inputs.push_back(value);
    DigiBuilder count;
    count.line("RIO", a, {attribute(1, 2, "abc")});
    count.line("RIO", b, {attribute(1, 2, "abc"), attribute(1, 2, "abc")});
    inputs.push_back(count);
    for (const auto& input : inputs) {
        const auto result = analyse(input, &rio_has_direction);
        EXPECT_EQ(result.result.joins, 0);
        EXPECT_TRUE(result.result.error_points.empty());
        EXPECT_TRUE(result.joined_bytes().empty());
        EXPECT_FALSE(result.tables.lines[0].absorbed());
    }
}

TEST(EliminamosNodos, EqualAttributeRecordsAreJoined) {
    const std::vector<digi::AttributeRecord> attrs{attribute(1, 2, "ab", '\0'),
                                                   attribute(3, 4, "")};
    DigiBuilder b;
    b.line("RIO", {{0, 0, 0}, {10, 0, 0}}, attrs);
    b.line("RIO", {{10, 0, 0}, {20, 0, 0}}, attrs);
    EXPECT_EQ(analyse(b).result.joins, 1);
}

struct DirectionCase {
    const char* name;
    Vertices a;
    Vertices b;
    const CodesList* codes;
    bool joined;
    Points errors;
};

TEST(EliminamosNodos, DirectionDecidesBetweenJoinAndError) {
    const Vertices a_out{{0, 0, 0}, {10, 0, 5}};  // ends at the node
    const Vertices a_in{{10, 0, 3}, {0, 0, 0}};   // starts at the node
    const Vertices b_out{{10, 0, 4}, {20, 0, 0}}; // starts at the node
    const Vertices b_in{{20, 0, 0}, {10, 0, 6}};  // ends at the node
    const DirectionCase cases[] = {
        {"no codes file, against each other", a_in, b_out, nullptr, true, {}},
        {"code without direction", a_in, b_out, &rio_has_none, true, {}},
        {"first runs into second", a_out, b_out, &rio_has_direction, true, {}},
        {"second runs into first", a_in, b_in, &rio_has_direction, true, {}},
        {"both start at the node", a_in, b_out, &rio_has_direction, false, {{10, 0, 3}}},
        {"both end at the node", a_out, b_in, &rio_has_direction, false, {{10, 0, 5}}},
    };
    for (const DirectionCase& c : cases) {
        const auto result = analyse(two_lines(c.a, c.b), c.codes);
        EXPECT_EQ(result.result.joins, c.joined ? 1 : 0) << c.name;
        EXPECT_EQ(result.result.error_points, c.errors) << c.name;
        EXPECT_EQ(result.tables.lines[0].absorbed(), c.joined) << c.name;
    }
}

TEST(EliminamosNodos, DirectionLookedUpForEachCodeByAllItsBytes) {
    // Neighbouring nodes of twenty codes, each code met again after the next one and all of
    // them once more at the end, each pair of lines against each other; the codes differ in
    // their last bytes alone, and every other one has a direction. Each node is judged by its
    // own code, however many came before.
    CodesList with_direction;
    std::vector<std::string> codes;
    for (int c = 0; c < 20; ++c) {
        codes.push_back("RIOAA" + std::to_string(10 + c));
        if (c % 2 == 0) {
            with_direction.push_back(codes.back());
        }
    }
    std::vector<std::size_t> order{0};
    for (std::size_t c = 1; c < codes.size(); ++c) {
        order.push_back(c);
        order.push_back(c - 1);
    }
    for (std::size_t c = 0; c < codes.size(); ++c) {
        order.push_back(c);
    }
    DigiBuilder b;
    Points expected_errors;
    std::int32_t joins = 0;
    for (std::size_t k = 0; k < order.size(); ++k) {
        const auto y = static_cast<std::int32_t>(100 * k);
        b.line(codes[order[k]], {{10, y, 0}, {0, y, 0}});
        b.line(codes[order[k]], {{10, y, 1}, {20, y, 0}});
        if (order[k] % 2 == 0) {
            expected_errors.push_back({10, y, 0});
        } else {
            ++joins;
        }
    }
    const auto a = analyse(b, &with_direction);
    EXPECT_EQ(a.result.joins, joins);
    EXPECT_EQ(a.result.error_points, expected_errors);
}

TEST(EliminamosNodos, LinesAgainstEachOtherAtBothEndsGiveOneErrorPerNode) {
    // Both start at (0, 0) and both end at (10, 0): each node marks its own place.
    const auto a =
        analyse(two_lines({{0, 0, 1}, {5, 5, 0}, {10, 0, 2}}, {{0, 0, 3}, {5, -5, 0}, {10, 0, 4}}),
                &rio_has_direction);
    EXPECT_EQ(a.result.error_points, (Points{{0, 0, 1}, {10, 0, 2}}));
    EXPECT_EQ(a.result.joins, 0);
}

TEST(EliminamosNodos, LoosEndsAndJunctionsAreLeftAlone) {
    DigiBuilder b;
    b.line("RIO", {{10, 0, 0}, {0, 0, 0}});
    b.line("RIO", {{10, 0, 0}, {20, 0, 0}});
    b.line("RIO", {{10, 0, 0}, {10, 10, 0}});
    const auto a = analyse(b, &rio_has_direction);
    EXPECT_EQ(a.result.joins, 0);
    EXPECT_TRUE(a.result.error_points.empty());
}

TEST(EliminamosNodos, RingOfTwoLinesBecomesOneClosedLine) {
    DigiBuilder b;
    b.line("RIO", {{0, 0, 0}, {10, 0, 0}});
    b.line("RIO", {{10, 0, 0}, {10, 10, 0}, {0, 0, 0}});
    const auto a = analyse(b, &rio_has_direction);
    EXPECT_EQ(a.result.joins, 1);
    EXPECT_EQ(a.result.rings_passed_over, 1);
    EXPECT_TRUE(a.result.error_points.empty());
    EXPECT_EQ(a.result.joined.live_count(), 1);
    // At (0, 0) the second line runs into the first, so it comes first.
    EXPECT_EQ(a.joined_bytes(),
              line_bytes("RIO", {{10, 0, 0}, {10, 10, 0}, {0, 0, 0}, {10, 0, 0}}));
}

Vertices straight(std::int32_t from, std::int32_t count) {
    Vertices v;
    for (std::int32_t i = 0; i < count; ++i) {
        v.push_back({from + i, 0, 0});
    }
    return v;
}

TEST(EliminamosNodos, JoinThatWouldPassTheVertexLimitIsNotMade) {
    auto a = analyse(two_lines(straight(0, 20000), straight(19999, 20000)), &rio_has_direction);
    EXPECT_EQ(a.result.joins, 0);
    EXPECT_EQ(a.result.vertex_limit_nodes, 1);
    EXPECT_TRUE(a.result.error_points.empty());
    EXPECT_FALSE(a.tables.lines[0].absorbed());
    EXPECT_FALSE(a.tables.lines[1].absorbed());
    EXPECT_TRUE(a.joined_bytes().empty());

    a = analyse(two_lines(straight(0, 16384), straight(16383, 16385)));
    EXPECT_EQ(a.result.vertex_limit_nodes, 1); // 32768 vertices

    a = analyse(two_lines(straight(0, 16384), straight(16383, 16384)));
    EXPECT_EQ(a.result.joins, 1); // exactly 32767
    EXPECT_EQ(a.joined_bytes(), line_bytes("RIO", straight(0, 32767)));
}

TEST(EliminamosNodos, VertexLimitCountsVerticesAfterDroppingRepeats) {
    // 20000 + 20000 vertices, but 8000 of the second line repeat their neighbour.
    Vertices second;
    for (std::int32_t i = 0; i < 12000; ++i) {
        second.push_back({19999 + i, 0, 0});
        if (i % 3 == 1 && second.size() < 20000) {
            second.push_back(second.back());
            second.push_back(second.back());
        }
    }
    while (second.size() < 20000) {
        second.push_back(second.back());
    }
    const auto a = analyse(two_lines(straight(0, 20000), second));
    EXPECT_EQ(a.result.joins, 1);
    EXPECT_EQ(a.result.vertex_limit_nodes, 0);
    EXPECT_EQ(a.joined_bytes(), line_bytes("RIO", straight(0, 20000 + 11999)));
}

TEST(EliminamosNodos, ChainStoredAgainstItsDirectionJoinsWithoutFalseErrors) {
    // A river flowing from x = 30 to x = 0, stored from the downstream end.
    DigiBuilder b;
    b.line("RIO", {{10, 0, 0}, {0, 0, 0}});
    b.line("RIO", {{20, 0, 0}, {10, 0, 0}});
    b.line("RIO", {{30, 0, 0}, {20, 0, 0}});
    const auto a = analyse(b, &rio_has_direction);
    EXPECT_EQ(a.result.joins, 2);
    EXPECT_TRUE(a.result.error_points.empty());
    EXPECT_EQ(a.joined_bytes(), line_bytes("RIO", {{30, 0, 0}, {20, 0, 0}, {10, 0, 0}, {0, 0, 0}}));
}

TEST(EliminamosNodos, NodeTableOfOtherLinesIsRefused) {
    DigiBuilder b;
    b.line("RIO", {{0, 0, 0}, {10, 0, 0}});
    auto tables = digi::load_elements(b.bytes(), "h.bin");
    NodeTable empty;
    EXPECT_THROW((void)EliminamosNodos(tables, empty, nullptr), std::logic_error);
}

/// A chain of `pieces` two-vertex lines along X, stored and oriented as asked.
std::vector<std::byte> long_chain(std::int32_t pieces, bool stored_backwards, int orientation) {
    DigiBuilder b;
    for (std::int32_t n = 0; n < pieces; ++n) {
        const std::int32_t i = stored_backwards ? pieces - 1 - n : n;
        const bool against = orientation == 1 || (orientation == 2 && i % 2 == 1);
        const digi::Vertex from{i, 0, 0};
        const digi::Vertex to{i + 1, 0, 0};
        b.line("RIO", against ? Vertices{to, from} : Vertices{from, to});
    }
    return b.bytes();
}

TEST(EliminamosNodos, ThirtyThousandPiecesInAnyOrderBecomeOneLine) {
    constexpr std::int32_t pieces = 30000;
    for (const bool stored_backwards : {false, true}) {
        for (int orientation = 0; orientation < 3; ++orientation) {
            DigiBuilder input;
            input.raw(long_chain(pieces, stored_backwards, orientation));
            const auto a = analyse(input);
            ASSERT_EQ(a.result.joins, pieces - 1);
            ASSERT_EQ(a.result.joined.live_count(), 1);
            const auto bytes = a.joined_bytes();
            ASSERT_EQ(bytes.size(), digi::header_bytes + digi::block_bytes +
                                        digi::item_bytes * static_cast<std::size_t>(pieces + 1));
            const auto written = digi::load_elements(bytes, "sal.bin");
            const auto line = written.line(0);
            ASSERT_EQ(line.item_count(), pieces + 1);
            // A line through every point in turn, in one direction or the other.
            const std::int32_t step = line.vertex(1).x - line.vertex(0).x;
            ASSERT_TRUE(step == 1 || step == -1);
            for (std::int32_t k = 1; k <= pieces; ++k) {
                ASSERT_EQ(line.vertex(k).x - line.vertex(k - 1).x, step) << k;
            }
            // Pieces that all run one way give a line that runs that way.
            if (orientation == 0) {
                EXPECT_EQ(line.vertex(0).x, 0);
            } else if (orientation == 1) {
                EXPECT_EQ(line.vertex(0).x, pieces);
            }
        }
    }
}

} // namespace
} // namespace tarvel::analysis
