// libFuzzer target: the whole job on a sheet in memory, with and without codes, against the model.
#include <cstddef>
#include <cstdint>

#include "tests/fuzz/fuzz_checks.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    tarvel::fuzz::run_or_abort(&tarvel::fuzz::check_run, data, size);
    return 0;
}
