#include "run/codes_file.hpp"

#include <random>

#include <gtest/gtest.h>

#include "common/errors.hpp"
#include "tests/run/temp_folder.hpp"
#include "tests/support/digi_builder.hpp"

namespace tarvel::run {
namespace {

using Codes = std::vector<std::string>;

TEST(CodesFile, FirstFieldOfEveryPairIsACode) {
    EXPECT_EQ(parse_codes("A1,1\nB2,0\n"), (Codes{"A1", "B2"}));
    EXPECT_EQ(parse_codes("A1,1\nB2,0"), (Codes{"A1", "B2"}));
}

TEST(CodesFile, PairsRunAcrossLines) {
    // One field per line: the lines pair up two by two.
    EXPECT_EQ(parse_codes("A1\n1\nB2\n0\n"), (Codes{"A1", "B2"}));
    EXPECT_EQ(parse_codes("A1,1,B2\n0\nC3,9\n"), (Codes{"A1", "B2", "C3"}));
}

TEST(CodesFile, QuotedFieldKeepsCommasAndDropsWhatFollowsTheClosingQuote) {
    EXPECT_EQ(parse_codes("\"RIO,01\",1\n"), (Codes{"RIO,01"}));
    EXPECT_EQ(parse_codes("\"RIO\"basura,1\nB2,0\n"), (Codes{"RIO", "B2"}));
    EXPECT_EQ(parse_codes("A1,\"x,y\"\"z\"\nB2,0\n"), (Codes{"A1", "B2"}));
    EXPECT_EQ(parse_codes("\" RIO \",1\n"), (Codes{"RIO"}));
    // A quoted field runs to its closing quote over line ends; the pairs after it keep
    // their places.
    EXPECT_EQ(parse_codes("\"A1\nB2\",1\nC3,0\n"), (Codes{"A1\nB2", "C3"}));
    EXPECT_EQ(parse_codes("\"A1\r\n\",1\nC3,0\n"), (Codes{"A1\r\n", "C3"}));
    EXPECT_EQ(parse_codes("A1,\"x\ny\"\nB2,0\n"), (Codes{"A1", "B2"}));
    // A quote that nothing closes ends with its line, so the next line is still read.
    EXPECT_EQ(parse_codes("\"RIO,1\nB2\nC3,0\n"), (Codes{"RIO,1", "C3"}));
}

TEST(CodesFile, CrLfLineEndsAreLineEnds) {
    EXPECT_EQ(parse_codes("A1,1\r\nB2,0\r\n"), (Codes{"A1", "B2"}));
    EXPECT_EQ(parse_codes("A1\r\n1\r\nB2\r\n0"), (Codes{"A1", "B2"}));
    EXPECT_EQ(parse_codes("\"A1\"\r\n1\r\n"), (Codes{"A1"}));
}

TEST(CodesFile, BlanksBeforeAFieldAreSkippedAndCodesTrimmed) {
    EXPECT_EQ(parse_codes("  \tA1 ,1\n\t B2\t, 0\n"), (Codes{"A1", "B2\t"}));
    EXPECT_EQ(parse_codes("   A 1   ,1\n"), (Codes{"A 1"}));
}

TEST(CodesFile, BlankLinesAreSkipped) {
    EXPECT_EQ(parse_codes("\nA1,1\n\n   \n\t\r\nB2,0\n\n"), (Codes{"A1", "B2"}));
    EXPECT_EQ(parse_codes("A1\n\n1\n \nB2\n0\n"), (Codes{"A1", "B2"}));
}

TEST(CodesFile, CommaAlwaysAnnouncesAField) {
    // The empty field after a trailing comma takes its place in the pairing.
    EXPECT_EQ(parse_codes("A1,\nB2,0\n"), (Codes{"A1", "B2"}));
    EXPECT_EQ(parse_codes(",1\nB2,0\n"), (Codes{"", "B2"}));
    EXPECT_EQ(parse_codes("A1,1,\nB2,0\n"), (Codes{"A1", "", "0"}));
    EXPECT_EQ(parse_codes("A1,1,"), (Codes{"A1", ""}));
}

TEST(CodesFile, EmptyContentGivesNoCodes) {
    EXPECT_TRUE(parse_codes("").empty());
    EXPECT_TRUE(parse_codes("\n\r\n  \n").empty());
}

TEST(CodesFile, ContentEndingAfterTheFirstFieldOfAPairKeepsThatCode) {
    EXPECT_EQ(parse_codes("A1,1\nB2"), (Codes{"A1", "B2"}));
    EXPECT_EQ(parse_codes("A1,1\nB2\n"), (Codes{"A1", "B2"}));
    EXPECT_EQ(parse_codes("\"B2"), (Codes{"B2"}));
}

TEST(CodesFile, ByteOrderMarkAtTheStartIsDropped) {
    EXPECT_EQ(parse_codes("\xEF\xBB\xBF"
                          "A1,1\nB2,0\n"),
              (Codes{"A1", "B2"}));
}

TEST(CodesFile, ReadsAFileOnDisk) {
    testing::TempFolder folder;
    const auto path = folder / "codigos.CFG";
    testing::write_bytes(path.string(), testing::bytes_of("RIO0001,1\r\n\"CAN,AL\",0\r\n"));
    EXPECT_EQ(read_codes_file(path), (Codes{"RIO0001", "CAN,AL"}));

    const auto empty = folder / "vacio.CFG";
    testing::write_bytes(empty.string(), {});
    EXPECT_TRUE(read_codes_file(empty).empty());
}

TEST(CodesFile, MissingFileIsACodesFileErrorNamingIt) {
    testing::TempFolder folder;
    const auto path = folder / "no_existe.CFG";
    try {
        (void)read_codes_file(path);
        FAIL() << "no error";
    } catch (const CodesFileError& e) {
        EXPECT_EQ(std::string(e.what()).rfind(path.string() + ": ", 0), 0u) << e.what();
    }
    EXPECT_THROW((void)read_codes_file(folder.path()), CodesFileError);
}

TEST(CodesFile, WrittenInAnyLayoutTheCodesComeBack) {
    // Codes written one pair per line, quoted or not, with blanks before the fields, LF or
    // CRLF line ends and blank lines between, read back as they were written.
    std::mt19937 random(20240611);
    const std::string alphabet = "ABCRIOcan 0123456789_-.";
    for (int round = 0; round < 300; ++round) {
        Codes written;
        std::string content;
        const int pairs = static_cast<int>(random() % 8);
        for (int p = 0; p < pairs; ++p) {
            std::string code;
            const int length = 1 + static_cast<int>(random() % 7);
            for (int c = 0; c < length; ++c) {
                code += alphabet[random() % alphabet.size()];
            }
            const bool quoted = random() % 2 == 0;
            const std::string blanks[] = {"", " ", "\t", " \t  "};
            content += blanks[random() % 4];
            content += quoted ? "\"" + code + "\"" : code;
            content += "," + blanks[random() % 4] + std::to_string(random() % 100);
            content += random() % 2 == 0 ? "\n" : "\r\n";
            if (random() % 4 == 0) {
                content += blanks[random() % 4] + "\n";
            }
            const std::size_t first = code.find_first_not_of(' ');
            written.push_back(first == std::string::npos
                                  ? std::string()
                                  : code.substr(first, code.find_last_not_of(' ') - first + 1));
        }
        EXPECT_EQ(parse_codes(content), written) << content;
    }
}

TEST(CodesFile, AnyBytesParseWithoutFault) {
    std::mt19937 random(7);
    const std::string pieces[] = {
        ",", "\"", "\r", "\n", " ", "\t", "A", "\xEF\xBB\xBF", std::string(1, '\0')};
    for (int round = 0; round < 2000; ++round) {
        std::string content;
        const int length = static_cast<int>(random() % 24);
        for (int i = 0; i < length; ++i) {
            content += pieces[random() % std::size(pieces)];
        }
        const Codes codes = parse_codes(content);
        EXPECT_LE(codes.size(), content.size());
    }
}

} // namespace
} // namespace tarvel::run
