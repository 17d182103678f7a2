#include "run/output_names.hpp"

#include <gtest/gtest.h>

namespace tarvel::run {
namespace {

TEST(OutputNames, PieceGoesBeforeTheFirstDotOfTheFileName) {
    EXPECT_EQ(derived_output_name("hoja12.bin"), "hoja12_sal.bin");
    EXPECT_EQ(derived_error_name("hoja12.bin"), "hoja12_err.bin");
    EXPECT_EQ(derived_output_name("/mapas/hoja12.bin"), "/mapas/hoja12_sal.bin");
    EXPECT_EQ(derived_output_name("hoja.v2.bin"), "hoja_sal.v2.bin");
    EXPECT_EQ(derived_error_name("hoja.v2.bin"), "hoja_err.v2.bin");
}

TEST(OutputNames, DotsInFolderNamesAreNotUsed) {
    EXPECT_EQ(derived_output_name("/mapa.final/hoja.bin"), "/mapa.final/hoja_sal.bin");
    EXPECT_EQ(derived_error_name("mapa.final/sub.dir/hoja"), "mapa.final/sub.dir/hoja_err");
}

TEST(OutputNames, NameWithoutDotGetsThePieceAppended) {
    EXPECT_EQ(derived_output_name("/mapas/hoja12"), "/mapas/hoja12_sal");
    EXPECT_EQ(derived_error_name("hoja12"), "hoja12_err");
}

TEST(OutputNames, EverythingAfterTheDotIsKeptHoweverLong) {
    const std::string tail(300, 'x');
    EXPECT_EQ(derived_output_name("a." + tail).string(), "a_sal." + tail);
    EXPECT_EQ(derived_output_name(".bin"), "_sal.bin");
    EXPECT_EQ(derived_output_name("HOJA.BIN"), "HOJA_sal.BIN");
}

} // namespace
} // namespace tarvel::run
