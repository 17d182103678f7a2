#include "digi/writer.hpp"

#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <random>

#include "digi/loader.hpp"
#include "tests/support/digi_builder.hpp"
#include "tests/support/generator.hpp"

namespace tarvel::digi {
namespace {

using testing::attribute;
using testing::code;
using testing::DigiBuilder;

std::vector<std::byte> slice(const std::vector<std::byte>& all, std::int64_t position,
                             std::int64_t length) {
    const auto begin = all.begin() + (position - 1);
    return {begin, begin + length};
}

/// Absorbs the lines for which absorbed(k) holds, and returns what writing the sheet's live
/// lines gives: their bytes in table order, then with `texts` every text's.
template <typename Absorbed>
std::vector<std::byte> absorb_and_expect(ElementTables& t, Absorbed&& absorbed, bool texts) {
    std::vector<std::byte> expected;
    for (std::size_t k = 0; k < t.lines.size(); ++k) {
        if (absorbed(k)) {
            t.lines[k].set_absorbed();
        } else {
            expected.insert(expected.end(), t.line(k).bytes().begin(), t.line(k).bytes().end());
        }
    }
    for (std::size_t i = 0; texts && i < t.texts.size(); ++i) {
        expected.insert(expected.end(), t.text(i).bytes().begin(), t.text(i).bytes().end());
    }
    return expected;
}

TEST(EscribimosSalida, EveryElementComesBackByteForByteLinesFirst) {
    DigiBuilder b;
    b.text("ROTULO", {1, 2, 3}, {"Rio", "Grande", "del", "Norte"}); // four pieces
    b.line(
        code("RIO", '\0'), {{0, 0, 0}, {10, 0, 0}},
        {attribute(1, -7, "ab", '\0'), attribute(2, 9, "x y"), attribute(-3, 1 << 30, "zzzzzz")});
    b.element("CX", "OTRO", 2);
    b.line(code("CARRETE", ' '), {}, {});
    b.element("Q=", "", 0);
    b.line("UNO", {{-5, -5, -5}});
    b.text("T", {9, 9, 9}, {});
    b.line_with_block(code("RARO"), ElementBlock{{1, 2, 3, 4, 5, 6, 7, 8, 9}},
                      {{0, 0, 0}, {0, 0, 0}, {3, 3, 3}}, {attribute(0, 0, "")});
    const auto& input = b.bytes();
    const ElementTables t = load_elements(input, "a.bin");

    MemorySink out;
    EscribimosSalida(out, t, true, {});
    std::vector<std::byte> expected;
    for (const auto& r : t.lines) {
        const auto s = slice(input, r.file_position(), r.length());
        expected.insert(expected.end(), s.begin(), s.end());
    }
    for (const auto& r : t.texts) {
        const auto s = slice(input, r.file_position, r.length);
        expected.insert(expected.end(), s.begin(), s.end());
    }
    EXPECT_EQ(t.lines.size(), 4u);
    EXPECT_EQ(t.texts.size(), 2u);
    EXPECT_EQ(out.bytes(), expected);
    // Written again and reloaded, the output is a fixed point.
    const ElementTables again = load_elements(out.bytes(), "b.bin");
    MemorySink out2;
    EscribimosSalida(out2, again, true, {});
    EXPECT_EQ(out2.bytes(), out.bytes());
}

TEST(EscribimosSalida, AbsorbedLinesAreSkippedAndJoinedLinesGoBetweenLinesAndTexts) {
    DigiBuilder b;
    b.line("A", {{0, 0, 0}, {1, 0, 0}});
    b.text("T", {0, 0, 0}, {"t"});
    b.line("B", {{5, 0, 0}, {6, 0, 0}});
    ElementTables t = load_elements(b.bytes(), "a.bin");
    t.lines[0].set_absorbed();
    // A line handed over as runs: A in its order, then A reversed (its first vertex repeats the
    // last placed and is dropped) and B reversed, with A's header and attributes.
    const std::vector<VertexRun> runs{
        {t.line(0), false, false}, {t.line(0), true, true}, {t.line(1), true, true}};
    // The extent handed over is not read: the writer takes it from the vertices it places.
    const ElementBlock handed{{9, 9, 9, 9, 9, 9, 7, 8, 9}};
    const ElementBlock block{{0, 0, 0, 6, 0, 0, 7, 8, 9}};
    const LineSource joined{1, [&](std::size_t, std::size_t, const RunLineVisitor& visit) {
                                visit(RunLine{t.line(0), handed, runs, 5});
                            }};
    const std::vector<Vertex> vertices{{0, 0, 0}, {1, 0, 0}, {0, 0, 0}, {6, 0, 0}, {5, 0, 0}};
    const std::vector<std::byte> joined_bytes =
        DigiBuilder{}.line_with_block(code("A"), block, vertices, {}).bytes();
    MemorySink wrong_count;
    EXPECT_THROW(write_line(wrong_count, RunLine{t.line(0), block, runs, 4}), std::logic_error);

    MemorySink all;
    EscribimosSalida(all, t, true, joined);
    std::vector<std::byte> expected(t.line(1).bytes().begin(), t.line(1).bytes().end());
    expected.insert(expected.end(), joined_bytes.begin(), joined_bytes.end());
    expected.insert(expected.end(), t.text(0).bytes().begin(), t.text(0).bytes().end());
    EXPECT_EQ(all.bytes(), expected);

    MemorySink only_joined;
    EscribimosSalida(only_joined, t, false, joined);
    EXPECT_EQ(only_joined.bytes(), joined_bytes);

    MemorySink nothing;
    EscribimosSalida(nothing, t, false, {});
    EXPECT_TRUE(nothing.bytes().empty());
}

TEST(EscribimosSalida, SpansAndMergedCopiesGiveTheVertexRuleAndTheLinesExactly) {
    // Random sheets of short lines whose vertices repeat often, texts among them, random
    // lines absorbed and random runs: the spans placed are the rule applied vertex by vertex,
    // and the loaded lines, copied in merged pieces, come out as they were, one by one.
    std::mt19937 random(20261207);
    const auto pick = [&](int below) {
        return static_cast<int>(random() % static_cast<unsigned>(below));
    };
    for (int sheet = 0; sheet < 200; ++sheet) {
        DigiBuilder b;
        const int lines = 1 + pick(8);
        for (int i = 0; i < lines; ++i) {
            std::vector<Vertex> vertices;
            for (int v = pick(5); v > 0; --v) {
                vertices.push_back(Vertex{pick(2), pick(2), pick(2)});
            }
            b.line("L", vertices);
            if (pick(3) == 0) {
                b.text("T", {0, 0, 0}, {"t"});
            }
        }
        ElementTables t = load_elements(b.bytes(), "a.bin");
        std::vector<VertexRun> runs;
        for (int r = pick(6); r > 0; --r) {
            runs.push_back(VertexRun{t.line(static_cast<std::size_t>(pick(lines))), pick(2) == 0,
                                     pick(2) == 0});
        }
        std::vector<std::byte> by_vertex;
        const std::byte* last = nullptr;
        for (const VertexRun& run : runs) {
            const std::int32_t n = run.line.item_count();
            for (std::int32_t step = 0; step < n; ++step) {
                const std::byte* item = run.line.item_data(run.reversed ? n - 1 - step : step);
                if ((run.drop_every_repeat || step == 0) && last != nullptr &&
                    std::memcmp(last, item, item_bytes) == 0) {
                    continue;
                }
                by_vertex.insert(by_vertex.end(), item, item + item_bytes);
                last = item;
            }
        }
        std::vector<std::byte> by_span;
        place_run_spans(runs, [&](const std::byte* items, std::int32_t count) {
            by_span.insert(by_span.end(), items,
                           items + item_bytes * static_cast<std::size_t>(count));
        });
        ASSERT_EQ(by_span, by_vertex) << "sheet " << sheet;

        // Written as a line, it holds those vertices and their extent, worked out here the
        // long way; the further values are the ones handed over.
        const ElementBlock handed{{pick(9), pick(9), pick(9), pick(9), pick(9), pick(9), 7, 8, 9}};
        std::vector<Vertex> placed;
        for (std::size_t at = 0; at < by_vertex.size(); at += item_bytes) {
            placed.push_back(decode_vertex(by_vertex.data() + at));
        }
        const ElementBlock extent =
            placed.empty() ? handed : testing::extent_block(placed, {7, 8, 9});
        MemorySink line_out;
        write_line(line_out,
                   RunLine{t.line(0), handed, runs, static_cast<std::int32_t>(placed.size())});
        ASSERT_EQ(line_out.bytes(),
                  DigiBuilder{}.line_with_block(code("L"), extent, placed).bytes())
            << "sheet " << sheet;

        const std::vector<std::byte> expected = absorb_and_expect(
            t, [&](std::size_t) { return pick(3) == 0; }, true);
        MemorySink out;
        EscribimosSalida(out, t, true, {});
        ASSERT_EQ(out.bytes(), expected) << "sheet " << sheet;
        // The same when the first lines went out before, in pieces taken in place.
        const auto before = static_cast<std::size_t>(pick(static_cast<int>(t.lines.size()) + 1));
        MemorySink in_turn;
        LoadedLinesWriter first_lines(in_turn, t, true);
        for (std::size_t k = 0; k < before; ++k) {
            first_lines.add(k);
        }
        first_lines.flush();
        EscribimosSalida(in_turn, t, true, {}, before);
        ASSERT_EQ(in_turn.bytes(), expected) << "sheet " << sheet << ", " << before << " before";
    }
}

// A source large enough to be made on two threads comes out in order, exactly as its lines
// written one by one: shares of short lines, shares whose lines outgrow what one holds, and
// places with no line. A line that cannot be written stops the writing with its own error,
// whichever thread made it.
TEST(EscribimosSalida, LinesMadeOnTwoThreadsComeOutAsWrittenOneByOne) {
    DigiBuilder b;
    for (std::int32_t k = 0; k < 8; ++k) {
        b.line(code("L" + std::to_string(k)), {{k, 0, 0}, {k, 1, -k}, {k + 1, 2, k}},
               {attribute(static_cast<std::int16_t>(k), k, "a")});
    }
    std::vector<Vertex> longest;
    for (std::int32_t i = 0; i < max_item_count; ++i) {
        longest.push_back({i, -i, i % 7});
    }
    b.line("LARGO", longest);
    const ElementTables t = load_elements(b.bytes(), "a.bin");
    constexpr std::size_t places = 100'000;
    // Eleven longest lines are more than a share's buffer holds: shares 1 and 17 are made on
    // the second thread, share 2 on the first.
    const auto line_at = [](std::size_t place) -> int {
        for (const std::size_t from : {5'000, 8'200, 70'000}) {
            if (place >= from && place < from + 11) {
                return 8;
            }
        }
        return place % 7 == 0 ? -1 : static_cast<int>(place % 8);
    };
    const struct {
        const char* name;
        std::size_t bad_place; // a line whose runs place one vertex fewer than it says
    } cases[] = {
        {"all lines good", places},
        {"bad line on the first thread", 300},
        {"bad line on the second thread", 4'096 + 301},
        {"bad line in the last share", places - 1},
    };
    for (const auto& c : cases) {
        const LineSource source{
            places, [&](std::size_t from, std::size_t to, const RunLineVisitor& visit) {
                for (std::size_t place = from; place < to; ++place) {
                    const int k = line_at(place);
                    if (k < 0) {
                        continue;
                    }
                    const ElementView line = t.line(static_cast<std::size_t>(k));
                    const std::array<VertexRun, 1> runs{VertexRun{line, place % 2 == 1, false}};
                    visit(RunLine{line, line.block(), runs,
                                  line.item_count() + (place == c.bad_place ? 1 : 0)});
                }
            }};
        MemorySink out;
        if (c.bad_place < places) {
            EXPECT_THROW(EscribimosSalida(out, t, false, source), std::logic_error) << c.name;
            continue;
        }
        MemorySink one_by_one;
        source([&](const RunLine& line) { write_line(one_by_one, line); });
        EscribimosSalida(out, t, false, source);
        ASSERT_GT(one_by_one.bytes().size(), std::size_t{3} * 11 * max_item_count * item_bytes);
        EXPECT_TRUE(out.bytes() == one_by_one.bytes()) << c.name;
    }
}

// A sheet as large as a mapped one has its live loaded lines and texts fetched ahead and
// handed over in place, in stretches: every other line absorbed (small pieces, copied
// together), none absorbed (pieces too large to copy, with or without texts between them) and
// a third absorbed at random. Every element still comes out as it was read, lines first.
TEST(EscribimosSalida, ALargeSheetsLinesAndTextsGoInPlaceAsTheyWereRead) {
    for (const int text_percent : {3, 0}) {
        MemorySink sheet;
        testing::LargeSheetOptions options;
        options.lines = 130'000;
        options.text_percent = text_percent;
        (void)testing::write_large_sheet(11, options, sheet);
        ElementTables t = load_elements(sheet.bytes(), "a.bin");
        ASSERT_GE(t.bytes.size(), static_cast<std::size_t>(map_from_bytes));
        std::mt19937 random(static_cast<unsigned>(text_percent));
        const std::vector<std::byte> expected = absorb_and_expect(
            t,
            [&](std::size_t k) {
                const std::size_t stretch = k / 2'000 % 3;
                return (stretch == 0 && k % 2 == 1) || (stretch == 2 && random() % 3 == 0);
            },
            true);
        MemorySink out;
        EscribimosSalida(out, t, true, {});
        EXPECT_TRUE(out.bytes() == expected) << text_percent << "% texts";
    }
}

TEST(EscribimosSalida, EncodersWriteLittleEndianFieldsInOrder) {
    ElementHeader h{line_type_code, code("AB", '\0'), 1, 1};
    MemorySink out;
    const Vertex v{0x01020304, -2, 7};
    const AttributeRecord a = attribute(0x0102, -1, "abcdef");
    write_line(out, h, ElementBlock{{-1, 0, 0, 0, 0, 0, 0, 0, 0x7FFFFFFF}}, std::span(&v, 1),
               std::span(&a, 1));
    const auto& o = out.bytes();
    ASSERT_EQ(o.size(), 72u);
    EXPECT_EQ(o[0], std::byte{'C'});
    EXPECT_EQ(o[2], std::byte{'A'});
    EXPECT_EQ(o[4], std::byte{0});
    EXPECT_EQ(o[9], std::byte{1});
    EXPECT_EQ(o[10], std::byte{1});
    EXPECT_EQ(o[11], std::byte{0});
    EXPECT_EQ(o[12], std::byte{0xFF});
    EXPECT_EQ(o[47], std::byte{0x7F});
    EXPECT_EQ(o[48], std::byte{0x04});
    EXPECT_EQ(o[51], std::byte{0x01});
    EXPECT_EQ(o[60], std::byte{0x02});
    EXPECT_EQ(o[61], std::byte{0x01});
    EXPECT_EQ(o[62], std::byte{0xFF});
    EXPECT_EQ(o[66], std::byte{'a'});
    EXPECT_EQ(o[71], std::byte{'f'});
    EXPECT_THROW(write_line(out, ElementHeader{line_type_code, {}, 0, 2}, {}, std::span(&v, 1), {}),
                 std::logic_error);
}

} // namespace
} // namespace tarvel::digi
