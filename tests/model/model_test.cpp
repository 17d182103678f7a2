// The model is the reference the engine is checked against, so it is pinned here on small
// hand-made sheets whose results are worked out by hand from the rules.
#include "tests/model/model.hpp"

#include <gtest/gtest.h>

#include <limits>

#include "common/errors.hpp"
#include "digi/writer.hpp"
#include "tests/support/digi_builder.hpp"

namespace tarvel::model {
namespace {

using digi::ElementBlock;
using digi::Vertex;
using testing::attribute;
using testing::code;
using testing::DigiBuilder;

const std::vector<std::string> no_codes_listed;

/// The bytes of one line element as the output writer puts it.
std::vector<std::byte> line_bytes(const digi::FeatureCode& c, const ElementBlock& block,
                                  const std::vector<Vertex>& vertices,
                                  const std::vector<digi::AttributeRecord>& attributes = {}) {
    return DigiBuilder{}.line_with_block(c, block, vertices, attributes).bytes();
}

ElementBlock block(std::array<std::int32_t, 9> values) {
    return ElementBlock{values};
}

TEST(Model, TwoLinesInARowBecomeOneWithTheFirstLinesHeaderAttributesAndFurtherValues) {
    const auto attrs = std::vector{attribute(1, 5, "ab")};
    DigiBuilder b;
    b.line_with_block(code("RIO"), block({0, 0, 0, 10, 0, 0, 7, 8, 9}), {{0, 0, 0}, {10, 0, 0}},
                      attrs);
    b.text("TXT", {1, 1, 1}, {"Hola"});
    b.line_with_block(code("RIO"), block({10, 0, 0, 20, 0, 0, 1, 2, 3}), {{10, 0, 0}, {20, 0, 0}},
                      attrs);
    const Result r = run(b.bytes(), nullptr, 1000, false);
    EXPECT_EQ(r.output, line_bytes(code("RIO"), block({0, 0, 0, 20, 0, 0, 7, 8, 9}),
                                   {{0, 0, 0}, {10, 0, 0}, {20, 0, 0}}, attrs));
    EXPECT_TRUE(r.errors.empty());
    EXPECT_EQ(r.counts, (Counts{2, 1, 1, 0, 0, 0, 1}));

    // With every element: the joined line after the live loaded lines, then the texts.
    DigiBuilder loose;
    loose.line("OTRO", {{50, 50, 0}, {60, 60, 0}});
    std::vector<std::byte> input = loose.bytes();
    input.insert(input.end(), b.bytes().begin(), b.bytes().end());
    const Result all = run(input, nullptr, 1000, true);
    std::vector<std::byte> expected = loose.bytes();
    expected.insert(expected.end(), r.output.begin(), r.output.end());
    const auto text = DigiBuilder{}.text("TXT", {1, 1, 1}, {"Hola"}).bytes();
    expected.insert(expected.end(), text.begin(), text.end());
    EXPECT_EQ(all.output, expected);
}

TEST(Model, EveryOrientationRunsFromTheFirstLinesFarEndAndKeepsAHeadToTailDirection) {
    const std::vector<Vertex> a_fwd{{0, 0, 0}, {10, 0, 0}};
    const std::vector<Vertex> a_rev{{10, 0, 0}, {0, 0, 0}};
    const std::vector<Vertex> b_fwd{{10, 0, 0}, {10, 20, 0}};
    const std::vector<Vertex> b_rev{{10, 20, 0}, {10, 0, 0}};
    const std::vector<Vertex> forward{{0, 0, 0}, {10, 0, 0}, {10, 20, 0}};
    const std::vector<Vertex> backward{{10, 20, 0}, {10, 0, 0}, {0, 0, 0}};
    const ElementBlock extent = block({0, 0, 0, 10, 20, 0, 0, 0, 0});
    struct Case {
        const std::vector<Vertex>& a;
        const std::vector<Vertex>& b;
        const std::vector<Vertex>& joined;
    };
    // The last case is the second line running into the first: the result keeps that direction.
    for (const Case& c : {Case{a_fwd, b_fwd, forward}, Case{a_rev, b_fwd, forward},
                          Case{a_fwd, b_rev, forward}, Case{a_rev, b_rev, backward}}) {
        DigiBuilder b;
        b.line("RIO", c.a).line("RIO", c.b);
        EXPECT_EQ(run(b.bytes(), nullptr, 1, false).output,
                  line_bytes(code("RIO"), extent, c.joined));
    }
}

TEST(Model, RepeatsAreDroppedFromTheSecondLineOnlyAndDifferingZKeepsBothCopies) {
    DigiBuilder b;
    b.line("C", {{0, 0, 0}, {5, 0, 0}, {5, 0, 0}, {10, 0, 5}});
    b.line("C", {{10, 0, 7}, {10, 5, 1}, {10, 5, 1}, {10, 20, -4}});
    EXPECT_EQ(
        run(b.bytes(), nullptr, 1, false).output,
        line_bytes(
            code("C"), block({0, 0, -4, 10, 20, 7, 0, 0, 0}),
            {{0, 0, 0}, {5, 0, 0}, {5, 0, 0}, {10, 0, 5}, {10, 0, 7}, {10, 5, 1}, {10, 20, -4}}));
}

TEST(Model, ExtentMaximaComeFromTheDataWhenEveryCoordinateIsNegative) {
    DigiBuilder b;
    b.line("C", {{-30, -40, -9}, {-20, -10, -5}}).line("C", {{-20, -10, -5}, {-25, -50, -7}});
    EXPECT_EQ(run(b.bytes(), nullptr, 1, false).output,
              line_bytes(code("C"), block({-30, -50, -9, -20, -10, -5, 0, 0, 0}),
                         {{-30, -40, -9}, {-20, -10, -5}, {-25, -50, -7}}));
}

TEST(Model, AChainCollapsesIntoItsLastLineAndJunctionsAndLooseEndsStay) {
    DigiBuilder b;
    b.line("C", {{0, 0, 0}, {10, 0, 0}});
    b.line("C", {{10, 0, 0}, {20, 0, 0}});
    b.line("C", {{20, 0, 0}, {30, 0, 0}});
    b.line("C", {{30, 0, 0}, {30, 10, 0}}); // a junction at (30, 0) with the next line
    b.line("C", {{30, 0, 0}, {40, 0, 0}});
    const Result r = run(b.bytes(), nullptr, 1, false);
    EXPECT_EQ(r.output, line_bytes(code("C"), block({0, 0, 0, 30, 0, 0, 0, 0, 0}),
                                   {{0, 0, 0}, {10, 0, 0}, {20, 0, 0}, {30, 0, 0}}));
    EXPECT_EQ(r.counts.joins, 2);
    EXPECT_EQ(r.counts.lines_written, 1);
}

TEST(Model, CodesDifferingInFillAndAttributesDifferingInOneFieldAreNotJoined) {
    DigiBuilder b;
    b.line(code("RIO", ' '), {{0, 0, 0}, {10, 0, 0}});
    b.line(code("RIO", '\0'), {{10, 0, 0}, {20, 0, 0}});
    b.line("C", {{0, 5, 0}, {10, 5, 0}}, {attribute(1, 2, "ab")});
    b.line("C", {{10, 5, 0}, {20, 5, 0}}, {attribute(1, 2, "ab", '\0')});
    const std::vector<std::string> codes{"RIO", "C"};
    const Result r = run(b.bytes(), &codes, 1, false);
    EXPECT_TRUE(r.output.empty());
    EXPECT_TRUE(r.errors.empty());
    EXPECT_EQ(r.counts.joins, 0);
}

TEST(Model, DirectionErrorsAreMarkedAtTheirOwnNodeWithTheFirstLinesEnd) {
    // Both lines start at (0, 0) and end at (10, 0): one error at each place.
    DigiBuilder b;
    b.line(code("RIO", '\0'), {{0, 0, 1}, {5, 5, 0}, {10, 0, 2}});
    b.line(code("RIO", '\0'), {{0, 0, 3}, {5, -5, 0}, {10, 0, 4}});
    const std::vector<std::string> codes{"OTRO", "RIO"};
    const Result r = run(b.bytes(), &codes, 100, true);
    EXPECT_EQ(r.counts.error_points, 2);
    EXPECT_EQ(r.counts.joins, 0);
    EXPECT_EQ(r.output, b.bytes());

    const auto error_element = [](std::int32_t x, std::int32_t y, std::int32_t z) {
        digi::ElementHeader h;
        h.type_code = digi::text_type_code;
        h.feature_code = code("ERROR", '\0');
        h.item_count = 2;
        digi::TextPiece piece{'N', 'o', 'S', 'e', 'n', 't', '\0', ' ', ' ', ' ', ' ', ' '};
        digi::MemorySink sink;
        digi::write_text(sink, h, block({x, y, 0, x + 900, y + 150, 0, 150, 0, 0}), {x, y, z},
                         {&piece, 1}, {});
        return sink.bytes();
    };
    std::vector<std::byte> expected = error_element(0, 0, 1);
    const auto second = error_element(10, 0, 2);
    expected.insert(expected.end(), second.begin(), second.end());
    EXPECT_EQ(r.errors, expected);

    // Without a codes file, or with the code not listed, they are joined.
    EXPECT_EQ(run(b.bytes(), nullptr, 1, false).counts.joins, 1);
    EXPECT_EQ(run(b.bytes(), &no_codes_listed, 1, false).counts.joins, 1);
}

TEST(Model, ErrorMarkersScaleWithTheUnitAndStayWithinTheCoordinateRange) {
    constexpr std::int32_t top = std::numeric_limits<std::int32_t>::max();
    DigiBuilder b;
    b.line("R", {{top, top - 1, 0}, {top - 5, top, 0}});
    b.line("R", {{top, top - 1, 0}, {top - 9, top - 9, 0}});
    const std::vector<std::string> codes{"R"};
    for (const auto& [unit, h] : {std::pair{1, 2}, std::pair{100, 150}, std::pair{1000, 1500}}) {
        const Result r = run(b.bytes(), &codes, unit, false);
        ASSERT_EQ(r.errors.size(), 72u);
        const digi::ElementBlock got = digi::decode_block(r.errors.data() + 12);
        EXPECT_EQ(got, block({top, top - 1, 0, top, top, 0, h, 0, 0}));
    }
}

TEST(Model, RingsArePassedOverAfterTheirFirstJoin) {
    DigiBuilder b;
    b.line("C", {{0, 0, 0}, {5, 5, 0}, {10, 0, 0}});
    b.line("C", {{10, 0, 0}, {5, -5, 0}, {0, 0, 0}});
    const Result r = run(b.bytes(), nullptr, 1, false);
    EXPECT_EQ(r.counts.joins, 1);
    EXPECT_EQ(r.counts.rings_passed_over, 1);
    // Joined at (0, 0), where the second line runs into the first: second, then first.
    EXPECT_EQ(r.output, line_bytes(code("C"), block({0, -5, 0, 10, 5, 0, 0, 0, 0}),
                                   {{10, 0, 0}, {5, -5, 0}, {0, 0, 0}, {5, 5, 0}, {10, 0, 0}}));
}

std::vector<Vertex> long_line(Vertex from, std::int32_t count, Vertex to) {
    std::vector<Vertex> v{from};
    for (std::int32_t n = 0; n < count - 2; ++n) {
        v.push_back({1 + n % 7, 100 + n % 3, 0});
    }
    v.push_back(to);
    return v;
}

TEST(Model, AJoinPastTheVertexLimitIsNotMadeCountingAfterDroppedRepeats) {
    // 16384 + 16384 - 1 = 32767 vertices: joined.
    DigiBuilder fits;
    fits.line("C", long_line({0, 0, 0}, 16384, {50, 0, 0}));
    fits.line("C", long_line({50, 0, 0}, 16384, {90, 0, 0}));
    const Result r1 = run(fits.bytes(), nullptr, 1, false);
    EXPECT_EQ(r1.counts.joins, 1);
    EXPECT_EQ(r1.output.size(), 48u + 12u * 32767u);

    // The same with the joining point at another Z: 32768 vertices, passed over.
    DigiBuilder too_long;
    too_long.line("C", long_line({0, 0, 0}, 16384, {50, 0, 0}));
    too_long.line("C", long_line({50, 0, 1}, 16384, {90, 0, 0}));
    const Result r2 = run(too_long.bytes(), nullptr, 1, true);
    EXPECT_EQ(r2.counts.joins, 0);
    EXPECT_EQ(r2.counts.vertex_limit_nodes, 1);
    EXPECT_EQ(r2.output, too_long.bytes());

    // 16384 + 16385 vertices with a repeat in the second line: 32767 once dropped, joined.
    auto second = long_line({50, 0, 0}, 16384, {90, 0, 0});
    const Vertex repeated = second[9];
    second.insert(second.begin() + 10, repeated);
    DigiBuilder with_repeat;
    with_repeat.line("C", long_line({0, 0, 0}, 16384, {50, 0, 0})).line("C", second);
    EXPECT_EQ(run(with_repeat.bytes(), nullptr, 1, false).counts.joins, 1);
}

TEST(Model, FindingsNameTheLoadedLinesWhereTheyHappenedByElementAndByte) {
    // Each pair of lines meets in one of the ways a finding notes; a text and an element of
    // another type make element numbers differ from line numbers.
    DigiBuilder b;
    std::vector<LineRef> at; // the lines, in file order
    const auto line = [&](std::int64_t element, std::string_view c,
                          const std::vector<Vertex>& vertices) {
        at.push_back(LineRef{element, b.next_position()});
        b.line(c, vertices);
    };
    line(1, "C", {{0, 0, 0}, {10, 0, 5}}); // Z 5 meets Z 7 at (10, 0)
    b.text("T", {1, 1, 1}, {"Rio"}).element("P=", "P", 1);
    line(4, "C", {{20, 0, 0}, {10, 0, 7}}); // runs into the first: taken reversed
    line(5, "L", {{0, 2, 4}, {-30, 2, 0}}); // (0, 2) is 2 units from the loose end (0, 0)
    line(6, "D", {{100, 0, 0}, {110, 0, 0}});
    line(7, "D", {{90, 0, 0}, {100, 0, 0}}); // runs into the first: the line turned round
    line(8, "R", {{200, 0, 1}, {210, 0, 0}});
    line(9, "R", {{200, 0, 3}, {190, 0, 0}}); // both start at (200, 0): a direction error
    line(10, "G", {{300, 0, 0}, {305, 5, 0}, {310, 0, 0}});
    line(11, "G", {{310, 0, 2}, {305, -5, 0}, {300, 0, 0}}); // a ring once joined

    const std::vector<std::string> codes{"R"};
    const Result r = run(b.bytes(), &codes, 1000, false, 0.003);
    const Findings& f = r.findings;
    const auto piece = [&](std::size_t line_index, bool reversed) {
        return Piece{at[line_index], reversed};
    };
    EXPECT_EQ(f.provenance, (std::vector<std::vector<Piece>>{{piece(0, false), piece(1, true)},
                                                             {piece(4, false), piece(3, false)},
                                                             {piece(8, false), piece(7, false)}}));
    EXPECT_EQ(f.z_differences, (std::vector<ZDifference>{{10, 0, {5, 7}, {at[0], at[1]}}}));
    EXPECT_EQ(f.direction_errors, (std::vector<NodeFinding>{{{200, 0, 1}, {at[5], at[6]}}}));
    EXPECT_EQ(f.rings, (std::vector<NodeFinding>{{{310, 0, 2}, {at[8], at[7]}}}));
    EXPECT_TRUE(f.vertex_limit.empty());
    EXPECT_EQ(f.near_misses,
              (std::vector<NearMiss>{
                  {{NearPlace{{0, 0, 0}, {at[0]}}, NearPlace{{0, 2, 4}, {at[2]}}}, 2.0}}));

    // 3 mm is 3 units in millimetres, not in metres. In centimetres 0.1 m is 10 units: every
    // loose end and its neighbours 10 units away, but not (10, 0) and (0, 2), 10.2 apart, nor
    // the two ring nodes, where two line ends lie each.
    EXPECT_TRUE(run(b.bytes(), &codes, 1, false, 0.003).findings.near_misses.empty());
    EXPECT_EQ(run(b.bytes(), &codes, 100, false, 0.1).findings.near_misses.size(), 7u);
    // With every element, each live loaded line comes first as its own piece.
    const Result all = run(b.bytes(), &codes, 1000, true, 0.0);
    EXPECT_TRUE(all.findings.near_misses.empty());
    ASSERT_EQ(all.findings.provenance.size(), 6u);
    EXPECT_EQ(all.findings.provenance[0], (std::vector<Piece>{piece(2, false)}));
}

TEST(Model, ElementsOfOtherTypesAreSteppedOverAndMalformedFilesAreRejected) {
    DigiBuilder b;
    b.line("C", {{0, 0, 0}, {10, 0, 0}});
    b.element("CX", "C", 2, 1);
    b.element("P=", "C", 1);
    b.line("C", {{10, 0, 0}, {20, 0, 0}});
    b.raw({std::byte{1}});
    EXPECT_EQ(run(b.bytes(), nullptr, 1, false).counts.joins, 1);

    DigiBuilder cut;
    cut.line("C", {{0, 0, 0}, {10, 0, 0}});
    auto bytes = cut.bytes();
    bytes.pop_back();
    EXPECT_THROW((void)run(bytes, nullptr, 1, false), FormatError);
    EXPECT_THROW((void)run(DigiBuilder{}.element("T=", "T", 0).bytes(), nullptr, 1, false),
                 FormatError);
}

} // namespace
} // namespace tarvel::model
