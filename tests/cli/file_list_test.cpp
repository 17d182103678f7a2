#include "cli/file_list.hpp"

#include <gtest/gtest.h>

namespace tarvel::cli {
namespace {

using Names = std::vector<std::filesystem::path>;

TEST(FileList, NamesInOrderWithoutEmptyOnesOrCarriageReturns) {
    using namespace std::string_literals;
    struct Case {
        std::string text;
        char separator;
        Names names;
    };
    const Case cases[] = {
        {"", '\n', {}},
        {"\n\n", '\n', {}},
        {"b.bin\na.bin", '\n', {"b.bin", "a.bin"}},
        {"b.bin\r\n\r\ncarpeta/\r\n", '\n', {"b.bin", "carpeta/"}},
        {"con espacio .bin\n", '\n', {"con espacio .bin"}},
        // With 0 bytes a name may hold a line end, and a carriage return is its own.
        {"a\nb.bin\0c.bin\r\0\0"s, '\0', {"a\nb.bin", "c.bin\r"}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(names_in(c.text, c.separator), c.names) << c.text;
    }
}

} // namespace
} // namespace tarvel::cli
