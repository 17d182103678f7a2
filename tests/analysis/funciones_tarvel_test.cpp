#include "analysis/funciones_tarvel.hpp"

#include <gtest/gtest.h>

namespace tarvel::analysis {
namespace {

using namespace std::string_literals;

std::string cleaned(std::string code) {
    LimpiamosCodigo(code);
    return code;
}

TEST(LimpiamosCodigo, CutsAtFirstNulAndTrimsOnlySpaces) {
    EXPECT_EQ(cleaned("AB12   "), "AB12");
    EXPECT_EQ(cleaned("  AB12 "), "AB12");
    EXPECT_EQ(cleaned("AB\0CD"s), "AB");
    EXPECT_EQ(cleaned("AB \0CD "s), "AB");
    EXPECT_EQ(cleaned("       "), "");
    EXPECT_EQ(cleaned("\0AB12  "s), "");
    EXPECT_EQ(cleaned("AB 12"), "AB 12");
    EXPECT_EQ(cleaned("\tAB12\t"), "\tAB12\t");
}

TEST(RellenamosCodigo, TrimsAndFillsWithZeroBytesToSeven) {
    std::string code = "ERROR";
    RellenamosCodigo(code);
    EXPECT_EQ(code, "ERROR\0\0"s);
    code = "  AB  ";
    RellenamosCodigo(code);
    EXPECT_EQ(code, "AB\0\0\0\0\0"s);
    code = " ABCDEFGH ";
    RellenamosCodigo(code);
    EXPECT_EQ(code, "ABCDEFGH");
    code = "";
    RellenamosCodigo(code);
    EXPECT_EQ(code, std::string(7, '\0'));
}

TEST(CodigoConSentido, ComparesTheCleanedCodeExactly) {
    CodesWithDirection codes({"AB12", "RIO", "X Y"});
    std::string code = "AB12\0\0\0"s;
    EXPECT_TRUE(codes.CodigoConSentido(code));
    EXPECT_EQ(code, "AB12"); // cleaned in place
    EXPECT_TRUE(codes.ConSentido());
    code = "ab12   ";
    EXPECT_FALSE(codes.CodigoConSentido(code));
    EXPECT_FALSE(codes.ConSentido());
    code = "AB 12  ";
    EXPECT_FALSE(codes.CodigoConSentido(code));
    code = "  X Y  ";
    EXPECT_TRUE(codes.CodigoConSentido(code));
    code = "RIO\0X  "s;
    EXPECT_TRUE(codes.CodigoConSentido(code));
}

TEST(CodigoConSentido, BlankCodeMatchesOnlyAnEmptyEntry) {
    std::string code = "       ";
    CodesWithDirection without({"AB12"});
    EXPECT_FALSE(without.CodigoConSentido(code));
    code = "\0ZZ    "s;
    CodesWithDirection with({"AB12", ""});
    EXPECT_TRUE(with.CodigoConSentido(code));
}

TEST(SiguenSentido, TrueOnlyForCodesWithDirectionRunningHeadToTail) {
    CodesWithDirection codes({"RIO"});
    struct Case {
        digi::Vertex first_start, first_end, second_start, second_end;
        bool head_to_tail;
    };
    const Case cases[] = {
        {{0, 0, 0}, {10, 0, 0}, {10, 0, 0}, {20, 0, 0}, true},  // first runs into second
        {{10, 0, 0}, {0, 0, 0}, {20, 0, 0}, {10, 0, 0}, true},  // second runs into first
        {{0, 0, 0}, {10, 0, 0}, {20, 0, 0}, {10, 0, 0}, false}, // both end at the node
        {{10, 0, 0}, {0, 0, 0}, {10, 0, 0}, {20, 0, 0}, false}, // both start at the node
        {{0, 0, 1}, {10, 0, 2}, {10, 0, 9}, {20, 0, 0}, true},  // Z is not compared
    };
    for (const Case& c : cases) {
        std::string code = "RIO    ";
        EXPECT_EQ(
            codes.SiguenSentido(code, c.first_start, c.first_end, c.second_start, c.second_end),
            c.head_to_tail);
        EXPECT_TRUE(codes.ConSentido());
    }
}

TEST(SiguenSentido, CodeWithoutDirectionIsFalseAndClearsConSentido) {
    CodesWithDirection codes({"RIO"});
    std::string code = "RIO";
    EXPECT_FALSE(codes.SiguenSentido(code, {10, 0, 0}, {0, 0, 0}, {10, 0, 0}, {20, 0, 0}));
    EXPECT_TRUE(codes.ConSentido());
    code = "CAMINO ";
    EXPECT_FALSE(codes.SiguenSentido(code, {0, 0, 0}, {10, 0, 0}, {10, 0, 0}, {20, 0, 0}));
    EXPECT_FALSE(codes.ConSentido());
    EXPECT_EQ(code, "CAMINO");
}

TEST(AnotamosError, AppendsPointsInCallOrder) {
    std::vector<digi::Vertex> points;
    AnotamosError(points, {1, 2, 3});
    AnotamosError(points, {-4, 5, -6});
    AnotamosError(points, {1, 2, 3});
    EXPECT_EQ(points, (std::vector<digi::Vertex>{{1, 2, 3}, {-4, 5, -6}, {1, 2, 3}}));
}

} // namespace
} // namespace tarvel::analysis
