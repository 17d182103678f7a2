#include "cli/file_list.hpp"

#include <fstream>
#include <sstream>

#include <gtest/gtest.h>

#include "common/errors.hpp"
#include "tests/run/temp_folder.hpp"

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

TEST(FileList, StandardInputOrAFileAndAListThatCannotBeReadIsAFileErrorNamingIt) {
    std::istringstream in("x.bin\ny.bin\n");
    EXPECT_EQ(read_file_list("-", in, false), (Names{"x.bin", "y.bin"}));
    testing::TempFolder folder;
    {
        std::ofstream list(folder / "l.txt", std::ios::binary);
        list << std::string("p.bin\0q.bin", 11);
    }
    std::istringstream unused;
    EXPECT_EQ(read_file_list(folder / "l.txt", unused, true), (Names{"p.bin", "q.bin"}));
    for (const std::filesystem::path& list : {folder / "no_existe", folder.path()}) {
        try {
            (void)read_file_list(list, unused, false);
            ADD_FAILURE() << list;
        } catch (const FileError& e) {
            EXPECT_EQ(std::string(e.what()).rfind(list.string() + ": no se puede ", 0), 0u)
                << e.what();
        }
    }
}

} // namespace
} // namespace tarvel::cli
