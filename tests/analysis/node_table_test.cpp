#include "analysis/node_table.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include "digi/loader.hpp"
#include "tests/support/digi_builder.hpp"
#include "tests/support/generator.hpp"

namespace tarvel::analysis {
namespace {

using testing::DigiBuilder;
using List = std::vector<std::int32_t>;

struct ExpectedNode {
    std::int32_t x;
    std::int32_t y;
    List lines;
};

digi::ElementTables load(const DigiBuilder& b) {
    return digi::load_elements(b.bytes(), "h.bin");
}

List list_of(const NodeTable& nodes, std::int32_t node) {
    const auto l = nodes.element_list(node);
    return {l.begin(), l.end()};
}

void expect_nodes(const NodeTable& nodes, const std::vector<ExpectedNode>& expected) {
    ASSERT_EQ(nodes.node_count(), static_cast<std::int32_t>(expected.size()));
    for (std::int32_t i = 0; i < nodes.node_count(); ++i) {
        const ExpectedNode& e = expected[static_cast<std::size_t>(i)];
        EXPECT_EQ(nodes.x(i), e.x) << "node " << i;
        EXPECT_EQ(nodes.y(i), e.y) << "node " << i;
        EXPECT_EQ(list_of(nodes, i), e.lines) << "node " << i;
        EXPECT_EQ(nodes.end_count(i), static_cast<std::int32_t>(e.lines.size())) << "node " << i;
    }
}

TEST(CreamosNodos, NumbersNodesInOrderOfFirstAppearance) {
    DigiBuilder b;
    b.line("A", {{0, 0, 0}, {5, 5, 5}, {10, 0, 0}});
    b.line("B", {{10, 0, 0}, {20, 0, 0}});
    expect_nodes(CreamosNodos(load(b)), {{0, 0, {0}}, {10, 0, {0, 1}}, {20, 0, {1}}});
}

TEST(CreamosNodos, OppositeStorageOrderGivesOtherNumbers) {
    DigiBuilder b;
    b.line("B", {{10, 0, 0}, {20, 0, 0}});
    b.line("A", {{0, 0, 0}, {10, 0, 0}});
    expect_nodes(CreamosNodos(load(b)), {{10, 0, {0, 1}}, {20, 0, {0}}, {0, 0, {1}}});
}

TEST(CreamosNodos, ZPlaysNoPartAndOneUnitMakesAnotherNode) {
    DigiBuilder b;
    b.line("A", {{0, 0, 1}, {10, 0, 5}});
    b.line("B", {{10, 0, 7}, {20, 0, 0}});
    b.line("C", {{10, 1, 5}, {30, 0, 0}});
    expect_nodes(CreamosNodos(load(b)),
                 {{0, 0, {0}}, {10, 0, {0, 1}}, {20, 0, {1}}, {10, 1, {2}}, {30, 0, {2}}});
}

TEST(CreamosNodos, ClosedAndShortLinesGetNoNode) {
    DigiBuilder b;
    b.line("CERRADA", {{0, 0, 1}, {5, 5, 0}, {0, 0, 9}}); // ends differ only in Z
    b.line("UNO", {{1, 1, 1}});
    b.line("NADA", {});
    b.line("A", {{3, 3, 0}, {4, 4, 0}});
    const NodeTable nodes = CreamosNodos(load(b));
    expect_nodes(nodes, {{3, 3, {3}}, {4, 4, {3}}});
    for (std::int32_t line = 0; line < 3; ++line) {
        EXPECT_EQ(nodes.nodes_of(line),
                  (NodeTable::LineNodes{NodeTable::no_node, NodeTable::no_node}));
    }
    EXPECT_EQ(nodes.nodes_of(3), (NodeTable::LineNodes{0, 1}));
    EXPECT_EQ(nodes.line_count(), 4);
}

TEST(CreamosNodos, InteriorVertexIsNoNode) {
    DigiBuilder b;
    b.line("A", {{0, 0, 0}, {10, 0, 0}, {20, 0, 0}});
    b.line("B", {{10, 0, 0}, {10, 10, 0}});
    expect_nodes(CreamosNodos(load(b)), {{0, 0, {0}}, {20, 0, {0}}, {10, 0, {1}}, {10, 10, {1}}});
}

TEST(CreamosNodos, JunctionOfThreeListsAllThree) {
    DigiBuilder b;
    b.line("A", {{0, 0, 0}, {10, 0, 0}});
    b.line("B", {{10, 0, 0}, {20, 0, 0}});
    b.line("C", {{10, 10, 0}, {10, 0, 0}});
    const NodeTable nodes = CreamosNodos(load(b));
    EXPECT_EQ(nodes.end_count(1), 3);
    EXPECT_EQ(list_of(nodes, 1), (List{0, 1, 2}));
}

TEST(CreamosNodos, NoLinesNoNodes) {
    DigiBuilder b;
    b.text("T", {1, 1, 1}, {"x"});
    const NodeTable nodes = CreamosNodos(load(b));
    EXPECT_EQ(nodes.node_count(), 0);
    EXPECT_EQ(nodes.line_count(), 0);
}

/// The node table as the literal scan builds it: every end point searched among the nodes
/// made so far, from the first one.
struct ModelNodes {
    struct Node {
        std::int32_t x;
        std::int32_t y;
        std::int32_t end_count;
        List lines;
    };
    std::vector<Node> nodes;
    List lines_with_repeats; ///< lines with a vertex equal (X, Y, Z) to the one before it

