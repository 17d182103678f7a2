#include "run/file_identity.hpp"

#include <gtest/gtest.h>

#include "tests/run/temp_folder.hpp"
#include "tests/support/digi_builder.hpp"

namespace tarvel::run {
namespace {

using testing::TempFolder;
using testing::write_bytes;

TEST(SameFile, EverySpellingAndLinkOfAFileAndNoOtherName) {
    TempFolder folder;
    const std::filesystem::path root = folder.path();
    std::filesystem::create_directory(root / "real");
    std::filesystem::create_directory_symlink(root / "real", root / "link");
    write_bytes((root / "real/hoja.bin").string(), {});
    write_bytes((root / "real/otra.bin").string(), {});
    std::filesystem::create_hard_link(root / "real/hoja.bin", root / "duro.bin");
    std::filesystem::create_symlink(root / "real/hoja.bin", root / "blando.bin");
    std::filesystem::create_symlink(root / "real/nada.bin", root / "colgante.bin");

    struct Case {
        const char* a;
        const char* b;
        bool same;
    };
    for (const Case& c : std::initializer_list<Case>{
             // Both exist.
             {"real/hoja.bin", "real/hoja.bin", true},
             {"real/hoja.bin", "link/hoja.bin", true},
             {"real/hoja.bin", "real/../real/./hoja.bin", true},
             {"real/hoja.bin", "duro.bin", true},
             {"real/hoja.bin", "blando.bin", true},
             {"real/hoja.bin", "real/otra.bin", false},
             // One of them leads to no file.
             {"real/hoja.bin", "real/hoja_sal.bin", false},
             {"real/nada.bin", "link/hoja.bin", false},
             {"colgante.bin", "real/hoja.bin", false},
             // Neither leads to a file: their names, as far as the folders go, decide.
             {"real/hoja_sal.bin", "real/hoja_err.bin", false},
             {"real/hoja_sal.bin", "real/hoja_sal.bin", true},
             {"real/hoja_sal.bin", "link/hoja_sal.bin", true},
             {"real/hoja_sal.bin", "real/./hoja_sal.bin", true},
             {"real/sub/../hoja_sal.bin", "real/hoja_sal.bin", true},
             {"real/hoja_sal.bin", "link/hoja_err.bin", false},
             {"real/x/..", "real/y/..", true},
             {"real/sub/.", "real/sub/", true},
             {"colgante.bin", "real/nada.bin", false},
         }) {
        EXPECT_EQ(same_file(root / c.a, root / c.b), c.same) << c.a << " | " << c.b;
        EXPECT_EQ(same_file(root / c.b, root / c.a), c.same) << c.b << " | " << c.a;
    }
}

} // namespace
} // namespace tarvel::run