    explicit ModelNodes(const digi::ElementTables& tables) {
        for (std::size_t k = 0; k < tables.lines.size(); ++k) {
            const auto line = tables.line(k);
            const std::int32_t n = line.item_count();
            for (std::int32_t i = 1; i < n; ++i) {
                if (line.vertex(i) == line.vertex(i - 1)) {
                    lines_with_repeats.push_back(static_cast<std::int32_t>(k));
                    break;
                }
            }
            if (n < 2) {
                continue;
            }
            const auto first = line.vertex(0);
            const auto last = line.vertex(n - 1);
            if (first.x == last.x && first.y == last.y) {
                continue;
            }
            add(first, static_cast<std::int32_t>(k));
            add(last, static_cast<std::int32_t>(k));
        }
    }
    void add(const digi::Vertex& p, std::int32_t k) {
        for (Node& node : nodes) {
            if (node.x == p.x && node.y == p.y) {
                ++node.end_count;
                node.lines.push_back(k);
                return;
            }
        }
        nodes.push_back({p.x, p.y, 1, {k}});
    }
    void rename(std::int32_t a, std::int32_t b, std::int32_t nuevo) {
        for (Node& node : nodes) {
            if (node.end_count <= 0) {
                continue;
            }
            for (std::int32_t& e : node.lines) {
                if (e == a || e == b) {
                    e = nuevo;
                }
            }
        }
    }
};

void expect_same(const NodeTable& nodes, const ModelNodes& model) {
    ASSERT_EQ(nodes.node_count(), static_cast<std::int32_t>(model.nodes.size()));
    for (std::int32_t i = 0; i < nodes.node_count(); ++i) {
        const auto& m = model.nodes[static_cast<std::size_t>(i)];
        ASSERT_EQ(nodes.x(i), m.x);
        ASSERT_EQ(nodes.y(i), m.y);
        ASSERT_EQ(nodes.end_count(i), m.end_count);
        ASSERT_EQ(list_of(nodes, i), m.lines) << "node " << i;
    }
    EXPECT_EQ(List(nodes.lines_with_repeats().begin(), nodes.lines_with_repeats().end()),
              model.lines_with_repeats);
}

DigiBuilder random_lines(std::mt19937& rng, int line_total, int spread) {
    std::uniform_int_distribution<int> coordinate(-spread, spread);
    std::uniform_int_distribution<int> length(0, 4);
    DigiBuilder b;
    for (int k = 0; k < line_total; ++k) {
        std::vector<digi::Vertex> vertices(static_cast<std::size_t>(length(rng)));
        for (auto& v : vertices) {
            v = {coordinate(rng), coordinate(rng), coordinate(rng)};
        }
        b.line("L", vertices);
    }
    return b;
}

TEST(CreamosNodos, SameNumbersAndListsAsScanningEveryNode) {
    // On one thread, and on two that number the halves of the table apart and merge.
    std::mt19937 rng(20240611);
    for (int round = 0; round < 200; ++round) {
        const int spread = 1 + round % 7; // small areas: many shared and closed ends
        const auto tables = load(random_lines(rng, 1 + round % 60, spread));
        const ModelNodes model(tables);
        for (const NodeThreads threads : {NodeThreads::one, NodeThreads::two}) {
            SCOPED_TRACE(threads == NodeThreads::one ? "one thread" : "two threads");
            const NodeTable nodes = CreamosNodos(tables, {}, threads);
            expect_same(nodes, model);
            EXPECT_EQ(nodes.two_ended_count(),
                      std::count_if(model.nodes.begin(), model.nodes.end(),
                                    [](const ModelNodes::Node& n) { return n.end_count == 2; }));
        }
    }
}

void expect_same_tables(const NodeTable& got, const NodeTable& one) {
    ASSERT_EQ(got.node_count(), one.node_count());
    for (std::int32_t i = 0; i < one.node_count(); ++i) {
        ASSERT_EQ(got.x(i), one.x(i)) << "node " << i;
        ASSERT_EQ(got.y(i), one.y(i)) << "node " << i;
        ASSERT_EQ(list_of(got, i), list_of(one, i)) << "node " << i;
    }
    ASSERT_EQ(got.line_count(), one.line_count());
    for (std::int32_t k = 0; k < one.line_count(); ++k) {
        ASSERT_EQ(got.nodes_of(k), one.nodes_of(k)) << "line " << k;
    }
    ASSERT_TRUE(std::ranges::equal(got.lines_with_repeats(), one.lines_with_repeats()));
}

std::vector<std::byte> generated_sheet(std::int64_t lines) {
    digi::MemorySink generated;
    testing::LargeSheetOptions options;
    options.lines = lines;
    options.shuffle_chain_percent = 60;
    (void)testing::write_large_sheet(11, options, generated);
    return generated.bytes();
}

TEST(CreamosNodos, TwoThreadsNumberLargeSheetsAsOneDoes) {
    // Sheets large enough for two threads of their own: a generated one, its chains mostly
    // within one half, and random lines over a small area, whose places are met in both.
    const std::vector<std::byte> generated = generated_sheet(150'000);
    std::mt19937 rng(20261207);
    const std::vector<std::byte> dense = random_lines(rng, 120'000, 300).bytes();
    for (const auto* bytes : {&generated, &dense}) {
        const auto tables = digi::load_elements(*bytes, "grande.bin");
        expect_same_tables(CreamosNodos(tables, {}, NodeThreads::two),
                           CreamosNodos(tables, {}, NodeThreads::one));
    }
}

TEST(CreamosNodos, PlacesNumberedWhileReadingGiveTheSameTable) {
    // The early thread numbers what the read has found so far, then the lines up to a split
    // chosen when the read ends; this thread numbers the rest. The table must not depend on
    // how far it got: random sheets of short lines also run it out of room (its index is
    // sized for lines of usual length) and make the read move the records part-way.
    std::mt19937 rng(20261208);
    // Whatever the timing, a sheet whose records stay put and which has room for some lines
    // is shared out; how many sheets move depends only on their bytes.
    int shared = 0;
    int moved = 0;
    for (int round = 0; round < 50; ++round) {
        const int line_total = round < 40 ? 1 + round * 40 : 30'000 + round * 1000;
        const std::vector<std::byte> bytes =
            round == 49 ? generated_sheet(100'000)
                        : random_lines(rng, line_total, 2 + round % 9 * 40).bytes();
        EarlyPlaces early(round == 49 ? std::size_t{1} << 16 : 0);
        const auto tables = digi::load_elements(digi::FileBytes(bytes), "h.bin", {}, &early);
        const NodeTable one = CreamosNodos(tables, {}, NodeThreads::one);
        SCOPED_TRACE("round " + std::to_string(round));
        expect_same_tables(CreamosNodos(tables, {}, early), one);
        const std::size_t early_lines = early.lines_numbered();
        EXPECT_LE(early_lines, tables.lines.size());
        shared += early_lines > 0 && early_lines < tables.lines.size() ? 1 : 0;
        moved += tables.lines.size() > bytes.size() / 72 ? 1 : 0;
    }
    EXPECT_GE(shared, 25);
    EXPECT_GE(moved, 15);
}

TEST(CambiamosReferencias, RenamesBothLinesAndLeavesDissolvedNodeAlone) {
    DigiBuilder b;
    b.line("A", {{0, 0, 0}, {10, 0, 0}});
    b.line("B", {{10, 0, 0}, {20, 0, 0}});
    b.line("C", {{0, 0, 0}, {0, 10, 0}});
    NodeTable nodes = CreamosNodos(load(b));
    expect_nodes(nodes, {{0, 0, {0, 2}}, {10, 0, {0, 1}}, {20, 0, {1}}, {0, 10, {2}}});
    nodes.dissolve(1);
    CambiamosReferencias(nodes, 0, 1, 3);
    EXPECT_EQ(list_of(nodes, 0), (List{3, 2}));
    EXPECT_EQ(list_of(nodes, 1), (List{0, 1}));
    EXPECT_EQ(nodes.end_count(1), -1);
    EXPECT_EQ(list_of(nodes, 2), (List{3}));
    EXPECT_EQ(list_of(nodes, 3), (List{2}));
    EXPECT_EQ(nodes.nodes_of(3), (NodeTable::LineNodes{0, 2}));
}

TEST(CambiamosReferencias, BothEntriesOfARingNameTheJoinedLine) {
    DigiBuilder b;
    b.line("A", {{0, 0, 0}, {10, 0, 0}});
    b.line("B", {{10, 0, 0}, {5, 5, 0}, {0, 0, 0}});
    NodeTable nodes = CreamosNodos(load(b));
    nodes.dissolve(1);
    CambiamosReferencias(nodes, 1, 0, 2); // the later line named first
    EXPECT_EQ(list_of(nodes, 0), (List{2, 2}));
    EXPECT_EQ(list_of(nodes, 1), (List{0, 1}));
    EXPECT_EQ(nodes.nodes_of(2), (NodeTable::LineNodes{0, 0}));
}

TEST(CambiamosReferencias, JoinedLineMustBeNumberedNext) {
    DigiBuilder b;
    b.line("A", {{0, 0, 0}, {10, 0, 0}});
    b.line("B", {{10, 0, 0}, {20, 0, 0}});
    NodeTable nodes = CreamosNodos(load(b));
    nodes.dissolve(1);
    EXPECT_THROW(CambiamosReferencias(nodes, 0, 1, 7), std::logic_error);
}

TEST(CambiamosReferencias, SameResultAsScanningEveryNode) {
    std::mt19937 rng(77);
    for (int round = 0; round < 200; ++round) {
        const auto tables = load(random_lines(rng, 2 + round % 80, 2 + round % 5));
        NodeTable nodes = CreamosNodos(tables);
        ModelNodes model(tables);
        // Joins at random nodes of two different lines, as the node loop makes them.
        for (int attempt = 0; attempt < 200; ++attempt) {
            if (nodes.node_count() == 0) {
                break;
            }
            std::uniform_int_distribution<std::int32_t> pick(0, nodes.node_count() - 1);
            const std::int32_t i = pick(rng);
            if (nodes.end_count(i) != 2 || list_of(nodes, i)[0] == list_of(nodes, i)[1]) {
                continue;
            }
            const List lines = list_of(nodes, i);
            nodes.dissolve(i);
            model.nodes[static_cast<std::size_t>(i)].end_count = -1;
            const std::int32_t nuevo = nodes.line_count();
            CambiamosReferencias(nodes, lines[0], lines[1], nuevo);
            model.rename(lines[0], lines[1], nuevo);
            expect_same(nodes, model);
        }
    }
}

} // namespace
} // namespace tarvel::analysis
